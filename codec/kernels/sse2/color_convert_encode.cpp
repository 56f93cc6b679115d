// RGB and BGR to level-shifted YCbCr blocks (H1V1, H2V1, H2V2) or luma blocks: SSE2 twins of the portable
// whole-tile kernels, bit-identical to them on every input.
//
// Pixels are bytes, so every value is known in advance: a pixel's luma and chroma numerators
// (at most 65280 before the offset, within -32640..32640 after it) are exact in wrapping 16-bit
// lanes, and the rounded chroma shift is taken as ((n >> 1) + 64) >> 7, equal to (n + 128) >> 8
// without the one sum (n = 32640) that would leave 16 bits. Chroma of 2x1 or 2x2 pixels sums the
// pixel pairs with pmaddwd into 32-bit lanes with the portable formulas.
//
// SSE2 has no byte shuffle: two 3-byte pixels are read as one 8-byte word, spread into two
// 4-byte pixels with a 64-bit shift, and the channels taken out with shifts and masks. A row is
// read exactly (the last word is read 2 bytes early and shifted), never past its last pixel.
#include "codec/kernels/sse2/encode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace {

// R, G and B of eight pixels in 16-bit lanes.
struct Pixels8 {
  __m128i r;
  __m128i g;
  __m128i b;
};

__m128i load8Bytes(const uint8_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

void store8(int16_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Four pixels from two 8-byte words holding two pixels each, as 32-bit lanes b0 | b1 << 8 | b2 << 16.
__m128i spreadPixels(__m128i first, __m128i second) {
  const __m128i words = _mm_unpacklo_epi64(first, second);
  const __m128i lowPixel = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
  const __m128i highPixel = _mm_set_epi32(0xFFFFFF, 0, 0xFFFFFF, 0);
  return _mm_or_si128(_mm_and_si128(words, lowPixel), _mm_and_si128(_mm_slli_epi64(words, 8), highPixel));
}

// Eight pixels of 3 bytes (R first, or B first when kBgr) from exactly the 24 bytes at p.
template <bool kBgr>
Pixels8 loadPixels8(const uint8_t* p) {
  const __m128i low = spreadPixels(load8Bytes(p), load8Bytes(p + 6));
  const __m128i high = spreadPixels(load8Bytes(p + 12), _mm_srli_si128(load8Bytes(p + 16), 2));
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  const __m128i first = _mm_packs_epi32(_mm_and_si128(low, byteMask), _mm_and_si128(high, byteMask));
  const __m128i second = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(low, 8), byteMask),
                                         _mm_and_si128(_mm_srli_epi32(high, 8), byteMask));
  const __m128i third = _mm_packs_epi32(_mm_srli_epi32(low, 16), _mm_srli_epi32(high, 16));
  return kBgr ? Pixels8{third, second, first} : Pixels8{first, second, third};
}

__m128i times(__m128i x, int16_t factor) {
  return _mm_mullo_epi16(x, _mm_set1_epi16(factor));
}

// (77 R + 150 G + 29 B - 32640) >> 8.
__m128i lumaOf(const Pixels8& p) {
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(times(p.r, 77), times(p.g, 150)), times(p.b, 29));
  return _mm_srai_epi16(_mm_sub_epi16(sum, _mm_set1_epi16(32640)), 8);
}

// (n + 128) >> 8 for n within -32640..32640.
__m128i roundedShift8(__m128i n) {
  return _mm_srai_epi16(_mm_add_epi16(_mm_srai_epi16(n, 1), _mm_set1_epi16(64)), 7);
}

// (128 B - 43 R - 85 G + 128) >> 8.
__m128i cbOf(const Pixels8& p) {
  return roundedShift8(_mm_sub_epi16(_mm_sub_epi16(_mm_slli_epi16(p.b, 7), times(p.r, 43)), times(p.g, 85)));
}

// (128 R - 107 G - 21 B + 128) >> 8.
__m128i crOf(const Pixels8& p) {
  return roundedShift8(_mm_sub_epi16(_mm_sub_epi16(_mm_slli_epi16(p.r, 7), times(p.g, 107)), times(p.b, 21)));
}

