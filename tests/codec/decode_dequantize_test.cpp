// Dequantisation tables and dequantisers of the decoder.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

#include "codec/kernels/decode_kernels.h"

namespace {

using Table = std::array<int16_t, kDequantTableEntries>;

constexpr std::array<int, 64> kZigZagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// A table as the DQT reader leaves it: steps in zig-zag order, padding still holding garbage.
Table zigZagTable(const std::array<uint16_t, 64>& naturalSteps) {
  Table t;
  t.fill(0x5A5A);
  for (int k = 0; k < 64; ++k) t[k] = static_cast<int16_t>(naturalSteps[kZigZagToNatural[k]]);
  return t;
}

std::array<uint16_t, 64> uniformSteps(uint16_t step) {
  std::array<uint16_t, 64> s;
  s.fill(step);
  return s;
}

uint16_t entry(const Table& t, int natural) {
  return static_cast<uint16_t>(t[natural]);
}

TEST(DecoderDequantize, PrescaleFactorsFollowTheirDefinition) {
  EXPECT_DOUBLE_EQ(idctPrescale[0], 0.125);
  EXPECT_DOUBLE_EQ(idctPrescale[1], 0.17338);
  EXPECT_DOUBLE_EQ(idctPrescale[9], 0.240485);
  EXPECT_DOUBLE_EQ(idctPrescale[63], 0.009515);
  auto a = [](int k) { return k == 0 ? 1.0 : std::numbers::sqrt2 * std::cos(k * std::numbers::pi / 16); };
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      EXPECT_NEAR(idctPrescale[8 * u + v], a(u) * a(v) / 8, 0.5e-6) << u << "," << v;
    }
  }
}

TEST(DecoderDequantize, PlainFormOnlyReordersAndClearsThePadding) {
  std::array<uint16_t, 64> natural;
  for (int i = 0; i < 64; ++i) natural[i] = static_cast<uint16_t>(i + 1);
  Table t = zigZagTable(natural);
  EXPECT_EQ(prepareDequantTable(t.data(), 1), kDequantFormPlain);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(entry(t, i), natural[i]) << i;
  for (int i = 64; i < kDequantTableEntries; ++i) EXPECT_EQ(t[i], 0) << i;
}

TEST(DecoderDequantize, PrescaledFormMatchesTheWorkedValues) {
  Table ones = zigZagTable(uniformSteps(1));
  EXPECT_EQ(prepareDequantTable(ones.data(), 0), kDequantFormPrescaled);
  EXPECT_EQ(entry(ones, 0), 256);  // DC step 1
  EXPECT_EQ(entry(ones, 63), 19);  // 0.009515 * 2048 + 0.5 = 19.99, truncated
  EXPECT_EQ(entry(ones, 9), 493);  // 0.240485 * 2048 + 0.5 = 493.0
  for (int i = 64; i < kDequantTableEntries; ++i) EXPECT_EQ(ones[i], 0) << i;

  // Any value other than 1 selects variant 0.
  Table twos = zigZagTable(uniformSteps(2));
  EXPECT_EQ(prepareDequantTable(twos.data(), 7), kDequantFormPrescaled);
  EXPECT_EQ(entry(twos, 0), 512);
}

TEST(DecoderDequantize, ConvertingTheSameTableAgainStillClearsThePadding) {
  Table t = zigZagTable(uniformSteps(3));
  prepareDequantTable(t.data(), 0);
  for (int i = 0; i < 64; ++i) t[i] = static_cast<int16_t>(3);  // the same steps read again
  for (int i = 64; i < kDequantTableEntries; ++i) t[i] = -1;
  prepareDequantTable(t.data(), 0);
  for (int i = 64; i < kDequantTableEntries; ++i) EXPECT_EQ(t[i], 0) << i;
}

// 256 * 255 = 65280 does not fit a signed 16-bit entry; read back unsigned it still gives 2 * q * c.
TEST(DecoderDequantize, LargestEightBitDcStepDequantisesExactly) {
  std::array<uint16_t, 64> steps = uniformSteps(1);
  steps[0] = 255;
  Table t = zigZagTable(steps);
  ASSERT_EQ(prepareDequantTable(t.data(), 0), kDequantFormPrescaled);
  std::array<int16_t, 64> block{};
  block[0] = 3;
  dequantize0(block.data(), t.data());
  EXPECT_EQ(block[0], 2 * 255 * 3);
  block[0] = -3;
  dequantize0(block.data(), t.data());
  EXPECT_EQ(block[0], -2 * 255 * 3);
}

