#include "codec/decode/huffman_decode_block.h"

#include <cstring>

#include "codec/decode/block_bits.h"
#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"

namespace {

// A DC category above 15 cannot come from 8-bit data.
constexpr int32_t kMaxCategory = 15;

// Outcome of one step: keep going, end the block quietly (marker), or fail.
enum class Step { Continue, EndBlock, Fail };

// extendValue without a branch on the top bit, which data makes unpredictable: below half the
// range the value is raw + 1 - 2^s.
int32_t extendWithoutBranch(uint32_t raw, int32_t category) {
  const int32_t value = static_cast<int32_t>(raw);
  const int32_t below = (value - (1 << (category - 1))) >> 31;  // -1 when below half, else 0
  return value + (below & (1 - (1 << category)));
}

// A read's outcome as a step; a failure's status goes to *status.
[[gnu::always_inline]] inline Step stepOf(const BlockBits& bits, BitsRead read, int32_t* status) {
  if (read == BitsRead::Ready) return Step::Continue;
  if (read == BitsRead::AtMarker) return Step::EndBlock;
  *status = bits.error();
  return Step::Fail;
}

[[gnu::always_inline]] inline Step takeSymbol(BlockBits& bits, const HuffmanTable* table,
                                              int32_t* symbolOrStatus) {
  return stepOf(bits, bits.symbol(table, symbolOrStatus), symbolOrStatus);
}

// The `category` bits after a symbol; with kExtend, their extended value.
template <bool kExtend>
[[gnu::always_inline]] inline Step takeValue(BlockBits& bits, int32_t category, int32_t* valueOrStatus) {
  const Step step = stepOf(bits, bits.fill(category), valueOrStatus);
  if (step != Step::Continue) return step;
  const uint32_t raw = bits.take(category);
  if constexpr (kExtend) *valueOrStatus = extendWithoutBranch(raw, category);
  return Step::Continue;
}

// Eight 16-byte stores: a plain loop or memset of the block became `rep stos`, slow to start
// for 128 bytes, a third of a sparse block's time.
void clearBlock(int16_t* block) {
  using Lanes = int16_t __attribute__((vector_size(16)));
  const Lanes zeros{};
  for (int32_t i = 0; i < 64; i += 8) std::memcpy(block + i, &zeros, sizeof zeros);
}

// Wraps like the 16-bit coefficient instead of overflowing on corrupt streams.
int32_t addToPredictor(int32_t predictor, int32_t difference) {
  return static_cast<int16_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(difference));
}

// DC: returns Continue with the new predictor in *predictor.
[[gnu::always_inline]] inline Step decodeDc(BlockBits& bits, const HuffmanTable* dcTable, int32_t* predictor,
                                            int32_t* status) {
  // A DC code and its bits within the lookahead; the run nibble is zero for categories 0..15
  // (a larger DC symbol takes the checked path below).
  if (bits.holdsCode()) {
    const uint32_t entry = bits.peekEntry(dcTable);
    if (entry != 0 && entryRun(entry) == 0) {
      bits.skip(entry);
      *predictor = addToPredictor(*predictor, entryValue(entry));
      return Step::Continue;
    }
  }
  int32_t category = 0;
  Step step = takeSymbol(bits, dcTable, &category);
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
    step = takeValue<true>(bits, category, &difference);
    if (step != Step::Continue) {
      *status = step == Step::Fail ? difference : 0;
      return step;
    }
    *predictor = addToPredictor(*predictor, difference);
  }
  return Step::Continue;
}

// How a decoded coefficient is stored: as it is, or dequantised as dequantize0 or dequantize1
// would do it afterwards (zeros stay zero under both, so only the values written need it).
enum class Dequant { None, Variant0, Variant1 };

template <Dequant kDequant>
int16_t storedValue(int32_t value, const int16_t* table, int32_t index) {
  if constexpr (kDequant == Dequant::None) {
    return static_cast<int16_t>(value);
  } else {
    const int32_t product = value * int32_t{static_cast<uint16_t>(table[index])};
    if constexpr (kDequant == Dequant::Variant0) return static_cast<int16_t>((product + 64) >> 7);
    return static_cast<int16_t>(product);
  }
}

