#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using namespace stream_builder;

Bytes colorHeaders(const Bytes& afterSoi, int components) {
  Bytes out = marker(0xD8);
  append(out, afterSoi);
  append(out, dqt8(0, 1));
  append(out, standardTables());
  if (components == 4) {
    append(out, sof(0xC0, 16, 16, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}}));
    append(out, sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}}));
  } else {
    append(out, sof(0xC0, 16, 16, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
    append(out, sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}));
  }
  return out;
}

std::string writeTempFile(const Bytes& bytes) {
  char path[] = "/tmp/meshwick_ops_XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
  return path;
}

TEST(CodecOperations, InitStoresTheDefaults) {
  TestRecord record;
  EXPECT_EQ(record->state.ioMode, -1);
  EXPECT_EQ(record->pixelChannels, 3);
  EXPECT_EQ(record->pixelColor, JpegColor::Bgr);
  EXPECT_EQ(record->jpegChannels, 3);
  EXPECT_EQ(record->jpegColor, JpegColor::YCbCr);
  EXPECT_EQ(record->jpegSubsampling, JpegSubsampling::H2V2);
  EXPECT_EQ(record->quality, 75);
  EXPECT_EQ(record->state.dctVariant, 1);
  EXPECT_EQ(record->state.componentCount, 4);
  EXPECT_EQ(record->state.noFrameYet, 1);
  EXPECT_EQ(record->state.jfifVersion, 0x0101);
  EXPECT_EQ(record->state.adobeVersion, 100);
  EXPECT_NE(record->state.input.kernels, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(record->state.scratch) % 32, 0u);
  EXPECT_EQ(record->state.quantTables[3].values, record->state.quantTables[3].storage);
}

TEST(CodecOperations, ReadOfAnUnsetModeIsInvalid) {
  TestRecord record;
  EXPECT_EQ(jpegRead(record.get(), static_cast<JpegIoMode>(record->state.ioMode)),
            JpegStatus::InvalidProperties);
}

TEST(CodecOperations, ReadBeforeInitIsInvalid) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  EXPECT_EQ(jpegRead(record.get(), JpegIoMode::BufferReadParams), JpegStatus::InvalidProperties);
  EXPECT_EQ(jpegFree(record.get()), JpegStatus::Ok);
}

struct ValidationCase {
  const char* name;
  JpegIoMode mode;
  std::function<void(JPEG_CODEC_PROPERTIES*)> change;
  JpegStatus expected;
};

class CodecValidation : public ::testing::TestWithParam<ValidationCase> {};

// A valid buffer-mode image read broken in one or more ways: the first failing check wins.
TEST_P(CodecValidation, FirstFailingCheckDecides) {
  TestRecord record;
  static uint8_t pixels[16 * 16 * 3];
  static uint8_t stream[4] = {0xFF, 0xD8, 0xFF, 0xD9};
  record->pixelData = pixels;
  record->pixelWidth = 16;
  record->pixelHeight = 16;
  record->jpegBuffer = stream;
  record->jpegBufferSize = sizeof stream;
  GetParam().change(record.get());
  EXPECT_EQ(jpegRead(record.get(), GetParam().mode), GetParam().expected);
}

