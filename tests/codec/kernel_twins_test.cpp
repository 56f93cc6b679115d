// Processor-specific kernels against their portable twins on the same blocks: blocks and MCUs
// recorded while decoding the corpus, realistic coefficient blocks, uniformly random ones and the
// extremes a hostile stream can produce. Every member of the kernel set this run chose (see
// tests/CMakeLists.txt: portable, sse2, native) that differs from the portable set is a twin.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "codec/dispatch.h"
#include "codec/jpeg.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/quantize.h"
#include "tests/codec/codec_test_support.h"
#include "tests/codec/encode_support.h"
#include "tests/codec/kernel_twins_support.h"

namespace {

using twins::kernelSetUnderTest;
using twins::twinsOf;

using Block = std::array<int16_t, 64>;
using BlockKernel = void (*)(int16_t*);
using QuantizeKernelFn = void (*)(int16_t*, const int16_t*);

using RowsKernel = void (*)(int16_t*, uint8_t*, ptrdiff_t);

// An in-place transform pair, or (the row kernels set) a pair writing the samples into rows.
struct BlockTwin {
  std::string name;
  const char* member;  // the in-place transform, whose recorded corpus blocks serve both
  BlockKernel portable;
  BlockKernel twin;
  RowsKernel portableRows = nullptr;
  RowsKernel twinRows = nullptr;
};

constexpr std::pair<const char*, BlockKernel KernelTable::*> kInverseDctMembers[] = {
    {"idct0Full", &KernelTable::idct0Full},       {"idct0Half", &KernelTable::idct0Half},
    {"idct0Quarter", &KernelTable::idct0Quarter}, {"idct0Eighth", &KernelTable::idct0Eighth},
    {"idct1Full", &KernelTable::idct1Full},       {"idct1Half", &KernelTable::idct1Half},
    {"idct1Quarter", &KernelTable::idct1Quarter}, {"idct1Eighth", &KernelTable::idct1Eighth},
};

struct RowsMember {
  const char* name;
  const char* transform;
  RowsKernel KernelTable::*member;
};

constexpr RowsMember kInverseDctIntoRowsMembers[] = {
    {"idct0FullToRows", "idct0Full", &KernelTable::idct0FullToRows},
    {"idct1FullToRows", "idct1Full", &KernelTable::idct1FullToRows},
};

std::vector<BlockTwin> blockTwins() {
  std::vector<BlockTwin> found;
  for (const auto& [name, member] : kInverseDctMembers) {
    if (const auto kernels = twins::twinAt(member))
      found.push_back({twins::twinName(name), name, kernels->first, kernels->second});
  }
  for (const auto& [name, transform, member] : kInverseDctIntoRowsMembers) {
    if (const auto kernels = twins::twinAt(member))
      found.push_back({twins::twinName(name), transform, nullptr, nullptr, kernels->first, kernels->second});
  }
  return found;
}

// Dequantised coefficients as photos give them: a large DC, AC falling off with frequency, most
// high frequencies zero.
Block realisticBlock(std::mt19937& random) {
  Block block{};
  std::normal_distribution<double> dc(0, 400);
  block[0] = static_cast<int16_t>(std::clamp(dc(random), -1024.0 * 8, 1023.0 * 8));
  for (int i = 1; i < 64; ++i) {
    const int frequency = i / 8 + i % 8;
    if (random() % 8 < static_cast<unsigned>(frequency)) continue;
    std::normal_distribution<double> ac(0, 300.0 / (1 + frequency));
    block[i] = static_cast<int16_t>(ac(random));
  }
  return block;
}

Block uniformBlock(std::mt19937& random, int16_t limit) {
  std::uniform_int_distribution<int> value(-limit - 1, limit);
  Block block{};
  for (int16_t& v : block) v = static_cast<int16_t>(value(random));
  return block;
}

std::vector<Block> extremeBlocks() {
  std::vector<Block> blocks;
  for (const int16_t v : {int16_t{32767}, int16_t{-32768}, int16_t{0}, int16_t{1}, int16_t{-1}}) {
    Block flat;
    flat.fill(v);
    blocks.push_back(flat);
    Block dcOnly{};
    dcOnly[0] = v;
    blocks.push_back(dcOnly);
    Block alternating;
    for (int i = 0; i < 64; ++i) alternating[i] = (i + i / 8) % 2 == 0 ? v : static_cast<int16_t>(-v - 1);
    blocks.push_back(alternating);
  }
  return blocks;
}

// The sparse shapes the twins take shortcuts for: only the first column, only the first row, the
// lower rows or the right columns zero, only the top-left quarter. Values come from `source` and
// the shape keeps its zeros.
struct SparseShape {
  const char* name;
  bool (*keeps)(int row, int column);
};

constexpr SparseShape kSparseShapes[] = {
    {"first column", [](int, int column) { return column == 0; }},
    {"first row", [](int row, int) { return row == 0; }},
    {"upper rows", [](int row, int) { return row < 4; }},
    {"left columns", [](int, int column) { return column < 4; }},
    {"top-left quarter", [](int row, int column) { return row < 4 && column < 4; }},
};

Block sparseBlock(const Block& source, const SparseShape& shape) {
  Block block{};
  for (int i = 0; i < 64; ++i) {
    if (shape.keeps(i / 8, i % 8)) block[i] = source[i];
  }
  return block;
}

// The rows a row-writing transform fills, `kRowsStride` apart, inside a pattern it must leave.
constexpr ptrdiff_t kRowsStride = 11;
using SampleRows = std::array<uint8_t, 8 * kRowsStride + 16>;

SampleRows samplesIntoRows(RowsKernel kernel, Block block) {
  SampleRows rows;
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 37 + 11);
  kernel(block.data(), rows.data() + 8, kRowsStride);
  return rows;
}

void expectTwinsAgree(const BlockTwin& twin, const Block& input, const std::string& what) {
  if (twin.portableRows != nullptr) {
    ASSERT_EQ(samplesIntoRows(twin.twinRows, input), samplesIntoRows(twin.portableRows, input))
        << twin.name << ", " << what;
    return;
  }
  Block expected = input;
  Block actual = input;
  twin.portable(expected.data());
  twin.twin(actual.data());
  ASSERT_EQ(actual, expected) << twin.name << ", " << what;
}

