#include "codec/decode/huffman_decode_block.h"

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"

namespace {

// A DC category above 15 cannot come from 8-bit data.
constexpr int32_t kMaxCategory = 15;

// Outcome of one step: keep going, end the block quietly (marker), or fail.
enum class Step { Continue, EndBlock, Fail };

// True when one of the eight bytes is 0xFF (stuffing or a marker): those take the careful filler.
bool holdsFfByte(uint64_t word) {
  const uint64_t inverted = ~word;
  return ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
}

uint64_t loadBigEndian(const uint8_t* bytes) {
  uint64_t word = 0;
  for (int32_t i = 0; i < 8; ++i) word = (word << 8) | bytes[i];
  return word;
}

// The accumulator and a result, passed by value in and out of the out-of-line paths.
struct Refilled {
  uint64_t bits;
  int32_t count;
  int32_t status;
};

// Eight plain data bytes at once when they are all in the buffer, else the shared reader's
// fillBitsSlow. Out of line: rare next to the decoding loop.
[[gnu::noinline]] Refilled refillBits(ByteInput* input, uint64_t bits, int32_t count, int32_t needed) {
  if (count <= 56 && input->pendingMarker == 0 && input->available >= 8) {
    const uint64_t word = loadBigEndian(input->current);
    if (!holdsFfByte(word)) {
      const int32_t bytes = (64 - count) >> 3;
      bits = bytes == 8 ? word : (bits << (8 * bytes)) | (word >> (64 - 8 * bytes));
      input->current += bytes;
      input->available -= static_cast<uint32_t>(bytes);
      input->consumed += static_cast<uint32_t>(bytes);
      return {bits, count + 8 * bytes, 0};
    }
  }
  input->bits = bits;
  input->bitCount = count;
  const int32_t filled = fillBitsSlow(input, needed);
  return {input->bits, input->bitCount, filled};
}

// A marker holds back the rest of the data: the shared reader's bit-by-bit path decides.
[[gnu::noinline]] Refilled symbolBitByBit(ByteInput* input, uint64_t bits, int32_t count,
                                          const HuffmanTable* table) {
  input->bits = bits;
  input->bitCount = count;
  const int32_t symbol = decodeSymbol(input, table);
  return {input->bits, input->bitCount, symbol};
}

// The bit accumulator held in locals for one block (or all blocks of an MCU) and written back at
// the end. It fills at the same moments and by the same bytes as the shared reader
// (byte_input.h), so the stream position, the accumulator and the pending marker after each block
// are unchanged; only eight plain data bytes are taken at once when they are all in the buffer.
class BlockBits {
 public:
  explicit BlockBits(ByteInput* input) : input_(input), bits_(input->bits), count_(input->bitCount) {}
  ~BlockBits() { store(); }
  BlockBits(const BlockBits&) = delete;
  BlockBits& operator=(const BlockBits&) = delete;

  // fillBits: 0, kStoppedAtMarker or a negative status.
  int32_t fill(int32_t needed) { return count_ >= needed ? 0 : refill(needed); }

  // decodeSymbol: symbol 0..255, kSymbolAtMarker or a negative status.
  int32_t symbol(const HuffmanTable* table) {
    if (count_ < 16) {
      const int32_t filled = refill(0);
      if (filled < 0) return filled;
      if (count_ < 16) return symbolNearMarker(table);
    }
    const HuffmanLookahead entry = table->lookahead[peek(8)];
    if (entry.length != 0) {
      count_ -= entry.length;
      return entry.symbol;
    }
    return longSymbol(table);
  }

  // With 16 bits held, an AC code and its extra bits within the first 10: the packed entry of
  // valueLookahead (0 when the prefix holds no such pair, or fewer bits are held). Taking both at
  // once is what symbol() and take() give, as neither would refill with 16 bits held.
  uint32_t valueEntry(const HuffmanTable* table) {
    if (count_ < 16) return 0;
    const uint32_t entry = table->valueLookahead[peek(kValueLookaheadBits)];
    count_ -= static_cast<int32_t>(entry & 15);
    return entry;
  }

  // Undoes valueEntry's take of n bits.
  void giveBack(int32_t n) { count_ += n; }

  uint32_t take(int32_t n) {
    const uint32_t value = peek(n);
    count_ -= n;
    return value;
  }

 private:
  uint32_t peek(int32_t n) const { return static_cast<uint32_t>(bits_ >> (count_ - n)) & ((1u << n) - 1u); }

