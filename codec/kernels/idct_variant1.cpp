// Inverse DCT, variant 1: direct fixed-point transforms on plainly dequantised coefficients,
// with a 32-bit workspace between the passes.
//
// Precision budget (full size): constants are cos·2^15 (and sqrt(2)·2^12 for the odd rotation),
// the first pass keeps 3 fraction bits (shift 12), the second removes them together with the
// 2^15 constant scale and the 1/8 normalisation (shift 21 = 15 + 3 + 3). For valid data the
// workspace stays below 2^15, so its products with 2^15 constants stay below 2^31. The reduced
// sizes use 13-bit constants with the same idea. Wrap32 keeps hostile data defined.
#include <array>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/wrap32.h"

namespace {

using Vec8 = std::array<Wrap32, 8>;

// cos(k·pi/16)·2^15 for k = 1, 3, 5, 7.
constexpr int32_t kCos1 = 32138;
constexpr int32_t kCos3 = 27246;
constexpr int32_t kCos5 = 18205;
constexpr int32_t kCos7 = 6393;
constexpr int32_t kSqrt2Cos2 = 42813;  // sqrt(2)·cos(pi/8)·2^15
constexpr int32_t kSqrt2Sin2 = 17734;  // sqrt(2)·sin(pi/8)·2^15
constexpr int32_t kSqrt2Q12 = 5793;    // sqrt(2)·2^12

template <int kShift>
[[gnu::always_inline]] inline Vec8 directStep(const Vec8& x) {
  const Wrap32 a1 = kCos1 * x[1] + kCos7 * x[7];
  const Wrap32 a2 = kCos7 * x[1] - kCos1 * x[7];
  const Wrap32 b1 = kCos5 * x[5] + kCos3 * x[3];
  const Wrap32 b2 = kCos3 * x[5] - kCos5 * x[3];
  const Wrap32 p = ((a1 + b1 + 2048) >> 12) * kSqrt2Q12;
  const Wrap32 q = ((a2 + b2 + 2048) >> 12) * kSqrt2Q12;
  const Wrap32 r = (a1 - b1) + (a2 - b2);
  const Wrap32 s = (a1 - b1) - (a2 - b2);
  const Wrap32 e0 = (x[0] + x[4]) * 32768;
  const Wrap32 e1 = (x[0] - x[4]) * 32768;
  const Wrap32 c1 = kSqrt2Cos2 * x[2] + kSqrt2Sin2 * x[6];
  const Wrap32 c2 = kSqrt2Sin2 * x[2] - kSqrt2Cos2 * x[6];

  constexpr int32_t half = 1 << (kShift - 1);
  const Vec8 unrounded = {e0 + c1 + p, e1 + c2 + r, e1 - c2 + s, e0 - c1 + q,
                          e0 - c1 - q, e1 - c2 - s, e1 + c2 - r, e0 + c1 - p};
  Vec8 out = unrounded;
  for (Wrap32& v : out) v = (v + half) >> kShift;
  return out;
}

// Half size, 13-bit constants. Inputs at index 4 are never read.
struct HalfTerms {
  Wrap32 t10, t12, odd0, odd2;
};

[[gnu::always_inline]] inline HalfTerms halfTerms(const Vec8& x) {
  const Wrap32 t0 = x[0] * 16384;
  const Wrap32 t2 = 15137 * x[2] - 6270 * x[6];
  const Wrap32 odd0 = -1730 * x[7] + 11893 * x[5] - 17799 * x[3] + 8697 * x[1];
  const Wrap32 odd2 = -4176 * x[7] - 4926 * x[5] + 7373 * x[3] + 20995 * x[1];
  return {t0 + t2, t0 - t2, odd0, odd2};
}

std::array<Wrap32, 4> halfOutputs(const HalfTerms& t, int32_t rounding, int shift) {
  return {(t.t10 + t.odd2 + rounding) >> shift, (t.t12 + t.odd0 + rounding) >> shift,
          (t.t12 - t.odd0 + rounding) >> shift, (t.t10 - t.odd2 + rounding) >> shift};
}

bool halfAcZero(const Vec8& x) {
  return x[1] == 0 && x[2] == 0 && x[3] == 0 && x[5] == 0 && x[6] == 0 && x[7] == 0;
}

// Quarter size: the odd term from x1, x3, x5, x7 only.
constexpr Wrap32 quarterOdd(Wrap32 x1, Wrap32 x3, Wrap32 x5, Wrap32 x7) {
  return -5906 * x7 + 6967 * x5 - 10426 * x3 + 29692 * x1;
}

constexpr int16_t dcSample(Wrap32 w) {
  return clampSample(((w + 16) >> 5) + 128);
}

Vec8 loadSkippingFour(const int16_t* first, int step) {
  Vec8 x{};
  for (int i = 0; i < 8; ++i) {
    if (i != 4) x[i] = first[i * step];
  }
  return x;
}

bool acZero(const Vec8& x) {
  return x[1] == 0 && x[2] == 0 && x[3] == 0 && x[4] == 0 && x[5] == 0 && x[6] == 0 && x[7] == 0;
}

// With x1..x7 zero every output of the step is (x0·2^15 + 2^(s-1)) >> s, the same value: the
// shortcut gives the full step's results exactly.
template <int kShift>
Vec8 flatStep(Wrap32 x0) {
  const Wrap32 out = (x0 * 32768 + (1 << (kShift - 1))) >> kShift;
  return {out, out, out, out, out, out, out, out};
}

}  // namespace