// Inverse transform inputs the corpus gives, by member name (see the corpus section below).
const std::vector<Block>& corpusBlocks(const char* member);

TEST(KernelTwins, BlockKernelsMatchThePortableOnesExactly) {
  const std::vector<BlockTwin> twins = blockTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor-specific block kernels in this build";
  std::mt19937 random(2026);
  for (const BlockTwin& twin : twins) {
    const std::vector<Block>& recorded = corpusBlocks(twin.member);
    for (size_t i = 0; i < recorded.size(); ++i)
      expectTwinsAgree(twin, recorded[i], "corpus block " + std::to_string(i));
    for (int i = 0; i < 20000; ++i)
      expectTwinsAgree(twin, realisticBlock(random), "realistic block " + std::to_string(i));
    for (const int16_t limit : {int16_t{255}, int16_t{2047}, int16_t{32767}}) {
      for (int i = 0; i < 5000; ++i) {
        expectTwinsAgree(twin, uniformBlock(random, limit),
                         "uniform block within " + std::to_string(limit) + " #" + std::to_string(i));
      }
    }
    std::uniform_int_distribution<int> dc(-32768, 32767);
    for (int i = 0; i < 4000; ++i) {
      Block dcOnly{};  // the shortcut some twins take
      dcOnly[0] = static_cast<int16_t>(dc(random));
      expectTwinsAgree(twin, dcOnly, "DC-only block " + std::to_string(dcOnly[0]));
    }
    int index = 0;
    for (const Block& block : extremeBlocks())
      expectTwinsAgree(twin, block, "extreme block " + std::to_string(index++));
  }
}

TEST(KernelTwins, BlockKernelsMatchOnSparseBlocks) {
  const std::vector<BlockTwin> twins = blockTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor-specific block kernels in this build";
  std::mt19937 random(2027);
  // Around the edge of the first-column shortcut's 16-bit range (-4096..4095) and beyond.
  std::uniform_int_distribution<int> edge(-4200, 4200);
  for (const BlockTwin& twin : twins) {
    for (const SparseShape& shape : kSparseShapes) {
      const std::string what = std::string(shape.name) + " only, ";
      for (int i = 0; i < 3000; ++i)
        expectTwinsAgree(twin, sparseBlock(realisticBlock(random), shape),
                         what + "realistic #" + std::to_string(i));
      for (const int16_t limit : {int16_t{255}, int16_t{4095}, int16_t{32767}}) {
        for (int i = 0; i < 2000; ++i) {
          expectTwinsAgree(twin, sparseBlock(uniformBlock(random, limit), shape),
                           what + "within " + std::to_string(limit) + " #" + std::to_string(i));
        }
      }
      for (int i = 0; i < 2000; ++i) {
        Block source;
        for (int16_t& v : source) v = static_cast<int16_t>(edge(random));
        expectTwinsAgree(twin, sparseBlock(source, shape), what + "near 4096 #" + std::to_string(i));
      }
      for (const Block& extreme : extremeBlocks())
        expectTwinsAgree(twin, sparseBlock(extreme, shape), what + "extreme");
    }
  }
}

// Blocks of growing size, for twins that switch to a wider path once the values could leave 16
// bits: every coefficient alone over its whole range, and blocks whose signs line up so that one
// output of each pass grows fastest, from small to far past any such switch.
struct MagnitudeShape {
  const char* name;
  int (*weight)(int row, int column);  // relative size of the coefficient
};

constexpr MagnitudeShape kMagnitudeShapes[] = {
    {"even", [](int, int) { return 1; }},
    {"large DC", [](int row, int column) { return row + column == 0 ? 40 : 1; }},
    {"high frequencies", [](int row, int column) { return row >= 5 && column >= 5 ? 4 : 0; }},
    {"falling", [](int row, int column) { return 8 - std::max(row, column); }},
};

// The sign of input k's share in output `output` of an 8-point inverse transform.
int outputSign(int output, int k) {
  return std::cos((2 * output + 1) * k * std::acos(-1.0) / 16) < 0 ? -1 : 1;
}

Block alignedBlock(const MagnitudeShape& shape, int rowOutput, int columnOutput, int level) {
  Block block{};
  for (int i = 0; i < 64; ++i) {
    const int row = i / 8, column = i % 8;
    const int value =
        outputSign(rowOutput, row) * outputSign(columnOutput, column) * shape.weight(row, column) * level;
    block[i] = static_cast<int16_t>(std::clamp(value, -32768, 32767));
  }
  return block;
}

TEST(KernelTwins, BlockKernelsMatchAcrossMagnitudes) {
  const std::vector<BlockTwin> twins = blockTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor-specific block kernels in this build";
  for (const BlockTwin& twin : twins) {
    for (int i = 0; i < 64; ++i) {
      for (int value = -32768; value <= 32767; value += 37) {
        Block block{};
        block[i] = static_cast<int16_t>(value);
        expectTwinsAgree(twin, block, "coefficient " + std::to_string(i) + " = " + std::to_string(value));
      }
    }
    for (const MagnitudeShape& shape : kMagnitudeShapes) {
      for (int output = 0; output < 64; ++output) {
        for (int level = 1; level <= 1200; level += 3) {
          expectTwinsAgree(twin, alignedBlock(shape, output / 8, output % 8, level),
                           std::string(shape.name) + " towards output " + std::to_string(output) +
                               ", level " + std::to_string(level));
        }
      }
    }
  }
}

// --- whole-MCU colour conversion ------------------------------------------------------------

using McuKernel = void (*)(const int16_t* const*, uint8_t*, ptrdiff_t);

struct McuTwin {
  std::string name;
  const char* member;
  McuKernel portable;
  McuKernel twin;
  int lumaBlocks;
  int width;
  int height;
  int bytesPerPixel;
  int components;  // 4: YCCK, whose fourth component has luma's layout
};

// Each MCU kernel with its layout.
struct McuShape {
  const char* name;
  McuKernel KernelTable::*member;
  int lumaBlocks;
  int width;
  int height;
  int bytesPerPixel;
  int components;
};

