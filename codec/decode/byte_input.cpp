#include "codec/decode/byte_input.h"

#include <cstring>
#include <new>

#include "codec/file_io.h"

const uint8_t kNaturalOrder[80] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                   12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                   35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                   58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
                                   63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

namespace {

bool isFileInput(const ByteInput* input) {
  return input->file != 0;
}

// Make at least one byte available. File: refill when empty. False at the end of the data.
bool ensureByte(ByteInput* input, JpegStatus* status) {
  *status = JpegStatus::Ok;
  if (input->available > 0) return true;
  if (!isFileInput(input)) return false;
  int32_t got = 0;
  if (!fileRead(input->file, input->fileBuffer, kJpegFileBufferSize, &got)) {
    *status = JpegStatus::FileError;
    return false;
  }
  input->current = input->fileBuffer;
  input->end = input->fileBuffer + got;
  input->available = static_cast<uint32_t>(got);
  return got > 0;
}

}  // namespace

JpegStatus truncatedStatus(const ByteInput* input) {
  return isFileInput(input) ? JpegStatus::FileError : JpegStatus::MemoryError;
}

void resetInput(ByteInput* input) {
  if (isFileInput(input)) {
    input->current = input->fileBuffer + kJpegFileBufferSize;
    input->end = input->current;
    input->available = 0;
  } else {
    input->current = input->start;
    input->end = input->start + input->size;
    input->available = input->size;
  }
  input->bits = 0;
  input->bitCount = 0;
  input->consumed = 0;
  input->pendingMarker = 0;
  input->componentsDone = 0;
}

JpegStatus refill(ByteInput* input) {
  input->available = 0;
  JpegStatus status = JpegStatus::Ok;
  if (!ensureByte(input, &status)) return JpegStatus::FileError;
  return JpegStatus::Ok;
}

bool takeByte(ByteInput* input, uint8_t* byte, JpegStatus* status) {
  if (!ensureByte(input, status)) return false;
  *byte = *input->current++;
  --input->available;
  ++input->consumed;
  return true;
}

MarkerRead nextMarker(ByteInput* input) {
  if (input->pendingMarker != 0) {
    const int32_t marker = input->pendingMarker;
    input->pendingMarker = 0;
    return {MarkerFound::Marker, marker};
  }
  JpegStatus status = JpegStatus::Ok;
  uint8_t byte = 0;
  const auto ended = [&status]() -> MarkerRead {
    if (status != JpegStatus::Ok) return {MarkerFound::Failed, 0, status};
    return {MarkerFound::EndOfData};
  };
  for (;;) {
    do {
      if (!takeByte(input, &byte, &status)) return ended();
    } while (byte != 0xFF);
    do {
      if (!takeByte(input, &byte, &status)) return ended();
    } while (byte == 0xFF);
    if (byte != 0x00) return {MarkerFound::Marker, byte};
  }
}

JpegStatus readWord(ByteInput* input, int32_t* value) {
  uint8_t high = 0;
  uint8_t low = 0;
  JpegStatus status = JpegStatus::Ok;
  if (!takeByte(input, &high, &status) || !takeByte(input, &low, &status)) {
    return status != JpegStatus::Ok ? status : truncatedStatus(input);
  }
  *value = (high << 8) | low;
  return JpegStatus::Ok;
}

JpegStatus readSegment(ByteInput* input, int32_t length, SegmentView* view) {
  view->copy.reset();
  view->data = nullptr;
  view->length = 0;
  if (length < 0) return JpegStatus::DataError;
  if (static_cast<uint32_t>(length) <= input->available) {
    view->data = input->current;
    view->length = length;
    input->current += length;
    input->available -= static_cast<uint32_t>(length);
    input->consumed += static_cast<uint32_t>(length);
    return JpegStatus::Ok;
  }
  view->copy.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
  if (!view->copy) return JpegStatus::MemoryError;
  int32_t filled = 0;
  while (filled < length) {
    JpegStatus status = JpegStatus::Ok;
    if (!ensureByte(input, &status)) return status != JpegStatus::Ok ? status : truncatedStatus(input);
    const uint32_t wanted = static_cast<uint32_t>(length - filled);
    const uint32_t chunk = wanted < input->available ? wanted : input->available;
    std::memcpy(view->copy.get() + filled, input->current, chunk);
    input->current += chunk;
    input->available -= chunk;
    input->consumed += chunk;
    filled += static_cast<int32_t>(chunk);
  }
  view->data = view->copy.get();
  view->length = length;
  return JpegStatus::Ok;
}

JpegStatus skipBytes(ByteInput* input, int32_t length) {
  int32_t left = length;
  while (left > 0) {
    JpegStatus status = JpegStatus::Ok;
    if (!ensureByte(input, &status)) return status != JpegStatus::Ok ? status : truncatedStatus(input);
    const uint32_t chunk =
        static_cast<uint32_t>(left) < input->available ? static_cast<uint32_t>(left) : input->available;
    input->current += chunk;
    input->available -= chunk;
    input->consumed += chunk;
    left -= static_cast<int32_t>(chunk);
  }
  return JpegStatus::Ok;
}

JpegStatus skipSegment(ByteInput* input) {
  int32_t length = 0;
  const JpegStatus status = readWord(input, &length);
  if (status != JpegStatus::Ok) return status;
  if (length <= 1) return JpegStatus::DataError;
  return skipBytes(input, length - 2);
}

namespace {

BitsOutcome stoppedAtMarker(const ByteInput* input, int32_t needed) {
  return {input->bitCount < needed ? BitsRead::AtMarker : BitsRead::Ready};
}

BitsOutcome fillFailed(JpegStatus status) {
  return {BitsRead::Failed, status};
}

}  // namespace

BitsOutcome fillBitsSlow(ByteInput* input, int32_t needed) {
  // Filling stops above 56 bits so that a whole byte always fits the 64-bit accumulator.
  // Plain data bytes already in the buffer go in directly; 0xFF (stuffing or a marker), an empty
  // buffer and a pending marker take the careful loop below.
  if (input->pendingMarker == 0) {
    while (input->bitCount <= 56 && input->available > 0 && *input->current != 0xFF) {
      input->bits = (input->bits << 8) | *input->current++;
      input->bitCount += 8;
      --input->available;
      ++input->consumed;
    }
  }
  while (input->bitCount <= 56) {
    if (input->pendingMarker != 0) return stoppedAtMarker(input, needed);
    JpegStatus status = JpegStatus::Ok;
    uint8_t byte = 0;
    if (!takeByte(input, &byte, &status)) {
      if (status != JpegStatus::Ok) return fillFailed(status);
      if (isFileInput(input)) return fillFailed(JpegStatus::FileError);
      // A memory buffer that ends inside entropy-coded data supplies zero bits.
      input->bits <<= 8;
      input->bitCount += 8;
      continue;
    }
    if (byte == 0xFF) {
      uint8_t next = 0xFF;
      while (next == 0xFF) {
        if (!takeByte(input, &next, &status)) {
          if (status != JpegStatus::Ok) return fillFailed(status);
          return fillFailed(isFileInput(input) ? JpegStatus::FileError : JpegStatus::DataError);
        }
      }
      if (next != 0x00) {
        input->pendingMarker = next;
        return stoppedAtMarker(input, needed);
      }
    }
    input->bits = (input->bits << 8) | byte;
    input->bitCount += 8;
  }
  return {};
}
