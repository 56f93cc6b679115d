// Helpers of the oracle tests: decoding through the public API into guarded buffers, running
// the independent decoders (djpeg, ImageMagick's convert) as black boxes, comparing pixels, and
// the checksum manifest of our own output.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "codec/jpeg.h"
#include "tests/support/pnm_image.h"
#include "tests/support/test_files.h"

namespace oracle {

namespace fs = std::filesystem;

inline std::vector<uint8_t> readFile(const fs::path& path) {
  return test::readBytes(path);
}

inline void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  test::writeBytes(path, bytes);
}

// Statuses compared as numbers, so a failure prints -19 rather than the enum's bytes.
inline int code(JpegStatus status) {
  return static_cast<int>(status);
}

inline fs::path testData() {
  return MESHWICK_TEST_DATA;
}
inline fs::path corpusDir() {
  return fs::path(MESHWICK_TEST_DATA) / "jpeg";
}

// --- pixels ---------------------------------------------------------------------------------

using test::Image;
using test::parsePnm;

// --- decoding through the public API --------------------------------------------------------

struct PixelFormat {
  const char* name;
  JpegColor color;
  int channels;
};
inline constexpr PixelFormat kBgr3{"bgr3", JpegColor::Bgr, 3};
inline constexpr PixelFormat kRgb3{"rgb3", JpegColor::Rgb, 3};
inline constexpr PixelFormat kGray1{"gray1", JpegColor::Gray, 1};
inline constexpr PixelFormat kCmyk4{"cmyk4", JpegColor::Cmyk, 4};

struct DecodeOptions {
  bool buffer = true;  // memory-buffer modes, else file modes
  int scale = 1;       // 1, 2, 4 or 8
  PixelFormat format = kBgr3;
  int dctVariant = 1;
  int upsamplingMode = 0;  // 1: triangle filter for 2:1 chroma
  int padBytes = 0;
  bool bottomUp = false;
  bool readParamsFirst = true;  // else the image read alone, sized by `width`/`height`
  int width = 0;                // output size when readParamsFirst is false
  int height = 0;
  // Without the parameters read the caller states the stream's colour and component count itself
  // (validation checks the caller's values; only a parameters read settles them from the stream).
  JpegColor jpegColor = JpegColor::YCbCr;
  int jpegChannels = 3;
};

struct Decoded {
  JpegStatus paramsStatus = JpegStatus::Ok;
  JpegStatus status = JpegStatus::Ok;
  JpegStatus freeStatus = JpegStatus::Ok;
  int jpegWidth = 0;
  int jpegHeight = 0;
  int jpegChannels = 0;
  JpegColor jpegColor = JpegColor::Other;
  JpegSubsampling jpegSubsampling = JpegSubsampling::Other;
  bool guardsIntact = true;  // nothing written before/after the buffer or into row padding
  Image image;
};

inline JpegIoMode imageMode(bool buffer, int scale) {
  const int base = scale == 1 ? 2 : scale == 2 ? 14 : scale == 4 ? 16 : 18;
  return static_cast<JpegIoMode>(base + (buffer ? 1 : 0));
}

inline const char* modeName(int scale) {
  return scale == 1 ? "ReadImage" : scale == 2 ? "ReadHalf" : scale == 4 ? "ReadQuarter" : "ReadEighth";
}

inline int scaledSize(int size, int scale) {
  return (size + scale - 1) / scale;
}

// A zeroed record, initialised; released by the deleter if the test forgets.
struct Codec {
  std::unique_ptr<JPEG_CODEC_PROPERTIES> record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  JpegStatus initStatus = jpegInit(record.get());
  JPEG_CODEC_PROPERTIES* operator->() { return record.get(); }
  JPEG_CODEC_PROPERTIES* get() { return record.get(); }
};

inline constexpr uint8_t kCanary = 0xA7;
inline constexpr size_t kGuardBytes = 64;

// Pixel memory with guard bytes before and after; the row padding is canary-filled as well.
struct GuardedBuffer {
  std::vector<uint8_t> memory;
  size_t stride = 0;
  int rows = 0;