constexpr McuShape kMcuShapes[] = {
    {"convertH1V1ToRgb", &KernelTable::convertH1V1ToRgb, 1, 8, 8, 3, 3},
    {"convertH2V1ToRgb", &KernelTable::convertH2V1ToRgb, 2, 16, 8, 3, 3},
    {"convertH2V2ToRgb", &KernelTable::convertH2V2ToRgb, 4, 16, 16, 3, 3},
    {"convertH1V1ToBgr", &KernelTable::convertH1V1ToBgr, 1, 8, 8, 3, 3},
    {"convertH2V1ToBgr", &KernelTable::convertH2V1ToBgr, 2, 16, 8, 3, 3},
    {"convertH2V2ToBgr", &KernelTable::convertH2V2ToBgr, 4, 16, 16, 3, 3},
    {"convertH1V1ToRgbx", &KernelTable::convertH1V1ToRgbx, 1, 8, 8, 4, 3},
    {"convertH2V1ToRgbx", &KernelTable::convertH2V1ToRgbx, 2, 16, 8, 4, 3},
    {"convertH2V2ToRgbx", &KernelTable::convertH2V2ToRgbx, 4, 16, 16, 4, 3},
    {"convertH1V1YcckToCmyk", &KernelTable::convertH1V1YcckToCmyk, 1, 8, 8, 4, 4},
    {"convertH2V1YcckToCmyk", &KernelTable::convertH2V1YcckToCmyk, 2, 16, 8, 4, 4},
    {"convertH2V2YcckToCmyk", &KernelTable::convertH2V2YcckToCmyk, 4, 16, 16, 4, 4},
    {"copyGrayTo3", &KernelTable::copyGrayTo3, 1, 8, 8, 3, 1},
};

std::vector<McuTwin> mcuTwins() {
  std::vector<McuTwin> twins;
  for (const McuShape& shape : kMcuShapes) {
    if (const auto kernels = twins::twinAt(shape.member))
      twins.push_back({twins::twinName(shape.name), shape.name, kernels->first, kernels->second,
                       shape.lumaBlocks, shape.width, shape.height, shape.bytesPerPixel, shape.components});
  }
  return twins;
}

// One MCU's samples: its luma blocks one after the other, one Cb and one Cr block, and as many
// fourth-component blocks as luma ones (read by the YCCK kernels only).
struct McuSamples {
  std::vector<int16_t> luma;
  Block cb{};
  Block cr{};
  std::vector<int16_t> fourth;
};

McuSamples uniformMcu(std::mt19937& random, int lumaBlocks, int low, int high) {
  std::uniform_int_distribution<int> value(low, high);
  McuSamples s;
  s.luma.resize(64 * static_cast<size_t>(lumaBlocks));
  for (int16_t& v : s.luma) v = static_cast<int16_t>(value(random));
  for (int16_t& v : s.cb) v = static_cast<int16_t>(value(random));
  for (int16_t& v : s.cr) v = static_cast<int16_t>(value(random));
  s.fourth.resize(s.luma.size());
  for (int16_t& v : s.fourth) v = static_cast<int16_t>(value(random));
  return s;
}

McuSamples flatMcu(int lumaBlocks, int16_t luma, int16_t cb, int16_t cr) {
  McuSamples s;
  s.luma.assign(64 * static_cast<size_t>(lumaBlocks), luma);
  s.cb.fill(cb);
  s.cr.fill(cr);
  s.fourth.assign(s.luma.size(), luma);
  return s;
}

// MCU inputs the corpus gives, by member name (see the corpus section below).
const std::vector<McuSamples>& corpusMcus(const char* member);

// Where the MCU lands: padding after each row, bottom-up rows (negative stride) and the distance
// of its first byte from an aligned address.
struct Placement {
  const char* name;
  int rowPadding;
  bool bottomUp;
  int misalignment;
};

constexpr Placement kPlacements[] = {
    {"packed rows", 0, false, 0},   {"padded rows", 13, false, 1},         {"wide rows", 64, false, 7},
    {"bottom-up rows", 0, true, 0}, {"bottom-up padded rows", 5, true, 3},
};

constexpr int kGuardBytes = 64;

// A varying fill, so that a misplaced copy of the fill would be noticed as well.
uint8_t fillByte(size_t i) {
  return static_cast<uint8_t>(i * 37 + 11);
}

// The kernel's output buffer with guard bytes around it, pre-filled, and where the MCU's rows lie.
struct McuOutput {
  std::vector<uint8_t> bytes;
  ptrdiff_t top;  // first byte of the top row
  ptrdiff_t span;
  ptrdiff_t rowBytes;
  int rows;

  bool written(size_t i) const {
    const ptrdiff_t offset = static_cast<ptrdiff_t>(i) - top;
    return offset >= 0 && offset / span < rows && offset % span < rowBytes;
  }
};

McuOutput runMcuKernel(McuKernel kernel, const McuTwin& twin, const McuSamples& s, const Placement& p) {
  const ptrdiff_t rowBytes = ptrdiff_t{twin.width} * twin.bytesPerPixel;
  const ptrdiff_t span = rowBytes + p.rowPadding;
  const size_t size = 2 * kGuardBytes + p.misalignment + span * twin.height;
  McuOutput out{std::vector<uint8_t>(size), kGuardBytes + p.misalignment, span, rowBytes, twin.height};
  for (size_t i = 0; i < size; ++i) out.bytes[i] = fillByte(i);
  const ptrdiff_t first = p.bottomUp ? out.top + span * (twin.height - 1) : out.top;
  const int16_t* components[4] = {s.luma.data(), s.cb.data(), s.cr.data(), s.fourth.data()};
  kernel(components, out.bytes.data() + first, p.bottomUp ? -span : span);
  return out;
}

void expectMcuTwinsAgree(const McuTwin& twin, const McuSamples& s, const std::string& what,
                         const Placement& p) {
  const McuOutput expected = runMcuKernel(twin.portable, twin, s, p);
  const McuOutput actual = runMcuKernel(twin.twin, twin, s, p);
  for (size_t i = 0; i < actual.bytes.size(); ++i) {
    if (actual.written(i)) continue;
    ASSERT_EQ(actual.bytes[i], fillByte(i))
        << twin.name << ", " << what << ", " << p.name << ": byte " << i << " outside the MCU changed";
  }
  ASSERT_EQ(actual.bytes, expected.bytes) << twin.name << ", " << what << ", " << p.name;
}

