// Inverse DCT, variant 1, SSE2 twins of the portable full-, half- and quarter-size kernels,
// bit-identical to them on every input. Full size: the same direct transform on eight rows (then
// eight columns) at once.
//
// Each pass transposes, so that lane i of vector k holds coefficient k of row (column) i, and runs
// the one-dimensional step in 32-bit lanes. Products of 16-bit values with the 16-bit constants
// come from pmaddwd, whose 32-bit results wrap exactly like the portable Wrap32 arithmetic; the
// 2^15-scaled constants are split into a shift and a 16-bit remainder; the two products with a
// 32-bit operand use a 32-bit low multiply built from pmuludq. The second pass needs its input
// in 16 bits: valid data stays far below that, and a hostile block that leaves it goes to the
// portable kernel, which gives the same result by definition.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/sse2/vector_ops.h"
#include "codec/kernels/wrap32.h"

namespace {

using sse2::Rows8;
using sse2::transpose;

// Sign-extended 16-bit lanes 0..3 (kHigh false) or 4..7 (kHigh true) shifted left by 15: x·2^15.
template <bool kHigh>
__m128i times32768(__m128i x) {
  const __m128i spread =
      kHigh ? _mm_unpackhi_epi16(_mm_setzero_si128(), x) : _mm_unpacklo_epi16(_mm_setzero_si128(), x);
  return _mm_srai_epi32(spread, 1);  // (x << 16) >> 1 = x·2^15, sign kept
}

struct Half8 {
  __m128i v[8];  // output k for four lanes, 32 bits
};

// The one-dimensional step of the portable kernel for lanes 0..3 or 4..7 of x[0..7].
template <int kShift, bool kHigh>
[[gnu::always_inline]] inline Half8 directStep(const Rows8& x) {
  const __m128i x17 = sse2::interleave<kHigh>(x.v[1], x.v[7]);
  const __m128i x53 = sse2::interleave<kHigh>(x.v[5], x.v[3]);
  const __m128i x26 = sse2::interleave<kHigh>(x.v[2], x.v[6]);
  const __m128i x04 = sse2::interleave<kHigh>(x.v[0], x.v[4]);

  const __m128i a1 = _mm_madd_epi16(x17, sse2::factorPair(32138, 6393));
  const __m128i a2 = _mm_madd_epi16(x17, sse2::factorPair(6393, -32138));
  const __m128i b1 = _mm_madd_epi16(x53, sse2::factorPair(18205, 27246));
  const __m128i b2 = _mm_madd_epi16(x53, sse2::factorPair(27246, -18205));
  const __m128i rounding12 = _mm_set1_epi32(2048);
  const __m128i p =
      sse2::multiplyByConstant(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a1, b1), rounding12), 12), 5793);
  const __m128i q =
      sse2::multiplyByConstant(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a2, b2), rounding12), 12), 5793);
  const __m128i d1 = _mm_sub_epi32(a1, b1);
  const __m128i d2 = _mm_sub_epi32(a2, b2);
  const __m128i r = _mm_add_epi32(d1, d2);
  const __m128i s = _mm_sub_epi32(d1, d2);

  // (x0 ± x4)·2^15: the 17-bit sum or difference, then the shift.
  const __m128i e0 = _mm_slli_epi32(_mm_madd_epi16(x04, sse2::factorPair(1, 1)), 15);
  const __m128i e1 = _mm_slli_epi32(_mm_madd_epi16(x04, sse2::factorPair(1, -1)), 15);
  // 42813 = 2^15 + 10045.
  const __m128i c1 =
      _mm_add_epi32(times32768<kHigh>(x.v[2]), _mm_madd_epi16(x26, sse2::factorPair(10045, 17734)));
  const __m128i c2 =
      _mm_sub_epi32(_mm_madd_epi16(x26, sse2::factorPair(17734, -10045)), times32768<kHigh>(x.v[6]));

  const __m128i half = _mm_set1_epi32(1 << (kShift - 1));
  const auto round = [&](__m128i v) { return _mm_srai_epi32(_mm_add_epi32(v, half), kShift); };
  const __m128i e0c1 = _mm_add_epi32(e0, c1);
  const __m128i e0m = _mm_sub_epi32(e0, c1);
  const __m128i e1c2 = _mm_add_epi32(e1, c2);
  const __m128i e1m = _mm_sub_epi32(e1, c2);
  Half8 out;
  out.v[0] = round(_mm_add_epi32(e0c1, p));
  out.v[1] = round(_mm_add_epi32(e1c2, r));
  out.v[2] = round(_mm_add_epi32(e1m, s));
  out.v[3] = round(_mm_add_epi32(e0m, q));
  out.v[4] = round(_mm_sub_epi32(e0m, q));
  out.v[5] = round(_mm_sub_epi32(e1m, s));
  out.v[6] = round(_mm_sub_epi32(e1c2, r));
  out.v[7] = round(_mm_sub_epi32(e0c1, p));
  return out;
}

