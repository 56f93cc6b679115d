// The shared BMP reader driven by arbitrary bytes: the libFuzzer target's body, also run by the
// unit tests over fuzz/regressions/bmp/ and the BMP fixtures. Accepted pictures up to
// kMaxBmpPixels are decoded into a buffer of exactly their size, top-down or (odd input sizes)
// bottom-up, and every row is expanded to B, G, R and read; larger ones are only inspected, which
// still follows a whole run-length stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "document/bmp/bmp_reader.h"

namespace fuzzing {

// Small enough that one input cannot take seconds, large enough for deltas and long runs.
inline constexpr std::uint64_t kMaxBmpPixelBytes = std::uint64_t{1} << 20;
inline constexpr std::int64_t kMaxBmpPixels = std::int64_t{1} << 16;

inline std::uint32_t runBmpReadHarness(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  bmp::Layout layout;
  if (bmp::Inspect(file, kMaxBmpPixelBytes, &layout) != bmp::Status::Ok) return 0;
  if (std::int64_t{layout.width} * layout.height > kMaxBmpPixels) return 1;
  const auto stride = static_cast<std::ptrdiff_t>(layout.stride);
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * static_cast<std::size_t>(layout.height));
  const bool bottomUp = (size & 1) != 0;
  std::uint8_t* top = bottomUp ? rows.data() + (layout.height - 1) * stride : rows.data();
  const std::ptrdiff_t step = bottomUp ? -stride : stride;
  bmp::Decode(file, layout, top, step);
  std::vector<std::uint8_t> bgr(3 * static_cast<std::size_t>(layout.width));
  std::uint32_t digest = 0;
  for (int y = 0; y < layout.height; ++y) {
    bmp::ExpandRowToBgr(layout, top + y * step, bgr.data());
    for (const std::uint8_t b : bgr) digest = digest * 31 + b;
  }
  return digest;
}

}  // namespace fuzzing