// Cases beyond the random ones take the placements in turn, which keeps the suite quick under
// the sanitizers.
const Placement& placementFor(int caseIndex) {
  return kPlacements[static_cast<size_t>(caseIndex) % std::size(kPlacements)];
}

TEST(KernelTwins, McuConversionKernelsMatchThePortableOnesExactly) {
  const std::vector<McuTwin> twins = mcuTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the MCU conversion kernels in this build";
  std::mt19937 random(2027);
  const std::vector<int16_t> edges = {0, 1, 127, 128, 129, 254, 255};
  for (const McuTwin& twin : twins) {
    int index = 0;
    const std::vector<McuSamples>& recorded = corpusMcus(twin.member);
    for (size_t i = 0; i < recorded.size(); ++i)
      expectMcuTwinsAgree(twin, recorded[i], "corpus MCU " + std::to_string(i), placementFor(index++));
    // Samples as the inverse DCT leaves them, in every placement.
    for (int i = 0; i < 300; ++i) {
      const McuSamples s = uniformMcu(random, twin.lumaBlocks, 0, 255);
      for (const Placement& p : kPlacements)
        expectMcuTwinsAgree(twin, s, "random MCU " + std::to_string(i), p);
    }
    for (const int16_t luma : edges)
      for (const int16_t cb : edges)
        for (const int16_t cr : edges)
          expectMcuTwinsAgree(
              twin, flatMcu(twin.lumaBlocks, luma, cb, cr),
              "flat MCU " + std::to_string(luma) + "/" + std::to_string(cb) + "/" + std::to_string(cr),
              placementFor(index++));
    // Every (Cb, Cr) pair once, 64 per MCU, under random luma.
    for (int first = 0; first < 256 * 256; first += 64) {
      McuSamples s = uniformMcu(random, twin.lumaBlocks, 0, 255);
      for (int i = 0; i < 64; ++i) {
        s.cb[i] = static_cast<int16_t>((first + i) / 256);
        s.cr[i] = static_cast<int16_t>((first + i) % 256);
      }
      expectMcuTwinsAgree(twin, s, "chroma pairs from " + std::to_string(first), placementFor(index++));
    }
    // Other sample values (the portable kernel defines the result for any int16_t): whole MCUs,
    // and one stray sample in each block of an otherwise ordinary MCU.
    for (int i = 0; i < 100; ++i) {
      expectMcuTwinsAgree(twin, uniformMcu(random, twin.lumaBlocks, -32768, 32767),
                          "int16 MCU " + std::to_string(i), placementFor(index++));
      expectMcuTwinsAgree(twin, uniformMcu(random, twin.lumaBlocks, -300, 600),
                          "near MCU " + std::to_string(i), placementFor(index++));
    }
    for (const int16_t stray : {int16_t{-1}, int16_t{256}, int16_t{-32768}, int16_t{32767}, int16_t{1000}}) {
      // Blocks in order: luma, Cb, Cr, then the fourth component's.
      const int blocks = twin.lumaBlocks + 2 + (twin.components == 4 ? twin.lumaBlocks : 0);
      for (int block = 0; block < blocks; ++block) {
        McuSamples s = uniformMcu(random, twin.lumaBlocks, 0, 255);
        const int at = static_cast<int>(random() % 64);
        const int fourthBlock = block - twin.lumaBlocks - 2;
        int16_t* target = block < twin.lumaBlocks        ? s.luma.data() + 64 * block
                          : block == twin.lumaBlocks     ? s.cb.data()
                          : block == twin.lumaBlocks + 1 ? s.cr.data()
                                                         : s.fourth.data() + 64 * fourthBlock;
        target[at] = stray;
        expectMcuTwinsAgree(twin, s,
                            "sample " + std::to_string(stray) + " in block " + std::to_string(block) +
                                " at " + std::to_string(at),
                            placementFor(index++));
      }
    }
    // The fourth component is cut to its low byte: any value, next to ordinary YCbCr.
    for (int i = 0; i < 100; ++i) {
      McuSamples s = uniformMcu(random, twin.lumaBlocks, 0, 255);
      s.fourth = uniformMcu(random, twin.lumaBlocks, -32768, 32767).fourth;
      expectMcuTwinsAgree(twin, s, "fourth component any int16 " + std::to_string(i), placementFor(index++));
    }
  }
}

// --- forward transforms -------------------------------------------------------------------

std::vector<BlockTwin> forwardDctTwins() {
  return twinsOf<BlockTwin, BlockKernel>({{"fdct0", &KernelTable::fdct0}, {"fdct1", &KernelTable::fdct1}});
}

// Level-shifted sample blocks as the converters give them (-128..128), with the extremes that
// drive each coefficient to its largest magnitude: +-128 following the sign of its basis.
std::vector<Block> extremeSampleBlocks() {
  std::vector<Block> blocks;
  for (const int16_t v : {int16_t{128}, int16_t{-128}, int16_t{127}, int16_t{0}, int16_t{1}, int16_t{-1}}) {
    Block flat;
    flat.fill(v);
    blocks.push_back(flat);
    Block checker;
    for (int i = 0; i < 64; ++i) checker[i] = (i + i / 8) % 2 == 0 ? v : static_cast<int16_t>(-v);
    blocks.push_back(checker);
  }
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      for (const int16_t level : {int16_t{128}, int16_t{-128}}) {
        Block b;
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) {
            const double basis = std::cos((2 * y + 1) * u * 3.14159265358979 / 16) *
                                 std::cos((2 * x + 1) * v * 3.14159265358979 / 16);
            b[y * 8 + x] = basis >= 0 ? level : static_cast<int16_t>(-level);
          }
        }
        blocks.push_back(b);
      }
    }
  }
  // Rows or columns at opposite extremes, which widen the column sums most.
  for (int split = 1; split < 8; ++split) {
    Block rows, columns;
    for (int i = 0; i < 64; ++i) {
      rows[i] = i / 8 < split ? int16_t{128} : int16_t{-128};
      columns[i] = i % 8 < split ? int16_t{-128} : int16_t{128};
    }
    blocks.push_back(rows);
    blocks.push_back(columns);
  }
  return blocks;
}

