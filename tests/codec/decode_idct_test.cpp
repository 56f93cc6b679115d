// Dequantisers and inverse DCTs of the decoder, run for every kernel set.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/dispatch.h"
#include "codec/kernels/decode_kernels.h"
#include "tests/codec/decode_reference.h"

namespace {

using decode_reference::Block;
using decode_reference::Samples;

constexpr std::array<int, 4> kScales = {1, 2, 4, 8};

struct InverseSet {
  std::string name;
  std::array<DequantizeKernel, 2> dequantize;           // by variant
  std::array<std::array<InverseDctKernel, 4>, 2> idct;  // by variant, then full, half, quarter, eighth
};

// The portable kernels, then the set each processor class puts into the kernel table.
std::vector<InverseSet> inverseSets() {
  std::vector<InverseSet> sets = {{"Portable",
                                   {dequantize0, dequantize1},
                                   {{{idct0Full, idct0Half, idct0Quarter, idct0Eighth},
                                     {idct1Full, idct1Half, idct1Quarter, idct1Eighth}}}}};
  for (int c = 0; c < kCpuClassCount; ++c) {
    KernelTable table{};
    fillKernelTable(&table, static_cast<CpuClass>(c));
    InverseSet set{"Class" + std::to_string(c),
                   {table.dequantize0, table.dequantize1},
                   {{{table.idct0Full, table.idct0Half, table.idct0Quarter, table.idct0Eighth},
                     {table.idct1Full, table.idct1Half, table.idct1Quarter, table.idct1Eighth}}}};
    bool complete = set.dequantize[0] && set.dequantize[1];
    for (const auto& variant : set.idct) {
      for (InverseDctKernel k : variant) complete = complete && k != nullptr;
    }
    if (complete) sets.push_back(set);
  }
  return sets;
}

void PrintTo(const InverseSet& s, std::ostream* os) {
  *os << s.name;
}

class DecoderIdct : public testing::TestWithParam<InverseSet> {
 protected:
  // Dequantises and transforms quantised coefficients the way the decoder does.
  Block decode(const Block& quantised, const std::array<uint16_t, 64>& naturalSteps, int variant,
               int scaleIndex) const {
    std::array<int16_t, kDequantTableEntries> table{};
    for (int k = 0; k < 64; ++k) table[k] = static_cast<int16_t>(naturalSteps[zigZagToNatural(k)]);
    const int32_t form = prepareDequantTable(table.data(), variant);
    EXPECT_EQ(form, variant == 1 ? kDequantFormPlain : kDequantFormPrescaled);
    Block block = quantised;
    GetParam().dequantize[variant](block.data(), table.data());
    GetParam().idct[variant][scaleIndex](block.data());
    return block;
  }

  static int zigZagToNatural(int k) {
    static constexpr std::array<int, 64> order = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    };
    return order[k];
  }
};

TEST_P(DecoderIdct, DcOnlyBlockIsFlatAtEverySize) {
  for (int variant : {0, 1}) {
    for (int scaleIndex = 0; scaleIndex < 4; ++scaleIndex) {
      const int n = 8 / kScales[scaleIndex];
      for (int v : {-1000, -129, -128, -37, -1, 0, 1, 64, 127, 128, 1000}) {
        SCOPED_TRACE(testing::Message() << "variant " << variant << " size " << n << " v " << v);
        Block block{};
        block[0] = static_cast<int16_t>((variant == 1 ? 8 : 16) * v);  // dequantised DC
        GetParam().idct[variant][scaleIndex](block.data());
        const int expected = std::clamp(v + 128, 0, 255);
        for (int y = 0; y < n; ++y) {
          for (int x = 0; x < n; ++x) ASSERT_EQ(block[8 * y + x], expected) << "at " << x << "," << y;
        }
      }
    }
  }
}

