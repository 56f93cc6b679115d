// Forward DCTs, SSE2 twins of the portable kernels: the same passes on eight rows (then eight
// columns) at once, bit-identical to them on every input.
//
// The encoder's converters give samples in -128..128 only, and over that range every value of
// either transform is known in advance (bounds below): the twins keep 16-bit lanes wherever a
// value fits 16 bits and take products and wider sums in 32-bit lanes through pmaddwd, whose
// results equal the portable 32-bit arithmetic modulo 2^32. A block with any other sample goes
// to the portable kernel, which defines the result.
#include "codec/kernels/sse2/encode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstdint>

#include "codec/kernels/forward_dct.h"
#include "codec/kernels/sse2/vector_ops.h"

namespace {

using sse2::Rows8;
using sse2::transpose;

// True when every sample of the block lies in -128..128.
bool holdsLevelShiftedSamples(const Rows8& rows) {
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i limit = _mm_set1_epi16(256);
  __m128i beyond = _mm_setzero_si128();
  for (const __m128i& row : rows.v) {
    // x + 128 in 0..256 as an unsigned 16-bit value; anything else leaves a nonzero excess.
    beyond = _mm_or_si128(beyond, _mm_subs_epu16(_mm_add_epi16(row, bias), limit));
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) == 0xFFFF;
}

// Both halves of a product-sum step, narrowed to 16 bits (the callers' values fit).
template <typename Half>
__m128i bothHalves(const Half& half) {
  return _mm_packs_epi32(half.template operator()<false>(), half.template operator()<true>());
}

// --- variant 1 ---------------------------------------------------------------------------
// Row pass on samples -128..128: sums stay within 2^10, t and u within 2897, w, b, t - p and
// u - m within 6993, and every output within 9702; all of it fits 16-bit lanes.

constexpr int32_t kCos1 = 4017, kSin1 = 799, kCos3 = 3406, kSin3 = 2276;

Rows8 fdct1Rows(const Rows8& x) {
  const __m128i s07 = _mm_add_epi16(x.v[0], x.v[7]), d07 = _mm_sub_epi16(x.v[0], x.v[7]);
  const __m128i s16 = _mm_add_epi16(x.v[1], x.v[6]), d16 = _mm_sub_epi16(x.v[1], x.v[6]);
  const __m128i s25 = _mm_add_epi16(x.v[2], x.v[5]), d25 = _mm_sub_epi16(x.v[2], x.v[5]);
  const __m128i s34 = _mm_add_epi16(x.v[3], x.v[4]), d34 = _mm_sub_epi16(x.v[3], x.v[4]);
  const __m128i e10 = _mm_add_epi16(s07, s34), e13 = _mm_sub_epi16(s07, s34);
  const __m128i e11 = _mm_add_epi16(s16, s25), e12 = _mm_sub_epi16(s16, s25);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i round = _mm_set1_epi32(2048);

  Rows8 out;
  out.v[0] = _mm_slli_epi16(_mm_add_epi16(e10, e11), 3);
  out.v[4] = _mm_slli_epi16(_mm_sub_epi16(e10, e11), 3);
  // 42813 = 32767 + 10046: the rotation takes two pmaddwd, the second adding the rounding.
  out.v[2] = bothHalves([&]<bool kHigh>() {
    const __m128i sum =
        _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(e13, e12), sse2::factorPair(10046, 17734)),
                      _mm_madd_epi16(sse2::interleave<kHigh>(e13, one), sse2::factorPair(32767, 2048)));
    return _mm_srai_epi32(sum, 12);
  });
  out.v[6] = bothHalves([&]<bool kHigh>() {
    const __m128i sum =
        _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(e13, e12), sse2::factorPair(17734, -10046)),
                      _mm_madd_epi16(sse2::interleave<kHigh>(e12, one), sse2::factorPair(-32767, 2048)));
    return _mm_srai_epi32(sum, 12);
  });

  // sqrt(2) = 46341 / 2^15 = (23170 + 23171) / 2^15.
  const auto timesSqrt2 = [&](__m128i d) {
    return bothHalves([&]<bool kHigh>() {
      return _mm_srai_epi32(
          _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(d, d), sse2::factorPair(23170, 23171)), round),
          12);
    });
  };
  const __m128i t = timesSqrt2(d07);
  const __m128i u = timesSqrt2(d34);
  const __m128i p = _mm_slli_epi16(_mm_add_epi16(d25, d16), 3);
  const __m128i m = _mm_slli_epi16(_mm_sub_epi16(d16, d25), 3);
  const __m128i w = _mm_add_epi16(t, p), b = _mm_add_epi16(u, m);
  const __m128i tp = _mm_sub_epi16(t, p), up = _mm_sub_epi16(u, m);
  const auto rotate = [&](__m128i first, __m128i second, __m128i factors) {
    return bothHalves([&]<bool kHigh>() {
      return _mm_srai_epi32(
          _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(first, second), factors), round), 12);
    });
  };
  out.v[1] = rotate(w, b, sse2::factorPair(kCos1, kSin1));
  out.v[7] = rotate(w, b, sse2::factorPair(kSin1, -kCos1));
  out.v[5] = rotate(tp, up, sse2::factorPair(kSin3, kCos3));
  out.v[3] = rotate(tp, up, sse2::factorPair(kCos3, -kSin3));
  return out;
}

