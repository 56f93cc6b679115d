// Inverse DCT, variant 0, full size, SSE2 twin of the portable AAN kernel, bit-identical to it on
// every input: the same butterfly in 32-bit lanes (wrapping like Wrap32), the same Q15
// multiplies, and the same 16-bit truncation of the intermediate block.
//
// The column pass needs no transpose (lane i of vector k is row k, column i); the row pass
// transposes in and out.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec/kernels/sse2/vector_ops.h"

namespace {

using sse2::Rows8;

struct Lanes8 {
  __m128i v[8];  // value k for four lanes, 32 bits
};

// (x·k + 2^14) >> 15 in 32-bit lanes.
[[gnu::always_inline]] inline __m128i mulQ15(__m128i x, int32_t k) {
  const __m128i product = sse2::multiplyByConstant(x, static_cast<uint32_t>(k));
  return _mm_srai_epi32(_mm_add_epi32(product, _mm_set1_epi32(16384)), 15);
}

// Inlined: called out of line, the eight lanes travel through memory.
[[gnu::always_inline]] inline Lanes8 aanStep(const Lanes8& x) {
  const __m128i z10 = _mm_sub_epi32(x.v[5], x.v[3]);
  const __m128i z13 = _mm_add_epi32(x.v[5], x.v[3]);
  const __m128i z11 = _mm_add_epi32(x.v[1], x.v[7]);
  const __m128i z12 = _mm_sub_epi32(x.v[1], x.v[7]);
  const __m128i a = mulQ15(_mm_sub_epi32(z10, z12), 25080);
  const __m128i t10 = _mm_sub_epi32(mulQ15(z12, 35468), a);
  const __m128i t12 = _mm_sub_epi32(a, mulQ15(z10, 85627));
  const __m128i t7 = _mm_add_epi32(z13, z11);
  const __m128i t6 = _mm_sub_epi32(t10, t7);
  const __m128i t5 = _mm_sub_epi32(mulQ15(_mm_sub_epi32(z11, z13), 46341), t6);
  const __m128i t4 = _mm_add_epi32(t12, t5);

  const __m128i e10 = _mm_add_epi32(x.v[0], x.v[4]);
  const __m128i e11 = _mm_sub_epi32(x.v[0], x.v[4]);
  const __m128i e13 = _mm_add_epi32(x.v[2], x.v[6]);
  const __m128i e12 = _mm_sub_epi32(mulQ15(_mm_sub_epi32(x.v[2], x.v[6]), 46341), e13);
  const __m128i t0 = _mm_add_epi32(e10, e13);
  const __m128i t3 = _mm_sub_epi32(e10, e13);
  const __m128i t1 = _mm_add_epi32(e11, e12);
  const __m128i t2 = _mm_sub_epi32(e11, e12);

  Lanes8 out;
  out.v[0] = _mm_add_epi32(t0, t7);
  out.v[1] = _mm_add_epi32(t1, t6);
  out.v[2] = _mm_add_epi32(t2, t5);
  out.v[3] = _mm_sub_epi32(t3, t4);
  out.v[4] = _mm_add_epi32(t3, t4);
  out.v[5] = _mm_sub_epi32(t2, t5);
  out.v[6] = _mm_sub_epi32(t1, t6);
  out.v[7] = _mm_sub_epi32(t0, t7);
  return out;
}

template <bool kHigh>
Lanes8 widenAll(const Rows8& rows) {
  Lanes8 lanes;
  for (int k = 0; k < 8; ++k) lanes.v[k] = sse2::widen<kHigh>(rows.v[k]);
  return lanes;
}

// ((y + 8) >> 4) + 128, the final descaling.
__m128i finalSamples(__m128i y) {
  return _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(y, _mm_set1_epi32(8)), 4), _mm_set1_epi32(128));
}