  void store() {
    input_->bits = bits_;
    input_->bitCount = count_;
  }

  // fillBitsSlow: whole bytes until more than 56 bits are held. The state goes in and comes back
  // by value, so that the decoding loop keeps it in registers rather than in memory.
  int32_t refill(int32_t needed) {
    const Refilled refilled = refillBits(input_, bits_, count_, needed);
    bits_ = refilled.bits;
    count_ = refilled.count;
    return refilled.status;
  }

  // Codes of 9..16 bits with all 16 bits held: the canonical search of decodeSymbolSearch.
  int32_t longSymbol(const HuffmanTable* table) {
    const int32_t code16 = static_cast<int32_t>(peek(16));
    for (int32_t length = 9; length <= 16; ++length) {
      const int32_t code = code16 >> (16 - length);
      if (code <= table->maxCode[length]) {
        count_ -= length;
        return table->values[(table->valuePtr[length] + code - table->minCode[length]) & 0xFF];
      }
    }
    count_ -= 16;
    return 0;  // matches no length: symbol 0
  }

  // A marker holds back the rest of the data: the shared reader's bit-by-bit path decides.
  int32_t symbolNearMarker(const HuffmanTable* table) {
    const Refilled decoded = symbolBitByBit(input_, bits_, count_, table);
    bits_ = decoded.bits;
    count_ = decoded.count;
    return decoded.status;
  }

  ByteInput* input_;
  uint64_t bits_;
  int32_t count_;
};

// extendValue without a branch on the top bit, which data makes unpredictable: below half the
// range the value is raw + 1 - 2^s.
int32_t extendWithoutBranch(uint32_t raw, int32_t category) {
  const int32_t value = static_cast<int32_t>(raw);
  const int32_t below = (value - (1 << (category - 1))) >> 31;  // -1 when below half, else 0
  return value + (below & (1 - (1 << category)));
}

Step takeSymbol(BlockBits& bits, const HuffmanTable* table, int32_t* symbolOrStatus) {
  const int32_t symbol = bits.symbol(table);
  if (symbol == kSymbolAtMarker) return Step::EndBlock;
  *symbolOrStatus = symbol;
  return symbol < 0 ? Step::Fail : Step::Continue;
}

// The `category` bits after a symbol; with kExtend, their extended value.
template <bool kExtend>
Step takeValue(BlockBits& bits, int32_t category, int32_t* valueOrStatus) {
  const int32_t filled = bits.fill(category);
  if (filled == kStoppedAtMarker) return Step::EndBlock;
  if (filled < 0) {
    *valueOrStatus = filled;
    return Step::Fail;
  }
  const uint32_t raw = bits.take(category);
  if constexpr (kExtend) *valueOrStatus = extendWithoutBranch(raw, category);
  return Step::Continue;
}

// Wraps like the 16-bit coefficient instead of overflowing on corrupt streams.
int32_t addToPredictor(int32_t predictor, int32_t difference) {
  return static_cast<int16_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(difference));
}

// DC: returns Continue with the new predictor in *predictor.
[[gnu::always_inline]] inline Step decodeDc(BlockBits& bits, const HuffmanTable* dcTable, int32_t* predictor,
                                            int32_t* status) {
  // A DC code and its bits within the lookahead; the run nibble is zero for categories 1..15
  // (a larger DC symbol takes the checked path below).
  const uint32_t entry = bits.valueEntry(dcTable);
  if (entry != 0) {
    if (((entry >> 4) & 15) == 0) {
      *predictor = addToPredictor(*predictor, static_cast<int16_t>(entry >> 16));
      return Step::Continue;
    }
    bits.giveBack(static_cast<int32_t>(entry & 15));
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

// The AC codes of one block and their bits, consumed without their values: one lookup per code
// (the end of block included), which is all a block needing only its DC coefficient asks for.
int32_t skipAc(BlockBits& bits, const HuffmanTable* acTable) {
  for (int32_t k = 1; k < 64;) {
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
    const uint32_t entry = bits.valueEntry(acTable);
    if (entry != 0) {
      k += static_cast<int32_t>((entry >> 4) & 15);
      const int32_t index = kNaturalOrder[k];
      block[index] = storedValue<kDequant>(static_cast<int16_t>(entry >> 16), table, index);
      ++k;
      continue;
    }
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
  for (int32_t i = 0; i < 64; ++i) block[i] = 0;
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
