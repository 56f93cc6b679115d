// AVX2 twins of the interpolating row kernels: thirty-two pixels (sixteen chroma samples) per
// step, the rest of the row by the SSE2 kernels. The arithmetic is the SSE2 kernels' in wider
// lanes (16 bits throughout, the unsigned saturating pack as the clamp); 3-byte pixels are
// built with byte shuffles instead of the SSE2 shift-and-store sequence.
#include "codec/kernels/fancy_upsample.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/kernels/ycc_terms16.h"

namespace {

constexpr int32_t kStep = 32;  // pixels per step

// Sixteen samples from p as 16-bit lanes.
__m256i load16(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

__m256i times3(__m256i v) {
  return _mm256_add_epi16(v, _mm256_add_epi16(v, v));
}

// Filtered chroma of thirty-two pixels in 16-bit lanes, in the order unpacking the luminance per
// 128-bit lane gives: `low` holds pixels 0..7 and 16..23, `high` 8..15 and 24..31.
struct Chroma32 {
  __m256i low;
  __m256i high;
};

Chroma32 interleavePairs(__m256i left, __m256i right) {
  return {_mm256_unpacklo_epi16(left, right), _mm256_unpackhi_epi16(left, right)};
}

// (3s[k] + s[k-1] + 1) >> 2 and (3s[k] + s[k+1] + 2) >> 2.
Chroma32 filterAcross(const uint8_t* near) {
  const __m256i centre = times3(load16(near));
  const __m256i left = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_add_epi16(centre, load16(near - 1)), _mm256_set1_epi16(1)), 2);
  const __m256i right = _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_add_epi16(centre, load16(near + 1)), _mm256_set1_epi16(2)), 2);
  return interleavePairs(left, right);
}

// Column sums t = 3·near + far at offset `at`, then (3t[k] + t[k-1] + 8) >> 4 and
// (3t[k] + t[k+1] + 7) >> 4.
__m256i columnSums(const uint8_t* near, const uint8_t* far, int32_t at) {
  return _mm256_add_epi16(times3(load16(near + at)), load16(far + at));
}

Chroma32 filterBothWays(const uint8_t* near, const uint8_t* far) {
  const __m256i centre = times3(columnSums(near, far, 0));
  const __m256i left =
      _mm256_add_epi16(_mm256_add_epi16(centre, columnSums(near, far, -1)), _mm256_set1_epi16(8));
  const __m256i right =
      _mm256_add_epi16(_mm256_add_epi16(centre, columnSums(near, far, 1)), _mm256_set1_epi16(7));
  return interleavePairs(_mm256_srli_epi16(left, 4), _mm256_srli_epi16(right, 4));
}

// crR, gP and cbB of sixteen pixels, 16-bit lanes.
struct Terms16 {
  __m256i red;
  __m256i green;
  __m256i blue;
};

// The multipliers of the chroma terms, hidden from the compiler: spelled out as shifts and adds,
// as it would otherwise, they take three times the instructions of one multiplication each.
struct Factors {
  __m256i red;
  __m256i blue;
  __m256i greenCr;
  __m256i greenCb;
};

Factors opaqueFactors() {
  using namespace ycc16;
  Factors f = {_mm256_set1_epi16(kRedFactor), _mm256_set1_epi16(kBlueFactor),
               _mm256_set1_epi16(kGreenCrFactor), _mm256_set1_epi16(kGreenCbFactor)};
  asm("" : "+x"(f.red), "+x"(f.blue), "+x"(f.greenCr), "+x"(f.greenCb));
  return f;
}

[[gnu::always_inline]] inline Terms16 terms(__m256i cb, __m256i cr, const Factors& factors) {
  using namespace ycc16;
  const auto scaled = [](__m256i v, __m256i factor) { return _mm256_mullo_epi16(v, factor); };
  const auto part = [](__m256i v, int16_t round) {
    return _mm256_srai_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(round)), 8);
  };
  const __m256i red = _mm256_add_epi16(
      cr, _mm256_sub_epi16(part(scaled(cr, factors.red), kRedRound), _mm256_set1_epi16(kRedOffset)));
  const __m256i blue =
      _mm256_sub_epi16(_mm256_sub_epi16(_mm256_add_epi16(cb, cb), _mm256_set1_epi16(kBlueOffset)),
                       part(scaled(cb, factors.blue), kBlueRound));
  const __m256i mixed = _mm256_sub_epi16(scaled(cr, factors.greenCr), scaled(cb, factors.greenCb));
  const __m256i green = _mm256_add_epi16(_mm256_sub_epi16(_mm256_set1_epi16(kGreenOffset), cr),
                                         part(mixed, int16_t(-kGreenRound)));
  return {red, green, blue};
}

// Shuffle controls that place one channel of sixteen pixels into bytes 16·chunk .. 16·chunk + 15
// of their 3-byte layout (-128: a zero byte), the same in both 128-bit lanes.
constexpr std::array<int8_t, 32> threeByteControl(int32_t chunk, int32_t channel) {
  std::array<int8_t, 32> control{};
  for (int32_t i = 0; i < 32; ++i) {
    const int32_t at = 16 * chunk + i % 16;
    control[size_t(i)] = at % 3 == channel ? static_cast<int8_t>(at / 3) : int8_t{-128};
  }
  return control;
}

