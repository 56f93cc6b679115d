// SSE2 twin of the reduced-scale YCbCr converter: eight pixels per step, gathered from one row of
// eight, two rows of four or four rows of two. The chroma terms are the portable formulas
// recentred on 128 so that pmaddwd computes them exactly in 32-bit lanes; the sum with luma
// fits 16 bits and the unsigned saturating pack clamps it as the portable kernel does.
#include "codec/kernels/sse2/decode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/scaled_ycc_terms.h"
#include "codec/kernels/sse2/pixel_stores.h"

namespace {

using namespace scaled_ycc;

// Eight samples of each component, each cut to its low byte.
struct Samples8 {
  __m128i luma;
  __m128i cb;
  __m128i cr;
};

// One chroma term for eight lanes: pmaddwd of (value, 1) pairs with (factor, offset).
__m128i singleTerm(__m128i centred, int32_t pair) {
  const __m128i one = _mm_set1_epi16(1);
  const __m128i factors = _mm_set1_epi32(pair);
  const __m128i low = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(centred, one), factors), 8);
  const __m128i high = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(centred, one), factors), 8);
  return _mm_packs_epi32(low, high);
}

__m128i greenTerm(__m128i cb, __m128i cr) {
  const __m128i factors = _mm_set1_epi32(kGreenPair);
  const __m128i offset = _mm_set1_epi32(kGreenOffset);
  const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi16(cb, cr), factors);
  const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi16(cb, cr), factors);
  return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(low, offset), 8),
                         _mm_srai_epi32(_mm_add_epi32(high, offset), 8));
}

// Eight pixels as two vectors of four 4-byte pixels (fourth byte zero).
struct TwoQuads {
  __m128i q[2];
};

[[gnu::always_inline]] inline TwoQuads convert8(const Samples8& s, bool bgr) {
  const __m128i byteMask = _mm_set1_epi16(0xff);
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i luma = _mm_and_si128(s.luma, byteMask);
  const __m128i cb = _mm_sub_epi16(_mm_and_si128(s.cb, byteMask), bias);
  const __m128i cr = _mm_sub_epi16(_mm_and_si128(s.cr, byteMask), bias);
  const __m128i red = _mm_add_epi16(luma, singleTerm(cr, kRedPair));
  const __m128i green = _mm_add_epi16(luma, greenTerm(cb, cr));
  const __m128i blue = _mm_add_epi16(luma, singleTerm(cb, kBluePair));
  const __m128i first = _mm_packus_epi16(bgr ? blue : red, bgr ? blue : red);
  const __m128i third = _mm_packus_epi16(bgr ? red : blue, bgr ? red : blue);
  const __m128i second = _mm_packus_epi16(green, green);
  const __m128i pairs = _mm_unpacklo_epi8(first, second);
  const __m128i rest = _mm_unpacklo_epi8(third, _mm_setzero_si128());
  return {{_mm_unpacklo_epi16(pairs, rest), _mm_unpackhi_epi16(pairs, rest)}};
}

template <int kBlockSide, int kAcross, int kDown, int kRepeat>
struct Shape {
  static constexpr int kSide = kBlockSide;
  static constexpr int kWidth = kSide * kAcross;
  static constexpr int kChromaRepeat = kRepeat;
  static constexpr int kHeight = kSide * kDown;
  static constexpr int kRowsPerStep = 8 / kWidth;

  static constexpr int row(int step, int lane) { return step * kRowsPerStep + lane / kWidth; }
  static constexpr bool inside(int step, int lane) { return row(step, lane) < kHeight; }
  static constexpr int lumaAt(int step, int lane) {
    const int y = row(step, lane), x = lane % kWidth;
    return 64 * ((y / kSide) * kAcross + x / kSide) + 8 * (y % kSide) + x % kSide;
  }
  static constexpr int chromaAt(int step, int lane) {
    return 8 * row(step, lane) + (lane % kWidth) / kRepeat;
  }
};

int64_t bits64(const int16_t* p) {
  int64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

int32_t bits32(const int16_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Offsets of the runs of kPiece consecutive samples that fill the eight lanes; -1 for lanes
// below the MCU (left zero).
template <int kPiece>
struct Pieces {
  std::array<int, 8 / kPiece> at;
};

// Eight lanes from runs of kPiece samples at base + offsets (1, 2, 4 or 8 samples per run).
template <int kPiece>
__m128i assemble(const int16_t* base, const Pieces<kPiece>& p) {
  const auto take64 = [&](int j) { return p.at[j] < 0 ? int64_t{0} : bits64(base + p.at[j]); };
  const auto take32 = [&](int j) { return p.at[j] < 0 ? 0 : bits32(base + p.at[j]); };
  const auto take16 = [&](int j) { return p.at[j] < 0 ? int16_t{0} : base[p.at[j]]; };
  if constexpr (kPiece == 8) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p.at[0]));
  } else if constexpr (kPiece == 4) {
    return _mm_set_epi64x(take64(1), take64(0));
  } else if constexpr (kPiece == 2) {
    return _mm_setr_epi32(take32(0), take32(1), take32(2), take32(3));
  } else {
    return _mm_setr_epi16(take16(0), take16(1), take16(2), take16(3), take16(4), take16(5), take16(6),
                          take16(7));
  }
}

