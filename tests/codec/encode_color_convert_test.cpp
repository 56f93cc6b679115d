// Encoder colour conversion and downsampling: the whole-tile kernels and the MCU routines
// with their edge tiles.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "codec/encode/color_convert_encode.h"
#include "codec/kernel_table.h"
#include "codec/validation.h"
#include "encode_support.h"

namespace {

using encode_test::Picture;

struct Ycc {
  int y, cb, cr;
};

// The level-shifted formulas, per pixel.
Ycc yccOf(int r, int g, int b) {
  return {(77 * r + 150 * g + 29 * b - 32640) >> 8, (128 * b - 43 * r - 85 * g + 128) >> 8,
          (128 * r - 107 * g - 21 * b + 128) >> 8};
}

using Blocks = std::array<std::array<int16_t, 64>, 10>;

bool blockIs(const std::array<int16_t, 64>& block, int value) {
  for (int16_t s : block) {
    if (s != value) return false;
  }
  return true;
}

// Runs a whole-tile kernel over one solid tile of `pixel`.
Blocks convertSolidTile(EncodeConvertKernel kernel, std::vector<uint8_t> pixel, int tileWidth, int tileHeight,
                        int bytesPerPixel) {
  std::vector<uint8_t> tile;
  for (int i = 0; i < tileWidth * tileHeight; ++i) tile.insert(tile.end(), pixel.begin(), pixel.end());
  Blocks blocks{};
  for (auto& b : blocks) b.fill(12345);
  int16_t* pointers[10];
  for (int i = 0; i < 10; ++i) pointers[i] = blocks[i].data();
  kernel(tile.data(), static_cast<ptrdiff_t>(tileWidth) * bytesPerPixel, pointers);
  return blocks;
}

struct SolidCase {
  const char* name;
  std::array<uint8_t, 3> rgb;
  Ycc expected;
};

constexpr SolidCase kSolidColours[] = {
    {"white", {255, 255, 255}, {127, 0, 0}},
    {"black", {0, 0, 0}, {-128, 0, 0}},
    {"red", {255, 0, 0}, {-51, -43, 128}},  // Cr one above the level-shifted range
};

struct KernelCase {
  const char* name;
  EncodeConvertKernel kernel;
  bool bgr;
  int tileWidth, tileHeight, lumaBlocks;
};

TEST(EncoderColorConvert, SolidColoursThroughEveryRgbKernel) {
  const KernelCase kernels[] = {
      {"RgbH1V1", convertRgbToH1V1, false, 8, 8, 1},   {"RgbH2V1", convertRgbToH2V1, false, 16, 8, 2},
      {"RgbH2V2", convertRgbToH2V2, false, 16, 16, 4}, {"BgrH1V1", convertBgrToH1V1, true, 8, 8, 1},
      {"BgrH2V1", convertBgrToH2V1, true, 16, 8, 2},   {"BgrH2V2", convertBgrToH2V2, true, 16, 16, 4},
  };
  for (const KernelCase& k : kernels) {
    for (const SolidCase& c : kSolidColours) {
      SCOPED_TRACE(testing::Message() << k.name << " " << c.name);
      std::vector<uint8_t> pixel(c.rgb.begin(), c.rgb.end());
      if (k.bgr) std::swap(pixel[0], pixel[2]);
      const Blocks blocks = convertSolidTile(k.kernel, pixel, k.tileWidth, k.tileHeight, 3);
      for (int i = 0; i < k.lumaBlocks; ++i) EXPECT_TRUE(blockIs(blocks[i], c.expected.y)) << i;
      EXPECT_TRUE(blockIs(blocks[k.lumaBlocks], c.expected.cb));
      EXPECT_TRUE(blockIs(blocks[k.lumaBlocks + 1], c.expected.cr));
      EXPECT_TRUE(blockIs(blocks[k.lumaBlocks + 2], 12345)) << "wrote past its blocks";
    }
  }
}

TEST(EncoderColorConvert, CmykKernelsGiveYcckOfTheInvertedColour) {
  const KernelCase kernels[] = {{"H1V1", convertCmykToH1V1, false, 8, 8, 1},
                                {"H2V1K", convertCmykToH2V1K, false, 16, 8, 2},
                                {"H2V2K", convertCmykToH2V2K, false, 16, 16, 4}};
  for (const KernelCase& k : kernels) {
    for (const SolidCase& c : kSolidColours) {
      SCOPED_TRACE(testing::Message() << k.name << " " << c.name);
      const std::vector<uint8_t> cmyk = {static_cast<uint8_t>(255 - c.rgb[0]),
                                         static_cast<uint8_t>(255 - c.rgb[1]),
                                         static_cast<uint8_t>(255 - c.rgb[2]), 200};
      const Blocks blocks = convertSolidTile(k.kernel, cmyk, k.tileWidth, k.tileHeight, 4);
      const int chroma = k.lumaBlocks;
      for (int i = 0; i < k.lumaBlocks; ++i) {
        EXPECT_TRUE(blockIs(blocks[i], c.expected.y));
        EXPECT_TRUE(blockIs(blocks[chroma + 2 + i], 200 - 128));
      }
      EXPECT_TRUE(blockIs(blocks[chroma], c.expected.cb));
      EXPECT_TRUE(blockIs(blocks[chroma + 1], c.expected.cr));
    }
  }
}

TEST(EncoderColorConvert, LevelShiftKernels) {
  const std::vector<uint8_t> pixel = {10, 200, 255, 0};
  const Blocks one = convertSolidTile(levelShift1, {77}, 8, 8, 1);
  EXPECT_TRUE(blockIs(one[0], 77 - 128));
  const Blocks four = convertSolidTile(levelShift4H1V1, pixel, 8, 8, 4);
  for (int c = 0; c < 4; ++c) EXPECT_TRUE(blockIs(four[c], pixel[c] - 128)) << c;
  const Blocks three = convertSolidTile(levelShift3H1V1, {10, 200, 255}, 8, 8, 3);
  EXPECT_TRUE(blockIs(three[2], 127));
  const Blocks h2v2 = convertSolidTile(levelShift3H2V2, {10, 200, 255}, 16, 16, 3);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(blockIs(h2v2[i], -118));
  EXPECT_TRUE(blockIs(h2v2[4], 72));
  EXPECT_TRUE(blockIs(h2v2[5], 127));
  EXPECT_TRUE(blockIs(h2v2[6], 12345));
}

// Summed 2x2 chroma rounds once: (128 sum B - 43 sum R - 85 sum G + 512) >> 10.
TEST(EncoderColorConvert, WholeTileChromaConvertsTheSummedPixels) {
  Picture tile{16, 16, 3, std::vector<uint8_t>(16 * 16 * 3)};
  for (size_t i = 0; i < tile.bytes.size(); ++i) tile.bytes[i] = static_cast<uint8_t>((i * 37 + i / 7) % 256);
  Blocks blocks{};
  int16_t* pointers[10];
  for (int i = 0; i < 10; ++i) pointers[i] = blocks[i].data();
  convertRgbToH2V2(tile.bytes.data(), 48, pointers);
  for (int cy = 0; cy < 8; ++cy) {
    for (int cx = 0; cx < 8; ++cx) {
      int r = 0, g = 0, b = 0;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const uint8_t* p = tile.at(cx * 2 + dx, cy * 2 + dy);
          r += p[0], g += p[1], b += p[2];
        }
      }
      EXPECT_EQ(blocks[4][cy * 8 + cx], (128 * b - 43 * r - 85 * g + 512) >> 10);
      EXPECT_EQ(blocks[5][cy * 8 + cx], (128 * r - 107 * g - 21 * b + 512) >> 10);
    }
  }
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const uint8_t* p = tile.at(x, y);
      EXPECT_EQ(blocks[(y / 8) * 2 + x / 8][(y % 8) * 8 + x % 8], yccOf(p[0], p[1], p[2]).y);
    }
  }
}

