// Forward DCT and quantisation kernels of the encoder.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include "codec/kernels/forward_dct.h"
#include "codec/kernels/quantize.h"

namespace {

using Block = std::array<int16_t, 64>;
using Coefficients = std::array<double, 64>;

// F(u,v) as ITU T.81 A.3.3 defines it, in double precision.
Coefficients referenceDct(const Block& samples) {
  Coefficients out{};
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          sum += samples[y * 8 + x] * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                 std::cos((2 * y + 1) * v * std::numbers::pi / 16);
        }
      }
      const double cu = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      const double cv = v == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      out[v * 8 + u] = 0.25 * cu * cv * sum;
    }
  }
  return out;
}

// The AAN output scale of coefficient index k: 8 * a(u) * a(v).
double aanScaleOf(int u, int v) {
  auto a = [](int k) { return k == 0 ? 1.0 : std::numbers::sqrt2 * std::cos(k * std::numbers::pi / 16); };
  return 8 * a(u) * a(v);
}

// Blocks that stress the transforms: random noise over the full range, extremes, edges.
std::vector<Block> testBlocks() {
  std::vector<Block> blocks;
  std::mt19937 random(20240531);
  std::uniform_int_distribution<int> full(-128, 127);
  for (int n = 0; n < 400; ++n) {
    Block b;
    for (auto& s : b) s = static_cast<int16_t>(full(random));
    blocks.push_back(b);
  }
  Block checker, stripes, ramp, extremes;
  for (int i = 0; i < 64; ++i) {
    checker[i] = ((i / 8 + i % 8) % 2) ? 127 : -128;
    stripes[i] = (i % 2) ? 128 : -128;  // Cr of pure red reaches 128
    ramp[i] = static_cast<int16_t>(i * 4 - 128);
    extremes[i] = (i % 3 == 0) ? 128 : -128;
  }
  blocks.insert(blocks.end(), {checker, stripes, ramp, extremes});
  return blocks;
}

TEST(EncoderForwardDct, ConstantBlockGivesOnlyTheScaledDc) {
  for (int s : {-128, -1, 0, 1, 77, 127, 128}) {
    SCOPED_TRACE(s);
    Block b0, b1;
    b0.fill(static_cast<int16_t>(s));
    b1.fill(static_cast<int16_t>(s));
    fdct0(b0.data());
    fdct1(b1.data());
    EXPECT_EQ(b0[0], 64 * s);
    EXPECT_EQ(b1[0], 8 * s);
    for (int i = 1; i < 64; ++i) {
      EXPECT_EQ(b0[i], 0) << i;
      EXPECT_EQ(b1[i], 0) << i;
    }
  }
}

// Variant 1 rounds twice in 2^-12/2^-15 fixed point and keeps 16-bit intermediates scaled
// by 8: each pass loses at most about half a unit of its output scale, so after the column
// pass (scale 1) the result stays within 1 of the exact coefficient.
TEST(EncoderForwardDct, Variant1MatchesDoublePrecisionWithinOne) {
  double worst = 0;
  for (const Block& samples : testBlocks()) {
    Block b = samples;
    fdct1(b.data());
    const Coefficients exact = referenceDct(samples);
    for (int i = 0; i < 64; ++i) worst = std::max(worst, std::abs(b[i] - exact[i]));
  }
  EXPECT_LE(worst, 1.0);
}

// Variant 0 keeps integer outputs at the scale 8*a(u)*a(v) (0.6 to 15.4, so no single
// tolerance in units of F fits every coefficient). Its rounding budget is known instead: a
// row-pass output k carries at most kRowError[k] from its Q15 roundings (0 for outputs 0 and
// 4, one rounding for 2 and 6, three for the odd outputs); the column pass multiplies those
// by the L1 norm of its output row and adds its own roundings, and the 2^-15 constants add
// below one unit more.
TEST(EncoderForwardDct, Variant0StaysWithinItsRoundingBudget) {
  constexpr double kRowError[8] = {0, 1.5, 0.5, 1.5, 0, 1.5, 0.5, 1.5};
  auto l1Norm = [](int v) {
    double sum = 0;
    for (int r = 0; r < 8; ++r) sum += std::abs(std::cos((2 * r + 1) * v * std::numbers::pi / 16));
    return v == 0 ? sum : 2 * std::cos(v * std::numbers::pi / 16) * sum;
  };
  for (const Block& samples : testBlocks()) {
    Block b = samples;
    fdct0(b.data());
    const Coefficients exact = referenceDct(samples);
    for (int v = 0; v < 8; ++v) {
      for (int u = 0; u < 8; ++u) {
        const double budget = l1Norm(v) * kRowError[u] + kRowError[v] + 1.0;
        ASSERT_LE(std::abs(b[v * 8 + u] - aanScaleOf(u, v) * exact[v * 8 + u]), budget) << u << "," << v;
      }
    }
  }
}

TEST(EncoderQuantize, RoundsHalfTowardPlusInfinity) {
  struct Case {
    int16_t value;
    int16_t reciprocal;
    int16_t expected;
  };
  // r = 16384 halves the value: 1/2 -> 1, -1/2 -> 0, 3/2 -> 2, -3/2 -> -1.
  const Case cases[] = {{1, 16384, 1}, {-1, 16384, 0}, {3, 16384, 2}, {-3, 16384, -1}, {100, 10923, 33}};
  for (const Case& c : cases) {
    Block block{}, table{};
    block[5] = c.value;
    table.fill(1);
    table[5] = c.reciprocal;
    quantize0(block.data(), table.data());
    EXPECT_EQ(block[5], c.expected) << c.value;
    block[5] = c.value;
    quantize1(block.data(), table.data());
    EXPECT_EQ(block[5], c.expected) << c.value;
  }
}

TEST(EncoderQuantize, ReciprocalsAreTruncatedQuotientsInNaturalOrder) {
  Block table;
  for (int k = 0; k < 64; ++k) table[k] = static_cast<int16_t>(k + 1);
  table[63] = 255;
  prepareQuantReciprocals(table.data());
  for (int k = 0; k < 64; ++k) {
    const int step = k == 63 ? 255 : k + 1;
    EXPECT_EQ(static_cast<uint16_t>(table[kEncodeZigzagToNatural[k]]), 32768 / step) << k;
  }
  EXPECT_EQ(static_cast<uint16_t>(table[0]), 32768);
}

TEST(EncoderQuantize, StepOneKeepsTheVariant1TransformOutput) {
  Block table;
  table.fill(1);
  prepareQuantReciprocals(table.data());
  for (const Block& samples : testBlocks()) {
    Block b = samples;
    fdct1(b.data());
    const Block transformed = b;
    quantize1(b.data(), table.data());
    ASSERT_EQ(b, transformed);
  }
}

TEST(EncoderQuantize, ConstantBlockWithDcStepOneGivesEightTimesTheSample) {
  // Variant-0 reciprocal for a step of 1 at zig-zag position 0 is the AAN factor 4096
  // rounded: (0 + 4096) / 1 in units where 64*s*4096 >> 15 = 8*s.
  for (int s : {-128, -5, 0, 9, 127}) {
    Block b0, b1, t0, t1;
    b0.fill(static_cast<int16_t>(s));
    b1 = b0;
    t0.fill(4096);
    t1.fill(1);
    prepareQuantReciprocals(t1.data());
    fdct0(b0.data());
    quantize0(b0.data(), t0.data());
    fdct1(b1.data());
    quantize1(b1.data(), t1.data());
    EXPECT_EQ(b0[0], 8 * s);
    EXPECT_EQ(b1[0], 8 * s);
  }
}

}  // namespace
