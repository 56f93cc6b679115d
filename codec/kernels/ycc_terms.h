// Chroma terms of the YCbCr to RGB conversion, from 8-bit Cb and Cr in 32-bit arithmetic.
// Coefficients are the conversion factors times 256 (359 = 1.402, 454 = 1.772, 88 = 0.34414,
// 183 = 0.71414); the offsets fold in the 128 bias and the rounding. Any int16_t input stays
// far inside 32 bits (454 · 32767 < 2^24).
#pragma once

#include <algorithm>
#include <cstdint>

constexpr int32_t chromaRed(int32_t cr) {
  return (359 * cr - 45813) >> 8;
}  // crR
constexpr int32_t chromaBlue(int32_t cb) {
  return (454 * cb - 57937) >> 8;
}  // cbB
constexpr int32_t chromaGreen(int32_t cb, int32_t cr) {
  return (88 * cb + 183 * cr - 34806) >> 8;
}  // gT
// gP of the in-place conversions: rounds differently from -gT, by design.
constexpr int32_t chromaGreenInPlace(int32_t cb, int32_t cr) {
  return (34806 - 88 * cb - 183 * cr) >> 8;
}

constexpr uint8_t clampToByte(int32_t v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 255));
}
