// The interpolating upsampler's kernels: the portable row kernels against the filter and the
// in-place conversion written out pixel by pixel, and the processor twins against the portable
// kernels on random and extreme rows of every width class and pixel layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/kernel_table.h"
#include "codec/kernels/fancy_upsample.h"
#include "codec/kernels/sse2/decode_kernels.h"
#include "tests/codec/kernel_twins_support.h"

namespace {

constexpr int kWidths[] = {1,  2,  3,  7,  8,  15, 16, 17, 31,  32,  33,
                           47, 48, 63, 64, 65, 95, 96, 97, 130, 257, 1001};
constexpr FancyPixels kLayouts[] = {FancyPixels::Rgb, FancyPixels::Bgr, FancyPixels::Rgbx};

int bytesOf(FancyPixels pixels) {
  return pixels == FancyPixels::Rgbx ? 4 : 3;
}

std::string nameOf(FancyPixels pixels) {
  return pixels == FancyPixels::Rgb ? "RGB" : pixels == FancyPixels::Bgr ? "BGR" : "RGBX";
}

struct RowKernel {
  const char* name;
  FancyRowKernel kernel;
  bool vertical;
};

// The rows one output row reads, each of exactly the readable size: a kernel reading beyond it
// shows under the address sanitizer. Chroma rows hold index -1 .. (width + 1) / 2.
struct RowSamples {
  std::vector<uint8_t> luma;
  std::vector<uint8_t> chroma[4];  // Cb near, Cb far, Cr near, Cr far

  explicit RowSamples(int width) : luma(size_t(width)) {
    for (std::vector<uint8_t>& row : chroma) row.resize(size_t((width + 1) / 2 + 2));
  }

  FancyRowSources sources() const {
    return {luma.data(),
            {chroma[0].data() + 1, chroma[1].data() + 1},
            {chroma[2].data() + 1, chroma[3].data() + 1}};
  }

