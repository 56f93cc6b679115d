// MCU upsampling and colour conversion kernels of the decoder, whole and partial.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/dispatch.h"
#include "codec/kernels/decode_kernels.h"

namespace {

enum class Output { Gray, Rgb, Bgr, Rgbx, Cmyk, Copy3, Copy3To4, Copy4, Packed };

struct KernelCase {
  const char* name;
  ConvertMcuKernel whole;
  ConvertMcuPartialKernel partial;
  ConvertMcuKernel KernelTable::*member;
  int components;
  int h;  // luminance (and K) factors; chroma is 1x1
  int v;
  Output output;
};

int bytesOf(Output o) {
  switch (o) {
    case Output::Gray:
      return 1;
    case Output::Packed:
      return 2;
    case Output::Rgb:
    case Output::Bgr:
    case Output::Copy3:
      return 3;
    default:
      return 4;
  }
}

const std::vector<KernelCase>& kernelCases() {
  static const std::vector<KernelCase> cases = {
      {"copyGray", copyGray, copyGrayPartial, &KernelTable::copyGray, 1, 1, 1, Output::Gray},
      {"convertH1V1ToRgb", convertH1V1ToRgb, convertH1V1ToRgbPartial, &KernelTable::convertH1V1ToRgb, 3, 1, 1,
       Output::Rgb},
      {"convertH2V1ToRgb", convertH2V1ToRgb, convertH2V1ToRgbPartial, &KernelTable::convertH2V1ToRgb, 3, 2, 1,
       Output::Rgb},
      {"convertH2V2ToRgb", convertH2V2ToRgb, convertH2V2ToRgbPartial, &KernelTable::convertH2V2ToRgb, 3, 2, 2,
       Output::Rgb},
      {"convertH1V1ToBgr", convertH1V1ToBgr, convertH1V1ToBgrPartial, &KernelTable::convertH1V1ToBgr, 3, 1, 1,
       Output::Bgr},
      {"convertH2V1ToBgr", convertH2V1ToBgr, convertH2V1ToBgrPartial, &KernelTable::convertH2V1ToBgr, 3, 2, 1,
       Output::Bgr},
      {"convertH2V2ToBgr", convertH2V2ToBgr, convertH2V2ToBgrPartial, &KernelTable::convertH2V2ToBgr, 3, 2, 2,
       Output::Bgr},
      {"convertH1V1ToRgbx", convertH1V1ToRgbx, convertH1V1ToRgbxPartial, &KernelTable::convertH1V1ToRgbx, 3,
       1, 1, Output::Rgbx},
      {"convertH2V1ToRgbx", convertH2V1ToRgbx, convertH2V1ToRgbxPartial, &KernelTable::convertH2V1ToRgbx, 3,
       2, 1, Output::Rgbx},
      {"convertH2V2ToRgbx", convertH2V2ToRgbx, convertH2V2ToRgbxPartial, &KernelTable::convertH2V2ToRgbx, 3,
       2, 2, Output::Rgbx},
      {"copy3To3", copy3To3, copy3To3Partial, &KernelTable::copy3To3, 3, 1, 1, Output::Copy3},
      {"upsampleH2V1Copy", upsampleH2V1Copy, upsampleH2V1CopyPartial, &KernelTable::upsampleH2V1Copy, 3, 2, 1,
       Output::Copy3},
      {"upsampleH2V2Copy", upsampleH2V2Copy, upsampleH2V2CopyPartial, &KernelTable::upsampleH2V2Copy, 3, 2, 2,
       Output::Copy3},
      {"copy3To4", copy3To4, copy3To4Partial, &KernelTable::copy3To4, 3, 1, 1, Output::Copy3To4},
      {"packH2V1", packH2V1, packH2V1Partial, &KernelTable::packH2V1, 3, 2, 1, Output::Packed},
      {"convertH1V1YcckToCmyk", convertH1V1YcckToCmyk, convertH1V1YcckToCmykPartial,
       &KernelTable::convertH1V1YcckToCmyk, 4, 1, 1, Output::Cmyk},
      {"convertH2V1YcckToCmyk", convertH2V1YcckToCmyk, convertH2V1YcckToCmykPartial,
       &KernelTable::convertH2V1YcckToCmyk, 4, 2, 1, Output::Cmyk},
      {"convertH2V2YcckToCmyk", convertH2V2YcckToCmyk, convertH2V2YcckToCmykPartial,
       &KernelTable::convertH2V2YcckToCmyk, 4, 2, 2, Output::Cmyk},
      {"copy4To4", copy4To4, copy4To4Partial, &KernelTable::copy4To4, 4, 1, 1, Output::Copy4},
  };
  return cases;
}

// One MCU in McuSampleBuffer order: h*v Y blocks, Cb, Cr, then h*v K blocks.
struct Mcu {
  int h, v, components;
  std::vector<int16_t> samples;
  std::array<const int16_t*, 4> first{};

