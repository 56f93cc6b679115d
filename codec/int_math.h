// Integer helpers shared by the decoder and the encoder.
#pragma once

#include <cstdint>

// ceiling(value / divisor) for value >= 0 and divisor > 0; 64-bit so that products of image
// sizes and factors cannot overflow.
constexpr int64_t ceilDiv(int64_t value, int64_t divisor) {
  return (value + divisor - 1) / divisor;
}