// Nonzero lanes where a 32-bit value does not fit 16 bits: v + 2^15 leaves 0..65535.
__m128i outside16(__m128i v) {
  return _mm_srli_epi32(_mm_add_epi32(v, _mm_set1_epi32(32768)), 16);
}

// The block the two passes make of a lone DC: the first pass gives (dc·2^15 + 2^11) >> 12 in row
// 0 and zeros elsewhere, the second the same sample everywhere.
Rows8 flatBlock(int16_t dc) {
  const int32_t first = (int32_t{dc} * 32768 + 2048) >> 12;
  const int32_t second = static_cast<int32_t>((static_cast<uint32_t>(first) * 32768u + (1u << 20))) >> 21;
  const int32_t sample = std::clamp(second + 128, 0, 255);
  return sse2::filledRows(static_cast<int16_t>(sample));
}

// Samples of pass 2: clamp(out + 128), lanes 0..3 from `left` and 4..7 from `right`.
Rows8 levelShiftedSamples(const Half8& left, const Half8& right) {
  const __m128i levelShift = _mm_set1_epi32(128);
  Rows8 samples;
  for (int k = 0; k < 8; ++k) {
    samples.v[k] =
        sse2::narrowToSamples(_mm_add_epi32(left.v[k], levelShift), _mm_add_epi32(right.v[k], levelShift));
  }
  return samples;
}

// --- sparse blocks --------------------------------------------------------------------------
//
// The portable kernel's zero-AC shortcut gives the step's own values, so a step whose inputs
// 1..7 are zero yields (x0·2^15 + 2^(s-1)) >> s in all eight outputs. Two common shapes follow:
//
// Only column 0 nonzero: every pass-1 row is flat, workspace row r is 8·x(r,0) in all columns
// ((x·2^15 + 2^11) >> 12 = 8x exactly), so pass 2 is one column step repeated across the row.
// It runs in 16 bits, so x(r,0) must lie within -4096..4095; other blocks take the full path.
//
// Only row 0 nonzero: pass-1 rows 1..7 are zero, so every pass-2 column is flat and each sample
// column holds (w(0,c)·2^15 + 2^20) >> 21 + 128, in 32-bit lanes that wrap like the portable code.

bool firstColumnFits(const Rows8& rows) {
  __m128i outside = _mm_setzero_si128();
  for (const __m128i& row : rows.v)
    outside = _mm_or_si128(outside, _mm_srli_epi16(_mm_add_epi16(row, _mm_set1_epi16(4096)), 13));
  return sse2::allZero(outside);
}

Rows8 firstColumnBlock(const Rows8& rows) {
  Rows8 workspaceRows;  // vector k: workspace row k, the same value in every column
  for (int k = 0; k < 8; ++k) workspaceRows.v[k] = _mm_slli_epi16(sse2::broadcastFirst16(rows.v[k]), 3);
  const Half8 left = directStep<21, false>(workspaceRows);
  return levelShiftedSamples(left, left);
}

Rows8 firstRowBlock(const Half8& top) {
  const auto sample = [](__m128i w) {
    const __m128i rounded = _mm_srai_epi32(_mm_add_epi32(_mm_slli_epi32(w, 15), _mm_set1_epi32(1 << 20)), 21);
    return _mm_add_epi32(rounded, _mm_set1_epi32(128));
  };
  const __m128i left = sample(sse2::firstLanes(top.v[0], top.v[1], top.v[2], top.v[3]));
  const __m128i right = sample(sse2::firstLanes(top.v[4], top.v[5], top.v[6], top.v[7]));
  Rows8 samples;
  for (__m128i& row : samples.v) row = sse2::narrowToSamples(left, right);
  return samples;
}

// --- half size ------------------------------------------------------------------------------
//
// The portable half-size kernel's 4-point step, written as four dot products over x0..x7 with
// x4's factor zero. Its shortcuts (a column or row whose AC terms are zero) give the formula's
// own values, so the twin always takes the formula.

// Rows of the 4-point step: output k = sum over j of kHalfFactors[k][j] * x[j].
constexpr int16_t kHalfFactors[4][8] = {
    {16384, 20995, 15137, 7373, 0, -4926, -6270, -4176},
    {16384, 8697, -15137, -17799, 0, 11893, 6270, -1730},
    {16384, -8697, -15137, 17799, 0, -11893, 6270, 1730},
    {16384, -20995, 15137, -7373, 0, 4926, -6270, 4176},
};

struct Rows4 {
  __m128i v[4];  // output k for four lanes, 32 bits
};

