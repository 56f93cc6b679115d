// Default tables of the encoder (ITU T.81 Annex K), quality scaling and the preparation of
// quantisation tables for the two transform families.
#pragma once

#include <array>
#include <cstdint>

#include "codec/jpeg.h"
#include "codec/kernels/quantize.h"

namespace encoder_tables_detail {
constexpr std::array<uint8_t, 64> toZigzag(const std::array<uint8_t, 64>& natural) {
  std::array<uint8_t, 64> zigzag{};
  for (int k = 0; k < 64; ++k) zigzag[k] = natural[kEncodeZigzagToNatural[k]];
  return zigzag;
}
}  // namespace encoder_tables_detail

// K.1 and K.2, stored in zig-zag order.
inline constexpr std::array<uint8_t, 64> kLuminanceQuantTable = encoder_tables_detail::toZigzag(
    {16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
     69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
     81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99});
inline constexpr std::array<uint8_t, 64> kChrominanceQuantTable = encoder_tables_detail::toZigzag(
    {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
     99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99});

// K.3 to K.6: code counts for lengths 1..16 and the symbols in the standard's order.
inline constexpr std::array<uint8_t, 16> kDcLuminanceCounts = {0, 1, 5, 1, 1, 1, 1, 1,
                                                               1, 0, 0, 0, 0, 0, 0, 0};
inline constexpr std::array<uint8_t, 12> kDcLuminanceSymbols = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline constexpr std::array<uint8_t, 16> kDcChrominanceCounts = {0, 3, 1, 1, 1, 1, 1, 1,
                                                                 1, 1, 1, 0, 0, 0, 0, 0};
inline constexpr std::array<uint8_t, 12> kDcChrominanceSymbols = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline constexpr std::array<uint8_t, 16> kAcLuminanceCounts = {0, 2, 1, 3, 3, 2, 4, 3,
                                                               5, 5, 4, 4, 0, 0, 1, 0x7d};
inline constexpr std::array<uint8_t, 162> kAcLuminanceSymbols = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
    0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
    0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
inline constexpr std::array<uint8_t, 16> kAcChrominanceCounts = {0, 2, 1, 2, 4, 4, 3, 4,
                                                                 7, 5, 4, 4, 0, 1, 2, 0x77};
inline constexpr std::array<uint8_t, 162> kAcChrominanceSymbols = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13,
    0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62,
    0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29,
    0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54,
    0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
    0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3,
    0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
    0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// AAN output scale per zig-zag position, close to 4096 / (s(u) * s(v)) with s(0) = 1 and
// s(k) = sqrt(2) * cos(k * pi / 16). Largest 53810, so a step of 1 would overflow 16 bits.
inline constexpr std::array<int32_t, 64> aanScale = {
    4096, 2953,  2953,  3134,  2129,  3134,  3483,  2260,  2260,  3483,  4096,  2511, 2399,
    2511, 4096,  5213,  2953,  2666,  2666,  2953,  5213,  7568,  3758,  3134,  2962, 3134,
    3758, 7568,  14846, 5456,  3990,  3483,  3483,  3990,  5456,  14846, 10703, 5792, 4433,
    4096, 4433,  5792,  10703, 11362, 6436,  5213,  5213,  6436,  11362, 12625, 7568, 6635,
    7568, 12625, 14846, 9632,  9632,  14846, 18895, 13984, 18895, 27432, 27432, 53810};

// The caller supplies quantisation tables: the flag is set and a descriptor holds a table.
bool quantTablesSupplied(const JPEG_PROPERTIES* state);

// Installs the Annex K tables and the default selectors where the caller supplied none.
// Always returns Ok.
JpegStatus setupEncoderTables(JPEG_PROPERTIES* state);

// Checks the table descriptors a write is about to use: at most four quantisation tables
// (InvalidProperties), each present when table segments are written, with identifiers 0..3
// and steps of at least 1 (BadQuantTable); at most four Huffman pairs (InvalidProperties),
// each descriptor present, of the class its position in the pair gives, with an identifier
// 0..3 and at most 258 codes (BadHuffmanTable).
JpegStatus checkEncoderTables(const JPEG_PROPERTIES* state, bool writesTableSegments);

// T[i] = clamp((B[i] * scale + 50) / 100, 1, 255) with the scale of `quality` (taken as
// 1..100), keeping the order of B.
void scaleQuantTable(int32_t quality, const uint8_t* base, int16_t* table);

// Replaces 64 zig-zag steps by the variant-0 multipliers (AAN scale folded in), natural order.
void prepareQuantTable(int16_t* table);

// Prepares a scaled table for the transform family; InvalidProperties for an unknown variant.
JpegStatus prepareForVariant(int32_t dctVariant, int16_t* table);