// Chroma of horizontal pixel pairs: `left` and `right` hold eight pixels each (single ones or
// sums of two rows), the result the eight pair values (sum * factors + 2^(kShift-1)) >> kShift.
template <int kShift>
__m128i pairChroma(const Pixels8& left, const Pixels8& right, int16_t rFactor, int16_t gFactor,
                   int16_t bFactor) {
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  const auto half = [&](const Pixels8& p) {
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(p.r, _mm_set1_epi16(rFactor)),
                                                    _mm_madd_epi16(p.g, _mm_set1_epi16(gFactor))),
                                      _mm_madd_epi16(p.b, _mm_set1_epi16(bFactor)));
    return _mm_srai_epi32(_mm_add_epi32(sum, round), kShift);
  };
  return _mm_packs_epi32(half(left), half(right));
}

Pixels8 add(const Pixels8& a, const Pixels8& b) {
  return {_mm_add_epi16(a.r, b.r), _mm_add_epi16(a.g, b.g), _mm_add_epi16(a.b, b.b)};
}

template <int kShift>
void storePairChroma(const Pixels8& left, const Pixels8& right, int16_t* cb, int16_t* cr) {
  store8(cb, pairChroma<kShift>(left, right, -43, -85, 128));
  store8(cr, pairChroma<kShift>(left, right, 128, -107, -21));
}

template <bool kBgr>
void convertH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) {
    const Pixels8 p = loadPixels8<kBgr>(src + y * stride);
    store8(blocks[0] + 8 * y, lumaOf(p));
    store8(blocks[1] + 8 * y, cbOf(p));
    store8(blocks[2] + 8 * y, crOf(p));
  }
}

template <bool kBgr>
void convertToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) store8(blocks[0] + 8 * y, lumaOf(loadPixels8<kBgr>(src + y * stride)));
}

template <bool kBgr>
void convertH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) {
    const uint8_t* row = src + y * stride;
    const Pixels8 left = loadPixels8<kBgr>(row);
    const Pixels8 right = loadPixels8<kBgr>(row + 24);
    store8(blocks[0] + 8 * y, lumaOf(left));
    store8(blocks[1] + 8 * y, lumaOf(right));
    storePairChroma<9>(left, right, blocks[2] + 8 * y, blocks[3] + 8 * y);
  }
}

template <bool kBgr>
void convertH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 16; y += 2) {
    const uint8_t* row = src + y * stride;
    const Pixels8 topLeft = loadPixels8<kBgr>(row);
    const Pixels8 topRight = loadPixels8<kBgr>(row + 24);
    const Pixels8 bottomLeft = loadPixels8<kBgr>(row + stride);
    const Pixels8 bottomRight = loadPixels8<kBgr>(row + stride + 24);
    int16_t* const* luma = blocks + (y < 8 ? 0 : 2);
    const int line = 8 * (y & 7);
    store8(luma[0] + line, lumaOf(topLeft));
    store8(luma[1] + line, lumaOf(topRight));
    store8(luma[0] + line + 8, lumaOf(bottomLeft));
    store8(luma[1] + line + 8, lumaOf(bottomRight));
    storePairChroma<10>(add(topLeft, bottomLeft), add(topRight, bottomRight), blocks[4] + 4 * y,
                        blocks[5] + 4 * y);
  }
}

}  // namespace

namespace sse2 {

void convertRgbToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertH1V1<false>(src, stride, blocks);
}
void convertRgbToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertH2V1<false>(src, stride, blocks);
}
void convertRgbToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertH2V2<false>(src, stride, blocks);
}
void convertBgrToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertH1V1<true>(src, stride, blocks);
}
void convertBgrToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertH2V1<true>(src, stride, blocks);
}
void convertBgrToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertH2V2<true>(src, stride, blocks);
}
void convertRgbToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertToGray<false>(src, stride, blocks);
}
void convertBgrToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertToGray<true>(src, stride, blocks);
}

}  // namespace sse2
#endif
