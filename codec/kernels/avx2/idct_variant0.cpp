// Inverse DCT, variant 0, full size: AVX2 twin of the portable AAN kernel, bit-identical to it on
// every input. One register holds a whole row of 32-bit lanes (wrapping like Wrap32), so each
// pass runs the butterfly once where SSE2 runs it twice, and pmulld gives the Q15 products.
//
// The column pass needs no transpose (lane i of vector k is row k, column i); its results are cut
// to 16 bits as the portable kernel stores them, then transposed for the row pass, whose results
// are transposed back into sample rows.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "codec/kernels/avx2/decode_kernels.h"
#include "codec/kernels/avx2/vector_ops.h"

namespace {

using avx2::Lanes8;

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

}  // namespace

namespace avx2 {

void idct0Full(int16_t* block) {
  if (dcOnly(block)) {
    // Both passes carry a lone DC through unchanged; only the final descaling acts on it.
    fillBlock(block, static_cast<int16_t>(std::clamp(((int32_t{block[0]} + 8) >> 4) + 128, 0, 255)));
    return;
  }
  Lanes8 intermediate = aanStep(loadWidenedRows(block));
  for (__m256i& v : intermediate.v) v = low16(v);
  Lanes8 sampleColumns = aanStep(transpose(intermediate));
  for (__m256i& v : sampleColumns.v) v = finalSamples(v);
  storeSampleRows(transpose(sampleColumns), block);
}

}  // namespace avx2
