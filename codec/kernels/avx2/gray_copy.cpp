// AVX2 twin of copyGrayTo3: with the byte shuffle the 3-byte pixels of a row come from its eight
// low bytes in two shuffles, one 16-byte and one 8-byte store.
#include "codec/kernels/avx2/decode_kernels.h"

#if defined(MESHWICK_HAS_AVX2_KERNELS)
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace avx2 {

void copyGrayTo3(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const __m128i lowBytes = _mm_set1_epi16(0xFF);
  const __m128i firstSixteen = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
  const __m128i lastEight = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  for (int32_t y = 0; y < 8; ++y, dst += stride) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(components[0] + 8 * y));
    const __m128i grey = _mm_packus_epi16(_mm_and_si128(row, lowBytes), lowBytes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(grey, firstSixteen));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm_shuffle_epi8(grey, lastEight));
  }
}

}  // namespace avx2

#endif
