// The encoder's output: bits most-significant first into one pending byte, a zero byte
// stuffed after every 0xFF, 1-bit padding before markers, delivered into the caller's memory
// buffer or through the 4096-byte file buffer. Lives in the write-side members of ByteInput.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/jpeg.h"

// initOutput kernel: file modes (a file handle present) use the file buffer and ignore
// `buffer` and `size`; buffer modes write into [buffer, buffer + size).
void initOutput(ByteInput* writer, uint8_t* buffer, uint32_t size);

// Appends the low `count` bits of `value` (count <= 16). Buffer modes fail with
// OutputBufferTooSmall when a byte or a stuffed zero finds the buffer full; file modes write
// the file buffer out when it is full (FileError on a failed or short write). A byte filled
// exactly stays pending until the next call.
JpegStatus putBitsToBuffer(ByteInput* writer, uint32_t value, int32_t count);
JpegStatus putBitsToFile(ByteInput* writer, uint32_t value, int32_t count);
inline JpegStatus putBits(ByteInput* writer, uint32_t value, int32_t count) {
  return writer->file != 0 ? putBitsToFile(writer, value, count) : putBitsToBuffer(writer, value, count);
}

// One entropy-coded byte and, after 0xFF, its stuffed zero, as putBits emits them: the buffer
// form fails with OutputBufferTooSmall before a byte that finds the buffer full, the file form
// writes the full file buffer out first.
JpegStatus emitByteToBuffer(ByteInput* writer, uint8_t byte);
JpegStatus emitByteToFile(ByteInput* writer, uint8_t byte);

// putBytes kernel: emits the pending byte padded with 1-bits (stuffed when it is 0xFF), then
// `count` raw bytes. In buffer modes nothing is written and OutputBufferTooSmall returned
// unless at least one byte stays free after them. Returns the status as int32_t.
int32_t putBytes(const uint8_t* bytes, int32_t count, ByteInput* writer);

// Writes the full file buffer out and starts it empty; FileError on a failed or short write.
JpegStatus flushFileBuffer(ByteInput* writer);

// Emits the pending byte, then in file modes writes whatever the file buffer holds.
JpegStatus flushOutput(ByteInput* writer);

namespace output_detail {
inline constexpr int32_t kWordBytes = 8;
// Room for a word whose every byte is stuffed.
inline constexpr ptrdiff_t kWordRoom = 2 * kWordBytes;

// Most significant byte first: one byte-swapped store.
inline void storeWordBigEndian(uint8_t* out, uint64_t word) {
  const uint64_t bigEndian = std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
  std::memcpy(out, &bigEndian, sizeof bigEndian);
}

// The writer's pending bits as the low bits of a word, and the room left in that word.
inline void takePendingByte(const ByteInput& writer, uint64_t* word, int32_t* free) {
  *word = (writer.bits & 0xFF) >> writer.bitCount;
  *free = 64 - (8 - writer.bitCount);
}
}  // namespace output_detail

// Whether any of the eight bytes of `word` is 0xFF (a zero byte of its complement).
inline bool hasByteFF(uint64_t word) {
  const uint64_t inverted = ~word;
  return ((inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u) != 0;
}

// Bits gathered in a 64-bit word and emitted eight bytes at a time: the pending byte of the
// writer is taken in at the start and what is left of the last byte put back by finish(), so
// the writer's state afterwards is the one putBits would have left. Bytes leave in the
// order putBits would emit them; near the end of the output area they go one by one through
// the writer's byte form, which fails or flushes the file buffer exactly where putBits would.
template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
class WordBits {
 public:
  explicit WordBits(ByteInput* writer) : writer_(writer) { load(); }

  // Takes in the writer's pending byte (again after a marker went out through putBytes).
  void load() { output_detail::takePendingByte(*writer_, &word_, &free_); }

  // Appends `count` (0..32) bits of `value`, whose higher bits are clear.
  JpegStatus put(uint64_t value, int32_t count) {
    free_ -= count;
    if (free_ >= 0) {
      word_ = (word_ << count) | value;
      return JpegStatus::Ok;
    }
    // The word is full: its bits go out and the bits of `value` that did not fit start the
    // next one (the bits above them leave the word before it is emitted again).
    const int32_t spill = -free_;
    const uint64_t full = (word_ << (count - spill)) | (value >> spill);
    word_ = value;
    free_ += 64;
    return emitWord(full);
  }

  // Emits every complete byte but the last; that one stays pending, as putBits leaves it.
  JpegStatus finish() {
    int32_t valid = 64 - free_;
    if (valid > 8) valid = storeCompleteBytes(valid);
    while (valid > 8) {
      valid -= 8;
      const JpegStatus status = EmitByte(writer_, static_cast<uint8_t>(word_ >> valid));
      if (status != JpegStatus::Ok) return status;
    }
    writer_->bits = valid == 0 ? 0 : (word_ << (8 - valid)) & 0xFF;
    writer_->bitCount = 8 - valid;
    return JpegStatus::Ok;
  }

 private:
  // Stores the complete bytes but the last of the `valid` (9..64) bits at once when none of them
  // is 0xFF and the output area has room, and returns the bits left; otherwise leaves them all
  // for the byte form.
  int32_t storeCompleteBytes(int32_t valid) {
    const int32_t count = (valid - 1) / 8;
    const uint64_t aligned = word_ << (64 - valid);
    const uint64_t leaving = aligned & ~(~uint64_t{0} >> (8 * count));
    if (writer_->end - writer_->current < output_detail::kWordRoom || hasByteFF(leaving)) return valid;
    for (int32_t i = 0; i < count; ++i) writer_->current[i] = static_cast<uint8_t>(aligned >> (56 - 8 * i));
    writer_->current += count;
    writer_->consumed += static_cast<uint32_t>(count);
    return valid - 8 * count;
  }

  JpegStatus emitWord(uint64_t word) {
    if (writer_->end - writer_->current >= output_detail::kWordRoom && !hasByteFF(word)) {
      output_detail::storeWordBigEndian(writer_->current, word);
      writer_->current += output_detail::kWordBytes;
      writer_->consumed += output_detail::kWordBytes;
      return JpegStatus::Ok;
    }
    for (int32_t shift = 56; shift >= 0; shift -= 8) {
      const JpegStatus status = EmitByte(writer_, static_cast<uint8_t>(word >> shift));
      if (status != JpegStatus::Ok) return status;
    }
    return JpegStatus::Ok;
  }

  ByteInput* writer_;
  uint64_t word_;
  int32_t free_;
};
