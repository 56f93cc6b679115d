// The progressive block procedures as the shared bit reader defines them, one call per symbol
// and per bit (the form they had before they kept the accumulator in locals). The decoder's
// procedures must leave the same block, predictor, end-of-band run, status and reader state
// after every block.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"

namespace progressive_reference {

// The reader's outcome in this reference's terms: 0 (Ready), kAtMarker, or a negative status.
inline constexpr int32_t kAtMarker = 1;

inline int32_t statusOf(BitsOutcome outcome) {
  if (outcome.read == BitsRead::AtMarker) return kAtMarker;
  return outcome.read == BitsRead::Failed ? static_cast<int32_t>(outcome.error) : 0;
}

inline int32_t takeBits(ByteInput* input, int32_t count, uint32_t* bits) {
  const int32_t filled = statusOf(fillBits(input, count));
  if (filled != 0) return filled;
  *bits = getBits(input, count);
  return 0;
}

inline int32_t quietAtMarker(int32_t status) {
  return status == kAtMarker ? 0 : status;
}

// 1: the symbol is in *symbol; 0: the block ends quietly; negative: a status.
inline int32_t symbolOrEnd(ByteInput* input, const HuffmanTable* table, int32_t* symbol) {
  const SymbolRead read = decodeSymbol(input, table);
  if (!read.outcome.ready()) return quietAtMarker(statusOf(read.outcome));
  *symbol = read.symbol;
  return 1;
}

inline int32_t readEndOfBandRun(ByteInput* input, int32_t run, int32_t* blocks) {
  uint32_t extra = 0;
  if (run > 0) {
    const int32_t status = takeBits(input, run, &extra);
    if (status < 0) return status;
    if (status == kAtMarker) extra = 0;
  }
  *blocks = (1 << run) + static_cast<int32_t>(extra);
  return 0;
}

inline int32_t correctCoefficient(ByteInput* input, int16_t* coefficient, int32_t plus) {
  uint32_t bit = 0;
  const int32_t status = takeBits(input, 1, &bit);
  if (status != 0) return status;
  if (bit != 0 && (*coefficient & plus) == 0) {
    const int32_t value = *coefficient;
    *coefficient = static_cast<int16_t>(value >= 0 ? value + plus : value - plus);
  }
  return 0;
}

inline int32_t passOverCoefficients(ByteInput* input, int16_t* block, int32_t* position, int32_t se,
                                    int32_t zeros, int32_t plus) {
  int32_t k = *position;
  for (; k <= se; ++k) {
    int16_t* coefficient = block + kNaturalOrder[k];
    if (*coefficient != 0) {
      const int32_t status = correctCoefficient(input, coefficient, plus);
      if (status != 0) {
        *position = k;
        return status;
      }
    } else if (--zeros < 0) {
      break;
    }
  }
  *position = k;
  return 0;
}

inline int32_t correctRestOfBand(ByteInput* input, int16_t* block, int32_t k, int32_t se, int32_t plus) {
  for (; k <= se; ++k) {
    int16_t* coefficient = block + kNaturalOrder[k];
    if (*coefficient == 0) continue;
    const int32_t status = correctCoefficient(input, coefficient, plus);
    if (status != 0) return status;
  }
  return 0;
}

inline int32_t decodeDcFirst(ByteInput* input, const HuffmanTable* dcTable, int32_t* predictor, int32_t al,
                             int16_t* block) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  int32_t category = 0;
  const int32_t read = symbolOrEnd(input, dcTable, &category);
  if (read <= 0) return read;
  if (category > 15) return static_cast<int32_t>(JpegStatus::DataError);
  if (category > 0) {
    uint32_t bits = 0;
    const int32_t status = takeBits(input, category, &bits);
    if (status != 0) return quietAtMarker(status);
    *predictor = static_cast<int16_t>(static_cast<uint32_t>(*predictor) +
                                      static_cast<uint32_t>(extendValue(bits, category)));
  }
  block[0] = static_cast<int16_t>(*predictor * (1 << al));
  return 0;
}

inline int32_t decodeDcRefine(ByteInput* input, int32_t al, int16_t* block) {
  uint32_t bit = 0;
  const int32_t status = takeBits(input, 1, &bit);
  if (status != 0) return quietAtMarker(status);
  if (bit != 0) block[0] = static_cast<int16_t>(block[0] | (1 << al));
  return 0;
}

inline int32_t decodeAcFirst(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se,
                             int32_t al, int16_t* block) {
  if (input->eobRun > 0) {
    --input->eobRun;
    return 0;
  }
  for (int32_t k = ss; k <= se; ++k) {
    int32_t symbol = 0;
    const int32_t read = symbolOrEnd(input, acTable, &symbol);
    if (read <= 0) return read;
    const int32_t run = symbol >> 4;
    const int32_t category = symbol & 15;
    if (category == 0) {
      if (run == 15) {
        k += 15;
        continue;
      }
      int32_t blocks = 0;
      const int32_t status = readEndOfBandRun(input, run, &blocks);
      if (status < 0) return status;
      input->eobRun = blocks - 1;
      return 0;
    }
    k += run;
    uint32_t bits = 0;
    const int32_t status = takeBits(input, category, &bits);
    if (status != 0) return quietAtMarker(status);
    if (k > se) return 0;
    block[kNaturalOrder[k]] = static_cast<int16_t>(extendValue(bits, category) * (1 << al));
  }
  return 0;
}

inline int32_t decodeAcRefine(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se,
                              int32_t al, int16_t* block) {
  const int32_t plus = 1 << al;
  int32_t k = ss;
  if (input->eobRun == 0) {
    for (; k <= se; ++k) {
      int32_t symbol = 0;
      const int32_t read = symbolOrEnd(input, acTable, &symbol);
      if (read <= 0) return read;
      const int32_t run = symbol >> 4;
      const int32_t category = symbol & 15;
      int32_t value = 0;
      if (category != 0) {
        uint32_t sign = 0;
        const int32_t status = takeBits(input, 1, &sign);
        if (status != 0) return quietAtMarker(status);
        value = sign != 0 ? plus : -plus;
      } else if (run != 15) {
        int32_t blocks = 0;
        const int32_t status = readEndOfBandRun(input, run, &blocks);
        if (status < 0) return status;
        input->eobRun = blocks;
        break;
      }
      const int32_t status = passOverCoefficients(input, block, &k, se, run, plus);
      if (status != 0) return quietAtMarker(status);
      if (value != 0 && k <= se) block[kNaturalOrder[k]] = static_cast<int16_t>(value);
    }
  }
  if (input->eobRun > 0) {
    --input->eobRun;
    return quietAtMarker(correctRestOfBand(input, block, k, se, plus));
  }
  return 0;
}

}  // namespace progressive_reference
