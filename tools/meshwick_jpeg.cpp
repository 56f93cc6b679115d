// meshwick-jpeg: command-line front end to the codec.
//
//   meshwick-jpeg info IN.jpg
//   meshwick-jpeg decode IN.jpg OUT.{ppm,pgm,pam,bmp} [--scale 2|4|8] [--thumbnail] [--dct 0|1] [--fancy]
//                        [--buffer] [--max-bytes N] [--region X,Y,W,H]
//   meshwick-jpeg encode ...
//
// Exit status: 0 success, 1 codec or file error (status and text on stderr), 2 usage error.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/jpeg.h"
#include "codec/jpeg_region.h"
#include "tools/meshwick_jpeg_commands.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr uint64_t kDefaultMaxBytes = uint64_t{1} << 30;
constexpr int kCommentCapacity = 65535;
constexpr int32_t kMaxThumbnailSide = 255;

void printUsage() {
  std::fprintf(stderr,
               "usage: meshwick-jpeg info IN.jpg\n"
               "       meshwick-jpeg decode IN.jpg OUT.{ppm,pgm,pam,bmp} [--scale 2|4|8] [--thumbnail]\n"
               "                            [--dct 0|1] [--fancy] [--buffer] [--max-bytes N]\n"
               "                            [--region X,Y,W,H]\n"
               "       meshwick-jpeg encode ...\n");
}

int usageError(const char* message) {
  std::fprintf(stderr, "meshwick-jpeg: %s\n", message);
  printUsage();
  return kExitUsage;
}

int codecFailure(const char* what, JpegStatus status) {
  std::fprintf(stderr, "meshwick-jpeg: %s: status %d: %s\n", what, static_cast<int>(status),
               jpegErrorString(status));
  return kExitFailure;
}

bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

const char* colorName(JpegColor color) {
  switch (color) {
    case JpegColor::Rgb:
      return "RGB";
    case JpegColor::Bgr:
      return "BGR";
    case JpegColor::YCbCr:
      return "YCbCr";
    case JpegColor::Gray:
      return "Gray";
    case JpegColor::Cmyk:
      return "CMYK";
    case JpegColor::Ycck:
      return "YCCK";
    default:
      return "Other";
  }
}

const char* subsamplingName(JpegSubsampling subsampling) {
  switch (subsampling) {
    case JpegSubsampling::H1V1:
      return "H1V1";
    case JpegSubsampling::H2V2:
      return "H2V2";
    case JpegSubsampling::H2V1:
      return "H2V1";
    case JpegSubsampling::H2V2K:
      return "H2V2K";
    case JpegSubsampling::H2V1K:
      return "H2V1K";
    default:
      return "Other";
  }
}

// Where the JPEG comes from: the file itself, or its bytes in memory (--buffer).
struct Source {
  const char* path = nullptr;
  bool useBuffer = false;
  std::vector<uint8_t> bytes;
};

bool attachSource(CodecRecord& record, Source& source) {
  if (!source.useBuffer) {
    record->jpegFileName = source.path;
    return true;
  }
  if (!readWholeFile(source.path, &source.bytes)) return false;
  record->jpegBuffer = source.bytes.data();
  record->jpegBufferSize = static_cast<int32_t>(source.bytes.size());
  return true;
}

JpegIoMode modeFor(JpegIoMode fileMode, const Source& source) {
  return static_cast<JpegIoMode>(static_cast<int32_t>(fileMode) + (source.useBuffer ? 1 : 0));
}

// Parameters read with the comment captured into `comment`.
JpegStatus readParameters(CodecRecord& record, const Source& source, std::vector<uint8_t>* comment) {
  comment->assign(kCommentCapacity, 0);
  record->state.commentBuffer = comment->data();
  record->state.commentLength = static_cast<uint16_t>(kCommentCapacity);
  const JpegStatus status = jpegRead(record.get(), modeFor(JpegIoMode::FileReadParams, source));
  record->state.commentBuffer = nullptr;
  return status;
}

