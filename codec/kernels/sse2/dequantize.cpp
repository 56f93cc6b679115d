// Dequantisers, SSE2 twins of the portable kernels, bit-identical to them on every input.
//
// Variant 1 keeps the low 16 bits of the product: pmullw. Variant 0 needs the whole 32-bit
// product of a signed coefficient and an unsigned step: pmullw gives its low half, pmulhw the
// high half of the signed product, which is short by the coefficient where the step has its top
// bit set (the step read as signed is 2^16 less). The products fit 32 bits, so the halves are
// exact; + 64, >> 7 and the 16-bit store (taken without saturation) follow the portable kernel.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstdint>

namespace {

__m128i load8(const int16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Low 16 bits of each 32-bit lane of two vectors, as eight 16-bit lanes.
__m128i low16(__m128i first, __m128i second) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(first, 16), 16),
                         _mm_srai_epi32(_mm_slli_epi32(second, 16), 16));
}

}  // namespace

namespace sse2 {

void dequantize0(int16_t* block, const int16_t* table) {
  const __m128i rounding = _mm_set1_epi32(64);
  for (int i = 0; i < 64; i += 8) {
    const __m128i c = load8(block + i);
    const __m128i q = load8(table + i);
    const __m128i low = _mm_mullo_epi16(c, q);
    const __m128i high = _mm_add_epi16(_mm_mulhi_epi16(c, q), _mm_and_si128(c, _mm_srai_epi16(q, 15)));
    const __m128i first = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(low, high), rounding), 7);
    const __m128i second = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(low, high), rounding), 7);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), low16(first, second));
  }
}

void dequantize1(int16_t* block, const int16_t* table) {
  for (int i = 0; i < 64; i += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i),
                     _mm_mullo_epi16(load8(block + i), load8(table + i)));
  }
}

}  // namespace sse2
#endif