// Luminance: runs of one block row (side samples). Chroma: runs of one MCU row, or of half of
// one when each sample covers two pixels (those fill the lower four lanes, doubled afterwards).
template <class S>
struct StepLayout {
  static constexpr int kLumaPiece = S::kSide;
  static constexpr int kChromaPiece = S::kWidth / S::kChromaRepeat;

  static constexpr Pieces<kLumaPiece> luma(int step) {
    Pieces<kLumaPiece> p{};
    for (int j = 0; j < 8 / kLumaPiece; ++j)
      p.at[j] = S::inside(step, j * kLumaPiece) ? S::lumaAt(step, j * kLumaPiece) : -1;
    return p;
  }
  static constexpr Pieces<kChromaPiece> chroma(int step) {
    Pieces<kChromaPiece> p{};
    for (int j = 0; j < 8 / kChromaPiece; ++j) {
      const int lane = j * S::kWidth;  // the first lane of row j of the step
      p.at[j] = lane < 8 && S::inside(step, lane) ? S::chromaAt(step, lane) : -1;
    }
    return p;
  }
};

template <class S, int kStep>
Samples8 gather(const int16_t* const* components) {
  using L = StepLayout<S>;
  constexpr auto luma = L::luma(kStep);
  constexpr auto chroma = L::chroma(kStep);
  const __m128i y = assemble(components[0], luma);
  __m128i cb = assemble(components[1], chroma);
  __m128i cr = assemble(components[2], chroma);
  if constexpr (S::kChromaRepeat == 2) {
    cb = _mm_unpacklo_epi16(cb, cb);
    cr = _mm_unpacklo_epi16(cr, cr);
  }
  return {y, cb, cr};
}

inline void storeBytes(uint8_t* p, __m128i v, size_t count) {
  alignas(16) uint8_t bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes), v);
  std::memcpy(p, bytes, count);
}

// The step's pixels to their rows: one row of eight, two of four or four of two.
template <class S, int kStep>
void storeStep(uint8_t* dst, ptrdiff_t stride, const TwoQuads& quads) {
  const __m128i* q = quads.q;
  constexpr int y0 = kStep * S::kRowsPerStep;
  if constexpr (S::kWidth == 8) {
    sse2::storeQuadsAs3(dst + y0 * stride, q, 2);
  } else if constexpr (S::kWidth == 4) {
    sse2::storeQuadsAs3(dst + y0 * stride, &q[0], 1);
    if constexpr (y0 + 1 < S::kHeight) sse2::storeQuadsAs3(dst + (y0 + 1) * stride, &q[1], 1);
  } else {
    for (int half = 0; half < 2; ++half) {
      const __m128i twelve = sse2::squeeze(q[half]);
      const int y = y0 + 2 * half;
      if (y < S::kHeight) storeBytes(dst + y * stride, twelve, 6);
      if (y + 1 < S::kHeight) storeBytes(dst + (y + 1) * stride, _mm_srli_si128(twelve, 6), 6);
    }
  }
}

template <class S, int... kSteps>
void convertSteps(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, bool bgr,
                  std::integer_sequence<int, kSteps...>) {
  (storeStep<S, kSteps>(dst, stride, convert8(gather<S, kSteps>(components), bgr)), ...);
}

template <int kSide, int kAcross, int kDown, int kRepeat>
void convertShape(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, bool bgr) {
  using S = Shape<kSide, kAcross, kDown, kRepeat>;
  constexpr int steps = (S::kHeight + S::kRowsPerStep - 1) / S::kRowsPerStep;
  convertSteps<S>(components, dst, stride, bgr, std::make_integer_sequence<int, steps>{});
}

bool isShape(const ScaledMcuShape& s, int side, int across, int down, int repeat) {
  return s.side == side && s.lumaAcross == across && s.lumaDown == down && s.chromaRepeat == repeat;
}

}  // namespace

namespace sse2 {

void convertScaledYcc(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                      const ScaledMcuShape* shape) {
  const ScaledMcuShape& s = *shape;
  const bool bgr = s.bgr != 0;
  if (isShape(s, 4, 2, 2, 1)) return convertShape<4, 2, 2, 1>(components, dst, stride, bgr);
  if (isShape(s, 2, 2, 2, 1)) return convertShape<2, 2, 2, 1>(components, dst, stride, bgr);
  if (isShape(s, 1, 2, 2, 1)) return convertShape<1, 2, 2, 1>(components, dst, stride, bgr);
  if (isShape(s, 4, 2, 1, 2)) return convertShape<4, 2, 1, 2>(components, dst, stride, bgr);
  if (isShape(s, 2, 2, 1, 2)) return convertShape<2, 2, 1, 2>(components, dst, stride, bgr);
  if (isShape(s, 4, 1, 1, 1)) return convertShape<4, 1, 1, 1>(components, dst, stride, bgr);
  if (isShape(s, 2, 1, 1, 1)) return convertShape<2, 1, 1, 1>(components, dst, stride, bgr);
  ::convertScaledYcc(components, dst, stride, shape);
}

}  // namespace sse2

#endif