using P = JPEG_CODEC_PROPERTIES*;
INSTANTIATE_TEST_SUITE_P(
    Cases, CodecValidation,
    ::testing::Values(ValidationCase{"ModeAboveRange", static_cast<JpegIoMode>(22), [](P) {},
                                     JpegStatus::InvalidProperties},
                      ValidationCase{"WriteModeInRead", JpegIoMode::BufferWriteImage, [](P) {},
                                     JpegStatus::InvalidProperties},
                      ValidationCase{"NoPixels", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelData = nullptr; }, JpegStatus::InvalidProperties},
                      ValidationCase{"WidthZero", JpegIoMode::BufferReadImage, [](P p) { p->pixelWidth = 0; },
                                     JpegStatus::InvalidProperties},
                      ValidationCase{"WidthTooLarge", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelWidth = 65536; }, JpegStatus::InvalidProperties},
                      ValidationCase{"HeightTooNegative", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelHeight = -65536; }, JpegStatus::InvalidProperties},
                      ValidationCase{"ThumbnailIntoGrayBeforeAnythingElse", JpegIoMode::BufferReadThumbnail,
                                     [](P p) {
                                       p->pixelColor = JpegColor::Gray;
                                       p->pixelSubsampling = 2;
                                       p->jpegBuffer = nullptr;
                                     },
                                     JpegStatus::ThumbnailWrongColor},
                      ValidationCase{"NegativePadding", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelPadBytes = -1; }, JpegStatus::InvalidProperties},
                      ValidationCase{"NoChannels", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelChannels = 0; }, JpegStatus::InvalidProperties},
                      ValidationCase{"TooManyChannels", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelChannels = 256; }, JpegStatus::InvalidProperties},
                      ValidationCase{"PackedPixelsNotYCbCrBeforeBufferCheck", JpegIoMode::BufferReadImage,
                                     [](P p) {
                                       p->pixelSubsampling = 2;
                                       p->jpegBuffer = nullptr;
                                     },
                                     JpegStatus::UnsupportedSubsampling},
                      ValidationCase{"PixelSubsamplingOne", JpegIoMode::BufferReadImage,
                                     [](P p) { p->pixelSubsampling = 1; }, JpegStatus::InvalidProperties},
                      ValidationCase{"NoBuffer", JpegIoMode::BufferReadParams,
                                     [](P p) { p->jpegBuffer = nullptr; }, JpegStatus::InvalidProperties},
                      ValidationCase{"EmptyBuffer", JpegIoMode::BufferReadParams,
                                     [](P p) { p->jpegBufferSize = 0; }, JpegStatus::InvalidProperties},
                      ValidationCase{"NegativeBufferSize", JpegIoMode::BufferReadParams,
                                     [](P p) { p->jpegBufferSize = -4; }, JpegStatus::InvalidProperties},
                      ValidationCase{"NoFileName", JpegIoMode::FileReadParams, [](P) {},
                                     JpegStatus::InvalidProperties},
                      ValidationCase{"MissingFile", JpegIoMode::FileReadParams,
                                     [](P p) { p->jpegFileName = "/nonexistent/meshwick.jpg"; },
                                     JpegStatus::InvalidFileName},
                      ValidationCase{"NoJpegChannels", JpegIoMode::BufferReadParams,
                                     [](P p) { p->jpegChannels = 0; }, JpegStatus::InvalidProperties},
                      ValidationCase{"CmykIntoBgr", JpegIoMode::BufferReadParams,
                                     [](P p) {
                                       p->jpegColor = JpegColor::Cmyk;
                                       p->jpegChannels = 4;
                                     },
                                     JpegStatus::InvalidProperties},
                      ValidationCase{"GrayIntoFourByteCmykIsAccepted", JpegIoMode::BufferReadParams,
                                     [](P p) {
                                       p->jpegColor = JpegColor::Gray;
                                       p->jpegChannels = 1;
                                       p->pixelColor = JpegColor::Cmyk;
                                       p->pixelChannels = 4;
                                     },
                                     JpegStatus::Ok},
                      ValidationCase{"DctVariantTwo", JpegIoMode::BufferReadParams,
                                     [](P p) { p->state.dctVariant = 2; }, JpegStatus::InvalidProperties},
                      ValidationCase{"ParametersNeedNoPixels", JpegIoMode::BufferReadParams,
                                     [](P p) { p->pixelData = nullptr; }, JpegStatus::Ok}),
    [](const ::testing::TestParamInfo<ValidationCase>& info) { return std::string(info.param.name); });

// A 2 x h JFIF thumbnail of distinct pixels, read into a bottom-up buffer with padded rows.
TEST(CodecOperations, NegativeHeightStoresRowZeroAtTheLastRowInMemory) {
  for (const int rows : {1, 3}) {
    Bytes rgb;
    for (int i = 0; i < 2 * rows; ++i) rgb.insert(rgb.end(), {static_cast<uint8_t>(10 * i), 1, 2});
    Bytes stream = colorHeaders(jfif(2, static_cast<uint8_t>(rows), rgb), 3);
    TestRecord record;
    record.useBuffer(stream);
    const int stride = 2 * 3 + 2;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride * rows), 0xEE);
    record->pixelData = pixels.data();
    record->pixelWidth = 2;
    record->pixelHeight = -rows;
    record->pixelPadBytes = 2;
    record->pixelColor = JpegColor::Rgb;
    ASSERT_EQ(record.read(JpegIoMode::BufferReadThumbnail), JpegStatus::Ok);
    for (int y = 0; y < rows; ++y) {
      const uint8_t* memoryRow = pixels.data() + (rows - 1 - y) * stride;
      EXPECT_EQ(memoryRow[0], 20 * y) << "image row " << y;
      EXPECT_EQ(memoryRow[3], 20 * y + 10) << "image row " << y;
      EXPECT_EQ(memoryRow[6], 0xEE) << "padding untouched";
    }
  }
}

TEST(CodecOperations, ThumbnailIsStoredBgrUnlessRgbIsAsked) {
  Bytes stream = colorHeaders(jfif(1, 1, {30, 20, 10}), 3);
  for (const JpegColor color : {JpegColor::Rgb, JpegColor::Bgr}) {
    TestRecord record;
    record.useBuffer(stream);
    uint8_t pixel[3] = {};
    record->pixelData = pixel;
    record->pixelWidth = 1;
    record->pixelHeight = 1;
    record->pixelColor = color;
    ASSERT_EQ(record.read(JpegIoMode::BufferReadThumbnail), JpegStatus::Ok);
    EXPECT_EQ(pixel[0], color == JpegColor::Rgb ? 30 : 10);
    EXPECT_EQ(pixel[2], color == JpegColor::Rgb ? 10 : 30);
  }
}

