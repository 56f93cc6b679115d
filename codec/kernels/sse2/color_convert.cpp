// YCbCr to RGB, BGR and RGB plus 255, YCCK to CMYK: SSE2 twins of the portable whole-MCU kernels,
// bit-identical to them on every input.
//
// Samples from the inverse DCT lie in 0..255, and then every value fits 16 bits: the chroma terms
// are computed once per chroma sample in 32-bit lanes (pmaddwd) with the portable formulas, narrowed
// to 16 bits, added to luma in 16 bits and clamped by the unsigned saturating pack. An MCU whose
// luma or chroma holds any other value goes to the portable kernel, whose 32-bit arithmetic
// defines the result (K is only ever cut to its low byte, so any K value is fine here).
//
// Pixels go out through pixel_stores.h. Rows must not overlap (|stride| at least the MCU's row
// bytes), as for the portable kernels.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/sse2/pixel_stores.h"
#include "codec/kernels/ycc_terms.h"

namespace {

using sse2::Pixels16;
using sse2::Quads;
using sse2::store16;
using sse2::storeQuadsAs3;

// Factors of Cb and Cr and the offset of one chroma term: (cb·cbFactor + cr·crFactor + offset) >> 8.
struct TermFormula {
  int16_t cbFactor;
  int16_t crFactor;
  int32_t offset;

  constexpr int32_t operator()(int32_t cb, int32_t cr) const {
    return (cb * cbFactor + cr * crFactor + offset) >> 8;
  }
};

constexpr TermFormula kRed{0, 359, -45813};
constexpr TermFormula kGreen{88, 183, -34806};  // gT, subtracted
constexpr TermFormula kBlue{454, 0, -57937};

// The formulas above must stay those of ycc_terms.h over the whole sample range.
constexpr bool formulasMatchPortable() {
  for (int32_t cb = 0; cb < 256; ++cb) {
    if (kRed(0, cb) != chromaRed(cb) || kBlue(cb, 0) != chromaBlue(cb)) return false;
    for (int32_t cr = 0; cr < 256; ++cr)
      if (kGreen(cb, cr) != chromaGreen(cb, cr)) return false;
  }
  return true;
}
static_assert(formulasMatchPortable());

__m128i load8(const int16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// True when all `count` samples (a multiple of 8) lie in 0..255.
bool allBytes(const int16_t* samples, int count) {
  __m128i any = _mm_setzero_si128();
  for (int i = 0; i < count; i += 8) any = _mm_or_si128(any, load8(samples + i));
  const __m128i high = _mm_and_si128(any, _mm_set1_epi16(static_cast<int16_t>(0xFF00)));
  return _mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF;
}

// The MCU's luma and both chroma blocks hold samples 0..255 only.
bool mcuHoldsBytes(const int16_t* const* components, int lumaBlocks) {
  return allBytes(components[0], 64 * lumaBlocks) && allBytes(components[1], 64) &&
         allBytes(components[2], 64);
}

// Chroma terms added to luma, eight 16-bit lanes each: crR, -gT, cbB.
struct Terms {
  __m128i red;
  __m128i green;
  __m128i blue;
};

// One term of eight (cb, cr) pairs given as interleaved lanes 0..3 and 4..7.
__m128i term(__m128i lowPairs, __m128i highPairs, const TermFormula& f) {
  const __m128i factors = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(f.cbFactor)) |
                                         static_cast<int32_t>(static_cast<uint32_t>(f.crFactor) << 16));
  const __m128i offset = _mm_set1_epi32(f.offset);
  const __m128i low = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lowPairs, factors), offset), 8);
  const __m128i high = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(highPairs, factors), offset), 8);
  return _mm_packs_epi32(low, high);  // within -256..256 for samples 0..255
}

Terms chromaTerms(const int16_t* cb, const int16_t* cr) {
  const __m128i b = load8(cb), r = load8(cr);
  const __m128i low = _mm_unpacklo_epi16(b, r), high = _mm_unpackhi_epi16(b, r);
  return {term(low, high, kRed), _mm_sub_epi16(_mm_setzero_si128(), term(low, high, kGreen)),
          term(low, high, kBlue)};
}

