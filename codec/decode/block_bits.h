// The bit accumulator held in locals while one block (or a run of blocks) is decoded, written back
// to the ByteInput when it goes out of scope. It fills at the same moments and by the same bytes
// as the shared reader (byte_input.h: fillBits, decodeSymbol), so the stream position, the
// accumulator and the pending marker after each block are unchanged; only eight plain data bytes
// are taken at once when they are all in the buffer.
#pragma once

#include <cstdint>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"
#include "codec/jpeg.h"

// The accumulator and the shared reader's outcome, passed by value in and out of the
// out-of-line paths so that the decoding loops keep them in registers.
struct Refilled {
  uint64_t bits;
  int32_t count;
  BitsOutcome outcome;
};

struct DecodedNearMarker {
  uint64_t bits;
  int32_t count;
  SymbolRead read;
};

// True when one of the eight bytes is 0xFF (stuffing or a marker): those take the careful filler.
inline bool holdsFfByte(uint64_t word) {
  const uint64_t inverted = ~word;
  return ((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) != 0;
}

inline uint64_t loadBigEndian(const uint8_t* bytes) {
  uint64_t word = 0;
  for (int32_t i = 0; i < 8; ++i) word = (word << 8) | bytes[i];
  return word;
}

// fillBitsSlow from (bits, count), eight plain bytes at once when they are all in the buffer.
Refilled refillBits(ByteInput* input, uint64_t bits, int32_t count, int32_t needed);

// decodeSymbol from (bits, count): used when a marker holds back the rest of the data.
DecodedNearMarker symbolBitByBit(ByteInput* input, uint64_t bits, int32_t count, const HuffmanTable* table);

// The accumulator twice over: `bits_` and `count_` exactly as the shared reader keeps them (bits_
// changes only when bytes come in), and `window_`, the count_ bits not yet taken moved to the top
// with zeros below, so that a peek is a fixed shift and a take one shift by the code length.
class BlockBits {
 public:
  explicit BlockBits(ByteInput* input) : input_(input), bits_(input->bits), count_(input->bitCount) {
    alignWindow();
  }
  ~BlockBits() { store(); }
  BlockBits(const BlockBits&) = delete;
  BlockBits& operator=(const BlockBits&) = delete;

  // fillBits: at least `needed` (0..24) bits held, unless a marker or a failure came first.
  BitsRead fill(int32_t needed) { return count_ >= needed ? BitsRead::Ready : outcomeOf(refill(needed)); }

  // decodeSymbol: the symbol 0..255 in *symbol when Ready.
  BitsRead symbol(const HuffmanTable* table, int32_t* symbol) {
    if (count_ < 16) {
      const BitsOutcome filled = refill(0);  // never AtMarker: nothing is needed
      if (filled.read == BitsRead::Failed) return failed(filled.error);
      if (count_ < 16) return symbolNearMarker(table, symbol);
    }
    const HuffmanLookahead entry = table->lookahead[window_ >> 56];
    if (entry.length != 0) {
      drop(entry.length);
      *symbol = entry.symbol;
      return BitsRead::Ready;
    }
    *symbol = longSymbol(table);
    return BitsRead::Ready;
  }

  // True with 16 bits held, taking plain bytes when fewer are: the moment and the bytes of the
  // refill in symbol(). False leaves the careful refill near 0xFF bytes to symbol().
  bool holdsCode() { return count_ >= 16 || refillPlain(); }

  // With holdsCode(): the valueLookahead entry of the next bits, nothing taken yet.
  uint32_t peekEntry(const HuffmanTable* table) const {
    return table->valueLookahead[window_ >> (64 - kValueLookaheadBits)];
  }

  // Takes codes with their extra bits while the next bits start with a valueLookahead entry,
  // refilling as holdsCode() does, and hands each entry to onEntry once its bits are taken, until
  // onEntry returns false. Stops before a code without an entry, or short of 16 bits near 0xFF
  // bytes. The window and count stay in registers meanwhile, which the members would not.
  template <typename OnEntry>
  [[gnu::always_inline]] void takeEntries(const HuffmanTable* table, OnEntry&& onEntry) {
    uint64_t bits = bits_;
    uint64_t window = window_;
    int32_t count = count_;
    for (;;) {
      if (count < 16 && !refillPlain(input_, &bits, &window, &count)) break;
      const uint32_t entry = table->valueLookahead[window >> (64 - kValueLookaheadBits)];
      if (entry == 0) break;
      window <<= entry & 63;  // entryBits(), the mask the shift applies anyway
      count -= entryBits(entry);
      if (!onEntry(entry)) break;
    }
    bits_ = bits;
    window_ = window;
    count_ = count;
  }

  // Takes the code and extra bits of a nonzero peekEntry().
  void skip(uint32_t entry) {
    window_ <<= entry & 63;  // entryBits(), the mask the shift applies anyway
    count_ -= entryBits(entry);
  }

  // With 16 bits held, a code of nonzero size and its extra bits within the first 10: the entry of
  // valueLookahead, taken (0 when the prefix holds no such pair, or fewer bits are held). Taking
  // both at once is what symbol() and take() give, as neither would refill with 16 bits held.
  uint32_t valueEntry(const HuffmanTable* table) {
    if (count_ < 16) return 0;
    const uint32_t entry = peekEntry(table);
    if ((entry & kEntrySizeZero) != 0) return 0;
    skip(entry);
    return entry;
  }

  // Undoes valueEntry's take of n bits.
  void giveBack(int32_t n) {
    count_ += n;
    alignWindow();
  }

  // The next n (0..24) bits; requires n bits held (fill).
  uint32_t take(int32_t n) {
    const auto value = static_cast<uint32_t>((window_ >> 32) >> (32 - n));
    drop(n);
    return value;
  }

  // One bit; requires a bit held.
  uint32_t takeBit() {
    const auto bit = static_cast<uint32_t>(window_ >> 63);
    drop(1);
    return bit;
  }

  int32_t held() const { return count_; }

  // The status of the last Failed read.
  int32_t error() const { return error_; }

 private:
  // n 0..63 bits taken.
  void drop(int32_t n) {
    window_ <<= n;
    count_ -= n;
  }

  void alignWindow() { window_ = count_ == 0 ? 0 : bits_ << (64 - count_); }

  void store() {
    input_->bits = bits_;
    input_->bitCount = count_;
  }

  BitsRead failed(JpegStatus status) {
    error_ = static_cast<int32_t>(status);
    return BitsRead::Failed;
  }

  BitsRead outcomeOf(BitsOutcome outcome) {
    return outcome.read == BitsRead::Failed ? failed(outcome.error) : outcome.read;
  }

  // fillBitsSlow: whole bytes until more than 56 bits are held.
  BitsOutcome refill(int32_t needed) {
    const Refilled refilled = refillBits(input_, bits_, count_, needed);
    bits_ = refilled.bits;
    count_ = refilled.count;
    alignWindow();
    return refilled.outcome;
  }

  bool refillPlain() { return refillPlain(input_, &bits_, &window_, &count_); }

  // fillBitsSlow's fill from fewer than 16 bits when the next eight bytes are plain data with no
  // marker pending: the whole bytes that bring the count above 56.
  [[gnu::always_inline]] static bool refillPlain(ByteInput* input, uint64_t* bits, uint64_t* window,
                                                 int32_t* count) {
    if (input->pendingMarker != 0 || input->available < 8) return false;
    const uint64_t word = loadBigEndian(input->current);
    if (holdsFfByte(word)) return false;
    const int32_t bytes = (64 - *count) >> 3;  // 6..8
    *bits = (*bits << 1 << (8 * bytes - 1)) | (word >> (64 - 8 * bytes));
    *count += 8 * bytes;
    *window = *bits << (64 - *count);
    input->current += bytes;
    input->available -= static_cast<uint32_t>(bytes);
    input->consumed += static_cast<uint32_t>(bytes);
    return true;
  }

  // Codes of 9..16 bits with all 16 bits held: the canonical search of decodeSymbolSearch.
  int32_t longSymbol(const HuffmanTable* table) {
    const auto code16 = static_cast<int32_t>(window_ >> 48);
    for (int32_t length = 9; length <= 16; ++length) {
      const int32_t code = code16 >> (16 - length);
      if (code <= table->maxCode[length]) {
        drop(length);
        return table->values[(table->valuePtr[length] + code - table->minCode[length]) & 0xFF];
      }
    }
    drop(16);
    return 0;  // matches no length: symbol 0
  }

  BitsRead symbolNearMarker(const HuffmanTable* table, int32_t* symbol) {
    const DecodedNearMarker decoded = symbolBitByBit(input_, bits_, count_, table);
    bits_ = decoded.bits;
    count_ = decoded.count;
    alignWindow();
    const BitsOutcome outcome = decoded.read.outcome;
    if (outcome.read == BitsRead::Ready) *symbol = decoded.read.symbol;
    return outcomeOf(outcome);
  }

  ByteInput* input_;
  uint64_t bits_;
  int32_t count_;
  uint64_t window_ = 0;
  int32_t error_ = 0;
};
