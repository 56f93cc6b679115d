// AVX2 twin of the reduced-scale YCbCr converter for the 1/2-scale MCUs of 4:2:0 and 4:2:2 (rows of
// eight pixels): two rows per step, one in each 128-bit lane, the same recentred terms as the SSE2
// twin, and the 3-byte pixels built with byte shuffles. Other shapes take the SSE2 twin (a 16-lane
// step over the 4x4 MCUs measured no faster).
#include "codec/kernels/avx2/decode_kernels.h"

#if defined(MESHWICK_HAS_AVX2_KERNELS)
#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/kernels/scaled_ycc_terms.h"
#include "codec/kernels/sse2/decode_kernels.h"

namespace {

using namespace scaled_ycc;

__m128i load8(const int16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__m128i load4(const int16_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

__m256i singleTerm(__m256i centred, int32_t pair) {
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i factors = _mm256_set1_epi32(pair);
  const __m256i low = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(centred, one), factors), 8);
  const __m256i high = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(centred, one), factors), 8);
  return _mm256_packs_epi32(low, high);
}

__m256i greenTerm(__m256i cb, __m256i cr) {
  const __m256i factors = _mm256_set1_epi32(kGreenPair);
  const __m256i offset = _mm256_set1_epi32(kGreenOffset);
  const __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi16(cb, cr), factors);
  const __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi16(cb, cr), factors);
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(low, offset), 8),
                            _mm256_srai_epi32(_mm256_add_epi32(high, offset), 8));
}

// Shuffle controls taking 3-byte pixel bytes 0..15 (kFirst) or 16..23 (otherwise) from eight
// first-channel bytes and eight green bytes (one vector) or eight third-channel bytes.
constexpr std::array<int8_t, 16> pixelBytes(bool fromPair, int start) {
  std::array<int8_t, 16> control{};
  for (int j = 0; j < 16; ++j) {
    const int byte = start + j, pixel = byte / 3, channel = byte % 3;
    int8_t source = -128;  // zero
    if (byte < 24 && fromPair && channel < 2) source = static_cast<int8_t>(pixel + 8 * channel);
    if (byte < 24 && !fromPair && channel == 2) source = static_cast<int8_t>(pixel);
    control[j] = source;
  }
  return control;
}

__m256i control(const std::array<int8_t, 16>& c) {
  const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.data()));
  return _mm256_broadcastsi128_si256(half);
}

// Eight pixels per lane as their 24 bytes: bytes 0..15 in `low`, 16..23 in `high`.
struct Bytes24 {
  __m256i low;
  __m256i high;
};

Bytes24 pixelBytes24(__m256i first, __m256i green, __m256i third) {
  static constexpr auto kPairLow = pixelBytes(true, 0), kThirdLow = pixelBytes(false, 0);
  static constexpr auto kPairHigh = pixelBytes(true, 16), kThirdHigh = pixelBytes(false, 16);
  const __m256i firstBytes = _mm256_packus_epi16(first, first);
  const __m256i pair = _mm256_unpacklo_epi64(firstBytes, _mm256_packus_epi16(green, green));
  const __m256i thirdBytes = _mm256_packus_epi16(third, third);
  return {_mm256_or_si256(_mm256_shuffle_epi8(pair, control(kPairLow)),
                          _mm256_shuffle_epi8(thirdBytes, control(kThirdLow))),
          _mm256_or_si256(_mm256_shuffle_epi8(pair, control(kPairHigh)),
                          _mm256_shuffle_epi8(thirdBytes, control(kThirdHigh)))};
}

// Sixteen samples of each component (cut to their low bytes here) to 3-byte pixels.
Bytes24 convert16(__m256i luma, __m256i cb, __m256i cr, bool bgr) {
  const __m256i byteMask = _mm256_set1_epi16(0xff);
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i y16 = _mm256_and_si256(luma, byteMask);
  cb = _mm256_sub_epi16(_mm256_and_si256(cb, byteMask), bias);
  cr = _mm256_sub_epi16(_mm256_and_si256(cr, byteMask), bias);
  const __m256i red = _mm256_add_epi16(y16, singleTerm(cr, kRedPair));
  const __m256i green = _mm256_add_epi16(y16, greenTerm(cb, cr));
  const __m256i blue = _mm256_add_epi16(y16, singleTerm(cb, kBluePair));
  return pixelBytes24(bgr ? blue : red, green, bgr ? red : blue);
}

// Rows y and y + 1 of a 1/2-scale MCU, one per lane: two 4-sample luminance runs per row,
// chroma whole (4:2:0) or doubled (4:2:2).
template <bool kDoubledChroma>
void convertRowPair(const int16_t* const* components, int y, uint8_t* upper, uint8_t* lower, bool bgr) {
  const int16_t* luma = components[0] + 128 * (y / 4) + 8 * (y % 4);
  const __m128i lumaUpper = _mm_unpacklo_epi64(load4(luma), load4(luma + 64));
  const __m128i lumaLower = _mm_unpacklo_epi64(load4(luma + 8), load4(luma + 72));
  __m256i cb, cr;
  if constexpr (kDoubledChroma) {
    const __m128i b = _mm_unpacklo_epi64(load4(components[1] + 8 * y), load4(components[1] + 8 * y + 8));
    const __m128i r = _mm_unpacklo_epi64(load4(components[2] + 8 * y), load4(components[2] + 8 * y + 8));
    cb = _mm256_set_m128i(_mm_unpackhi_epi16(b, b), _mm_unpacklo_epi16(b, b));
    cr = _mm256_set_m128i(_mm_unpackhi_epi16(r, r), _mm_unpacklo_epi16(r, r));
  } else {
    cb = _mm256_set_m128i(load8(components[1] + 8 * y + 8), load8(components[1] + 8 * y));
    cr = _mm256_set_m128i(load8(components[2] + 8 * y + 8), load8(components[2] + 8 * y));
  }
  const Bytes24 out = convert16(_mm256_set_m128i(lumaLower, lumaUpper), cb, cr, bgr);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(upper), _mm256_castsi256_si128(out.low));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(upper + 16), _mm256_castsi256_si128(out.high));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lower), _mm256_extracti128_si256(out.low, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(lower + 16), _mm256_extracti128_si256(out.high, 1));
}

template <bool kDoubledChroma, int kRows>
void convertHalfScale(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, bool bgr) {
  for (int y = 0; y < kRows; y += 2)
    convertRowPair<kDoubledChroma>(components, y, dst + y * stride, dst + (y + 1) * stride, bgr);
}

bool isShape(const ScaledMcuShape& s, int side, int across, int down, int repeat) {
  return s.side == side && s.lumaAcross == across && s.lumaDown == down && s.chromaRepeat == repeat;
}

}  // namespace

namespace avx2 {

void convertScaledYcc(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                      const ScaledMcuShape* shape) {
  const bool bgr = shape->bgr != 0;
  if (isShape(*shape, 4, 2, 2, 1)) return convertHalfScale<false, 8>(components, dst, stride, bgr);
  if (isShape(*shape, 4, 2, 1, 2)) return convertHalfScale<true, 4>(components, dst, stride, bgr);
  sse2::convertScaledYcc(components, dst, stride, shape);
}

}  // namespace avx2

#endif
