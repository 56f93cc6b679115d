// Forward DCTs, AVX2 twins of the portable kernels, bit-identical to them on every input.
//
// Variant 0 keeps the SSE2 twin's 16-bit lanes (every AAN value fits 16 bits for samples in
// -128..128) but takes each Q15 product with one pmulhrsw, whose rounding is exactly the
// portable (x*k + 2^14) >> 15.
//
// Variant 1:
// One register holds eight rows (then eight columns) in 32-bit lanes, with the portable kernel's
// 32-bit arithmetic (pmulld for the products, which stay far inside 32 bits).
//
// Pairs (x0,x7), (x1,x6), (x2,x5), (x3,x4) of each row are gathered into 32-bit words, so one
// pmaddwd gives the sums and another the differences. The row pass leaves lane i of output k =
// coefficient k of row i; output k narrowed to 16 bits (as the portable kernel stores it) is column
// k, the column pass's input row, and the column pass's output k is coefficient row k. The
// encoder's converters give samples in -128..128, where every intermediate fits 16 bits; a block
// with any other sample goes to the portable kernel.
#include <immintrin.h>

#include <cstdint>

#include "codec/kernels/avx2/encode_kernels.h"
#include "codec/kernels/avx2/vector_ops.h"
#include "codec/kernels/forward_dct.h"

namespace {

using avx2::factorPair;
using avx2::Lanes8;
using avx2::Narrow8;
using avx2::RowPairs;

// True when every sample of the block lies in -128..128.
bool holdsLevelShiftedSamples(const int16_t* block) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i limit = _mm256_set1_epi16(256);
  __m256i beyond = _mm256_setzero_si256();
  for (int i = 0; i < 64; i += 16) {
    const __m256i samples = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + i));
    // x + 128 in 0..256 as an unsigned 16-bit value; anything else leaves a nonzero excess.
    beyond = _mm256_or_si256(beyond, _mm256_subs_epu16(_mm256_add_epi16(samples, bias), limit));
  }
  return _mm256_testz_si256(beyond, beyond) != 0;
}

__m256i fdctOrder() {
  return avx2::pairOrder(0, 7, 1, 6, 2, 5, 3, 4);
}

__m256i times(__m256i x, int32_t k) {
  return _mm256_mullo_epi32(x, _mm256_set1_epi32(k));
}

__m256i add(__m256i a, __m256i b) {
  return _mm256_add_epi32(a, b);
}

__m256i sub(__m256i a, __m256i b) {
  return _mm256_sub_epi32(a, b);
}

// (v + round) >> shift.
template <int kShift>
__m256i descale(__m256i v) {
  return _mm256_srai_epi32(add(v, _mm256_set1_epi32(1 << (kShift - 1))), kShift);
}

// The portable step for eight lanes: the row pass (kRowPass) or the column pass.
template <bool kRowPass>
Lanes8 fdct1Step(const RowPairs& x) {
  constexpr int kShift = kRowPass ? 12 : 21;
  const __m256i sums = factorPair(1, 1), differences = factorPair(1, -1);
  const __m256i s07 = _mm256_madd_epi16(x.word[0], sums), d07 = _mm256_madd_epi16(x.word[0], differences);
  const __m256i s16 = _mm256_madd_epi16(x.word[1], sums), d16 = _mm256_madd_epi16(x.word[1], differences);
  const __m256i s25 = _mm256_madd_epi16(x.word[2], sums), d25 = _mm256_madd_epi16(x.word[2], differences);
  const __m256i s34 = _mm256_madd_epi16(x.word[3], sums), d34 = _mm256_madd_epi16(x.word[3], differences);
  const __m256i e10 = add(s07, s34), e13 = sub(s07, s34), e11 = add(s16, s25), e12 = sub(s16, s25);

  Lanes8 out;
  if constexpr (kRowPass) {
    out.v[0] = _mm256_slli_epi32(add(e10, e11), 3);
    out.v[4] = _mm256_slli_epi32(sub(e10, e11), 3);
  } else {
    out.v[0] = _mm256_srai_epi32(add(add(e10, e11), _mm256_set1_epi32(32)), 6);
    out.v[4] = _mm256_srai_epi32(add(sub(e10, e11), _mm256_set1_epi32(32)), 6);
  }
  out.v[2] = descale<kShift>(add(times(e13, 42813), times(e12, 17734)));
  out.v[6] = descale<kShift>(sub(times(e13, 17734), times(e12, 42813)));

  const __m256i t = descale<12>(times(d07, 46341));
  const __m256i u = descale<12>(times(d34, 46341));
  const __m256i p = _mm256_slli_epi32(add(d25, d16), 3);
  const __m256i m = _mm256_slli_epi32(sub(d16, d25), 3);
  const __m256i w = add(t, p), b = add(u, m), tp = sub(t, p), up = sub(u, m);
  out.v[1] = descale<kShift>(add(times(w, 4017), times(b, 799)));
  out.v[7] = descale<kShift>(sub(times(w, 799), times(b, 4017)));
  out.v[5] = descale<kShift>(add(times(tp, 2276), times(up, 3406)));
  out.v[3] = descale<kShift>(sub(times(tp, 3406), times(up, 2276)));
  return out;
}