TEST(CodecOperations, PaletteThumbnailWritesThePaletteColours) {
  Bytes payload = {'J', 'F', 'X', 'X', 0, 0x11, 2, 1};
  Bytes palette(768, 0);
  palette[3 * 7] = 200;      // index 7: R 200
  palette[3 * 9 + 2] = 100;  // index 9: B 100
  append(payload, palette);
  payload.insert(payload.end(), {7, 9});
  Bytes stream = colorHeaders(segment(0xE0, payload), 3);
  TestRecord record;
  record.useBuffer(stream);
  uint8_t pixels[6] = {};
  record->pixelData = pixels;
  record->pixelWidth = 2;
  record->pixelHeight = 1;
  record->pixelColor = JpegColor::Rgb;
  ASSERT_EQ(record.read(JpegIoMode::BufferReadThumbnail), JpegStatus::Ok);
  EXPECT_EQ(record->thumbWidth, 2);
  EXPECT_EQ(record->thumbHeight, 1);
  const uint8_t expected[6] = {200, 0, 0, 0, 0, 100};
  EXPECT_EQ(std::memcmp(pixels, expected, 6), 0);
}

TEST(CodecOperations, ThumbnailLargerThanTheBufferIsRefused) {
  Bytes stream = colorHeaders(jfif(4, 4, Bytes(48, 9)), 3);
  TestRecord record;
  record.useBuffer(stream);
  std::vector<uint8_t> pixels(4 * 3 * 4, 0);
  record->pixelData = pixels.data();
  record->pixelWidth = 4;
  record->pixelHeight = 3;
  EXPECT_EQ(record.read(JpegIoMode::BufferReadThumbnail), JpegStatus::ThumbnailTooSmall);
  EXPECT_EQ(pixels[0], 0);
}

TEST(CodecOperations, AdobeTransformTwoWithFourComponentsReportsYcckIntoCmyk) {
  Bytes stream = colorHeaders(adobe(2), 4);
  const std::string path = writeTempFile(stream);
  for (const JpegIoMode mode : {JpegIoMode::FileReadParams, JpegIoMode::BufferReadParams}) {
    TestRecord record;
    record.useBuffer(stream);
    record->jpegFileName = path.c_str();
    ASSERT_EQ(record.read(mode), JpegStatus::Ok);
    EXPECT_EQ(record->jpegColor, JpegColor::Ycck);
    EXPECT_EQ(record->pixelColor, JpegColor::Cmyk);
    EXPECT_EQ(record->pixelChannels, 4);
    EXPECT_EQ(record->jpegChannels, 4);
    EXPECT_EQ(record->jpegSubsampling, JpegSubsampling::H1V1);
  }
  std::remove(path.c_str());
}

TEST(CodecOperations, AdobeTransformZeroWithThreeComponentsIsRgb) {
  Bytes stream = colorHeaders(adobe(0), 3);
  TestRecord record;
  record.useBuffer(stream);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->jpegColor, JpegColor::Rgb);
}

TEST(CodecOperations, ErrorStringsAreTheFixedTexts) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "Success"},
      {1, "Interrupt Success"},
      {2, "ROI Success"},
      {-1, "Exception detected"},
      {-7, "Bad Quantization table"},
      {-8, "Invalid JPEG_PROPERTIES"},
      {-20, "Multiply frame"},
      {-29, "Unsupported frame was found"},
      {-30, "Error access to jpeg_comment buffer"},
      {-31, "Unknown error code"},
      {3, "Unknown error code"},
      {-98, "Unknown error code"},
      {-99, "Reserved"},
      {-100, "Unknown error code"},
  };
  for (const auto& [status, text] : cases) EXPECT_STREQ(jpegErrorString(status), text) << status;
}

TEST(CodecOperations, VersionRecord) {
  const JpegVersion* version = jpegGetVersion();
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->major, 1);
  EXPECT_EQ(version->minor, 51);
  EXPECT_EQ(version->build, 12);
  EXPECT_STREQ(version->version, "1.51.12");
  EXPECT_STREQ(version->internalVersion, "[1.51.12.44]");
  EXPECT_STREQ(version->buildDate, "May 30 2001");
  EXPECT_STREQ(version->buildTool, "Microsoft*");
  EXPECT_EQ(version->reservedValue, 1000);
}

TEST(CodecOperations, FreeReleasesTheKernelTable) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
  EXPECT_EQ(jpegFree(record.get()), JpegStatus::Ok);
  EXPECT_EQ(record->state.input.kernels, nullptr);
  EXPECT_EQ(record->state.components, nullptr);
}

// Every prefix of a header stream, each in a buffer of exactly its size: a status, never more.
TEST(CodecOperations, TruncatedStreamsEndWithAStatus) {
  Bytes stream = colorHeaders(jfif(1, 1, {1, 2, 3}), 3);
  for (size_t length = 1; length < stream.size(); ++length) {
    std::vector<uint8_t> prefix(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(length));
    TestRecord record;
    record.useBuffer(prefix);
    const JpegStatus status = record.read(JpegIoMode::BufferReadParams);
    EXPECT_LE(static_cast<int32_t>(status), 0) << length;
    EXPECT_LE(record->state.input.consumed, length);
  }
}

}  // namespace
