// The AC nonzero mask of a block in zig-zag order from its mask in natural order, for the block
// coders whose compares see the block row by row: one table per row of natural positions gives
// that row's bits at their zig-zag places (8 lookups, 16 KiB).
#pragma once

#include <array>
#include <cstdint>

#include "codec/kernels/quantize.h"

namespace zigzag_mask {

inline constexpr int kGroups = 8;

using GroupTable = std::array<std::array<uint64_t, 256>, kGroups>;

constexpr GroupTable makeZigzagGroups() {
  std::array<int, 64> zigzagOf{};
  for (int k = 0; k < 64; ++k) zigzagOf[kEncodeZigzagToNatural[k]] = k;
  GroupTable groups{};
  for (int group = 0; group < kGroups; ++group) {
    for (int bits = 0; bits < 256; ++bits) {
      uint64_t mask = 0;
      for (int b = 0; b < 8; ++b) {
        const int natural = group * 8 + b;
        // The DC is coded apart: its bit stays clear.
        if ((bits >> b & 1) != 0 && natural != 0) mask |= uint64_t{1} << zigzagOf[natural];
      }
      groups[group][bits] = mask;
    }
  }
  return groups;
}

inline constexpr GroupTable kZigzagGroups = makeZigzagGroups();

// Bit k set when the k-th coefficient in zig-zag order is an AC one whose natural bit is set.
inline uint64_t zigzagOfNatural(uint64_t natural) {
  uint64_t zigzag = 0;
  for (int group = 0; group < kGroups; ++group)
    zigzag |= kZigzagGroups[group][(natural >> (8 * group)) & 0xFF];
  return zigzag;
}

}  // namespace zigzag_mask
