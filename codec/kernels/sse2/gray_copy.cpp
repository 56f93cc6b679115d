// SSE2 twin of copyGrayTo3: a row's eight samples as 4-byte pixels with an empty fourth byte,
// squeezed to 24 bytes by the shared 3-byte pixel stores.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "codec/kernels/sse2/pixel_stores.h"

namespace sse2 {

void copyGrayTo3(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const __m128i lowBytes = _mm_set1_epi16(0xFF);
  const __m128i zero = _mm_setzero_si128();
  for (int32_t y = 0; y < 8; ++y, dst += stride) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(components[0] + 8 * y));
    const __m128i grey = _mm_packus_epi16(_mm_and_si128(row, lowBytes), zero);  // the low bytes
    const __m128i twice = _mm_unpacklo_epi8(grey, grey);
    const __m128i onceThenZero = _mm_unpacklo_epi8(grey, zero);
    const __m128i quads[2] = {_mm_unpacklo_epi16(twice, onceThenZero),
                              _mm_unpackhi_epi16(twice, onceThenZero)};
    storeQuadsAs3(dst, quads, 2);
  }
}

}  // namespace sse2

#endif