// --- sparse blocks --------------------------------------------------------------------------
//
// A step whose inputs 1..7 are zero gives x0 in all eight outputs (every odd term and the even
// rotation vanish), so: with only row 0 nonzero the column pass leaves row 0 in every row and
// one row step gives all samples; with only column 0 nonzero one column step gives each row's
// value, which the row pass spreads over the row. Zero columns give zero results.

// Eight samples, one per lane, each spread over its own row.
Rows8 spreadAcrossRows(__m128i samples) {
  const __m128i upper = _mm_unpacklo_epi16(samples, samples);
  const __m128i lower = _mm_unpackhi_epi16(samples, samples);
  return {{_mm_shuffle_epi32(upper, 0x00), _mm_shuffle_epi32(upper, 0x55), _mm_shuffle_epi32(upper, 0xAA),
           _mm_shuffle_epi32(upper, 0xFF), _mm_shuffle_epi32(lower, 0x00), _mm_shuffle_epi32(lower, 0x55),
           _mm_shuffle_epi32(lower, 0xAA), _mm_shuffle_epi32(lower, 0xFF)}};
}

// Final samples of the values in lane 0 of the eight vectors; kCut first keeps their low 16 bits,
// as the intermediate block does.
template <bool kCut>
__m128i samplesOfFirstLanes(const Lanes8& x) {
  __m128i low = sse2::firstLanes(x.v[0], x.v[1], x.v[2], x.v[3]);
  __m128i high = sse2::firstLanes(x.v[4], x.v[5], x.v[6], x.v[7]);
  if constexpr (kCut) {
    const __m128i cut = sse2::narrowLow16(low, high);
    low = sse2::widen<false>(cut);
    high = sse2::widen<true>(cut);
  }
  return sse2::narrowToSamples(finalSamples(low), finalSamples(high));
}

Rows8 firstRowBlock(const Rows8& rows) {
  // Lanes are rows after the transpose; lane 0 (row 0) is the one that counts.
  const Lanes8 steps = aanStep(widenAll<false>(sse2::transpose(rows)));
  const __m128i samples = samplesOfFirstLanes<false>(steps);
  Rows8 block;
  for (__m128i& row : block.v) row = samples;
  return block;
}

}  // namespace

namespace sse2 {

namespace {

template <typename Sink>
void transformFull(int16_t* block, const Sink& sink) {
  // Columns: vector k is row k, lanes are columns; the results are kept to 16 bits.
  const Rows8 rows = loadBlock(block);
  if (dcOnly(rows)) {
    // Both passes carry a lone DC through unchanged; only the final descaling acts on it.
    const int32_t sample = std::clamp(((int32_t{block[0]} + 8) >> 4) + 128, 0, 255);
    sink.put(filledRows(static_cast<int16_t>(sample)));
    return;
  }
  if (firstRowOnly(rows)) {
    sink.put(firstRowBlock(rows));
    return;
  }
  const Lanes8 left = aanStep(widenAll<false>(rows));
  if (firstColumnOnly(rows)) {
    sink.put(spreadAcrossRows(samplesOfFirstLanes<true>(left)));
    return;
  }
  const Lanes8 right = rightColumnsZero(rows) ? Lanes8{} : aanStep(widenAll<true>(rows));
  Rows8 intermediate;
  for (int k = 0; k < 8; ++k) intermediate.v[k] = narrowLow16(left.v[k], right.v[k]);

  // Rows: vector k is column k, lanes are rows.
  const Rows8 columns = transpose(intermediate);
  const Lanes8 top = aanStep(widenAll<false>(columns));
  const Lanes8 bottom = aanStep(widenAll<true>(columns));
  Rows8 sampleColumns;
  for (int k = 0; k < 8; ++k)
    sampleColumns.v[k] = narrowToSamples(finalSamples(top.v[k]), finalSamples(bottom.v[k]));
  sink.put(transpose(sampleColumns));
}

}  // namespace

void idct0Full(int16_t* block) {
  transformFull(block, SamplesInPlace{block});
}

void idct0FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride) {
  transformFull(block, SamplesIntoRows{block, out, stride});
}

}  // namespace sse2
#endif
