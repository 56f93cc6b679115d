// meshwick-jpeg encode IN.{ppm,pgm,pam,bmp} OUT.jpg [--quality Q] [--sampling 444|422|420]
//                      [--gray] [--rgb] [--restart N] [--dct 0|1] [--buffer] [--comment TEXT]
//                      [--progressive]
//
// Reads an 8-bit picture and writes it as a baseline (--progressive: progressive) JPEG stream
// through jpegWrite, straight into the file or (--buffer) into memory first. Exit status:
// 0 written, 1 unreadable input or codec failure, 2 usage error.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "codec/jpeg.h"
#include "document/bmp/bmp_reader.h"
#include "tools/meshwick_jpeg_commands.h"
#include "tools/pnm_reader.h"

namespace {

using pnm::InputPicture;
using pnm::parseNumber;
using pnm::readPam;
using pnm::readPpmOrPgm;
using pnm::sideInRange;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxInputBytes = size_t{1} << 31;
constexpr size_t kMaxCommentBytes = 65535;
// A baseline block costs at most 64 codes of 16 + 11 bits, each byte possibly stuffed: 7
// bytes per sample leave room, plus the headers.
constexpr uint64_t kBufferBytesPerSample = 7;
constexpr uint64_t kBufferHeaderBytes = 4096 + kMaxCommentBytes;
// Progressive streams add up to eleven scans, each with two DHT segments and an SOS.
constexpr uint64_t kBufferProgressiveBytes = 11 * (2 * 277 + 14);

const char kUsage[] =
    "usage: meshwick-jpeg encode IN.{ppm,pgm,pam,bmp} OUT.jpg [--quality Q] [--sampling 444|422|420]\n"
    "                            [--gray] [--rgb] [--restart N] [--dct 0|1] [--buffer] [--comment TEXT]\n"
    "                            [--progressive]\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "meshwick-jpeg encode: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

int inputError(const char* path, const std::string& message) {
  std::fprintf(stderr, "meshwick-jpeg encode: %s: %s\n", path, message.c_str());
  return kExitFailure;
}

int codecFailure(const char* what, JpegStatus status) {
  std::fprintf(stderr, "meshwick-jpeg encode: %s: status %d: %s\n", what, static_cast<int>(status),
               jpegErrorString(status));
  return kExitFailure;
}

// --- options --------------------------------------------------------------------------------

struct EncodeOptions {
  const char* input = nullptr;
  const char* output = nullptr;
  int32_t quality = 75;
  JpegSubsampling sampling = JpegSubsampling::H2V2;
  bool samplingGiven = false;
  bool gray = false;
  bool rgb = false;
  int32_t restartInterval = 0;
  int32_t dctVariant = 1;
  bool buffer = false;
  bool progressive = false;
  bool hasComment = false;
  std::string comment;
};

bool parseSampling(std::string_view text, JpegSubsampling* sampling) {
  if (text == "444")
    *sampling = JpegSubsampling::H1V1;
  else if (text == "422")
    *sampling = JpegSubsampling::H2V1;
  else if (text == "420")
    *sampling = JpegSubsampling::H2V2;
  else
    return false;
  return true;
}

// Returns kExitOk or the usage exit status (the message already printed).
int parseOptions(int argc, char** argv, EncodeOptions* options) {
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--quality") {
      if (!hasValue || !parseNumber(argv[++i], &options->quality) || options->quality < 0 ||
          options->quality > 100) {
        return usageError("--quality takes a number from 0 to 100");
      }
    } else if (arg == "--sampling") {
      if (!hasValue || !parseSampling(argv[++i], &options->sampling)) {
        return usageError("--sampling takes 444, 422 or 420");
      }
      options->samplingGiven = true;
    } else if (arg == "--restart") {
      if (!hasValue || !parseNumber(argv[++i], &options->restartInterval) || options->restartInterval < 0 ||
          options->restartInterval > 65535) {
        return usageError("--restart takes a number of MCUs from 0 to 65535");
      }
    } else if (arg == "--dct") {
      if (!hasValue || !parseNumber(argv[++i], &options->dctVariant) ||
          (options->dctVariant != 0 && options->dctVariant != 1)) {
        return usageError("--dct takes 0 or 1");
      }
    } else if (arg == "--comment") {
      if (!hasValue) return usageError("--comment takes a text");
      options->comment = argv[++i];
      options->hasComment = true;
      if (options->comment.size() > kMaxCommentBytes)
        return usageError("--comment text is longer than 65535 bytes");
    } else if (arg == "--gray") {
      options->gray = true;
    } else if (arg == "--rgb") {
      options->rgb = true;
    } else if (arg == "--buffer") {
      options->buffer = true;
    } else if (arg == "--progressive") {
      options->progressive = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + std::string(arg));
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) return usageError("expected an input picture and an output file");
  if (options->gray && options->rgb) return usageError("--gray and --rgb exclude each other");
  if (options->rgb && options->samplingGiven && options->sampling != JpegSubsampling::H1V1) {
    return usageError("--rgb writes every component at full resolution (--sampling 444)");
  }
  options->input = positional[0];
  options->output = positional[1];
  return kExitOk;
}

