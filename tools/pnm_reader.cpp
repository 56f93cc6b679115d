#include "tools/pnm_reader.h"

#include <utility>

namespace pnm {

namespace {

// Header tokens of the binary PNM formats, skipping whitespace and comments.
class PnmHeader {
 public:
  explicit PnmHeader(std::span<const uint8_t> data) : data_(data) {}
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
  std::span<const uint8_t> data_;
  size_t position_ = 0;
};

// Checks the raster behind a header and describes it in `picture`.
std::string takeRaster(std::span<const uint8_t> file, size_t offset, int64_t width, int64_t height,
                       int64_t channels, InputPicture* picture) {
  const uint64_t size =
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * static_cast<uint64_t>(channels);
  if (file.size() < offset || file.size() - offset < size)
    return "the pixel data is shorter than the header says";
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(height);
  picture->channels = static_cast<int32_t>(channels);
  picture->offset = offset;
  return {};
}

// A reader of a file in memory: on success the bytes move into the picture.
std::string keepOnSuccess(tool_files::Bytes* data, InputPicture* picture, const std::string& problem) {
  if (problem.empty()) {
    picture->storage = std::move(*data);
    picture->mapped = nullptr;
  }
  return problem;
}

}  // namespace

bool sideInRange(int64_t side) {
  return side >= 1 && side <= kMaxSide;
}

// P5 (gray) and P6 (RGB) with 8-bit samples.
std::string readPpmOrPgm(std::span<const uint8_t> file, bool gray, InputPicture* picture) {
  PnmHeader header(file);
  header.token();
  int64_t width = 0, height = 0, maxValue = 0;
  if (!header.number(&width) || !header.number(&height) || !header.number(&maxValue)) {
    return "bad header: expected width, height and maximum value";
  }
  if (!sideInRange(width) || !sideInRange(height)) return "width and height must be 1 to 65535";
  if (maxValue != 255) return "only 8-bit samples (maximum value 255) are supported";
  if (!header.endHeader()) return "bad header: no whitespace before the pixel data";
  picture->color = gray ? JpegColor::Gray : JpegColor::Rgb;
  return takeRaster(file, header.position(), width, height, gray ? 1 : 3, picture);
}

// P7 with DEPTH 1 (GRAYSCALE), 3 (RGB), or 4 (RGB_ALPHA, whose alpha is ignored, or CMYK).
std::string readPam(std::span<const uint8_t> file, InputPicture* picture) {
  PnmHeader header(file);
  header.line();
  int64_t width = 0, height = 0, depth = 0, maxValue = 0;
  std::string tupleType;
  for (int lines = 0;; ++lines) {
    if (header.position() >= file.size() || lines > 64) return "bad header: no ENDHDR";
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
  return takeRaster(file, header.position(), width, height, depth, picture);
}

std::string readPpmOrPgm(tool_files::Bytes* data, bool gray, InputPicture* picture) {
  return keepOnSuccess(data, picture, readPpmOrPgm(std::span<const uint8_t>(*data), gray, picture));
}

std::string readPam(tool_files::Bytes* data, InputPicture* picture) {
  return keepOnSuccess(data, picture, readPam(std::span<const uint8_t>(*data), picture));
}

}  // namespace pnm
