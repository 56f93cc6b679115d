#include "codec/decode/block_bits.h"

// Out of line: rare next to the decoding loops.
[[gnu::noinline]] Refilled refillBits(ByteInput* input, uint64_t bits, int32_t count, int32_t needed) {
  if (count <= 56 && input->pendingMarker == 0 && input->available >= 8) {
    const uint64_t word = loadBigEndian(input->current);
    if (!holdsFfByte(word)) {
      const int32_t bytes = (64 - count) >> 3;
      bits = bytes == 8 ? word : (bits << (8 * bytes)) | (word >> (64 - 8 * bytes));
      input->current += bytes;
      input->available -= static_cast<uint32_t>(bytes);
      input->consumed += static_cast<uint32_t>(bytes);
      return {bits, count + 8 * bytes, {}};
    }
  }
  input->bits = bits;
  input->bitCount = count;
  const BitsOutcome filled = fillBitsSlow(input, needed);
  return {input->bits, input->bitCount, filled};
}

[[gnu::noinline]] DecodedNearMarker symbolBitByBit(ByteInput* input, uint64_t bits, int32_t count,
                                                   const HuffmanTable* table) {
  input->bits = bits;
  input->bitCount = count;
  const SymbolRead symbol = decodeSymbol(input, table);
  return {input->bits, input->bitCount, symbol};
}