// --- input pictures ---------------------------------------------------------------------------

bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad() && bytes->size() <= kMaxInputBytes;
}

// BMP through the shared reader: 24-bit rows go to the codec as decoded (B, G, R, padded),
// every other kind is expanded to B, G, R first.
std::string readBmp(const std::vector<uint8_t>& data, InputPicture* picture) {
  bmp::Layout layout;
  const bmp::Status status = bmp::Inspect(data, kMaxInputBytes, &layout);
  if (status != bmp::Status::Ok) return bmp::StatusText(status);
  if (!sideInRange(layout.width) || !sideInRange(layout.height)) return "width and height must be 1 to 65535";
  const auto stride = static_cast<size_t>(layout.stride);
  const auto width = static_cast<size_t>(layout.width);
  std::vector<uint8_t> rows(stride * static_cast<size_t>(layout.height));
  bmp::Decode(data, layout, rows.data(), layout.stride);
  picture->width = layout.width;
  picture->height = layout.height;
  picture->channels = 3;
  picture->color = JpegColor::Bgr;
  if (layout.bitsPerPixel == 24) {
    picture->padBytes = static_cast<int32_t>(stride - 3 * width);
    picture->storage = std::move(rows);
    return {};
  }
  std::vector<uint8_t> bgr(3 * width * static_cast<size_t>(layout.height));
  for (size_t y = 0; y < static_cast<size_t>(layout.height); ++y)
    bmp::ExpandRowToBgr(layout, rows.data() + y * stride, bgr.data() + y * 3 * width);
  picture->storage = std::move(bgr);
  return {};
}

bool endsWith(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    const char c = text[text.size() - suffix.size() + i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[i]) return false;
  }
  return true;
}

std::string readPicture(const char* path, InputPicture* picture) {
  std::vector<uint8_t> data;
  if (!readWholeFile(path, &data)) return "cannot read the file";
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '6') return readPpmOrPgm(&data, false, picture);
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '5') return readPpmOrPgm(&data, true, picture);
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '7') return readPam(&data, picture);
  if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M') return readBmp(data, picture);
  if (endsWith(path, ".ppm") || endsWith(path, ".pgm") || endsWith(path, ".pam")) {
    return "bad header: not a binary PPM (P6), PGM (P5) or PAM (P7) file";
  }
  return "unrecognised picture format (PPM, PGM, PAM or BMP)";
}

// --- the write ------------------------------------------------------------------------------

