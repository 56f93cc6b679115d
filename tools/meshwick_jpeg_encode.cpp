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
#include <string>
#include <string_view>
#include <vector>

#include "codec/jpeg.h"
#include "tools/meshwick_jpeg_commands.h"
#include "tools/meshwick_jpeg_files.h"

namespace {

constexpr int64_t kMaxSide = 65535;
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

template <typename T>
bool parseNumber(std::string_view text, T* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc{} && end == text.data() + text.size();
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

// Pixels as the codec reads them: rows `stride` bytes apart from `rows`, bottom-up when
// `bottomUp`, `padBytes` after each row.
struct InputPicture {
  std::vector<uint8_t> storage;
  size_t offset = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t padBytes = 0;
  bool bottomUp = false;
  JpegColor color = JpegColor::Rgb;
  uint8_t* rows() { return storage.data() + offset; }
};

bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad() && bytes->size() <= kMaxInputBytes;
}

// Header tokens of the binary PNM formats, skipping whitespace and comments.
class PnmHeader {
 public:
  explicit PnmHeader(const std::vector<uint8_t>& data) : data_(data) {}
  std::string token() {
    skipSpaceAndComments();
    std::string text;
    while (position_ < data_.size() && !isSpace(data_[position_]) && text.size() < 64) {
      text += static_cast<char>(data_[position_++]);
    }
    return text;
  }
  bool number(int64_t* value) { return parseNumber(token(), value); }
  std::string line() {
    std::string text;
    while (position_ < data_.size() && data_[position_] != '\n' && text.size() < 256) {
      text += static_cast<char>(data_[position_++]);
    }
    if (position_ < data_.size()) ++position_;
    return text;
  }
  // The raster starts after exactly one whitespace byte following the last header token.
  bool endHeader() {
    if (position_ >= data_.size() || !isSpace(data_[position_])) return false;
    ++position_;
    return true;
  }
  size_t position() const { return position_; }

 private:
  static bool isSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  void skipSpaceAndComments() {
    while (position_ < data_.size()) {
      if (data_[position_] == '#') {
        while (position_ < data_.size() && data_[position_] != '\n') ++position_;
      } else if (isSpace(data_[position_])) {
        ++position_;
      } else {
        break;
      }
    }
  }
  const std::vector<uint8_t>& data_;
  size_t position_ = 0;
};

bool sideInRange(int64_t side) {
  return side >= 1 && side <= kMaxSide;
}

// Checks the raster behind a header and moves the file into `picture`.
std::string takeRaster(std::vector<uint8_t>* data, size_t offset, int64_t width, int64_t height,
                       int64_t channels, InputPicture* picture) {
  const uint64_t size =
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * static_cast<uint64_t>(channels);
  if (data->size() < offset || data->size() - offset < size)
    return "the pixel data is shorter than the header says";
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(height);
  picture->channels = static_cast<int32_t>(channels);
  picture->offset = offset;
  picture->storage = std::move(*data);
  return {};
}

// P5 (gray) and P6 (RGB) with 8-bit samples.
std::string readPpmOrPgm(std::vector<uint8_t>* data, bool gray, InputPicture* picture) {
  PnmHeader header(*data);
  header.token();
  int64_t width = 0, height = 0, maxValue = 0;
  if (!header.number(&width) || !header.number(&height) || !header.number(&maxValue)) {
    return "bad header: expected width, height and maximum value";
  }
  if (!sideInRange(width) || !sideInRange(height)) return "width and height must be 1 to 65535";
  if (maxValue != 255) return "only 8-bit samples (maximum value 255) are supported";
  if (!header.endHeader()) return "bad header: no whitespace before the pixel data";
  picture->color = gray ? JpegColor::Gray : JpegColor::Rgb;
  return takeRaster(data, header.position(), width, height, gray ? 1 : 3, picture);
}

// P7 with DEPTH 1 (GRAYSCALE), 3 (RGB), or 4 (RGB_ALPHA, whose alpha is ignored, or CMYK).
std::string readPam(std::vector<uint8_t>* data, InputPicture* picture) {
  PnmHeader header(*data);
  header.line();
  int64_t width = 0, height = 0, depth = 0, maxValue = 0;
  std::string tupleType;
  for (int lines = 0;; ++lines) {
    if (header.position() >= data->size() || lines > 64) return "bad header: no ENDHDR";
    const std::string line = header.line();
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "ENDHDR") break;
    const bool ok = key == "WIDTH"      ? parseNumber(value, &width)
                    : key == "HEIGHT"   ? parseNumber(value, &height)
                    : key == "DEPTH"    ? parseNumber(value, &depth)
                    : key == "MAXVAL"   ? parseNumber(value, &maxValue)
                    : key == "TUPLTYPE" ? (tupleType = value, true)
                                        : false;
    if (!ok) return "bad header line: " + line;
  }
  if (!sideInRange(width) || !sideInRange(height)) return "width and height must be 1 to 65535";
  if (maxValue != 255) return "only 8-bit samples (MAXVAL 255) are supported";
  if (depth == 1) {
    picture->color = JpegColor::Gray;
  } else if (depth == 3) {
    picture->color = JpegColor::Rgb;
  } else if (depth == 4 && tupleType == "CMYK") {
    picture->color = JpegColor::Cmyk;
  } else if (depth == 4 && tupleType == "RGB_ALPHA") {
    picture->color = JpegColor::Rgb;
  } else {
    return "unsupported DEPTH/TUPLTYPE (GRAYSCALE, RGB, RGB_ALPHA or CMYK)";
  }
  return takeRaster(data, header.position(), width, height, depth, picture);
}