  GuardedBuffer(int width, int height, int channels, int padBytes)
      : memory(2 * kGuardBytes + (static_cast<size_t>(width) * channels + padBytes) * height, kCanary),
        stride(static_cast<size_t>(width) * channels + padBytes),
        rows(height) {}

  uint8_t* data() { return memory.data() + kGuardBytes; }

  bool intact(int width, int channels) const {
    auto canary = [](uint8_t b) { return b == kCanary; };
    const uint8_t* rowsStart = memory.data() + kGuardBytes;
    if (!std::all_of(memory.begin(), memory.begin() + kGuardBytes, canary)) return false;
    if (!std::all_of(memory.end() - kGuardBytes, memory.end(), canary)) return false;
    const size_t used = static_cast<size_t>(width) * channels;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* pad = rowsStart + y * stride + used;
      if (!std::all_of(pad, pad + (stride - used), canary)) return false;
    }
    return true;
  }
};

// Decodes `bytes` in the memory modes, or the file `path` (which holds the same bytes) in the
// file modes.
inline Decoded decodeStream(std::vector<uint8_t> bytes, const fs::path& path, const DecodeOptions& options) {
  Decoded result;
  Codec codec;
  if (codec.initStatus != JpegStatus::Ok) {
    result.status = codec.initStatus;
    return result;
  }
  const std::string name = path.string();
  codec->jpegFileName = name.c_str();
  codec->jpegBuffer = bytes.data();
  codec->jpegBufferSize = static_cast<int32_t>(bytes.size());
  codec->state.dctVariant = options.dctVariant;
  codec->state.upsamplingMode = options.upsamplingMode;

  int width = options.width;
  int height = options.height;
  if (options.readParamsFirst) {
    result.paramsStatus =
        jpegRead(codec.get(), options.buffer ? JpegIoMode::BufferReadParams : JpegIoMode::FileReadParams);
    result.jpegWidth = codec->jpegWidth;
    result.jpegHeight = codec->jpegHeight;
    result.jpegChannels = codec->jpegChannels;
    result.jpegColor = codec->jpegColor;
    result.jpegSubsampling = codec->jpegSubsampling;
    if (result.paramsStatus != JpegStatus::Ok) {
      result.status = result.paramsStatus;
      result.freeStatus = jpegFree(codec.get());
      return result;
    }
    width = scaledSize(codec->jpegWidth, options.scale);
    height = scaledSize(codec->jpegHeight, options.scale);
  }
  if (width <= 0 || height <= 0) {
    result.status = JpegStatus::NoImage;
    result.freeStatus = jpegFree(codec.get());
    return result;
  }

  const PixelFormat& format = options.format;
  GuardedBuffer buffer(width, height, format.channels, options.padBytes);
  codec->pixelData = buffer.data();
  codec->pixelWidth = width;
  codec->pixelHeight = options.bottomUp ? -height : height;
  codec->pixelPadBytes = options.padBytes;
  codec->pixelChannels = format.channels;
  codec->pixelColor = format.color;
  codec->pixelSubsampling = 0;
  if (!options.readParamsFirst) {
    codec->jpegColor = options.jpegColor;
    codec->jpegChannels = options.jpegChannels;
  }
  result.status = jpegRead(codec.get(), imageMode(options.buffer, options.scale));
  if (!options.readParamsFirst) {
    result.jpegWidth = codec->jpegWidth;
    result.jpegHeight = codec->jpegHeight;
    result.jpegChannels = codec->jpegChannels;
    result.jpegColor = codec->jpegColor;
    result.jpegSubsampling = codec->jpegSubsampling;
  }
  result.freeStatus = jpegFree(codec.get());
  result.guardsIntact = buffer.intact(width, format.channels);

  Image& image = result.image;
  image = {width, height, format.channels,
           std::vector<uint8_t>(static_cast<size_t>(width) * height * format.channels)};
  const size_t rowBytes = static_cast<size_t>(width) * format.channels;
  for (int y = 0; y < height; ++y) {
    const int memoryRow = options.bottomUp ? height - 1 - y : y;
    std::copy_n(buffer.data() + memoryRow * buffer.stride, rowBytes, image.pixels.data() + y * rowBytes);
  }
  return result;
}

