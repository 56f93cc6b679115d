#include "codec/encode/marker_writer.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "codec/dispatch.h"
#include "codec/kernel_table.h"
#include "codec/marker_codes.h"

namespace {

constexpr int32_t kMaxCommentLength = 65531;  // 65535 - 2 length bytes - 2 spare
constexpr int32_t kMaxDhtSymbols = 305;
constexpr size_t kDefaultCommentArea = 80;
constexpr uint8_t kJfifIdentifier[] = {'J', 'F', 'I', 'F', 0};
constexpr uint8_t kAdobeIdentifier[] = {'A', 'd', 'o', 'b', 'e'};

// A segment under assembly in a local area.
template <size_t Capacity>
struct Segment {
  uint8_t bytes[Capacity];
  int32_t size = 0;
  void byte(uint32_t value) { bytes[size++] = static_cast<uint8_t>(value); }
  void word(uint32_t value) {
    byte(value >> 8);
    byte(value & 0xFF);
  }
  void marker(int32_t code) {
    byte(0xFF);
    byte(static_cast<uint32_t>(code));
  }
  JpegStatus put(ByteInput* writer) const {
    return static_cast<JpegStatus>(writer->kernels->putBytes(bytes, size, writer));
  }
};

JpegStatus writeMarker(ByteInput* writer, uint8_t code) {
  Segment<2> segment;
  segment.marker(code);
  return segment.put(writer);
}

int32_t symbolCount(const uint8_t* counts) {
  int32_t total = 0;
  for (int i = 0; i < 16; ++i) total += counts[i];
  return total;
}

// Stays valid for the life of the process, whatever any record's jpegFree clears.
int formatWithSnprintf(char* buffer, size_t capacity, const char* format, const char* argument) {
  return std::snprintf(buffer, capacity, format, argument);
}

JpegStatus writeDefaultComment(ByteInput* writer) {
  static constexpr char kFormat[] = "Written by the Meshwick JPEG codec %s";
  Segment<4 + kDefaultCommentArea> segment;
  char* text = reinterpret_cast<char*>(segment.bytes + 4);
  const FormatTextFunction format = formatText != nullptr ? formatText : formatWithSnprintf;
  const int length = format(text, kDefaultCommentArea, kFormat, jpegGetVersion()->version);
  // A text no longer than its format string did not format: write no COM at all.
  if (length <= static_cast<int>(sizeof(kFormat) - 1) || length >= static_cast<int>(kDefaultCommentArea)) {
    return JpegStatus::Ok;
  }
  segment.marker(markers::kCom);
  segment.word(static_cast<uint32_t>(length + 2));
  segment.size += length;
  return segment.put(writer);
}

JpegStatus writeCallerComment(ByteInput* writer, JPEG_PROPERTIES* state) {
  int32_t length = state->commentLength;
  if (length == 0) return JpegStatus::Ok;
  if (length > kMaxCommentLength) {
    length = kMaxCommentLength;
    state->commentLength = static_cast<uint16_t>(kMaxCommentLength);
  }
  const size_t size = static_cast<size_t>(length) + 4;
  uint8_t* segment = new (std::nothrow) uint8_t[size];
  if (segment == nullptr) return JpegStatus::MemoryError;
  segment[0] = 0xFF;
  segment[1] = markers::kCom;
  segment[2] = static_cast<uint8_t>((length + 2) >> 8);
  segment[3] = static_cast<uint8_t>((length + 2) & 0xFF);
  std::memcpy(segment + 4, state->commentBuffer, static_cast<size_t>(length));
  const int32_t status = writer->kernels->putBytes(segment, static_cast<int32_t>(size), writer);
  delete[] segment;
  return static_cast<JpegStatus>(status);
}

}  // namespace

JpegStatus writeSoi(ByteInput* writer) {
  return writeMarker(writer, markers::kSoi);
}

JpegStatus writeEoi(ByteInput* writer) {
  return writeMarker(writer, markers::kEoi);
}

JpegStatus writeApp0(ByteInput* writer, const JPEG_PROPERTIES* state) {
  Segment<18> segment;
  segment.marker(markers::kApp0);
  segment.word(16);
  for (uint8_t c : kJfifIdentifier) segment.byte(c);
  segment.word(static_cast<uint32_t>(state->jfifVersion) & 0xFFFF);
  segment.byte(static_cast<uint32_t>(state->densityUnit) & 0xFF);
  segment.word(static_cast<uint32_t>(state->xDensity) & 0xFFFF);
  segment.word(static_cast<uint32_t>(state->yDensity) & 0xFFFF);
  segment.byte(0);
  segment.byte(0);
  return segment.put(writer);
}

JpegStatus writeApp14(ByteInput* writer, const JPEG_PROPERTIES* state, uint8_t transform) {
  Segment<16> segment;
  segment.marker(markers::kApp14);
  segment.word(14);
  for (uint8_t c : kAdobeIdentifier) segment.byte(c);
  segment.word(static_cast<uint32_t>(state->adobeVersion) & 0xFFFF);
  segment.word(static_cast<uint32_t>(state->adobeFlags0) & 0xFFFF);
  segment.word(static_cast<uint32_t>(state->adobeFlags1) & 0xFFFF);
  segment.byte(transform);
  return segment.put(writer);
}

