// Streams written by the encoder, read back by the codec's own decoder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "encode_support.h"

namespace {

using encode_test::Picture;
using encode_test::psnr;
using encode_test::writePicture;
using encode_test::WriteRequest;

struct Decoded {
  JpegStatus status = JpegStatus::InternalError;
  Picture picture;
};

// Parameters first, then the image into a buffer of the reported size.
Decoded readBack(std::vector<uint8_t> stream, JpegColor pixelColor, int channels, int dctVariant) {
  Decoded result;
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(record.get()) != JpegStatus::Ok) return result;
  record->jpegBuffer = stream.data();
  record->jpegBufferSize = static_cast<int32_t>(stream.size());
  record->state.dctVariant = dctVariant;
  result.status = jpegRead(record.get(), JpegIoMode::BufferReadParams);
  if (result.status == JpegStatus::Ok) {
    result.picture = {
        record->jpegWidth, record->jpegHeight, channels,
        std::vector<uint8_t>(static_cast<size_t>(record->jpegWidth) * record->jpegHeight * channels)};
    record->pixelData = result.picture.bytes.data();
    record->pixelWidth = record->jpegWidth;
    record->pixelHeight = record->jpegHeight;
    record->pixelChannels = channels;
    record->pixelColor = pixelColor;
    result.status = jpegRead(record.get(), JpegIoMode::BufferReadImage);
  }
  jpegFree(record.get());
  return result;
}

struct Case {
  const char* name;
  JpegColor jpegColor;
  int jpegChannels;
  JpegSubsampling subsampling;
  int quality;
  int dctVariant;
  int restartInterval;
  double floorDb;      // against the source: measured less about 0.5 dB
  double agreementDb;  // between the two decoders
};

// Our decoder and djpeg read the same streams; both must give back the picture, and they
// must agree closely with each other. They differ in inverse-transform rounding and, for
// subsampled chroma, in upsampling: ours replicates, djpeg interpolates, which costs our
// read about 0.8 dB on this picture and keeps the two about 36 dB apart. Measured (own
// decoder / djpeg / between): 420 q75 28.75/29.59/36.47, 420 q100 30.28/31.06/36.05,
// 422 q90 31.52/32.40/38.99, 444 q90 36.63/36.73/51.98, rgb q90 39.33/39.33/60.29.
TEST(EncoderRoundTrip, OwnDecoderReadsWhatTheEncoderWrites) {
  const Case cases[] = {
      {"420 q75", JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 75, 1, 0, 28.2, 35.0},
      {"420 q100 restarts", JpegColor::YCbCr, 3, JpegSubsampling::H2V2, 100, 1, 7, 29.7, 35.0},
      {"422 q90 aan", JpegColor::YCbCr, 3, JpegSubsampling::H2V1, 90, 0, 0, 31.0, 37.5},
      {"444 q90", JpegColor::YCbCr, 3, JpegSubsampling::H1V1, 90, 1, 3, 36.1, 48.0},
      {"rgb q90", JpegColor::Rgb, 3, JpegSubsampling::H1V1, 90, 0, 0, 38.8, 55.0},
  };
  const Picture source = encode_test::sourcePicture("photo_256x192.ppm");
  ASSERT_EQ(source.width, 256);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRequest request;
    request.jpegColor = c.jpegColor;
    request.jpegChannels = c.jpegChannels;
    request.subsampling = c.subsampling;
    request.quality = c.quality;
    request.dctVariant = c.dctVariant;
    request.restartInterval = c.restartInterval;
    const auto written = writePicture(source, request);
    ASSERT_EQ(written.status, JpegStatus::Ok);
    const Decoded ours = readBack(written.bytes, JpegColor::Rgb, 3, c.dctVariant);
    ASSERT_EQ(ours.status, JpegStatus::Ok);
    const double oursDb = psnr(ours.picture, source);
    EXPECT_GE(oursDb, c.floorDb);
    const auto djpeg = encode_test::decodeWithDjpeg(written.bytes);
    ASSERT_EQ(djpeg.exitStatus, 0);
    EXPECT_GE(psnr(ours.picture, djpeg.picture), c.agreementDb);
  }
}

TEST(EncoderRoundTrip, GrayReadsBackAsGray) {
  Picture gray{97, 61, 1, {}};
  const Picture rgb = encode_test::sourcePicture("photo_97x61.ppm");
  for (int i = 0; i < rgb.width * rgb.height; ++i) {
    const uint8_t* p = rgb.bytes.data() + i * 3;
    gray.bytes.push_back(static_cast<uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8));
  }
  WriteRequest request;
  request.pixelColor = JpegColor::Gray;
  request.jpegColor = JpegColor::Gray;
  request.jpegChannels = 1;
  request.subsampling = JpegSubsampling::H1V1;
  request.quality = 95;
  const auto written = writePicture(gray, request);
  ASSERT_EQ(written.status, JpegStatus::Ok);
  const Decoded ours = readBack(written.bytes, JpegColor::Gray, 1, 1);
  ASSERT_EQ(ours.status, JpegStatus::Ok);
  EXPECT_GE(psnr(ours.picture, gray), 38.0);
}

}  // namespace
