// Quantisers, SSE2 twins of the portable kernels, bit-identical to them on every input.
//
// The 32-bit product c * r comes as its two 16-bit halves (pmullw, pmulhw); for variant 1 a
// reciprocal of 2^15 or more reads as r - 2^16, so c is added back to the high half. Adding 2^14
// carries into the high half exactly when the low half's top two bits are set; bits 15..30 of
// the sum are the 16-bit store, taken without saturation (c = r = -32768 gives 32768, stored
// as -32768), as the portable 32-bit arithmetic leaves them.
#include "codec/kernels/sse2/encode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstdint>

namespace {

template <bool kUnsigned>
void quantizeBlock(int16_t* block, const int16_t* reciprocals) {
  const __m128i half = _mm_set1_epi16(16384);
  const __m128i carryTop = _mm_set1_epi16(3);
  for (int i = 0; i < 64; i += 8) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reciprocals + i));
    const __m128i low = _mm_mullo_epi16(c, r);
    __m128i high = _mm_mulhi_epi16(c, r);
    // c * 2^16 where r has its top bit set.
    if constexpr (kUnsigned) high = _mm_add_epi16(high, _mm_and_si128(c, _mm_srai_epi16(r, 15)));
    const __m128i carry = _mm_cmpeq_epi16(_mm_srli_epi16(low, 14), carryTop);
    high = _mm_sub_epi16(high, carry);
    const __m128i roundedLow = _mm_add_epi16(low, half);
    const __m128i result = _mm_or_si128(_mm_slli_epi16(high, 1), _mm_srli_epi16(roundedLow, 15));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), result);
  }
}

}  // namespace

namespace sse2 {

void quantize0(int16_t* block, const int16_t* reciprocals) {
  quantizeBlock<false>(block, reciprocals);
}

void quantize1(int16_t* block, const int16_t* reciprocals) {
  quantizeBlock<true>(block, reciprocals);
}

}  // namespace sse2
#endif
