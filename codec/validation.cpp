#include "codec/validation.h"

#include <cstdlib>
#include <limits>

namespace {

constexpr int32_t kMaxDimension = 65535;

bool isColor(JpegColor value, JpegColor expected) {
  return value == expected;
}

// Pixel colours a read may produce from a JPEG colour, with the channel counts required.
bool readPairSupported(JpegColor jpeg, int32_t jpegChannels, JpegColor pixel, int32_t pixelChannels) {
  const auto pixelIs = [&](JpegColor color, int32_t channels) {
    return pixel == color && pixelChannels == channels;
  };
  switch (jpeg) {
    case JpegColor::Gray:
      return jpegChannels == 1 && (pixelIs(JpegColor::Gray, 1) || pixelIs(JpegColor::Rgb, 3) ||
                                   pixelIs(JpegColor::Bgr, 3) || pixelIs(JpegColor::Cmyk, 4));
    case JpegColor::Rgb:
      return jpegChannels == 3 &&
             (pixelIs(JpegColor::Rgb, 3) || pixelIs(JpegColor::Bgr, 3) || pixelIs(JpegColor::Cmyk, 4));
    case JpegColor::YCbCr:
      return jpegChannels == 3 &&
             (pixelIs(JpegColor::Gray, 1) || pixelIs(JpegColor::Rgb, 3) || pixelIs(JpegColor::Bgr, 3) ||
              pixelIs(JpegColor::Cmyk, 4) || pixel == JpegColor::YCbCr);
    case JpegColor::Cmyk:
    case JpegColor::Ycck:
      return jpegChannels == 4 && pixelIs(JpegColor::Cmyk, 4);
    case JpegColor::Other:
      return pixel == JpegColor::Other;
    default:
      return false;
  }
}

// JPEG colours a write may produce from a pixel colour, with the channel counts required.
bool writePairSupported(JpegColor pixel, int32_t pixelChannels, int32_t pixelSubsampling, JpegColor jpeg,
                        int32_t jpegChannels) {
  const auto jpegIs = [&](JpegColor color, int32_t channels) {
    return jpeg == color && jpegChannels == channels;
  };
  switch (pixel) {
    case JpegColor::Gray:
      return pixelChannels == 1 && (jpegIs(JpegColor::Gray, 1) || jpegIs(JpegColor::YCbCr, 3));
    case JpegColor::Rgb:
      if (pixelChannels == 4) return jpegIs(JpegColor::YCbCr, 3);
      return pixelChannels == 3 &&
             (jpegIs(JpegColor::Gray, 1) || jpegIs(JpegColor::Rgb, 3) || jpegIs(JpegColor::YCbCr, 3));
    case JpegColor::Bgr:
      return pixelChannels == 3 &&
             (jpegIs(JpegColor::Gray, 1) || jpegIs(JpegColor::Rgb, 3) || jpegIs(JpegColor::YCbCr, 3));
    case JpegColor::Cmyk:
      return pixelChannels == 4 && (jpegIs(JpegColor::Cmyk, 4) || jpegIs(JpegColor::Ycck, 4));
    case JpegColor::YCbCr:
      // Packed 4:2:2 pixels carry two bytes per pixel whatever pixelChannels says.
      return (pixelChannels == 3 || pixelSubsampling == 2) && jpegIs(JpegColor::YCbCr, 3);
    case JpegColor::Other:
      return jpeg == JpegColor::Other && jpegChannels <= pixelChannels;
    default:
      return false;
  }
}

bool subsamplingFitsComponents(JpegSubsampling subsampling, int32_t channels) {
  const int32_t value = static_cast<int32_t>(subsampling);
  switch (channels) {
    case 3:
      return value == 0 || value == 1 || value == 2;
    case 4:
      return value == 0 || value == 3 || value == 4;
    default:
      return value == 0;
  }
}

JpegStatus validatePixelBuffer(const JPEG_CODEC_PROPERTIES* p, int32_t mode) {
  if (p->pixelData == nullptr) return JpegStatus::InvalidProperties;
  if (p->pixelWidth < 1 || p->pixelWidth > kMaxDimension) return JpegStatus::InvalidProperties;
  // A zero height describes no buffer at all.
  if (p->pixelHeight < -kMaxDimension || p->pixelHeight > kMaxDimension || p->pixelHeight == 0) {
    return JpegStatus::InvalidProperties;
  }
  if (isThumbnailMode(mode) && !isColor(p->pixelColor, JpegColor::Rgb) &&
      !isColor(p->pixelColor, JpegColor::Bgr)) {
    return JpegStatus::ThumbnailWrongColor;
  }
  if (p->pixelPadBytes < 0) return JpegStatus::InvalidProperties;
  if (p->pixelChannels < 1 || p->pixelChannels > 255) return JpegStatus::InvalidProperties;
  if (p->pixelSubsampling != 0 && p->pixelSubsampling != 2) return JpegStatus::InvalidProperties;
  if (p->pixelSubsampling == 2 && p->pixelColor != JpegColor::YCbCr)
    return JpegStatus::UnsupportedSubsampling;
  const bool packed = isWriteMode(mode) && p->pixelSubsampling == 2;
  const int64_t stride = unsignedLineStride(p->pixelWidth, p->pixelChannels, p->pixelPadBytes, packed);
  if (stride > std::numeric_limits<int32_t>::max()) return JpegStatus::InvalidProperties;
  return JpegStatus::Ok;
}

}  // namespace