TEST(KernelTwins, ForwardDctsMatchThePortableOnesExactly) {
  const std::vector<BlockTwin> twins = forwardDctTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the forward transforms in this build";
  std::mt19937 random(2028);
  std::uniform_int_distribution<int> sample(-128, 128);
  std::uniform_int_distribution<int> edge(0, 3);
  for (const BlockTwin& twin : twins) {
    const std::vector<Block>& recorded = corpusBlocks(twin.member);
    for (size_t i = 0; i < recorded.size(); ++i)
      expectTwinsAgree(twin, recorded[i], "corpus samples " + std::to_string(i));
    for (int i = 0; i < 20000; ++i) {
      Block b;
      for (int16_t& v : b) v = static_cast<int16_t>(sample(random));
      expectTwinsAgree(twin, b, "random samples " + std::to_string(i));
    }
    // Samples drawn from the two ends of the range only.
    for (int i = 0; i < 5000; ++i) {
      Block b;
      for (int16_t& v : b) {
        const int e = edge(random);
        v = static_cast<int16_t>(e == 0 ? -128 : e == 1 ? -127 : e == 2 ? 127 : 128);
      }
      expectTwinsAgree(twin, b, "edge samples " + std::to_string(i));
    }
    int index = 0;
    for (const Block& b : extremeSampleBlocks())
      expectTwinsAgree(twin, b, "extreme samples " + std::to_string(index++));
    // Any other sample hands the block to the portable kernel: one stray value anywhere.
    for (const int16_t stray :
         {int16_t{129}, int16_t{-129}, int16_t{255}, int16_t{-256}, int16_t{1000}, int16_t{-1000}}) {
      for (int at = 0; at < 64; ++at) {
        Block b;
        for (int16_t& v : b) v = static_cast<int16_t>(sample(random));
        b[at] = stray;
        expectTwinsAgree(twin, b, "stray " + std::to_string(stray) + " at " + std::to_string(at));
      }
    }
  }
}

// --- encoder colour conversion --------------------------------------------------------------

using TileKernel = void (*)(const uint8_t*, ptrdiff_t, int16_t* const*);

struct TileTwin {
  std::string name;
  const char* member;
  TileKernel portable;
  TileKernel twin;
  int width;
  int height;
  int blocks;
};

// Each tile kernel with its tile size and output block count.
struct TileShape {
  const char* name;
  EncodeConvertKernel KernelTable::*member;
  int width;
  int height;
  int blocks;
};

constexpr TileShape kTileShapes[] = {
    {"convertRgbToH1V1", &KernelTable::convertRgbToH1V1, 8, 8, 3},
    {"convertRgbToH2V1", &KernelTable::convertRgbToH2V1, 16, 8, 4},
    {"convertRgbToH2V2", &KernelTable::convertRgbToH2V2, 16, 16, 6},
    {"convertBgrToH1V1", &KernelTable::convertBgrToH1V1, 8, 8, 3},
    {"convertBgrToH2V1", &KernelTable::convertBgrToH2V1, 16, 8, 4},
    {"convertBgrToH2V2", &KernelTable::convertBgrToH2V2, 16, 16, 6},
    {"convertRgbToGray", &KernelTable::convertRgbToGray, 8, 8, 1},
    {"convertBgrToGray", &KernelTable::convertBgrToGray, 8, 8, 1},
};

std::vector<TileTwin> tileTwins() {
  std::vector<TileTwin> twins;
  for (const TileShape& shape : kTileShapes) {
    if (const auto kernels = twins::twinAt(shape.member))
      twins.push_back({twins::twinName(shape.name), shape.name, kernels->first, kernels->second, shape.width,
                       shape.height, shape.blocks});
  }
  return twins;
}

// A tile's pixels, 3 bytes each, row after row.
using TilePixels = std::vector<uint8_t>;

// Where the tile lies in the caller's buffer: padding after each row (the buffer ends right
// after the tile's last pixel, so a read past it is caught under the sanitizers) and rows
// stored bottom-up (negative stride).
struct TilePlacement {
  const char* name;
  int rowPadding;
  bool bottomUp;
  int misalignment;
};

constexpr TilePlacement kTilePlacements[] = {
    {"packed rows", 0, false, 0},   {"padded rows", 13, false, 1},         {"wide rows", 4096, false, 7},
    {"bottom-up rows", 0, true, 0}, {"bottom-up padded rows", 5, true, 3},
};

constexpr int kGuardSamples = 16;
constexpr int16_t kGuard = 0x5A5A;

// Runs a kernel on the tile placed as asked; the result holds each output block with guard
// samples on both sides.
std::vector<int16_t> runTileKernel(TileKernel kernel, const TileTwin& twin, const TilePixels& pixels,
                                   const TilePlacement& p) {
  const ptrdiff_t rowBytes = ptrdiff_t{twin.width} * 3;
  const ptrdiff_t span = rowBytes + p.rowPadding;
  const ptrdiff_t size = p.misalignment + span * (twin.height - 1) + rowBytes;
  std::vector<uint8_t> buffer(static_cast<size_t>(size), 0xEE);
  for (int y = 0; y < twin.height; ++y) {
    const int stored = p.bottomUp ? twin.height - 1 - y : y;
    std::copy_n(pixels.begin() + y * rowBytes, rowBytes, buffer.begin() + p.misalignment + stored * span);
  }
  const ptrdiff_t first = p.misalignment + (p.bottomUp ? span * (twin.height - 1) : 0);
  const size_t blockSpan = 64 + 2 * kGuardSamples;
  std::vector<int16_t> out(blockSpan * static_cast<size_t>(twin.blocks), kGuard);
  int16_t* blocks[10];
  for (int i = 0; i < twin.blocks; ++i) blocks[i] = out.data() + i * blockSpan + kGuardSamples;
  kernel(buffer.data() + first, p.bottomUp ? -span : span, blocks);
  return out;
}

