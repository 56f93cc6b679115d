// One jpegRead call sequence driven by arbitrary bytes: the libFuzzer target's body, also run by
// the unit tests over the regression cases in fuzz/regressions/ and over the corpus.
//
// The whole input is the JPEG stream; its last two bytes also choose the options (a real stream
// ends at EOI, so what follows is never read as image data):
//   last byte:   bits 0-2 operation (image, 1/2, 1/4, 1/8, thumbnail, tables then abbreviated
//                image, parameters only, image read on a fresh record without the parameters
//                read), bit 3 dctVariant, bits 4-6 pixel format, bit 7 bottom-up rows
//   byte before: bits 0-1 row padding, bit 2 interrupt after every MCU and resume, bits 3-4 the
//                scale of the fresh-record image read, bit 5 upsamplingMode 1, bit 6 the 1/1..1/8
//                image operations read two regions instead of the whole image (the two bytes
//                before choose the first; the second is its mirror), bit 7 they also fill
//                blockPlanes (coefficients or samples, by bit 3 of the last byte)
// Images are capped at kMaxPixels so one input cannot take seconds; every byte of the pixel
// buffer is read afterwards.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/decode/block_planes.h"
#include "codec/decode/region_decoder.h"
#include "codec/jpeg.h"

namespace fuzzing {

inline constexpr int64_t kMaxPixels = 1 << 18;
inline constexpr int kMaxResumes = 1 << 14;

enum class Operation {
  Image,
  Half,
  Quarter,
  Eighth,
  Thumbnail,
  TablesThenImage,
  ParamsOnly,
  ImageOnFreshRecord
};

struct HarnessPixelFormat {
  JpegColor color;
  int channels;
  int subsampling;  // 2 = packed YCbCr 4:2:2
};

inline constexpr HarnessPixelFormat kHarnessFormats[8] = {
    {JpegColor::Bgr, 3, 0},   {JpegColor::Rgb, 3, 0},   {JpegColor::Gray, 1, 0},  {JpegColor::Cmyk, 4, 0},
    {JpegColor::YCbCr, 2, 2}, {JpegColor::YCbCr, 3, 0}, {JpegColor::Other, 3, 0}, {JpegColor::Rgb, 4, 0},
};

struct HarnessOptions {
  Operation operation;
  int dctVariant;
  HarnessPixelFormat format;
  bool bottomUp;
  int padBytes;
  bool interruptEveryMcu;
  int freshRecordScale;
  bool fancyUpsampling;
  bool regions;
  bool blockPlanes;
  uint8_t regionPlacement;  // left/top in sixteenths of the image
  uint8_t regionExtent;     // width/height in sixteenths of what is left
};

inline HarnessOptions harnessOptions(const uint8_t* data, size_t size) {
  const uint8_t last = data[size - 1];
  const uint8_t before = data[size - 2];
  return {static_cast<Operation>(last & 7),
          (last >> 3) & 1,
          kHarnessFormats[(last >> 4) & 7],
          (last & 0x80) != 0,
          before & 3,
          (before & 4) != 0,
          1 << ((before >> 3) & 3),
          (before & 0x20) != 0,
          (before & 0x40) != 0,
          (before & 0x80) != 0,
          size >= 3 ? data[size - 3] : uint8_t{0},
          size >= 4 ? data[size - 4] : uint8_t{0}};
}

// A zeroed, initialised record over the input bytes; freed when it goes out of scope.
class HarnessRecord {
 public:
  HarnessRecord(std::vector<uint8_t>& bytes, int dctVariant)
      : record_(std::make_unique<JPEG_CODEC_PROPERTIES>()) {
    ok_ = jpegInit(record_.get()) == JpegStatus::Ok;
    record_->jpegBuffer = bytes.data();
    record_->jpegBufferSize = static_cast<int32_t>(bytes.size());
    record_->state.dctVariant = dctVariant;
  }
  ~HarnessRecord() {
    if (ok_) jpegFree(record_.get());
  }
  HarnessRecord(const HarnessRecord&) = delete;
  HarnessRecord& operator=(const HarnessRecord&) = delete;

