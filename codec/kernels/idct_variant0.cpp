// Inverse DCT, variant 0: the AAN butterfly in Q15 on blocks dequantised with pre-scaled tables.
//
// Precision budget: dequantize0 leaves the coefficients scaled by 16 (four fraction bits), which
// the final (y + 8) >> 4 removes. Q15 constants: M(x, K) = (x·K + 16384) >> 15 needs x·K inside
// 32 bits; for valid data |x| stays below 2^15, so even the widest constant (85627 < 2^17) leaves
// headroom. Wrap32 keeps hostile coefficients defined (they wrap like the 32-bit registers).
#include <array>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/wrap32.h"

namespace {

using Vec8 = std::array<Wrap32, 8>;

// Q15 constants, all below 2^17.
constexpr int32_t k0765367 = 25080;  // 0.765367 · 2^15
constexpr int32_t k1082392 = 35468;  // 1.082392 · 2^15
constexpr int32_t k2613126 = 85627;  // 2.613126 · 2^15, wider than 16 bits
constexpr int32_t k1414214 = 46341;  // 1.414214 · 2^15

constexpr Wrap32 mulQ15(Wrap32 x, int32_t k) {
  return (x * k + 16384) >> 15;
}

constexpr int16_t finalSample(Wrap32 y) {
  return clampSample(((y + 8) >> 4) + 128);
}

Vec8 aanStep(const Vec8& x) {
  const Wrap32 z10 = x[5] - x[3];
  const Wrap32 z13 = x[5] + x[3];
  const Wrap32 z11 = x[1] + x[7];
  const Wrap32 z12 = x[1] - x[7];
  const Wrap32 a = mulQ15(z10 - z12, k0765367);
  const Wrap32 t10 = mulQ15(z12, k1082392) - a;
  const Wrap32 t12 = a - mulQ15(z10, k2613126);
  const Wrap32 t7 = z13 + z11;
  const Wrap32 t6 = t10 - t7;
  const Wrap32 t5 = mulQ15(z11 - z13, k1414214) - t6;
  const Wrap32 t4 = t12 + t5;

  const Wrap32 e10 = x[0] + x[4];
  const Wrap32 e11 = x[0] - x[4];
  const Wrap32 e13 = x[2] + x[6];
  const Wrap32 e12 = mulQ15(x[2] - x[6], k1414214) - e13;
  const Wrap32 t0 = e10 + e13;
  const Wrap32 t3 = e10 - e13;
  const Wrap32 t1 = e11 + e12;
  const Wrap32 t2 = e11 - e12;

  return {t0 + t7, t1 + t6, t2 + t5, t3 - t4, t3 + t4, t2 - t5, t1 - t6, t0 - t7};
}

// The 4-point step of the half-size transform; x[4] is never read.
[[gnu::always_inline]] inline std::array<Wrap32, 4> halfStep(const Vec8& x) {
  const Wrap32 h = mulQ15(x[2] - x[6], k1414214) / 2;
  const Wrap32 e0 = x[0] + h;
  const Wrap32 e1 = x[0] - h;
  const Wrap32 d53 = x[5] - x[3];
  const Wrap32 d17 = x[1] - x[7];
  // 60548 and 60547 differ on purpose: each odd output keeps its own rounding.
  const Wrap32 o0 = (-k0765367 * d53 + 60548 * d17 + 32768) >> 16;
  const Wrap32 o1 = (60547 * d53 + k0765367 * d17 + 32768) >> 16;
  return {e0 + o0, e1 + o1, e1 - o1, e0 - o0};
}

// Odd term of the 2-point step; reads only x1, x3, x5, x7.
constexpr Wrap32 quarterOdd(Wrap32 x1, Wrap32 x3, Wrap32 x5, Wrap32 x7) {
  return (k2613126 * (x1 - x7) + k1082392 * (x5 - x3) + 65536) >> 17;
}

Vec8 loadColumn(const int16_t* block, int column) {
  Vec8 x{};
  for (int row = 0; row < 8; ++row) x[row] = block[8 * row + column];
  return x;
}

Vec8 loadRow(const int16_t* block, int row) {
  Vec8 x{};
  for (int column = 0; column < 8; ++column) x[column] = block[8 * row + column];
  return x;
}

// Loads a column or row without touching index 4, which the half transform must not read.
Vec8 loadSkippingFour(const int16_t* first, int step) {
  Vec8 x{};
  for (int i = 0; i < 8; ++i) {
    if (i != 4) x[i] = first[i * step];
  }
  return x;
}

}  // namespace

void idct0Full(int16_t* block) {
  for (int column = 0; column < 8; ++column) {
    const Vec8 out = aanStep(loadColumn(block, column));
    for (int row = 0; row < 8; ++row) block[8 * row + column] = out[row].low16();
  }
  for (int row = 0; row < 8; ++row) {
    const Vec8 out = aanStep(loadRow(block, row));
    for (int column = 0; column < 8; ++column) block[8 * row + column] = finalSample(out[column]);
  }
}

void idct0Half(int16_t* block) {
  for (int column : {0, 1, 2, 3, 5, 6, 7}) {
    const auto out = halfStep(loadSkippingFour(block + column, 8));
    for (int row = 0; row < 4; ++row) block[8 * row + column] = out[row].low16();
  }
  for (int row = 0; row < 4; ++row) {
    const auto out = halfStep(loadSkippingFour(block + 8 * row, 1));
    for (int column = 0; column < 4; ++column) block[8 * row + column] = finalSample(out[column]);
  }
}

void idct0Quarter(int16_t* block) {
  // Column pass: row 0 receives the top values, row 1 the bottom ones (16-bit).
  for (int column : {0, 1, 3, 5, 7}) {
    const int16_t* c = block + column;
    const Wrap32 odd = quarterOdd(c[8], c[24], c[40], c[56]);
    const Wrap32 x0 = c[0];
    block[column] = (x0 + odd).low16();
    block[8 + column] = (x0 - odd).low16();
  }
  for (int row = 0; row < 2; ++row) {
    int16_t* r = block + 8 * row;
    const Wrap32 odd = quarterOdd(r[1], r[3], r[5], r[7]);
    const Wrap32 x0 = r[0];
    r[0] = finalSample(x0 + odd);
    r[1] = finalSample(x0 - odd);
  }
}

void idct0Eighth(int16_t* block) {
  block[0] = finalSample(Wrap32(block[0]));
}