TEST(EncoderColorConvert, PackedYCbCrUnpacksWithoutAveraging) {
  std::vector<uint8_t> tile(32 * 8);
  for (size_t i = 0; i < tile.size(); ++i) tile[i] = static_cast<uint8_t>(i * 11);
  Blocks blocks{};
  int16_t* pointers[10];
  for (int i = 0; i < 10; ++i) pointers[i] = blocks[i].data();
  unpackYCbCrH2V1(tile.data(), 32, pointers);
  for (int y = 0; y < 8; ++y) {
    for (int pair = 0; pair < 8; ++pair) {
      const uint8_t* p = tile.data() + y * 32 + pair * 4;
      const int x = pair * 2;
      EXPECT_EQ(blocks[x / 8][y * 8 + x % 8], p[0] - 128);
      EXPECT_EQ(blocks[x / 8][y * 8 + x % 8 + 1], p[2] - 128);
      EXPECT_EQ(blocks[2][y * 8 + pair], p[1] - 128);
      EXPECT_EQ(blocks[3][y * 8 + pair], p[3] - 128);
    }
  }
}

// A record set up the way jpegWrite leaves it before the MCU loop, for one picture.
class McuConverter {
 public:
  McuConverter(const Picture& picture, JpegColor pixelColor, JpegColor jpegColor, int jpegChannels,
               JpegSubsampling subsampling, bool bottomUp = false, int pixelSubsampling = 0)
      : picture_(picture) {
    EXPECT_EQ(jpegInit(&record_), JpegStatus::Ok);
    JPEG_PROPERTIES& s = record_.state;
    const int bytes = pixelSubsampling == 2 ? 2 : picture.channels;
    const size_t stride = static_cast<size_t>(picture.width) * bytes;
    memory_.resize(stride * picture.height);
    for (int y = 0; y < picture.height; ++y) {
      const int row = bottomUp ? picture.height - 1 - y : y;
      std::copy(picture.bytes.begin() + static_cast<std::ptrdiff_t>(y * stride),
                picture.bytes.begin() + static_cast<std::ptrdiff_t>((y + 1) * stride),
                memory_.begin() + static_cast<std::ptrdiff_t>(row * stride));
    }
    s.pixelWidth = picture.width;
    s.pixelHeight = bottomUp ? -picture.height : picture.height;
    s.pixelChannels = picture.channels;
    s.pixelColor = pixelColor;
    s.pixelSubsampling = pixelSubsampling;
    s.pixelPadBytes = 0;
    applyLineStride(&s, memory_.data(), pixelSubsampling == 2);
    s.jpegChannels = jpegChannels;
    s.jpegColor = jpegColor;
    s.componentCount = jpegChannels;
    const int h0 = subsampling == JpegSubsampling::H1V1 ? 1 : 2;
    const int v0 = subsampling == JpegSubsampling::H2V2 || subsampling == JpegSubsampling::H2V2K ? 2 : 1;
    for (int i = 0; i < 4; ++i) {
      const bool full = i == 0 || i == 3;
      s.components[i].horizontalFactor = full ? h0 : 1;
      s.components[i].verticalFactor = full ? v0 : 1;
    }
    const bool conversion = jpegColor != JpegColor::Rgb && jpegColor != JpegColor::Cmyk &&
                            pixelColor != JpegColor::Gray && pixelColor != JpegColor::YCbCr &&
                            pixelColor != JpegColor::Other;
    s.colorConversionNeeded = conversion ? 1 : 0;
    s.samplingNeeded = h0 * v0 > 1 ? 1 : 0;
    s.imageWidth = picture.width;
    s.imageHeight = picture.height;
    s.mcuWidth = 8 * h0;
    s.mcuHeight = 8 * v0;
    s.mcusPerRow = (picture.width + s.mcuWidth - 1) / s.mcuWidth;
    s.mcuRows = (picture.height + s.mcuHeight - 1) / s.mcuHeight;
    s.nonInterleaved = 0;
  }
  ~McuConverter() { jpegFree(&record_); }
  McuConverter(const McuConverter&) = delete;
  McuConverter& operator=(const McuConverter&) = delete;

