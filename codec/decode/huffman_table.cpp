#include "codec/decode/huffman_table.h"

#include <cstring>

JpegStatus deriveHuffmanTable(const uint8_t* counts, const uint8_t* values, int32_t tableClass,
                              int32_t tableId, HuffmanTable* table) {
  table->tableClass = tableClass;
  table->tableId = tableId;

  int32_t total = 0;
  for (int32_t length = 1; length <= 16; ++length) total += counts[length - 1];
  if (total > 256) return JpegStatus::BadHuffmanTable;

  std::memset(table->minCode, 0, sizeof table->minCode);
  std::memset(table->valuePtr, 0, sizeof table->valuePtr);
  std::memset(table->lookahead, 0, sizeof table->lookahead);
  for (int32_t& last : table->maxCode) last = -1;

  // Canonical codes: consecutive within a length, shifted left by one per length step.
  int32_t code = 0;
  int32_t position = 0;
  for (int32_t length = 1; length <= 16; ++length) {
    const int32_t count = counts[length - 1];
    if (count != 0) {
      if (code + count > (1 << length)) return JpegStatus::BadHuffmanTable;
      table->valuePtr[length] = static_cast<uint16_t>(position);
      table->minCode[length] = static_cast<uint16_t>(code);
      for (int32_t i = 0; i < count; ++i) {
        table->values[position + i] = values[position + i];
        if (length <= 8) {
          const int32_t shift = 8 - length;
          const int32_t first = (code + i) << shift;
          for (int32_t fill = 0; fill < (1 << shift); ++fill) {
            table->lookahead[first + fill] = {values[position + i], static_cast<uint16_t>(length)};
          }
        }
      }
      code += count;
      table->maxCode[length] = code - 1;
      position += count;
    }
    code <<= 1;
  }
  for (int32_t i = position; i < 257; ++i) table->values[i] = 0;
  return JpegStatus::Ok;
}

int32_t decodeSymbolSearch(ByteInput* input, const HuffmanTable* table, int32_t code, int32_t firstLength) {
  int32_t length = firstLength;
  for (;;) {
    const int32_t filled = fillBits(input, 1);
    if (filled == kStoppedAtMarker) return kSymbolAtMarker;
    if (filled < 0) return filled;
    code = (code << 1) | static_cast<int32_t>(getBits(input, 1));
    if (code <= table->maxCode[length]) break;
    if (length == 16) return 0;  // matches no length: symbol 0
    ++length;
  }
  // Masked so that a table never defined (all zero) cannot index outside `values`.
  return table->values[(table->valuePtr[length] + code - table->minCode[length]) & 0xFF];
}