JpegStatus writeComment(ByteInput* writer, JPEG_PROPERTIES* state) {
  return state->commentBuffer == nullptr ? writeDefaultComment(writer) : writeCallerComment(writer, state);
}

JpegStatus writeDqt(ByteInput* writer, int32_t tableId, const int16_t* values) {
  Segment<69> segment;
  segment.marker(markers::kDqt);
  segment.word(67);
  segment.byte(static_cast<uint32_t>(tableId) & 0x0F);
  for (int k = 0; k < 64; ++k) segment.byte(static_cast<uint32_t>(values[k]) & 0xFF);
  return segment.put(writer);
}

JpegStatus writeDhtAll(ByteInput* writer, const JPEG_PROPERTIES* state, int32_t pairCount) {
  int32_t length = 2 + 34 * pairCount;
  for (int32_t d = 0; d < 2 * pairCount; ++d) length += symbolCount(state->huffmanSpecs[d].counts);
  Segment<4> header;
  header.marker(markers::kDht);
  header.word(static_cast<uint32_t>(length));
  JpegStatus status = header.put(writer);
  for (int32_t d = 0; d < 2 * pairCount && status == JpegStatus::Ok; ++d) {
    const HuffmanSpec& descriptor = state->huffmanSpecs[d];
    const int32_t symbols = symbolCount(descriptor.counts);
    if (symbols > kMaxDhtSymbols) return JpegStatus::BadHuffmanTable;
    Segment<17 + kMaxDhtSymbols> table;
    table.byte(static_cast<uint32_t>(descriptor.tableClass * 16 + descriptor.tableId));
    for (int i = 0; i < 16; ++i) table.byte(descriptor.counts[i]);
    for (int32_t i = 0; i < symbols; ++i) table.byte(descriptor.values[i]);
    status = table.put(writer);
  }
  return status;
}

JpegStatus writeDhtTable(ByteInput* writer, int32_t tableClass, int32_t tableId, const uint8_t* counts,
                         const uint8_t* symbols) {
  const int32_t count = symbolCount(counts);
  if (count > kMaxDhtSymbols) return JpegStatus::BadHuffmanTable;
  Segment<21 + kMaxDhtSymbols> segment;
  segment.marker(markers::kDht);
  segment.word(static_cast<uint32_t>(19 + count));
  segment.byte(static_cast<uint32_t>(tableClass * 16 + tableId));
  for (int i = 0; i < 16; ++i) segment.byte(counts[i]);
  for (int32_t i = 0; i < count; ++i) segment.byte(symbols[i]);
  return segment.put(writer);
}

JpegStatus writeFrameHeader(ByteInput* writer, const JPEG_PROPERTIES* state, uint8_t marker,
                            int32_t firstId) {
  const int32_t count = state->componentCount;
  Segment<10 + 3 * 4> segment;
  segment.marker(marker);
  segment.word(static_cast<uint32_t>(8 + 3 * count));
  segment.byte(8);
  segment.word(static_cast<uint32_t>(state->imageHeight));
  segment.word(static_cast<uint32_t>(state->imageWidth));
  segment.byte(static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const JpegComponent& component = state->components[i];
    const bool single = count == 1;
    segment.byte(single ? 0u : static_cast<uint32_t>(firstId + i));
    segment.byte(single ? 0x11u
                        : static_cast<uint32_t>(component.horizontalFactor * 16 + component.verticalFactor));
    segment.byte(static_cast<uint32_t>(component.quantSelector));
  }
  return segment.put(writer);
}

JpegStatus writeDri(ByteInput* writer, int32_t interval) {
  Segment<6> segment;
  segment.marker(markers::kDri);
  segment.word(4);
  segment.word(static_cast<uint32_t>(interval) & 0xFFFF);
  return segment.put(writer);
}

JpegStatus writeSosBaseline(ByteInput* writer, const JPEG_PROPERTIES* state, const ScanRecord* scan) {
  const int32_t count = scan->componentCount;
  Segment<8 + 2 * 4> segment;
  segment.marker(markers::kSos);
  segment.word(static_cast<uint32_t>(6 + 2 * count));
  segment.byte(static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t index = scan->components[i].componentIndex;
    segment.byte(count == 1 ? 0u : static_cast<uint32_t>(index + 1));
    segment.byte(static_cast<uint32_t>(state->dcSelectors[index] * 16 + state->acSelectors[index]));
  }
  segment.byte(0);
  segment.byte(63);
  segment.byte(0);
  return segment.put(writer);
}

JpegStatus writeRst(ByteInput* writer, int32_t n) {
  if (n < 0 || n > 7) return JpegStatus::BadRstMarker;
  return writeMarker(writer, static_cast<uint8_t>(markers::kRst0 + n));
}
