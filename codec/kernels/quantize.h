// Quantisation kernels of the encoder, portable set, and the variant-1 reciprocal tables.
#pragma once

#include <cstdint>

// Zig-zag position k -> natural (row-major) index, ITU T.81 figure A.6.
inline constexpr uint8_t kEncodeZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// c[i] = (c[i] * r[i] + 2^14) >> 15 in place, r read as signed 16-bit (variant 0, whose
// reciprocals carry the AAN output scale and stay below 2^15).
void quantize0(int16_t* block, const int16_t* reciprocals);

// The same with r read as unsigned 16-bit (variant 1; a step of 1 gives 32768).
void quantize1(int16_t* block, const int16_t* reciprocals);

// Replaces 64 zig-zag steps (each 1..255) by the variant-1 reciprocals 32768 / q in natural
// order, in the same storage (stored as 16-bit patterns that quantize1 reads unsigned).
// Steps of 0 must be rejected before this is called; one that slips through acts as 1.
void prepareQuantReciprocals(int16_t* table);
