// The baseline block coder (ITU T.81 F.1.2) shared by the portable encodeBlock and encodeMcuBlocks
// kernels and their processor-specific twins: they differ only in how the nonzero mask of a block
// is built, so the bits they write are the same by construction.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/encode/output_writer.h"
#include "codec/jpeg.h"
#include "codec/kernel_types.h"
#include "codec/kernels/quantize.h"

namespace block_coder {

inline constexpr uint32_t kZeroRunLength = 0xF0;
inline constexpr uint32_t kEndOfBlock = 0x00;

inline uint64_t lowBits(int32_t count) {
  return (uint64_t{1} << count) - 1u;
}

// WordBits with the output position kept in registers between words: the writer is touched only
// when a word cannot go out whole (near the end of the output area, or with a 0xFF byte) and at
// the end, where a WordBits takes the bits left and leaves the writer as putBits would.
template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
class BlockBits {
 public:
  explicit BlockBits(ByteInput* writer) : writer_(writer) {
    output_detail::takePendingByte(*writer, &word_, &free_);
    reload();
  }

  // Appends `count` (0..32) bits of `value`, whose higher bits are clear.
  JpegStatus put(uint64_t value, int32_t count) {
    free_ -= count;
    if (free_ >= 0) {
      word_ = (word_ << count) | value;
      return JpegStatus::Ok;
    }
    // The bits above those that did not fit leave the word before it goes out again.
    const int32_t spill = -free_;
    const uint64_t full = (word_ << (count - spill)) | (value >> spill);
    word_ = value;
    free_ += 64;
    if (room_ >= output_detail::kWordRoom) {
      if (!hasByteFF(full)) {
        output_detail::storeWordBigEndian(out_, full);
        out_ += output_detail::kWordBytes;
        room_ -= output_detail::kWordBytes;
      } else {
        storeStuffed(full);
      }
      return JpegStatus::Ok;
    }
    sync();
    for (int32_t shift = 56; shift >= 0; shift -= 8) {
      const JpegStatus status = EmitByte(writer_, static_cast<uint8_t>(full >> shift));
      if (status != JpegStatus::Ok) return status;
    }
    reload();
    return JpegStatus::Ok;
  }

  JpegStatus finish() {
    sync();
    const int32_t valid = 64 - free_;
    const uint64_t bits = valid == 64 ? word_ : word_ & lowBits(valid);
    writer_->bits = 0;
    writer_->bitCount = 8;
    WordBits<EmitByte> tail(writer_);
    JpegStatus status = JpegStatus::Ok;
    if (valid > 32) status = tail.put(bits >> 32, valid - 32);
    if (status == JpegStatus::Ok)
      status = tail.put(valid > 32 ? bits & 0xFFFFFFFFu : bits, valid > 32 ? 32 : valid);
    return status == JpegStatus::Ok ? tail.finish() : status;
  }

 private:
  // The eight bytes of `word`, a zero after each 0xFF, where they are known to fit.
  void storeStuffed(uint64_t word) {
    uint8_t* const start = out_;
    for (int32_t shift = 56; shift >= 0; shift -= 8) {
      const auto byte = static_cast<uint8_t>(word >> shift);
      *out_++ = byte;
      if (byte == 0xFF) *out_++ = 0;
    }
    room_ -= out_ - start;
  }
  void sync() {
    writer_->consumed += static_cast<uint32_t>(out_ - writer_->current);
    writer_->current = out_;
  }
  void reload() {
    out_ = writer_->current;
    room_ = writer_->end - writer_->current;
  }