inline Decoded decode(const fs::path& path, const DecodeOptions& options) {
  return decodeStream(readFile(path), path, options);
}

// --- independent decoders -------------------------------------------------------------------

inline std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs the oracles once per distinct request and keeps their outputs for the test program's life.
class OracleRunner {
 public:
  static OracleRunner& instance() {
    static OracleRunner runner;
    return runner;
  }

  // djpeg with the accurate integer transform and replicating upsampling (what our decoder
  // does), scaled by 1/scale; grey output for `grey`.
  std::optional<Image> djpeg(const fs::path& jpeg, int scale, bool grey) {
    std::string options = "-dct int -nosmooth";
    if (scale != 1) options += " -scale 1/" + std::to_string(scale);
    if (grey) options += " -grayscale";
    return run("djpeg " + options + " -pnm -outfile {out} " + quoted(jpeg.string()), jpeg, options,
               [](const std::vector<uint8_t>& bytes, const fs::path&) { return parsePnm(bytes); });
  }

  // ImageMagick (libjpeg underneath, same transform and upsampling settings) for four-component
  // streams, which djpeg can only write converted to RGB. convert reports Adobe-style inverted
  // CMYK as ink amounts; inverting once more gives the samples as stored, which is what our
  // decoder delivers. For a reduced image, jpeg:size asks libjpeg for its scaled decode: convert
  // picks the smallest scale whose output exceeds the size asked for, so it is asked for one pixel
  // less than the reduced size (on YCbCr streams this gives exactly djpeg -scale's pixels). The
  // byte count is checked, so a different choice fails the comparison instead of passing it.
  std::optional<Image> imageMagickCmyk(const fs::path& jpeg, int scale, int width, int height) {
    std::string options = "-define jpeg:dct-method=islow -define jpeg:fancy-upsampling=off";
    if (scale != 1) {
      options += " -define jpeg:size=" + std::to_string(width - 1) + "x" + std::to_string(height - 1);
    }
    return run("convert " + options + " " + quoted(jpeg.string()) + " -depth 8 cmyk:{out}", jpeg, options,
               [width, height](const std::vector<uint8_t>& bytes, const fs::path&) {
                 std::optional<Image> image;
                 if (bytes.size() != static_cast<size_t>(width) * height * 4) return image;
                 image = Image{width, height, 4, bytes};
                 for (uint8_t& b : image->pixels) b = static_cast<uint8_t>(255 - b);
                 return image;
               });
  }

  ~OracleRunner() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

 private:
  OracleRunner() : dir_(fs::temp_directory_path() / ("meshwick-oracle-" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
  }

  template <typename Parse>
  std::optional<Image> run(std::string command, const fs::path& jpeg, const std::string& options,
                           Parse parse) {
    const std::string key = jpeg.string() + "|" + options;
    if (auto found = cache_.find(key); found != cache_.end()) return found->second;
    const fs::path out = dir_ / ("out" + std::to_string(cache_.size()));
    command.replace(command.find("{out}"), 5, quoted(out.string()));
    command += " 2>/dev/null";
    std::optional<Image> image;
    if (std::system(command.c_str()) == 0) image = parse(readFile(out), out);
    cache_[key] = image;
    return image;
  }

  fs::path dir_;
  std::map<std::string, std::optional<Image>> cache_;
};

// --- comparison -----------------------------------------------------------------------------

struct Difference {
  int maxDifference = 0;
  double meanDifference = 0;
  int firstX = -1;  // first pixel (raster order) whose difference is the largest
  int firstY = -1;
  int firstChannel = -1;
  bool sizesMatch = true;
  double channelBias[4] = {};  // mean signed difference (ours - theirs) per channel
  long long samples = 0;

