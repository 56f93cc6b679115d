// Packed pixels and the binary PGM/PPM files the oracles write and read.
#pragma once

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test {

// Top-down rows without padding, `channels` bytes a pixel.
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> pixels;

  uint8_t* at(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * channels; }
  const uint8_t* at(int x, int y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * channels;
  }
};

// P5 or P6 with maxval 255 and comments allowed; nothing when the bytes are not one or run short.
inline std::optional<Image> parsePnm(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return std::nullopt;
  size_t pos = 2;
  int fields[3] = {};
  for (int& field : fields) {
    while (pos < bytes.size() && (std::isspace(bytes[pos]) || bytes[pos] == '#')) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else {
        ++pos;
      }
    }
    while (pos < bytes.size() && std::isdigit(bytes[pos]) && field < 1'000'000)
      field = field * 10 + (bytes[pos++] - '0');
  }
  ++pos;  // the single whitespace byte after maxval
  Image image{fields[0], fields[1], bytes[1] == '5' ? 1 : 3, {}};
  const size_t size = static_cast<size_t>(image.width) * image.height * image.channels;
  if (fields[2] != 255 || pos + size > bytes.size()) return std::nullopt;
  image.pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                      bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
  return image;
}

// The file as P5 (one channel) or P6 (three).
inline std::vector<uint8_t> toPnm(const Image& image) {
  const std::string header = std::string(image.channels == 1 ? "P5" : "P6") + "\n" +
                             std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  out.insert(out.end(), image.pixels.begin(), image.pixels.end());
  return out;
}

}  // namespace test