// Progressive scans of the image, as the decoder counts them (0 for a sequential image): only a
// decode sees every scan header. An eighth-scale decode is the cheapest; -1 when it fails.
int32_t countProgressiveScans(const Source& source) {
  CodecRecord record;
  if (record.init() != JpegStatus::Ok) return -1;
  Source copy;
  copy.path = source.path;
  copy.useBuffer = source.useBuffer;
  if (!attachSource(record, copy)) return -1;
  if (jpegRead(record.get(), modeFor(JpegIoMode::FileReadParams, copy)) != JpegStatus::Ok) return -1;
  const int32_t width = (record->jpegWidth + 7) / 8;
  const int32_t height = (record->jpegHeight + 7) / 8;
  const int32_t components = record->jpegChannels;
  const int32_t channels = components == 1 ? 1 : components == 4 ? 4 : 3;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * channels);
  record->pixelData = pixels.data();
  record->pixelWidth = width;
  record->pixelHeight = height;
  record->pixelChannels = channels;
  record->pixelColor = components == 1 ? JpegColor::Gray : components == 4 ? JpegColor::Cmyk : JpegColor::Rgb;
  if (jpegRead(record.get(), modeFor(JpegIoMode::FileReadEighth, copy)) != JpegStatus::Ok) return -1;
  return record->state.progressive;
}

int runInfo(int argc, char** argv) {
  if (argc != 2) return usageError("info takes one input file");
  Source source;
  source.path = argv[1];
  CodecRecord record;
  JpegStatus status = record.init();
  if (status != JpegStatus::Ok) return codecFailure("init", status);
  attachSource(record, source);
  std::vector<uint8_t> comment;
  status = readParameters(record, source, &comment);
  if (status != JpegStatus::Ok) return codecFailure(source.path, status);
  const JPEG_PROPERTIES& state = record->state;
  std::printf("size: %dx%d\n", record->jpegWidth, record->jpegHeight);
  std::printf("components: %d\n", record->jpegChannels);
  std::printf("color: %s\n", colorName(record->jpegColor));
  std::printf("subsampling: %s\n", subsamplingName(record->jpegSubsampling));
  // The scans decide, not the frame marker: an SOF0 frame may carry progressive scans.
  const int32_t scans = countProgressiveScans(source);
  std::printf("coding: %s\n", state.frameMarker == 0xC2 || scans > 0 ? "progressive" : "sequential");
  if (scans < 0) {
    std::printf("progressive scans: unknown (the image does not decode)\n");
  } else {
    std::printf("progressive scans: %d\n", scans);
  }
  std::printf("restart interval: %d\n", state.restartInterval);
  std::printf("thumbnail: %dx%d\n", record->thumbWidth, record->thumbHeight);
  // A comment holds at most 65533 bytes, so the untouched capacity means "no comment".
  const int commentLength = state.commentLength == kCommentCapacity ? 0 : state.commentLength;
  std::printf("comment length: %d\n", commentLength);
  return kExitOk;
}

// --- decode -------------------------------------------------------------------------------

enum class ImageFormat { Ppm, Pgm, Pam, Bmp };

bool formatOfPath(std::string_view path, ImageFormat* format) {
  const auto endsWith = [&](std::string_view suffix) {
    return path.size() >= suffix.size() && path.substr(path.size() - suffix.size()) == suffix;
  };
  if (endsWith(".ppm"))
    *format = ImageFormat::Ppm;
  else if (endsWith(".pgm"))
    *format = ImageFormat::Pgm;
  else if (endsWith(".pam"))
    *format = ImageFormat::Pam;
  else if (endsWith(".bmp"))
    *format = ImageFormat::Bmp;
  else
    return false;
  return true;
}

struct DecodeOptions {
  const char* input = nullptr;
  const char* output = nullptr;
  int32_t scale = 1;
  bool thumbnail = false;
  int32_t dctVariant = 1;
  bool fancy = false;  // interpolating chroma upsampling
  bool useBuffer = false;
  uint64_t maxBytes = kDefaultMaxBytes;
  ImageFormat format = ImageFormat::Ppm;
  // Region of interest in pixels of the (scaled) image: left, top, width, height.
  bool hasRegion = false;
  int32_t region[4] = {};
};

