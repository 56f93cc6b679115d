// The in-place conversion's chroma terms recentred on 128, for the reduced-scale converter twins:
// (factor · (sample - 128) + offset) >> 8 equals the ycc_terms.h term for every sample byte, and
// each product pair fits the 16-bit operands of a multiply-add into 32-bit lanes.
#pragma once

#include <cstdint>

#include "codec/kernels/ycc_terms.h"

namespace scaled_ycc {

inline constexpr int32_t kRedFactor = 359, kRedOffset = 139;
inline constexpr int32_t kBlueFactor = 454, kBlueOffset = 175;
inline constexpr int32_t kGreenCb = -88, kGreenCr = -183, kGreenOffset = 118;

constexpr bool termsMatchPortable() {
  for (int32_t cb = 0; cb < 256; ++cb) {
    if (((kRedFactor * (cb - 128) + kRedOffset) >> 8) != chromaRed(cb)) return false;
    if (((kBlueFactor * (cb - 128) + kBlueOffset) >> 8) != chromaBlue(cb)) return false;
    for (int32_t cr = 0; cr < 256; ++cr) {
      if (((kGreenCb * (cb - 128) + kGreenCr * (cr - 128) + kGreenOffset) >> 8) != chromaGreenInPlace(cb, cr))
        return false;
    }
  }
  return true;
}
static_assert(termsMatchPortable());

// pmaddwd factor pairs: (factor, offset) against (value, 1), and (Cb, Cr) factors.
inline constexpr int32_t kRedPair = (kRedOffset << 16) | kRedFactor;
inline constexpr int32_t kBluePair = (kBlueOffset << 16) | kBlueFactor;
inline constexpr int32_t kGreenPair = (kGreenCr * 65536) + (kGreenCb & 0xffff);

}  // namespace scaled_ycc
