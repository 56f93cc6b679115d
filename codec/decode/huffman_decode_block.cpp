#include "codec/decode/huffman_decode_block.h"

#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"

namespace {

// A DC category above 15 cannot come from 8-bit data.
constexpr int32_t kMaxCategory = 15;

// Outcome of one step: keep going, end the block quietly (marker), or fail.
enum class Step { Continue, EndBlock, Fail };

Step takeSymbol(ByteInput* input, const HuffmanTable* table, int32_t* symbolOrStatus) {
  const int32_t symbol = decodeSymbol(input, table);
  if (symbol == kSymbolAtMarker) return Step::EndBlock;
  *symbolOrStatus = symbol;
  return symbol < 0 ? Step::Fail : Step::Continue;
}

Step takeExtended(ByteInput* input, int32_t category, int32_t* valueOrStatus) {
  const int32_t filled = fillBits(input, category);
  if (filled == kStoppedAtMarker) return Step::EndBlock;
  if (filled < 0) {
    *valueOrStatus = filled;
    return Step::Fail;
  }
  *valueOrStatus = extendValue(getBits(input, category), category);
  return Step::Continue;
}

// DC: returns Continue with the new predictor stored in block[0].
Step decodeDc(ByteInput* input, const HuffmanTable* dcTable, int32_t* predictor, int16_t* block,
              int32_t* status) {
  int32_t category = 0;
  Step step = takeSymbol(input, dcTable, &category);
  if (step != Step::Continue) {
    *status = step == Step::Fail ? category : 0;
    return step;
  }
  if (category > kMaxCategory) {
    *status = static_cast<int32_t>(JpegStatus::DataError);
    return Step::Fail;
  }
  if (category > 0) {
    int32_t difference = 0;
    step = takeExtended(input, category, &difference);
    if (step != Step::Continue) {
      *status = step == Step::Fail ? difference : 0;
      return step;
    }
    // Wraps like the 16-bit coefficient instead of overflowing on corrupt streams.
    *predictor = static_cast<int16_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
  }
  block[0] = static_cast<int16_t>(*predictor);
  return Step::Continue;
}

}  // namespace

int32_t huffmanDecodeBlock(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* predictor, int16_t* block) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  int32_t status = 0;
  if (decodeDc(input, dcTable, predictor, block, &status) != Step::Continue) return status;

  for (int32_t k = 1; k < 64;) {
    int32_t symbol = 0;
    const Step step = takeSymbol(input, acTable, &symbol);
    if (step == Step::EndBlock) return 0;
    if (step == Step::Fail) return symbol;
    const int32_t run = symbol >> 4;
    const int32_t category = symbol & 15;
    if (category == 0) {
      if (run != 15) return 0;  // end of block
      k += 16;
      continue;
    }
    int32_t value = 0;
    const Step bits = takeExtended(input, category, &value);
    if (bits == Step::EndBlock) return 0;
    if (bits == Step::Fail) return value;
    block[kNaturalOrder[k + run]] = static_cast<int16_t>(value);
    k += run + 1;
  }
  return 0;
}

int32_t huffmanDecodeDcOnly(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                            int32_t* predictor, int16_t* block) {
  std::memset(block, 0, 64 * sizeof(int16_t));
  int32_t status = 0;
  if (decodeDc(input, dcTable, predictor, block, &status) != Step::Continue) return status;

  for (int32_t k = 1; k < 64;) {
    int32_t symbol = 0;
    const Step step = takeSymbol(input, acTable, &symbol);
    if (step == Step::EndBlock) return 0;
    if (step == Step::Fail) return symbol;
    const int32_t run = symbol >> 4;
    const int32_t category = symbol & 15;
    if (category == 0) {
      if (run != 15) return 0;
      k += 16;
      continue;
    }
    const int32_t filled = fillBits(input, category);
    if (filled == kStoppedAtMarker) return 0;
    if (filled < 0) return filled;
    input->bitCount -= category;
    k += run + 1;
  }
  return 0;
}