// Step 134 at (1,1) scales to 134 * 0.240485 * 2048 + 0.5 = 65997: too wide for the entry.
TEST(DecoderDequantize, StepTooWideForThePrescaledFormStaysPlain) {
  for (uint16_t step : {134, 200, 255, 1000, 65535}) {
    SCOPED_TRACE(step);
    std::array<uint16_t, 64> steps = uniformSteps(1);
    steps[9] = step;
    Table t = zigZagTable(steps);
    EXPECT_EQ(prepareDequantTable(t.data(), 0), kDequantFormPlain);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(entry(t, i), steps[i]) << i;
  }
  std::array<uint16_t, 64> steps = uniformSteps(1);
  steps[9] = 133;  // 64053: still fits
  Table t = zigZagTable(steps);
  EXPECT_EQ(prepareDequantTable(t.data(), 0), kDequantFormPrescaled);
}

// Restoring plain steps from the pre-scaled form must be exact for every step that fits.
TEST(DecoderDequantize, PrescaledFormConvertsBackToTheExactSteps) {
  for (int step = 1; step <= 65535; step += (step < 600 ? 1 : 97)) {
    Table t = zigZagTable(uniformSteps(static_cast<uint16_t>(step)));
    int32_t form = prepareDequantTable(t.data(), 0);
    int16_t* tables[] = {t.data()};
    ASSERT_EQ(settleDequantVariant(tables, &form, 1, 1), 1);
    ASSERT_EQ(form, kDequantFormPlain);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(entry(t, i), static_cast<uint16_t>(step)) << "step " << step << " index " << i;
    }
  }
}

struct SettleCase {
  const char* name;
  int32_t dctVariant;
  std::vector<uint16_t> steps;  // uniform step of each table
  std::vector<int32_t> formsBefore;
  int32_t expectedVariant;
};

void PrintTo(const SettleCase& c, std::ostream* os) {
  *os << c.name;
}

class DecoderDequantizeSettle : public testing::TestWithParam<SettleCase> {};

TEST_P(DecoderDequantizeSettle, BringsEveryTableToTheVariantUsed) {
  const SettleCase& c = GetParam();
  std::vector<Table> tables;
  std::vector<int16_t*> pointers;
  std::vector<int32_t> forms;
  for (size_t i = 0; i < c.steps.size(); ++i) {
    tables.push_back(zigZagTable(uniformSteps(c.steps[i])));
  }
  for (size_t i = 0; i < c.steps.size(); ++i) {
    forms.push_back(prepareDequantTable(tables[i].data(), c.formsBefore[i] == kDequantFormPlain ? 1 : 0));
    pointers.push_back(tables[i].data());
  }
  ASSERT_EQ(
      settleDequantVariant(pointers.data(), forms.data(), static_cast<int32_t>(forms.size()), c.dctVariant),
      c.expectedVariant);
  for (size_t i = 0; i < tables.size(); ++i) {
    const int32_t expectedForm = c.expectedVariant == 1 ? kDequantFormPlain : kDequantFormPrescaled;
    EXPECT_EQ(forms[i], expectedForm) << i;
    Table reference = zigZagTable(uniformSteps(c.steps[i]));
    prepareDequantTable(reference.data(), c.expectedVariant);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(tables[i][k], reference[k]) << "table " << i << " entry " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecoderDequantizeSettle,
    testing::Values(SettleCase{"AllFitVariant0", 0, {16, 40}, {0, 0}, 0},
                    SettleCase{"OneTooWideFallsBackToVariant1", 0, {16, 255}, {0, 1}, 1},
                    SettleCase{"Variant1KeepsPlain", 1, {16, 255}, {1, 1}, 1},
                    SettleCase{"Variant1RestoresPrescaled", 1, {16, 40}, {0, 0}, 1},
                    SettleCase{"Variant0PrescalesPlainThatFits", 0, {16, 40}, {1, 1}, 0}),
    [](const testing::TestParamInfo<SettleCase>& info) { return std::string(info.param.name); });

// Reference of the dequantisers in 64-bit arithmetic, cut to 16 bits like the kernels.
int16_t referenceDequantize0(int16_t c, uint16_t t) {
  return static_cast<int16_t>((int64_t{c} * t + 64) >> 7);
}
int16_t referenceDequantize1(int16_t c, uint16_t t) {
  return static_cast<int16_t>(int64_t{c} * t);
}

// Hostile coefficients and the widest entries: results are defined and follow the formula.
TEST(DecoderDequantize, ExtremeValuesFollowTheFormula) {
  const std::array<int16_t, 8> coefficients = {-32768, -32767, -1000, -1, 0, 1, 999, 32767};
  const std::array<uint16_t, 8> entries = {0, 1, 19, 256, 32767, 32768, 65280, 65535};
  std::array<int16_t, 64> block, table{};
  for (int i = 0; i < 64; ++i) {
    block[i] = coefficients[i % 8];
    table[i] = static_cast<int16_t>(entries[i / 8]);
  }
  std::array<int16_t, 64> b0 = block, b1 = block;
  dequantize0(b0.data(), table.data());
  dequantize1(b1.data(), table.data());
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(b0[i], referenceDequantize0(block[i], entries[i / 8])) << i;
    EXPECT_EQ(b1[i], referenceDequantize1(block[i], entries[i / 8])) << i;
  }
}

}  // namespace
