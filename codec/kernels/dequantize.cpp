// Dequantisation tables and the two dequantisers.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"

const double idctPrescale[64] = {
    0.125000, 0.173380, 0.163320, 0.146984, 0.125000, 0.098212, 0.067650, 0.034487,  //
    0.173380, 0.240485, 0.226532, 0.203873, 0.173380, 0.136224, 0.093833, 0.047835,  //
    0.163320, 0.226532, 0.213388, 0.192044, 0.163320, 0.128320, 0.088388, 0.045060,  //
    0.146984, 0.203873, 0.192044, 0.172835, 0.146984, 0.115485, 0.079547, 0.040553,  //
    0.125000, 0.173380, 0.163320, 0.146984, 0.125000, 0.098212, 0.067650, 0.034487,  //
    0.098212, 0.136224, 0.128320, 0.115485, 0.098212, 0.077165, 0.053152, 0.027097,  //
    0.067650, 0.093833, 0.088388, 0.079547, 0.067650, 0.053152, 0.036612, 0.018664,  //
    0.034487, 0.047835, 0.045060, 0.040553, 0.034487, 0.027097, 0.018664, 0.009515,  //
};

namespace {

// Natural (row-major) index of each zig-zag position.
constexpr std::array<uint8_t, 64> kZigZagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Pre-scaled entries and 16-bit steps are unsigned; the largest entry dequantize0 can multiply
// without leaving 32 bits: 32768 · 65535 + 64 < 2^31.
constexpr int64_t kLargestEntry = 65535;

// x = q·P·0.0625·32768 + 0.5, truncated: q·P·2048 rounded to nearest.
int64_t prescaledStep(uint16_t step, int naturalIndex) {
  const double x = step * idctPrescale[naturalIndex] * 0.0625 * 32768.0 + 0.5;
  return static_cast<int64_t>(x);
}

uint16_t readStep(int16_t entry) {
  return static_cast<uint16_t>(entry);
}

// Every P·2048 is above 19, so rounding the quotient recovers the step exactly.
uint16_t plainStep(uint16_t prescaled, int naturalIndex) {
  return static_cast<uint16_t>(std::lround(prescaled / (idctPrescale[naturalIndex] * 0.0625 * 32768.0)));
}

bool fitsPrescaled(const int16_t* plainTable) {
  for (int i = 0; i < 64; ++i) {
    if (prescaledStep(readStep(plainTable[i]), i) > kLargestEntry) return false;
  }
  return true;
}

void prescalePlainTable(int16_t* table) {
  for (int i = 0; i < 64; ++i) table[i] = static_cast<int16_t>(prescaledStep(readStep(table[i]), i));
}

void restorePlainTable(int16_t* table) {
  for (int i = 0; i < 64; ++i) table[i] = static_cast<int16_t>(plainStep(readStep(table[i]), i));
}

}  // namespace

int32_t prepareDequantTable(int16_t* table, int32_t dctVariant) {
  std::array<int16_t, 64> zigZag;
  std::copy(table, table + 64, zigZag.begin());
  for (int k = 0; k < 64; ++k) table[kZigZagToNatural[k]] = zigZag[k];
  std::fill(table + 64, table + kDequantTableEntries, int16_t{0});

  if (dctVariant == 1 || !fitsPrescaled(table)) return kDequantFormPlain;
  prescalePlainTable(table);
  return kDequantFormPrescaled;
}

int32_t settleDequantVariant(int16_t* const* tables, int32_t* forms, int32_t count, int32_t dctVariant) {
  int32_t target = dctVariant == 1 ? kDequantFormPlain : kDequantFormPrescaled;
  for (int32_t i = 0; i < count && target == kDequantFormPrescaled; ++i) {
    if (forms[i] == kDequantFormPlain && !fitsPrescaled(tables[i])) target = kDequantFormPlain;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (forms[i] == target) continue;
    if (target == kDequantFormPlain) {
      restorePlainTable(tables[i]);
    } else {
      prescalePlainTable(tables[i]);
    }
    forms[i] = target;
  }
  return target == kDequantFormPlain ? 1 : 0;
}

// Coefficients are any int16_t and entries at most 65535, so every product stays inside 32 bits.
void dequantize0(int16_t* block, const int16_t* table) {
  for (int i = 0; i < 64; ++i) {
    const int32_t product = int32_t{block[i]} * int32_t{readStep(table[i])};
    block[i] = static_cast<int16_t>((product + 64) >> 7);
  }
}

void dequantize1(int16_t* block, const int16_t* table) {
  for (int i = 0; i < 64; ++i) {
    block[i] = static_cast<int16_t>(int32_t{block[i]} * int32_t{readStep(table[i])});
  }
}
