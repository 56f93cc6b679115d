#include "codec/encode/huffman_encode.h"

#include <cstdlib>

#include "codec/encode/output_writer.h"
#include "codec/kernels/quantize.h"

namespace {

constexpr int32_t kMaxListedCodes = 258;
constexpr uint32_t kZeroRunLength = 0xF0;
constexpr uint32_t kEndOfBlock = 0x00;

// Appends the code of `symbol`, then `extraCount` bits of `extra`.
template <JpegStatus (*PutBits)(ByteInput*, uint32_t, int32_t)>
JpegStatus putSymbol(ByteInput* writer, const HuffmanTable* table, uint32_t symbol, uint32_t extra,
                     int32_t extraCount) {
  symbol &= 0xFF;
  JpegStatus status = PutBits(writer, table->code[symbol], table->codeLength[symbol]);
  if (status == JpegStatus::Ok && extraCount > 0) status = PutBits(writer, extra, extraCount);
  return status;
}

// The category of a difference or coefficient and its extra bits (value - 1 when negative,
// so that the low bits are the one's complement of the magnitude).
struct Magnitude {
  int32_t category;
  uint32_t bits;
};

Magnitude magnitudeOf(int32_t value) {
  const int32_t category = sizeCategory(static_cast<uint32_t>(std::abs(value)));
  const int32_t bits = value < 0 ? value - 1 : value;
  return {category, static_cast<uint32_t>(bits)};
}

template <JpegStatus (*PutBits)(ByteInput*, uint32_t, int32_t)>
JpegStatus encodeBlockWith(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* lastDc, const int16_t* block) {
  const int32_t difference = block[0] - *lastDc;
  *lastDc = block[0];
  const Magnitude dc = magnitudeOf(difference);
  JpegStatus status =
      putSymbol<PutBits>(writer, dcTable, static_cast<uint32_t>(dc.category), dc.bits, dc.category);
  if (status != JpegStatus::Ok) return status;

  uint32_t run = 0;
  for (int k = 1; k < 64; ++k) {
    const int32_t coefficient = block[kEncodeZigzagToNatural[k]];
    if (coefficient == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16) {
      status = putSymbol<PutBits>(writer, acTable, kZeroRunLength, 0, 0);
      if (status != JpegStatus::Ok) return status;
    }
    const Magnitude ac = magnitudeOf(coefficient);
    status = putSymbol<PutBits>(writer, acTable, run * 16 + static_cast<uint32_t>(ac.category), ac.bits,
                                ac.category);
    if (status != JpegStatus::Ok) return status;
    run = 0;
  }
  if (run > 0) return putSymbol<PutBits>(writer, acTable, kEndOfBlock, 0, 0);
  return JpegStatus::Ok;
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
                                ? encodeBlockWith<putBitsToFile>(writer, dcTable, acTable, lastDc, block)
                                : encodeBlockWith<putBitsToBuffer>(writer, dcTable, acTable, lastDc, block);
  return static_cast<int32_t>(status);
}
