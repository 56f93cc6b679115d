// 32-bit two's-complement arithmetic for the fixed-point kernels.
//
// The transforms are defined on 32-bit signed registers. Coefficients from a hostile stream can
// push a product past 2^31, which a plain int32_t makes undefined; this type keeps the exact
// results of valid data and wraps like the hardware (and like any SIMD twin) on the rest.
#pragma once

#include <algorithm>
#include <cstdint>

class Wrap32 {
 public:
  constexpr Wrap32(int32_t value = 0) : bits_(static_cast<uint32_t>(value)) {}  // NOLINT: implicit by design

  constexpr int32_t value() const { return static_cast<int32_t>(bits_); }
  // The low 16 bits, as the kernels store intermediate rows and dequantised coefficients.
  constexpr int16_t low16() const { return static_cast<int16_t>(bits_); }

  friend constexpr Wrap32 operator+(Wrap32 a, Wrap32 b) { return fromBits(a.bits_ + b.bits_); }
  friend constexpr Wrap32 operator-(Wrap32 a, Wrap32 b) { return fromBits(a.bits_ - b.bits_); }
  friend constexpr Wrap32 operator*(Wrap32 a, Wrap32 b) { return fromBits(a.bits_ * b.bits_); }
  friend constexpr Wrap32 operator-(Wrap32 a) { return fromBits(0u - a.bits_); }
  // Arithmetic shift (C++20 defines >> on negative values as floor division by 2^s).
  friend constexpr Wrap32 operator>>(Wrap32 a, int shift) { return Wrap32(a.value() >> shift); }
  // Division truncating toward zero; the divisor is a positive kernel constant.
  friend constexpr Wrap32 operator/(Wrap32 a, int32_t divisor) { return Wrap32(a.value() / divisor); }
  friend constexpr bool operator==(Wrap32 a, Wrap32 b) { return a.bits_ == b.bits_; }

 private:
  static constexpr Wrap32 fromBits(uint32_t bits) { return Wrap32(static_cast<int32_t>(bits)); }
  uint32_t bits_;
};

// Limits a sample to 0..255.
constexpr int16_t clampSample(Wrap32 v) {
  return static_cast<int16_t>(std::clamp(v.value(), 0, 255));
}