uint32_t littleEndian(const std::vector<uint8_t>& d, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | d[at + static_cast<size_t>(i)];
  return value;
}

// Uncompressed BMP: 24-bit rows are handed to the codec as they lie (B, G, R, padded,
// usually bottom-up); 32-bit and 8-bit palette rows are expanded to B, G, R first.
std::string readBmp(std::vector<uint8_t>* data, InputPicture* picture) {
  const std::vector<uint8_t>& d = *data;
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return "not a BMP file";
  const uint32_t pixelOffset = littleEndian(d, 10, 4);
  const uint32_t headerSize = littleEndian(d, 14, 4);
  if (headerSize < 40 || headerSize > d.size() - 14) return "unsupported BMP header";
  const int64_t width = static_cast<int32_t>(littleEndian(d, 18, 4));
  const int64_t signedHeight = static_cast<int32_t>(littleEndian(d, 22, 4));
  const uint32_t bitCount = littleEndian(d, 28, 2);
  const uint32_t compression = littleEndian(d, 30, 4);
  const int64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
  if (!sideInRange(width) || !sideInRange(height)) return "width and height must be 1 to 65535";
  if (compression != 0) return "only uncompressed BMP files are supported";
  if (bitCount != 8 && bitCount != 24 && bitCount != 32)
    return "only 8-, 24- and 32-bit BMP files are supported";
  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  if (pixelOffset > d.size() || d.size() - pixelOffset < stride * static_cast<uint64_t>(height)) {
    return "the pixel data is shorter than the header says";
  }
  const bool bottomUp = signedHeight > 0;
  if (bitCount == 24) {
    picture->padBytes = static_cast<int32_t>(stride - static_cast<uint64_t>(width) * 3);
    picture->bottomUp = bottomUp;
    picture->color = JpegColor::Bgr;
    picture->width = static_cast<int32_t>(width);
    picture->height = static_cast<int32_t>(height);
    picture->channels = 3;
    picture->offset = pixelOffset;
    picture->storage = std::move(*data);
    return {};
  }
  uint32_t paletteSize = 0;
  if (bitCount == 8) {
    paletteSize = littleEndian(d, 46, 4);
    if (paletteSize == 0 || paletteSize > 256) paletteSize = 256;
    if (14 + uint64_t{headerSize} + uint64_t{paletteSize} * 4 > pixelOffset)
      return "the colour table is cut short";
  }
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row =
        d.data() + pixelOffset + stride * static_cast<uint64_t>(bottomUp ? height - 1 - y : y);
    uint8_t* out = pixels.data() + static_cast<size_t>(y * width * 3);
    for (int64_t x = 0; x < width; ++x, out += 3) {
      const uint8_t* source = bitCount == 32 ? row + x * 4 : nullptr;
      if (bitCount == 8) {
        const uint32_t index = row[x];
        if (index >= paletteSize) return "a pixel refers past the colour table";
        source = d.data() + 14 + headerSize + index * 4;
      }
      std::memcpy(out, source, 3);
    }
  }
  picture->storage = std::move(pixels);
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(height);
  picture->channels = 3;
  picture->color = JpegColor::Bgr;
  return {};
}

std::string readPicture(const char* path, InputPicture* picture) {
  std::vector<uint8_t> data;
  if (!readWholeFile(path, &data)) return "cannot read the file";
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '6') return readPpmOrPgm(&data, false, picture);
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '5') return readPpmOrPgm(&data, true, picture);
  if (data.size() >= 2 && data[0] == 'P' && data[1] == '7') return readPam(&data, picture);
  if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M') return readBmp(&data, picture);
  if (tool_files::endsWithIgnoringCase(path, ".ppm") || tool_files::endsWithIgnoringCase(path, ".pgm") ||
      tool_files::endsWithIgnoringCase(path, ".pam")) {
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
  std::vector<uint8_t> buffer(static_cast<size_t>(size));
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
  InputPicture picture;
  const std::string problem = readPicture(options.input.c_str(), &picture);
  if (!problem.empty()) return inputError(options.input, problem);
  return encode(options, picture);
}