template <typename T>
bool parseNumber(const char* text, T* value) {
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, *value);
  return error == std::errc() && stop == end;
}

// "X,Y,W,H" with X, Y >= 0 and W, H >= 1 whose right and bottom edges fit 32 bits.
bool parseRegion(const char* text, int32_t* region) {
  std::string_view rest = text;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = rest.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return false;
    const std::string part(rest.substr(0, comma));
    if (!parseNumber(part.c_str(), &region[i]) || region[i] < (i < 2 ? 0 : 1)) return false;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return int64_t{region[0]} + region[2] <= INT32_MAX && int64_t{region[1]} + region[3] <= INT32_MAX;
}

// Returns 0 when the options are valid, else the usage exit code after printing why.
int parseDecodeOptions(int argc, char** argv, DecodeOptions* options) {
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--scale") {
      if (!hasValue || !parseNumber(argv[++i], &options->scale) ||
          (options->scale != 2 && options->scale != 4 && options->scale != 8)) {
        return usageError("--scale takes 2, 4 or 8");
      }
    } else if (arg == "--thumbnail") {
      options->thumbnail = true;
    } else if (arg == "--dct") {
      if (!hasValue || !parseNumber(argv[++i], &options->dctVariant) ||
          (options->dctVariant != 0 && options->dctVariant != 1)) {
        return usageError("--dct takes 0 or 1");
      }
    } else if (arg == "--fancy") {
      options->fancy = true;
    } else if (arg == "--buffer") {
      options->useBuffer = true;
    } else if (arg == "--max-bytes") {
      if (!hasValue || !parseNumber(argv[++i], &options->maxBytes) || options->maxBytes == 0) {
        return usageError("--max-bytes takes a positive byte count");
      }
    } else if (arg == "--region") {
      if (!hasValue || !parseRegion(argv[++i], options->region)) {
        return usageError("--region takes X,Y,W,H with X, Y >= 0 and W, H > 0");
      }
      options->hasRegion = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option");
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) return usageError("decode takes an input and an output file");
  if (options->thumbnail && options->scale != 1)
    return usageError("--thumbnail and --scale exclude each other");
  if (options->thumbnail && options->hasRegion)
    return usageError("--thumbnail and --region exclude each other");
  options->input = positional[0];
  options->output = positional[1];
  if (!formatOfPath(options->output, &options->format)) {
    return usageError("output must end in .ppm, .pgm, .pam or .bmp");
  }
  if (options->thumbnail && options->format == ImageFormat::Pgm) {
    return usageError("a thumbnail is written as .ppm, .pam or .bmp");
  }
  return 0;
}

// The decoded picture as the codec wrote it.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t stride = 0;  // bytes per row in memory
  bool bottomUp = false;
  JpegColor color = JpegColor::Rgb;
  std::vector<uint8_t> pixels;

  const uint8_t* row(int32_t y) const {
    const int32_t memoryRow = bottomUp ? height - 1 - y : y;
    return pixels.data() + static_cast<size_t>(memoryRow) * static_cast<size_t>(stride);
  }
};

// Pixel layout the output format wants from a JPEG with `components` components.
void choosePixelLayout(ImageFormat format, int32_t components, Picture* picture) {
  switch (format) {
    case ImageFormat::Pgm:
      picture->color = JpegColor::Gray;
      picture->channels = 1;
      break;
    case ImageFormat::Ppm:
      picture->color = JpegColor::Rgb;
      picture->channels = 3;
      break;
    case ImageFormat::Pam:
      picture->color = components == 1 ? JpegColor::Gray : components == 4 ? JpegColor::Cmyk : JpegColor::Rgb;
      picture->channels = components == 1 ? 1 : components == 4 ? 4 : 3;
      break;
    case ImageFormat::Bmp:
      picture->color = components == 1 ? JpegColor::Gray : JpegColor::Bgr;
      picture->channels = components == 1 ? 1 : 3;
      picture->bottomUp = true;
      break;
  }
}

