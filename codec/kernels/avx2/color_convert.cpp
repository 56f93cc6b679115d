// YCbCr to RGB, BGR and RGB plus 255, YCCK to CMYK: AVX2 twins of the portable whole-MCU kernels,
// bit-identical to them on every input.
//
// As in the SSE2 twins, samples 0..255 keep every value inside 16 bits: chroma terms come from
// pmaddwd with the portable formulas, luma plus term is clamped by the unsigned saturating pack,
// and an MCU holding any other luma or chroma value goes to the portable kernel. The work goes in
// units of sixteen pixels (one 16-pixel row, or two 8-pixel rows), two units per register; byte
// shuffles interleave the channels into 3- or 4-byte pixels. Each store stays within its row.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "codec/kernels/avx2/decode_kernels.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/ycc_terms.h"

namespace {

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

__m256i load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Eight samples at `low` then eight at `high`.
__m256i load8And8(const int16_t* low, const int16_t* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(load8(low)), load8(high), 1);
}

// True when all `count` samples (a multiple of 16) lie in 0..255.
bool allBytes(const int16_t* samples, int count) {
  __m256i any = _mm256_setzero_si256();
  for (int i = 0; i < count; i += 16) any = _mm256_or_si256(any, load16(samples + i));
  return _mm256_testz_si256(any, _mm256_set1_epi16(static_cast<int16_t>(0xFF00))) != 0;
}

bool mcuHoldsBytes(const int16_t* const* components, int lumaBlocks) {
  return allBytes(components[0], 64 * lumaBlocks) && allBytes(components[1], 64) &&
         allBytes(components[2], 64);
}

// Chroma terms added to luma, sixteen 16-bit lanes each: crR, -gT, cbB.
struct Terms {
  __m256i red;
  __m256i green;
  __m256i blue;
};

// One term of eight (cb, cr) pairs in 32-bit lanes.
__m256i term(__m256i pairs, const TermFormula& f) {
  const __m256i factors = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(f.cbFactor)) |
                                            static_cast<int32_t>(static_cast<uint32_t>(f.crFactor) << 16));
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs, factors), _mm256_set1_epi32(f.offset)),
                           8);
}

// Eight chroma samples 0..255 as (cb, cr) pairs in 32-bit lanes.
__m256i chromaPairs(const int16_t* cb, const int16_t* cr) {
  return _mm256_or_si256(_mm256_cvtepu16_epi32(load8(cb)),
                         _mm256_slli_epi32(_mm256_cvtepu16_epi32(load8(cr)), 16));
}

// Terms of eight chroma samples, each repeated for the two pixels it serves (terms fit 16 bits,
// so the low half of each 32-bit lane is copied to the high half).
Terms doubledTerms(const int16_t* cb, const int16_t* cr) {
  const __m256i pairs = chromaPairs(cb, cr);
  const auto twice = [](__m256i v) {
    return _mm256_or_si256(_mm256_and_si256(v, _mm256_set1_epi32(0xFFFF)), _mm256_slli_epi32(v, 16));
  };
  return {twice(term(pairs, kRed)), _mm256_sub_epi16(_mm256_setzero_si256(), twice(term(pairs, kGreen))),
          twice(term(pairs, kBlue))};
}

// One term of sixteen (cb, cr) pairs: interleaving within each 128-bit half and packing the two
// results back keeps the samples in order.
__m256i term16(__m256i lowPairs, __m256i highPairs, const TermFormula& f) {
  return _mm256_packs_epi32(term(lowPairs, f), term(highPairs, f));
}

// Terms of sixteen consecutive chroma samples, one per pixel.
Terms plainTerms(const int16_t* cb, const int16_t* cr) {
  const __m256i b = load16(cb), r = load16(cr);
  const __m256i low = _mm256_unpacklo_epi16(b, r), high = _mm256_unpackhi_epi16(b, r);
  return {term16(low, high, kRed), _mm256_sub_epi16(_mm256_setzero_si256(), term16(low, high, kGreen)),
          term16(low, high, kBlue)};
}

// Sixteen pixels' luma (and K) with their terms.
struct Unit {
  __m256i luma;
  __m256i k;
  Terms terms;
};

enum class Layout { Rgb, Bgr, Rgbx, InvertedWithK };

constexpr bool fourBytes(Layout layout) {
  return layout == Layout::Rgbx || layout == Layout::InvertedWithK;
}

