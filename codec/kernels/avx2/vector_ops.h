// Building blocks shared by the AVX2 kernels: eight 32-bit lanes per register, so one register
// holds a whole row or column of a block.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace avx2 {

// Eight vectors of eight 32-bit lanes.
struct Lanes8 {
  __m256i v[8];
};

// 8x8 transpose of 32-bit values: lane i of output k is lane k of input i.
inline Lanes8 transpose(const Lanes8& in) {
  __m256i a[8], b[8];
  for (int i = 0; i < 8; i += 2) {
    a[i] = _mm256_unpacklo_epi32(in.v[i], in.v[i + 1]);
    a[i + 1] = _mm256_unpackhi_epi32(in.v[i], in.v[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    b[i] = _mm256_unpacklo_epi64(a[i], a[i + 2]);
    b[i + 1] = _mm256_unpackhi_epi64(a[i], a[i + 2]);
    b[i + 2] = _mm256_unpacklo_epi64(a[i + 1], a[i + 3]);
    b[i + 3] = _mm256_unpackhi_epi64(a[i + 1], a[i + 3]);
  }
  Lanes8 out;
  for (int k = 0; k < 4; ++k) {
    out.v[k] = _mm256_permute2x128_si256(b[k], b[k + 4], 0x20);
    out.v[k + 4] = _mm256_permute2x128_si256(b[k], b[k + 4], 0x31);
  }
  return out;
}

// Eight vectors of eight 16-bit lanes: one row of a block per vector.
struct Narrow8 {
  __m128i v[8];
};

// 8x8 transpose of 16-bit values: lane i of output k is lane k of input i. Forced inline: the
// transforms that use it only pay off when their registers never go through memory.
[[gnu::always_inline]] inline Narrow8 transpose(const Narrow8& in) {
  __m128i a[8], b[8];
  for (int i = 0; i < 8; i += 2) {
    a[i] = _mm_unpacklo_epi16(in.v[i], in.v[i + 1]);
    a[i + 1] = _mm_unpackhi_epi16(in.v[i], in.v[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    b[i] = _mm_unpacklo_epi32(a[i], a[i + 2]);
    b[i + 1] = _mm_unpackhi_epi32(a[i], a[i + 2]);
    b[i + 2] = _mm_unpacklo_epi32(a[i + 1], a[i + 3]);
    b[i + 3] = _mm_unpackhi_epi32(a[i + 1], a[i + 3]);
  }
  Narrow8 out;
  for (int k = 0; k < 4; ++k) {
    out.v[2 * k] = _mm_unpacklo_epi64(b[k], b[k + 4]);
    out.v[2 * k + 1] = _mm_unpackhi_epi64(b[k], b[k + 4]);
  }
  return out;
}

// Every coefficient of the block but the DC is zero.
inline bool dcOnly(const int16_t* block) {
  const __m256i* rows = reinterpret_cast<const __m256i*>(block);
  const __m256i first = _mm256_andnot_si256(
      _mm256_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), _mm256_loadu_si256(rows));
  const __m256i rest =
      _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(rows + 1), _mm256_loadu_si256(rows + 2)),
                      _mm256_loadu_si256(rows + 3));
  const __m256i any = _mm256_or_si256(first, rest);
  return _mm256_testz_si256(any, any) != 0;
}

inline void fillBlock(int16_t* block, int16_t value) {
  const __m256i filled = _mm256_set1_epi16(value);
  __m256i* rows = reinterpret_cast<__m256i*>(block);
  for (int i = 0; i < 4; ++i) _mm256_storeu_si256(rows + i, filled);
}

// Eight rows of 32-bit lanes, each clamped to 0..255, stored as the block's 16-bit rows.
inline void storeSampleRows(const Lanes8& rows, int16_t* block) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi16(255);
  __m256i* out = reinterpret_cast<__m256i*>(block);
  for (int k = 0; k < 8; k += 2) {
    // packs works within each 128-bit half; the permute puts row k before row k + 1.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(rows.v[k], rows.v[k + 1]), 0xD8);
    _mm256_storeu_si256(out + k / 2, _mm256_min_epi16(_mm256_max_epi16(packed, zero), top));
  }
}

