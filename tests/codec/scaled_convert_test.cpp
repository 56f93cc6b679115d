// The reduced-scale YCbCr converter: where each sample lands in the portable kernel, and every
// processor twin against it byte for byte, for each MCU shape the output stage hands it.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/ycc_terms.h"
#include "tests/codec/kernel_twins_support.h"

namespace {

struct ShapeCase {
  const char* name;
  ScaledMcuShape shape;  // bgr filled in per run
};

// 4:2:0 chroma comes from the next larger transform (one sample per pixel), 4:2:2 chroma covers
// two pixels across, 4:4:4 one; the last rows have no twin of their own.
constexpr ShapeCase kShapes[] = {
    {"4:2:0 1/2", {4, 2, 2, 1, 0}}, {"4:2:0 1/4", {2, 2, 2, 1, 0}}, {"4:2:0 1/8", {1, 2, 2, 1, 0}},
    {"4:2:2 1/2", {4, 2, 1, 2, 0}}, {"4:2:2 1/4", {2, 2, 1, 2, 0}}, {"4:2:2 1/8", {1, 2, 1, 2, 0}},
    {"4:4:4 1/2", {4, 1, 1, 1, 0}}, {"4:4:4 1/4", {2, 1, 1, 1, 0}}, {"4:4:4 1/8", {1, 1, 1, 1, 0}},
};

int widthOf(const ScaledMcuShape& s) {
  return s.side * s.lumaAcross;
}
int heightOf(const ScaledMcuShape& s) {
  return s.side * s.lumaDown;
}

// Four luminance blocks then Cb and Cr, as the MCU area holds them.
struct ScaledMcu {
  std::vector<int16_t> luma = std::vector<int16_t>(4 * 64);
  std::array<int16_t, 64> cb{};
  std::array<int16_t, 64> cr{};
};

ScaledMcu randomMcu(std::mt19937& random, int low, int high) {
  std::uniform_int_distribution<int> value(low, high);
  ScaledMcu mcu;
  for (int16_t& v : mcu.luma) v = static_cast<int16_t>(value(random));
  for (int i = 0; i < 64; ++i) {
    mcu.cb[i] = static_cast<int16_t>(value(random));
    mcu.cr[i] = static_cast<int16_t>(value(random));
  }
  return mcu;
}

constexpr int kGuard = 48;
constexpr uint8_t kFill = 0xA5;

// The MCU converted into a buffer with guard bytes and padded rows, top-down or bottom-up.
struct Converted {
  std::vector<uint8_t> bytes;
  ptrdiff_t span;
  ptrdiff_t top;

