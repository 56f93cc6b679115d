// meshwick-jpeg encode IN.{ppm,pgm,pam,bmp} OUT.jpg [options]: reads an 8-bit picture and
// writes it as a baseline (--progressive: progressive) JPEG stream through jpegWrite, straight
// into the file or (--buffer) into memory first. Exit status: 0 written, 1 unreadable input,
// unwritable output or codec failure, 2 usage error.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/jpeg.h"
#include "document/bmp/bmp_reader.h"
#include "tools/meshwick_jpeg_commands.h"
#include "tools/meshwick_jpeg_files.h"
#include "tools/pnm_reader.h"

namespace {

using tool_files::Bytes;

constexpr size_t kMaxInputBytes = size_t{1} << 31;
constexpr size_t kMaxCommentBytes = 65535;
// A baseline block costs at most 64 codes of 16 + 11 bits, each byte possibly stuffed: 7
// bytes per sample leave room, plus the headers.
constexpr uint64_t kBufferBytesPerSample = 7;
constexpr uint64_t kBufferHeaderBytes = 4096 + kMaxCommentBytes;
// Progressive streams add up to eleven scans, each with two DHT segments and an SOS.
constexpr uint64_t kBufferProgressiveBytes = 11 * (2 * 277 + 14);

int usageError(const std::string& message) {
  std::fprintf(stderr, "meshwick-jpeg encode: %s\nRun 'meshwick-jpeg encode --help' for the usage.\n",
               message.c_str());
  return kExitUsage;
}

int inputError(const std::string& path, const std::string& message) {
  std::fprintf(stderr, "meshwick-jpeg encode: %s: %s\n", path.c_str(), message.c_str());
  return kExitFailure;
}

// --- options --------------------------------------------------------------------------------

JpegSubsampling samplingOf(std::string_view text) {
  if (text == "444") return JpegSubsampling::H1V1;
  if (text == "422") return JpegSubsampling::H2V1;
  return JpegSubsampling::H2V2;
}

std::string checkJpegName(std::string& name) {
  const bool jpeg =
      tool_files::endsWithIgnoringCase(name, ".jpg") || tool_files::endsWithIgnoringCase(name, ".jpeg");
  return jpeg ? std::string() : "the output name must end in .jpg or .jpeg";
}

std::string checkComment(std::string& text) {
  return text.size() <= kMaxCommentBytes ? std::string() : "the text is longer than 65535 bytes";
}

}  // namespace

CLI::App* addEncodeCommand(CLI::App& app, EncodeOptions* options) {
  CLI::App* command = app.add_subcommand("encode", "write a PPM, PGM, PAM or BMP picture as a JPEG file");
  command->add_option("input", options->input, "picture: binary PPM (P6), PGM (P5), PAM (P7) or BMP")
      ->required()
      ->type_name("IN");
  command->add_option("output", options->output, "JPEG file to write")
      ->required()
      ->type_name("OUT.jpg")
      ->check(CLI::Validator(checkJpegName, "", "jpeg-name"));
  command->add_option("--quality", options->quality, "quality 0 to 100")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  command->add_option("--sampling", options->sampling, "chroma sampling of YCbCr output")
      ->check(CLI::IsMember({"444", "422", "420"}))
      ->capture_default_str()
      ->type_name("444|422|420");
  CLI::Option* gray = command->add_flag("--gray", options->gray, "write one grey component");
  command->add_flag("--rgb", options->rgb, "write R, G, B components without conversion (Adobe marker)")
      ->excludes(gray);
  command->add_option("--restart", options->restartInterval, "restart interval in MCUs, 0 for none")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  command->add_option("--dct", options->dctVariant, "forward transform: 0 fast, 1 accurate")
      ->check(CLI::IsMember({0, 1}))
      ->capture_default_str()
      ->type_name("0|1");
  command->add_flag("--buffer", options->buffer, "encode into memory, then write the file");
  command->add_option("--comment", options->comment, "comment (COM segment), at most 65535 bytes")
      ->check(CLI::Validator(checkComment, "", "comment-length"))
      ->type_name("TEXT");
  command->add_flag("--progressive", options->progressive, "write a progressive stream");
  command->callback([command, options] {
    options->samplingGiven = command->count("--sampling") > 0;
    options->hasComment = command->count("--comment") > 0;
  });
  return command;
}

