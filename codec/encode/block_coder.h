// The baseline block coder (ITU T.81 F.1.2) shared by the portable encodeBlock kernel and its
// processor-specific twins: they differ only in how the nonzero mask of a block is built, so
// the bits they write are the same by construction.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>

#include "codec/encode/output_writer.h"
#include "codec/jpeg.h"
#include "codec/kernels/quantize.h"

namespace block_coder {

inline constexpr uint32_t kZeroRunLength = 0xF0;
inline constexpr uint32_t kEndOfBlock = 0x00;

inline uint64_t lowBits(int32_t count) {
  return (uint64_t{1} << count) - 1u;
}

// The code of `symbol` followed by `extraCount` bits of `extra`, as one value and length.
struct Code {
  uint64_t bits;
  int32_t length;
};

// deriveEncodingTable, the only writer of the encoding form, leaves every code below 2^length.
inline Code codeWithExtra(const HuffmanTable* table, uint32_t symbol, uint32_t extra, int32_t extraCount) {
  symbol &= 0xFF;
  const int32_t length = table->codeLength[symbol];
  const uint64_t code = table->code[symbol];
  return {(code << extraCount) | (extra & lowBits(extraCount)), length + extraCount};
}

// The category of a difference or coefficient (its bit width: every value here is below 2^17)
// and its extra bits (value - 1 when negative, so that the low bits are the one's complement of
// the magnitude).
inline Code magnitudeOf(int32_t value) {
  const uint32_t magnitude = static_cast<uint32_t>(std::abs(value));
  const int32_t category = 32 - std::countl_zero(magnitude);
  return {static_cast<uint32_t>(value < 0 ? value - 1 : value), category};
}

// Codes one quantised natural-order block. `nonzero` has bit k set when the k-th AC coefficient
// in zig-zag order is nonzero (bit 0 clear), so the coder steps from one to the next.
template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
JpegStatus codeBlock(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                     int32_t* lastDc, const int16_t* block, uint64_t nonzero) {
  WordBits<EmitByte> bits(writer);
  const int32_t difference = block[0] - *lastDc;
  *lastDc = block[0];
  const Code dc = magnitudeOf(difference);
  const Code dcCode =
      codeWithExtra(dcTable, static_cast<uint32_t>(dc.length), static_cast<uint32_t>(dc.bits), dc.length);
  JpegStatus status = bits.put(dcCode.bits, dcCode.length);
  if (status != JpegStatus::Ok) return status;

  int32_t last = 0;
  while (nonzero != 0) {
    const int32_t k = std::countr_zero(nonzero);
    nonzero &= nonzero - 1;
    uint32_t run = static_cast<uint32_t>(k - last - 1);
    if (run > 15) {
      const Code zeroRun = codeWithExtra(acTable, kZeroRunLength, 0, 0);
      for (; run > 15; run -= 16) {
        status = bits.put(zeroRun.bits, zeroRun.length);
        if (status != JpegStatus::Ok) return status;
      }
    }
    const Code ac = magnitudeOf(block[kEncodeZigzagToNatural[k]]);
    const Code acCode = codeWithExtra(acTable, run * 16 + static_cast<uint32_t>(ac.length),
                                      static_cast<uint32_t>(ac.bits), ac.length);
    status = bits.put(acCode.bits, acCode.length);
    if (status != JpegStatus::Ok) return status;
    last = k;
  }
  if (last != 63) {
    const Code endOfBlock = codeWithExtra(acTable, kEndOfBlock, 0, 0);
    status = bits.put(endOfBlock.bits, endOfBlock.length);
    if (status != JpegStatus::Ok) return status;
  }
  return bits.finish();
}

// The kernel's body for either output sink.
template <uint64_t (*NonzeroMask)(const int16_t*)>
int32_t encodeBlockWith(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                        int32_t* lastDc, const int16_t* block) {
  const uint64_t nonzero = NonzeroMask(block);
  const JpegStatus status =
      writer->file != 0 ? codeBlock<emitByteToFile>(writer, dcTable, acTable, lastDc, block, nonzero)
                        : codeBlock<emitByteToBuffer>(writer, dcTable, acTable, lastDc, block, nonzero);
  return static_cast<int32_t>(status);
}

}  // namespace block_coder
