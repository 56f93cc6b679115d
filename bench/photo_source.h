// A deterministic photo-like picture for the benchmarks: smooth sky, a soft sun, textured hills
// and sharp-edged saturated shapes, so the entropy coder sees a realistic mix of flat and busy
// blocks. Integer arithmetic only.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace bench {

inline uint32_t latticeNoise(int x, int y, uint32_t seed) {
  uint32_t h =
      static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + seed * 2147483647u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return (h ^ (h >> 16)) & 0xFF;
}

inline int smoothNoise(int x, int y, int cell, uint32_t seed) {
  const int gx = x / cell, gy = y / cell, fx = x % cell, fy = y % cell;
  const int a = static_cast<int>(latticeNoise(gx, gy, seed)),
            b = static_cast<int>(latticeNoise(gx + 1, gy, seed));
  const int c = static_cast<int>(latticeNoise(gx, gy + 1, seed)),
            d = static_cast<int>(latticeNoise(gx + 1, gy + 1, seed));
  const int top = a * (cell - fx) + b * fx, bottom = c * (cell - fx) + d * fx;
  return (top * (cell - fy) + bottom * fy) / (cell * cell);
}

inline uint8_t clampByte(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Interleaved R, G, B rows, top-down, no padding.
inline std::vector<uint8_t> photoRgb(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int u = static_cast<int>(int64_t{x} * 1024 / width);
      const int v = static_cast<int>(int64_t{y} * 1024 / height);
      int r = 70 + v / 7, g = 130 + v / 9, b = 235 - v / 25;
      const int64_t du = int64_t{u - 760} * width, dv = int64_t{v - 230} * height;
      const int64_t dist2 = du * du + dv * dv, inner = int64_t{110} * 110 * width * width,
                    outer = int64_t{140} * 140 * width * width;
      if (dist2 < inner) {
        r = 255, g = 244, b = 190;
      } else if (dist2 < outer) {
        const int t = static_cast<int>((outer - dist2) * 256 / (outer - inner));
        r = (255 * t + r * (256 - t)) >> 8, g = (244 * t + g * (256 - t)) >> 8,
        b = (190 * t + b * (256 - t)) >> 8;
      }
      const int horizon = 560 + std::abs((u * 3) % 512 - 256) / 3 - 40;
      if (v > horizon) {
        const int coarse = smoothNoise(x, y, 23, 1), medium = smoothNoise(x, y, 5, 3);
        const int fine = static_cast<int>(latticeNoise(x, y, 2));
        const int depth = v - horizon;
        r = 50 + coarse / 3 + medium / 6 + fine / 12 + depth / 20;
        g = 85 + coarse / 2 + medium / 8 - fine / 14 - depth / 30;
        b = 25 + coarse / 8 + fine / 16;
      }
      if (u >= 180 && u < 420 && v >= 620 && v < 900) {
        r = 205, g = 25, b = 20;
        if (u >= 240 && u < 340 && v >= 680 && v < 800) {
          const bool stripe = ((x + y) / 3) % 2;
          r = stripe ? 250 : 20, g = stripe ? 250 : 30, b = stripe ? 240 : 60;
        }
      }
      uint8_t* out = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
      out[0] = clampByte(r), out[1] = clampByte(g), out[2] = clampByte(b);
    }
  }
  return rgb;
}

}  // namespace bench
