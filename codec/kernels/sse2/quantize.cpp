// Quantisers, SSE2 twins of the portable kernels, bit-identical to them on every input.
//
// (c * r + 2^14) >> 15 comes from one pmaddwd that pairs c with r and 1 with 2^14; for variant 1
// a reciprocal of 2^15 or more reads as r - 2^16, and c * 2^16 is added back. The 32-bit result
// is the portable one (no input leaves 32 bits), and its bits 15..30 are the 16-bit store, taken
// without saturation (c = r = -32768 gives 32768, stored as -32768).
#include "codec/kernels/sse2/encode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstdint>

namespace {

// Bits 15..30 of each 32-bit lane of two vectors, as eight 16-bit lanes.
__m128i bits15To30(__m128i low, __m128i high) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(low, 1), 16),
                         _mm_srai_epi32(_mm_slli_epi32(high, 1), 16));
}

template <bool kUnsigned>
void quantizeBlock(int16_t* block, const int16_t* reciprocals) {
  const __m128i one = _mm_set1_epi16(1);
  const __m128i half = _mm_set1_epi16(16384);
  for (int i = 0; i < 64; i += 8) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reciprocals + i));
    const __m128i cOne0 = _mm_unpacklo_epi16(c, one), cOne1 = _mm_unpackhi_epi16(c, one);
    __m128i low = _mm_madd_epi16(cOne0, _mm_unpacklo_epi16(r, half));
    __m128i high = _mm_madd_epi16(cOne1, _mm_unpackhi_epi16(r, half));
    if constexpr (kUnsigned) {
      // c * 2^16 where r has its top bit set.
      const __m128i wrapped = _mm_and_si128(c, _mm_srai_epi16(r, 15));
      low = _mm_add_epi32(low, _mm_unpacklo_epi16(_mm_setzero_si128(), wrapped));
      high = _mm_add_epi32(high, _mm_unpackhi_epi16(_mm_setzero_si128(), wrapped));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + i), bits15To30(low, high));
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