  bool ok() const { return ok_; }
  JPEG_CODEC_PROPERTIES* operator->() { return record_.get(); }
  JPEG_CODEC_PROPERTIES* get() { return record_.get(); }

 private:
  std::unique_ptr<JPEG_CODEC_PROPERTIES> record_;
  bool ok_ = false;
};

// Exactly the bytes the record describes, so a write past them is an AddressSanitizer report.
struct HarnessPixels {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;

  void describe(JPEG_CODEC_PROPERTIES* record, int width, int height, const HarnessOptions& o) {
    const size_t stride = static_cast<size_t>(width) * o.format.channels + o.padBytes;
    size = stride * height;
    bytes = std::make_unique<uint8_t[]>(size);
    record->pixelData = bytes.get();
    record->pixelWidth = width;
    record->pixelHeight = o.bottomUp ? -height : height;
    record->pixelPadBytes = o.padBytes;
    record->pixelChannels = o.format.channels;
    record->pixelColor = o.format.color;
    record->pixelSubsampling = o.format.subsampling;
  }

  // Reads every byte, so a buffer smaller than described cannot go unnoticed.
  uint32_t touch() const {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = sum * 31 + bytes[i];
    return sum;
  }
};

// One plane per frame component, each exactly as large as blockPlaneSize says.
struct HarnessPlanes {
  JpegBlockPlanes record{};
  std::unique_ptr<int16_t[]> values[4];

