#include "codec/decode/huffman_table.h"

#include <cstring>

namespace {

// The symbol and code length the canonical search finds for the first bits of `prefix`, when the
// code has at most kValueLookaheadBits bits; length 0 otherwise.
struct ShortCode {
  int32_t symbol = 0;
  int32_t length = 0;
};

ShortCode shortCodeOf(const HuffmanTable& table, int32_t prefix) {
  for (int32_t length = 1; length <= kValueLookaheadBits; ++length) {
    const int32_t code = prefix >> (kValueLookaheadBits - length);
    if (code <= table.maxCode[length]) {
      return {table.values[(table.valuePtr[length] + code - table.minCode[length]) & 0xFF], length};
    }
  }
  return {};
}

// T.81 F.2.2.1, as huffman_decode_block.h's extendValue.
int32_t extendedValue(int32_t bits, int32_t size) {
  return bits < (1 << (size - 1)) ? bits - (1 << size) + 1 : bits;
}

void deriveValueLookahead(HuffmanTable* table) {
  for (int32_t prefix = 0; prefix < (1 << kValueLookaheadBits); ++prefix) {
    const ShortCode found = shortCodeOf(*table, prefix);
    const int32_t size = found.symbol & 15;
    const int32_t run = found.symbol >> 4;
    const int32_t total = found.length + size;
    if (found.length == 0 || total > kValueLookaheadBits) continue;
    uint32_t entry = static_cast<uint32_t>(total) | static_cast<uint32_t>(run) << 8;
    if (size == 0) {
      entry |= kEntrySizeZero | (run != 15 ? kEntryEndsBlock : 0u);
    } else {
      const int32_t bits = (prefix >> (kValueLookaheadBits - total)) & ((1 << size) - 1);
      entry |= static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(extendedValue(bits, size))))
               << 16;
    }
    table->valueLookahead[prefix] = entry;
  }
}

}  // namespace

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
  std::memset(table->valueLookahead, 0, sizeof table->valueLookahead);
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
  deriveValueLookahead(table);
  return JpegStatus::Ok;
}

SymbolRead decodeSymbolSearch(ByteInput* input, const HuffmanTable* table, int32_t code,
                              int32_t firstLength) {
  int32_t length = firstLength;
  for (;;) {
    const BitsOutcome filled = fillBits(input, 1);
    if (!filled.ready()) return {filled};
    code = (code << 1) | static_cast<int32_t>(getBits(input, 1));
    if (code <= table->maxCode[length]) break;
    if (length == 16) return {};  // matches no length: symbol 0
    ++length;
  }
  // Masked so that a table never defined (all zero) cannot index outside `values`.
  return {{}, table->values[(table->valuePtr[length] + code - table->minCode[length]) & 0xFF]};
}
