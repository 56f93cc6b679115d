// Inverse DCT, variant 0, full size: AVX2 twin of the portable AAN kernel, bit-identical to it on
// every input. Blocks whose coefficients keep every value of the transform within 16 bits (all of
// a photo's but a few) run in 16-bit lanes, eight to a register with pmulhrsw for the Q15
// multiplies; the rest take 32-bit lanes (wrapping like Wrap32), a whole row to a register.
//
// Both ways the column pass needs no transpose (lane i of vector k is row k, column i); its
// results are the portable kernel's 16-bit intermediate block, transposed for the row pass, whose
// results are transposed back into sample rows.
#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec/kernels/avx2/decode_kernels.h"
#include "codec/kernels/avx2/vector_ops.h"

namespace {

using avx2::Lanes8;
using avx2::Narrow8;

// (x·k + 2^14) >> 15 in 32-bit lanes.
__m256i mulQ15(__m256i x, int32_t k) {
  const __m256i product = _mm256_mullo_epi32(x, _mm256_set1_epi32(k));
  return _mm256_srai_epi32(_mm256_add_epi32(product, _mm256_set1_epi32(16384)), 15);
}

Lanes8 aanStep(const Lanes8& x) {
  const __m256i z10 = _mm256_sub_epi32(x.v[5], x.v[3]);
  const __m256i z13 = _mm256_add_epi32(x.v[5], x.v[3]);
  const __m256i z11 = _mm256_add_epi32(x.v[1], x.v[7]);
  const __m256i z12 = _mm256_sub_epi32(x.v[1], x.v[7]);
  const __m256i a = mulQ15(_mm256_sub_epi32(z10, z12), 25080);
  const __m256i t10 = _mm256_sub_epi32(mulQ15(z12, 35468), a);
  const __m256i t12 = _mm256_sub_epi32(a, mulQ15(z10, 85627));
  const __m256i t7 = _mm256_add_epi32(z13, z11);
  const __m256i t6 = _mm256_sub_epi32(t10, t7);
  const __m256i t5 = _mm256_sub_epi32(mulQ15(_mm256_sub_epi32(z11, z13), 46341), t6);
  const __m256i t4 = _mm256_add_epi32(t12, t5);

  const __m256i e10 = _mm256_add_epi32(x.v[0], x.v[4]);
  const __m256i e11 = _mm256_sub_epi32(x.v[0], x.v[4]);
  const __m256i e13 = _mm256_add_epi32(x.v[2], x.v[6]);
  const __m256i e12 = _mm256_sub_epi32(mulQ15(_mm256_sub_epi32(x.v[2], x.v[6]), 46341), e13);
  const __m256i t0 = _mm256_add_epi32(e10, e13);
  const __m256i t3 = _mm256_sub_epi32(e10, e13);
  const __m256i t1 = _mm256_add_epi32(e11, e12);
  const __m256i t2 = _mm256_sub_epi32(e11, e12);

  return {{_mm256_add_epi32(t0, t7), _mm256_add_epi32(t1, t6), _mm256_add_epi32(t2, t5),
           _mm256_sub_epi32(t3, t4), _mm256_add_epi32(t3, t4), _mm256_sub_epi32(t2, t5),
           _mm256_sub_epi32(t1, t6), _mm256_sub_epi32(t0, t7)}};
}

Lanes8 loadWidenedRows(const int16_t* block) {
  Lanes8 rows;
  for (int k = 0; k < 8; ++k)
    rows.v[k] = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k)));
  return rows;
}

// The low 16 bits of each lane, sign-extended: the portable kernel's 16-bit intermediate block.
__m256i low16(__m256i v) {
  return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
}

// ((y + 8) >> 4) + 128, the final descaling.
__m256i finalSamples(__m256i y) {
  return _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(y, _mm256_set1_epi32(8)), 4),
                          _mm256_set1_epi32(128));
}

