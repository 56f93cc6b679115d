// Quantisers, AVX2 twins of the portable kernels, bit-identical to them on every input.
//
// pmulhrsw computes (c * r + 2^14) >> 15 from the exact 32-bit product and keeps its low 16
// bits: the portable store, sixteen coefficients per instruction. For variant 1 a reciprocal of
// 2^15 or more reads as r - 2^16; the missing c * 2^16 adds exactly 2c after the shift.
#include <immintrin.h>

#include <cstdint>

#include "codec/kernels/avx2/encode_kernels.h"

namespace {

template <bool kUnsigned>
void quantizeBlock(int16_t* block, const int16_t* reciprocals) {
  for (int i = 0; i < 64; i += 16) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + i));
    const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reciprocals + i));
    __m256i q = _mm256_mulhrs_epi16(c, r);
    if constexpr (kUnsigned) {
      const __m256i wrapped = _mm256_and_si256(c, _mm256_srai_epi16(r, 15));
      q = _mm256_add_epi16(q, _mm256_add_epi16(wrapped, wrapped));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + i), q);
  }
}

}  // namespace

namespace avx2 {

void quantize0(int16_t* block, const int16_t* reciprocals) {
  quantizeBlock<false>(block, reciprocals);
}

void quantize1(int16_t* block, const int16_t* reciprocals) {
  quantizeBlock<true>(block, reciprocals);
}

}  // namespace avx2