namespace {

// --- input pictures ---------------------------------------------------------------------------

using pnm::InputPicture;
using pnm::readPam;
using pnm::readPpmOrPgm;
using pnm::sideInRange;

// BMP through the shared reader: 24-bit rows go to the codec as decoded (B, G, R, padded),
// every other kind is expanded to B, G, R first.
std::string readBmp(std::span<const uint8_t> data, InputPicture* picture) {
  bmp::Layout layout;
  const bmp::Status status = bmp::Inspect(data, kMaxInputBytes, &layout);
  if (status != bmp::Status::Ok) return bmp::StatusText(status);
  if (!sideInRange(layout.width) || !sideInRange(layout.height)) return "width and height must be 1 to 65535";
  const auto stride = static_cast<size_t>(layout.stride);
  const auto width = static_cast<size_t>(layout.width);
  const auto height = static_cast<size_t>(layout.height);
  Bytes rows(stride * height);
  bmp::Decode(data, layout, rows.data(), layout.stride);
  picture->width = layout.width;
  picture->height = layout.height;
  picture->channels = 3;
  picture->color = JpegColor::Bgr;
  picture->mapped = nullptr;
  picture->offset = 0;
  if (layout.bitsPerPixel == 24) {
    picture->padBytes = static_cast<int32_t>(stride - 3 * width);
    picture->storage = std::move(rows);
    return {};
  }
  Bytes bgr(3 * width * height);
  for (size_t y = 0; y < height; ++y)
    bmp::ExpandRowToBgr(layout, rows.data() + y * stride, bgr.data() + y * 3 * width);
  picture->storage = std::move(bgr);
  return {};
}

// Describes the picture the file's bytes hold; PNM rasters are used where they lie.
std::string describePicture(const char* path, std::span<const uint8_t> data, InputPicture* picture) {
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '6') return readPpmOrPgm(data, false, picture);
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '5') return readPpmOrPgm(data, true, picture);
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '7') return readPam(data, picture);
  if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M') return readBmp(data, picture);
  if (tool_files::endsWithIgnoringCase(path, ".ppm") || tool_files::endsWithIgnoringCase(path, ".pgm") ||
      tool_files::endsWithIgnoringCase(path, ".pam")) {
    return "bad header: not a binary PPM (P6), PGM (P5) or PAM (P7) file";
  }
  return "unrecognised picture format (PPM, PGM, PAM or BMP)";
}

// The input mapped where it can be (a regular file), else read into the picture's storage.
std::string readPicture(const char* path, InputPicture* picture, tool_files::MappedInput* mapping) {
  const std::string unmapped = mapping->map(path, kMaxInputBytes);
  if (unmapped.empty()) {
    const std::string problem = describePicture(path, {mapping->data(), mapping->size()}, picture);
    if (problem.empty() && picture->storage.empty()) picture->mapped = mapping->data();
    return problem;
  }
  if (unmapped != tool_files::MappedInput::kNotMappable) return "cannot read the file: " + unmapped;
  Bytes data;
  const std::string unreadable = tool_files::readWholeFile(path, &data, kMaxInputBytes);
  if (!unreadable.empty()) return "cannot read the file: " + unreadable;
  const std::string problem = describePicture(path, data, picture);
  if (problem.empty() && picture->storage.empty()) picture->storage = std::move(data);
  return problem;
}

// --- the write ------------------------------------------------------------------------------

// The JPEG side for a picture and the options; a message when they do not go together.
std::string describeJpeg(const InputPicture& picture, const EncodeOptions& options,
                         JPEG_CODEC_PROPERTIES* p) {
  // The codec only reads the pixels.
  p->pixelData = const_cast<uint8_t*>(picture.rows());
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
    case JpegColor::Cmyk: {
      if (options.gray || options.rgb) return "a CMYK picture is written as YCCK only";
      p->jpegColor = JpegColor::Ycck;
      p->jpegChannels = 4;
      const JpegSubsampling sampling = samplingOf(options.sampling);
      p->jpegSubsampling = sampling == JpegSubsampling::H2V2   ? JpegSubsampling::H2V2K
                           : sampling == JpegSubsampling::H2V1 ? JpegSubsampling::H2V1K
                                                               : JpegSubsampling::H1V1;
      return {};
    }
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
        p->jpegSubsampling = samplingOf(options.sampling);
      }
      return {};
  }
}

// Empty or the reason the stream could not be written.
std::string writeWholeFile(const std::string& path, const uint8_t* bytes, size_t size) {
  errno = 0;
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return tool_files::errnoText("cannot create the file");
  std::string problem = tool_files::writeAll(descriptor, bytes, size);
  errno = 0;
  if (::close(descriptor) != 0 && problem.empty()) problem = tool_files::errnoText("cannot close the file");
  return problem;
}

int cannotWrite(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "meshwick-jpeg encode: cannot write %s: %s\n", path.c_str(), reason.c_str());
  return kExitFailure;
}