void expectTileTwinsAgree(const TileTwin& twin, const TilePixels& pixels, const std::string& what,
                          const TilePlacement& p) {
  const std::vector<int16_t> expected = runTileKernel(twin.portable, twin, pixels, p);
  const std::vector<int16_t> actual = runTileKernel(twin.twin, twin, pixels, p);
  const size_t blockSpan = 64 + 2 * kGuardSamples;
  for (size_t i = 0; i < actual.size(); ++i) {
    const size_t offset = i % blockSpan;
    if (offset >= kGuardSamples && offset < kGuardSamples + 64) continue;
    ASSERT_EQ(actual[i], kGuard) << twin.name << ", " << what << ", " << p.name << ": guard sample " << i
                                 << " changed";
  }
  ASSERT_EQ(actual, expected) << twin.name << ", " << what << ", " << p.name;
}

TilePixels randomTile(std::mt19937& random, const TileTwin& twin, int low, int high) {
  std::uniform_int_distribution<int> value(low, high);
  TilePixels pixels(static_cast<size_t>(twin.width) * twin.height * 3);
  for (uint8_t& v : pixels) v = static_cast<uint8_t>(value(random));
  return pixels;
}

// --- inputs recorded from the corpus ------------------------------------------------------------
//
// Every corpus file is decoded (both transform variants; RGB, BGR and four-channel output), and the
// source pictures encoded (both variants, three samplings, RGB and BGR, three qualities), with the
// table's transforms, (de)quantisers and colour conversions replaced by recorders, which keep a
// copy of their input and call the portable kernel.

// A block and the table it is (de)quantised with.
struct TabledBlock {
  Block block;
  Block table;
};

struct CorpusInputs {
  std::map<std::string, std::vector<Block>> blocks;
  std::map<std::string, std::vector<TabledBlock>> tabled;
  std::map<std::string, std::vector<McuSamples>> mcus;
  std::map<std::string, std::vector<TilePixels>> tiles;
  std::map<std::string, size_t> fromThisRun;  // reset per decode or encode, so that each contributes
};

constexpr size_t kRecordedPerRun = 48;
constexpr size_t kRecordedPerKernel = 3000;
CorpusInputs* gRecording = nullptr;

bool keepAnother(const char* member, size_t alreadyKept) {
  return alreadyKept < kRecordedPerKernel && gRecording->fromThisRun[member]++ < kRecordedPerRun;
}

constexpr std::pair<const char*, BlockKernel KernelTable::*> kForwardDctMembers[] = {
    {"fdct0", &KernelTable::fdct0},
    {"fdct1", &KernelTable::fdct1},
};

constexpr std::pair<const char*, QuantizeKernelFn KernelTable::*> kTabledMembers[] = {
    {"quantize0", &KernelTable::quantize0},
    {"quantize1", &KernelTable::quantize1},
    {"dequantize0", &KernelTable::dequantize0},
    {"dequantize1", &KernelTable::dequantize1},
};

Block blockAt(const int16_t* values) {
  Block copy;
  std::copy_n(values, 64, copy.begin());
  return copy;
}

template <const auto& kMembers, size_t I>
void recordBlock(int16_t* block) {
  const auto& [name, member] = kMembers[I];
  std::vector<Block>& kept = gRecording->blocks[name];
  if (keepAnother(name, kept.size())) kept.push_back(blockAt(block));
  (twins::portableTable().*member)(block);
}

template <size_t I>
void recordTabled(int16_t* block, const int16_t* table) {
  const auto& [name, member] = kTabledMembers[I];
  std::vector<TabledBlock>& kept = gRecording->tabled[name];
  if (keepAnother(name, kept.size())) kept.push_back({blockAt(block), blockAt(table)});
  (twins::portableTable().*member)(block, table);
}

template <size_t I>
void recordMcu(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const McuShape& shape = kMcuShapes[I];
  std::vector<McuSamples>& kept = gRecording->mcus[shape.name];
  if (keepAnother(shape.name, kept.size())) {
    const size_t luma = 64 * static_cast<size_t>(shape.lumaBlocks);
    McuSamples s;
    s.luma.assign(components[0], components[0] + luma);
    if (shape.components >= 3) {  // a grey MCU has no chroma pointers
      s.cb = blockAt(components[1]);
      s.cr = blockAt(components[2]);
    }
    if (shape.components == 4) {
      s.fourth.assign(components[3], components[3] + luma);
    } else {
      s.fourth.assign(luma, 0);
    }
    kept.push_back(std::move(s));
  }
  (twins::portableTable().*shape.member)(components, dst, stride);
}

template <size_t I>
void recordTile(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  const TileShape& shape = kTileShapes[I];
  std::vector<TilePixels>& kept = gRecording->tiles[shape.name];
  if (keepAnother(shape.name, kept.size())) {
    TilePixels pixels;
    for (int y = 0; y < shape.height; ++y)
      pixels.insert(pixels.end(), src + y * stride, src + y * stride + 3 * shape.width);
    kept.push_back(std::move(pixels));
  }
  (twins::portableTable().*shape.member)(src, stride, blocks);
}

template <size_t kCount, typename Install>
void forEachIndex(Install install) {
  [&]<size_t... I>(std::index_sequence<I...>) {
    (install(std::integral_constant<size_t, I>{}), ...);
  }
  (std::make_index_sequence<kCount>{});
}

void installRecorders(KernelTable& table) {
  forEachIndex<std::size(kInverseDctMembers)>(
      [&](auto i) { table.*kInverseDctMembers[i].second = recordBlock<kInverseDctMembers, i>; });
  forEachIndex<std::size(kForwardDctMembers)>(
      [&](auto i) { table.*kForwardDctMembers[i].second = recordBlock<kForwardDctMembers, i>; });
  forEachIndex<std::size(kTabledMembers)>([&](auto i) { table.*kTabledMembers[i].second = recordTabled<i>; });
  forEachIndex<std::size(kMcuShapes)>([&](auto i) { table.*kMcuShapes[i].member = recordMcu<i>; });
  forEachIndex<std::size(kTileShapes)>([&](auto i) { table.*kTileShapes[i].member = recordTile<i>; });
  // The working slots are copied from the members at each scan or write; the presets too.
  table.quantize = table.quantize0;
  table.dequantize = table.dequantize0;
}