// Column pass on row outputs within 9702: the pair sums and differences (within 19404) fit
// 16 bits, the rest is taken in 32-bit lanes. The odd part expands w, b, t - p and u - m so that
// only t and u are 32-bit operands of a product; each is split into a signed low half and a
// high half for pmaddwd.
template <bool kHigh>
void fdct1ColumnHalf(const Rows8& x, __m128i* out) {
  const __m128i s07 = _mm_add_epi16(x.v[0], x.v[7]), d07 = _mm_sub_epi16(x.v[0], x.v[7]);
  const __m128i s16 = _mm_add_epi16(x.v[1], x.v[6]), d16 = _mm_sub_epi16(x.v[1], x.v[6]);
  const __m128i s25 = _mm_add_epi16(x.v[2], x.v[5]), d25 = _mm_sub_epi16(x.v[2], x.v[5]);
  const __m128i s34 = _mm_add_epi16(x.v[3], x.v[4]), d34 = _mm_sub_epi16(x.v[3], x.v[4]);
  const __m128i s0734 = sse2::interleave<kHigh>(s07, s34);
  const __m128i s1625 = sse2::interleave<kHigh>(s16, s25);
  const __m128i e10 = _mm_madd_epi16(s0734, sse2::factorPair(1, 1)),
                e13 = _mm_madd_epi16(s0734, sse2::factorPair(1, -1));
  const __m128i e11 = _mm_madd_epi16(s1625, sse2::factorPair(1, 1)),
                e12 = _mm_madd_epi16(s1625, sse2::factorPair(1, -1));

  const __m128i r = _mm_set1_epi32(1 << 20);
  const __m128i dcRound = _mm_set1_epi32(32);
  out[0] = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(e10, e11), dcRound), 6);
  out[4] = _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(e10, e11), dcRound), 6);
  // 42813 * e = e * 2^15 + 10045 * e.
  const __m128i v2 = _mm_add_epi32(
      _mm_add_epi32(_mm_madd_epi16(s0734, sse2::factorPair(10045, -10045)), _mm_slli_epi32(e13, 15)),
      _mm_madd_epi16(s1625, sse2::factorPair(17734, -17734)));
  const __m128i v6 = _mm_sub_epi32(
      _mm_sub_epi32(_mm_madd_epi16(s0734, sse2::factorPair(17734, -17734)), _mm_slli_epi32(e12, 15)),
      _mm_madd_epi16(s1625, sse2::factorPair(10045, -10045)));
  out[2] = _mm_srai_epi32(_mm_add_epi32(v2, r), 21);
  out[6] = _mm_srai_epi32(_mm_add_epi32(v6, r), 21);

  const __m128i round = _mm_set1_epi32(2048);
  const __m128i t = _mm_srai_epi32(
      _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(d07, d07), sse2::factorPair(23170, 23171)), round),
      12);
  const __m128i u = _mm_srai_epi32(
      _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(d34, d34), sse2::factorPair(23170, 23171)), round),
      12);
  // t = high * 2^16 + low with low the signed low 16 bits; lanes hold (t, u) halves in pairs.
  const __m128i lowMask = _mm_set1_epi32(0xFFFF);
  const __m128i halfUnit = _mm_set1_epi32(0x8000);
  const __m128i lows = _mm_or_si128(_mm_and_si128(t, lowMask), _mm_slli_epi32(u, 16));
  const __m128i highs = _mm_or_si128(_mm_srli_epi32(_mm_add_epi32(t, halfUnit), 16),
                                     _mm_andnot_si128(lowMask, _mm_add_epi32(u, halfUnit)));
  const auto products = [&](int32_t forT, int32_t forU) {
    const __m128i factors = sse2::factorPair(forT, forU);
    return _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(highs, factors), 16), _mm_madd_epi16(lows, factors));
  };
  const __m128i d1625 = sse2::interleave<kHigh>(d16, d25);
  const auto eightTimes = [&](int32_t forD16, int32_t forD25) {
    return _mm_slli_epi32(_mm_madd_epi16(d1625, sse2::factorPair(forD16, forD25)), 3);
  };
  // p = 8 (d25 + d16), m = 8 (d16 - d25) folded into the rotations.
  const __m128i v1 = _mm_add_epi32(products(kCos1, kSin1), eightTimes(kCos1 + kSin1, kCos1 - kSin1));
  const __m128i v7 = _mm_add_epi32(products(kSin1, -kCos1), eightTimes(kSin1 - kCos1, kSin1 + kCos1));
  const __m128i v5 = _mm_sub_epi32(products(kSin3, kCos3), eightTimes(kSin3 + kCos3, kSin3 - kCos3));
  const __m128i v3 = _mm_sub_epi32(products(kCos3, -kSin3), eightTimes(kCos3 - kSin3, kCos3 + kSin3));
  out[1] = _mm_srai_epi32(_mm_add_epi32(v1, r), 21);
  out[7] = _mm_srai_epi32(_mm_add_epi32(v7, r), 21);
  out[5] = _mm_srai_epi32(_mm_add_epi32(v5, r), 21);
  out[3] = _mm_srai_epi32(_mm_add_epi32(v3, r), 21);
}

