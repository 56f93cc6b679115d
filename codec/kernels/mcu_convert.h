// Skeleton shared by the MCU conversion kernels. One 8x8 quadrant is walked chroma sample by
// chroma sample, so a format's per-sample work (the colour terms) is done once for the 1, 2 or
// 4 pixels that sample serves. A format supplies:
//   kBytes, kComponents;  prepare(cb, cr) -> per-chroma-sample data;
//   store(pixel, luma, prepared, fourth, dx) with dx the pixel's column within its chroma pair.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec/kernel_types.h"

namespace mcu_convert {

// Blocks serving one quadrant: its luminance (and fourth-component) block, and the chroma
// blocks advanced to the quadrant's corner (row stride 8).
struct QuadrantSource {
  const int16_t* luma;
  const int16_t* cb;
  const int16_t* cr;
  const int16_t* fourth;
};

template <class Format>
QuadrantSource quadrantSource(const int16_t* const* components, int lumaBlock, int chromaOffset) {
  QuadrantSource s{components[0] + 64 * lumaBlock, nullptr, nullptr, nullptr};
  if constexpr (Format::kComponents >= 3) {
    s.cb = components[1] + chromaOffset;
    s.cr = components[2] + chromaOffset;
  }
  if constexpr (Format::kComponents >= 4) s.fourth = components[3] + 64 * lumaBlock;
  return s;
}

template <class Format>
[[gnu::always_inline]] inline auto prepareAt(const QuadrantSource& s, int index) {
  if constexpr (Format::kComponents >= 3) {
    return Format::prepare(s.cb[index], s.cr[index]);
  } else {
    return Format::prepare(0, 0);
  }
}

template <class Format>
[[gnu::always_inline]] inline int16_t fourthAt(const QuadrantSource& s, int index) {
  if constexpr (Format::kComponents >= 4) {
    return s.fourth[index];
  } else {
    (void)s;
    (void)index;
    return 0;
  }
}

// Whole quadrant: kH x kV pixels per chroma sample.
template <class Format, int kH, int kV>
void convertQuadrant(const QuadrantSource& s, uint8_t* dst, ptrdiff_t stride) {
  for (int j = 0; j < 8 / kV; ++j) {
    for (int k = 0; k < 8 / kH; ++k) {
      const auto prepared = prepareAt<Format>(s, 8 * j + k);
      for (int dy = 0; dy < kV; ++dy) {
        const int y = kV * j + dy;
        uint8_t* row = dst + y * stride;
        for (int dx = 0; dx < kH; ++dx) {
          const int x = kH * k + dx;
          Format::store(row + x * Format::kBytes, s.luma[8 * y + x], prepared, fourthAt<Format>(s, 8 * y + x),
                        dx);
        }
      }
    }
  }
}

// The same per-pixel arithmetic, only inside `rect` (cut to the quadrant).
template <class Format, int kH, int kV>
void convertQuadrantPartial(const QuadrantSource& s, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  const int top = std::max(rect.top, 0), bottom = std::min(rect.bottom, 8);
  const int left = std::max(rect.left, 0), right = std::min(rect.right, 8);
  for (int y = top; y < bottom; ++y) {
    uint8_t* row = dst + y * stride;
    for (int x = left; x < right; ++x) {
      const auto prepared = prepareAt<Format>(s, 8 * (y / kV) + x / kH);
      Format::store(row + x * Format::kBytes, s.luma[8 * y + x], prepared, fourthAt<Format>(s, 8 * y + x),
                    x % kH);
    }
  }
}

template <class Format>
void convertMcuH1V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  convertQuadrant<Format, 1, 1>(quadrantSource<Format>(components, 0, 0), dst, stride);
}

// Left and right halves, each with four chroma columns.
template <class Format>
void convertMcuH2V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  convertQuadrant<Format, 2, 1>(quadrantSource<Format>(components, 0, 0), dst, stride);
  convertQuadrant<Format, 2, 1>(quadrantSource<Format>(components, 1, 4), dst + 8 * Format::kBytes, stride);
}

// Four quadrants, each with a 4x4 chroma corner.
template <class Format>
void convertMcuH2V2(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  uint8_t* lower = dst + 8 * stride;
  convertQuadrant<Format, 2, 2>(quadrantSource<Format>(components, 0, 0), dst, stride);
  convertQuadrant<Format, 2, 2>(quadrantSource<Format>(components, 1, 4), dst + 8 * Format::kBytes, stride);
  convertQuadrant<Format, 2, 2>(quadrantSource<Format>(components, 2, 32), lower, stride);
  convertQuadrant<Format, 2, 2>(quadrantSource<Format>(components, 3, 36), lower + 8 * Format::kBytes,
                                stride);
}

// Partial kernels get the quadrant's blocks already selected by the caller.
template <class Format, int kH, int kV>
void convertPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertQuadrantPartial<Format, kH, kV>(quadrantSource<Format>(components, 0, 0), dst, stride, rect);
}

}  // namespace mcu_convert