void decodeRecording(std::vector<uint8_t> bytes, int32_t dctVariant, JpegColor color, int channels) {
  gRecording->fromThisRun.clear();
  TestRecord record;
  installRecorders(*record->state.input.kernels);
  record.useBuffer(bytes);
  record->state.dctVariant = dctVariant;
  if (record.read(JpegIoMode::BufferReadParams) != JpegStatus::Ok) return;
  const int width = record->jpegWidth;
  const int height = record->jpegHeight;
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  record->pixelData = pixels.data();
  record->pixelWidth = width;
  record->pixelHeight = height;
  record->pixelPadBytes = 0;
  record->pixelChannels = channels;
  record->pixelColor = color;
  record->pixelSubsampling = 0;
  (void)record.read(JpegIoMode::BufferReadImage);  // damaged files still give their first blocks
}

void encodeRecording(const encode_test::Picture& picture, const encode_test::WriteRequest& request) {
  gRecording->fromThisRun.clear();
  encode_test::Writer writer(picture, request);
  installRecorders(*writer.record().state.input.kernels);
  (void)writer.write();
}

void decodeCorpus() {
  const std::filesystem::path data(MESHWICK_TEST_DATA);
  std::vector<std::filesystem::path> files;
  for (const char* folder : {"jpeg", "jpegsuite"}) {
    if (!std::filesystem::is_directory(data / folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(data / folder))
      if (entry.path().extension() == ".jpg") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const int32_t variant : {0, 1}) {
      decodeRecording(bytes, variant, JpegColor::Rgb, 3);
      decodeRecording(bytes, variant, JpegColor::Bgr, 3);
      decodeRecording(bytes, variant, JpegColor::Cmyk, 4);
    }
  }
}

void encodeSources() {
  for (const char* source : {"photo_256x192.ppm", "photo_97x61.ppm"}) {
    const encode_test::Picture picture = encode_test::sourcePicture(source);
    for (const JpegColor color : {JpegColor::Rgb, JpegColor::Bgr})
      for (const JpegSubsampling sampling :
           {JpegSubsampling::H1V1, JpegSubsampling::H2V1, JpegSubsampling::H2V2})
        for (const int variant : {0, 1})
          for (const int quality : {30, 90, 100}) {
            encode_test::WriteRequest request;
            request.pixelColor = color;
            request.subsampling = sampling;
            request.dctVariant = variant;
            request.quality = quality;
            encodeRecording(picture, request);
          }
    // Grey streams from colour pixels take the RGB/BGR-to-grey tiles.
    for (const JpegColor color : {JpegColor::Rgb, JpegColor::Bgr})
      for (const int variant : {0, 1}) {
        encode_test::WriteRequest request;
        request.pixelColor = color;
        request.jpegColor = JpegColor::Gray;
        request.jpegChannels = 1;
        request.subsampling = JpegSubsampling::H1V1;
        request.dctVariant = variant;
        encodeRecording(picture, request);
      }
  }
}

const CorpusInputs& corpusInputs() {
  static const CorpusInputs inputs = [] {
    CorpusInputs recorded;
    gRecording = &recorded;
    decodeCorpus();
    encodeSources();
    gRecording = nullptr;
    return recorded;
  }();
  return inputs;
}

template <typename Value>
const std::vector<Value>& recordedFor(const std::map<std::string, std::vector<Value>>& all,
                                      const char* member) {
  static const std::vector<Value> none;
  const auto found = all.find(member);
  return found == all.end() ? none : found->second;
}

const std::vector<Block>& corpusBlocks(const char* member) {
  return recordedFor(corpusInputs().blocks, member);
}

const std::vector<McuSamples>& corpusMcus(const char* member) {
  return recordedFor(corpusInputs().mcus, member);
}

const std::vector<TilePixels>& corpusTiles(const char* member) {
  return recordedFor(corpusInputs().tiles, member);
}

const std::vector<TabledBlock>& corpusTabled(const char* member) {
  return recordedFor(corpusInputs().tabled, member);
}

// The corpus gives real inputs for every kernel that has twins.
TEST(KernelTwins, CorpusGivesRecordedInputs) {
  for (const char* member : {"idct0Full", "idct1Full", "fdct0", "fdct1"})
    EXPECT_GE(corpusBlocks(member).size(), 1000u) << member;
  for (const char* member : {"quantize0", "quantize1", "dequantize0", "dequantize1"})
    EXPECT_GE(corpusTabled(member).size(), 1000u) << member;
  for (const char* member : {"convertH2V2ToRgb", "convertH2V1ToBgr", "convertH1V1ToRgbx", "copyGrayTo3"})
    EXPECT_GE(corpusMcus(member).size(), 100u) << member;
  for (const TileShape& shape : kTileShapes) EXPECT_GE(corpusTiles(shape.name).size(), 100u) << shape.name;
}