  JPEG_PROPERTIES& state() { return record_.state; }
  JpegStatus choose() { return chooseMcuConverter(&record_.state); }

  // Block i of the MCU at (column, row), converted by the chosen routine.
  std::array<int16_t, 64> block(int column, int row, int i) {
    record_.state.input.kernels->convertMcu(&record_.state, column, row);
    std::array<int16_t, 64> b;
    const int16_t* first = reinterpret_cast<const int16_t*>(record_.state.scratch) + i * 64;
    std::copy(first, first + 64, b.begin());
    return b;
  }

 private:
  Picture picture_;
  JPEG_CODEC_PROPERTIES record_{};
  std::vector<uint8_t> memory_;
};

TEST(EncoderColorConvert, ChoiceOfRoutineByLayout) {
  struct Case {
    const char* name;
    JpegColor pixelColor;
    int pixelChannels;
    JpegColor jpegColor;
    int jpegChannels;
    JpegSubsampling subsampling;
    int pixelSubsampling;
    EncodeLayoutCode code;
  };
  const Case cases[] = {
      {"rgb 420", JpegColor::Rgb, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 0,
       EncodeLayoutCode::RgbH2V2},
      {"bgr 420", JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 0,
       EncodeLayoutCode::BgrH2V2},
      {"rgb 422", JpegColor::Rgb, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V1, 0,
       EncodeLayoutCode::RgbH2V1},
      {"bgr 422", JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V1, 0,
       EncodeLayoutCode::BgrH2V1},
      {"rgb 444", JpegColor::Rgb, 3, JpegColor::YCbCr, 3, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::RgbH1V1},
      {"bgr 444", JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::BgrH1V1},
      {"rgbx 420", JpegColor::Rgb, 4, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 0, EncodeLayoutCode::None},
      {"cmyk 444", JpegColor::Cmyk, 4, JpegColor::Ycck, 4, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::CmykH1V1},
      {"cmyk 420", JpegColor::Cmyk, 4, JpegColor::Ycck, 4, JpegSubsampling::H2V2K, 0,
       EncodeLayoutCode::CmykH2V2K},
      {"cmyk 422", JpegColor::Cmyk, 4, JpegColor::Ycck, 4, JpegSubsampling::H2V1K, 0,
       EncodeLayoutCode::CmykH2V1K},
      {"cmyk as cmyk", JpegColor::Cmyk, 4, JpegColor::Cmyk, 4, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::Shift4H1V1},
      {"rgb to gray", JpegColor::Rgb, 3, JpegColor::Gray, 1, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::None},
      {"gray", JpegColor::Gray, 1, JpegColor::Gray, 1, JpegSubsampling::H1V1, 0, EncodeLayoutCode::Shift1},
      {"ycc 444", JpegColor::YCbCr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::Shift3H1V1},
      {"ycc 420", JpegColor::YCbCr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 0,
       EncodeLayoutCode::Shift3H2V2},
      {"ycc 422", JpegColor::YCbCr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V1, 0,
       EncodeLayoutCode::Shift3H2V1},
      {"packed", JpegColor::YCbCr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V1, 2,
       EncodeLayoutCode::PackedH2V1},
      {"rgb as rgb", JpegColor::Rgb, 3, JpegColor::Rgb, 3, JpegSubsampling::H1V1, 0,
       EncodeLayoutCode::Shift3H1V1},
      {"bgr as rgb", JpegColor::Bgr, 3, JpegColor::Rgb, 3, JpegSubsampling::H1V1, 0, EncodeLayoutCode::None},
      {"gray as ycc", JpegColor::Gray, 1, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 0,
       EncodeLayoutCode::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Picture picture = encode_test::solidPicture(16, 16, std::vector<uint8_t>(c.pixelChannels, 9));
    McuConverter converter(picture, c.pixelColor, c.jpegColor, c.jpegChannels, c.subsampling, false,
                           c.pixelSubsampling);
    ASSERT_EQ(converter.choose(), JpegStatus::Ok);
    EXPECT_EQ(converter.state().outputConversion, static_cast<int32_t>(c.code));
    EXPECT_NE(converter.state().input.kernels->convertMcu, nullptr);
  }
}

TEST(EncoderColorConvert, OnePixelFillsEveryBlock) {
  const Picture picture = encode_test::solidPicture(1, 1, {255, 0, 0});
  McuConverter converter(picture, JpegColor::Rgb, JpegColor::YCbCr, 3, JpegSubsampling::H2V2);
  ASSERT_EQ(converter.choose(), JpegStatus::Ok);
  const int expected[6] = {-51, -51, -51, -51, -43, 128};
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(blockIs(converter.block(0, 0, i), expected[i])) << i;
}

// 17 pixels wide: the second MCU column has one valid column, which its luma repeats and
// whose per-pixel chroma is averaged over 2x2 samples.
TEST(EncoderColorConvert, SeventeenWideH2V2EdgeTile) {
  Picture picture{17, 16, 3, std::vector<uint8_t>(17 * 16 * 3)};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 17; ++x) {
      uint8_t* p = picture.at(x, y);
      p[0] = static_cast<uint8_t>(x * 15 + y * 3);
      p[1] = static_cast<uint8_t>(255 - y * 13);
      p[2] = static_cast<uint8_t>((x * y * 7) % 256);
    }
  }
  McuConverter converter(picture, JpegColor::Rgb, JpegColor::YCbCr, 3, JpegSubsampling::H2V2);
  ASSERT_EQ(converter.choose(), JpegStatus::Ok);
  for (int quarter = 0; quarter < 4; ++quarter) {
    const auto luma = converter.block(1, 0, quarter);
    for (int j = 0; j < 8; ++j) {
      const uint8_t* p = picture.at(16, (quarter / 2) * 8 + j);
      const int y = yccOf(p[0], p[1], p[2]).y;
      for (int i = 0; i < 8; ++i) ASSERT_EQ(luma[j * 8 + i], y) << quarter << " " << j << " " << i;
    }
  }
  const auto cb = converter.block(1, 0, 4);
  const auto cr = converter.block(1, 0, 5);
  for (int cy = 0; cy < 8; ++cy) {
    const uint8_t* top = picture.at(16, cy * 2);
    const uint8_t* bottom = picture.at(16, cy * 2 + 1);
    const Ycc a = yccOf(top[0], top[1], top[2]), b = yccOf(bottom[0], bottom[1], bottom[2]);
    for (int cx = 0; cx < 8; ++cx) {
      EXPECT_EQ(cb[cy * 8 + cx], (2 * a.cb + 2 * b.cb + 2) >> 2);
      EXPECT_EQ(cr[cy * 8 + cx], (2 * a.cr + 2 * b.cr + 2) >> 2);
    }
  }
}

