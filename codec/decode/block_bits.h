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

// What a read from the accumulator came to. A marker ahead of the bits asked for is no error:
// the block ends quietly and the scan loop takes the marker.
enum class BitsRead : uint8_t {
  Ready,     // the bits or the symbol are there
  AtMarker,  // a marker stopped the input first
  Failed,    // BlockBits::error() holds the negative status
};

// The accumulator and the shared reader's int result, passed by value in and out of the
// out-of-line paths so that the decoding loops keep them in registers.
struct Refilled {
  uint64_t bits;
  int32_t count;
  int32_t status;
};

// fillBitsSlow from (bits, count), eight plain bytes at once when they are all in the buffer.
Refilled refillBits(ByteInput* input, uint64_t bits, int32_t count, int32_t needed);

// decodeSymbol from (bits, count): used when a marker holds back the rest of the data.
Refilled symbolBitByBit(ByteInput* input, uint64_t bits, int32_t count, const HuffmanTable* table);

class BlockBits {
 public:
  explicit BlockBits(ByteInput* input) : input_(input), bits_(input->bits), count_(input->bitCount) {}
  ~BlockBits() { store(); }
  BlockBits(const BlockBits&) = delete;
  BlockBits& operator=(const BlockBits&) = delete;

  // fillBits: at least `needed` (0..24) bits held, unless a marker or a failure came first.
  BitsRead fill(int32_t needed) { return count_ >= needed ? BitsRead::Ready : outcomeOf(refill(needed)); }

  // decodeSymbol: the symbol 0..255 in *symbol when Ready.
  BitsRead symbol(const HuffmanTable* table, int32_t* symbol) {
    if (count_ < 16) {
      const int32_t filled = refill(0);
      if (filled < 0) return failed(filled);
      if (count_ < 16) return symbolNearMarker(table, symbol);
    }
    const HuffmanLookahead entry = table->lookahead[peek(8)];
    if (entry.length != 0) {
      count_ -= entry.length;
      *symbol = entry.symbol;
      return BitsRead::Ready;
    }
    *symbol = longSymbol(table);
    return BitsRead::Ready;
  }

  // With 16 bits held, a code and its extra bits within the first 10: the packed entry of
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

  // The next n bits; requires n bits held (fill).
  uint32_t take(int32_t n) {
    const uint32_t value = peek(n);
    count_ -= n;
    return value;
  }

  // One bit; requires a bit held.
  uint32_t takeBit() {
    --count_;
    return static_cast<uint32_t>(bits_ >> count_) & 1u;
  }

  int32_t held() const { return count_; }

  // The status of the last Failed read.
  int32_t error() const { return error_; }

 private:
  uint32_t peek(int32_t n) const { return static_cast<uint32_t>(bits_ >> (count_ - n)) & ((1u << n) - 1u); }

  void store() {
    input_->bits = bits_;
    input_->bitCount = count_;
  }

  BitsRead failed(int32_t status) {
    error_ = status;
    return BitsRead::Failed;
  }

  BitsRead outcomeOf(int32_t status) {
    if (status == kStoppedAtMarker) return BitsRead::AtMarker;
    return status < 0 ? failed(status) : BitsRead::Ready;
  }

  // fillBitsSlow: whole bytes until more than 56 bits are held; its int result.
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

  BitsRead symbolNearMarker(const HuffmanTable* table, int32_t* symbol) {
    const Refilled decoded = symbolBitByBit(input_, bits_, count_, table);
    bits_ = decoded.bits;
    count_ = decoded.count;
    if (decoded.status == kSymbolAtMarker) return BitsRead::AtMarker;
    if (decoded.status < 0) return failed(decoded.status);
    *symbol = decoded.status;
    return BitsRead::Ready;
  }

  ByteInput* input_;
  uint64_t bits_;
  int32_t count_;
  int32_t error_ = 0;
};