// Pass 1 for columns 0..3 (kHigh false) or 4..7: lanes are columns, output k in vector k.
template <bool kHigh>
Rows4 halfColumns(const Rows8& rows) {
  const __m128i x17 = sse2::interleave<kHigh>(rows.v[1], rows.v[7]);
  const __m128i x26 = sse2::interleave<kHigh>(rows.v[2], rows.v[6]);
  const __m128i x35 = sse2::interleave<kHigh>(rows.v[3], rows.v[5]);
  const __m128i t0 = _mm_slli_epi32(sse2::widen<kHigh>(rows.v[0]), 14);
  const __m128i t2 = _mm_madd_epi16(x26, sse2::factorPair(15137, -6270));
  const __m128i odd0 = _mm_add_epi32(_mm_madd_epi16(x17, sse2::factorPair(8697, -1730)),
                                     _mm_madd_epi16(x35, sse2::factorPair(-17799, 11893)));
  const __m128i odd2 = _mm_add_epi32(_mm_madd_epi16(x17, sse2::factorPair(20995, -4176)),
                                     _mm_madd_epi16(x35, sse2::factorPair(7373, -4926)));
  const __m128i rounding = _mm_set1_epi32(2048);
  const __m128i t10 = _mm_add_epi32(_mm_add_epi32(t0, t2), rounding);
  const __m128i t12 = _mm_add_epi32(_mm_sub_epi32(t0, t2), rounding);
  return {{_mm_srai_epi32(_mm_add_epi32(t10, odd2), 12), _mm_srai_epi32(_mm_add_epi32(t12, odd0), 12),
           _mm_srai_epi32(_mm_sub_epi32(t12, odd0), 12), _mm_srai_epi32(_mm_sub_epi32(t10, odd2), 12)}};
}

// Pass 2 for one workspace row of eight 16-bit values: its four unrounded outputs in lanes 0..3.
__m128i halfRow(__m128i row, const __m128i (&factors)[4]) {
  const __m128i m0 = _mm_madd_epi16(row, factors[0]);
  const __m128i m1 = _mm_madd_epi16(row, factors[1]);
  const __m128i m2 = _mm_madd_epi16(row, factors[2]);
  const __m128i m3 = _mm_madd_epi16(row, factors[3]);
  const __m128i s01 = _mm_add_epi32(_mm_unpacklo_epi32(m0, m1), _mm_unpackhi_epi32(m0, m1));
  const __m128i s23 = _mm_add_epi32(_mm_unpacklo_epi32(m2, m3), _mm_unpackhi_epi32(m2, m3));
  return _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
}

// Samples of pass 2 for one row: (out + 2^18) >> 19, level-shifted.
__m128i halfRowSamples(__m128i row, const __m128i (&factors)[4]) {
  const __m128i rounded = _mm_srai_epi32(_mm_add_epi32(halfRow(row, factors), _mm_set1_epi32(262144)), 19);
  return _mm_add_epi32(rounded, _mm_set1_epi32(128));
}

void storeFourSamples(__m128i samples, int16_t* destination) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(destination), samples);
}

// --- quarter size ---------------------------------------------------------------------------
//
// Pass 1 runs on all eight columns at once (columns 2, 4 and 6 are computed and never read);
// pass 2 has only two rows of two samples and stays scalar, the portable code on the workspace.
// The column shortcut for zero AC terms gives the formula's value, so pass 1 always takes it.

struct QuarterWorkspace {
  alignas(16) int32_t row[2][8];
};

template <bool kHigh>
void quarterColumns(const Rows8& rows, QuarterWorkspace& workspace) {
  const __m128i x13 = sse2::interleave<kHigh>(rows.v[1], rows.v[3]);
  const __m128i x57 = sse2::interleave<kHigh>(rows.v[5], rows.v[7]);
  const __m128i odd = _mm_add_epi32(_mm_madd_epi16(x13, sse2::factorPair(29692, -10426)),
                                    _mm_madd_epi16(x57, sse2::factorPair(6967, -5906)));
  const __m128i t10 = _mm_add_epi32(_mm_slli_epi32(sse2::widen<kHigh>(rows.v[0]), 15), _mm_set1_epi32(4096));
  const int lane = kHigh ? 4 : 0;
  _mm_store_si128(reinterpret_cast<__m128i*>(workspace.row[0] + lane),
                  _mm_srai_epi32(_mm_add_epi32(t10, odd), 13));
  _mm_store_si128(reinterpret_cast<__m128i*>(workspace.row[1] + lane),
                  _mm_srai_epi32(_mm_sub_epi32(t10, odd), 13));
}

constexpr int16_t quarterDcSample(Wrap32 w) {
  return clampSample(((w + 16) >> 5) + 128);
}

}  // namespace

