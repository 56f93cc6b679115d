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
#include <cstddef>
#include <cstdint>

#include "codec/kernels/avx2/decode_kernels.h"
#include "codec/kernels/avx2/vector_ops.h"
#include "codec/kernels/decode_kernels.h"

namespace {

using avx2::Lanes8;

using avx2::factorPair;
using avx2::RowPairs;

// Words 0..3: the coefficient pairs (0,4), (1,7), (5,3), (2,6).
__m256i idctOrder() {
  return avx2::pairOrder(0, 4, 1, 7, 5, 3, 2, 6);
}

struct Pairs {
  __m256i x04, x17, x53, x26;
};

Pairs named(const RowPairs& p) {
  return {p.word[0], p.word[1], p.word[2], p.word[3]};
}

// Low 16 bits of each 32-bit lane, sign-extended, times 2^15 (kHigh: the high 16 bits).
template <bool kHigh>
__m256i times32768(__m256i pairs) {
  if constexpr (kHigh) return _mm256_srai_epi32(_mm256_and_si256(pairs, _mm256_set1_epi32(-65536)), 1);
  return _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 1);
}

// The portable one-dimensional step for eight lanes at once.
template <int kShift>
[[gnu::always_inline]] inline Lanes8 directStep(const Pairs& x) {
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

// Where the samples go: back into the block, or as bytes into rows.
struct InPlace {
  int16_t* block;
  void fill(int16_t sample) const { avx2::fillBlock(block, sample); }
  void put(const Lanes8& samples) const { avx2::storeSampleRows(samples, block); }
  void portable() const { ::idct1Full(block); }
};

struct IntoRows {
  int16_t* block;
  uint8_t* out;
  ptrdiff_t stride;
  void fill(int16_t sample) const { avx2::fillByteRows(static_cast<uint8_t>(sample), out, stride); }
  void put(const Lanes8& samples) const { avx2::storeSampleBytes(samples, out, stride); }
  void portable() const { ::idct1FullToRows(block, out, stride); }
};

template <typename Sink>
[[gnu::always_inline]] inline void transform(int16_t* block, const Sink& sink) {
  if (avx2::dcOnly(block)) {
    sink.fill(flatSample(block[0]));
    return;
  }
  const Lanes8 workspace = directStep<12>(named(avx2::loadPairs(block, idctOrder())));
  if (anyOutside16(workspace)) {
    sink.portable();
    return;
  }
  Lanes8 samples = directStep<21>(named(avx2::narrowedPairs(workspace, idctOrder())));
  const __m256i levelShift = _mm256_set1_epi32(128);
  for (__m256i& v : samples.v) v = _mm256_add_epi32(v, levelShift);
  sink.put(samples);
}

}  // namespace

namespace avx2 {

void idct1Full(int16_t* block) {
  transform(block, InPlace{block});
}

void idct1FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride) {
  transform(block, IntoRows{block, out, stride});
}

}  // namespace avx2
