// Double-precision references and sample blocks shared by the decoder kernel tests.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace decode_reference {

using Block = std::array<int16_t, 64>;
using Samples = std::array<double, 64>;

// f(x,y) of ITU T.81 A.3.3 without the level shift; index 8y + x, coefficient index 8v + u.
inline Samples inverseDct(const std::array<double, 64>& coefficients) {
  Samples out{};
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
          const double cu = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
          const double cv = v == 0 ? std::numbers::sqrt2 / 2 : 1.0;
          sum += cu * cv * coefficients[8 * v + u] * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                 std::cos((2 * y + 1) * v * std::numbers::pi / 16);
        }
      }
      out[8 * y + x] = sum / 4;
    }
  }
  return out;
}

inline std::array<double, 64> forwardDct(const Samples& samples) {
  std::array<double, 64> out{};
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          sum += samples[8 * y + x] * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                 std::cos((2 * y + 1) * v * std::numbers::pi / 16);
        }
      }
      const double cu = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      const double cv = v == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      out[8 * v + u] = cu * cv * sum / 4;
    }
  }
  return out;
}

// The reduced transforms give the mean of each d x d cell of the full-size samples: expected
// sample (row, column) at scale d, level-shifted, rounded and clamped.
inline int expectedSample(const Samples& full, int scale, int row, int column) {
  double sum = 0;
  for (int y = 0; y < scale; ++y) {
    for (int x = 0; x < scale; ++x) sum += full[8 * (row * scale + y) + column * scale + x];
  }
  return std::clamp(static_cast<int>(std::lround(sum / (scale * scale) + 128)), 0, 255);
}

// Quantisation steps of ITU T.81 Annex K (luminance), natural order.
inline constexpr std::array<uint16_t, 64> kLuminanceSteps = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  //
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,  //
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,  //
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

// Photo-like 8x8 sample blocks (level-shifted): gradients, edges, texture and noise.
inline std::vector<Samples> photoLikeBlocks(int count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Samples> blocks;
  for (int n = 0; n < count; ++n) {
    const double base = unit(random) * 255, gx = (unit(random) - 0.5) * 40, gy = (unit(random) - 0.5) * 40;
    const double edge = unit(random) < 0.3 ? (unit(random) - 0.5) * 300 : 0;
    const double noise = unit(random) * 30;
    const int edgeAt = static_cast<int>(unit(random) * 8);
    Samples s{};
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        double v =
            base + gx * (x - 3.5) + gy * (y - 3.5) + (x >= edgeAt ? edge : 0) + (unit(random) - 0.5) * noise;
        s[8 * y + x] = std::clamp(std::round(v), 0.0, 255.0) - 128;
      }
    }
    blocks.push_back(s);
  }
  return blocks;
}

}  // namespace decode_reference