  uint8_t at(int x, int y, int channel) const { return bytes[top + y * span + 3 * x + channel]; }
};

Converted convert(ConvertScaledMcuKernel kernel, const ScaledMcu& mcu, const ScaledMcuShape& shape,
                  bool bottomUp) {
  const ptrdiff_t span = 3 * widthOf(shape) + 5;
  const int rows = heightOf(shape);
  Converted out{std::vector<uint8_t>(2 * kGuard + span * rows, kFill), span, kGuard};
  const ptrdiff_t first = bottomUp ? out.top + span * (rows - 1) : out.top;
  const int16_t* components[3] = {mcu.luma.data(), mcu.cb.data(), mcu.cr.data()};
  kernel(components, out.bytes.data() + first, bottomUp ? -span : span, &shape);
  if (bottomUp) {
    // Rows back in top-down order, so that results compare position by position.
    Converted flipped{out.bytes, span, out.top};
    for (int y = 0; y < rows; ++y)
      for (ptrdiff_t i = 0; i < span; ++i)
        flipped.bytes[out.top + y * span + i] = out.bytes[first - y * span + i];
    return flipped;
  }
  return out;
}

int16_t lumaSample(const ScaledMcu& mcu, const ScaledMcuShape& s, int x, int y) {
  const int block = (y / s.side) * s.lumaAcross + x / s.side;
  return mcu.luma[64 * block + 8 * (y % s.side) + x % s.side];
}

TEST(ScaledConvert, NeutralChromaGivesEachPixelItsLuminanceSample) {
  std::mt19937 random(11);
  for (const ShapeCase& c : kShapes) {
    ScaledMcu mcu = randomMcu(random, 0, 255);
    mcu.cb.fill(128);
    mcu.cr.fill(128);
    const Converted out = convert(twins::portableTable().convertScaledYcc, mcu, c.shape, false);
    for (int y = 0; y < heightOf(c.shape); ++y)
      for (int x = 0; x < widthOf(c.shape); ++x)
        for (int channel = 0; channel < 3; ++channel)
          ASSERT_EQ(out.at(x, y, channel), lumaSample(mcu, c.shape, x, y))
              << c.name << " at " << x << "," << y;
  }
}

TEST(ScaledConvert, ChromaSamplesCoverTheirPixelsInByteOrder) {
  std::mt19937 random(12);
  for (const ShapeCase& c : kShapes) {
    for (const int32_t bgr : {0, 1}) {
      ScaledMcuShape shape = c.shape;
      shape.bgr = bgr;
      ScaledMcu mcu = randomMcu(random, 0, 255);
      for (int16_t& v : mcu.luma) v = 128;
      const Converted out = convert(twins::portableTable().convertScaledYcc, mcu, shape, false);
      for (int y = 0; y < heightOf(shape); ++y) {
        for (int x = 0; x < widthOf(shape); ++x) {
          const int index = 8 * y + x / shape.chromaRepeat;
          const uint8_t red = clampToByte(128 + chromaRed(mcu.cr[index]));
          const uint8_t blue = clampToByte(128 + chromaBlue(mcu.cb[index]));
          ASSERT_EQ(out.at(x, y, bgr != 0 ? 0 : 2), blue)
              << c.name << " bgr " << bgr << " at " << x << "," << y;
          ASSERT_EQ(out.at(x, y, bgr != 0 ? 2 : 0), red)
              << c.name << " bgr " << bgr << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(ScaledConvert, WritesOnlyTheMcuRows) {
  std::mt19937 random(13);
  for (const ShapeCase& c : kShapes) {
    const Converted out =
        convert(twins::portableTable().convertScaledYcc, randomMcu(random, 0, 255), c.shape, false);
    const ptrdiff_t rowBytes = 3 * widthOf(c.shape);
    for (size_t i = 0; i < out.bytes.size(); ++i) {
      const ptrdiff_t offset = static_cast<ptrdiff_t>(i) - out.top;
      const bool inside =
          offset >= 0 && offset / out.span < heightOf(c.shape) && offset % out.span < rowBytes;
      if (!inside) {
        ASSERT_EQ(out.bytes[i], kFill) << c.name << ": byte " << i;
      }
    }
  }
}

TEST(KernelTwins, ScaledConverterMatchesThePortableOneExactly) {
  const auto kernels = twins::twinAt(&KernelTable::convertScaledYcc);
  if (!kernels) GTEST_SKIP() << "no processor twin of the reduced-scale converter in this build";
  std::mt19937 random(14);
  // Samples as the transforms leave them, then any int16_t (read as its low byte).
  const std::pair<int, int> ranges[] = {{0, 255}, {-32768, 32767}, {-300, 600}};
  for (const ShapeCase& c : kShapes) {
    for (const int32_t bgr : {0, 1}) {
      ScaledMcuShape shape = c.shape;
      shape.bgr = bgr;
      for (const auto& [low, high] : ranges) {
        for (int i = 0; i < 200; ++i) {
          const ScaledMcu mcu = randomMcu(random, low, high);
          const bool bottomUp = i % 2 == 1;
          const Converted expected = convert(kernels->first, mcu, shape, bottomUp);
          const Converted actual = convert(kernels->second, mcu, shape, bottomUp);
          ASSERT_EQ(actual.bytes, expected.bytes)
              << twins::twinName("convertScaledYcc") << ", " << c.name << ", bgr " << bgr << ", samples "
              << low << ".." << high << ", case " << i;
        }
      }
    }
  }
}

}  // namespace
