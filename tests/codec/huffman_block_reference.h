// The block decoder as the shared bit reader defines it, one call per symbol and per value (the
// form the block kernels had before they kept the accumulator in locals). The kernels must leave
// the same block, predictor, status and reader state after every block.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"

namespace huffman_reference {

// 1: continue; 0: the block ends quietly; negative: a status.
inline int32_t takeValue(ByteInput* input, int32_t category, int32_t* value) {
  const BitsOutcome filled = fillBits(input, category);
  if (filled.read == BitsRead::AtMarker) return 0;
  if (filled.read == BitsRead::Failed) return static_cast<int32_t>(filled.error);
  *value = extendValue(getBits(input, category), category);
  return 1;
}

// 1: the symbol is in *symbol; 0: the block ends quietly; negative: a status.
inline int32_t symbolOrEnd(ByteInput* input, const HuffmanTable* table, int32_t* symbol) {
  const SymbolRead read = decodeSymbol(input, table);
  if (read.outcome.read == BitsRead::AtMarker) return 0;
  if (read.outcome.read == BitsRead::Failed) return static_cast<int32_t>(read.outcome.error);
  *symbol = read.symbol;
  return 1;
}

inline int32_t decodeBlock(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* predictor, int16_t* block, bool storeAc) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  int32_t category = 0;
  const int32_t read = symbolOrEnd(input, dcTable, &category);
  if (read <= 0) return read;
  if (category > 15) return static_cast<int32_t>(JpegStatus::DataError);
  if (category > 0) {
    int32_t difference = 0;
    const int32_t taken = takeValue(input, category, &difference);
    if (taken <= 0) return taken;
    *predictor = static_cast<int16_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
  }
  block[0] = static_cast<int16_t>(*predictor);
  for (int32_t k = 1; k < 64;) {
    int32_t symbol = 0;
    const int32_t read = symbolOrEnd(input, acTable, &symbol);
    if (read <= 0) return read;
    const int32_t run = symbol >> 4;
    const int32_t size = symbol & 15;
    if (size == 0) {
      if (run != 15) return 0;
      k += 16;
      continue;
    }
    int32_t value = 0;
    const int32_t taken = takeValue(input, size, &value);
    if (taken <= 0) return taken;
    if (storeAc) block[kNaturalOrder[k + run]] = static_cast<int16_t>(value);
    k += run + 1;
  }
  return 0;
}

}  // namespace huffman_reference