void idct1Full(int16_t* block) {
  std::array<Vec8, 8> workspace;
  for (int row = 0; row < 8; ++row) {
    Vec8 x;
    for (int column = 0; column < 8; ++column) x[column] = block[8 * row + column];
    workspace[row] = acZero(x) ? flatStep<12>(x[0]) : directStep<12>(x);
  }
  for (int column = 0; column < 8; ++column) {
    Vec8 x;
    for (int row = 0; row < 8; ++row) x[row] = workspace[row][column];
    const Vec8 out = acZero(x) ? flatStep<21>(x[0]) : directStep<21>(x);
    for (int row = 0; row < 8; ++row) block[8 * row + column] = clampSample(out[row] + 128);
  }
}

void idct1Half(int16_t* block) {
  std::array<Vec8, 4> workspace{};
  for (int column : {0, 1, 2, 3, 5, 6, 7}) {
    const Vec8 x = loadSkippingFour(block + column, 8);
    if (halfAcZero(x)) {
      for (int row = 0; row < 4; ++row) workspace[row][column] = x[0] * 4;
      continue;
    }
    const auto out = halfOutputs(halfTerms(x), 2048, 12);
    for (int row = 0; row < 4; ++row) workspace[row][column] = out[row];
  }
  for (int row = 0; row < 4; ++row) {
    const Vec8& w = workspace[row];
    int16_t* samples = block + 8 * row;
    if (halfAcZero(w)) {
      const int16_t dc = dcSample(w[0]);
      for (int column = 0; column < 4; ++column) samples[column] = dc;
      continue;
    }
    const auto out = halfOutputs(halfTerms(w), 262144, 19);
    for (int column = 0; column < 4; ++column) samples[column] = clampSample(out[column] + 128);
  }
}

void idct1Quarter(int16_t* block) {
  std::array<std::array<Wrap32, 8>, 2> workspace{};
  for (int column : {0, 1, 3, 5, 7}) {
    const int16_t* c = block + column;
    const Wrap32 x0 = c[0];
    if (c[8] == 0 && c[24] == 0 && c[40] == 0 && c[56] == 0) {
      workspace[0][column] = workspace[1][column] = x0 * 4;
      continue;
    }
    const Wrap32 t10 = x0 * 32768;
    const Wrap32 t0 = quarterOdd(c[8], c[24], c[40], c[56]);
    workspace[0][column] = (t10 + t0 + 4096) >> 13;
    workspace[1][column] = (t10 - t0 + 4096) >> 13;
  }
  for (int row = 0; row < 2; ++row) {
    const auto& w = workspace[row];
    int16_t* samples = block + 8 * row;
    if (w[1] == 0 && w[3] == 0 && w[5] == 0 && w[7] == 0) {
      samples[0] = samples[1] = dcSample(w[0]);
      continue;
    }
    const Wrap32 t10 = w[0] * 32768;
    const Wrap32 t0 = quarterOdd(w[1], w[3], w[5], w[7]);
    samples[0] = clampSample(((t10 + t0 + 524288) >> 20) + 128);
    samples[1] = clampSample(((t10 - t0 + 524288) >> 20) + 128);
  }
}

void idct1Eighth(int16_t* block) {
  block[0] = clampSample(((Wrap32(block[0]) + 4) >> 3) + 128);
}