  Mcu(int h_, int v_, int components_) : h(h_), v(v_), components(components_) {
    const int blocks = components == 1 ? 1 : (components == 3 ? h * v + 2 : 2 * h * v + 2);
    samples.assign(64 * blocks, 0);
    first[0] = samples.data();
    if (components >= 3) {
      first[1] = first[0] + 64 * h * v;
      first[2] = first[1] + 64;
    }
    if (components == 4) first[3] = first[2] + 64;
  }
  int width() const { return 8 * h; }
  int height() const { return 8 * v; }
  int luma(int x, int y) const { return first[0][64 * ((y / 8) * h + x / 8) + 8 * (y % 8) + x % 8]; }
  int fourth(int x, int y) const { return first[3][64 * ((y / 8) * h + x / 8) + 8 * (y % 8) + x % 8]; }
  int chroma(int c, int x, int y) const { return first[c][8 * (y / v) + x / h]; }
  void fill(std::mt19937& random) {
    std::uniform_int_distribution<int> sample(0, 255);
    for (auto& s : samples) s = static_cast<int16_t>(sample(random));
  }
};

uint8_t clampByte(int v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// The pixel the conversion rules give for MCU pixel (x, y).
std::vector<uint8_t> expectedPixel(const KernelCase& k, const Mcu& m, int x, int y) {
  const int luma = m.luma(x, y);
  const int cb = k.components >= 3 ? m.chroma(1, x, y) : 0, cr = k.components >= 3 ? m.chroma(2, x, y) : 0;
  const uint8_t r = clampByte(luma + ((359 * cr - 45813) >> 8));
  const uint8_t g = clampByte(luma - ((88 * cb + 183 * cr - 34806) >> 8));
  const uint8_t b = clampByte(luma + ((454 * cb - 57937) >> 8));
  auto low = [](int s) { return static_cast<uint8_t>(s); };
  switch (k.output) {
    case Output::Gray:
      return {low(luma)};
    case Output::Rgb:
      return {r, g, b};
    case Output::Bgr:
      return {b, g, r};
    case Output::Rgbx:
      return {r, g, b, 255};
    case Output::Cmyk:
      return {static_cast<uint8_t>(255 - r), static_cast<uint8_t>(255 - g), static_cast<uint8_t>(255 - b),
              low(m.fourth(x, y))};
    case Output::Copy3:
      return {low(luma), low(cb), low(cr)};
    case Output::Copy3To4:
      return {low(luma), low(cb), low(cr), 255};
    case Output::Copy4:
      return {low(luma), low(cb), low(cr), low(m.fourth(x, y))};
    case Output::Packed:
      return {low(luma), x % 2 == 0 ? low(cb) : low(cr)};
  }
  return {};
}

constexpr uint8_t kPoison = 0xA5;

// A pixel buffer with poisoned padding around the MCU: 3 bytes before each row, 5 after.
struct Canvas {
  int bytes, width, height;
  ptrdiff_t stride;
  std::vector<uint8_t> memory;
  static constexpr int kLead = 3, kTrail = 5;

  Canvas(int bytes_, int width_, int height_)
      : bytes(bytes_), width(width_), height(height_), stride(width_ * bytes_ + kLead + kTrail) {
    memory.assign(stride * (height + 2), kPoison);
  }
  uint8_t* origin() { return memory.data() + stride + kLead; }
  const uint8_t* pixel(int x, int y) const { return memory.data() + stride * (y + 1) + kLead + x * bytes; }
  // True when every byte outside the pixels accepted by `inside` still holds the poison.
  template <class Inside>
  bool untouchedOutside(Inside inside) const {
    for (size_t i = 0; i < memory.size(); ++i) {
      const ptrdiff_t row = static_cast<ptrdiff_t>(i) / stride - 1;
      const ptrdiff_t column = static_cast<ptrdiff_t>(i) % stride - kLead;
      const bool inPixels = row >= 0 && row < height && column >= 0 && column < width * bytes;
      if ((!inPixels || !inside(static_cast<int>(column / bytes), static_cast<int>(row))) &&
          memory[i] != kPoison) {
        return false;
      }
    }
    return true;
  }
};

void PrintTo(const KernelCase& k, std::ostream* os) {
  *os << k.name;
}

class DecoderConvert : public testing::TestWithParam<KernelCase> {};

TEST_P(DecoderConvert, WholeMcuFollowsTheConversionAndSamplingRules) {
  const KernelCase& k = GetParam();
  std::mt19937 random(1);
  for (int trial = 0; trial < 20; ++trial) {
    Mcu m(k.h, k.v, k.components);
    m.fill(random);
    Canvas canvas(bytesOf(k.output), m.width(), m.height());
    k.whole(m.first.data(), canvas.origin(), canvas.stride);
    for (int y = 0; y < m.height(); ++y) {
      for (int x = 0; x < m.width(); ++x) {
        const auto expected = expectedPixel(k, m, x, y);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), canvas.pixel(x, y)))
            << "pixel " << x << "," << y;
      }
    }
    ASSERT_TRUE(canvas.untouchedOutside([](int, int) { return true; }));
  }
}