// Half size must ignore row and column 4, quarter size rows and columns 2, 4, 6, eighth size
// everything but the DC.
TEST_P(DecoderIdct, ReducedSizesNeverReadTheSkippedCoefficients) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> moderate(-300, 300), wild(-32768, 32767);
  const std::array<std::vector<int>, 4> skipped = {std::vector<int>{}, {4}, {2, 4, 6}, {1, 2, 3, 4, 5, 6, 7}};
  for (int trial = 0; trial < 200; ++trial) {
    Block clean;
    for (auto& c : clean) c = static_cast<int16_t>(moderate(random));
    for (int variant : {0, 1}) {
      for (int scaleIndex = 1; scaleIndex < 4; ++scaleIndex) {
        Block poisoned = clean;
        for (int i = 0; i < 64; ++i) {
          const int row = i / 8, column = i % 8;
          const auto& s = skipped[scaleIndex];
          if (std::count(s.begin(), s.end(), row) || std::count(s.begin(), s.end(), column)) {
            poisoned[i] = static_cast<int16_t>(wild(random));
          }
        }
        Block a = clean, b = poisoned;
        GetParam().idct[variant][scaleIndex](a.data());
        GetParam().idct[variant][scaleIndex](b.data());
        const int n = 8 / kScales[scaleIndex];
        for (int y = 0; y < n; ++y) {
          for (int x = 0; x < n; ++x) {
            ASSERT_EQ(a[8 * y + x], b[8 * y + x])
                << "variant " << variant << " size " << n << " trial " << trial;
          }
        }
      }
    }
  }
}

// Photo-like blocks, plus over-driven ones whose true samples leave 0..255 (clamped, never
// wrapped), quantised with the Annex K table and with unit steps (the widest coefficients).
std::vector<Block> quantisedBlocks(const std::array<uint16_t, 64>& steps) {
  std::vector<Block> out;
  auto samples = decode_reference::photoLikeBlocks(1500, 11);
  for (int n = 0; n < 300; ++n) {
    Samples over = samples[n];
    for (double& s : over) s *= 2.5;  // up to about +-320
    samples.push_back(over);
  }
  for (const Samples& s : samples) {
    const auto f = decode_reference::forwardDct(s);
    Block q;
    for (int i = 0; i < 64; ++i) q[i] = static_cast<int16_t>(std::lround(f[i] / steps[i]));
    out.push_back(q);
  }
  return out;
}

std::array<uint16_t, 64> unitSteps() {
  std::array<uint16_t, 64> s;
  s.fill(1);
  return s;
}

// Accuracy against the exact transform of the same dequantised coefficients (cell means for the
// reduced sizes), by quantisation steps, variant and size.
//
// Why these bounds: both families keep fraction bits through both passes (variant 1: 3 bits in
// its 32-bit workspace and 2^15 constants; variant 0: 4 bits in 16-bit intermediates and Q15
// constants), so with ordinary steps only the final rounding and one intermediate rounding
// remain: at most one level. Variant 0 also carries its pre-scaled steps as integers q·P·2048
// rounded; with step 1 the (7,7) entry is 19 for 19.49, a 2.5% error on that coefficient, and
// such errors over the AC terms of a block reach a second level at full size. The eighth size
// is the DC alone: exact up to how a tie rounds.
struct AccuracyCase {
  bool unitSteps;
  int variant;
  int scaleIndex;
  int maxError;
  double maxMeanError;
};

constexpr AccuracyCase kAccuracy[] = {
    {false, 0, 0, 1, 0.1}, {false, 0, 1, 1, 0.1}, {false, 0, 2, 1, 0.1}, {false, 0, 3, 1, 0.1},
    {false, 1, 0, 1, 0.1}, {false, 1, 1, 1, 0.1}, {false, 1, 2, 1, 0.1}, {false, 1, 3, 1, 0.1},
    {true, 0, 0, 2, 0.3},  {true, 0, 1, 1, 0.1},  {true, 0, 2, 1, 0.1},  {true, 0, 3, 1, 0.1},
    {true, 1, 0, 1, 0.1},  {true, 1, 1, 1, 0.1},  {true, 1, 2, 1, 0.1},  {true, 1, 3, 1, 0.1},
};

TEST_P(DecoderIdct, MatchesTheExactTransformWithinTheFixedPointBudget) {
  const std::vector<Block> annexK = quantisedBlocks(decode_reference::kLuminanceSteps);
  const std::vector<Block> unit = quantisedBlocks(unitSteps());
  for (const AccuracyCase& c : kAccuracy) {
    const auto steps = c.unitSteps ? unitSteps() : decode_reference::kLuminanceSteps;
    const int scale = kScales[c.scaleIndex], n = 8 / scale;
    int worst = 0;
    double sum = 0;
    const std::vector<Block>& blocks = c.unitSteps ? unit : annexK;
    for (const Block& q : blocks) {
      std::array<double, 64> dequantised;
      for (int i = 0; i < 64; ++i) dequantised[i] = static_cast<double>(q[i]) * steps[i];
      const Samples exact = decode_reference::inverseDct(dequantised);
      const Block decoded = decode(q, steps, c.variant, c.scaleIndex);
      for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
          const int error =
              std::abs(decoded[8 * y + x] - decode_reference::expectedSample(exact, scale, y, x));
          worst = std::max(worst, error);
          sum += error;
        }
      }
    }
    SCOPED_TRACE(testing::Message() << "variant " << c.variant << " size " << n << " unit steps "
                                    << c.unitSteps);
    EXPECT_LE(worst, c.maxError);
    EXPECT_LT(sum / (blocks.size() * n * n), c.maxMeanError);
  }
}

