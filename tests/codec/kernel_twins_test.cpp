// Processor-specific kernels against their portable twins on the same blocks: realistic
// coefficient blocks, uniformly random ones and the extremes a hostile stream can produce. The
// whole suite also runs once per kernel set (MESHWICK_USECPU), which covers real images.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/encode/color_convert_encode.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/forward_dct.h"
#include "codec/kernels/quantize.h"
#include "codec/kernels/sse2/decode_kernels.h"
#include "codec/kernels/sse2/encode_kernels.h"

namespace {

using Block = std::array<int16_t, 64>;
using BlockKernel = void (*)(int16_t*);

struct BlockTwin {
  const char* name;
  BlockKernel portable;
  BlockKernel twin;
};

std::vector<BlockTwin> blockTwins() {
  std::vector<BlockTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 idct0Full", idct0Full, sse2::idct0Full});
  twins.push_back({"sse2 idct1Full", idct1Full, sse2::idct1Full});
  twins.push_back({"sse2 idct1Half", idct1Half, sse2::idct1Half});
  twins.push_back({"sse2 idct1Quarter", idct1Quarter, sse2::idct1Quarter});
#endif
  return twins;
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

void expectTwinsAgree(const BlockTwin& twin, const Block& input, const std::string& what) {
  Block expected = input;
  Block actual = input;
  twin.portable(expected.data());
  twin.twin(actual.data());
  ASSERT_EQ(actual, expected) << twin.name << ", " << what;
}

TEST(KernelTwins, BlockKernelsMatchThePortableOnesExactly) {
  const std::vector<BlockTwin> twins = blockTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor-specific block kernels in this build";
  std::mt19937 random(2026);
  for (const BlockTwin& twin : twins) {
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

// --- whole-MCU colour conversion ------------------------------------------------------------

using McuKernel = void (*)(const int16_t* const*, uint8_t*, ptrdiff_t);

struct McuTwin {
  const char* name;
  McuKernel portable;
  McuKernel twin;
  int lumaBlocks;
  int width;
  int height;
  int bytesPerPixel;
  int components;  // 4: YCCK, whose fourth component has luma's layout
};

std::vector<McuTwin> mcuTwins() {
  std::vector<McuTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 convertH1V1ToRgb", convertH1V1ToRgb, sse2::convertH1V1ToRgb, 1, 8, 8, 3, 3});
  twins.push_back({"sse2 convertH2V1ToRgb", convertH2V1ToRgb, sse2::convertH2V1ToRgb, 2, 16, 8, 3, 3});
  twins.push_back({"sse2 convertH2V2ToRgb", convertH2V2ToRgb, sse2::convertH2V2ToRgb, 4, 16, 16, 3, 3});
  twins.push_back({"sse2 convertH1V1ToBgr", convertH1V1ToBgr, sse2::convertH1V1ToBgr, 1, 8, 8, 3, 3});
  twins.push_back({"sse2 convertH2V1ToBgr", convertH2V1ToBgr, sse2::convertH2V1ToBgr, 2, 16, 8, 3, 3});
  twins.push_back({"sse2 convertH2V2ToBgr", convertH2V2ToBgr, sse2::convertH2V2ToBgr, 4, 16, 16, 3, 3});
  twins.push_back({"sse2 convertH1V1ToRgbx", convertH1V1ToRgbx, sse2::convertH1V1ToRgbx, 1, 8, 8, 4, 3});
  twins.push_back({"sse2 convertH2V1ToRgbx", convertH2V1ToRgbx, sse2::convertH2V1ToRgbx, 2, 16, 8, 4, 3});
  twins.push_back({"sse2 convertH2V2ToRgbx", convertH2V2ToRgbx, sse2::convertH2V2ToRgbx, 4, 16, 16, 4, 3});
  twins.push_back(
      {"sse2 convertH1V1YcckToCmyk", convertH1V1YcckToCmyk, sse2::convertH1V1YcckToCmyk, 1, 8, 8, 4, 4});
  twins.push_back(
      {"sse2 convertH2V1YcckToCmyk", convertH2V1YcckToCmyk, sse2::convertH2V1YcckToCmyk, 2, 16, 8, 4, 4});
  twins.push_back(
      {"sse2 convertH2V2YcckToCmyk", convertH2V2YcckToCmyk, sse2::convertH2V2YcckToCmyk, 4, 16, 16, 4, 4});
#endif
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
  std::vector<BlockTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 fdct0", fdct0, sse2::fdct0});
  twins.push_back({"sse2 fdct1", fdct1, sse2::fdct1});
#endif
  return twins;
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
  const char* name;
  TileKernel portable;
  TileKernel twin;
  int width;
  int height;
  int blocks;
};

std::vector<TileTwin> tileTwins() {
  std::vector<TileTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 convertRgbToH1V1", convertRgbToH1V1, sse2::convertRgbToH1V1, 8, 8, 3});
  twins.push_back({"sse2 convertRgbToH2V1", convertRgbToH2V1, sse2::convertRgbToH2V1, 16, 8, 4});
  twins.push_back({"sse2 convertRgbToH2V2", convertRgbToH2V2, sse2::convertRgbToH2V2, 16, 16, 6});
  twins.push_back({"sse2 convertBgrToH1V1", convertBgrToH1V1, sse2::convertBgrToH1V1, 8, 8, 3});
  twins.push_back({"sse2 convertBgrToH2V1", convertBgrToH2V1, sse2::convertBgrToH2V1, 16, 8, 4});
  twins.push_back({"sse2 convertBgrToH2V2", convertBgrToH2V2, sse2::convertBgrToH2V2, 16, 16, 6});
#endif
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

using QuantizeKernelFn = void (*)(int16_t*, const int16_t*);

struct QuantizeTwin {
  const char* name;
  QuantizeKernelFn portable;
  QuantizeKernelFn twin;
};

std::vector<QuantizeTwin> quantizeTwins() {
  std::vector<QuantizeTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 quantize0", quantize0, sse2::quantize0});
  twins.push_back({"sse2 quantize1", quantize1, sse2::quantize1});
#endif
  return twins;
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
  std::vector<QuantizeTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 dequantize0", dequantize0, sse2::dequantize0});
  twins.push_back({"sse2 dequantize1", dequantize1, sse2::dequantize1});
#endif
  return twins;
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
