// Building blocks shared by the SSE2 kernels.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace sse2 {

// Eight vectors of eight 16-bit lanes: the rows (or columns) of a block.
struct Rows8 {
  __m128i v[8];
};

// 8x8 transpose of 16-bit values.
inline Rows8 transpose(const Rows8& in) {
  const __m128i a0 = _mm_unpacklo_epi16(in.v[0], in.v[1]);
  const __m128i a1 = _mm_unpackhi_epi16(in.v[0], in.v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(in.v[2], in.v[3]);
  const __m128i a3 = _mm_unpackhi_epi16(in.v[2], in.v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(in.v[4], in.v[5]);
  const __m128i a5 = _mm_unpackhi_epi16(in.v[4], in.v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(in.v[6], in.v[7]);
  const __m128i a7 = _mm_unpackhi_epi16(in.v[6], in.v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
  const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
  const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
  const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
  const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
  Rows8 out;
  out.v[0] = _mm_unpacklo_epi64(b0, b4);
  out.v[1] = _mm_unpackhi_epi64(b0, b4);
  out.v[2] = _mm_unpacklo_epi64(b1, b5);
  out.v[3] = _mm_unpackhi_epi64(b1, b5);
  out.v[4] = _mm_unpacklo_epi64(b2, b6);
  out.v[5] = _mm_unpackhi_epi64(b2, b6);
  out.v[6] = _mm_unpacklo_epi64(b3, b7);
  out.v[7] = _mm_unpackhi_epi64(b3, b7);
  return out;
}

inline Rows8 loadBlock(const int16_t* block) {
  Rows8 rows;
  for (int i = 0; i < 8; ++i) rows.v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  return rows;
}

inline void storeBlock(const Rows8& rows, int16_t* block) {
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), rows.v[i]);
}

// Sample rows as bytes into rows `stride` bytes apart, each sample cut to its low byte.
inline void storeBlockBytes(const Rows8& rows, uint8_t* out, ptrdiff_t stride) {
  const __m128i lowByte = _mm_set1_epi16(0xFF);
  for (int i = 0; i < 8; i += 2) {
    const __m128i bytes =
        _mm_packus_epi16(_mm_and_si128(rows.v[i], lowByte), _mm_and_si128(rows.v[i + 1], lowByte));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i * stride), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (i + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
  }
}

// Where an inverse transform puts its samples: back into the block, or as bytes into rows.
struct SamplesInPlace {
  int16_t* block;
  void put(const Rows8& rows) const { storeBlock(rows, block); }
  void portable(void (*transform)(int16_t*)) const { transform(block); }
};

struct SamplesIntoRows {
  int16_t* block;
  uint8_t* out;
  ptrdiff_t stride;
  void put(const Rows8& rows) const { storeBlockBytes(rows, out, stride); }
  void portable(void (*transform)(int16_t*)) const {
    transform(block);
    put(loadBlock(block));
  }
};

// Every coefficient but the DC is zero (common in chroma and smooth areas).
inline bool dcOnly(const Rows8& rows) {
  __m128i any = _mm_andnot_si128(_mm_cvtsi32_si128(0xFFFF), rows.v[0]);
  for (int k = 1; k < 8; ++k) any = _mm_or_si128(any, rows.v[k]);
  return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) == 0xFFFF;
}

inline bool allZero(__m128i v) {
  return _mm_movemask_epi8(_mm_cmpeq_epi16(v, _mm_setzero_si128())) == 0xFFFF;
}

// Rows 4..7 are zero (the high vertical frequencies, zero in most blocks of a photo).
inline bool lowerRowsZero(const Rows8& rows) {
  return allZero(_mm_or_si128(_mm_or_si128(rows.v[4], rows.v[5]), _mm_or_si128(rows.v[6], rows.v[7])));
}

// Columns 4..7 are zero in every row.
inline bool rightColumnsZero(const Rows8& rows) {
  __m128i any = rows.v[0];
  for (int k = 1; k < 8; ++k) any = _mm_or_si128(any, rows.v[k]);
  return allZero(_mm_unpackhi_epi64(any, any));
}

// Only row 0 holds nonzero values.
inline bool firstRowOnly(const Rows8& rows) {
  __m128i any = rows.v[1];
  for (int k = 2; k < 8; ++k) any = _mm_or_si128(any, rows.v[k]);
  return allZero(any);
}

// Only column 0 holds nonzero values.
inline bool firstColumnOnly(const Rows8& rows) {
  __m128i any = rows.v[0];
  for (int k = 1; k < 8; ++k) any = _mm_or_si128(any, rows.v[k]);
  return allZero(_mm_andnot_si128(_mm_cvtsi32_si128(0xFFFF), any));
}

// Lane 0 of a vector of eight 16-bit values in every lane.
inline __m128i broadcastFirst16(__m128i v) {
  const __m128i low = _mm_shufflelo_epi16(v, 0);
  return _mm_unpacklo_epi64(low, low);
}

// Lane 0 of four vectors of 32-bit lanes, gathered into one vector (a0, b0, c0, d0).
inline __m128i firstLanes(__m128i a, __m128i b, __m128i c, __m128i d) {
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
}

inline Rows8 filledRows(int16_t value) {
  Rows8 rows;
  for (__m128i& row : rows.v) row = _mm_set1_epi16(value);
  return rows;
}

// Two 16-bit factors in every 32-bit lane, first in the low half: the multiplier pmaddwd
// applies to pairs made by interleave.
inline __m128i factorPair(int32_t first, int32_t second) {
  return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first)) |
                        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16));
}

