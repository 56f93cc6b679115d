// Dequantisers, AVX2 twins of the portable kernels, bit-identical to them on every input: the
// SSE2 twins' arithmetic (codec/kernels/sse2/dequantize.cpp) on sixteen coefficients at once.
// Variant 1 keeps the low 16 bits of the product; variant 0 builds the whole 32-bit product of a
// signed coefficient and an unsigned step from its two halves, then + 64, >> 7 and the 16-bit
// store. Every step works within each 128-bit half, so the coefficients keep their order.
#include <immintrin.h>

#include <cstdint>

#include "codec/kernels/avx2/decode_kernels.h"

namespace {

__m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

void store16(int16_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Low 16 bits of each 32-bit lane of two vectors, as 16-bit lanes (no saturation).
__m256i low16(__m256i first, __m256i second) {
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_slli_epi32(first, 16), 16),
                            _mm256_srai_epi32(_mm256_slli_epi32(second, 16), 16));
}

}  // namespace

namespace avx2 {

void dequantize0(int16_t* block, const int16_t* table) {
  const __m256i rounding = _mm256_set1_epi32(64);
  for (int i = 0; i < 64; i += 16) {
    const __m256i c = load16(block + i);
    const __m256i q = load16(table + i);
    const __m256i low = _mm256_mullo_epi16(c, q);
    // The signed high half is short by c where the step has its top bit set.
    const __m256i high =
        _mm256_add_epi16(_mm256_mulhi_epi16(c, q), _mm256_and_si256(c, _mm256_srai_epi16(q, 15)));
    const __m256i first = _mm256_srai_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(low, high), rounding), 7);
    const __m256i second = _mm256_srai_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(low, high), rounding), 7);
    store16(block + i, low16(first, second));
  }
}

void dequantize1(int16_t* block, const int16_t* table) {
  for (int i = 0; i < 64; i += 16)
    store16(block + i, _mm256_mullo_epi16(load16(block + i), load16(table + i)));
}

}  // namespace avx2
