#include "codec/decode/marker_reader.h"

#include <algorithm>
#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/huffman_table.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

constexpr int32_t kMaxDhtData = 1091;
constexpr int32_t kMaxDqtData = 516;
constexpr int32_t kJfifHeader = 14;
constexpr int32_t kJfxxHeader = 8;
constexpr int32_t kJfxxPaletteHeader = 776;

int32_t readBigEndian16(const uint8_t* bytes) {
  return (bytes[0] << 8) | bytes[1];
}

// Reads the 16-bit length of a segment and its L - 2 bytes. L <= 1: DataError. Input that ends
// inside the segment: FileError for a file, MemoryError for a memory buffer.
JpegStatus readSegmentBody(ByteInput* input, SegmentView* body) {
  int32_t length = 0;
  const JpegStatus status = readWord(input, &length);
  if (status != JpegStatus::Ok) return status;
  if (length <= 1) return JpegStatus::DataError;
  return readSegment(input, length - 2, body);
}

// --- frame ------------------------------------------------------------------------------------

// A new frame invalidates what a previous image on the record left: progressive counters and
// the coefficient buffer's sizing.
void forgetPreviousImage(JPEG_PROPERTIES* state) {
  state->progressive = 0;
  state->finishedDcCount = 0;
  state->finishedAcCount = 0;
  state->nonInterleaved = 0;
}

// The frame header body `data` describes the frame already in `state`: same size, components and
// sampling factors.
bool sameGeometry(const JPEG_PROPERTIES& state, const uint8_t* data) {
  const int32_t componentCount = data[5];
  if (state.imageHeight != readBigEndian16(data + 1) || state.imageWidth != readBigEndian16(data + 3) ||
      state.componentCount != componentCount) {
    return false;
  }
  for (int32_t i = 0; i < componentCount && i < 4; ++i) {
    const uint8_t factors = data[6 + 3 * i + 1];
    if (state.components[i].horizontalFactor != factors >> 4 ||
        state.components[i].verticalFactor != (factors & 15))
      return false;
  }
  return true;
}

// The caller's descriptor holds 64 8-bit steps in stream (zig-zag) order. A 16-bit table goes
// there when every step fits a byte; one that does not cannot be held without writing past the
// caller's 64 bytes or changing steps: its steps are left alone and the identifier becomes -1, so
// that neither a later read nor a write takes them for this table.
void copyToDescriptor(QuantSpec* descriptor, const int16_t* steps, int32_t tableId) {
  for (int32_t k = 0; k < 64; ++k) {
    if (static_cast<uint16_t>(steps[k]) > 255) {
      descriptor->tableId = -1;
      return;
    }
  }
  for (int32_t k = 0; k < 64; ++k) descriptor->values[k] = static_cast<uint8_t>(steps[k]);
  descriptor->tableId = tableId;
}

}  // namespace