namespace sse2 {

namespace {

template <typename Sink>
void transformFull(int16_t* block, const Sink& sink) {
  const Rows8 rows = loadBlock(block);
  if (sse2::dcOnly(rows)) {
    sink.put(flatBlock(block[0]));
    return;
  }
  if (sse2::firstColumnOnly(rows) && firstColumnFits(rows)) {
    sink.put(firstColumnBlock(rows));
    return;
  }

  // Pass 1 over the rows: lanes are rows, vector k is coefficient k. Zero rows give zero results.
  const Rows8 columns = transpose(rows);
  const Half8 top = directStep<12, false>(columns);
  if (sse2::firstRowOnly(rows)) {
    sink.put(firstRowBlock(top));
    return;
  }
  const Half8 bottom = sse2::lowerRowsZero(rows) ? Half8{} : directStep<12, true>(columns);
  __m128i overflow = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k)
    overflow = _mm_or_si128(overflow, _mm_or_si128(outside16(top.v[k]), outside16(bottom.v[k])));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(overflow, _mm_setzero_si128())) != 0xFFFF) {
    sink.portable(::idct1Full);
    return;
  }
  Rows8 workspaceColumns;  // vector k: workspace column k over the rows
  for (int k = 0; k < 8; ++k) workspaceColumns.v[k] = _mm_packs_epi32(top.v[k], bottom.v[k]);

  // Pass 2 over the columns: lanes are columns, vector k is workspace row k.
  const Rows8 workspaceRows = transpose(workspaceColumns);
  const Half8 left = directStep<21, false>(workspaceRows);
  const Half8 right = directStep<21, true>(workspaceRows);
  sink.put(levelShiftedSamples(left, right));
}

}  // namespace

void idct1Full(int16_t* block) {
  transformFull(block, sse2::SamplesInPlace{block});
}

void idct1FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride) {
  transformFull(block, sse2::SamplesIntoRows{block, out, stride});
}

void idct1Half(int16_t* block) {
  const Rows8 rows = loadBlock(block);
  if (sse2::dcOnly(rows)) {
    // Every workspace row is then (4·dc, 0, ...), every sample ((4·dc + 16) >> 5) + 128.
    const int32_t sample = std::clamp(((4 * int32_t{block[0]} + 16) >> 5) + 128, 0, 255);
    const __m128i filled = _mm_set1_epi16(static_cast<int16_t>(sample));
    for (int row = 0; row < 4; ++row) storeFourSamples(filled, block + 8 * row);
    return;
  }
  const Rows4 left = halfColumns<false>(rows);
  const Rows4 right = halfColumns<true>(rows);
  __m128i overflow = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k)
    overflow = _mm_or_si128(overflow, _mm_or_si128(outside16(left.v[k]), outside16(right.v[k])));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(overflow, _mm_setzero_si128())) != 0xFFFF) {
    ::idct1Half(block);
    return;
  }
  __m128i factors[4];
  for (int k = 0; k < 4; ++k) factors[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kHalfFactors[k]));
  for (int row = 0; row < 4; row += 2) {
    const __m128i upper = halfRowSamples(_mm_packs_epi32(left.v[row], right.v[row]), factors);
    const __m128i lower = halfRowSamples(_mm_packs_epi32(left.v[row + 1], right.v[row + 1]), factors);
    const __m128i samples = narrowToSamples(upper, lower);
    storeFourSamples(samples, block + 8 * row);
    storeFourSamples(_mm_unpackhi_epi64(samples, samples), block + 8 * (row + 1));
  }
}

void idct1Quarter(int16_t* block) {
  const Rows8 rows = loadBlock(block);
  if (sse2::dcOnly(rows)) {
    // Pass 1 then leaves 4·dc in column 0 and zeros beside it: the row shortcut's sample.
    block[0] = block[1] = block[8] = block[9] = quarterDcSample(Wrap32(4 * int32_t{block[0]}));
    return;
  }
  QuarterWorkspace workspace;
  quarterColumns<false>(rows, workspace);
  quarterColumns<true>(rows, workspace);
  for (int row = 0; row < 2; ++row) {
    const int32_t* w = workspace.row[row];
    int16_t* samples = block + 8 * row;
    const Wrap32 x0 = w[0];
    if (w[1] == 0 && w[3] == 0 && w[5] == 0 && w[7] == 0) {
      samples[0] = samples[1] = quarterDcSample(x0);
      continue;
    }
    const Wrap32 t10 = x0 * 32768;
    const Wrap32 t0 =
        -5906 * Wrap32(w[7]) + 6967 * Wrap32(w[5]) - 10426 * Wrap32(w[3]) + 29692 * Wrap32(w[1]);
    samples[0] = clampSample(((t10 + t0 + 524288) >> 20) + 128);
    samples[1] = clampSample(((t10 - t0 + 524288) >> 20) + 128);
  }
}

}  // namespace sse2
#endif