  std::string describe() const {
    std::ostringstream out;
    if (!sizesMatch) return "sizes differ";
    out << "max difference " << maxDifference << " (first at x=" << firstX << " y=" << firstY
        << " channel=" << firstChannel << "), mean " << meanDifference << ", bias per channel";
    for (double bias : channelBias) out << " " << bias;
    return out.str();
  }
};

// Compares the first `channels` channels of every pixel in rows [0, rows) (all rows when -1).
inline Difference compare(const Image& ours, const Image& theirs, int channels, int rows = -1) {
  Difference d;
  if (ours.width != theirs.width || ours.height != theirs.height) {
    d.sizesMatch = false;
    d.maxDifference = 256;
    return d;
  }
  const int height = rows < 0 ? ours.height : std::min(rows, ours.height);
  long long sum = 0;
  long long signedSums[4] = {};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < ours.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const int signedDiff = ours.at(x, y)[c] - theirs.at(x, y)[c];
        const int diff = std::abs(signedDiff);
        sum += diff;
        signedSums[c] += signedDiff;
        if (diff > d.maxDifference) {
          d.maxDifference = diff;
          d.firstX = x;
          d.firstY = y;
          d.firstChannel = c;
        }
      }
    }
  }
  const long long samples = static_cast<long long>(height) * ours.width * channels;
  d.samples = samples;
  d.meanDifference = samples ? static_cast<double>(sum) / static_cast<double>(samples) : 0;
  for (int c = 0; c < channels; ++c) {
    d.channelBias[c] =
        samples ? static_cast<double>(signedSums[c]) * channels / static_cast<double>(samples) : 0;
  }
  return d;
}

// Reorders or widens an oracle's RGB/grey image into the layout of a pixel format.
inline Image inFormat(const Image& reference, const PixelFormat& format) {
  Image out{reference.width, reference.height, format.channels,
            std::vector<uint8_t>(static_cast<size_t>(reference.width) * reference.height * format.channels)};
  for (int y = 0; y < reference.height; ++y) {
    for (int x = 0; x < reference.width; ++x) {
      const uint8_t* in = reference.at(x, y);
      uint8_t* o = out.pixels.data() + (static_cast<size_t>(y) * out.width + x) * out.channels;
      const uint8_t r = in[0];
      const uint8_t g = reference.channels >= 3 ? in[1] : in[0];
      const uint8_t b = reference.channels >= 3 ? in[2] : in[0];
      if (format.channels == 1) {
        o[0] = r;  // grey references only
      } else if (format.color == JpegColor::Bgr) {
        o[0] = b, o[1] = g, o[2] = r;
      } else {
        o[0] = r, o[1] = g, o[2] = b;
        if (format.channels == 4) o[3] = reference.channels == 4 ? in[3] : 255;
      }
    }
  }
  return out;
}

// --- tolerances -----------------------------------------------------------------------------
// Both decoders use exact integer arithmetic, but not the same integer arithmetic, so pixels are
// compared within bounds derived from it (measured maxima over the corpus and jpegsuite in
// brackets):
// - Inverse DCT, dctVariant 1, against djpeg's accurate integer transform: two fixed-point
//   approximations of the exact transform, each off by far less than half a level before rounding,
//   so a sample differs by at most 1, where the exact value lies near .5 [1, mean 0.045]. The
//   reduced transforms (1/2, 1/4) use the same 13-bit constants and rounding as djpeg's and the
//   1/8 one is the rounded DC in both: they agree exactly [0].
// - Colour conversion: ours uses 8-bit constants (359/256 for 1.402, ...), djpeg 16-bit ones; over
//   every Cb, Cr the terms differ by at most 1 for R and B and 2 for G. With a luminance difference
//   of 1 and a chroma difference of 1 amplified by up to 1.772 (2 after rounding), a converted
//   channel may differ by 5 [3]. The dedicated kernels' G term -gT rounds toward minus infinity
//   (neutral chroma gives -118/256 -> -1), so G is one level high on most pixels [G bias +0.95,
//   mean over channels 0.45]; the in-place conversion of the general routines has no such bias.
// - dctVariant 0 is the AAN factorisation with 4 fractional bits kept between its 16-bit passes,
//   not an accurate transform: a checkerboard block quantised with steps of 1 comes out up to 5
//   levels off, exactly as that arithmetic defines it [plain 5, converted 6; mean 0.37 and 0.73].
// Upsampling needs no tolerance: djpeg -nosmooth replicates chroma as we do, and at reduced scale
// both give a subsampled component of a square layout a larger transform instead of upsampling it.
// The mean absolute difference is bounded too, over images of at least kSamplesForMean samples:
// a systematic fault (a rounding change, a shifted chroma plane) moves the mean long before a
// single sample passes the peak bound.
struct Tolerance {
  int peak;
  double mean;
};
inline constexpr Tolerance kExact{0, 0.0};
inline constexpr Tolerance kPlainTolerance{1, 0.1};      // grey, Y only, RGB and CMYK samples
inline constexpr Tolerance kConvertedTolerance{5, 0.5};  // YCbCr and YCCK converted to RGB
inline constexpr Tolerance kVariant0Tolerance{5, 0.4};   // dctVariant 0, samples as decoded
inline constexpr Tolerance kVariant0ConvertedTolerance{7, 0.8};
inline constexpr long long kSamplesForMean = 256;

