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

// The bit accumulator held in locals for one block and written back when the block ends. It
// fills at the same moments and by the same bytes as the shared reader (byte_input.h), so the
// stream position, the accumulator and the pending marker after each block are unchanged; only
// eight plain data bytes are taken at once when they are all in the buffer.
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
  void load() {
    bits_ = input_->bits;
    count_ = input_->bitCount;
  }

  // fillBitsSlow: whole bytes until more than 56 bits are held. Kept out of line so that the
  // decoding loop keeps its values in registers.
  [[gnu::noinline]] int32_t refill(int32_t needed) {
    if (count_ <= 56 && input_->pendingMarker == 0 && input_->available >= 8) {
      const uint64_t word = loadBigEndian(input_->current);
      if (!holdsFfByte(word)) {
        const int32_t bytes = (64 - count_) >> 3;
        bits_ = bytes == 8 ? word : (bits_ << (8 * bytes)) | (word >> (64 - 8 * bytes));
        count_ += 8 * bytes;
        input_->current += bytes;
        input_->available -= static_cast<uint32_t>(bytes);
        input_->consumed += static_cast<uint32_t>(bytes);
        return 0;
      }
    }
    store();
    const int32_t filled = fillBitsSlow(input_, needed);
    load();
    return filled;
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
    store();
    const int32_t symbol = decodeSymbol(input_, table);
    load();
    return symbol;
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

// DC: returns Continue with the new predictor stored in block[0].
Step decodeDc(BlockBits& bits, const HuffmanTable* dcTable, int32_t* predictor, int16_t* block,
              int32_t* status) {
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
    // Wraps like the 16-bit coefficient instead of overflowing on corrupt streams.
    *predictor = static_cast<int16_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
  }
  block[0] = static_cast<int16_t>(*predictor);
  return Step::Continue;
}

// Both block kernels: kStoreAc false consumes the AC codes and their bits without storing them.
template <bool kStoreAc>
int32_t decodeBlock(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                    int32_t* predictor, int16_t* block) {
  for (int32_t i = 0; i < 64; ++i) block[i] = 0;
  BlockBits bits(input);
  int32_t status = 0;
  if (decodeDc(bits, dcTable, predictor, block, &status) != Step::Continue) return status;

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
    int32_t value = 0;
    const Step taken = takeValue<kStoreAc>(bits, category, &value);
    if (taken == Step::EndBlock) return 0;
    if (taken == Step::Fail) return value;
    if constexpr (kStoreAc) block[kNaturalOrder[k + run]] = static_cast<int16_t>(value);
    k += run + 1;
  }
  return 0;
}

}  // namespace

int32_t huffmanDecodeBlock(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                           int32_t* predictor, int16_t* block) {
  return decodeBlock<true>(input, dcTable, acTable, predictor, block);
}

int32_t huffmanDecodeDcOnly(ByteInput* input, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                            int32_t* predictor, int16_t* block) {
  return decodeBlock<false>(input, dcTable, acTable, predictor, block);
}