  template <typename Value>
  void fill(Value value) {
    for (uint8_t& v : luma) v = value(0);
    for (int i = 0; i < 4; ++i) {
      for (uint8_t& v : chroma[i]) v = value(1 + i / 2);
    }
  }
};

// Kinds of rows: uniformly random, the edges of the sample range in random mixes, flat extremes
// and luma against chroma at opposite ends (the clamps on both sides).
struct RowKind {
  const char* name;
  int (*value)(std::mt19937& random, int component);
};

constexpr uint8_t kEdges[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};

const RowKind kRowKinds[] = {
    {"random", [](std::mt19937& r, int) { return int(r() % 256); }},
    {"edge values", [](std::mt19937& r, int) { return int(kEdges[r() % std::size(kEdges)]); }},
    {"all 0", [](std::mt19937&, int) { return 0; }},
    {"all 255", [](std::mt19937&, int) { return 255; }},
    {"0 or 255", [](std::mt19937& r, int) { return (r() & 1) != 0 ? 255 : 0; }},
    {"dark luma, full chroma", [](std::mt19937&, int c) { return c == 0 ? 0 : 255; }},
    {"bright luma, empty chroma", [](std::mt19937&, int c) { return c == 0 ? 255 : 0; }},
    {"bright luma, Cb full, Cr empty", [](std::mt19937&, int c) { return c == 0   ? 255
                                                                         : c == 1 ? 255
                                                                                  : 0; }},
};

RowSamples makeRow(std::mt19937& random, const RowKind& kind, int width) {
  RowSamples row(width);
  row.fill([&](int component) { return static_cast<uint8_t>(kind.value(random, component)); });
  return row;
}

// The written pixels with guard bytes on both sides, pre-filled with a varying pattern.
constexpr size_t kGuard = 32;

uint8_t guardByte(size_t i) {
  return static_cast<uint8_t>(i * 29 + 5);
}

std::vector<uint8_t> runRow(FancyRowKernel kernel, const RowSamples& row, int width, FancyPixels pixels) {
  std::vector<uint8_t> out(2 * kGuard + size_t(width) * size_t(bytesOf(pixels)));
  for (size_t i = 0; i < out.size(); ++i) out[i] = guardByte(i);
  kernel(row.sources(), width, pixels, out.data() + kGuard);
  return out;
}

// --- the portable kernels against the formulas ----------------------------------------------

int clampByte(int v) {
  return std::clamp(v, 0, 255);
}

// Output column x of a chroma row pair by the filter's own weights: H2V1 (3s[k] + s[k∓1] + 1 or
// 2) >> 2; H2V2 (9n + 3h + 3v + d + 8 or 7) >> 4 with n nearest, h beside it, v the far row's
// sample below or above n, d diagonal.
int filtered(const uint8_t* near, const uint8_t* far, int x, bool vertical) {
  const int k = x / 2;
  const int side = x % 2 == 0 ? k - 1 : k + 1;
  if (!vertical) return (3 * near[k] + near[side] + (x % 2 == 0 ? 1 : 2)) >> 2;
  return (9 * near[k] + 3 * near[side] + 3 * far[k] + far[side] + (x % 2 == 0 ? 8 : 7)) >> 4;
}

// The in-place conversion: R = Y + crR, G = Y + gP, B = Y + cbB, each clamped.
std::vector<uint8_t> expectedPixel(int luma, int cb, int cr, FancyPixels pixels) {
  const int r = clampByte(luma + ((359 * cr - 45813) >> 8));
  const int g = clampByte(luma + ((34806 - 88 * cb - 183 * cr) >> 8));
  const int b = clampByte(luma + ((454 * cb - 57937) >> 8));
  std::vector<uint8_t> p = {uint8_t(r), uint8_t(g), uint8_t(b)};
  if (pixels == FancyPixels::Bgr) std::swap(p[0], p[2]);
  if (pixels == FancyPixels::Rgbx) p.push_back(255);
  return p;
}

const RowKernel kPortableKernels[] = {{"portable H2V1", upsampleFancyH2V1Row, false},
                                      {"portable H2V2", upsampleFancyH2V2Row, true}};

TEST(FancyRowKernels, PortableRowsFollowTheFilterAndTheInPlaceConversion) {
  std::mt19937 random(77);
  for (const RowKernel& kernel : kPortableKernels) {
    for (const FancyPixels pixels : kLayouts) {
      for (const int width : kWidths) {
        for (const RowKind& kind : kRowKinds) {
          const RowSamples row = makeRow(random, kind, width);
          const std::vector<uint8_t> out = runRow(kernel.kernel, row, width, pixels);
          const FancyRowSources s = row.sources();
          const std::string what = std::string(kernel.name) + " " + nameOf(pixels) + ", width " +
                                   std::to_string(width) + ", " + kind.name;
          for (int x = 0; x < width; ++x) {
            const int cb = filtered(s.cb[0], s.cb[1], x, kernel.vertical);
            const int cr = filtered(s.cr[0], s.cr[1], x, kernel.vertical);
            const std::vector<uint8_t> expected = expectedPixel(s.luma[x], cb, cr, pixels);
            const auto first = out.begin() + ptrdiff_t(kGuard) + ptrdiff_t(x) * bytesOf(pixels);
            ASSERT_EQ(std::vector<uint8_t>(first, first + bytesOf(pixels)), expected)
                << what << ", pixel " << x;
          }
        }
      }
    }
  }
}

TEST(FancyRowKernels, AGreyPixelKeepsItsGreenLevel) {
  // Y = Cb = Cr = 128 gives 128, 128, 128 with the in-place conversion's rounding of green.
  RowSamples row(2);
  row.fill([](int) { return uint8_t{128}; });
  const std::vector<uint8_t> out = runRow(upsampleFancyH2V2Row, row, 2, FancyPixels::Rgbx);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + kGuard, out.begin() + kGuard + 8),
            (std::vector<uint8_t>{128, 128, 128, 255, 128, 128, 128, 255}));
}

// --- processor twins ------------------------------------------------------------------------------

struct RowTwin {
  RowKernel portable;
  RowKernel twin;
};