// --- 16-bit lanes -----------------------------------------------------------------------------
//
// Additions, subtractions and the 16-bit cut of the column pass agree modulo 2^16 whatever the
// register width, so eight 16-bit lanes give the portable kernel's bits wherever the values that
// are not taken modulo 2^16 fit: every operand of a Q15 multiply (the product depends on all of
// its bits) and the row pass's outputs before descaling. The portable kernel must also not wrap:
// its widest product, the one by 85627, stays inside 32 bits for operands up to 25079 in size.
//
// Bound: one step's outputs and multiply operands are linear in the inputs up to rounding (each
// Q15 multiply rounds by at most 1/2, at most 2.5 per value). With g(k) the largest factor of
// input k in any of them (1, 1, 1, 1.1796, 1, 1.7654, 2.4142, 5.0274), every such value of the
// row pass is at most S + 39 in size, S = sum over the block of g(row)·g(column)·|coefficient|
// (the column pass's values are within S + 2.5). S <= 25040 keeps them all below 25080, so the
// 16-bit lanes are exact; blocks above it (rare, and every hostile one) take the 32-bit lanes.

// ceil(32·g(row)·g(column)), row-major, two rows per register.
alignas(32) constexpr int16_t kBoundWeights[64] = {
    32, 32, 32, 38, 32, 57,  78,  161, 32,  32,  32,  38,  32,  57,  78,  161,  //
    32, 32, 32, 38, 32, 57,  78,  161, 38,  38,  38,  45,  38,  67,  92,  190,  //
    32, 32, 32, 38, 32, 57,  78,  161, 57,  57,  57,  67,  57,  100, 137, 285,  //
    78, 78, 78, 92, 78, 137, 187, 389, 161, 161, 161, 190, 161, 285, 389, 809,
};
constexpr int32_t kNarrowLimit = 32 * 25040;

// (y + 8) >> 4 plus 128 is (y + 2056) >> 4; a DC of 2056 more adds 2056 to every output.
constexpr int32_t kDescaleBias = 8 + 128 * 16;

// Sum of weight·|coefficient| within the limit. pabsw leaves -32768 negative; the unsigned
// minimum turns it into 32767, which alone passes the limit. The sum stays below 2^31.
bool fitsNarrowLanes(const int16_t* block) {
  const __m256i* rows = reinterpret_cast<const __m256i*>(block);
  const __m256i* weights = reinterpret_cast<const __m256i*>(kBoundWeights);
  __m256i sum = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    const __m256i size =
        _mm256_min_epu16(_mm256_abs_epi16(_mm256_loadu_si256(rows + i)), _mm256_set1_epi16(32767));
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(size, _mm256_load_si256(weights + i)));
  }
  __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
  return _mm_cvtsi128_si32(total) <= kNarrowLimit;
}

// The Q15 multiplies, exact for 16-bit operands: pmulhrsw gives (x·k + 2^14) >> 15 for k below
// 2^15, and a constant's whole part adds whole multiples of x.
__m128i times0765367(__m128i x) {
  return _mm_mulhrs_epi16(x, _mm_set1_epi16(25080));
}
__m128i times1082392(__m128i x) {
  return _mm_add_epi16(x, _mm_mulhrs_epi16(x, _mm_set1_epi16(35468 - 32768)));
}
__m128i times1414214(__m128i x) {
  return _mm_add_epi16(x, _mm_mulhrs_epi16(x, _mm_set1_epi16(46341 - 32768)));
}
__m128i times2613126(__m128i x) {
  return _mm_add_epi16(_mm_add_epi16(x, x), _mm_mulhrs_epi16(x, _mm_set1_epi16(85627 - 65536)));
}