TEST(KernelTwins, EncoderColourConversionsMatchThePortableOnesExactly) {
  const std::vector<TileTwin> twins = tileTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the encoder colour conversions in this build";
  std::mt19937 random(2029);
  const std::vector<uint8_t> edges = {0, 1, 2, 127, 128, 129, 253, 254, 255};
  for (const TileTwin& twin : twins) {
    const size_t count = static_cast<size_t>(twin.width) * twin.height;
    int index = 0;
    const auto placement = [&]() -> const TilePlacement& {
      return kTilePlacements[static_cast<size_t>(index++) % std::size(kTilePlacements)];
    };
    const std::vector<TilePixels>& recorded = corpusTiles(twin.member);
    for (size_t i = 0; i < recorded.size(); ++i)
      expectTileTwinsAgree(twin, recorded[i], "corpus tile " + std::to_string(i), placement());
    for (int i = 0; i < 200; ++i) {
      const TilePixels pixels = randomTile(random, twin, 0, 255);
      for (const TilePlacement& p : kTilePlacements)
        expectTileTwinsAgree(twin, pixels, "random tile " + std::to_string(i), p);
    }
    // Flat tiles of every edge colour: the extremes of every luma and chroma sum.
    for (const uint8_t r : edges)
      for (const uint8_t g : edges)
        for (const uint8_t b : edges) {
          TilePixels pixels(count * 3);
          for (size_t i = 0; i < count; ++i) {
            pixels[3 * i] = r;
            pixels[3 * i + 1] = g;
            pixels[3 * i + 2] = b;
          }
          expectTileTwinsAgree(
              twin, pixels, "flat " + std::to_string(r) + "/" + std::to_string(g) + "/" + std::to_string(b),
              placement());
        }
    // Pixels drawn from the edge values only, so that neighbours summed into chroma differ widely.
    for (int i = 0; i < 200; ++i) {
      TilePixels pixels(count * 3);
      for (uint8_t& v : pixels) v = edges[random() % edges.size()];
      expectTileTwinsAgree(twin, pixels, "edge tile " + std::to_string(i), placement());
    }
    // Every value of each byte of a pixel, the others random.
    for (int channel = 0; channel < 3; ++channel) {
      for (size_t first = 0; first < 256; first += count) {
        TilePixels pixels = randomTile(random, twin, 0, 255);
        for (size_t i = 0; i < count; ++i) pixels[3 * i + channel] = static_cast<uint8_t>((first + i) % 256);
        expectTileTwinsAgree(
            twin, pixels, "byte " + std::to_string(channel) + " from " + std::to_string(first), placement());
      }
    }
  }
}

// --- quantisers ------------------------------------------------------------------------------

struct QuantizeTwin {
  std::string name;
  const char* member;
  QuantizeKernelFn portable;
  QuantizeKernelFn twin;
};

std::vector<QuantizeTwin> quantizeTwins() {
  return twinsOf<QuantizeTwin, QuantizeKernelFn>(
      {{"quantize0", &KernelTable::quantize0}, {"quantize1", &KernelTable::quantize1}});
}

void expectQuantizeTwinsAgree(const QuantizeTwin& twin, const Block& input, const Block& table,
                              const std::string& what) {
  Block expected = input;
  Block actual = input;
  twin.portable(expected.data(), table.data());
  twin.twin(actual.data(), table.data());
  ASSERT_EQ(actual, expected) << twin.name << ", " << what;
}

// Flat tables of each of `entries` and 50 random 16-bit tables, after the prepared ones.
void addExtremeAndRandomTables(std::vector<Block>& tables, std::initializer_list<int16_t> entries,
                               std::mt19937& random) {
  for (const int16_t v : entries) {
    Block t;
    t.fill(v);
    tables.push_back(t);
  }
  for (int i = 0; i < 50; ++i) tables.push_back(uniformBlock(random, 32767));
}

// The extreme blocks and 20 random ones within each of 32767 and `smallBound`.
std::vector<Block> blocksWithin(std::mt19937& random, int16_t smallBound) {
  std::vector<Block> blocks = extremeBlocks();
  for (int i = 0; i < 20; ++i) {
    blocks.push_back(uniformBlock(random, 32767));
    blocks.push_back(uniformBlock(random, smallBound));
  }
  return blocks;
}

void expectEveryPairAgrees(const std::vector<QuantizeTwin>& twins, const std::vector<Block>& tables,
                           const std::vector<Block>& blocks) {
  for (const QuantizeTwin& twin : twins) {
    const std::vector<TabledBlock>& recorded = corpusTabled(twin.member);
    for (size_t i = 0; i < recorded.size(); ++i)
      expectQuantizeTwinsAgree(twin, recorded[i].block, recorded[i].table,
                               "corpus block " + std::to_string(i));
    for (size_t t = 0; t < tables.size(); ++t)
      for (size_t b = 0; b < blocks.size(); ++b)
        expectQuantizeTwinsAgree(twin, blocks[b], tables[t],
                                 "table " + std::to_string(t) + ", block " + std::to_string(b));
  }
}

TEST(KernelTwins, QuantizersMatchThePortableOnesExactly) {
  const std::vector<QuantizeTwin> twins = quantizeTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the quantisers in this build";
  std::mt19937 random(2030);
  // Reciprocal tables: prepared from every step (one step per table), and any 16-bit patterns.
  std::vector<Block> tables;
  for (int step = 1; step < 256; ++step) {
    Block t;
    t.fill(static_cast<int16_t>(step));
    prepareQuantReciprocals(t.data());
    tables.push_back(t);
  }
  addExtremeAndRandomTables(tables, {-32768, -1, 32767, 16384, 1}, random);
  expectEveryPairAgrees(twins, tables, blocksWithin(random, 2047));
}

// --- dequantisers ----------------------------------------------------------------------------

// Same signature as the quantisers: a block and a 64-entry table.
std::vector<QuantizeTwin> dequantizeTwins() {
  return twinsOf<QuantizeTwin, QuantizeKernelFn>(
      {{"dequantize0", &KernelTable::dequantize0}, {"dequantize1", &KernelTable::dequantize1}});
}

// Realistic quantised blocks (small values), random and extreme ones, against tables prepared
// for both variants from every flat step, flat tables of extreme entries (steps of 32768 and more
// read as negative 16-bit values) and random 16-bit patterns.
TEST(KernelTwins, DequantizersMatchThePortableOnesExactly) {
  const std::vector<QuantizeTwin> twins = dequantizeTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the dequantisers in this build";
  std::mt19937 random(2031);
  std::vector<Block> tables;
  for (int step = 1; step < 256; step += 3) {
    for (const int32_t variant : {0, 1}) {
      Block t{};
      t.fill(static_cast<int16_t>(step));
      std::array<int16_t, kDequantTableEntries> prepared{};
      std::copy(t.begin(), t.end(), prepared.begin());
      prepareDequantTable(prepared.data(), variant);
      std::copy(prepared.begin(), prepared.begin() + 64, t.begin());
      tables.push_back(t);
    }
  }
  addExtremeAndRandomTables(tables, {-32768, -1, 32767, 16384, 1, 0}, random);
  expectEveryPairAgrees(twins, tables, blocksWithin(random, 127));
}

}  // namespace