// Terms of chroma lanes 0..3 (kHigh false) or 4..7, each repeated for the two pixels it serves.
template <bool kHigh>
Terms doubled(const Terms& t) {
  const auto twice = [](__m128i v) { return kHigh ? _mm_unpackhi_epi16(v, v) : _mm_unpacklo_epi16(v, v); };
  return {twice(t.red), twice(t.green), twice(t.blue)};
}

enum class Layout { Rgb, Bgr, Rgbx, InvertedWithK };

constexpr bool fourBytes(Layout layout) {
  return layout == Layout::Rgbx || layout == Layout::InvertedWithK;
}

// One channel of sixteen pixels: luma plus term, clamped to 0..255 by the saturating pack.
__m128i channel(__m128i lumaLow, __m128i lumaHigh, __m128i termLow, __m128i termHigh) {
  return _mm_packus_epi16(_mm_add_epi16(lumaLow, termLow), _mm_add_epi16(lumaHigh, termHigh));
}

// Sixteen pixels of one row: `low` (at sample offset lowAt within a component's blocks) serves
// pixels 0..7, `high` (at highAt) pixels 8..15.
template <Layout kLayout>
Pixels16 convert16(const int16_t* const* components, int lowAt, int highAt, const Terms& low,
                   const Terms& high) {
  const __m128i lumaLow = load8(components[0] + lowAt), lumaHigh = load8(components[0] + highAt);
  const __m128i r = channel(lumaLow, lumaHigh, low.red, high.red);
  const __m128i g = channel(lumaLow, lumaHigh, low.green, high.green);
  const __m128i b = channel(lumaLow, lumaHigh, low.blue, high.blue);
  const __m128i ones = _mm_set1_epi8(-1);
  if constexpr (kLayout == Layout::Rgb) {
    return {r, g, b, _mm_setzero_si128()};
  } else if constexpr (kLayout == Layout::Bgr) {
    return {b, g, r, _mm_setzero_si128()};
  } else if constexpr (kLayout == Layout::Rgbx) {
    return {r, g, b, ones};
  } else {
    // 255 - c is the complement of a byte; K keeps its low byte, unclamped.
    const __m128i lowByte = _mm_set1_epi16(0xFF);
    const __m128i k = _mm_packus_epi16(_mm_and_si128(load8(components[3] + lowAt), lowByte),
                                       _mm_and_si128(load8(components[3] + highAt), lowByte));
    return {_mm_xor_si128(r, ones), _mm_xor_si128(g, ones), _mm_xor_si128(b, ones), k};
  }
}

// Sixteen pixels to the row's 48 or 64 bytes.
template <Layout kLayout>
void storeRow16(uint8_t* row, const Pixels16& pixels) {
  const Quads q = quads(pixels);
  if constexpr (fourBytes(kLayout)) {
    for (int i = 0; i < 4; ++i) store16(row + 16 * i, q.q[i]);
  } else {
    storeQuadsAs3(row, q.q, 4);
  }
}

// Pixels 0..7 to the 24 or 32 bytes at upper, pixels 8..15 to those at lower.
template <Layout kLayout>
void storeRows8(uint8_t* upper, uint8_t* lower, const Pixels16& pixels) {
  const Quads q = quads(pixels);
  if constexpr (fourBytes(kLayout)) {
    store16(upper, q.q[0]);
    store16(upper + 16, q.q[1]);
    store16(lower, q.q[2]);
    store16(lower + 16, q.q[3]);
  } else {
    storeQuadsAs3(upper, q.q, 2);
    storeQuadsAs3(lower, q.q + 2, 2);
  }
}