// A bottom-up buffer has a negative stride; the kernels only ever add stride per row.
TEST_P(DecoderConvert, WholeMcuWritesThroughANegativeStride) {
  const KernelCase& k = GetParam();
  std::mt19937 random(2);
  Mcu m(k.h, k.v, k.components);
  m.fill(random);
  Canvas topDown(bytesOf(k.output), m.width(), m.height());
  Canvas bottomUp(bytesOf(k.output), m.width(), m.height());
  k.whole(m.first.data(), topDown.origin(), topDown.stride);
  k.whole(m.first.data(), bottomUp.origin() + (m.height() - 1) * bottomUp.stride, -bottomUp.stride);
  for (int y = 0; y < m.height(); ++y) {
    ASSERT_TRUE(
        std::equal(topDown.pixel(0, y), topDown.pixel(m.width(), y), bottomUp.pixel(0, m.height() - 1 - y)));
  }
}

// Quadrant by quadrant, as the output stage calls them: only pixels inside the rectangle.
TEST_P(DecoderConvert, PartialWritesExactlyTheRectangle) {
  const KernelCase& k = GetParam();
  const std::array<PixelRect, 9> rects = {{{0, 0, 8, 8},
                                           {0, 0, 0, 0},
                                           {0, 0, 3, 8},
                                           {0, 0, 8, 5},
                                           {1, 2, 6, 7},
                                           {7, 7, 8, 8},
                                           {3, 0, 4, 8},
                                           {0, 4, 8, 4},
                                           {5, 1, 8, 3}}};
  std::mt19937 random(3);
  Mcu m(k.h, k.v, k.components);
  m.fill(random);
  for (int quadrant = 0; quadrant < k.h * k.v; ++quadrant) {
    const int qx = quadrant % k.h, qy = quadrant / k.h;
    const int16_t* blocks[4] = {m.first[0] + 64 * quadrant, nullptr, nullptr, nullptr};
    if (k.components >= 3) {
      const int chromaOffset = (k.v == 2 ? 32 * qy : 0) + (k.h == 2 ? 4 * qx : 0);
      blocks[1] = m.first[1] + chromaOffset;
      blocks[2] = m.first[2] + chromaOffset;
    }
    if (k.components == 4) blocks[3] = m.first[3] + 64 * quadrant;
    for (const PixelRect& r : rects) {
      SCOPED_TRACE(testing::Message() << "quadrant " << quadrant << " rect " << r.left << "," << r.top << ","
                                      << r.right << "," << r.bottom);
      Canvas canvas(bytesOf(k.output), m.width(), m.height());
      uint8_t* dst = canvas.origin() + 8 * qy * canvas.stride + 8 * qx * canvas.bytes;
      k.partial(blocks, dst, canvas.stride, r);
      auto inside = [&](int x, int y) {
        const int lx = x - 8 * qx, ly = y - 8 * qy;
        return lx >= r.left && lx < r.right && ly >= r.top && ly < r.bottom;
      };
      ASSERT_TRUE(canvas.untouchedOutside(inside));
      for (int y = 0; y < m.height(); ++y) {
        for (int x = 0; x < m.width(); ++x) {
          if (!inside(x, y)) continue;
          const auto expected = expectedPixel(k, m, x, y);
          ASSERT_TRUE(std::equal(expected.begin(), expected.end(), canvas.pixel(x, y))) << x << "," << y;
        }
      }
    }
  }
}

