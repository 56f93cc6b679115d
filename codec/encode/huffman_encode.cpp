#include "codec/encode/huffman_encode.h"

#include <utility>

#include "codec/encode/block_coder.h"

namespace {

constexpr int32_t kMaxListedCodes = 258;

// Spelled out per position, so that every index and shift is a constant.
template <size_t... K>
uint64_t zigzagNonzero(const int16_t* block, std::index_sequence<K...>) {
  return ((static_cast<uint64_t>(block[kEncodeZigzagToNatural[K + 1]] != 0) << (K + 1)) | ...);
}

uint64_t zigzagNonzeroMask(const int16_t* block) {
  return zigzagNonzero(block, std::make_index_sequence<63>());
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
  return block_coder::encodeBlockWith<zigzagNonzeroMask>(writer, dcTable, acTable, lastDc, block);
}

int32_t encodeMcuBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                        const int16_t* blocks) {
  return block_coder::encodeMcuBlocksWith<zigzagNonzeroMask>(writer, coding, count, blocks);
}
