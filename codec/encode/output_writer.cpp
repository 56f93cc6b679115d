#include "codec/encode/output_writer.h"

#include <algorithm>
#include <cstring>

#include "codec/file_io.h"
#include "codec/kernel_table.h"

namespace {

uint32_t pendingByte(const ByteInput* writer) {
  return static_cast<uint32_t>(writer->bits & 0xFF);
}

void setPending(ByteInput* writer, uint32_t byte, int32_t freeBits) {
  writer->bits = byte & 0xFF;
  writer->bitCount = freeBits;
}

JpegStatus writeFileBufferOut(ByteInput* writer) {
  const int32_t count = static_cast<int32_t>(writer->current - writer->start);
  int32_t written = 0;
  if (count > 0 && (!fileWrite(writer->file, writer->start, count, &written) || written != count)) {
    return JpegStatus::FileError;
  }
  writer->current = writer->start;
  return JpegStatus::Ok;
}

// One byte of entropy-coded data, with its stuffed zero. The two sinks differ only in what
// happens when the output area is full.
struct BufferSink {
  static JpegStatus put(ByteInput* writer, uint8_t byte) {
    if (writer->current >= writer->end) return JpegStatus::OutputBufferTooSmall;
    *writer->current++ = byte;
    ++writer->consumed;
    return JpegStatus::Ok;
  }
};

struct FileSink {
  static JpegStatus put(ByteInput* writer, uint8_t byte) {
    if (writer->current >= writer->end) {
      const JpegStatus status = flushFileBuffer(writer);
      if (status != JpegStatus::Ok) return status;
    }
    *writer->current++ = byte;
    ++writer->consumed;
    return JpegStatus::Ok;
  }
};

template <typename Sink>
JpegStatus emitStuffed(ByteInput* writer, uint8_t byte) {
  JpegStatus status = Sink::put(writer, byte);
  if (status == JpegStatus::Ok && byte == 0xFF) status = Sink::put(writer, 0x00);
  return status;
}

template <typename Sink>
JpegStatus putBitsTo(ByteInput* writer, uint32_t value, int32_t count) {
  int32_t freeBits = writer->bitCount;
  uint32_t pending = pendingByte(writer);
  value &= (1u << count) - 1u;
  if (count <= freeBits) {
    freeBits -= count;
    setPending(writer, pending | (value << freeBits), freeBits);
    return JpegStatus::Ok;
  }
  while (count > freeBits) {
    count -= freeBits;
    pending |= value >> count;
    value &= (1u << count) - 1u;
    const JpegStatus status = emitStuffed<Sink>(writer, static_cast<uint8_t>(pending));
    if (status != JpegStatus::Ok) return status;
    pending = 0;
    freeBits = 8;
    setPending(writer, pending, freeBits);
  }
  freeBits -= count;
  setPending(writer, value << freeBits, freeBits);
  return JpegStatus::Ok;
}

// The pending byte padded with 1-bits, and how many bytes it takes (0, 1, or 2 when stuffed).
struct PaddedPending {
  uint8_t byte;
  int32_t size;
};

PaddedPending paddedPending(const ByteInput* writer) {
  if (writer->bitCount >= 8) return {0, 0};
  const uint8_t byte = static_cast<uint8_t>(pendingByte(writer) | ((1u << writer->bitCount) - 1u));
  return {byte, byte == 0xFF ? 2 : 1};
}

int32_t putBytesToBuffer(const uint8_t* bytes, int32_t count, ByteInput* writer) {
  const PaddedPending pending = paddedPending(writer);
  const ptrdiff_t room = writer->end - writer->current;
  if (pending.size + static_cast<ptrdiff_t>(count) >= room) {
    return static_cast<int32_t>(JpegStatus::OutputBufferTooSmall);
  }
  if (pending.size > 0) {
    *writer->current++ = pending.byte;
    if (pending.size == 2) *writer->current++ = 0x00;
    writer->consumed += static_cast<uint32_t>(pending.size);
    writer->available -= static_cast<uint32_t>(pending.size);
  }
  setPending(writer, 0, 8);
  if (count > 0) {
    std::memcpy(writer->current, bytes, static_cast<size_t>(count));
    writer->current += count;
    writer->consumed += static_cast<uint32_t>(count);
    writer->available -= static_cast<uint32_t>(count);
  }
  return static_cast<int32_t>(JpegStatus::Ok);
}

int32_t putBytesToFile(const uint8_t* bytes, int32_t count, ByteInput* writer) {
  const PaddedPending pending = paddedPending(writer);
  if (pending.size > 0) {
    const JpegStatus status = emitStuffed<FileSink>(writer, pending.byte);
    if (status != JpegStatus::Ok) return static_cast<int32_t>(status);
  }
  setPending(writer, 0, 8);
  while (count > 0) {
    if (writer->current >= writer->end) {
      const JpegStatus status = flushFileBuffer(writer);
      if (status != JpegStatus::Ok) return static_cast<int32_t>(status);
    }
    const int32_t chunk = std::min<int32_t>(count, static_cast<int32_t>(writer->end - writer->current));
    std::memcpy(writer->current, bytes, static_cast<size_t>(chunk));
    writer->current += chunk;
    writer->consumed += static_cast<uint32_t>(chunk);
    bytes += chunk;
    count -= chunk;
  }
  return static_cast<int32_t>(JpegStatus::Ok);
}

}  // namespace

void initOutput(ByteInput* writer, uint8_t* buffer, uint32_t size) {
  if (writer->file != 0) {
    buffer = writer->fileBuffer;
    size = kJpegFileBufferSize;
  }
  writer->start = buffer;
  writer->current = buffer;
  writer->end = buffer + size;
  writer->size = size;
  writer->available = size;
  writer->consumed = 0;
  writer->bits = 0;
  writer->bitCount = 8;
  writer->eobRun = 0;
}

JpegStatus emitByteToBuffer(ByteInput* writer, uint8_t byte) {
  return emitStuffed<BufferSink>(writer, byte);
}

JpegStatus emitByteToFile(ByteInput* writer, uint8_t byte) {
  return emitStuffed<FileSink>(writer, byte);
}

JpegStatus putBitsToBuffer(ByteInput* writer, uint32_t value, int32_t count) {
  return putBitsTo<BufferSink>(writer, value, count);
}

JpegStatus putBitsToFile(ByteInput* writer, uint32_t value, int32_t count) {
  return putBitsTo<FileSink>(writer, value, count);
}

int32_t putBytes(const uint8_t* bytes, int32_t count, ByteInput* writer) {
  return writer->file != 0 ? putBytesToFile(bytes, count, writer) : putBytesToBuffer(bytes, count, writer);
}

JpegStatus flushFileBuffer(ByteInput* writer) {
  return writeFileBufferOut(writer);
}

JpegStatus flushOutput(ByteInput* writer) {
  const int32_t status = writer->kernels->putBytes(nullptr, 0, writer);
  if (status != 0) return static_cast<JpegStatus>(status);
  return writer->file != 0 ? writeFileBufferOut(writer) : JpegStatus::Ok;
}