// Two units' samples of one channel as bytes: unit a in the low 128 bits, unit b in the high.
__m256i packUnits(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

// Bytes 0..3 of the 32 pixels of two units, in stored order.
struct Channels {
  __m256i c[4];
};

template <Layout kLayout>
Channels channels(const Unit& a, const Unit& b) {
  const __m256i r = packUnits(_mm256_add_epi16(a.luma, a.terms.red), _mm256_add_epi16(b.luma, b.terms.red));
  const __m256i g =
      packUnits(_mm256_add_epi16(a.luma, a.terms.green), _mm256_add_epi16(b.luma, b.terms.green));
  const __m256i bl =
      packUnits(_mm256_add_epi16(a.luma, a.terms.blue), _mm256_add_epi16(b.luma, b.terms.blue));
  const __m256i ones = _mm256_set1_epi8(-1);
  if constexpr (kLayout == Layout::Rgb) {
    return {{r, g, bl, ones}};
  } else if constexpr (kLayout == Layout::Bgr) {
    return {{bl, g, r, ones}};
  } else if constexpr (kLayout == Layout::Rgbx) {
    return {{r, g, bl, ones}};
  } else {
    // 255 - c is the complement of a byte; K keeps its low byte, unclamped.
    const __m256i lowByte = _mm256_set1_epi16(0xFF);
    const __m256i k = packUnits(_mm256_and_si256(a.k, lowByte), _mm256_and_si256(b.k, lowByte));
    return {{_mm256_xor_si256(r, ones), _mm256_xor_si256(g, ones), _mm256_xor_si256(bl, ones), k}};
  }
}

// Byte j of 16-byte part `part` of a 48-byte stream of 3-byte pixels comes from channel `c`'s
// pixel t / 3 when t % 3 == c (t = 16·part + j); -128 (zero) otherwise.
constexpr int8_t streamIndex(int part, int channel, int j) {
  const int t = 16 * part + j;
  return t % 3 == channel ? static_cast<int8_t>(t / 3) : static_cast<int8_t>(-128);
}

template <int kPart, int kChannel>
__m256i streamShuffle() {
  constexpr auto at = [](int j) { return streamIndex(kPart, kChannel, j); };
  return _mm256_setr_epi8(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9), at(10),
                          at(11), at(12), at(13), at(14), at(15), at(0), at(1), at(2), at(3), at(4), at(5),
                          at(6), at(7), at(8), at(9), at(10), at(11), at(12), at(13), at(14), at(15));
}

template <int kPart>
__m256i streamPart(const Channels& ch) {
  return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(ch.c[0], streamShuffle<kPart, 0>()),
                                         _mm256_shuffle_epi8(ch.c[1], streamShuffle<kPart, 1>())),
                         _mm256_shuffle_epi8(ch.c[2], streamShuffle<kPart, 2>()));
}

// Per 128-bit half (one unit), the unit's pixels as stored: three parts of 16 bytes for 3-byte
// pixels, four for 4-byte pixels.
struct Stream {
  __m256i part[4];
};

template <Layout kLayout>
Stream stream(const Channels& ch) {
  if constexpr (fourBytes(kLayout)) {
    const __m256i lowPairs = _mm256_unpacklo_epi8(ch.c[0], ch.c[1]);
    const __m256i highPairs = _mm256_unpackhi_epi8(ch.c[0], ch.c[1]);
    const __m256i lowRest = _mm256_unpacklo_epi8(ch.c[2], ch.c[3]);
    const __m256i highRest = _mm256_unpackhi_epi8(ch.c[2], ch.c[3]);
    return {{_mm256_unpacklo_epi16(lowPairs, lowRest), _mm256_unpackhi_epi16(lowPairs, lowRest),
             _mm256_unpacklo_epi16(highPairs, highRest), _mm256_unpackhi_epi16(highPairs, highRest)}};
  } else {
    return {{streamPart<0>(ch), streamPart<1>(ch), streamPart<2>(ch), _mm256_setzero_si256()}};
  }
}

void store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