JpegStatus readFrameHeader(JPEG_PROPERTIES* state, int32_t marker) {
  SegmentView body;
  const JpegStatus status = readSegmentBody(&state->input, &body);
  if (status != JpegStatus::Ok) return status;
  const uint8_t* data = body.data;
  if (body.length < 6) return JpegStatus::DataError;
  const int32_t precision = data[0];
  const int32_t height = readBigEndian16(data + 1);
  const int32_t width = readBigEndian16(data + 3);
  const int32_t componentCount = data[5];
  if (body.length < 6 + 3 * componentCount) return JpegStatus::DataError;

  // Caller planes were sized for the frame known when they were attached; another frame in the
  // same stream would not fit them.
  if (state->blockPlanes != nullptr && state->noFrameYet == 0 && !sameGeometry(*state, data)) {
    return JpegStatus::MultipleFrames;
  }
  std::memset(state->components, 0, 4 * sizeof(JpegComponent));
  if (precision != 8) return JpegStatus::UnsupportedFrame;
  if (height == 0) return JpegStatus::DnlError;
  if (width == 0) return JpegStatus::SofError;
  // The component table has four entries: larger frames are refused before it is written.
  if (componentCount < 1 || componentCount > 4) return JpegStatus::ComponentError;

  JpegComponent components[4] = {};
  int32_t maxH = 1;
  int32_t maxV = 1;
  for (int32_t i = 0; i < componentCount; ++i) {
    const uint8_t* entry = data + 6 + 3 * i;
    components[i] = {entry[0], entry[1] >> 4, entry[1] & 15, entry[2]};
    if (components[i].horizontalFactor < 1 || components[i].horizontalFactor > 4 ||
        components[i].verticalFactor < 1 || components[i].verticalFactor > 4) {
      return JpegStatus::SofError;
    }
    maxH = std::max(maxH, components[i].horizontalFactor);
    maxV = std::max(maxV, components[i].verticalFactor);
  }

  forgetPreviousImage(state);
  std::memcpy(state->components, components, sizeof components);
  state->precision = precision;
  state->imageWidth = width;
  state->imageHeight = height;
  state->componentCount = componentCount;
  state->maxHorizontalFactor = maxH;
  state->maxVerticalFactor = maxV;
  state->mcuWidth = 8 * maxH;
  state->mcuHeight = 8 * maxV;
  state->frameMcusPerRow = static_cast<int32_t>(ceilDiv(width, 8 * maxH));
  state->totalMcus = state->frameMcusPerRow * static_cast<int32_t>(ceilDiv(height, 8 * maxV));
  state->noFrameYet = 0;
  state->frameMarker = marker;
  state->jpegWidth = width;
  state->jpegHeight = height;
  state->jpegChannels = componentCount;
  storeFrameGeometry(state);
  return JpegStatus::Ok;
}

JpegStatus readHuffmanTables(JPEG_PROPERTIES* state) {
  SegmentView body;
  const JpegStatus status = readSegmentBody(&state->input, &body);
  if (status != JpegStatus::Ok) return status;
  if (body.length > kMaxDhtData) return JpegStatus::DataError;
  const uint8_t* data = body.data;
  int32_t offset = 0;
  while (offset < body.length) {
    if (body.length - offset < 17) return JpegStatus::DataError;
    const int32_t tableClass = data[offset] >> 4;
    const int32_t tableId = data[offset] & 15;
    if (tableClass > 1 || tableId > 3) return JpegStatus::BadHuffmanTable;
    const uint8_t* counts = data + offset + 1;
    int32_t total = 0;
    for (int32_t i = 0; i < 16; ++i) total += counts[i];
    if (total > 256) return JpegStatus::BadHuffmanTable;
    if (body.length - offset - 17 < total) return JpegStatus::DataError;
    const uint8_t* values = counts + 16;

    state->huffmanTableCount = std::max(state->huffmanTableCount, tableId + 1);
    HuffmanSpec& descriptor = state->huffmanSpecs[2 * tableId + tableClass];
    if (state->huffmanTablesSupplied != 0 && descriptor.counts != nullptr && descriptor.values != nullptr) {
      std::memcpy(descriptor.counts, counts, 16);
      std::memcpy(descriptor.values, values, static_cast<size_t>(total));
      descriptor.tableClass = tableClass;
      descriptor.tableId = tableId;
    }
    HuffmanTable* table = tableClass == 0 ? &state->dcTables[tableId] : &state->acTables[tableId];
    if (deriveHuffmanTable(counts, values, tableClass, tableId, table) != JpegStatus::Ok) {
      return JpegStatus::BadHuffmanTable;
    }
    state->definedHuffmanTables |= 1 << (tableId + 4 * tableClass);
    int32_t& read = tableClass == 0 ? state->dcTablesRead : state->acTablesRead;
    read = std::min(read + 1, 4);
    offset += 17 + total;
  }
  return JpegStatus::Ok;
}