// --- variant 0 ---------------------------------------------------------------------------
// Every value of both AAN passes stays within 16 bits for samples -128..128: row outputs within
// 1679, column values within 22023 (sums of the bounds of their operands).

constexpr int16_t kAanCos4 = 23170, kAanC6 = 12540, kAanC2mC6 = 17734;

// (x * k + 2^14) >> 15 in 16-bit lanes, the rounding folded into pmaddwd.
__m128i mulQ15(__m128i x, int16_t k) {
  const __m128i factors = sse2::factorPair(k, 16384);
  const __m128i one = _mm_set1_epi16(1);
  return bothHalves([&]<bool kHigh>() {
    return _mm_srai_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(x, one), factors), 15);
  });
}

// The same for 42813 = 32767 + 10046.
__m128i mulQ15By42813(__m128i x) {
  const __m128i round = _mm_set1_epi32(16384);
  return bothHalves([&]<bool kHigh>() {
    return _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(sse2::interleave<kHigh>(x, x), sse2::factorPair(32767, 10046)), round),
        15);
  });
}

Rows8 aanPass(const Rows8& x) {
  const __m128i t0 = _mm_add_epi16(x.v[0], x.v[7]), t7 = _mm_sub_epi16(x.v[0], x.v[7]);
  const __m128i t1 = _mm_add_epi16(x.v[1], x.v[6]), t6 = _mm_sub_epi16(x.v[1], x.v[6]);
  const __m128i t2 = _mm_add_epi16(x.v[2], x.v[5]), t5 = _mm_sub_epi16(x.v[2], x.v[5]);
  const __m128i t3 = _mm_add_epi16(x.v[3], x.v[4]), t4 = _mm_sub_epi16(x.v[3], x.v[4]);
  const __m128i e10 = _mm_add_epi16(t0, t3), e13 = _mm_sub_epi16(t0, t3);
  const __m128i e11 = _mm_add_epi16(t1, t2), e12 = _mm_sub_epi16(t1, t2);
  const __m128i z1 = mulQ15(_mm_add_epi16(e12, e13), kAanCos4);
  Rows8 out;
  out.v[0] = _mm_add_epi16(e10, e11);
  out.v[4] = _mm_sub_epi16(e10, e11);
  out.v[2] = _mm_add_epi16(e13, z1);
  out.v[6] = _mm_sub_epi16(e13, z1);

  const __m128i a = _mm_add_epi16(t4, t5), b = _mm_add_epi16(t5, t6), c = _mm_add_epi16(t6, t7);
  const __m128i z5 = mulQ15(_mm_sub_epi16(a, c), kAanC6);
  const __m128i z2 = _mm_add_epi16(mulQ15(a, kAanC2mC6), z5);
  const __m128i z4 = _mm_add_epi16(z5, mulQ15By42813(c));
  const __m128i z3 = mulQ15(b, kAanCos4);
  const __m128i z11 = _mm_add_epi16(t7, z3), z13 = _mm_sub_epi16(t7, z3);
  out.v[5] = _mm_add_epi16(z13, z2);
  out.v[3] = _mm_sub_epi16(z13, z2);
  out.v[1] = _mm_add_epi16(z11, z4);
  out.v[7] = _mm_sub_epi16(z11, z4);
  return out;
}

}  // namespace

namespace sse2 {

void fdct0(int16_t* block) {
  const Rows8 rows = loadBlock(block);
  if (!holdsLevelShiftedSamples(rows)) {
    ::fdct0(block);
    return;
  }
  // Lanes are rows, then columns; the second transpose brings the output back to rows.
  const Rows8 rowOutputs = aanPass(transpose(rows));
  storeBlock(aanPass(transpose(rowOutputs)), block);
}

void fdct1(int16_t* block) {
  const Rows8 rows = loadBlock(block);
  if (!holdsLevelShiftedSamples(rows)) {
    ::fdct1(block);
    return;
  }
  const Rows8 workspace = transpose(fdct1Rows(transpose(rows)));
  __m128i left[8], right[8];
  fdct1ColumnHalf<false>(workspace, left);
  fdct1ColumnHalf<true>(workspace, right);
  Rows8 out;
  for (int k = 0; k < 8; ++k) out.v[k] = _mm_packs_epi32(left[k], right[k]);
  storeBlock(out, block);
}

}  // namespace sse2
#endif
