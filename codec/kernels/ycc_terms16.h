// The in-place conversion's chroma terms (crR, gP, cbB of ycc_terms.h) rewritten so that every
// intermediate fits 16 bits, for the vector kernels: the part of each factor that is a multiple
// of 256 and the bulk of each offset leave the shift as whole numbers, and the arithmetic shift
// then floors exactly as the 32-bit formula does.
#pragma once

#include <cstdint>

#include "codec/kernels/ycc_terms.h"

namespace ycc16 {

// Multipliers and offsets of the rewritten terms.
constexpr int16_t kRedFactor = 103, kRedRound = 11, kRedOffset = 179;
constexpr int16_t kBlueFactor = 58, kBlueRound = 6992, kBlueOffset = 200;
constexpr int16_t kGreenCrFactor = 73, kGreenCbFactor = 88, kGreenRound = 10, kGreenOffset = 136;

constexpr int32_t redTerm(int32_t cr) {
  return cr + ((kRedFactor * cr + kRedRound) >> 8) - kRedOffset;
}
constexpr int32_t blueTerm(int32_t cb) {
  return 2 * cb - kBlueOffset - ((kBlueFactor * cb + kBlueRound) >> 8);
}
constexpr int32_t greenTerm(int32_t cb, int32_t cr) {
  return kGreenOffset - cr + ((kGreenCrFactor * cr - kGreenCbFactor * cb - kGreenRound) >> 8);
}

// The rewritten terms equal the in-place conversion's over all samples, and their
// intermediates stay within 16 bits.
constexpr bool termsMatchPortable() {
  for (int32_t cb = 0; cb < 256; ++cb) {
    if (redTerm(cb) != chromaRed(cb) || blueTerm(cb) != chromaBlue(cb)) return false;
    if (kRedFactor * cb + kRedRound > 32767 || kBlueFactor * cb + kBlueRound > 32767) return false;
    for (int32_t cr = 0; cr < 256; ++cr) {
      if (greenTerm(cb, cr) != chromaGreenInPlace(cb, cr)) return false;
      const int32_t mixed = kGreenCrFactor * cr - kGreenCbFactor * cb - kGreenRound;
      if (mixed < -32768 || mixed > 32767) return false;
    }
  }
  return true;
}
static_assert(termsMatchPortable());

}  // namespace ycc16