JpegStatus readQuantTables(JPEG_PROPERTIES* state) {
  SegmentView body;
  const JpegStatus status = readSegmentBody(&state->input, &body);
  if (status != JpegStatus::Ok) return status;
  if (body.length > kMaxDqtData) return JpegStatus::DataError;
  const uint8_t* data = body.data;
  int32_t offset = 0;
  while (offset < body.length) {
    const int32_t precision = data[offset] >> 4;
    const int32_t tableId = data[offset] & 15;
    if (tableId > 3) return JpegStatus::BadQuantTable;
    const int32_t valueBytes = precision == 0 ? 64 : 128;
    if (body.length - offset - 1 < valueBytes) return JpegStatus::DataError;
    const uint8_t* values = data + offset + 1;

    state->quantTableCount = std::max(state->quantTableCount, tableId + 1);
    QuantTable& table = state->quantTables[tableId];
    table.precision = precision;
    table.tableId = tableId;
    for (int32_t k = 0; k < 64; ++k) {
      // 16-bit steps above 32767 are kept as their bit pattern; the table preparation reads
      // them back unsigned.
      const int32_t step = precision == 0 ? values[k] : readBigEndian16(values + 2 * k);
      table.storage[k] = static_cast<int16_t>(step);
    }
    QuantSpec& descriptor = state->quantSpecs[tableId];
    if (state->quantTablesSupplied != 0 && descriptor.values != nullptr) {
      copyToDescriptor(&descriptor, table.storage, tableId);
    }
    table.dequantForm = prepareDequantTable(table.storage, state->dctVariant);
    state->definedQuantTables |= 1 << tableId;
    state->quantTablesRead = std::min(state->quantTablesRead + 1, 4);
    offset += 1 + valueBytes;
  }
  return JpegStatus::Ok;
}

JpegStatus readRestartInterval(JPEG_PROPERTIES* state) {
  SegmentView body;
  const JpegStatus status = readSegmentBody(&state->input, &body);
  if (status != JpegStatus::Ok) return status;
  if (body.length < 2) return JpegStatus::DataError;
  state->restartInterval = readBigEndian16(body.data);
  return JpegStatus::Ok;
}

namespace {

// Pixel order of a copied thumbnail: Rgb keeps R, G, B; any other colour gets B, G, R.
void storeThumbnailPixel(JPEG_PROPERTIES* state, uint8_t* pixel, uint8_t red, uint8_t green, uint8_t blue) {
  if (state->pixelColor == JpegColor::Rgb) {
    pixel[0] = red;
    pixel[1] = green;
    pixel[2] = blue;
  } else {
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
  }
}

// The caller's buffer must hold the thumbnail and three bytes per pixel.
JpegStatus checkThumbnailBuffer(const JPEG_PROPERTIES* state, int32_t width, int32_t height) {
  if (state->pixelChannels < 3) return JpegStatus::ThumbnailWrongColor;
  const int32_t rows = state->pixelHeight < 0 ? -state->pixelHeight : state->pixelHeight;
  if (width > state->pixelWidth || height > rows) return JpegStatus::ThumbnailTooSmall;
  return JpegStatus::Ok;
}

JpegStatus copyRgbThumbnail(JPEG_PROPERTIES* state, const uint8_t* rgb, int32_t width, int32_t height) {
  const JpegStatus status = checkThumbnailBuffer(state, width, height);
  if (status != JpegStatus::Ok) return status;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = state->input.currentRow + static_cast<ptrdiff_t>(y) * state->lineStride;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* source = rgb + 3 * (y * width + x);
      storeThumbnailPixel(state, row + x * state->pixelChannels, source[0], source[1], source[2]);
    }
  }
  return JpegStatus::Ok;
}

JpegStatus copyPaletteThumbnail(JPEG_PROPERTIES* state, const uint8_t* palette, const uint8_t* indices,
                                int32_t width, int32_t height) {
  const JpegStatus status = checkThumbnailBuffer(state, width, height);
  if (status != JpegStatus::Ok) return status;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = state->input.currentRow + static_cast<ptrdiff_t>(y) * state->lineStride;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* color = palette + 3 * indices[y * width + x];
      storeThumbnailPixel(state, row + x * state->pixelChannels, color[0], color[1], color[2]);
    }
  }
  return JpegStatus::Ok;
}

