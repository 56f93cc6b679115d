// RGB and BGR to level-shifted YCbCr blocks (H1V1, H2V1, H2V2) or luma blocks: AVX2 twins of the portable
// whole-tile kernels, bit-identical to them on every input.
//
// The arithmetic is the SSE2 twins' (codec/kernels/sse2/color_convert_encode.cpp), sixteen pixels
// per register: a pixel's luma and chroma numerators are exact in wrapping 16-bit lanes, the
// rounded chroma shift is ((n >> 1) + 64) >> 7, and chroma of 2x1 or 2x2 pixels sums the pixel
// pairs with pmaddwd into 32-bit lanes with the portable formulas. Byte shuffles take the
// channels out of 3-byte pixels; every row is read exactly, never past its last pixel.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "codec/kernels/avx2/encode_kernels.h"

namespace {

// R, G and B of sixteen pixels in 16-bit lanes: pixels 0..7 in the low 128 bits, 8..15 in the high.
struct Pixels16 {
  __m256i r;
  __m256i g;
  __m256i b;
};

__m128i load16Bytes(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__m256i bothHalves(__m128i low, __m128i high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Shuffle picking channel `c` of pixels 0..7 (bytes 3k + c of a 24-byte row part) as 16-bit
// lanes, from the part's bytes 0..15 (kFromHigh false) or 8..23; -128 gives zero.
template <int kChannel, bool kFromHigh>
__m256i channelShuffle() {
  constexpr auto at = [](int byte) -> int8_t {
    if (byte % 2 == 1) return -128;
    const int source = 3 * (byte / 2) + kChannel - (kFromHigh ? 8 : 0);
    const bool inLow = 3 * (byte / 2) + kChannel < 16;
    return (kFromHigh ? !inLow && source >= 0 : inLow) ? static_cast<int8_t>(source)
                                                       : static_cast<int8_t>(-128);
  };
  return _mm256_setr_epi8(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9), at(10),
                          at(11), at(12), at(13), at(14), at(15), at(0), at(1), at(2), at(3), at(4), at(5),
                          at(6), at(7), at(8), at(9), at(10), at(11), at(12), at(13), at(14), at(15));
}

template <int kChannel>
__m256i channelOf(__m256i low, __m256i high) {
  return _mm256_or_si256(_mm256_shuffle_epi8(low, channelShuffle<kChannel, false>()),
                         _mm256_shuffle_epi8(high, channelShuffle<kChannel, true>()));
}

// Pixels 0..7 from the 24 bytes at `first`, 8..15 from the 24 at `second` (R first, or B first
// when kBgr).
template <bool kBgr>
Pixels16 loadPixels(const uint8_t* first, const uint8_t* second) {
  const __m256i low = bothHalves(load16Bytes(first), load16Bytes(second));
  const __m256i high = bothHalves(load16Bytes(first + 8), load16Bytes(second + 8));
  const __m256i c0 = channelOf<0>(low, high), c1 = channelOf<1>(low, high), c2 = channelOf<2>(low, high);
  return kBgr ? Pixels16{c2, c1, c0} : Pixels16{c0, c1, c2};
}

__m256i times(__m256i x, int16_t factor) {
  return _mm256_mullo_epi16(x, _mm256_set1_epi16(factor));
}

// (77 R + 150 G + 29 B - 32640) >> 8.
__m256i lumaOf(const Pixels16& p) {
  const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(times(p.r, 77), times(p.g, 150)), times(p.b, 29));
  return _mm256_srai_epi16(_mm256_sub_epi16(sum, _mm256_set1_epi16(32640)), 8);
}

// (n + 128) >> 8 for n within -32640..32640.
__m256i roundedShift8(__m256i n) {
  return _mm256_srai_epi16(_mm256_add_epi16(_mm256_srai_epi16(n, 1), _mm256_set1_epi16(64)), 7);
}

// (128 B - 43 R - 85 G + 128) >> 8.
__m256i cbOf(const Pixels16& p) {
  return roundedShift8(
      _mm256_sub_epi16(_mm256_sub_epi16(_mm256_slli_epi16(p.b, 7), times(p.r, 43)), times(p.g, 85)));
}

// (128 R - 107 G - 21 B + 128) >> 8.
__m256i crOf(const Pixels16& p) {
  return roundedShift8(
      _mm256_sub_epi16(_mm256_sub_epi16(_mm256_slli_epi16(p.r, 7), times(p.g, 107)), times(p.b, 21)));
}

// Chroma of the eight horizontal pixel pairs of sixteen pixels (single ones or sums of two rows):
// (sum * factors + 2^(kShift-1)) >> kShift in 32-bit lanes, pairs 0..3 low, 4..7 high.
template <int kShift>
__m256i pairChroma(const Pixels16& p, int16_t rFactor, int16_t gFactor, int16_t bFactor) {
  const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(p.r, _mm256_set1_epi16(rFactor)),
                                                        _mm256_madd_epi16(p.g, _mm256_set1_epi16(gFactor))),
                                       _mm256_madd_epi16(p.b, _mm256_set1_epi16(bFactor)));
  return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(1 << (kShift - 1))), kShift);
}

