// meshwick-jpeg: command-line front end to the codec. `meshwick-jpeg --help` lists the commands
// and every option.
//
// Exit status: 0 success, 1 codec or file error (the file and the reason on stderr), 2 usage error.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/jpeg.h"
#include "codec/jpeg_region.h"
#include "tools/meshwick_jpeg_commands.h"
#include "tools/meshwick_jpeg_files.h"

namespace {

constexpr uint64_t kDefaultMaxBytes = uint64_t{1} << 30;
constexpr int kCommentCapacity = 65535;
constexpr int32_t kMaxThumbnailSide = 255;
// Decoded pictures up to this size are written from memory in one call: the kernel fills a
// file's pages faster from one large write than through a store fault on each. Larger ones
// are decoded straight into the mapped file, so that memory holds them once.
constexpr uint64_t kLargestWrittenPicture = uint64_t{16} << 20;

int fileFailure(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "meshwick-jpeg: %s: %s\n", path.c_str(), reason.c_str());
  return kExitFailure;
}

int cannotOpen(const std::string& path, const std::string& reason) {
  return fileFailure("cannot open " + path, reason);
}

// What a failed read of `path` means to the user: a file that ends inside the image data is
// truncated, whatever the codec's own status number.
std::string readFailureText(JpegStatus status) {
  if (status == JpegStatus::FileError || status == JpegStatus::EofError)
    return "the file is truncated (it ends inside the image data)";
  return jpegErrorString(status);
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
  std::string path;
  bool useBuffer = false;
  tool_files::Bytes bytes;
};

// Empty when the source is attached, else why its file cannot be read.
std::string attachSource(CodecRecord& record, Source& source) {
  std::string problem = tool_files::readProblem(source.path);
  if (!problem.empty()) return problem;
  if (!source.useBuffer) {
    record->jpegFileName = source.path.c_str();
    return {};
  }
  problem = tool_files::readWholeFile(source.path, &source.bytes, INT32_MAX);
  if (!problem.empty()) return problem;
  record->jpegBuffer = source.bytes.data();
  record->jpegBufferSize = static_cast<int32_t>(source.bytes.size());
  return {};
}

// Whether the source's bytes in memory end before its image does.
bool cutShort(const Source& source) {
  return source.useBuffer && tool_files::endsBeforeTheImageDoes(source.bytes.data(), source.bytes.size());
}