JpegStatus interpretJfif(JPEG_PROPERTIES* state, const uint8_t* data, int32_t length) {
  state->jfifSeen = 1;
  state->jfifVersion = readBigEndian16(data + 5);
  state->densityUnit = data[7];
  state->xDensity = readBigEndian16(data + 8);
  state->yDensity = readBigEndian16(data + 10);
  const int32_t width = data[12];
  const int32_t height = data[13];
  if (width == 0 || height == 0) return JpegStatus::Ok;
  state->thumbWidth = width;
  state->thumbHeight = height;
  if (!isThumbnailMode(state->ioMode) || length < kJfifHeader + width * height * 3) return JpegStatus::Ok;
  return copyRgbThumbnail(state, data + kJfifHeader, width, height);
}

JpegStatus interpretJfxx(JPEG_PROPERTIES* state, const uint8_t* data, int32_t length) {
  const int32_t extension = data[5];
  const int32_t width = data[6];
  const int32_t height = data[7];
  if (extension == 0x13) {
    if (width == 0 || height == 0) return JpegStatus::Ok;
    state->thumbWidth = width;
    state->thumbHeight = height;
    if (!isThumbnailMode(state->ioMode) || length < kJfxxHeader + width * height * 3) return JpegStatus::Ok;
    return copyRgbThumbnail(state, data + kJfxxHeader, width, height);
  }
  if (extension == 0x11) {
    if (!isThumbnailMode(state->ioMode) || length < width * height + kJfxxPaletteHeader)
      return JpegStatus::Ok;
    state->thumbWidth = width;
    state->thumbHeight = height;
    return copyPaletteThumbnail(state, data + kJfxxHeader, data + kJfxxPaletteHeader, width, height);
  }
  return JpegStatus::Ok;  // 0x10 (JPEG-coded thumbnail) and unknown extensions are ignored
}

}  // namespace

JpegStatus readApp0(JPEG_PROPERTIES* state) {
  int32_t length = 0;
  JpegStatus status = readWord(&state->input, &length);
  if (status != JpegStatus::Ok) return status;
  if (length <= 1) return JpegStatus::Ok;
  const int32_t dataLength = length - 2;
  // Too short to be JFIF or JFXX: passed over as a whole so that its bytes are not searched.
  if (dataLength < kJfifHeader) return skipBytes(&state->input, dataLength);
  SegmentView body;
  status = readSegment(&state->input, dataLength, &body);
  if (status != JpegStatus::Ok) return status;
  if (state->noFrameYet == 0) return JpegStatus::Ok;
  if (std::memcmp(body.data, "JFIF", 5) == 0) return interpretJfif(state, body.data, body.length);
  if (std::memcmp(body.data, "JFXX", 5) == 0) return interpretJfxx(state, body.data, body.length);
  return JpegStatus::Ok;
}

JpegStatus readApp14(JPEG_PROPERTIES* state) {
  int32_t length = 0;
  JpegStatus status = readWord(&state->input, &length);
  if (status != JpegStatus::Ok) return status;
  if (length <= 1) return JpegStatus::DataError;
  if (length < 14) return skipBytes(&state->input, length - 2);
  SegmentView body;
  status = readSegment(&state->input, length - 2, &body);
  if (status != JpegStatus::Ok) return status;
  if (std::memcmp(body.data, "Adobe", 5) != 0) return JpegStatus::Ok;
  state->adobeVersion = readBigEndian16(body.data + 5);
  state->adobeFlags0 = readBigEndian16(body.data + 7);
  state->adobeFlags1 = readBigEndian16(body.data + 9);
  state->adobeTransform = body.data[11];
  state->adobeSeen = 1;
  return JpegStatus::Ok;
}