Pixels16 add(const Pixels16& a, const Pixels16& b) {
  return {_mm256_add_epi16(a.r, b.r), _mm256_add_epi16(a.g, b.g), _mm256_add_epi16(a.b, b.b)};
}

void store16(int16_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

void store8(int16_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Low half to `left`, high half to `right`.
void storeHalves(int16_t* left, int16_t* right, __m256i v) {
  store8(left, _mm256_castsi256_si128(v));
  store8(right, _mm256_extracti128_si256(v, 1));
}

// Two chroma rows, each from sixteen pixels, to the sixteen samples at cb and cr.
template <int kShift>
void storePairChroma(const Pixels16& upper, const Pixels16& lower, int16_t* cb, int16_t* cr) {
  const auto rows = [](__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
  };
  store16(cb, rows(pairChroma<kShift>(upper, -43, -85, 128), pairChroma<kShift>(lower, -43, -85, 128)));
  store16(cr, rows(pairChroma<kShift>(upper, 128, -107, -21), pairChroma<kShift>(lower, 128, -107, -21)));
}

// Two 8-pixel rows per step.
template <bool kBgr>
void convertH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; y += 2) {
    const Pixels16 p = loadPixels<kBgr>(src + y * stride, src + (y + 1) * stride);
    store16(blocks[0] + 8 * y, lumaOf(p));
    store16(blocks[1] + 8 * y, cbOf(p));
    store16(blocks[2] + 8 * y, crOf(p));
  }
}

template <bool kBgr>
Pixels16 loadRow(const uint8_t* row) {
  return loadPixels<kBgr>(row, row + 24);
}

// Two 16-pixel rows (and their two chroma rows) per step.
template <bool kBgr>
void convertH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; y += 2) {
    const Pixels16 upper = loadRow<kBgr>(src + y * stride);
    const Pixels16 lower = loadRow<kBgr>(src + (y + 1) * stride);
    storeHalves(blocks[0] + 8 * y, blocks[1] + 8 * y, lumaOf(upper));
    storeHalves(blocks[0] + 8 * y + 8, blocks[1] + 8 * y + 8, lumaOf(lower));
    storePairChroma<9>(upper, lower, blocks[2] + 8 * y, blocks[3] + 8 * y);
  }
}

// Four 16-pixel rows (two chroma rows) per step.
template <bool kBgr>
void convertH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 16; y += 4) {
    Pixels16 rows[4];
    for (int i = 0; i < 4; ++i) rows[i] = loadRow<kBgr>(src + (y + i) * stride);
    int16_t* const* luma = blocks + (y < 8 ? 0 : 2);
    for (int i = 0; i < 4; ++i) {
      const int line = 8 * ((y + i) & 7);
      storeHalves(luma[0] + line, luma[1] + line, lumaOf(rows[i]));
    }
    storePairChroma<10>(add(rows[0], rows[1]), add(rows[2], rows[3]), blocks[4] + 4 * y, blocks[5] + 4 * y);
  }
}

// Two 8-pixel rows per step, luma only.
template <bool kBgr>
void convertToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; y += 2)
    store16(blocks[0] + 8 * y, lumaOf(loadPixels<kBgr>(src + y * stride, src + (y + 1) * stride)));
}

}  // namespace

namespace avx2 {

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

}  // namespace avx2
