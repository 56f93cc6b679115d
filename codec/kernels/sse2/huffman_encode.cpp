// The encodeBlock kernel, SSE2 twin: the nonzero mask comes from vector compares instead of 63
// scalar ones; the coding itself is the portable coder's (codec/encode/block_coder.h).
//
// The compares give the mask in natural order; codec/encode/zigzag_mask.h puts it in zig-zag order.
#include "codec/kernels/sse2/encode_kernels.h"

#if defined(MESHWICK_HAS_SSE2_KERNELS)
#include <emmintrin.h>

#include <cstdint>

#include "codec/encode/block_coder.h"
#include "codec/encode/zigzag_mask.h"

namespace {

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
  return zigzag_mask::zigzagOfNatural(natural);
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
