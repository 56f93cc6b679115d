// The encodeMcuBlocks kernel, AVX2 twin. For a dense block vector code first reads it whole: per coefficient
// its category and its extra bits (the value, less one when negative, cut to `category` bits) go
// to two small arrays, and the nonzero mask comes from the categories. The coding loop then only
// looks them up, instead of finding sign, magnitude and bit width one coefficient at a time.
// The bits written are the portable coder's (codec/encode/block_coder.h).
#include "codec/kernels/avx2/encode_kernels.h"

#if defined(MESHWICK_HAS_AVX2_KERNELS)
#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "codec/encode/block_coder.h"
#include "codec/encode/zigzag_mask.h"

namespace {

// Category and extra bits of every coefficient of one block, in natural order.
struct BlockTerms {
  alignas(32) uint16_t category[64];
  alignas(32) uint16_t extra[64];
};

// 2^n - 1 for a 16-bit magnitude of bit width n: every bit below the highest one set.
__m256i lowOnes(__m256i magnitude) {
  __m256i ones = _mm256_or_si256(magnitude, _mm256_srli_epi16(magnitude, 1));
  ones = _mm256_or_si256(ones, _mm256_srli_epi16(ones, 2));
  ones = _mm256_or_si256(ones, _mm256_srli_epi16(ones, 4));
  return _mm256_or_si256(ones, _mm256_srli_epi16(ones, 8));
}

// Bits set per 16-bit lane: a table lookup per nibble, the two bytes summed by one multiply-add.
__m256i bitCount16(__m256i value) {
  const __m256i nibbleCounts = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4,  //
                                                0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i lowNibbles = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_shuffle_epi8(nibbleCounts, _mm256_and_si256(value, lowNibbles));
  const __m256i high =
      _mm256_shuffle_epi8(nibbleCounts, _mm256_and_si256(_mm256_srli_epi16(value, 4), lowNibbles));
  return _mm256_maddubs_epi16(_mm256_add_epi8(low, high), _mm256_set1_epi8(1));
}

// 32 bits, one per coefficient of two category vectors, set where the category is nonzero.
uint32_t nonzeroOf(__m256i first, __m256i second) {
  // Packing interleaves the halves of the two vectors; the permute puts them back in order.
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(first, second), 0xD8);
  return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(packed, _mm256_setzero_si256())));
}

// The AC nonzero mask in zig-zag order. Signed saturation keeps a nonzero value nonzero.
uint64_t zigzagNonzeroMask(const int16_t* block) {
  __m256i values[4];
  for (int i = 0; i < 4; ++i)
    values[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * i));
  const uint64_t natural =
      uint64_t{nonzeroOf(values[0], values[1])} | uint64_t{nonzeroOf(values[2], values[3])} << 32;
  return zigzag_mask::zigzagOfNatural(natural);
}

// Fills `terms` from a natural-order block.
void fillTerms(const int16_t* block, BlockTerms* terms) {
  for (int i = 0; i < 4; ++i) {
    const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * i));
    const __m256i ones = lowOnes(_mm256_abs_epi16(value));
    const __m256i extra = _mm256_and_si256(_mm256_add_epi16(value, _mm256_srai_epi16(value, 15)), ones);
    _mm256_store_si256(reinterpret_cast<__m256i*>(terms->category + 16 * i), bitCount16(ones));
    _mm256_store_si256(reinterpret_cast<__m256i*>(terms->extra + 16 * i), extra);
  }
}

// Blocks whose nonzero coefficients reach this zig-zag position are taken as dense enough for the
// vector pass to pay; the others go through the portable coder's steps.
constexpr int kDenseFrom = 24;

template <typename Bits>
[[gnu::always_inline]] inline JpegStatus putDenseBlock(Bits& bits, const HuffmanTable* dcTable,
                                                       const HuffmanTable* acTable, int32_t* lastDc,
                                                       const int16_t* block, uint64_t nonzero) {
  BlockTerms terms;
  fillTerms(block, &terms);
  uint64_t rest = nonzero;
  const int32_t difference = block[0] - *lastDc;
  *lastDc = block[0];
  const block_coder::Code dc = block_coder::magnitudeOf(difference);
  const block_coder::Code dcCode = block_coder::codeWithExtra(dcTable, static_cast<uint32_t>(dc.length),
                                                              static_cast<uint32_t>(dc.bits), dc.length);
  JpegStatus status = bits.put(dcCode.bits, dcCode.length);
  if (status != JpegStatus::Ok) return status;

  // `next` is the zig-zag position after the last coefficient coded.
  uint32_t next = 1;
  while (rest != 0) {
    const auto k = static_cast<uint32_t>(std::countr_zero(rest));
    rest &= rest - 1;
    uint32_t run = k - next;
    next = k + 1;
    if (run > 15) [[unlikely]] {
      const block_coder::Code zeroRun =
          block_coder::codeWithExtra(acTable, block_coder::kZeroRunLength, 0, 0);
      for (; run > 15; run -= 16) {
        status = bits.put(zeroRun.bits, zeroRun.length);
        if (status != JpegStatus::Ok) return status;
      }
    }
    const uint32_t natural = kEncodeZigzagToNatural[k];
    const uint32_t category = terms.category[natural];
    const uint32_t symbol = (run * 16 + category) & 0xFF;
    const uint64_t code = (uint64_t{acTable->code[symbol]} << category) | terms.extra[natural];
    status = bits.put(code, acTable->codeLength[symbol] + static_cast<int32_t>(category));
    if (status != JpegStatus::Ok) return status;
  }
  if (next != 64) {
    const block_coder::Code endOfBlock = block_coder::codeWithExtra(acTable, block_coder::kEndOfBlock, 0, 0);
    status = bits.put(endOfBlock.bits, endOfBlock.length);
  }
  return status;
}

template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
JpegStatus codeBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count, const int16_t* blocks) {
  block_coder::BlockBits<EmitByte> bits(writer);
  for (int32_t b = 0; b < count; ++b, blocks += 64) {
    const uint64_t nonzero = zigzagNonzeroMask(blocks);
    const JpegStatus status =
        (nonzero >> kDenseFrom) != 0
            ? putDenseBlock(bits, coding[b].dcTable, coding[b].acTable, coding[b].lastDc, blocks, nonzero)
            : block_coder::putBlock(bits, coding[b].dcTable, coding[b].acTable, coding[b].lastDc, blocks,
                                    nonzero);
    if (status != JpegStatus::Ok) return status;
  }
  return bits.finish();
}

}  // namespace

namespace avx2 {

int32_t encodeMcuBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                        const int16_t* blocks) {
  const JpegStatus status = writer->file != 0 ? codeBlocks<emitByteToFile>(writer, coding, count, blocks)
                                              : codeBlocks<emitByteToBuffer>(writer, coding, count, blocks);
  return static_cast<int32_t>(status);
}

}  // namespace avx2
#endif
