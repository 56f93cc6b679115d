// Inverse DCT, variant 1, full size: AVX2 twin of the portable kernel, bit-identical to it on
// every input. One register holds eight rows (then eight columns) of 32-bit lanes, so each pass
// runs the one-dimensional step once where SSE2 runs it twice.
//
// A pass reads its input as 16-bit pairs: a byte shuffle gathers the coefficient pairs (0,4),
// (1,7), (5,3), (2,6) of each row into 32-bit words, and a 4x4 transpose of those words puts the
// pair of row i in lane i. pmaddwd then gives the portable sums of products, wrapping like Wrap32.
// The first pass leaves lane i of output k = workspace row i, column k: output k narrowed to 16 bits
// is column k, the second pass's input row, and the second pass's output k is sample row k.
// A hostile block whose workspace leaves 16 bits goes to the portable kernel.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "codec/kernels/avx2/decode_kernels.h"
#include "codec/kernels/avx2/vector_ops.h"
#include "codec/kernels/decode_kernels.h"

namespace {

using avx2::Lanes8;

// The four coefficient pairs of eight rows: lane i holds row i's pair.
struct Pairs {
  __m256i x04, x17, x53, x26;
};

// Two 16-bit factors in every 32-bit lane, first in the low half.
__m256i factorPair(int32_t first, int32_t second) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first)) |
                           static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16));
}

// `rows[i]` holds input rows i (low half) and i + 4 (high half), for i = 0..3.
Pairs gatherPairs(const __m256i (&rows)[4]) {
  const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 14, 15, 10, 11, 6, 7, 4, 5, 12, 13,  //
                                         0, 1, 8, 9, 2, 3, 14, 15, 10, 11, 6, 7, 4, 5, 12, 13);
  __m256i r[4];
  for (int i = 0; i < 4; ++i) r[i] = _mm256_shuffle_epi8(rows[i], order);
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  return {_mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2), _mm256_unpacklo_epi64(t1, t3),
          _mm256_unpackhi_epi64(t1, t3)};
}

Pairs loadPairs(const int16_t* block) {
  __m256i rows[4];
  for (int i = 0; i < 4; ++i) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * (i + 4)));
    rows[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  }
  return gatherPairs(rows);
}

// The first pass's outputs, each narrowed to 16 bits, as the second pass's input rows.
Pairs workspacePairs(const Lanes8& workspace) {
  __m256i rows[4];
  for (int i = 0; i < 4; ++i)
    rows[i] = _mm256_permute4x64_epi64(_mm256_packs_epi32(workspace.v[i], workspace.v[i + 4]), 0xD8);
  return gatherPairs(rows);
}

// Low 16 bits of each 32-bit lane, sign-extended, times 2^15 (kHigh: the high 16 bits).
template <bool kHigh>
__m256i times32768(__m256i pairs) {
  if constexpr (kHigh) return _mm256_srai_epi32(_mm256_and_si256(pairs, _mm256_set1_epi32(-65536)), 1);
  return _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 1);
}

// The portable one-dimensional step for eight lanes at once.
template <int kShift>
Lanes8 directStep(const Pairs& x) {
  const __m256i a1 = _mm256_madd_epi16(x.x17, factorPair(32138, 6393));
  const __m256i a2 = _mm256_madd_epi16(x.x17, factorPair(6393, -32138));
  const __m256i b1 = _mm256_madd_epi16(x.x53, factorPair(18205, 27246));
  const __m256i b2 = _mm256_madd_epi16(x.x53, factorPair(27246, -18205));
  const __m256i rounding12 = _mm256_set1_epi32(2048);
  const __m256i sqrt2 = _mm256_set1_epi32(5793);
  const __m256i p = _mm256_mullo_epi32(
      _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(a1, b1), rounding12), 12), sqrt2);
  const __m256i q = _mm256_mullo_epi32(
      _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(a2, b2), rounding12), 12), sqrt2);
  const __m256i d1 = _mm256_sub_epi32(a1, b1);
  const __m256i d2 = _mm256_sub_epi32(a2, b2);
  const __m256i r = _mm256_add_epi32(d1, d2);
  const __m256i s = _mm256_sub_epi32(d1, d2);

  const __m256i e0 = _mm256_slli_epi32(_mm256_madd_epi16(x.x04, factorPair(1, 1)), 15);
  const __m256i e1 = _mm256_slli_epi32(_mm256_madd_epi16(x.x04, factorPair(1, -1)), 15);
  // 42813 = 2^15 + 10045 does not fit a 16-bit factor.
  const __m256i c1 =
      _mm256_add_epi32(times32768<false>(x.x26), _mm256_madd_epi16(x.x26, factorPair(10045, 17734)));
  const __m256i c2 =
      _mm256_sub_epi32(_mm256_madd_epi16(x.x26, factorPair(17734, -10045)), times32768<true>(x.x26));

  const __m256i half = _mm256_set1_epi32(1 << (kShift - 1));
  const auto round = [&](__m256i v) { return _mm256_srai_epi32(_mm256_add_epi32(v, half), kShift); };
  const __m256i e0c1 = _mm256_add_epi32(e0, c1);
  const __m256i e0m = _mm256_sub_epi32(e0, c1);
  const __m256i e1c2 = _mm256_add_epi32(e1, c2);
  const __m256i e1m = _mm256_sub_epi32(e1, c2);
  return {{round(_mm256_add_epi32(e0c1, p)), round(_mm256_add_epi32(e1c2, r)),
           round(_mm256_add_epi32(e1m, s)), round(_mm256_add_epi32(e0m, q)), round(_mm256_sub_epi32(e0m, q)),
           round(_mm256_sub_epi32(e1m, s)), round(_mm256_sub_epi32(e1c2, r)),
           round(_mm256_sub_epi32(e0c1, p))}};
}

// The sample both passes make of a lone DC.
int16_t flatSample(int16_t dc) {
  const int32_t first = (int32_t{dc} * 32768 + 2048) >> 12;
  const int32_t second = static_cast<int32_t>(static_cast<uint32_t>(first) * 32768u + (1u << 20)) >> 21;
  return static_cast<int16_t>(std::clamp(second + 128, 0, 255));
}

}  // namespace

namespace avx2 {

void idct1Full(int16_t* block) {
  if (dcOnly(block)) {
    fillBlock(block, flatSample(block[0]));
    return;
  }
  const Lanes8 workspace = directStep<12>(loadPairs(block));
  if (anyOutside16(workspace)) {
    ::idct1Full(block);
    return;
  }
  Lanes8 samples = directStep<21>(workspacePairs(workspace));
  const __m256i levelShift = _mm256_set1_epi32(128);
  for (__m256i& v : samples.v) v = _mm256_add_epi32(v, levelShift);
  storeSampleRows(samples, block);
}

}  // namespace avx2
