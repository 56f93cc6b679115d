// Derivation of the decoding form of a Huffman table and symbol decoding with an 8-bit
// lookahead and a canonical search for longer codes (ITU T.81 Annex C, F.2.2.3).
#pragma once

#include <cstdint>

#include "codec/decode/byte_input.h"
#include "codec/jpeg.h"

// A symbol read: the symbol 0..255 when Ready.
struct SymbolRead {
  BitsOutcome outcome;
  int32_t symbol = 0;
};

// counts: 16 entries (codes of length 1..16); values: as many symbols as the counts add up to.
// BadHuffmanTable when more than 256 codes are listed or a length holds more codes than it can.
JpegStatus deriveHuffmanTable(const uint8_t* counts, const uint8_t* values, int32_t tableClass,
                              int32_t tableId, HuffmanTable* table);

// Bits of the prefix that indexes HuffmanTable::valueLookahead.
inline constexpr int32_t kValueLookaheadBits = 10;

// A valueLookahead entry, nonzero when the prefix starts with a whole code and its extra bits:
// bits 0..5 the bits both take (so that a shift by the entry needs no mask), bit 6 set for a
// symbol of size 0, bit 7 for one that ends an AC block (size 0, run below 15), bits 8..11 the
// run, bits 16..31 the extended value as int16 (0 for size 0).
inline constexpr uint32_t kEntrySizeZero = 1u << 6;
inline constexpr uint32_t kEntryEndsBlock = 1u << 7;

inline int32_t entryBits(uint32_t entry) {
  return static_cast<int32_t>(entry & 63);
}

inline int32_t entryRun(uint32_t entry) {
  return static_cast<int32_t>((entry >> 8) & 15);
}

inline int16_t entryValue(uint32_t entry) {
  return static_cast<int16_t>(entry >> 16);
}

// Bit-by-bit canonical search from length `firstLength`, the first firstLength - 1 bits of the
// code already taken as `code` (0 and 1 to start from scratch).
SymbolRead decodeSymbolSearch(ByteInput* input, const HuffmanTable* table, int32_t code, int32_t firstLength);

// AtMarker when a marker stopped the input before the code was complete.
inline SymbolRead decodeSymbol(ByteInput* input, const HuffmanTable* table) {
  if (input->bitCount < 16) {
    const BitsOutcome filled = fillBitsSlow(input, 0);
    if (!filled.ready()) return {filled};
    if (input->bitCount < 8) return decodeSymbolSearch(input, table, 0, 1);
  }
  const HuffmanLookahead entry = table->lookahead[peekBits(input, 8)];
  if (entry.length != 0) {
    input->bitCount -= entry.length;
    return {{}, entry.symbol};
  }
  const int32_t prefix = static_cast<int32_t>(getBits(input, 8));
  return decodeSymbolSearch(input, table, prefix, 9);
}