// Coefficients a hostile stream can produce: every kernel runs without undefined behaviour
// and clamps.
TEST_P(DecoderIdct, HostileCoefficientsAreClampedSamples) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (int trial = 0; trial < 500; ++trial) {
    Block b;
    for (auto& c : b)
      c = static_cast<int16_t>(trial % 3 == 0 ? (any(random) < 0 ? -32768 : 32767) : any(random));
    for (int variant : {0, 1}) {
      for (int scaleIndex = 0; scaleIndex < 4; ++scaleIndex) {
        Block out = b;
        GetParam().idct[variant][scaleIndex](out.data());
        const int n = 8 / kScales[scaleIndex];
        for (int y = 0; y < n; ++y) {
          for (int x = 0; x < n; ++x) {
            ASSERT_GE(out[8 * y + x], 0);
            ASSERT_LE(out[8 * y + x], 255);
          }
        }
      }
    }
  }
}

// Every set must give the portable results bit for bit, on real and on hostile blocks.
TEST_P(DecoderIdct, GivesThePortableResultsBitForBit) {
  const InverseSet portable = inverseSets().front();
  std::vector<Block> blocks = quantisedBlocks(decode_reference::kLuminanceSteps);
  std::mt19937 random(5);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (int n = 0; n < 200; ++n) {
    Block b;
    for (auto& c : b) c = static_cast<int16_t>(any(random));
    blocks.push_back(b);
  }
  std::array<int16_t, 64> table;
  for (int i = 0; i < 64; ++i) table[i] = static_cast<int16_t>(decode_reference::kLuminanceSteps[i] * 7 + i);
  for (const Block& q : blocks) {
    for (int variant : {0, 1}) {
      Block mine = q, theirs = q;
      GetParam().dequantize[variant](mine.data(), table.data());
      portable.dequantize[variant](theirs.data(), table.data());
      ASSERT_EQ(mine, theirs) << "dequantize" << variant;
      for (int scaleIndex = 0; scaleIndex < 4; ++scaleIndex) {
        Block a = q, b = q;
        GetParam().idct[variant][scaleIndex](a.data());
        portable.idct[variant][scaleIndex](b.data());
        ASSERT_EQ(a, b) << "variant " << variant << " scale " << kScales[scaleIndex];
      }
    }
  }
}

// Steps of 255 are too wide for variant 0's pre-scaled entries; the decode falls back to
// variant 1 and stays exact.
TEST(DecoderIdctFallback, TooWideStepsDecodeThroughVariant1) {
  std::array<uint16_t, 64> steps;
  steps.fill(255);
  std::array<int16_t, kDequantTableEntries> table{};
  for (int k = 0; k < 64; ++k) table[k] = 255;
  int32_t form = prepareDequantTable(table.data(), 0);
  int16_t* tables[] = {table.data()};
  ASSERT_EQ(settleDequantVariant(tables, &form, 1, 0), 1);
  int worst = 0;
  for (const Block& q : quantisedBlocks(steps)) {
    std::array<double, 64> dequantised;
    for (int i = 0; i < 64; ++i) dequantised[i] = static_cast<double>(q[i]) * steps[i];
    const Samples exact = decode_reference::inverseDct(dequantised);
    Block b = q;
    dequantize1(b.data(), table.data());
    idct1Full(b.data());
    for (int i = 0; i < 64; ++i) {
      worst = std::max(worst, std::abs(b[i] - decode_reference::expectedSample(exact, 1, i / 8, i % 8)));
    }
  }
  EXPECT_LE(worst, 1);
}

INSTANTIATE_TEST_SUITE_P(KernelSets, DecoderIdct, testing::ValuesIn(inverseSets()),
                         [](const testing::TestParamInfo<InverseSet>& info) { return info.param.name; });

}  // namespace