// Every processor class's table entry gives the portable bytes.
TEST_P(DecoderConvert, KernelTableEntriesGiveThePortableBytes) {
  const KernelCase& k = GetParam();
  std::mt19937 random(4);
  Mcu m(k.h, k.v, k.components);
  m.fill(random);
  Canvas expected(bytesOf(k.output), m.width(), m.height());
  k.whole(m.first.data(), expected.origin(), expected.stride);
  int checked = 0;
  for (int c = 0; c < kCpuClassCount; ++c) {
    KernelTable table{};
    fillKernelTable(&table, static_cast<CpuClass>(c));
    const ConvertMcuKernel entry = table.*k.member;
    if (entry == nullptr) continue;
    Canvas canvas(bytesOf(k.output), m.width(), m.height());
    entry(m.first.data(), canvas.origin(), canvas.stride);
    EXPECT_EQ(canvas.memory, expected.memory) << "class " << c;
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "the kernel table does not hold " << k.name << " yet";
}

INSTANTIATE_TEST_SUITE_P(Kernels, DecoderConvert, testing::ValuesIn(kernelCases()),
                         [](const testing::TestParamInfo<KernelCase>& info) {
                           return std::string(info.param.name);
                         });

// Y = Cb = Cr = 128: R = 128 + (139 >> 8), G = 128 - (-118 >> 8), B = 128 + (175 >> 8).
TEST(DecoderConvertValues, MidGreyGivesTheWorkedValues) {
  struct Case {
    ConvertMcuKernel kernel;
    int h, v, components;
    std::vector<uint8_t> pixel;
  };
  const std::vector<Case> cases = {
      {convertH1V1ToRgb, 1, 1, 3, {128, 129, 128}},
      {convertH2V1ToRgb, 2, 1, 3, {128, 129, 128}},
      {convertH2V2ToRgb, 2, 2, 3, {128, 129, 128}},
      {convertH1V1ToBgr, 1, 1, 3, {128, 129, 128}},
      {convertH2V2ToRgbx, 2, 2, 3, {128, 129, 128, 255}},
      {convertH2V2YcckToCmyk, 2, 2, 4, {127, 126, 127, 128}},
  };
  for (const Case& c : cases) {
    Mcu m(c.h, c.v, c.components);
    std::fill(m.samples.begin(), m.samples.end(), int16_t{128});
    Canvas canvas(static_cast<int>(c.pixel.size()), m.width(), m.height());
    c.kernel(m.first.data(), canvas.origin(), canvas.stride);
    for (int y = 0; y < m.height(); ++y) {
      for (int x = 0; x < m.width(); ++x) {
        ASSERT_TRUE(std::equal(c.pixel.begin(), c.pixel.end(), canvas.pixel(x, y)));
      }
    }
  }
}

// Saturated chroma drives R and B past 0..255: clamped, never wrapped.
TEST(DecoderConvertValues, ExtremeChromaClamps) {
  Mcu m(1, 1, 3);
  std::fill(m.samples.begin(), m.samples.begin() + 64, int16_t{255});  // Y
  std::fill(m.samples.begin() + 64, m.samples.end(), int16_t{255});    // Cb, Cr
  Canvas canvas(3, 8, 8);
  convertH1V1ToRgb(m.first.data(), canvas.origin(), canvas.stride);
  EXPECT_EQ(canvas.pixel(0, 0)[0], 255);
  EXPECT_EQ(canvas.pixel(0, 0)[2], 255);
  std::fill(m.samples.begin(), m.samples.begin() + 64, int16_t{0});
  std::fill(m.samples.begin() + 64, m.samples.end(), int16_t{0});
  convertH1V1ToRgb(m.first.data(), canvas.origin(), canvas.stride);
  EXPECT_EQ(canvas.pixel(0, 0)[0], 0);
  EXPECT_EQ(canvas.pixel(0, 0)[2], 0);
  EXPECT_EQ(canvas.pixel(0, 0)[1], 136);  // 0 - (-34806 >> 8): the shift floors to -136
}

}  // namespace
