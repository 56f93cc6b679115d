// Block-level Huffman decoding kernels of the sequential decoder (ITU T.81 F.2.2), portable set.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"
#include "codec/kernel_types.h"

// Clears the block, decodes the DC difference (added to *predictor, which is kept as a 16-bit
// value like the coefficient it produces) and the AC run/size codes into natural order.
// 0 (a marker met ends the block quietly) or a negative status.
int32_t huffmanDecodeBlock(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* predictor, int16_t* block);

// The same DC decoding; the AC codes are decoded and their bits consumed without being stored.
int32_t huffmanDecodeDcOnly(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                            int32_t* predictor, int16_t* block);

// huffmanDecodeBlock / huffmanDecodeDcOnly for every block of an MCU, each block dequantised as
// the plan says (kernel_types.h).
int32_t huffmanDecodeMcu(ByteInput* input, const McuEntropyPlan* plan, int16_t* blocks);

// T.81 F.2.2.1: s bits v of category s (1..15) stand for v, or v - 2^s + 1 when the top bit is 0.
inline int32_t extendValue(uint32_t bits, int32_t category) {
  const int32_t value = static_cast<int32_t>(bits);
  return value < (1 << (category - 1)) ? value - (1 << category) + 1 : value;
}
