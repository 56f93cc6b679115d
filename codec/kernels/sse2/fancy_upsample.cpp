// SSE2 twins of the interpolating row kernels: sixteen pixels (eight chroma samples) per step, the
// rest of the row by the portable kernel. Everything stays within 16 bits (at most 16·255 + 8 for
// the filter, 255 ± 227 for a channel, the chroma terms as ycc_terms16.h rewrites them), and the unsigned
// saturating pack is the clamp to 0..255.
#include "codec/kernels/fancy_upsample.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/kernels/sse2/pixel_stores.h"
#include "codec/kernels/ycc_terms16.h"

namespace {

constexpr int32_t kStep = 16;  // pixels per step

// Eight samples from p as 16-bit lanes.
__m128i load8(const uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

__m128i times3(__m128i v) {
  return _mm_add_epi16(v, _mm_add_epi16(v, v));
}

// Filtered chroma of sixteen pixels, 16-bit lanes: pixels 0..7 in low, 8..15 in high.
struct Chroma16 {
  __m128i low;
  __m128i high;
};

Chroma16 interleavePairs(__m128i left, __m128i right) {
  return {_mm_unpacklo_epi16(left, right), _mm_unpackhi_epi16(left, right)};
}

// (3s[k] + s[k-1] + 1) >> 2 and (3s[k] + s[k+1] + 2) >> 2.
Chroma16 filterAcross(const uint8_t* near) {
  const __m128i centre = times3(load8(near));
  const __m128i left =
      _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(centre, load8(near - 1)), _mm_set1_epi16(1)), 2);
  const __m128i right =
      _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(centre, load8(near + 1)), _mm_set1_epi16(2)), 2);
  return interleavePairs(left, right);
}

// Column sums t = 3·near + far at offset `at`, then (3t[k] + t[k-1] + 8) >> 4 and
// (3t[k] + t[k+1] + 7) >> 4.
__m128i columnSums(const uint8_t* near, const uint8_t* far, int32_t at) {
  return _mm_add_epi16(times3(load8(near + at)), load8(far + at));
}

Chroma16 filterBothWays(const uint8_t* near, const uint8_t* far) {
  const __m128i centre = times3(columnSums(near, far, 0));
  const __m128i left = _mm_add_epi16(_mm_add_epi16(centre, columnSums(near, far, -1)), _mm_set1_epi16(8));
  const __m128i right = _mm_add_epi16(_mm_add_epi16(centre, columnSums(near, far, 1)), _mm_set1_epi16(7));
  return interleavePairs(_mm_srli_epi16(left, 4), _mm_srli_epi16(right, 4));
}

// crR, gP and cbB of eight pixels, 16-bit lanes.
struct Terms8 {
  __m128i red;
  __m128i green;
  __m128i blue;
};

// The multipliers of the chroma terms, hidden from the compiler: spelled out as shifts and adds,
// as it would otherwise, they take three times the instructions of one multiplication each.
struct Factors {
  __m128i red;
  __m128i blue;
  __m128i greenCr;
  __m128i greenCb;
};

Factors opaqueFactors() {
  using namespace ycc16;
  Factors f = {_mm_set1_epi16(kRedFactor), _mm_set1_epi16(kBlueFactor), _mm_set1_epi16(kGreenCrFactor),
               _mm_set1_epi16(kGreenCbFactor)};
  asm("" : "+x"(f.red), "+x"(f.blue), "+x"(f.greenCr), "+x"(f.greenCb));
  return f;
}

[[gnu::always_inline]] inline Terms8 terms(__m128i cb, __m128i cr, const Factors& factors) {
  using namespace ycc16;
  const auto scaled = [](__m128i v, __m128i factor) { return _mm_mullo_epi16(v, factor); };
  const __m128i redPart =
      _mm_srai_epi16(_mm_add_epi16(scaled(cr, factors.red), _mm_set1_epi16(kRedRound)), 8);
  const __m128i red = _mm_add_epi16(cr, _mm_sub_epi16(redPart, _mm_set1_epi16(kRedOffset)));
  const __m128i bluePart =
      _mm_srai_epi16(_mm_add_epi16(scaled(cb, factors.blue), _mm_set1_epi16(kBlueRound)), 8);
  const __m128i blue =
      _mm_sub_epi16(_mm_sub_epi16(_mm_add_epi16(cb, cb), _mm_set1_epi16(kBlueOffset)), bluePart);
  const __m128i mixed = _mm_sub_epi16(_mm_sub_epi16(scaled(cr, factors.greenCr), scaled(cb, factors.greenCb)),
                                      _mm_set1_epi16(kGreenRound));
  const __m128i green =
      _mm_add_epi16(_mm_sub_epi16(_mm_set1_epi16(kGreenOffset), cr), _mm_srai_epi16(mixed, 8));
  return {red, green, blue};
}