inline bool converts(JpegColor color, const PixelFormat& format) {
  return (color == JpegColor::YCbCr || color == JpegColor::Ycck) && format.color != JpegColor::Gray;
}

inline Tolerance toleranceFor(JpegColor color, const PixelFormat& format, int dctVariant, int scale) {
  const bool converted = converts(color, format);
  if (dctVariant == 0) return converted ? kVariant0ConvertedTolerance : kVariant0Tolerance;
  if (converted) return kConvertedTolerance;
  return scale == 1 ? kPlainTolerance : kExact;
}

// The pixel formats a JPEG colour may be decoded to, the caller's usual one first.
inline std::vector<PixelFormat> formatsFor(JpegColor color) {
  switch (color) {
    case JpegColor::YCbCr:
    case JpegColor::Gray:
      return {kBgr3, kRgb3, kGray1, kCmyk4};
    case JpegColor::Rgb:
      return {kBgr3, kRgb3, kCmyk4};
    default:
      return {kCmyk4};
  }
}

// The independent decoder's output for a stream, in the layout of `format`; nothing for a
// four-component stream reduced to a single row or column (convert cannot be asked for it).
inline std::optional<Image> oracleImage(const fs::path& source, JpegColor color, int channels,
                                        const PixelFormat& format, int scale, int width, int height) {
  if (channels == 4) {
    if (scale != 1 && (width < 2 || height < 2)) return std::nullopt;
    auto image = OracleRunner::instance().imageMagickCmyk(source, scale, width, height);
    if (!image) ADD_FAILURE() << "convert could not decode " << source;
    return image;
  }
  const bool grey = format.channels == 1 || color == JpegColor::Gray;
  auto image = OracleRunner::instance().djpeg(source, scale, grey);
  if (!image) {
    ADD_FAILURE() << "djpeg could not decode " << source;
    return image;
  }
  return inFormat(*image, format);
}

// Peak and mean difference within `tolerance` over the first `rows` rows (all when -1); the
// fourth channel of four-channel pixels (255 or K) is held to the peak bound as well.
// With MESHWICK_ORACLE_REPORT set, every comparison is printed with `label`.
inline void expectCloseToOracle(const std::string& label, const Image& ours,
                                const std::optional<Image>& expected, Tolerance tolerance, int rows = -1) {
  if (!expected) return;
  const Difference d = compare(ours, *expected, std::min(ours.channels, 3), rows);
  if (std::getenv("MESHWICK_ORACLE_REPORT")) {
    std::printf("oracle: %s: %s\n", label.c_str(), d.describe().c_str());
  }
  EXPECT_LE(d.maxDifference, tolerance.peak) << d.describe();
  if (d.samples >= kSamplesForMean) {
    EXPECT_LE(d.meanDifference, tolerance.mean) << d.describe();
  }
  if (ours.channels == 4) {
    const Difference all = compare(ours, *expected, 4, rows);
    EXPECT_LE(all.maxDifference, tolerance.peak) << "with the fourth channel: " << all.describe();
  }
}

// --- checksums ------------------------------------------------------------------------------

// FNV-1a, 64 bits, over the packed pixels.
inline std::string checksum(const Image& image) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t b : image.pixels) {
    hash ^= b;
    hash *= 0x100000001b3ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace oracle
