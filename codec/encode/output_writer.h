// The encoder's output: bits most-significant first into one pending byte, a zero byte
// stuffed after every 0xFF, 1-bit padding before markers, delivered into the caller's memory
// buffer or through the 4096-byte file buffer. Lives in the write-side members of ByteInput.
#pragma once

#include <cstdint>

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

// putBytes kernel: emits the pending byte padded with 1-bits (stuffed when it is 0xFF), then
// `count` raw bytes. In buffer modes nothing is written and OutputBufferTooSmall returned
// unless at least one byte stays free after them. Returns the status as int32_t.
int32_t putBytes(const uint8_t* bytes, int32_t count, ByteInput* writer);

// Writes the full file buffer out and starts it empty; FileError on a failed or short write.
JpegStatus flushFileBuffer(ByteInput* writer);

// Emits the pending byte, then in file modes writes whatever the file buffer holds.
JpegStatus flushOutput(ByteInput* writer);