template <int32_t kChunk, int32_t kChannel>
__m256i placed(__m256i channel) {
  static constexpr std::array<int8_t, 32> kControl = threeByteControl(kChunk, kChannel);
  return _mm256_shuffle_epi8(channel, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kControl.data())));
}

template <int32_t kChunk>
__m256i chunkOf(__m256i first, __m256i second, __m256i third) {
  return _mm256_or_si256(_mm256_or_si256(placed<kChunk, 0>(first), placed<kChunk, 1>(second)),
                         placed<kChunk, 2>(third));
}

void store32(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Thirty-two pixels of three bytes: each lane builds the 48 bytes of its sixteen pixels, then
// the halves are put in order.
void storeThreeBytes(uint8_t* out, __m256i first, __m256i second, __m256i third) {
  const __m256i a = chunkOf<0>(first, second, third);  // bytes 0..15 | 48..63
  const __m256i b = chunkOf<1>(first, second, third);  // 16..31 | 64..79
  const __m256i c = chunkOf<2>(first, second, third);  // 32..47 | 80..95
  store32(out, _mm256_permute2x128_si256(a, b, 0x20));
  store32(out + 32, _mm256_permute2x128_si256(c, a, 0x30));
  store32(out + 64, _mm256_permute2x128_si256(b, c, 0x31));
}

void storeFourBytes(uint8_t* out, __m256i r, __m256i g, __m256i b) {
  const __m256i opaque = _mm256_set1_epi8(-1);
  const __m256i lowPairs = _mm256_unpacklo_epi8(r, g), highPairs = _mm256_unpackhi_epi8(r, g);
  const __m256i lowRest = _mm256_unpacklo_epi8(b, opaque), highRest = _mm256_unpackhi_epi8(b, opaque);
  const __m256i q0 = _mm256_unpacklo_epi16(lowPairs, lowRest);    // pixels 0..3 | 16..19
  const __m256i q1 = _mm256_unpackhi_epi16(lowPairs, lowRest);    // 4..7 | 20..23
  const __m256i q2 = _mm256_unpacklo_epi16(highPairs, highRest);  // 8..11 | 24..27
  const __m256i q3 = _mm256_unpackhi_epi16(highPairs, highRest);  // 12..15 | 28..31
  store32(out, _mm256_permute2x128_si256(q0, q1, 0x20));
  store32(out + 32, _mm256_permute2x128_si256(q2, q3, 0x20));
  store32(out + 64, _mm256_permute2x128_si256(q0, q1, 0x31));
  store32(out + 96, _mm256_permute2x128_si256(q2, q3, 0x31));
}

// Inlined into the step loop: as a call it spills the filtered chroma.
template <FancyPixels kPixels>
[[gnu::always_inline]] inline void convert32(const uint8_t* luma, const Chroma32& cb, const Chroma32& cr,
                                             const Factors& factors, uint8_t* out) {
  const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i yLow = _mm256_unpacklo_epi8(y, zero), yHigh = _mm256_unpackhi_epi8(y, zero);
  const Terms16 low = terms(cb.low, cr.low, factors), high = terms(cb.high, cr.high, factors);
  const auto channel = [&](__m256i termLow, __m256i termHigh) {
    return _mm256_packus_epi16(_mm256_add_epi16(yLow, termLow), _mm256_add_epi16(yHigh, termHigh));
  };
  const __m256i r = channel(low.red, high.red);
  const __m256i g = channel(low.green, high.green);
  const __m256i b = channel(low.blue, high.blue);
  if constexpr (kPixels == FancyPixels::Rgbx) {
    storeFourBytes(out, r, g, b);
  } else if constexpr (kPixels == FancyPixels::Bgr) {
    storeThreeBytes(out, b, g, r);
  } else {
    storeThreeBytes(out, r, g, b);
  }
}

struct Across {
  static void step(const FancyRowSources& rows, int32_t chroma, Chroma32* cb, Chroma32* cr) {
    *cb = filterAcross(rows.cb[0] + chroma);
    *cr = filterAcross(rows.cr[0] + chroma);
  }
};

struct BothWays {
  static void step(const FancyRowSources& rows, int32_t chroma, Chroma32* cb, Chroma32* cr) {
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
    Chroma32 cb, cr;
    Filter::step(rows, x / 2, &cb, &cr);
    convert32<kPixels>(rows.luma + x, cb, cr, factors, out + x * bytes);
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

namespace avx2 {

void upsampleFancyH2V1Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  const int32_t done = filterSteps<Across>(rows, width, pixels, out);
  if (done < width)
    sse2::upsampleFancyH2V1Row(advanced(rows, done), width - done, pixels, out + done * pixelBytes(pixels));
}

void upsampleFancyH2V2Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  const int32_t done = filterSteps<BothWays>(rows, width, pixels, out);
  if (done < width)
    sse2::upsampleFancyH2V2Row(advanced(rows, done), width - done, pixels, out + done * pixelBytes(pixels));
}

}  // namespace avx2
#endif
