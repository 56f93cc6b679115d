// Binary PNM pictures (P5 gray, P6 RGB, P7 PAM) as meshwick-jpeg encode reads them, kept out of
// the command's source so the fuzz target reaches the same code.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "codec/jpeg.h"
#include "tools/uninitialised_bytes.h"

namespace pnm {

constexpr int64_t kMaxSide = 65535;

template <typename T>
bool parseNumber(std::string_view text, T* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc{} && end == text.data() + text.size();
}

// Pixels as the codec reads them: rows `stride` bytes apart from `rows`, bottom-up when
// `bottomUp`, `padBytes` after each row. The bytes lie in `storage`, or in a mapping of the
// file (`mapped`) that outlives the picture.
struct InputPicture {
  tool_files::Bytes storage;
  const uint8_t* mapped = nullptr;
  size_t offset = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t padBytes = 0;
  bool bottomUp = false;
  JpegColor color = JpegColor::Rgb;
  const uint8_t* rows() const { return (mapped != nullptr ? mapped : storage.data()) + offset; }
};

bool sideInRange(int64_t side);

// Each reads the header of `file`, checks the raster behind it and on success describes it in
// `picture` (size, channels, colour, offset; the bytes stay where they are); the result is
// empty then, else the reason the file is refused.
// P5 (gray) and P6 (RGB) with 8-bit samples.
std::string readPpmOrPgm(std::span<const uint8_t> file, bool gray, InputPicture* picture);
// P7 with DEPTH 1 (GRAYSCALE), 3 (RGB), or 4 (RGB_ALPHA, whose alpha is ignored, or CMYK).
std::string readPam(std::span<const uint8_t> file, InputPicture* picture);

// As above for a file read into memory, which moves into `picture` on success.
std::string readPpmOrPgm(tool_files::Bytes* data, bool gray, InputPicture* picture);
std::string readPam(tool_files::Bytes* data, InputPicture* picture);

}  // namespace pnm
