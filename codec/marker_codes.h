#pragma once
// Marker codes (the byte after 0xFF), shared by the reader and the writer so the two sides of
// the format cannot drift apart.

#include <cstdint>

namespace markers {

inline constexpr int32_t kSof0 = 0xC0;  // baseline
inline constexpr int32_t kSof1 = 0xC1;  // extended sequential, read as baseline
inline constexpr int32_t kSof2 = 0xC2;  // progressive
inline constexpr int32_t kDht = 0xC4;
inline constexpr int32_t kRst0 = 0xD0;
inline constexpr int32_t kRst7 = 0xD7;
inline constexpr int32_t kSoi = 0xD8;
inline constexpr int32_t kEoi = 0xD9;
inline constexpr int32_t kSos = 0xDA;
inline constexpr int32_t kDqt = 0xDB;
inline constexpr int32_t kDri = 0xDD;
inline constexpr int32_t kApp0 = 0xE0;
inline constexpr int32_t kApp14 = 0xEE;
inline constexpr int32_t kCom = 0xFE;

constexpr bool isRestart(int32_t code) {
  return code >= kRst0 && code <= kRst7;
}

// The frame kinds this codec does not decode: lossless, hierarchical and arithmetic-coded.
constexpr bool isUnsupportedFrame(int32_t code) {
  return code == 0xC3 || (code >= 0xC5 && code <= 0xCB) || (code >= 0xCD && code <= 0xCF);
}

}  // namespace markers