// Inlined into the step loop: as a call it spills the filtered chroma.
template <FancyPixels kPixels>
[[gnu::always_inline]] inline void convert16(const uint8_t* luma, const Chroma16& cb, const Chroma16& cr,
                                             const Factors& factors, uint8_t* out) {
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
  const __m128i zero = _mm_setzero_si128();
  const __m128i yLow = _mm_unpacklo_epi8(y, zero), yHigh = _mm_unpackhi_epi8(y, zero);
  const Terms8 low = terms(cb.low, cr.low, factors), high = terms(cb.high, cr.high, factors);
  const auto channel = [&](__m128i termLow, __m128i termHigh) {
    return _mm_packus_epi16(_mm_add_epi16(yLow, termLow), _mm_add_epi16(yHigh, termHigh));
  };
  const __m128i r = channel(low.red, high.red);
  const __m128i g = channel(low.green, high.green);
  const __m128i b = channel(low.blue, high.blue);
  if constexpr (kPixels == FancyPixels::Rgbx) {
    const sse2::Quads q = sse2::quads({r, g, b, _mm_set1_epi8(-1)});
    for (int i = 0; i < 4; ++i) sse2::store16(out + 16 * i, q.q[i]);
  } else {
    const sse2::Quads q =
        kPixels == FancyPixels::Bgr ? sse2::quads({b, g, r, zero}) : sse2::quads({r, g, b, zero});
    sse2::storeQuadsAs3(out, q.q, 4);
  }
}

struct Across {
  static void step(const FancyRowSources& rows, int32_t chroma, Chroma16* cb, Chroma16* cr) {
    *cb = filterAcross(rows.cb[0] + chroma);
    *cr = filterAcross(rows.cr[0] + chroma);
  }
};

struct BothWays {
  static void step(const FancyRowSources& rows, int32_t chroma, Chroma16* cb, Chroma16* cr) {
    *cb = filterBothWays(rows.cb[0] + chroma, rows.cb[1] + chroma);
    *cr = filterBothWays(rows.cr[0] + chroma, rows.cr[1] + chroma);
  }
};

// The whole steps of the row; returns the pixels done.
template <typename Filter, FancyPixels kPixels>
int32_t filterSteps(const FancyRowSources& rows, int32_t width, uint8_t* out) {
  constexpr int32_t bytes = kPixels == FancyPixels::Rgbx ? 4 : 3;
  if (width < kStep) return 0;
  // The last step ends at the row's end (its last even pixel for an odd width), writing again
  // some pixels of the step before with the same bytes: no partial step for a slower kernel.
  const int32_t lastStep = (width - kStep) & ~1;
  const Factors factors = opaqueFactors();
  for (int32_t x = 0;; x = std::min(x + kStep, lastStep)) {
    Chroma16 cb, cr;
    Filter::step(rows, x / 2, &cb, &cr);
    convert16<kPixels>(rows.luma + x, cb, cr, factors, out + x * bytes);
    if (x == lastStep) return lastStep + kStep;
  }
}

template <typename Filter>
int32_t filterSteps(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  switch (pixels) {
    case FancyPixels::Rgb:
      return filterSteps<Filter, FancyPixels::Rgb>(rows, width, out);
    case FancyPixels::Bgr:
      return filterSteps<Filter, FancyPixels::Bgr>(rows, width, out);
    case FancyPixels::Rgbx:
      return filterSteps<Filter, FancyPixels::Rgbx>(rows, width, out);
  }
  return 0;
}

// The sources moved on by `pixels` (even) pixels.
FancyRowSources advanced(const FancyRowSources& rows, int32_t pixels) {
  const int32_t chroma = pixels / 2;
  const auto move = [chroma](const uint8_t* row) { return row != nullptr ? row + chroma : nullptr; };
  return {rows.luma + pixels, {move(rows.cb[0]), move(rows.cb[1])}, {move(rows.cr[0]), move(rows.cr[1])}};
}

int32_t pixelBytes(FancyPixels pixels) {
  return pixels == FancyPixels::Rgbx ? 4 : 3;
}

}  // namespace

namespace sse2 {

void upsampleFancyH2V1Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  const int32_t done = filterSteps<Across>(rows, width, pixels, out);
  if (done < width)
    ::upsampleFancyH2V1Row(advanced(rows, done), width - done, pixels, out + done * pixelBytes(pixels));
}

void upsampleFancyH2V2Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  const int32_t done = filterSteps<BothWays>(rows, width, pixels, out);
  if (done < width)
    ::upsampleFancyH2V2Row(advanced(rows, done), width - done, pixels, out + done * pixelBytes(pixels));
}

// Eight or four samples a row: masked to their low bytes, packed, stored.
void keepBlockSamples(const int16_t* block, int32_t side, uint8_t* out, ptrdiff_t stride) {
  if (side != 8 && side != 4) return ::keepBlockSamples(block, side, out, stride);
  const __m128i lowByte = _mm_set1_epi16(0xFF);
  for (int32_t sy = 0; sy < side; ++sy, out += stride) {
    const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * sy));
    const __m128i bytes = _mm_packus_epi16(_mm_and_si128(samples, lowByte), _mm_setzero_si128());
    if (side == 8) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    } else {
      const int32_t four = _mm_cvtsi128_si32(bytes);
      std::memcpy(out, &four, sizeof four);
    }
  }
}

}  // namespace sse2
#endif