// Lanes 0..3 (kHigh false) or 4..7 of a and b, interleaved as (a, b) pairs.
template <bool kHigh>
__m128i interleave(__m128i a, __m128i b) {
  return kHigh ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
}

// Low 32 bits of a * b in each 32-bit lane, as a 32-bit multiply keeps them (SSE2 has no
// pmulld): two 32x32->64 products on the even and the odd lanes, recombined.
inline __m128i multiplyLow(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// Low 32 bits of x * k in each 32-bit lane for a constant 0 <= k < 2^17, in fewer steps than
// multiplyLow: with x = xh·2^16 + xl, x·k = xl·(k mod 2^16) + (xh·(k mod 2^16) mod 2^16)·2^16
// (+ x·2^16 when k >= 2^16); pmulhuw and pmullw on the 16-bit halves give both parts.
inline __m128i multiplyByConstant(__m128i x, uint32_t k) {
  const __m128i low = _mm_set1_epi16(static_cast<int16_t>(k & 0xFFFFu));
  const __m128i product = _mm_add_epi16(_mm_slli_epi32(_mm_mulhi_epu16(x, low), 16), _mm_mullo_epi16(x, low));
  return k >= 0x10000u ? _mm_add_epi32(product, _mm_slli_epi32(x, 16)) : product;
}

// Lanes 0..3 (kHigh false) or 4..7 of eight 16-bit values, sign-extended to 32 bits.
template <bool kHigh>
__m128i widen(__m128i x) {
  const __m128i spread = kHigh ? _mm_unpackhi_epi16(x, x) : _mm_unpacklo_epi16(x, x);
  return _mm_srai_epi32(spread, 16);
}

// Two vectors of 32-bit lanes to eight 16-bit lanes keeping the low 16 bits of each (no
// saturation), as a store to int16_t does.
inline __m128i narrowLow16(__m128i low, __m128i high) {
  return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(low, 16), 16),
                         _mm_srai_epi32(_mm_slli_epi32(high, 16), 16));
}

// Two vectors of 32-bit lanes to eight samples 0..255 in 16-bit lanes (clamped).
inline __m128i narrowToSamples(__m128i low, __m128i high) {
  const __m128i saturated = _mm_packs_epi32(low, high);
  return _mm_min_epi16(_mm_max_epi16(saturated, _mm_setzero_si128()), _mm_set1_epi16(255));
}

}  // namespace sse2