TEST(EncoderColorConvert, BgrWrittenAsRgbSwapsTheOuterBytes) {
  const Picture picture = encode_test::solidPicture(8, 8, {10, 20, 30});
  McuConverter converter(picture, JpegColor::Bgr, JpegColor::Rgb, 3, JpegSubsampling::H1V1);
  ASSERT_EQ(converter.choose(), JpegStatus::Ok);
  EXPECT_TRUE(blockIs(converter.block(0, 0, 0), 30 - 128));
  EXPECT_TRUE(blockIs(converter.block(0, 0, 1), 20 - 128));
  EXPECT_TRUE(blockIs(converter.block(0, 0, 2), 10 - 128));
}

TEST(EncoderColorConvert, GrayWrittenAsYCbCrHasNeutralChroma) {
  const Picture picture = encode_test::solidPicture(5, 3, {200});
  McuConverter converter(picture, JpegColor::Gray, JpegColor::YCbCr, 3, JpegSubsampling::H2V2);
  ASSERT_EQ(converter.choose(), JpegStatus::Ok);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(blockIs(converter.block(0, 0, i), 72));
  EXPECT_TRUE(blockIs(converter.block(0, 0, 4), 0));
  EXPECT_TRUE(blockIs(converter.block(0, 0, 5), 0));
}

