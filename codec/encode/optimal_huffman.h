// Huffman tables built for the symbol statistics of one scan (ITU T.81 Annex K.2).
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

// Symbols 0..255 and the reserved symbol 256, which keeps every real code from being all
// 1-bits.
inline constexpr int32_t kFrequencySymbols = 257;

// Builds the DHT form (16 code counts, symbols in code order) of an optimal table with code
// lengths of at most 16 from `frequencies` (kFrequencySymbols counts; entry 256 is ignored and
// the reserved symbol counted once). Symbols with frequency 0 get no code; with none at all
// the table is empty. Trees of any depth are limited to 16 bits, so no distribution is
// refused. Returns the number of symbols written to `symbols` (at most 256).
int32_t buildOptimalTable(const uint32_t* frequencies, uint8_t* counts, uint8_t* symbols);