// The JPEG side for a picture and the options; a message when they do not go together.
std::string describeJpeg(const InputPicture& picture, const EncodeOptions& options,
                         JPEG_CODEC_PROPERTIES* p) {
  p->pixelData = const_cast<InputPicture&>(picture).rows();
  p->pixelWidth = picture.width;
  p->pixelHeight = picture.bottomUp ? -picture.height : picture.height;
  p->pixelPadBytes = picture.padBytes;
  p->pixelChannels = picture.channels;
  p->pixelColor = picture.color;
  p->pixelSubsampling = 0;
  p->jpegWidth = picture.width;
  p->jpegHeight = picture.height;
  p->quality = options.quality;
  p->state.dctVariant = options.dctVariant;
  p->state.restartInterval = options.restartInterval;
  p->state.progressive = options.progressive ? 1 : 0;
  switch (picture.color) {
    case JpegColor::Gray:
      if (options.rgb) return "--rgb needs a colour picture";
      p->jpegColor = JpegColor::Gray;
      p->jpegChannels = 1;
      p->jpegSubsampling = JpegSubsampling::H1V1;
      return {};
    case JpegColor::Cmyk:
      if (options.gray || options.rgb) return "a CMYK picture is written as YCCK only";
      p->jpegColor = JpegColor::Ycck;
      p->jpegChannels = 4;
      p->jpegSubsampling = options.sampling == JpegSubsampling::H2V2   ? JpegSubsampling::H2V2K
                           : options.sampling == JpegSubsampling::H2V1 ? JpegSubsampling::H2V1K
                                                                       : JpegSubsampling::H1V1;
      return {};
    default:
      if (options.gray) {
        if (picture.channels != 3) return "--gray needs 3-byte RGB pixels";
        p->jpegColor = JpegColor::Gray;
        p->jpegChannels = 1;
        p->jpegSubsampling = JpegSubsampling::H1V1;
      } else if (options.rgb) {
        if (picture.channels != 3) return "--rgb needs 3-byte RGB pixels";
        p->jpegColor = JpegColor::Rgb;
        p->jpegChannels = 3;
        p->jpegSubsampling = JpegSubsampling::H1V1;
      } else {
        p->jpegColor = JpegColor::YCbCr;
        p->jpegChannels = 3;
        p->jpegSubsampling = options.sampling;
      }
      return {};
  }
}

bool writeWholeFile(const char* path, const uint8_t* bytes, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  return static_cast<bool>(file.flush());
}

int encode(const EncodeOptions& options, InputPicture& picture) {
  CodecRecord record;
  const JpegStatus initStatus = record.init();
  if (initStatus != JpegStatus::Ok) return codecFailure("jpegInit", initStatus);
  JPEG_CODEC_PROPERTIES* p = record.get();
  const std::string mismatch = describeJpeg(picture, options, p);
  if (!mismatch.empty()) return usageError(mismatch);
  if (options.hasComment) {
    p->state.commentBuffer = reinterpret_cast<uint8_t*>(const_cast<char*>(options.comment.data()));
    p->state.commentLength = static_cast<uint16_t>(options.comment.size());
  }

  std::vector<uint8_t> buffer;
  if (options.buffer) {
    const uint64_t samples = uint64_t{static_cast<uint32_t>(p->jpegWidth)} *
                             static_cast<uint32_t>(p->jpegHeight) * static_cast<uint32_t>(p->jpegChannels);
    const uint64_t size = samples * kBufferBytesPerSample + kBufferHeaderBytes +
                          (options.progressive ? kBufferProgressiveBytes : 0);
    if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      return inputError(options.input, "too large to encode into one memory buffer (--buffer)");
    }
    buffer.resize(static_cast<size_t>(size));
    p->jpegBuffer = buffer.data();
    p->jpegBufferSize = static_cast<int32_t>(size);
  } else {
    p->jpegFileName = options.output;
  }
  const JpegStatus status =
      jpegWrite(p, options.buffer ? JpegIoMode::BufferWriteImage : JpegIoMode::FileWriteImage);
  if (status != JpegStatus::Ok) return codecFailure("jpegWrite", status);
  if (options.buffer &&
      !writeWholeFile(options.output, buffer.data(), static_cast<size_t>(p->jpegBufferSize))) {
    std::fprintf(stderr, "meshwick-jpeg encode: %s: cannot write the file\n", options.output);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int runEncodeCommand(int argc, char** argv) {
  EncodeOptions options;
  const int parsed = parseOptions(argc, argv, &options);
  if (parsed != kExitOk) return parsed;
  InputPicture picture;
  const std::string problem = readPicture(options.input, &picture);
  if (!problem.empty()) return inputError(options.input, problem);
  return encode(options, picture);
}