// The same rows as bytes into rows `stride` bytes apart: both packs saturate, so the bytes are
// the clamped samples.
inline void storeSampleBytes(const Lanes8& rows, uint8_t* out, ptrdiff_t stride) {
  for (int k = 0; k < 8; k += 4) {
    // packs works within each 128-bit half: the low half ends with samples 0..3 of rows k .. k + 3,
    // the high half with samples 4..7.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(rows.v[k], rows.v[k + 1]),
                                              _mm256_packs_epi32(rows.v[k + 2], rows.v[k + 3]));
    const __m128i left = _mm256_castsi256_si128(bytes);
    const __m128i right = _mm256_extracti128_si256(bytes, 1);
    const __m128i upper = _mm_unpacklo_epi32(left, right);  // rows k, k + 1
    const __m128i lower = _mm_unpackhi_epi32(left, right);  // rows k + 2, k + 3
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), upper);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (k + 1) * stride), _mm_unpackhi_epi64(upper, upper));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (k + 2) * stride), lower);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (k + 3) * stride), _mm_unpackhi_epi64(lower, lower));
  }
}

// Eight rows of eight bytes of one value.
inline void fillByteRows(uint8_t value, uint8_t* out, ptrdiff_t stride) {
  const __m128i filled = _mm_set1_epi8(static_cast<char>(value));
  for (int k = 0; k < 8; ++k) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), filled);
}

// Nonzero when some lane of some vector does not fit 16 bits (lanes biased by 2^15 must stay
// below 2^16).
inline bool anyOutside16(const Lanes8& lanes) {
  const __m256i bias = _mm256_set1_epi32(32768);
  __m256i any = _mm256_setzero_si256();
  for (const __m256i& v : lanes.v) any = _mm256_or_si256(any, _mm256_add_epi32(v, bias));
  return _mm256_testz_si256(any, _mm256_set1_epi32(static_cast<int32_t>(0xFFFF0000u))) == 0;
}

// Four 16-bit pairs of each of eight rows, pair j of row i in 32-bit lane i of word[j]: the
// operands pmaddwd combines.
struct RowPairs {
  __m256i word[4];
};

// A byte shuffle gathering, in each 16-byte row, the coefficients (a0, b0), (a1, b1), (a2, b2),
// (a3, b3) into 32-bit words 0..3.
inline __m256i pairOrder(int a0, int b0, int a1, int b1, int a2, int b2, int a3, int b3) {
  const auto lo = [](int k) { return static_cast<char>(2 * k); };
  const auto hi = [](int k) { return static_cast<char>(2 * k + 1); };
  return _mm256_setr_epi8(lo(a0), hi(a0), lo(b0), hi(b0), lo(a1), hi(a1), lo(b1), hi(b1), lo(a2), hi(a2),
                          lo(b2), hi(b2), lo(a3), hi(a3), lo(b3), hi(b3), lo(a0), hi(a0), lo(b0), hi(b0),
                          lo(a1), hi(a1), lo(b1), hi(b1), lo(a2), hi(a2), lo(b2), hi(b2), lo(a3), hi(a3),
                          lo(b3), hi(b3));
}

// `rows[i]` holds rows i (low half) and i + 4 (high half), i = 0..3: a shuffle into words, then a
// 4x4 transpose of the words puts row i's pairs in lane i.
inline RowPairs gatherPairs(const __m256i (&rows)[4], __m256i order) {
  __m256i r[4];
  for (int i = 0; i < 4; ++i) r[i] = _mm256_shuffle_epi8(rows[i], order);
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  return {{_mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2), _mm256_unpacklo_epi64(t1, t3),
           _mm256_unpackhi_epi64(t1, t3)}};
}

// The pairs of the block's eight rows.
inline RowPairs loadPairs(const int16_t* block, __m256i order) {
  __m256i rows[4];
  for (int i = 0; i < 4; ++i) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * (i + 4)));
    rows[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  }
  return gatherPairs(rows, order);
}

// The pairs of the rows lanes.v[0..7], each narrowed to 16 bits (the values must fit).
inline RowPairs narrowedPairs(const Lanes8& lanes, __m256i order) {
  __m256i rows[4];
  for (int i = 0; i < 4; ++i)
    rows[i] = _mm256_permute4x64_epi64(_mm256_packs_epi32(lanes.v[i], lanes.v[i + 4]), 0xD8);
  return gatherPairs(rows, order);
}

// Two 16-bit factors in every 32-bit lane, first in the low half.
inline __m256i factorPair(int32_t first, int32_t second) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first)) |
                           static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16));
}

}  // namespace avx2