// A memory read that runs out of bytes fails as "memory error" (inside a segment), "data
// error" (a marker cut in two) or "bad restart marker" (zero bits where one was due), where a
// file read says the file is truncated: the user hears the same about the same file either way.
std::string readFailureText(JpegStatus status, const Source& source) {
  const bool outOfBytes = status == JpegStatus::MemoryError || status == JpegStatus::DataError ||
                          status == JpegStatus::BadRstMarker;
  if (outOfBytes && cutShort(source)) status = JpegStatus::EofError;
  return readFailureText(status);
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

// What a trial decode learns: the progressive scans the decoder counted (0 for a sequential
// image; only a decode sees every scan header) and how the decode ended.
struct ScanSurvey {
  int32_t progressiveScans = 0;
  JpegStatus status = JpegStatus::Ok;
};

// An eighth-scale decode is the cheapest way through every scan.
ScanSurvey surveyScans(const Source& source) {
  ScanSurvey survey;
  CodecRecord record;
  survey.status = record.init();
  if (survey.status != JpegStatus::Ok) return survey;
  Source copy;
  copy.path = source.path;
  copy.useBuffer = source.useBuffer;
  if (!attachSource(record, copy).empty()) {
    survey.status = JpegStatus::FileError;
    return survey;
  }
  survey.status = jpegRead(record.get(), modeFor(JpegIoMode::FileReadParams, copy));
  if (survey.status != JpegStatus::Ok) return survey;
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
  survey.status = jpegRead(record.get(), modeFor(JpegIoMode::FileReadEighth, copy));
  survey.progressiveScans = record->state.progressive;
  return survey;
}

struct InfoOptions {
  std::string input;
};

int runInfo(const InfoOptions& options) {
  Source source;
  source.path = options.input;
  CodecRecord record;
  JpegStatus status = record.init();
  if (status != JpegStatus::Ok) return fileFailure(source.path, readFailureText(status));
  if (const std::string problem = attachSource(record, source); !problem.empty())
    return cannotOpen(source.path, problem);
  std::vector<uint8_t> comment;
  status = readParameters(record, source, &comment);
  if (status != JpegStatus::Ok) return fileFailure(source.path, readFailureText(status));
  const JPEG_PROPERTIES& state = record->state;
  std::printf("size: %dx%d\n", record->jpegWidth, record->jpegHeight);
  std::printf("components: %d\n", record->jpegChannels);
  std::printf("color: %s\n", colorName(record->jpegColor));
  std::printf("subsampling: %s\n", subsamplingName(record->jpegSubsampling));
  // The scans decide, not the frame marker: an SOF0 frame may carry progressive scans.
  const ScanSurvey survey = surveyScans(source);
  const bool truncated = survey.status == JpegStatus::FileError || survey.status == JpegStatus::EofError;
  const bool progressive = state.frameMarker == 0xC2 || survey.progressiveScans > 0;
  std::printf("coding: %s\n", progressive ? "progressive" : "sequential");
  if (survey.status == JpegStatus::Ok) {
    std::printf("progressive scans: %d\n", survey.progressiveScans);
  } else if (truncated) {
    std::printf("progressive scans: %d before the end of the file\n", survey.progressiveScans);
  } else {
    std::printf("progressive scans: unknown (the image does not decode)\n");
  }
  std::printf("restart interval: %d\n", state.restartInterval);
  std::printf("thumbnail: %dx%d\n", record->thumbWidth, record->thumbHeight);
  // A comment holds at most 65533 bytes, so the untouched capacity means "no comment".
  const int commentLength = state.commentLength == kCommentCapacity ? 0 : state.commentLength;
  std::printf("comment length: %d\n", commentLength);
  if (survey.status == JpegStatus::Ok)
    std::printf("image data: complete\n");
  else
    std::printf("image data: %s\n", truncated ? "truncated (the file ends inside the image data)"
                                              : readFailureText(survey.status).c_str());
  return kExitOk;
}

// --- decode -------------------------------------------------------------------------------

enum class ImageFormat { Ppm, Pgm, Pam, Bmp };

bool formatOfPath(std::string_view path, ImageFormat* format) {
  if (tool_files::endsWithIgnoringCase(path, ".ppm"))
    *format = ImageFormat::Ppm;
  else if (tool_files::endsWithIgnoringCase(path, ".pgm"))
    *format = ImageFormat::Pgm;
  else if (tool_files::endsWithIgnoringCase(path, ".pam"))
    *format = ImageFormat::Pam;
  else if (tool_files::endsWithIgnoringCase(path, ".bmp"))
    *format = ImageFormat::Bmp;
  else
    return false;
  return true;
}

struct DecodeOptions {
  std::string input;
  std::string output;
  int32_t scale = 1;
  bool thumbnail = false;
  int32_t dctVariant = 1;
  bool fancy = false;  // interpolating chroma upsampling
  bool useBuffer = false;
  uint64_t maxBytes = kDefaultMaxBytes;
  ImageFormat format = ImageFormat::Ppm;
  // Region of interest in pixels of the (scaled) image: left, top, width, height.
  std::string regionText;
  bool hasRegion = false;
  int32_t region[4] = {};
};

template <typename T>
bool parseNumber(std::string_view text, T* value) {
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && stop == text.data() + text.size();
}

// "X,Y,W,H" with X, Y >= 0 and W, H >= 1 whose right and bottom edges fit 32 bits.
bool parseRegion(std::string_view rest, int32_t* region) {
  for (int i = 0; i < 4; ++i) {
    const size_t comma = rest.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return false;
    if (!parseNumber(rest.substr(0, comma), &region[i]) || region[i] < (i < 2 ? 0 : 1)) return false;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return int64_t{region[0]} + region[2] <= INT32_MAX && int64_t{region[1]} + region[3] <= INT32_MAX;
}

std::string checkRegion(std::string& text) {
  int32_t region[4];
  return parseRegion(text, region) ? std::string()
                                   : "takes X,Y,W,H with X, Y >= 0 and W, H > 0, edges within 32 bits";
}

std::string checkImageName(std::string& name) {
  ImageFormat format;
  return formatOfPath(name, &format) ? std::string() : "the output name must end in .ppm, .pgm, .pam or .bmp";
}

CLI::App* addDecodeCommand(CLI::App& app, DecodeOptions* options) {
  CLI::App* command = app.add_subcommand("decode", "decode a JPEG file into a PPM, PGM, PAM or BMP picture");
  command->add_option("input", options->input, "JPEG file")->required()->type_name("IN.jpg");
  command->add_option("output", options->output, "picture to write; the extension picks the format")
      ->required()
      ->type_name("OUT.{ppm,pgm,pam,bmp}")
      ->check(CLI::Validator(checkImageName, "", "image-name"));
  CLI::Option* scale = command->add_option("--scale", options->scale, "decode at 1/2, 1/4 or 1/8 of the size")
                           ->check(CLI::IsMember({2, 4, 8}))
                           ->type_name("2|4|8");
  CLI::Option* region =
      command->add_option("--region", options->regionText, "decode only this rectangle of the (scaled) image")
          ->check(CLI::Validator(checkRegion, "", "region"))
          ->type_name("X,Y,W,H");
  command->add_flag("--thumbnail", options->thumbnail, "decode the JFIF thumbnail instead of the image")
      ->excludes(scale)
      ->excludes(region);
  command->add_option("--dct", options->dctVariant, "inverse transform: 0 fast, 1 accurate")
      ->check(CLI::IsMember({0, 1}))
      ->capture_default_str()
      ->type_name("0|1");
  command->add_flag("--fancy", options->fancy, "interpolate subsampled chroma instead of repeating it");
  command->add_flag("--buffer", options->useBuffer, "read the whole JPEG into memory first");
  command->add_option("--max-bytes", options->maxBytes, "refuse pictures needing more bytes than this")
      ->check(CLI::PositiveNumber)
      ->capture_default_str()
      ->type_name("N");
  command->callback([options] {
    formatOfPath(options->output, &options->format);
    options->hasRegion = !options->regionText.empty();
    if (options->hasRegion) parseRegion(options->regionText, options->region);
  });
  return command;
}

// The decoded picture as the output file holds it: rows `stride` bytes apart, the bottom row
// first when `bottomUp` (BMP; the codec writes that order when given a negative height). The
// pixels lie in the mapped output file itself, or in `owned` (pictures converted first, and
// small ones).
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t stride = 0;
  bool bottomUp = false;
  JpegColor color = JpegColor::Rgb;
  uint8_t* pixels = nullptr;
  tool_files::PopulatedMemory owned;

  const uint8_t* row(int32_t y) const {
    const int32_t memoryRow = bottomUp ? height - 1 - y : y;
    return pixels + static_cast<size_t>(memoryRow) * static_cast<size_t>(stride);
  }
};

// Bytes per row of the output file: BMP rows are padded to four bytes.
uint64_t fileRowBytes(ImageFormat format, int32_t width, int32_t channels) {
  const uint64_t row = uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(channels);
  return format == ImageFormat::Bmp ? (row + 3) & ~uint64_t{3} : row;
}

// Pixel layout the output format wants from a JPEG with `components` components. Four
// components are decoded as four channels and converted afterwards where the format has three.
void choosePixelLayout(ImageFormat format, int32_t components, Picture* picture) {
  switch (format) {
    case ImageFormat::Pgm:
      picture->color = JpegColor::Gray;
      picture->channels = 1;
      break;
    case ImageFormat::Ppm:
      picture->color = components == 4 ? JpegColor::Cmyk : JpegColor::Rgb;
      picture->channels = components == 4 ? 4 : 3;
      break;
    case ImageFormat::Pam:
      picture->color = components == 1 ? JpegColor::Gray : components == 4 ? JpegColor::Cmyk : JpegColor::Rgb;
      picture->channels = components == 1 ? 1 : components == 4 ? 4 : 3;
      break;
    case ImageFormat::Bmp:
      picture->color = components == 1 ? JpegColor::Gray : components == 4 ? JpegColor::Cmyk : JpegColor::Bgr;
      picture->channels = components == 1 ? 1 : components == 4 ? 4 : 3;
      picture->bottomUp = true;
      break;
  }
}

// C, M, Y, K as the codec gives them (Adobe's inverted form) become colour bytes as the app
// shows them: each of the first three scaled by K, (c * k + 1) >> 8, which stays a byte.
// `redFirst` orders the result R, G, B, else B, G, R. Rows are rewritten in place at the
// output file's row size, which is never larger than the four-channel one.
void cmykToThreeChannels(Picture* picture, ImageFormat format, bool redFirst) {
  const auto scale = [](unsigned channel, unsigned k) {
    return static_cast<uint8_t>((channel * k + 1) >> 8);
  };
  const size_t stride = static_cast<size_t>(fileRowBytes(format, picture->width, 3));
  for (int32_t y = 0; y < picture->height; ++y) {
    const uint8_t* in = picture->pixels + static_cast<size_t>(y) * static_cast<size_t>(picture->stride);
    uint8_t* out = picture->pixels + static_cast<size_t>(y) * stride;
    for (int32_t x = 0; x < picture->width; ++x, in += 4, out += 3) {
      const unsigned c = in[0], m = in[1], yellow = in[2], k = in[3];
      const uint8_t first = scale(c, k), second = scale(m, k), third = scale(yellow, k);
      out[0] = redFirst ? first : third;
      out[1] = second;
      out[2] = redFirst ? third : first;
    }
    std::fill(out, picture->pixels + static_cast<size_t>(y + 1) * stride, uint8_t{0});
  }
  picture->stride = static_cast<int32_t>(stride);
  picture->channels = 3;
  picture->color = redFirst ? JpegColor::Rgb : JpegColor::Bgr;
}

void putLittleEndian(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Bottom-up BMP: 8-bit with a grey palette for one channel, else 24-bit B, G, R.
std::vector<uint8_t> bmpHeader(int32_t width, int32_t height, int32_t channels) {
  const uint32_t paletteBytes = channels == 1 ? 256 * 4 : 0;
  const uint32_t offset = 14 + 40 + paletteBytes;
  const uint32_t imageBytes =
      static_cast<uint32_t>(fileRowBytes(ImageFormat::Bmp, width, channels)) * static_cast<uint32_t>(height);
  std::vector<uint8_t> header;
  header.push_back('B');
  header.push_back('M');
  putLittleEndian(&header, offset + imageBytes, 4);
  putLittleEndian(&header, 0, 4);
  putLittleEndian(&header, offset, 4);
  putLittleEndian(&header, 40, 4);
  putLittleEndian(&header, static_cast<uint32_t>(width), 4);
  putLittleEndian(&header, static_cast<uint32_t>(height), 4);
  putLittleEndian(&header, 1, 2);
  putLittleEndian(&header, channels == 1 ? 8 : 24, 2);
  putLittleEndian(&header, 0, 4);
  putLittleEndian(&header, imageBytes, 4);
  putLittleEndian(&header, 2835, 4);
  putLittleEndian(&header, 2835, 4);
  putLittleEndian(&header, channels == 1 ? 256 : 0, 4);
  putLittleEndian(&header, 0, 4);
  for (uint32_t i = 0; i < paletteBytes / 4; ++i) {
    header.insert(header.end(),
                  {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0});
  }
  return header;
}

std::vector<uint8_t> fileHeader(ImageFormat format, int32_t width, int32_t height, int32_t channels) {
  if (format == ImageFormat::Bmp) return bmpHeader(width, height, channels);
  std::string text;
  if (format == ImageFormat::Pam) {
    const char* tuple = channels == 1 ? "GRAYSCALE" : channels == 4 ? "CMYK" : "RGB";
    text = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) + "\nDEPTH " +
           std::to_string(channels) + "\nMAXVAL 255\nTUPLTYPE " + tuple + "\nENDHDR\n";
  } else {
    text = std::string(format == ImageFormat::Pgm ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
           std::to_string(height) + "\n255\n";
  }
  return {text.begin(), text.end()};
}

// The picture's rows in file order with the file's padding: the pixels as they lie when they
// are in that order already, else gathered (a thumbnail read into a larger buffer).
std::vector<uint8_t> gatherRows(const Picture& picture, ImageFormat format) {
  const size_t rowBytes = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.channels);
  const size_t fileRow = static_cast<size_t>(fileRowBytes(format, picture.width, picture.channels));
  std::vector<uint8_t> rows(fileRow * static_cast<size_t>(picture.height), 0);
  for (int32_t i = 0; i < picture.height; ++i) {
    const int32_t y = format == ImageFormat::Bmp ? picture.height - 1 - i : i;
    std::memcpy(rows.data() + static_cast<size_t>(i) * fileRow, picture.row(y), rowBytes);
  }
  return rows;
}

// Writes a picture held in memory: the header, then the rows in one large write. Empty or the
// reason.
std::string writePicture(const std::string& path, const Picture& picture, ImageFormat format) {
  const std::vector<uint8_t> header = fileHeader(format, picture.width, picture.height, picture.channels);
  const size_t fileRow = static_cast<size_t>(fileRowBytes(format, picture.width, picture.channels));
  const bool fileOrder =
      picture.bottomUp == (format == ImageFormat::Bmp) && static_cast<size_t>(picture.stride) == fileRow;
  std::vector<uint8_t> gathered;
  if (!fileOrder) gathered = gatherRows(picture, format);
  const uint8_t* rows = fileOrder ? picture.pixels : gathered.data();
  errno = 0;
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return tool_files::errnoText("cannot create the file");
  std::string problem = tool_files::writeAll(descriptor, header.data(), header.size());
  if (problem.empty())
    problem = tool_files::writeAll(descriptor, rows, fileRow * static_cast<size_t>(picture.height));
  errno = 0;
  if (::close(descriptor) != 0 && problem.empty()) problem = tool_files::errnoText("cannot close the file");
  return problem;
}

// Bytes of the picture's buffer; 0, after saying why, when they would pass the limit.
uint64_t pictureBytes(const Picture& picture, uint64_t maxBytes) {
  const uint64_t total =
      uint64_t{static_cast<uint32_t>(picture.stride)} * static_cast<uint32_t>(picture.height);
  if (total > maxBytes) {
    std::fprintf(
        stderr,
        "meshwick-jpeg: picture of %dx%d pixels needs %llu bytes, above the limit of %llu (--max-bytes)\n",
        picture.width, picture.height, static_cast<unsigned long long>(total),
        static_cast<unsigned long long>(maxBytes));
    return 0;
  }
  return total;
}

void describePixels(JPEG_CODEC_PROPERTIES* record, Picture* picture) {
  const int32_t tight = picture->width * picture->channels;
  record->pixelData = picture->pixels;
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

// Cuts the region to the part inside a picture of `width` x `height` and says so on stderr
// when that changes it. False, after saying so, when no part of it is inside.
bool cutRegion(const DecodeOptions& options, Picture* picture) {
  const int32_t* r = options.region;
  if (r[0] >= picture->width || r[1] >= picture->height) {
    std::fprintf(stderr, "meshwick-jpeg: %s: region %d,%d,%d,%d lies outside the %dx%d image\n",
                 options.input.c_str(), r[0], r[1], r[2], r[3], picture->width, picture->height);
    return false;
  }
  const int32_t width = std::clamp(picture->width - r[0], 1, r[2]);
  const int32_t height = std::clamp(picture->height - r[1], 1, r[3]);
  if (width != r[2] || height != r[3]) {
    std::fprintf(stderr, "meshwick-jpeg: region %d,%d,%d,%d passes the %dx%d image; cut to %d,%d,%d,%d\n",
                 r[0], r[1], r[2], r[3], picture->width, picture->height, r[0], r[1], width, height);
  }
  picture->width = width;
  picture->height = height;
  return true;
}

// Points the picture at its pixels: the mapped output file, past its header, when the codec's
// bytes are the file's as they stand, else memory of its own (never zero-filled: the codec
// writes every byte). Empty or why the output cannot be written.
std::string placePixels(const DecodeOptions& options, bool convertAfter, uint64_t bytes, Picture* picture,
                        tool_files::MappedOutput* output) {
  if (!convertAfter && bytes > kLargestWrittenPicture) {
    const std::vector<uint8_t> header =
        fileHeader(options.format, picture->width, picture->height, picture->channels);
    const std::string problem = output->create(options.output, header.size() + static_cast<size_t>(bytes));
    if (problem.empty()) {
      std::memcpy(output->data(), header.data(), header.size());
      picture->pixels = output->data() + header.size();
      return {};
    }
    if (problem != tool_files::MappedOutput::kNotRegular) return problem;
  }
  if (!picture->owned.allocate(static_cast<size_t>(bytes))) return "not enough memory for the picture";
  picture->pixels = picture->owned.data();
  return {};
}

int runDecode(const DecodeOptions& options) {
  Source source;
  source.path = options.input;
  source.useBuffer = options.useBuffer;

  CodecRecord record;
  JpegStatus status = record.init();
  if (status != JpegStatus::Ok) return fileFailure(source.path, readFailureText(status));
  if (const std::string problem = attachSource(record, source); !problem.empty())
    return cannotOpen(source.path, problem);
  record->state.dctVariant = options.dctVariant;
  record->state.upsamplingMode = options.fancy ? 1 : 0;
  std::vector<uint8_t> comment;
  status = readParameters(record, source, &comment);
  if (status != JpegStatus::Ok) return fileFailure(source.path, readFailureText(status, source));

  if (record->jpegWidth == 0 || record->jpegHeight == 0)
    return fileFailure(source.path, readFailureText(JpegStatus::NoImage));

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
  if (options.hasRegion && !cutRegion(options, &picture)) return kExitFailure;
  const uint64_t rowBytes =
      fileRowBytes(options.thumbnail ? ImageFormat::Ppm : options.format, picture.width, picture.channels);
  // Sides are at most 65535 pixels of at most four bytes, so a row fits 32 bits.
  picture.stride = static_cast<int32_t>(rowBytes);
  const uint64_t bytes = pictureBytes(picture, options.maxBytes);
  if (bytes == 0) return kExitFailure;
  // The output is emptied before the image is read: never when it is the input itself.
  if (tool_files::sameFile(options.input, options.output))
    return fileFailure("cannot write " + options.output, "it is the input file");
  const bool convertAfter =
      options.thumbnail || (picture.color == JpegColor::Cmyk && options.format != ImageFormat::Pam);
  tool_files::MappedOutput mapped;
  if (const std::string problem = placePixels(options, convertAfter, bytes, &picture, &mapped);
      !problem.empty()) {
    std::remove(options.output.c_str());
    return fileFailure("cannot write " + options.output, problem);
  }
  // A failed read leaves no partial output behind.
  const auto failRead = [&](const std::string& reason) {
    mapped.finish();
    if (mapped.created()) std::remove(options.output.c_str());
    return fileFailure(source.path, reason);
  };
  describePixels(record.get(), &picture);

  if (options.hasRegion) {
    const int32_t* r = options.region;
    status = prepareRegionRead(record.get(), imageMode(options), r[0], r[1], r[0] + r[2], r[1] + r[3]);
    if (status != JpegStatus::Ok) return failRead(readFailureText(status));
  }
  status = jpegRead(record.get(), imageMode(options));
  if (status != JpegStatus::Ok && !(options.hasRegion && status == JpegStatus::RoiOk))
    return failRead(readFailureText(status, source));
  // A whole picture needs every byte: what a file read says when some are missing.
  if (!options.thumbnail && !options.hasRegion && cutShort(source))
    return failRead(readFailureText(JpegStatus::EofError));
  if (options.thumbnail) {
    if (record->thumbWidth == 0 || record->thumbHeight == 0) return failRead("has no thumbnail");
    picture.width = record->thumbWidth;
    picture.height = record->thumbHeight;
  }
  if (picture.color == JpegColor::Cmyk && options.format != ImageFormat::Pam)
    cmykToThreeChannels(&picture, options.format, options.format != ImageFormat::Bmp);

  const std::string problem =
      mapped.created() ? mapped.finish() : writePicture(options.output, picture, options.format);
  if (!problem.empty()) {
    std::remove(options.output.c_str());
    return fileFailure("cannot write " + options.output, problem);
  }
  return kExitOk;
}

bool knownCommand(std::string_view command) {
  return command == "info" || command == "decode" || command == "encode";
}

// A first word that is neither an option nor a command.
bool unknownCommand(int argc, char** argv) {
  return argc >= 2 && argv[1][0] != '-' && !knownCommand(argv[1]);
}

// The command a parse error belongs to, for the message's prefix.
std::string commandPrefix(int argc, char** argv) {
  if (argc < 2) return "meshwick-jpeg";
  if (knownCommand(argv[1])) return "meshwick-jpeg " + std::string(argv[1]);
  return "meshwick-jpeg";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Command-line front end to the Meshwick JPEG codec.", "meshwick-jpeg");
  app.require_subcommand(1, 1);
  app.footer(
      "Exit status: 0 success, 1 unreadable input, unwritable output or codec failure, 2 usage error.\n"
      "MESHWICK_USECPU=0..6 forces the codec's processor class (0: portable kernels).");
  InfoOptions info;
  CLI::App* infoCommand =
      app.add_subcommand("info", "print the size, colour, sampling and coding of a JPEG file");
  infoCommand->add_option("input", info.input, "JPEG file")->required()->type_name("IN.jpg");
  DecodeOptions decode;
  CLI::App* decodeCommand = addDecodeCommand(app, &decode);
  EncodeOptions encode;
  CLI::App* encodeCommand = addEncodeCommand(app, &encode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    const std::string message = unknownCommand(argc, argv)
                                    ? "unknown command " + std::string(argv[1]) + " (info, decode or encode)"
                                    : error.what();
    std::fprintf(stderr, "%s: %s\nRun 'meshwick-jpeg --help' for the usage.\n",
                 commandPrefix(argc, argv).c_str(), message.c_str());
    return kExitUsage;
  }
  if (infoCommand->parsed()) return runInfo(info);
  if (decodeCommand->parsed()) return runDecode(decode);
  if (encodeCommand->parsed()) return runEncodeCommand(encode);
  return kExitUsage;
}