// Image row 0 lies in the last memory row; the edge rows repeat the last image row.
TEST(EncoderColorConvert, BottomUpBufferReadsTheLastMemoryRowFirst) {
  Picture picture{8, 5, 1, {}};
  for (int y = 0; y < 5; ++y) picture.bytes.insert(picture.bytes.end(), 8, static_cast<uint8_t>(10 + y * 20));
  for (bool bottomUp : {false, true}) {
    SCOPED_TRACE(bottomUp);
    McuConverter converter(picture, JpegColor::Gray, JpegColor::Gray, 1, JpegSubsampling::H1V1, bottomUp);
    ASSERT_EQ(converter.choose(), JpegStatus::Ok);
    const auto block = converter.block(0, 0, 0);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(block[j * 8 + 3], 10 + std::min(j, 4) * 20 - 128) << j;
  }
}

TEST(EncoderColorConvert, EdgeTilesAgreeWithWholeTilesOnLuma) {
  // A 16x16 picture read whole, and the same picture cut to 15 columns, must give the same
  // luma everywhere but the replicated column.
  Picture picture{16, 16, 3, std::vector<uint8_t>(16 * 16 * 3)};
  for (size_t i = 0; i < picture.bytes.size(); ++i) picture.bytes[i] = static_cast<uint8_t>(i * 29 % 251);
  Picture cut{15, 16, 3, {}};
  for (int y = 0; y < 16; ++y) cut.bytes.insert(cut.bytes.end(), picture.at(0, y), picture.at(15, y));
  McuConverter whole(picture, JpegColor::Rgb, JpegColor::YCbCr, 3, JpegSubsampling::H2V2);
  McuConverter edge(cut, JpegColor::Rgb, JpegColor::YCbCr, 3, JpegSubsampling::H2V2);
  ASSERT_EQ(whole.choose(), JpegStatus::Ok);
  ASSERT_EQ(edge.choose(), JpegStatus::Ok);
  for (int quarter = 0; quarter < 4; ++quarter) {
    const auto a = whole.block(0, 0, quarter);
    const auto b = edge.block(0, 0, quarter);
    for (int i = 0; i < 64; ++i) {
      if (quarter % 2 == 1 && i % 8 == 7) continue;
      ASSERT_EQ(a[i], b[i]) << quarter << " " << i;
    }
  }
  // Chroma of the two forms: within one of each other away from the cut column.
  for (int c = 4; c < 6; ++c) {
    const auto a = whole.block(0, 0, c);
    const auto b = edge.block(0, 0, c);
    for (int i = 0; i < 64; ++i) {
      if (i % 8 == 7) continue;
      EXPECT_LE(std::abs(a[i] - b[i]), 1) << c << " " << i;
    }
  }
}

}  // namespace