// 8x8: two pixel rows (and their two chroma rows) per step.
template <Layout kLayout>
void convertH1V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const int16_t *cb = components[1], *cr = components[2];
  for (int y = 0; y < 8; y += 2) {
    const Terms upper = chromaTerms(cb + 8 * y, cr + 8 * y);
    const Terms lower = chromaTerms(cb + 8 * y + 8, cr + 8 * y + 8);
    storeRows8<kLayout>(dst + y * stride, dst + (y + 1) * stride,
                        convert16<kLayout>(components, 8 * y, 8 * y + 8, upper, lower));
  }
}

// 16x8: chroma row y serves row y of the left block (chroma lanes 0..3) and of the right one.
template <Layout kLayout>
void convertH2V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const int16_t *cb = components[1], *cr = components[2];
  for (int y = 0; y < 8; ++y) {
    const Terms t = chromaTerms(cb + 8 * y, cr + 8 * y);
    storeRow16<kLayout>(dst + y * stride, convert16<kLayout>(components, 8 * y, 64 + 8 * y, doubled<false>(t),
                                                             doubled<true>(t)));
  }
}

// 16x16: chroma row j serves pixel rows 2j and 2j + 1, from blocks 0 and 1 (rows 0..7) or 2 and 3
// (rows 8..15).
template <Layout kLayout>
void convertH2V2(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const int16_t *cb = components[1], *cr = components[2];
  for (int j = 0; j < 8; ++j) {
    const Terms t = chromaTerms(cb + 8 * j, cr + 8 * j);
    const Terms left = doubled<false>(t), right = doubled<true>(t);
    for (int y = 2 * j; y < 2 * j + 2; ++y) {
      const int rowAt = (y < 8 ? 0 : 128) + 8 * (y % 8);
      storeRow16<kLayout>(dst + y * stride, convert16<kLayout>(components, rowAt, rowAt + 64, left, right));
    }
  }
}

}  // namespace

namespace sse2 {

void convertH1V1ToRgb(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 1)) return ::convertH1V1ToRgb(components, dst, stride);
  convertH1V1<Layout::Rgb>(components, dst, stride);
}

void convertH2V1ToRgb(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 2)) return ::convertH2V1ToRgb(components, dst, stride);
  convertH2V1<Layout::Rgb>(components, dst, stride);
}

void convertH2V2ToRgb(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 4)) return ::convertH2V2ToRgb(components, dst, stride);
  convertH2V2<Layout::Rgb>(components, dst, stride);
}

void convertH1V1ToBgr(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 1)) return ::convertH1V1ToBgr(components, dst, stride);
  convertH1V1<Layout::Bgr>(components, dst, stride);
}

void convertH2V1ToBgr(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 2)) return ::convertH2V1ToBgr(components, dst, stride);
  convertH2V1<Layout::Bgr>(components, dst, stride);
}

void convertH2V2ToBgr(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 4)) return ::convertH2V2ToBgr(components, dst, stride);
  convertH2V2<Layout::Bgr>(components, dst, stride);
}

void convertH1V1ToRgbx(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 1)) return ::convertH1V1ToRgbx(components, dst, stride);
  convertH1V1<Layout::Rgbx>(components, dst, stride);
}

void convertH2V1ToRgbx(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 2)) return ::convertH2V1ToRgbx(components, dst, stride);
  convertH2V1<Layout::Rgbx>(components, dst, stride);
}

void convertH2V2ToRgbx(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 4)) return ::convertH2V2ToRgbx(components, dst, stride);
  convertH2V2<Layout::Rgbx>(components, dst, stride);
}

void convertH1V1YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 1)) return ::convertH1V1YcckToCmyk(components, dst, stride);
  convertH1V1<Layout::InvertedWithK>(components, dst, stride);
}

void convertH2V1YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 2)) return ::convertH2V1YcckToCmyk(components, dst, stride);
  convertH2V1<Layout::InvertedWithK>(components, dst, stride);
}

void convertH2V2YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  if (!mcuHoldsBytes(components, 4)) return ::convertH2V2YcckToCmyk(components, dst, stride);
  convertH2V2<Layout::InvertedWithK>(components, dst, stride);
}

}  // namespace sse2
#endif
