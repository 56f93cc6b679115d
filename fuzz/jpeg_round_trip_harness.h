// Write-then-read round trip driven by arbitrary bytes: a small image in one of the accepted
// pixel/JPEG colour and sampling pairs is written with jpegWrite into a memory buffer and read
// back with jpegRead. Every accepted combination must write and read back at its own size; any
// other outcome is a fault and aborts, so libFuzzer keeps the input.
//
// Input bytes: [0] width - 1 (low 6 bits), [1] height - 1 (low 6 bits), [2] layout index,
// [3] quality, [4] bit 0 dctVariant, bit 1 progressive, bits 2-3 restart interval, bit 4 bottom-up;
// the rest fills the pixels (repeated when short).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/jpeg.h"

namespace fuzzing {

struct RoundTripLayout {
  JpegColor pixelColor;
  int pixelChannels;
  JpegColor jpegColor;
  int jpegChannels;
  JpegSubsampling sampling;
  JpegColor readColor;  // pixel colour asked for on the way back
  int readChannels;
};

inline constexpr RoundTripLayout kRoundTripLayouts[] = {
    {JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H1V1, JpegColor::Bgr, 3},
    {JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V1, JpegColor::Bgr, 3},
    {JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, JpegColor::Bgr, 3},
    {JpegColor::Rgb, 3, JpegColor::YCbCr, 3, JpegSubsampling::H1V1, JpegColor::Rgb, 3},
    {JpegColor::Rgb, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V1, JpegColor::Rgb, 3},
    {JpegColor::Rgb, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, JpegColor::Rgb, 3},
    {JpegColor::Rgb, 4, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, JpegColor::Rgb, 3},
    {JpegColor::Bgr, 3, JpegColor::Gray, 1, JpegSubsampling::H1V1, JpegColor::Gray, 1},
    {JpegColor::Rgb, 3, JpegColor::Gray, 1, JpegSubsampling::H1V1, JpegColor::Bgr, 3},
    {JpegColor::Gray, 1, JpegColor::Gray, 1, JpegSubsampling::H1V1, JpegColor::Gray, 1},
    {JpegColor::Gray, 1, JpegColor::YCbCr, 3, JpegSubsampling::H2V2, JpegColor::Bgr, 3},
    {JpegColor::Bgr, 3, JpegColor::Rgb, 3, JpegSubsampling::H1V1, JpegColor::Rgb, 3},
    {JpegColor::Cmyk, 4, JpegColor::Ycck, 4, JpegSubsampling::H1V1, JpegColor::Cmyk, 4},
    {JpegColor::Cmyk, 4, JpegColor::Ycck, 4, JpegSubsampling::H2V1K, JpegColor::Cmyk, 4},
    {JpegColor::Cmyk, 4, JpegColor::Ycck, 4, JpegSubsampling::H2V2K, JpegColor::Cmyk, 4},
    {JpegColor::Cmyk, 4, JpegColor::Cmyk, 4, JpegSubsampling::H1V1, JpegColor::Cmyk, 4},
};
inline constexpr size_t kRoundTripLayoutCount = sizeof(kRoundTripLayouts) / sizeof(kRoundTripLayouts[0]);

inline void roundTripFault() {
  std::abort();
}

// Returns a digest of the decoded pixels so the work cannot be optimised away.
inline uint32_t runJpegRoundTripHarness(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int width = (data[0] & 63) + 1;
  const int height = (data[1] & 63) + 1;
  const RoundTripLayout& layout = kRoundTripLayouts[data[2] % kRoundTripLayoutCount];
  const int quality = data[3] % 101;
  const bool progressive = (data[4] & 2) != 0;
  const int restart = (data[4] >> 2) & 3;
  const bool bottomUp = (data[4] & 16) != 0;

  const size_t pixelBytes = static_cast<size_t>(width) * height * layout.pixelChannels;
  std::vector<uint8_t> pixels(pixelBytes);
  for (size_t i = 0; i < pixelBytes; ++i) pixels[i] = size > 5 ? data[5 + i % (size - 5)] : 0;

  auto writer = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(writer.get()) != JpegStatus::Ok) return 0;
  std::vector<uint8_t> stream(65536 + pixelBytes * 4);
  writer->pixelData = pixels.data();
  writer->pixelWidth = width;
  writer->pixelHeight = bottomUp ? -height : height;
  writer->pixelChannels = layout.pixelChannels;
  writer->pixelColor = layout.pixelColor;
  writer->jpegWidth = width;
  writer->jpegHeight = height;
  writer->jpegChannels = layout.jpegChannels;
  writer->jpegColor = layout.jpegColor;
  writer->jpegSubsampling = layout.sampling;
  writer->jpegBuffer = stream.data();
  writer->jpegBufferSize = static_cast<int32_t>(stream.size());
  writer->quality = quality;
  writer->state.dctVariant = data[4] & 1;
  writer->state.progressive = progressive ? 1 : 0;
  writer->state.restartInterval = restart;
  const JpegStatus written = jpegWrite(writer.get(), JpegIoMode::BufferWriteImage);
  const int32_t streamSize = writer->jpegBufferSize;
  jpegFree(writer.get());
  if (written != JpegStatus::Ok || streamSize <= 0) roundTripFault();

  auto reader = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(reader.get()) != JpegStatus::Ok) return 0;
  reader->jpegBuffer = stream.data();
  reader->jpegBufferSize = streamSize;
  if (jpegRead(reader.get(), JpegIoMode::BufferReadParams) != JpegStatus::Ok) roundTripFault();
  if (reader->jpegWidth != width || reader->jpegHeight != height ||
      reader->jpegChannels != layout.jpegChannels)
    roundTripFault();
  std::vector<uint8_t> decoded(static_cast<size_t>(width) * height * layout.readChannels);
  reader->pixelData = decoded.data();
  reader->pixelWidth = width;
  reader->pixelHeight = height;
  reader->pixelChannels = layout.readChannels;
  reader->pixelColor = layout.readColor;
  reader->pixelPadBytes = 0;
  if (jpegRead(reader.get(), JpegIoMode::BufferReadImage) != JpegStatus::Ok) roundTripFault();
  jpegFree(reader.get());

  uint32_t digest = 0;
  for (uint8_t byte : decoded) digest = digest * 31 + byte;
  return digest;
}

}  // namespace fuzzing