  ByteInput* writer_;
  uint8_t* out_;
  ptrdiff_t room_;
  uint64_t word_;
  int32_t free_;
};

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

// The code of a nonzero AC coefficient `value` after `run` zeros, with its extra bits. For a
// negative value of category n the bits from n up of value - 1 are all ones, so adding the code
// plus one, shifted, clears them and leaves the low n bits: no mask needed.
inline Code acCodeOf(const HuffmanTable* table, uint32_t run, int64_t value) {
  const int64_t sign = value >> 63;
  const auto magnitude = static_cast<uint64_t>((value ^ sign) - sign);
  const int32_t category = (63 ^ __builtin_clzll(magnitude)) + 1;  // magnitude is nonzero; one bsr
  const uint32_t symbol = (run * 16 + static_cast<uint32_t>(category)) & 0xFF;
  const uint64_t code = static_cast<uint64_t>(table->code[symbol] - sign);
  return {(code << category) + static_cast<uint64_t>(value + sign), table->codeLength[symbol] + category};
}

// Puts one quantised natural-order block into `bits`. `nonzero` has bit k set when the k-th AC
// coefficient in zig-zag order is nonzero (bit 0 clear), so the coder steps from one to the next.
template <typename Bits>
[[gnu::always_inline]] inline JpegStatus putBlock(Bits& bits, const HuffmanTable* dcTable,
                                                  const HuffmanTable* acTable, int32_t* lastDc,
                                                  const int16_t* block, uint64_t nonzero) {
  const int32_t difference = block[0] - *lastDc;
  *lastDc = block[0];
  const Code dc = magnitudeOf(difference);
  const Code dcCode =
      codeWithExtra(dcTable, static_cast<uint32_t>(dc.length), static_cast<uint32_t>(dc.bits), dc.length);
  JpegStatus status = bits.put(dcCode.bits, dcCode.length);
  if (status != JpegStatus::Ok) return status;

  // Bit j of `rest` stands for the zig-zag position after `k` plus j: its trailing zeros are the
  // zero run before the next nonzero coefficient.
  uint64_t rest = nonzero >> 1;
  size_t k = 0;
  while (rest != 0) {
    auto run = static_cast<uint32_t>(std::countr_zero(rest));
    k += run + 1;
    rest >>= run + 1;  // below 64: the bit found is one of the 63 AC bits
    if (run > 15) {
      const Code zeroRun = codeWithExtra(acTable, kZeroRunLength, 0, 0);
      for (; run > 15; run -= 16) {
        status = bits.put(zeroRun.bits, zeroRun.length);
        if (status != JpegStatus::Ok) return status;
      }
    }
    const Code acCode = acCodeOf(acTable, run, block[kEncodeZigzagToNatural[k]]);
    status = bits.put(acCode.bits, acCode.length);
    if (status != JpegStatus::Ok) return status;
  }
  if (k != 63) {
    const Code endOfBlock = codeWithExtra(acTable, kEndOfBlock, 0, 0);
    status = bits.put(endOfBlock.bits, endOfBlock.length);
  }
  return status;
}

// Codes `count` consecutive blocks with one bit word: the writer takes the pending bits back only
// once, after the last block.
template <uint64_t (*NonzeroMask)(const int16_t*), JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
JpegStatus codeBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count, const int16_t* blocks) {
  BlockBits<EmitByte> bits(writer);
  for (int32_t b = 0; b < count; ++b, blocks += 64) {
    const JpegStatus status =
        putBlock(bits, coding[b].dcTable, coding[b].acTable, coding[b].lastDc, blocks, NonzeroMask(blocks));
    if (status != JpegStatus::Ok) return status;
  }
  return bits.finish();
}

// The kernels' bodies for either output sink.
template <uint64_t (*NonzeroMask)(const int16_t*)>
int32_t encodeMcuBlocksWith(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                            const int16_t* blocks) {
  const JpegStatus status = writer->file != 0
                                ? codeBlocks<NonzeroMask, emitByteToFile>(writer, coding, count, blocks)
                                : codeBlocks<NonzeroMask, emitByteToBuffer>(writer, coding, count, blocks);
  return static_cast<int32_t>(status);
}

template <uint64_t (*NonzeroMask)(const int16_t*)>
int32_t encodeBlockWith(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                        int32_t* lastDc, const int16_t* block) {
  const McuBlockCoding coding{dcTable, acTable, lastDc};
  return encodeMcuBlocksWith<NonzeroMask>(writer, &coding, 1, block);
}

}  // namespace block_coder