std::vector<RowTwin> rowTwins() {
  std::vector<RowTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({kPortableKernels[0], {"sse2 H2V1", sse2::upsampleFancyH2V1Row, false}});
  twins.push_back({kPortableKernels[1], {"sse2 H2V2", sse2::upsampleFancyH2V2Row, true}});
#endif
  // The kernel set this run chose (AVX2 where the processor has it), unless listed already.
  const std::pair<const char*, FancyRowKernel KernelTable::*> members[] = {
      {"H2V1", &KernelTable::upsampleFancyH2V1Row}, {"H2V2", &KernelTable::upsampleFancyH2V2Row}};
  for (size_t i = 0; i < std::size(members); ++i) {
    const auto kernels = twins::twinAt(members[i].second);
    const auto listed = [&](const RowTwin& known) { return kernels && known.twin.kernel == kernels->second; };
    if (!kernels || std::any_of(twins.begin(), twins.end(), listed)) continue;
    static const std::string names[] = {twins::twinName(members[0].first), twins::twinName(members[1].first)};
    twins.push_back({kPortableKernels[i], {names[i].c_str(), kernels->second, i == 1}});
  }
  return twins;
}

void expectRowTwinsAgree(const RowTwin& twin, const RowSamples& row, int width, FancyPixels pixels,
                         const std::string& what) {
  const std::vector<uint8_t> expected = runRow(twin.portable.kernel, row, width, pixels);
  const std::vector<uint8_t> actual = runRow(twin.twin.kernel, row, width, pixels);
  const size_t end = actual.size() - kGuard;
  for (size_t i = 0; i < actual.size(); ++i) {
    if (i >= kGuard && i < end) continue;
    ASSERT_EQ(actual[i], guardByte(i))
        << twin.twin.name << ", " << what << ": byte " << i << " outside the row";
  }
  ASSERT_EQ(actual, expected) << twin.twin.name << ", " << what;
}

TEST(FancyRowKernels, ProcessorTwinsMatchThePortableKernelsExactly) {
  const std::vector<RowTwin> twins = rowTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the row kernels in this build";
  std::mt19937 random(4242);
  for (const RowTwin& twin : twins) {
    for (const FancyPixels pixels : kLayouts) {
      for (const int width : kWidths) {
        for (const RowKind& kind : kRowKinds) {
          const int repeats =
              kind.name == std::string("random") || kind.name == std::string("edge values") ? 20 : 1;
          for (int i = 0; i < repeats; ++i) {
            const std::string what = nameOf(pixels) + ", width " + std::to_string(width) + ", " + kind.name;
            expectRowTwinsAgree(twin, makeRow(random, kind, width), width, pixels, what);
          }
        }
      }
    }
  }
}

// Every (Cb, Cr) pair through the twins' chroma terms: flat chroma rows give each pair exactly,
// against every luma level in turn.
TEST(FancyRowKernels, ProcessorTwinsConvertEveryChromaPairAsThePortableKernels) {
  const std::vector<RowTwin> twins = rowTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor twins of the row kernels in this build";
  constexpr int kWidth = 32;
  for (const RowTwin& twin : twins) {
    for (int cb = 0; cb < 256; ++cb) {
      for (int cr = 0; cr < 256; ++cr) {
        RowSamples row(kWidth);
        row.fill([&](int component) { return uint8_t(component == 1 ? cb : cr); });
        for (int x = 0; x < kWidth; ++x) row.luma[size_t(x)] = uint8_t((cb * 7 + cr * 3 + x * 8) % 256);
        const std::string what = "Cb " + std::to_string(cb) + ", Cr " + std::to_string(cr);
        expectRowTwinsAgree(twin, row, kWidth, FancyPixels::Rgbx, what);
      }
    }
  }
}

// --- the copy into the upsampler's rows -----------------------------------------------------------

std::vector<uint8_t> runKeep(KeepBlockSamplesKernel kernel, const std::vector<int16_t>& block, int side,
                             ptrdiff_t stride) {
  std::vector<uint8_t> out(2 * kGuard + size_t(stride) * size_t(side));
  for (size_t i = 0; i < out.size(); ++i) out[i] = guardByte(i);
  kernel(block.data(), side, out.data() + kGuard, stride);
  return out;
}