JpegStatus readComment(JPEG_PROPERTIES* state) {
  SegmentView body;
  const JpegStatus status = readSegmentBody(&state->input, &body);
  if (status != JpegStatus::Ok) return status;
  if (state->noFrameYet == 0 || state->commentBuffer == nullptr) return JpegStatus::Ok;
  const int32_t capacity = state->commentLength;
  const int32_t length = body.length;
  if (capacity < length) {
    if (capacity > 0) std::memcpy(state->commentBuffer, body.data, static_cast<size_t>(capacity));
    state->commentLength = static_cast<uint16_t>(length);
    return JpegStatus::CommentBufferError;
  }
  if (length > 0) std::memcpy(state->commentBuffer, body.data, static_cast<size_t>(length));
  state->commentLength = static_cast<uint16_t>(length);
  return JpegStatus::Ok;
}

namespace {

int32_t findFrameComponent(const JPEG_PROPERTIES* state, int32_t componentId) {
  for (int32_t i = 0; i < state->componentCount; ++i) {
    if (state->components[i].componentId == componentId) return i;
  }
  return -1;
}

// Scan components must name distinct frame components in frame order.
JpegStatus fillScanComponents(JPEG_PROPERTIES* state, ScanRecord* scan, const uint8_t* entries) {
  int32_t previousIndex = -1;
  for (int32_t i = 0; i < scan->componentCount; ++i) {
    const int32_t componentId = entries[2 * i];
    const int32_t dcId = entries[2 * i + 1] >> 4;
    const int32_t acId = entries[2 * i + 1] & 15;
    if (dcId > 3 || acId > 3) return JpegStatus::DataError;
    const int32_t index = findFrameComponent(state, componentId);
    if (index < 0 || index <= previousIndex) return JpegStatus::DataError;
    const JpegComponent& component = state->components[index];
    if (component.quantSelector < 0 || component.quantSelector > 3) return JpegStatus::DataError;
    previousIndex = index;
    ScanComponent& entry = scan->components[i];
    entry.componentIndex = index;
    entry.horizontalFactor = component.horizontalFactor;
    entry.verticalFactor = component.verticalFactor;
    entry.dcTable = &state->dcTables[dcId];
    entry.acTable = &state->acTables[acId];
    entry.quantTable = &state->quantTables[component.quantSelector];
    state->dcSelectors[i] = dcId;
    state->acSelectors[i] = acId;
  }
  return JpegStatus::Ok;
}

}  // namespace

JpegStatus readScanHeader(JPEG_PROPERTIES* state) {
  int32_t length = 0;
  JpegStatus status = readWord(&state->input, &length);
  if (status != JpegStatus::Ok) return status;
  if (length <= 1) return JpegStatus::DataError;
  state->input.kernels->lastScanHeaderSize = length + 2;
  SegmentView body;
  status = readSegment(&state->input, length - 2, &body);
  if (status != JpegStatus::Ok) return status;
  if (body.length < 1) return JpegStatus::DataError;
  const int32_t componentCount = body.data[0];
  if (componentCount < 1 || componentCount > 4 || componentCount > state->componentCount) {
    return JpegStatus::DataError;
  }
  if (body.length < 1 + 2 * componentCount + 3) return JpegStatus::DataError;

  ScanRecord* scan = allocateScanRecord(componentCount);
  if (scan == nullptr) return JpegStatus::MemoryError;
  status = fillScanComponents(state, scan, body.data + 1);
  if (status != JpegStatus::Ok) {
    releaseScanRecord(scan);
    return status;
  }
  const uint8_t* tail = body.data + 1 + 2 * componentCount;
  scan->spectralStart = tail[0];
  scan->spectralEnd = tail[1];
  scan->approxHigh = tail[2] >> 4;
  scan->approxLow = tail[2] & 15;
  releaseScanRecord(state->scan);
  state->scan = scan;
  state->input.eobRun = 0;
  return JpegStatus::Ok;
}