// RGB, BGR and four-byte RGB pixels written as grey: whole tiles (read straight into the block)
// and edge tiles (through the planes) give each pixel's luma, (77 r + 150 g + 29 b) / 256 - 128
// in fixed point, whatever the row order.
TEST(EncoderColorConvert, GreyFromColourPixelsIsTheLumaOfEachPixel) {
  struct Case {
    const char* name;
    JpegColor pixelColor;
    int channels;
    int red, blue;  // byte offsets of R and B in a pixel
  };
  const Case cases[] = {
      {"rgb", JpegColor::Rgb, 3, 0, 2}, {"bgr", JpegColor::Bgr, 3, 2, 0}, {"rgbx", JpegColor::Rgb, 4, 0, 2}};
  for (const Case& c : cases) {
    for (const int width : {16, 7}) {
      for (const bool bottomUp : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(width) +
                     (bottomUp ? " bottom-up" : ""));
        Picture picture{width, 8, c.channels,
                        std::vector<uint8_t>(static_cast<size_t>(width) * 8 * c.channels)};
        for (size_t i = 0; i < picture.bytes.size(); ++i)
          picture.bytes[i] = static_cast<uint8_t>(i * 97 % 256);
        McuConverter converter(picture, c.pixelColor, JpegColor::Gray, 1, JpegSubsampling::H1V1, bottomUp);
        ASSERT_EQ(converter.choose(), JpegStatus::Ok);
        const auto block = converter.block(0, 0, 0);
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) {
            const uint8_t* p = picture.at(std::min(x, width - 1), y);
            const int expected = (77 * p[c.red] + 150 * p[1] + 29 * p[c.blue] - 32640) >> 8;
            ASSERT_EQ(block[y * 8 + x], expected) << x << "," << y;
          }
        }
      }
    }
  }
}
