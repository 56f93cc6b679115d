// Huffman encoding of baseline blocks (ITU T.81 F.1.2) and the encoding form of a table.
#pragma once

#include <array>
#include <cstdint>

#include "codec/jpeg.h"
#include "codec/kernel_types.h"

namespace huffman_detail {
constexpr std::array<uint8_t, 256> makeSizeCategories() {
  std::array<uint8_t, 256> bits{};
  for (int value = 1; value < 256; ++value) {
    for (int v = value; v != 0; v >>= 1) ++bits[value];
  }
  return bits;
}
}  // namespace huffman_detail

// Bits of a magnitude 0..255 (0 -> 0, 1 -> 1, 2..3 -> 2, ..., 128..255 -> 8).
inline constexpr std::array<uint8_t, 256> kSizeCategory = huffman_detail::makeSizeCategories();

// Bits of any magnitude below 2^16: the table for the low byte, table of the high byte + 8.
inline int32_t sizeCategory(uint32_t magnitude) {
  return magnitude < 256 ? kSizeCategory[magnitude] : kSizeCategory[(magnitude >> 8) & 0xFF] + 8;
}

// Fills the encoding form (length and right-aligned code per symbol) of `table` from the 16
// code counts and symbol values of a table as a DHT segment carries it. BadHuffmanTable when more than
// 258 codes are listed, or when the counts ask for more codes of a length than fit in it.
JpegStatus deriveEncodingTable(const uint8_t* counts, const uint8_t* symbols, HuffmanTable* table);

// encodeBlock kernel: one quantised natural-order block; *lastDc is the DC predictor.
int32_t encodeBlock(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                    int32_t* lastDc, const int16_t* block);

// encodeMcuBlocks kernel: `count` consecutive blocks, block b coded with coding[b].
int32_t encodeMcuBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                        const int16_t* blocks);
