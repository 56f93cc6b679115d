// Dequantisers, SSE2 twins of the portable kernels, bit-identical to them on every input.
//
// Variant 1 keeps the low 16 bits of the product: pmullw. Variant 0 needs the whole 32-bit
// product of a signed coefficient and an unsigned step: pmullw gives its low half, pmulhw the
// high half of the signed product, which is short by the coefficient where the step has its top
// bit set (the step read as signed is 2^16 less). The products fit 32 bits, so the halves are
// exact; + 64 (carried from the low half into the high one) and >> 7 then need only the 16 bits
// the portable kernel keeps, bits 7..22 of the rounded product.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstdint>

namespace {

__m128i load8(const int16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

namespace sse2 {

void dequantize0(int16_t* block, const int16_t* table) {
  const __m128i rounding = _mm_set1_epi16(64);
  for (int i = 0; i < 64; i += 8) {
    const __m128i c = load8(block + i);
    const __m128i q = load8(table + i);
    const __m128i low = _mm_add_epi16(_mm_mullo_epi16(c, q), rounding);
    const __m128i high = _mm_add_epi16(_mm_mulhi_epi16(c, q), _mm_and_si128(c, _mm_srai_epi16(q, 15)));
    // The rounding carries into the high half when the low half wrapped to below 64.
    const __m128i carry = _mm_cmpeq_epi16(_mm_srli_epi16(low, 6), _mm_setzero_si128());
    const __m128i roundedHigh = _mm_sub_epi16(high, carry);
    // Bits 7..22 of the rounded product: the stored low 16 bits of the shifted value.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i),
                     _mm_or_si128(_mm_srli_epi16(low, 7), _mm_slli_epi16(roundedHigh, 9)));
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