bool needsPixelBuffer(int32_t mode) {
  const JpegIoMode operation = operationOf(mode);
  return isImageReadMode(mode) || isThumbnailMode(mode) || operation == JpegIoMode::FileWriteImage ||
         operation == JpegIoMode::FileWriteImageNoTables;
}

int32_t scaleOfMode(int32_t mode) {
  switch (operationOf(mode)) {
    case JpegIoMode::FileReadHalf:
      return 2;
    case JpegIoMode::FileReadQuarter:
      return 4;
    case JpegIoMode::FileReadEighth:
      return 8;
    default:
      return 1;
  }
}

JpegStatus validateProperties(const JPEG_CODEC_PROPERTIES* p, int32_t mode) {
  if (!isReadMode(mode) && !isWriteMode(mode)) return JpegStatus::InvalidProperties;

  if (needsPixelBuffer(mode) && p->state.blockPlanes == nullptr) {
    const JpegStatus status = validatePixelBuffer(p, mode);
    if (status != JpegStatus::Ok) return status;
  }

  if (isFileMode(mode)) {
    if (p->jpegFileName == nullptr) return JpegStatus::InvalidProperties;
  } else if (p->jpegBuffer == nullptr || p->jpegBufferSize <= 0) {
    return JpegStatus::InvalidProperties;
  }

  if (p->jpegChannels < 1 || p->jpegChannels > 256) return JpegStatus::InvalidProperties;

  if (isWriteMode(mode)) {
    if (needsPixelBuffer(mode)) {
      if (p->jpegWidth < 1 || p->jpegWidth > kMaxDimension || p->jpegHeight < 1 ||
          p->jpegHeight > kMaxDimension) {
        return JpegStatus::InvalidProperties;
      }
      if (p->jpegChannels > p->pixelChannels && p->pixelColor != JpegColor::Gray &&
          p->jpegColor != JpegColor::YCbCr) {
        return JpegStatus::InvalidProperties;
      }
    }
    if (!subsamplingFitsComponents(p->jpegSubsampling, p->jpegChannels))
      return JpegStatus::UnsupportedSubsampling;
    if (!writePairSupported(p->pixelColor, p->pixelChannels, p->pixelSubsampling, p->jpegColor,
                            p->jpegChannels)) {
      return JpegStatus::InvalidProperties;
    }
  } else if (!readPairSupported(p->jpegColor, p->jpegChannels, p->pixelColor, p->pixelChannels)) {
    return JpegStatus::InvalidProperties;
  }

  if (p->state.dctVariant != 0 && p->state.dctVariant != 1) return JpegStatus::InvalidProperties;
  if (p->state.upsamplingMode == 1 && p->state.blockPlanes != nullptr) return JpegStatus::InvalidProperties;
  return JpegStatus::Ok;
}

int64_t unsignedLineStride(int32_t width, int32_t channels, int32_t padBytes, bool packed422) {
  const int64_t bytesPerPixel = packed422 ? 2 : channels;
  return int64_t{width} * bytesPerPixel + padBytes;
}

void applyLineStride(JPEG_PROPERTIES* state, uint8_t* pixelData, bool packed422) {
  const int64_t stride =
      unsignedLineStride(state->pixelWidth, state->pixelChannels, state->pixelPadBytes, packed422);
  state->lineStride = static_cast<int32_t>(stride);
  state->pixelData = pixelData;
  if (state->pixelHeight < 0 && pixelData != nullptr) {
    state->lineStride = -state->lineStride;
    const int64_t rows = -int64_t{state->pixelHeight};
    state->pixelData = pixelData + (rows - 1) * stride;
  }
}