  void attach(JPEG_CODEC_PROPERTIES* codec, int32_t mode) {
    JPEG_PROPERTIES& state = codec->state;
    record.mode = mode;
    for (int32_t c = 0; c < state.componentCount && c < 4; ++c) {
      const BlockPlaneSize plane = blockPlaneSize(state, c);
      values[c] =
          std::make_unique<int16_t[]>(static_cast<size_t>(plane.width) * static_cast<size_t>(plane.height));
      record.planes[c] = values[c].get();
    }
    state.blockPlanes = &record;
  }
};

struct HarnessRect {
  int32_t left, top, right, bottom;
};

// A rectangle inside a width x height image, placed by the option bytes.
inline HarnessRect harnessRegion(int32_t width, int32_t height, const HarnessOptions& o) {
  const int32_t left = width * (o.regionPlacement & 15) / 16;
  const int32_t top = height * (o.regionPlacement >> 4) / 16;
  const int32_t regionWidth = std::max(1, (width - left) * ((o.regionExtent & 15) + 1) / 16);
  const int32_t regionHeight = std::max(1, (height - top) * ((o.regionExtent >> 4) + 1) / 16);
  return {left, top, left + regionWidth, top + regionHeight};
}

inline HarnessRect mirrored(const HarnessRect& r, int32_t width, int32_t height) {
  return {width - r.right, height - r.bottom, width - r.left, height - r.top};
}

inline JpegStatus readWithResumes(JPEG_CODEC_PROPERTIES* record, JpegIoMode mode, bool interruptEveryMcu) {
  record->state.interruptRequest = interruptEveryMcu ? 1 : 0;
  JpegStatus status = jpegRead(record, mode);
  for (int resumes = 0; status == JpegStatus::InterruptOk && resumes < kMaxResumes; ++resumes) {
    record->state.interruptRequest = 1;
    status = jpegRead(record, mode);
  }
  return status;
}

inline JpegIoMode bufferImageMode(int scale) {
  switch (scale) {
    case 2:
      return JpegIoMode::BufferReadHalf;
    case 4:
      return JpegIoMode::BufferReadQuarter;
    case 8:
      return JpegIoMode::BufferReadEighth;
    default:
      return JpegIoMode::BufferReadImage;
  }
}

// A region read into a buffer of the region's size; returns a digest of the pixels.
inline uint32_t readRegion(JPEG_CODEC_PROPERTIES* record, JpegIoMode mode, const HarnessRect& r,
                           const HarnessOptions& o) {
  HarnessPixels pixels;
  pixels.describe(record, r.right - r.left, r.bottom - r.top, o);
  if (prepareRegionRead(record, mode, r.left, r.top, r.right, r.bottom) == JpegStatus::Ok)
    jpegRead(record, mode);
  return pixels.touch();
}

inline bool sizeAllowed(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= 65535 && height <= 65535 && width * height <= kMaxPixels;
}

// Returns a value derived from the output so the work cannot be optimised away.
inline uint32_t runJpegReadHarness(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const HarnessOptions o = harnessOptions(data, size);
  std::vector<uint8_t> bytes(data, data + size);
  HarnessRecord record(bytes, o.dctVariant);
  if (!record.ok()) return 0;

  if (o.operation == Operation::TablesThenImage) {
    // The stream as tables, then the same bytes as an abbreviated image using them.
    if (jpegRead(record.get(), JpegIoMode::BufferReadTables) != JpegStatus::Ok) return 1;
    HarnessRecord probe(bytes, o.dctVariant);
    if (!probe.ok() || jpegRead(probe.get(), JpegIoMode::BufferReadParams) != JpegStatus::Ok) return 2;
    if (!sizeAllowed(probe->jpegWidth, probe->jpegHeight)) return 3;
    HarnessPixels pixels;
    pixels.describe(record.get(), probe->jpegWidth, probe->jpegHeight, o);
    readWithResumes(record.get(), JpegIoMode::BufferReadImageNoTables, o.interruptEveryMcu);
    return pixels.touch();
  }

  const JpegStatus params = jpegRead(record.get(), JpegIoMode::BufferReadParams);
  if (params != JpegStatus::Ok || o.operation == Operation::ParamsOnly) return 4;
  const int64_t width = record->jpegWidth;
  const int64_t height = record->jpegHeight;
  if (!sizeAllowed(width, height)) return 5;

  record->state.upsamplingMode = o.fancyUpsampling ? 1 : 0;
  HarnessPlanes planes;
  if (o.blockPlanes) planes.attach(record.get(), o.dctVariant);
  HarnessPixels pixels;
  switch (o.operation) {
    case Operation::Thumbnail: {
      const int thumbWidth = record->thumbWidth > 0 ? record->thumbWidth : 1;
      const int thumbHeight = record->thumbHeight > 0 ? record->thumbHeight : 1;
      pixels.describe(record.get(), thumbWidth, thumbHeight, o);
      jpegRead(record.get(), JpegIoMode::BufferReadThumbnail);
      break;
    }
    case Operation::ImageOnFreshRecord: {
      HarnessRecord fresh(bytes, o.dctVariant);
      if (!fresh.ok()) return 6;
      const int scale = o.freshRecordScale;
      pixels.describe(fresh.get(), static_cast<int>((width + scale - 1) / scale),
                      static_cast<int>((height + scale - 1) / scale), o);
      readWithResumes(fresh.get(), bufferImageMode(scale), o.interruptEveryMcu);
      break;
    }
    default: {
      const int scale = 1 << static_cast<int>(o.operation);  // Image, Half, Quarter, Eighth
      const int32_t scaledWidth = static_cast<int32_t>((width + scale - 1) / scale);
      const int32_t scaledHeight = static_cast<int32_t>((height + scale - 1) / scale);
      if (o.regions) {
        const HarnessRect first = harnessRegion(scaledWidth, scaledHeight, o);
        const uint32_t digest = readRegion(record.get(), bufferImageMode(scale), first, o);
        return digest ^ readRegion(record.get(), bufferImageMode(scale),
                                   mirrored(first, scaledWidth, scaledHeight), o);
      }
      pixels.describe(record.get(), scaledWidth, scaledHeight, o);
      readWithResumes(record.get(), bufferImageMode(scale), o.interruptEveryMcu);
      break;
    }
  }
  return pixels.touch();
}

}  // namespace fuzzing