// The AC codes of one block and their bits, consumed without their values, which is all a block
// needing only its DC coefficient asks for.
int32_t skipAc(BlockBits& bits, const HuffmanTable* acTable) {
  for (int32_t k = 1; k < 64;) {
    // Codes and their bits within the lookahead go one step each.
    bool ended = false;
    bits.takeEntries(acTable, [&](uint32_t entry) {
      ended = (entry & kEntryEndsBlock) != 0;
      k += entryRun(entry) + 1;
      return !ended && k < 64;
    });
    if (ended || k >= 64) return 0;
    int32_t symbol = 0;
    const Step step = takeSymbol(bits, acTable, &symbol);
    if (step == Step::EndBlock) return 0;
    if (step == Step::Fail) return symbol;
    const int32_t run = symbol >> 4;
    const int32_t category = symbol & 15;
    if (category == 0) {
      if (run != 15) return 0;  // end of block
      k += 16;
      continue;
    }
    int32_t status = 0;
    const Step taken = takeValue<false>(bits, category, &status);
    if (taken == Step::EndBlock) return 0;
    if (taken == Step::Fail) return status;
    k += run + 1;
  }
  return 0;
}

// The AC codes of one block with their values stored (dequantised as kDequant says).
template <Dequant kDequant>
int32_t decodeAc(BlockBits& bits, const HuffmanTable* acTable, int16_t* block, const int16_t* table) {
  for (int32_t k = 1; k < 64;) {
    bool ended = false;
    bits.takeEntries(acTable, [&](uint32_t entry) {
      if ((entry & kEntryEndsBlock) != 0) {
        ended = true;
        return false;
      }
      // A run of sixteen zeros stores its value 0 at the sixteenth: a place after every one
      // written so far, still zero.
      k += entryRun(entry);
      const int32_t index = kNaturalOrder[k];
      block[index] = storedValue<kDequant>(entryValue(entry), table, index);
      ++k;
      return k < 64;
    });
    if (ended || k >= 64) return 0;
    int32_t symbol = 0;
    const Step step = takeSymbol(bits, acTable, &symbol);
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
    const Step taken = takeValue<true>(bits, category, &value);
    if (taken == Step::EndBlock) return 0;
    if (taken == Step::Fail) return value;
    const int32_t index = kNaturalOrder[k + run];
    block[index] = storedValue<kDequant>(value, table, index);
    k += run + 1;
  }
  return 0;
}

// One block from the reader state in `bits`: kStoreAc false consumes the AC codes and their bits
// without storing them.
template <bool kStoreAc, Dequant kDequant>
int32_t decodeInto(BlockBits& bits, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                   int32_t* predictor, int16_t* block, const int16_t* table) {
  clearBlock(block);
  int32_t status = 0;
  // A marker inside the DC code or its bits leaves the whole block zero.
  if (decodeDc(bits, dcTable, predictor, &status) != Step::Continue) return status;
  block[0] = storedValue<kDequant>(*predictor, table, 0);
  if constexpr (kStoreAc) {
    return decodeAc<kDequant>(bits, acTable, block, table);
  } else {
    return skipAc(bits, acTable);
  }
}

// The reader state stays in registers from the first block of the MCU to the last.
template <Dequant kDequant>
int32_t decodeMcu(ByteInput* input, const McuEntropyPlan& plan, int16_t* block) {
  BlockBits bits(input);
  for (int32_t c = 0; c < plan.componentCount; ++c) {
    const McuEntropyComponent& component = plan.components[c];
    for (int32_t b = 0; b < component.blockCount; ++b, block += 64) {
      const int32_t status =
          component.dcOnly != 0
              ? decodeInto<false, kDequant>(bits, component.dcTable, component.acTable, component.predictor,
                                            block, component.dequantTable)
              : decodeInto<true, kDequant>(bits, component.dcTable, component.acTable, component.predictor,
                                           block, component.dequantTable);
      if (status < 0) return status;
    }
  }
  return 0;
}

}  // namespace

int32_t huffmanDecodeBlock(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* predictor, int16_t* block) {
  BlockBits bits(input);
  return decodeInto<true, Dequant::None>(bits, dcTable, acTable, predictor, block, nullptr);
}

int32_t huffmanDecodeDcOnly(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                            int32_t* predictor, int16_t* block) {
  BlockBits bits(input);
  return decodeInto<false, Dequant::None>(bits, dcTable, acTable, predictor, block, nullptr);
}

int32_t huffmanDecodeMcu(ByteInput* input, const McuEntropyPlan* plan, int16_t* blocks) {
  return plan->dequantVariant == 1 ? decodeMcu<Dequant::Variant1>(input, *plan, blocks)
                                   : decodeMcu<Dequant::Variant0>(input, *plan, blocks);
}
