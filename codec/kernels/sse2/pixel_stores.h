// Sixteen converted pixels to memory, shared by the SSE2 colour kernels. SSE2 has no byte shuffle,
// so 3-byte pixels are first built as 4-byte pixels with an empty fourth byte, then squeezed with
// shifts into six-byte pairs that go out with overlapping stores.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace sse2 {

inline void store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

inline void store8(uint8_t* p, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// Bytes 0..3 of sixteen pixels in stored order, one vector each; the fourth is zero for 3-byte
// pixels.
struct Pixels16 {
  __m128i first;
  __m128i second;
  __m128i third;
  __m128i fourth;
};

// Sixteen 4-byte pixels, four per vector.
struct Quads {
  __m128i q[4];
};

inline Quads quads(const Pixels16& p) {
  const __m128i lowPairs = _mm_unpacklo_epi8(p.first, p.second);
  const __m128i highPairs = _mm_unpackhi_epi8(p.first, p.second);
  const __m128i lowRest = _mm_unpacklo_epi8(p.third, p.fourth);
  const __m128i highRest = _mm_unpackhi_epi8(p.third, p.fourth);
  return {{_mm_unpacklo_epi16(lowPairs, lowRest), _mm_unpackhi_epi16(lowPairs, lowRest),
           _mm_unpacklo_epi16(highPairs, highRest), _mm_unpackhi_epi16(highPairs, highRest)}};
}

// In each 64-bit half of four 4-byte pixels with a zero fourth byte, the second pixel moves down
// one byte onto the first one's empty byte: six pixel bytes, then two zero bytes, per half.
inline __m128i pairUp(__m128i quad) {
  const __m128i firstPixels = _mm_and_si128(quad, _mm_set_epi32(0, -1, 0, -1));
  return _mm_or_si128(firstPixels, _mm_slli_epi64(_mm_srli_epi64(quad, 32), 24));
}

// The same four pixels as their twelve bytes in bytes 0..11; 12..15 zero.
inline __m128i squeeze(__m128i quad) {
  const __m128i pairs = pairUp(quad);
  return _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
}

// Quads q[0..count-1] as 3-byte pixels to the 12·count bytes at p. Each six-byte pair goes out
// with an 8-byte store whose two spare bytes the next store overwrites; the last quad is
// squeezed instead, so that nothing lands past the end.
inline void storeQuadsAs3(uint8_t* p, const __m128i* q, int count) {
  for (int i = 0; i < count - 1; ++i, p += 12) {
    const __m128i pairs = pairUp(q[i]);
    store8(p, pairs);
    store8(p + 6, _mm_unpackhi_epi64(pairs, pairs));
  }
  const __m128i last = squeeze(q[count - 1]);
  store8(p, last);
  store8(p + 4, _mm_srli_si128(last, 4));
}

}  // namespace sse2