TEST(FancyRowKernels, BlockSamplesKeepTheirLowBytesAtEverySide) {
  std::mt19937 random(9);
  std::uniform_int_distribution<int> anySample(-32768, 32767);
  std::vector<KeepBlockSamplesKernel> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back(sse2::keepBlockSamples);
#endif
  for (const int side : {8, 4, 2, 1}) {
    for (int i = 0; i < 50; ++i) {
      std::vector<int16_t> block(64);
      for (int16_t& v : block) v = static_cast<int16_t>(i < 25 ? anySample(random) : int(random() % 256));
      const ptrdiff_t stride = side + 5;
      const std::vector<uint8_t> out = runKeep(keepBlockSamples, block, side, stride);
      for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
          ASSERT_EQ(out[kGuard + size_t(y * stride + x)], static_cast<uint8_t>(block[size_t(8 * y + x)]))
              << "side " << side << ", sample " << x << ", " << y;
        }
      }
      for (const KeepBlockSamplesKernel twin : twins)
        ASSERT_EQ(runKeep(twin, block, side, stride), out) << "side " << side << ", block " << i;
    }
  }
}

}  // namespace

// --- the transforms writing straight into the upsampler's rows -----------------------------------

struct TransformIntoRows {
  const char* name;
  void (*KernelTable::*inPlace)(int16_t*);
  InverseDctToRowsKernel KernelTable::*intoRows;
};

constexpr TransformIntoRows kTransformsIntoRows[] = {
    {"idct0FullToRows", &KernelTable::idct0Full, &KernelTable::idct0FullToRows},
    {"idct1FullToRows", &KernelTable::idct1Full, &KernelTable::idct1FullToRows},
};

// Blocks of every kind the shortcuts tell apart: DC only, first row or column only, sparse,
// dense, and values far outside what valid streams give.
std::vector<std::vector<int16_t>> transformInputs(std::mt19937& random) {
  std::vector<std::vector<int16_t>> blocks;
  std::uniform_int_distribution<int> anyValue(-32768, 32767), small(-300, 300);
  for (int i = 0; i < 40; ++i) {
    std::vector<int16_t> dense(64), dcOnly(64), firstRow(64), firstColumn(64), wild(64);
    for (int k = 0; k < 64; ++k) {
      dense[size_t(k)] = static_cast<int16_t>(small(random) / (1 + k / 8 + k % 8));
      wild[size_t(k)] = static_cast<int16_t>(anyValue(random));
    }
    dcOnly[0] = static_cast<int16_t>(i < 20 ? small(random) * 8 : anyValue(random));
    for (int k = 0; k < 8; ++k) {
      firstRow[size_t(k)] = dense[size_t(k)];
      firstColumn[size_t(8 * k)] = dense[size_t(8 * k)];
    }
    for (auto* block : {&dense, &dcOnly, &firstRow, &firstColumn, &wild}) blocks.push_back(*block);
  }
  return blocks;
}

std::vector<uint8_t> runIntoRows(InverseDctToRowsKernel kernel, std::vector<int16_t> block,
                                 ptrdiff_t stride) {
  std::vector<uint8_t> out(2 * kGuard + size_t(stride) * 8);
  for (size_t i = 0; i < out.size(); ++i) out[i] = guardByte(i);
  kernel(block.data(), out.data() + kGuard, stride);
  return out;
}

// Each set's row-writing transforms give the bytes of its in-place transform, rows `stride`
// apart, and write nothing between or around the rows.
TEST(FancyRowKernels, TransformsIntoRowsGiveTheInPlaceSamples) {
  std::mt19937 random(11);
  const std::vector<std::vector<int16_t>> blocks = transformInputs(random);
  for (int32_t set = 0; set < kKernelSetCount; ++set) {
    const KernelTable& table = twins::tableOf(static_cast<KernelSet>(set));
    for (const TransformIntoRows& transform : kTransformsIntoRows) {
      for (const ptrdiff_t stride : {ptrdiff_t{8}, ptrdiff_t{13}, ptrdiff_t{4000}}) {
        for (size_t b = 0; b < blocks.size(); ++b) {
          std::vector<int16_t> samples = blocks[b];
          (table.*transform.inPlace)(samples.data());
          std::vector<uint8_t> expected(2 * kGuard + size_t(stride) * 8);
          for (size_t i = 0; i < expected.size(); ++i) expected[i] = guardByte(i);
          for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
              expected[kGuard + size_t(y * stride + x)] = static_cast<uint8_t>(samples[size_t(8 * y + x)]);
          ASSERT_EQ(runIntoRows(table.*transform.intoRows, blocks[b], stride), expected)
              << kernelSetName(static_cast<KernelSet>(set)) << " set's " << transform.name << ", stride "
              << stride << ", block " << b;
        }
      }
    }
  }
}