bool writeNetpbm(const char* path, const Picture& picture, ImageFormat format) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  if (format == ImageFormat::Pam) {
    const char* tuple = picture.channels == 1 ? "GRAYSCALE" : picture.channels == 4 ? "CMYK" : "RGB";
    std::fprintf(file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", picture.width,
                 picture.height, picture.channels, tuple);
  } else {
    std::fprintf(file, "%s\n%d %d\n255\n", format == ImageFormat::Pgm ? "P5" : "P6", picture.width,
                 picture.height);
  }
  const size_t rowBytes = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.channels);
  bool ok = true;
  for (int32_t y = 0; y < picture.height && ok; ++y)
    ok = std::fwrite(picture.row(y), 1, rowBytes, file) == rowBytes;
  return std::fclose(file) == 0 && ok;
}

void putLittleEndian(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Bottom-up BMP: 8-bit with a grey palette for one channel, else 24-bit B, G, R.
bool writeBmp(const char* path, const Picture& picture) {
  const uint32_t paletteBytes = picture.channels == 1 ? 256 * 4 : 0;
  const uint32_t offset = 14 + 40 + paletteBytes;
  const uint32_t rowBytes = static_cast<uint32_t>(picture.width * picture.channels);
  const uint32_t paddedRow = (rowBytes + 3) & ~3u;
  const uint32_t imageBytes = paddedRow * static_cast<uint32_t>(picture.height);
  std::vector<uint8_t> header;
  header.push_back('B');
  header.push_back('M');
  putLittleEndian(&header, offset + imageBytes, 4);
  putLittleEndian(&header, 0, 4);
  putLittleEndian(&header, offset, 4);
  putLittleEndian(&header, 40, 4);
  putLittleEndian(&header, static_cast<uint32_t>(picture.width), 4);
  putLittleEndian(&header, static_cast<uint32_t>(picture.height), 4);
  putLittleEndian(&header, 1, 2);
  putLittleEndian(&header, picture.channels == 1 ? 8 : 24, 2);
  putLittleEndian(&header, 0, 4);
  putLittleEndian(&header, imageBytes, 4);
  putLittleEndian(&header, 2835, 4);
  putLittleEndian(&header, 2835, 4);
  putLittleEndian(&header, picture.channels == 1 ? 256 : 0, 4);
  putLittleEndian(&header, 0, 4);
  for (uint32_t i = 0; i < paletteBytes / 4; ++i) {
    header.insert(header.end(),
                  {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0});
  }
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  const uint8_t padding[3] = {};
  for (int32_t y = picture.height - 1; y >= 0 && ok; --y) {
    ok = std::fwrite(picture.row(y), 1, rowBytes, file) == rowBytes &&
         std::fwrite(padding, 1, paddedRow - rowBytes, file) == paddedRow - rowBytes;
  }
  return std::fclose(file) == 0 && ok;
}

// Sizes the pixel buffer; false when it would pass the limit.
bool allocatePicture(Picture* picture, uint64_t maxBytes) {
  uint64_t rowBytes =
      uint64_t{static_cast<uint32_t>(picture->width)} * static_cast<uint32_t>(picture->channels);
  if (picture->bottomUp) rowBytes = (rowBytes + 3) & ~uint64_t{3};
  const uint64_t total = rowBytes * static_cast<uint32_t>(picture->height);
  if (total > maxBytes || rowBytes > INT32_MAX) {
    std::fprintf(
        stderr,
        "meshwick-jpeg: picture of %dx%d pixels needs %llu bytes, above the limit of %llu (--max-bytes)\n",
        picture->width, picture->height, static_cast<unsigned long long>(total),
        static_cast<unsigned long long>(maxBytes));
    return false;
  }
  picture->stride = static_cast<int32_t>(rowBytes);
  picture->pixels.assign(static_cast<size_t>(total), 0);
  return true;
}

void describePixels(JPEG_CODEC_PROPERTIES* record, Picture* picture) {
  const int32_t tight = picture->width * picture->channels;
  record->pixelData = picture->pixels.data();
  record->pixelWidth = picture->width;
  record->pixelHeight = picture->bottomUp ? -picture->height : picture->height;
  record->pixelPadBytes = picture->stride - tight;
  record->pixelChannels = picture->channels;
  record->pixelColor = picture->color;
  record->pixelSubsampling = 0;
}

JpegIoMode imageMode(const DecodeOptions& options) {
  JpegIoMode fileMode = JpegIoMode::FileReadImage;
  if (options.thumbnail)
    fileMode = JpegIoMode::FileReadThumbnail;
  else if (options.scale == 2)
    fileMode = JpegIoMode::FileReadHalf;
  else if (options.scale == 4)
    fileMode = JpegIoMode::FileReadQuarter;
  else if (options.scale == 8)
    fileMode = JpegIoMode::FileReadEighth;
  return static_cast<JpegIoMode>(static_cast<int32_t>(fileMode) + (options.useBuffer ? 1 : 0));
}

int runDecode(int argc, char** argv) {
  DecodeOptions options;
  if (const int usage = parseDecodeOptions(argc, argv, &options); usage != 0) return usage;
  Source source;
  source.path = options.input;
  source.useBuffer = options.useBuffer;

  CodecRecord record;
  JpegStatus status = record.init();
  if (status != JpegStatus::Ok) return codecFailure("init", status);
  if (!attachSource(record, source)) {
    std::fprintf(stderr, "meshwick-jpeg: cannot read %s\n", source.path);
    return kExitFailure;
  }
  record->state.dctVariant = options.dctVariant;
  record->state.upsamplingMode = options.fancy ? 1 : 0;
  std::vector<uint8_t> comment;
  status = readParameters(record, source, &comment);
  if (status != JpegStatus::Ok) return codecFailure(source.path, status);

  if (record->jpegWidth == 0 || record->jpegHeight == 0)
    return codecFailure(source.path, JpegStatus::NoImage);

  Picture picture;
  choosePixelLayout(options.format, record->jpegChannels, &picture);
  if (options.thumbnail) {
    // Palette thumbnails are only measured by the thumbnail read itself: read into a buffer of
    // the largest thumbnail, top-down, and keep the part the thumbnail covers.
    picture.width = kMaxThumbnailSide;
    picture.height = kMaxThumbnailSide;
    picture.color = options.format == ImageFormat::Bmp ? JpegColor::Bgr : JpegColor::Rgb;
    picture.channels = 3;
    picture.bottomUp = false;
  } else {
    picture.width = (record->jpegWidth + options.scale - 1) / options.scale;
    picture.height = (record->jpegHeight + options.scale - 1) / options.scale;
  }
  if (options.hasRegion) {
    // The picture is the part of the region inside the image (an empty one is refused below).
    picture.width = std::clamp(picture.width - options.region[0], 1, options.region[2]);
    picture.height = std::clamp(picture.height - options.region[1], 1, options.region[3]);
  }
  if (!allocatePicture(&picture, options.maxBytes)) return kExitFailure;
  describePixels(record.get(), &picture);

  if (options.hasRegion) {
    const int32_t* r = options.region;
    status = prepareRegionRead(record.get(), imageMode(options), r[0], r[1], r[0] + r[2], r[1] + r[3]);
    if (status != JpegStatus::Ok) return codecFailure(source.path, status);
  }
  status = jpegRead(record.get(), imageMode(options));
  if (status != JpegStatus::Ok && !(options.hasRegion && status == JpegStatus::RoiOk))
    return codecFailure(source.path, status);
  if (options.thumbnail) {
    if (record->thumbWidth == 0 || record->thumbHeight == 0) {
      std::fprintf(stderr, "meshwick-jpeg: %s has no thumbnail\n", source.path);
      return kExitFailure;
    }
    picture.width = record->thumbWidth;
    picture.height = record->thumbHeight;
  }

  const bool written = options.format == ImageFormat::Bmp
                           ? writeBmp(options.output, picture)
                           : writeNetpbm(options.output, picture, options.format);
  if (!written) {
    std::fprintf(stderr, "meshwick-jpeg: cannot write %s\n", options.output);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage();
    return kExitUsage;
  }
  const std::string_view command = argv[1];
  if (command == "info") return runInfo(argc - 1, argv + 1);
  if (command == "decode") return runDecode(argc - 1, argv + 1);
  if (command == "encode") return runEncodeCommand(argc - 1, argv + 1);
  return usageError("unknown command");
}