// --- variant 0 ---------------------------------------------------------------------------

__m128i mulQ15(__m128i x, int16_t k) {
  return _mm_mulhrs_epi16(x, _mm_set1_epi16(k));
}

// 42813 = 2^15 + 10045, and x * 2^15 leaves the rounding shift whole.
__m128i mulQ15By42813(__m128i x) {
  return _mm_add_epi16(x, mulQ15(x, 10045));
}

// The portable AAN pass on eight lanes; the bounds of the SSE2 twin keep every value in 16 bits.
[[gnu::always_inline]] inline Narrow8 aanPass(const Narrow8& x) {
  const __m128i t0 = _mm_add_epi16(x.v[0], x.v[7]), t7 = _mm_sub_epi16(x.v[0], x.v[7]);
  const __m128i t1 = _mm_add_epi16(x.v[1], x.v[6]), t6 = _mm_sub_epi16(x.v[1], x.v[6]);
  const __m128i t2 = _mm_add_epi16(x.v[2], x.v[5]), t5 = _mm_sub_epi16(x.v[2], x.v[5]);
  const __m128i t3 = _mm_add_epi16(x.v[3], x.v[4]), t4 = _mm_sub_epi16(x.v[3], x.v[4]);
  const __m128i e10 = _mm_add_epi16(t0, t3), e13 = _mm_sub_epi16(t0, t3);
  const __m128i e11 = _mm_add_epi16(t1, t2), e12 = _mm_sub_epi16(t1, t2);
  const __m128i z1 = mulQ15(_mm_add_epi16(e12, e13), 23170);
  Narrow8 out;
  out.v[0] = _mm_add_epi16(e10, e11);
  out.v[4] = _mm_sub_epi16(e10, e11);
  out.v[2] = _mm_add_epi16(e13, z1);
  out.v[6] = _mm_sub_epi16(e13, z1);

  const __m128i a = _mm_add_epi16(t4, t5), b = _mm_add_epi16(t5, t6), c = _mm_add_epi16(t6, t7);
  const __m128i z5 = mulQ15(_mm_sub_epi16(a, c), 12540);
  const __m128i z2 = _mm_add_epi16(mulQ15(a, 17734), z5);
  const __m128i z4 = _mm_add_epi16(z5, mulQ15By42813(c));
  const __m128i z3 = mulQ15(b, 23170);
  const __m128i z11 = _mm_add_epi16(t7, z3), z13 = _mm_sub_epi16(t7, z3);
  out.v[5] = _mm_add_epi16(z13, z2);
  out.v[3] = _mm_sub_epi16(z13, z2);
  out.v[1] = _mm_add_epi16(z11, z4);
  out.v[7] = _mm_sub_epi16(z11, z4);
  return out;
}

}  // namespace

namespace avx2 {

void fdct0(int16_t* block) {
  if (!holdsLevelShiftedSamples(block)) {
    ::fdct0(block);
    return;
  }
  Narrow8 rows;
  for (int i = 0; i < 8; ++i) rows.v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  // Lanes are rows, then columns; the second transpose brings the output back to rows.
  const Narrow8 out = aanPass(transpose(aanPass(transpose(rows))));
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), out.v[i]);
}

void fdct1(int16_t* block) {
  if (!holdsLevelShiftedSamples(block)) {
    ::fdct1(block);
    return;
  }
  const Lanes8 rowOutputs = fdct1Step<true>(loadPairs(block, fdctOrder()));
  const Lanes8 coefficients = fdct1Step<false>(narrowedPairs(rowOutputs, fdctOrder()));
  __m256i* out = reinterpret_cast<__m256i*>(block);
  for (int k = 0; k < 8; k += 2) {
    const __m256i packed = _mm256_packs_epi32(coefficients.v[k], coefficients.v[k + 1]);
    _mm256_storeu_si256(out + k / 2, _mm256_permute4x64_epi64(packed, 0xD8));
  }
}

}  // namespace avx2
