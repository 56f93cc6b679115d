// The encodeBlock kernel, SSE2 twin: the nonzero mask comes from vector compares instead of 63
// scalar ones; the coding itself is the portable coder's (codec/encode/block_coder.h).
//
// The compares give the mask in natural order; a table per row of natural positions gives
// each row's bits in zig-zag order (8 lookups, 16 KiB).
#include "codec/kernels/sse2/encode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <array>
#include <cstdint>

#include "codec/encode/block_coder.h"

namespace {

constexpr int kGroups = 8;

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

constexpr GroupTable kZigzagGroups = makeZigzagGroups();

// 16 bits, one per coefficient of rows `first` and `first + 1`, set where it is nonzero. Signed
// saturation keeps a nonzero value nonzero.
uint32_t nonzeroPair(const int16_t* block, int first) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * first));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * first + 8));
  const __m128i zero = _mm_cmpeq_epi8(_mm_packs_epi16(a, b), _mm_setzero_si128());
  return ~static_cast<uint32_t>(_mm_movemask_epi8(zero)) & 0xFFFFu;
}

uint64_t zigzagNonzeroMask(const int16_t* block) {
  const uint64_t natural = uint64_t{nonzeroPair(block, 0)} | uint64_t{nonzeroPair(block, 2)} << 16 |
                           uint64_t{nonzeroPair(block, 4)} << 32 | uint64_t{nonzeroPair(block, 6)} << 48;
  uint64_t zigzag = 0;
  for (int group = 0; group < kGroups; ++group)
    zigzag |= kZigzagGroups[group][(natural >> (8 * group)) & 0xFF];
  return zigzag;
}

}  // namespace

namespace sse2 {

int32_t encodeBlock(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                    int32_t* lastDc, const int16_t* block) {
  return block_coder::encodeBlockWith<zigzagNonzeroMask>(writer, dcTable, acTable, lastDc, block);
}

int32_t encodeMcuBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                        const int16_t* blocks) {
  return block_coder::encodeMcuBlocksWith<zigzagNonzeroMask>(writer, coding, count, blocks);
}

}  // namespace sse2
#endif