// Creates (or empties) the output so that a path that cannot be written is reported with the
// system's reason before any work; the codec then writes the stream into it.
std::string createOutput(const std::string& path) {
  errno = 0;
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return tool_files::errnoText("cannot create the file");
  ::close(descriptor);
  return {};
}

// Room for any stream of the record's picture; 0 when it passes what one buffer can address.
uint64_t streamBufferSize(const JPEG_CODEC_PROPERTIES* p, bool progressive) {
  const uint64_t samples = uint64_t{static_cast<uint32_t>(p->jpegWidth)} *
                           static_cast<uint32_t>(p->jpegHeight) * static_cast<uint32_t>(p->jpegChannels);
  const uint64_t size =
      samples * kBufferBytesPerSample + kBufferHeaderBytes + (progressive ? kBufferProgressiveBytes : 0);
  return size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) ? 0 : size;
}

int encodeIntoBuffer(const EncodeOptions& options, JPEG_CODEC_PROPERTIES* p) {
  const uint64_t size = streamBufferSize(p, options.progressive);
  if (size == 0) return inputError(options.input, "too large to encode into one memory buffer (--buffer)");
  Bytes buffer(static_cast<size_t>(size));
  p->jpegBuffer = buffer.data();
  p->jpegBufferSize = static_cast<int32_t>(size);
  const JpegStatus status = jpegWrite(p, JpegIoMode::BufferWriteImage);
  if (status != JpegStatus::Ok)
    return inputError(options.input, std::string("cannot encode: ") + jpegErrorString(status));
  const std::string problem =
      writeWholeFile(options.output, buffer.data(), static_cast<size_t>(p->jpegBufferSize));
  if (!problem.empty()) {
    std::remove(options.output.c_str());
    return cannotWrite(options.output, problem);
  }
  return kExitOk;
}

// Through the codec's file mode; a failed write leaves no partial file behind.
int encodeIntoFile(const EncodeOptions& options, JPEG_CODEC_PROPERTIES* p) {
  const std::string problem = createOutput(options.output);
  if (!problem.empty()) return cannotWrite(options.output, problem);
  p->jpegFileName = options.output.c_str();
  errno = 0;
  const JpegStatus status = jpegWrite(p, JpegIoMode::FileWriteImage);
  if (status == JpegStatus::Ok) return kExitOk;
  const std::string reason = tool_files::errnoText(jpegErrorString(status));
  std::remove(options.output.c_str());
  if (status == JpegStatus::FileError || status == JpegStatus::InvalidFileName ||
      status == JpegStatus::CloseFileError)
    return cannotWrite(options.output, reason);
  return inputError(options.input, std::string("cannot encode: ") + jpegErrorString(status));
}

int encode(const EncodeOptions& options, InputPicture& picture) {
  CodecRecord record;
  const JpegStatus initStatus = record.init();
  if (initStatus != JpegStatus::Ok)
    return inputError(options.input, std::string("cannot set up the codec: ") + jpegErrorString(initStatus));
  JPEG_CODEC_PROPERTIES* p = record.get();
  const std::string mismatch = describeJpeg(picture, options, p);
  if (!mismatch.empty()) return usageError(mismatch);
  if (options.hasComment) {
    p->state.commentBuffer = reinterpret_cast<uint8_t*>(const_cast<char*>(options.comment.data()));
    p->state.commentLength = static_cast<uint16_t>(options.comment.size());
  }
  return options.buffer ? encodeIntoBuffer(options, p) : encodeIntoFile(options, p);
}

}  // namespace

int runEncodeCommand(EncodeOptions& options) {
  if (options.rgb && options.samplingGiven && options.sampling != "444")
    return usageError("--rgb writes every component at full resolution (--sampling 444)");
  const std::string unreadable = tool_files::readProblem(options.input);
  if (!unreadable.empty()) return inputError("cannot open " + options.input, unreadable);
  // The output is emptied before the pixels are read: never when it is the input itself.
  if (tool_files::sameFile(options.input, options.output))
    return cannotWrite(options.output, "it is the input file");
  tool_files::MappedInput mapping;
  InputPicture picture;
  const std::string problem = readPicture(options.input.c_str(), &picture, &mapping);
  if (!problem.empty()) return inputError(options.input, problem);
  // --buffer creates the output after the pixels are read: nothing of ours to remove then.
  const std::string partialOutput = options.buffer ? std::string() : options.output;
  const tool_files::ShrinkGuard guard("meshwick-jpeg encode", options.input, partialOutput);
  return encode(options, picture);
}
