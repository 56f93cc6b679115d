// Byte and bit input of the decoder: the 4096-byte file buffer or the caller's memory buffer,
// the marker search, segment reading, and the 64-bit bit accumulator with byte stuffing.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/jpeg.h"
#include "codec/marker_codes.h"

// What a read from the bit accumulator came to. A marker ahead of the bits asked for is no
// error: the block ends quietly and the scan loop takes the marker.
enum class BitsRead : uint8_t {
  Ready,     // the bits or the symbol are there
  AtMarker,  // a marker stopped the input first
  Failed,    // the read failed with `error`
};

struct BitsOutcome {
  BitsRead read = BitsRead::Ready;
  JpegStatus error = JpegStatus::Ok;  // when Failed

  bool ready() const { return read == BitsRead::Ready; }
};

// Zig-zag position -> natural index, followed by 16 entries of 63 so that a run reaching past
// position 63 lands on coefficient 63.
extern const uint8_t kNaturalOrder[80];

// File: empty buffer. Memory: start..start + size. Both: no bits, no pending marker.
void resetInput(ByteInput* input);

// File only: read up to 4096 bytes. 0, or FileError (read failure or end of file).
JpegStatus refill(ByteInput* input);

// One byte; false at the end of the data (*status 0) or on a read failure (*status negative).
bool takeByte(ByteInput* input, uint8_t* byte, JpegStatus* status);

// What the marker search came to.
enum class MarkerFound : uint8_t {
  Marker,     // `code` holds the marker
  EndOfData,  // the data ended first
  Failed,     // `error` holds the status of a failed read
};

struct MarkerRead {
  MarkerFound found = MarkerFound::EndOfData;
  int32_t code = 0;
  JpegStatus error = JpegStatus::Ok;

  bool is(int32_t marker) const { return found == MarkerFound::Marker && code == marker; }
  bool isRestart() const { return found == MarkerFound::Marker && markers::isRestart(code); }
};

// The pending marker, or the next one in the input (fill bytes and stuffed zeros passed over).
MarkerRead nextMarker(ByteInput* input);

// What running out of input inside a segment gives: FileError for a file, MemoryError for a
// memory buffer.
JpegStatus truncatedStatus(const ByteInput* input);

// 16-bit big-endian value. Truncated input: truncatedStatus.
JpegStatus readWord(ByteInput* input, int32_t* value);

// A segment's bytes as one contiguous block: a view into the input buffer, or a copy.
struct SegmentView {
  const uint8_t* data = nullptr;
  int32_t length = 0;
  std::unique_ptr<uint8_t[]> copy;
};

// n bytes. Truncated input: truncatedStatus; MemoryError also when a copy cannot be made.
JpegStatus readSegment(ByteInput* input, int32_t length, SegmentView* view);

// Pass over `length` bytes. Truncated input: truncatedStatus.
JpegStatus skipBytes(ByteInput* input, int32_t length);

// Read a segment length L and pass over the rest. L <= 1: DataError; truncated: truncatedStatus.
JpegStatus skipSegment(ByteInput* input);

// Whole-byte fill of the accumulator until more than 56 bits are held: AtMarker when a marker
// stopped it before `needed` bits were held. A memory buffer that runs out supplies zero bits.
BitsOutcome fillBitsSlow(ByteInput* input, int32_t needed);

inline BitsOutcome fillBits(ByteInput* input, int32_t needed) {
  if (input->bitCount >= needed) return {};
  return fillBitsSlow(input, needed);
}

// The next n (1..24) bits, most significant first; requires bitCount >= n.
inline uint32_t peekBits(const ByteInput* input, int32_t n) {
  return static_cast<uint32_t>(input->bits >> (input->bitCount - n)) & ((1u << n) - 1u);
}

inline uint32_t getBits(ByteInput* input, int32_t n) {
  const uint32_t value = peekBits(input, n);
  input->bitCount -= n;
  return value;
}

// Drop the buffered bits (after a scan or at a restart).
inline void dropBits(ByteInput* input) {
  input->bitCount = 0;
  input->bits = 0;
}
