#include "codec/kernels/forward_dct.h"

namespace {

// Variant 0 constants in units of 2^-15; M(x, K) = (x*K + 2^14) >> 15.
// Range: samples are -128..128, so row outputs stay below 2^11 * 1.4 and column inputs to
// M() below 2^14 * 0.7; every product stays below 2^30.
constexpr int32_t kAanCos4 = 23170;   // 0.707107 = cos(pi/4)
constexpr int32_t kAanC6 = 12540;     // 0.382683 = cos(3pi/8)
constexpr int32_t kAanC2mC6 = 17734;  // 0.541196 = cos(pi/8) - cos(3pi/8)
constexpr int32_t kAanC2pC6 = 42813;  // 1.306563 = cos(pi/8) + cos(3pi/8)

constexpr int32_t mulQ15(int32_t x, int32_t k) {
  return (x * k + 16384) >> 15;
}

// One AAN pass over eight values read with stride `inStep` and written with `outStep`.
template <typename In, typename Out>
void aanPass(const In* in, int inStep, Out* out, int outStep) {
  const int32_t x0 = in[0 * inStep], x1 = in[1 * inStep], x2 = in[2 * inStep], x3 = in[3 * inStep];
  const int32_t x4 = in[4 * inStep], x5 = in[5 * inStep], x6 = in[6 * inStep], x7 = in[7 * inStep];
  const int32_t t0 = x0 + x7, t7 = x0 - x7, t1 = x1 + x6, t6 = x1 - x6;
  const int32_t t2 = x2 + x5, t5 = x2 - x5, t3 = x3 + x4, t4 = x3 - x4;

  const int32_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
  const int32_t z1 = mulQ15(e12 + e13, kAanCos4);
  out[0 * outStep] = static_cast<Out>(e10 + e11);
  out[4 * outStep] = static_cast<Out>(e10 - e11);
  out[2 * outStep] = static_cast<Out>(e13 + z1);
  out[6 * outStep] = static_cast<Out>(e13 - z1);

  const int32_t a = t4 + t5, b = t5 + t6, c = t6 + t7;
  const int32_t z5 = mulQ15(a - c, kAanC6);
  const int32_t z2 = mulQ15(a, kAanC2mC6) + z5;
  const int32_t z4 = z5 + mulQ15(c, kAanC2pC6);
  const int32_t z3 = mulQ15(b, kAanCos4);
  const int32_t z11 = t7 + z3, z13 = t7 - z3;
  out[5 * outStep] = static_cast<Out>(z13 + z2);
  out[3 * outStep] = static_cast<Out>(z13 - z2);
  out[1 * outStep] = static_cast<Out>(z11 + z4);
  out[7 * outStep] = static_cast<Out>(z11 - z4);
}

// Variant 1 constants. Cosines of the odd part in units of 2^-12, the even-part rotations and
// sqrt(2) in units of 2^-15. Both passes keep 16-bit intermediates in the block: the row pass
// scales by 8 (outputs at most 8 * 1024 for samples within -128..128), the column pass
// descales by 64. For such samples the widest odd-part sum of the column pass equals about
// 2^21 * |F(u,v)|, and an AC coefficient stays below 128 * 5.13^2 / 4 < 842, so < 2^31.
constexpr int32_t kCos1 = 4017;    // cos(pi/16)
constexpr int32_t kSin1 = 799;     // sin(pi/16)
constexpr int32_t kCos3 = 3406;    // cos(3pi/16)
constexpr int32_t kSin3 = 2276;    // sin(3pi/16)
constexpr int32_t kRotC = 42813;   // sqrt(2)*cos(pi/8)
constexpr int32_t kRotS = 17734;   // sqrt(2)*sin(pi/8)
constexpr int32_t kSqrt2 = 46341;  // sqrt(2)

struct Fdct1Pass {
  int32_t round;
  int shift;
  bool isRowPass;
};

void fdct1Step(int16_t* v, int step, const Fdct1Pass& pass) {
  const int32_t x0 = v[0 * step], x1 = v[1 * step], x2 = v[2 * step], x3 = v[3 * step];
  const int32_t x4 = v[4 * step], x5 = v[5 * step], x6 = v[6 * step], x7 = v[7 * step];
  const int32_t s07 = x0 + x7, s16 = x1 + x6, s25 = x2 + x5, s34 = x3 + x4;
  const int32_t d07 = x0 - x7, d16 = x1 - x6, d25 = x2 - x5, d34 = x3 - x4;
  const int32_t e10 = s07 + s34, e13 = s07 - s34, e11 = s16 + s25, e12 = s16 - s25;
  const int32_t r = pass.round;
  const int s = pass.shift;

  if (pass.isRowPass) {
    v[0 * step] = static_cast<int16_t>((e10 + e11) * 8);
    v[4 * step] = static_cast<int16_t>((e10 - e11) * 8);
  } else {
    v[0 * step] = static_cast<int16_t>((e10 + e11 + 32) >> 6);
    v[4 * step] = static_cast<int16_t>((e10 - e11 + 32) >> 6);
  }
  v[2 * step] = static_cast<int16_t>((kRotC * e13 + kRotS * e12 + r) >> s);
  v[6 * step] = static_cast<int16_t>((kRotS * e13 - kRotC * e12 + r) >> s);

  const int32_t t = (kSqrt2 * d07 + 2048) >> 12;
  const int32_t u = (kSqrt2 * d34 + 2048) >> 12;
  const int32_t p = 8 * (d25 + d16);
  const int32_t m = 8 * (d16 - d25);
  const int32_t w = t + p, b = u + m, tp = t - p, up = u - m;
  v[1 * step] = static_cast<int16_t>((kCos1 * w + kSin1 * b + r) >> s);
  v[7 * step] = static_cast<int16_t>((kSin1 * w - kCos1 * b + r) >> s);
  v[5 * step] = static_cast<int16_t>((kSin3 * tp + kCos3 * up + r) >> s);
  v[3 * step] = static_cast<int16_t>((kCos3 * tp - kSin3 * up + r) >> s);
}

}  // namespace

void fdct0(int16_t* block) {
  int32_t workspace[64];
  for (int row = 0; row < 8; ++row) aanPass(block + row * 8, 1, workspace + row * 8, 1);
  for (int column = 0; column < 8; ++column) aanPass(workspace + column, 8, block + column, 8);
}

void fdct1(int16_t* block) {
  constexpr Fdct1Pass kRowPass{2048, 12, true};
  constexpr Fdct1Pass kColumnPass{1 << 20, 21, false};
  for (int row = 0; row < 8; ++row) fdct1Step(block + row * 8, 1, kRowPass);
  for (int column = 0; column < 8; ++column) fdct1Step(block + column, 8, kColumnPass);
}