[[gnu::always_inline]] inline Narrow8 aanStepNarrow(const Narrow8& x) {
  const __m128i z10 = _mm_sub_epi16(x.v[5], x.v[3]);
  const __m128i z13 = _mm_add_epi16(x.v[5], x.v[3]);
  const __m128i z11 = _mm_add_epi16(x.v[1], x.v[7]);
  const __m128i z12 = _mm_sub_epi16(x.v[1], x.v[7]);
  const __m128i a = times0765367(_mm_sub_epi16(z10, z12));
  const __m128i t10 = _mm_sub_epi16(times1082392(z12), a);
  const __m128i t12 = _mm_sub_epi16(a, times2613126(z10));
  const __m128i t7 = _mm_add_epi16(z13, z11);
  const __m128i t6 = _mm_sub_epi16(t10, t7);
  const __m128i t5 = _mm_sub_epi16(times1414214(_mm_sub_epi16(z11, z13)), t6);
  const __m128i t4 = _mm_add_epi16(t12, t5);

  const __m128i e10 = _mm_add_epi16(x.v[0], x.v[4]);
  const __m128i e11 = _mm_sub_epi16(x.v[0], x.v[4]);
  const __m128i e13 = _mm_add_epi16(x.v[2], x.v[6]);
  const __m128i e12 = _mm_sub_epi16(times1414214(_mm_sub_epi16(x.v[2], x.v[6])), e13);
  const __m128i t0 = _mm_add_epi16(e10, e13);
  const __m128i t3 = _mm_sub_epi16(e10, e13);
  const __m128i t1 = _mm_add_epi16(e11, e12);
  const __m128i t2 = _mm_sub_epi16(e11, e12);

  return {{_mm_add_epi16(t0, t7), _mm_add_epi16(t1, t6), _mm_add_epi16(t2, t5), _mm_sub_epi16(t3, t4),
           _mm_add_epi16(t3, t4), _mm_sub_epi16(t2, t5), _mm_sub_epi16(t1, t6), _mm_sub_epi16(t0, t7)}};
}

// Where the samples go: back into the block, or as bytes into rows.
struct InPlace {
  int16_t* block;
  void fill(int16_t sample) const { avx2::fillBlock(block, sample); }
  // Rows k and k + 1 of the samples, saturated to bytes.
  void putBytePair(int k, __m128i bytes) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 8 * k), _mm256_cvtepu8_epi16(bytes));
  }
  void put(const Lanes8& samples) const { avx2::storeSampleRows(samples, block); }
};

struct IntoRows {
  int16_t* block;
  uint8_t* out;
  ptrdiff_t stride;
  void fill(int16_t sample) const { avx2::fillByteRows(static_cast<uint8_t>(sample), out, stride); }
  void putBytePair(int k, __m128i bytes) const {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k * stride), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (k + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
  }
  void put(const Lanes8& samples) const { avx2::storeSampleBytes(samples, out, stride); }
};

template <typename Sink>
void transformNarrow(const int16_t* block, const Sink& sink) {
  Narrow8 rows;
  for (int k = 0; k < 8; ++k) rows.v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
  rows.v[0] = _mm_add_epi16(rows.v[0], _mm_cvtsi32_si128(kDescaleBias));
  Narrow8 columns = aanStepNarrow(transpose(aanStepNarrow(rows)));
  for (__m128i& v : columns.v) v = _mm_srai_epi16(v, 4);
  const Narrow8 samples = transpose(columns);
  for (int k = 0; k < 8; k += 2) sink.putBytePair(k, _mm_packus_epi16(samples.v[k], samples.v[k + 1]));
}

template <typename Sink>
void transformWide(const int16_t* block, const Sink& sink) {
  Lanes8 intermediate = aanStep(loadWidenedRows(block));
  for (__m256i& v : intermediate.v) v = low16(v);
  Lanes8 sampleColumns = aanStep(transpose(intermediate));
  for (__m256i& v : sampleColumns.v) v = finalSamples(v);
  sink.put(transpose(sampleColumns));
}

template <typename Sink>
[[gnu::always_inline]] inline void transform(const int16_t* block, const Sink& sink) {
  if (avx2::dcOnly(block)) {
    // Both passes carry a lone DC through unchanged; only the final descaling acts on it.
    sink.fill(static_cast<int16_t>(std::clamp(((int32_t{block[0]} + 8) >> 4) + 128, 0, 255)));
    return;
  }
  if (fitsNarrowLanes(block)) {
    transformNarrow(block, sink);
  } else {
    transformWide(block, sink);
  }
}

}  // namespace

namespace avx2 {

void idct0Full(int16_t* block) {
  transform(block, InPlace{block});
}

void idct0FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride) {
  transform(block, IntoRows{block, out, stride});
}

}  // namespace avx2
