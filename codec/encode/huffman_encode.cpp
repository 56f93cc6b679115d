#include "codec/encode/huffman_encode.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "codec/encode/output_writer.h"
#include "codec/kernels/quantize.h"

namespace {

constexpr int32_t kMaxListedCodes = 258;
constexpr uint32_t kZeroRunLength = 0xF0;
constexpr uint32_t kEndOfBlock = 0x00;
uint64_t lowBits(int32_t count) {
  return (uint64_t{1} << count) - 1u;
}

// The size category of sizeCategory() for every magnitude; below 2^16 it is the bit width.
int32_t categoryOf(uint32_t magnitude) {
  if (magnitude >= 65536) return sizeCategory(magnitude);
  return 32 - std::countl_zero(magnitude);
}

// The code of `symbol` followed by `extraCount` bits of `extra`, as one value and length.
struct Code {
  uint64_t bits;
  int32_t length;
};

Code codeWithExtra(const HuffmanTable* table, uint32_t symbol, uint32_t extra, int32_t extraCount) {
  symbol &= 0xFF;
  const int32_t length = table->codeLength[symbol];
  const uint64_t code = table->code[symbol] & lowBits(length);
  return {(code << extraCount) | (extra & lowBits(extraCount)), length + extraCount};
}

// The category of a difference or coefficient and its extra bits (value - 1 when negative,
// so that the low bits are the one's complement of the magnitude).
Code magnitudeOf(int32_t value) {
  const int32_t category = categoryOf(static_cast<uint32_t>(std::abs(value)));
  return {static_cast<uint32_t>(value < 0 ? value - 1 : value), category};
}

// A mask with bit k set when the k-th AC coefficient in zig-zag order is nonzero, so that the
// coder steps from one nonzero coefficient to the next. Spelled out per position, so that
// every index and shift is a constant.
template <size_t... K>
uint64_t zigzagNonzero(const int16_t* block, std::index_sequence<K...>) {
  return ((static_cast<uint64_t>(block[kEncodeZigzagToNatural[K + 1]] != 0) << (K + 1)) | ...);
}

template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
JpegStatus encodeBlockWith(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* lastDc, const int16_t* block) {
  WordBits<EmitByte> bits(writer);
  const int32_t difference = block[0] - *lastDc;
  *lastDc = block[0];
  const Code dc = magnitudeOf(difference);
  const Code dcCode =
      codeWithExtra(dcTable, static_cast<uint32_t>(dc.length), static_cast<uint32_t>(dc.bits), dc.length);
  JpegStatus status = bits.put(dcCode.bits, dcCode.length);
  if (status != JpegStatus::Ok) return status;

  uint64_t nonzero = zigzagNonzero(block, std::make_index_sequence<63>());
  const Code zeroRun = codeWithExtra(acTable, kZeroRunLength, 0, 0);
  int32_t last = 0;
  while (nonzero != 0) {
    const int32_t k = std::countr_zero(nonzero);
    nonzero &= nonzero - 1;
    uint32_t run = static_cast<uint32_t>(k - last - 1);
    for (; run > 15; run -= 16) {
      status = bits.put(zeroRun.bits, zeroRun.length);
      if (status != JpegStatus::Ok) return status;
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

}  // namespace

JpegStatus deriveEncodingTable(const uint8_t* counts, const uint8_t* symbols, HuffmanTable* table) {
  for (int symbol = 0; symbol < 256; ++symbol) {
    table->codeLength[symbol] = 0;
    table->code[symbol] = 0;
  }
  int32_t listed = 0;
  for (int length = 1; length <= 16; ++length) listed += counts[length - 1];
  if (listed > kMaxListedCodes) return JpegStatus::BadHuffmanTable;

  // Canonical codes: consecutive within a length, shifted left when the length grows.
  uint32_t code = 0;
  int32_t entry = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int n = 0; n < counts[length - 1]; ++n, ++entry, ++code) {
      if (code >= (1u << length)) return JpegStatus::BadHuffmanTable;
      const uint8_t symbol = symbols[entry];
      table->codeLength[symbol] = length;
      table->code[symbol] = static_cast<uint16_t>(code);
    }
    code <<= 1;
  }
  return JpegStatus::Ok;
}

int32_t encodeBlock(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                    int32_t* lastDc, const int16_t* block) {
  const JpegStatus status = writer->file != 0
                                ? encodeBlockWith<emitByteToFile>(writer, dcTable, acTable, lastDc, block)
                                : encodeBlockWith<emitByteToBuffer>(writer, dcTable, acTable, lastDc, block);
  return static_cast<int32_t>(status);
}