void store8(uint8_t* p, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

template <int kHalf>
__m128i half(__m256i v) {
  return _mm256_extracti128_si256(v, kHalf);
}

// A unit that is one 16-pixel row: its stream (half kHalf) goes to `row` whole.
template <Layout kLayout, int kHalf>
void storeRow(uint8_t* row, const Stream& s) {
  constexpr int parts = fourBytes(kLayout) ? 4 : 3;
  for (int i = 0; i < parts; ++i)
    store16(row + 16 * i, kHalf == 0 ? _mm256_castsi256_si128(s.part[i]) : half<1>(s.part[i]));
}

// A unit that is two 8-pixel rows: the first half of its stream goes to `upper`, the second to `lower`.
template <Layout kLayout, int kHalf>
void storeRowPair(uint8_t* upper, uint8_t* lower, const Stream& s) {
  const auto part = [&](int i) {
    return kHalf == 0 ? _mm256_castsi256_si128(s.part[i]) : half<1>(s.part[i]);
  };
  if constexpr (fourBytes(kLayout)) {
    store16(upper, part(0));
    store16(upper + 16, part(1));
    store16(lower, part(2));
    store16(lower + 16, part(3));
  } else {
    const __m128i middle = part(1);
    store16(upper, part(0));
    store8(upper + 16, middle);
    store8(lower, _mm_unpackhi_epi64(middle, middle));
    store16(lower + 8, part(2));
  }
}

Unit unit(__m256i luma, __m256i k, const Terms& terms) {
  return {luma, k, terms};
}

// 8x8: two pixel rows per unit, four rows per step.
template <Layout kLayout>
void convertH1V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const int16_t *y = components[0], *cb = components[1], *cr = components[2], *k = components[3];
  const bool withK = kLayout == Layout::InvertedWithK;
  for (int row = 0; row < 8; row += 4) {
    const int a = 8 * row, b = 8 * row + 16;
    const Unit upper = unit(load16(y + a), withK ? load16(k + a) : __m256i{}, plainTerms(cb + a, cr + a));
    const Unit lower = unit(load16(y + b), withK ? load16(k + b) : __m256i{}, plainTerms(cb + b, cr + b));
    const Stream s = stream<kLayout>(channels<kLayout>(upper, lower));
    storeRowPair<kLayout, 0>(dst + row * stride, dst + (row + 1) * stride, s);
    storeRowPair<kLayout, 1>(dst + (row + 2) * stride, dst + (row + 3) * stride, s);
  }
}

// Sixteen pixels of a 16-pixel MCU row whose left eight samples start at `at` (right ones at + 64).
Unit rowUnit(const int16_t* const* components, bool withK, int at, const Terms& terms) {
  return unit(load8And8(components[0] + at, components[0] + at + 64),
              withK ? load8And8(components[3] + at, components[3] + at + 64) : __m256i{}, terms);
}

// 16x8: chroma row y serves pixel row y; two rows per step.
template <Layout kLayout>
void convertH2V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const int16_t *cb = components[1], *cr = components[2];
  const bool withK = kLayout == Layout::InvertedWithK;
  for (int y = 0; y < 8; y += 2) {
    const Unit upper = rowUnit(components, withK, 8 * y, doubledTerms(cb + 8 * y, cr + 8 * y));
    const Unit lower = rowUnit(components, withK, 8 * y + 8, doubledTerms(cb + 8 * y + 8, cr + 8 * y + 8));
    const Stream s = stream<kLayout>(channels<kLayout>(upper, lower));
    storeRow<kLayout, 0>(dst + y * stride, s);
    storeRow<kLayout, 1>(dst + (y + 1) * stride, s);
  }
}

// 16x16: chroma row j serves pixel rows 2j and 2j + 1, from blocks 0 and 1 (rows 0..7) or 2 and 3
// (rows 8..15).
template <Layout kLayout>
void convertH2V2(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
  const int16_t *cb = components[1], *cr = components[2];
  const bool withK = kLayout == Layout::InvertedWithK;
  for (int j = 0; j < 8; ++j) {
    const Terms terms = doubledTerms(cb + 8 * j, cr + 8 * j);
    const int y = 2 * j;
    const int at = (y < 8 ? 0 : 128) + 8 * (y % 8);
    const Stream s = stream<kLayout>(
        channels<kLayout>(rowUnit(components, withK, at, terms), rowUnit(components, withK, at + 8, terms)));
    storeRow<kLayout, 0>(dst + y * stride, s);
    storeRow<kLayout, 1>(dst + (y + 1) * stride, s);
  }
}

}  // namespace

namespace avx2 {

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

}  // namespace avx2
