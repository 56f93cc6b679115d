#include "codec/decode/marker_reader.h"

#include <algorithm>
#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"
#include "codec/decode/output_hooks.h"
#include "codec/decode/progressive_decoder.h"
#include "codec/decode/scan_decoder.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

constexpr int32_t kMarkerSof0 = 0xC0;
constexpr int32_t kMarkerSof1 = 0xC1;
constexpr int32_t kMarkerSof2 = 0xC2;
constexpr int32_t kMarkerDht = 0xC4;
constexpr int32_t kMarkerSoi = 0xD8;
constexpr int32_t kMarkerEoi = 0xD9;
constexpr int32_t kMarkerSos = 0xDA;
constexpr int32_t kMarkerDqt = 0xDB;
constexpr int32_t kMarkerDri = 0xDD;
constexpr int32_t kMarkerApp0 = 0xE0;
constexpr int32_t kMarkerApp14 = 0xEE;
constexpr int32_t kMarkerCom = 0xFE;

constexpr int32_t kMaxDhtData = 1091;
constexpr int32_t kMaxDqtData = 516;
constexpr int32_t kJfifHeader = 14;
constexpr int32_t kJfxxHeader = 8;
constexpr int32_t kJfxxPaletteHeader = 776;

int32_t mode(const JPEG_PROPERTIES* state) {
  return state->ioMode;
}

bool isUnsupportedFrame(int32_t marker) {
  return marker == 0xC3 || (marker >= 0xC5 && marker <= 0xCB) || (marker >= 0xCD && marker <= 0xCF);
}

int32_t readBigEndian16(const uint8_t* bytes) {
  return (bytes[0] << 8) | bytes[1];
}

// Reads the 16-bit length of a segment and its L - 2 bytes. L <= 1 or truncated data: DataError.
JpegStatus readSegmentBody(ByteInput* input, SegmentView* body) {
  int32_t length = 0;
  if (readWord(input, &length) != JpegStatus::Ok || length <= 1) return JpegStatus::DataError;
  const JpegStatus status = readSegment(input, length - 2, body);
  if (status == JpegStatus::MemoryError) return status;
  return status == JpegStatus::Ok ? JpegStatus::Ok : JpegStatus::DataError;
}

// --- frame ------------------------------------------------------------------------------------

int32_t ceilDiv(int32_t value, int32_t divisor) {
  return (value + divisor - 1) / divisor;
}

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
  state->frameMcusPerRow = ceilDiv(width, 8 * maxH);
  state->totalMcus = state->frameMcusPerRow * ceilDiv(height, 8 * maxV);
  state->noFrameYet = 0;
  state->frameMarker = marker;
  state->jpegWidth = width;
  state->jpegHeight = height;
  state->jpegChannels = componentCount;
  return runFrameSetUp(state);
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
    // A caller descriptor holds 64 8-bit steps: only 8-bit tables fit it.
    QuantSpec& descriptor = state->quantSpecs[tableId];
    if (state->quantTablesSupplied != 0 && descriptor.values != nullptr && precision == 0) {
      std::memcpy(descriptor.values, values, 64);
      descriptor.tableId = tableId;
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
  if (!isThumbnailMode(mode(state)) || length < kJfifHeader + width * height * 3) return JpegStatus::Ok;
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
    if (!isThumbnailMode(mode(state)) || length < kJfxxHeader + width * height * 3) return JpegStatus::Ok;
    return copyRgbThumbnail(state, data + kJfxxHeader, width, height);
  }
  if (extension == 0x11) {
    if (!isThumbnailMode(mode(state)) || length < width * height + kJfxxPaletteHeader) return JpegStatus::Ok;
    state->thumbWidth = width;
    state->thumbHeight = height;
    return copyPaletteThumbnail(state, data + kJfxxHeader, data + kJfxxPaletteHeader, width, height);
  }
  return JpegStatus::Ok;  // 0x10 (JPEG-coded thumbnail) and unknown extensions are ignored
}

}  // namespace

JpegStatus readApp0(JPEG_PROPERTIES* state) {
  int32_t length = 0;
  if (readWord(&state->input, &length) != JpegStatus::Ok) return JpegStatus::DataError;
  if (length <= 1) return JpegStatus::Ok;
  const int32_t dataLength = length - 2;
  // Too short to be JFIF or JFXX: passed over as a whole so that its bytes are not searched.
  if (dataLength < kJfifHeader) return skipBytes(&state->input, dataLength);
  SegmentView body;
  const JpegStatus status = readSegment(&state->input, dataLength, &body);
  if (status == JpegStatus::MemoryError) return status;
  if (status != JpegStatus::Ok) return JpegStatus::DataError;
  if (state->noFrameYet == 0) return JpegStatus::Ok;
  if (std::memcmp(body.data, "JFIF", 5) == 0) return interpretJfif(state, body.data, body.length);
  if (std::memcmp(body.data, "JFXX", 5) == 0) return interpretJfxx(state, body.data, body.length);
  return JpegStatus::Ok;
}

JpegStatus readApp14(JPEG_PROPERTIES* state) {
  int32_t length = 0;
  if (readWord(&state->input, &length) != JpegStatus::Ok || length <= 1) return JpegStatus::DataError;
  if (length < 14) return skipBytes(&state->input, length - 2);
  SegmentView body;
  const JpegStatus status = readSegment(&state->input, length - 2, &body);
  if (status == JpegStatus::MemoryError) return status;
  if (status != JpegStatus::Ok) return JpegStatus::DataError;
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
  if (readWord(&state->input, &length) != JpegStatus::Ok || length <= 1) return JpegStatus::DataError;
  state->input.kernels->lastScanHeaderSize = length + 2;
  SegmentView body;
  JpegStatus status = readSegment(&state->input, length - 2, &body);
  if (status == JpegStatus::MemoryError) return status;
  if (status != JpegStatus::Ok) return JpegStatus::DataError;
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

namespace {

void releaseScan(JPEG_PROPERTIES* state) {
  releaseScanRecord(state->scan);
  state->scan = nullptr;
}

bool isSequentialScan(const JPEG_PROPERTIES* state, const ScanRecord* scan) {
  return scan->spectralStart == 0 && scan->spectralEnd == 63 && scan->approxHigh == 0 &&
         scan->approxLow == 0 && state->progressive == 0;
}

// Tables the scan uses must have been defined, by the stream or by the caller.
JpegStatus checkScanTables(const JPEG_PROPERTIES* state, const ScanRecord* scan, bool needsAc) {
  for (int32_t i = 0; i < scan->componentCount; ++i) {
    const ScanComponent& component = scan->components[i];
    const int32_t dcBit = 1 << static_cast<int32_t>(component.dcTable - state->dcTables);
    const int32_t acBit = 1 << (4 + static_cast<int32_t>(component.acTable - state->acTables));
    if ((state->definedHuffmanTables & dcBit) == 0) return JpegStatus::NoHuffmanTable;
    if (needsAc && (state->definedHuffmanTables & acBit) == 0) return JpegStatus::NoHuffmanTable;
    const int32_t quantBit = 1 << static_cast<int32_t>(component.quantTable - state->quantTables);
    if ((state->definedQuantTables & quantBit) == 0) return JpegStatus::NoQuantTable;
  }
  return JpegStatus::Ok;
}

// What the marker loop does after a segment.
enum class Flow { Continue, Stop };

struct LoopState {
  int32_t scansDecoded = 0;
};

// Classifies the scan just read, decodes it, and reports whether the call goes on.
JpegStatus handleScan(JPEG_PROPERTIES* state, LoopState* loop, Flow* flow) {
  *flow = Flow::Continue;
  ScanRecord* scan = state->scan;
  scan->restartInterval = state->restartInterval;
  state->nonInterleaved = scan->componentCount < state->componentCount && state->progressive == 0 ? 1 : 0;
  JpegStatus status = runFrameSetUp(state);
  if (status != JpegStatus::Ok) {
    releaseScan(state);
    return status;
  }
  // Progressive scans had their own tables checked when their header was read.
  if (isSequentialScan(state, scan)) status = checkScanTables(state, scan, true);
  if (status != JpegStatus::Ok) {
    releaseScan(state);
    return status;
  }
  status = decodeScan(state);
  ++loop->scansDecoded;
  if (status == JpegStatus::Ok) {
    state->input.componentsDone += scan->componentCount;
    releaseScan(state);
    return status;
  }
  if (static_cast<int32_t>(status) < 0) {
    releaseScan(state);
    return status;
  }
  *flow = Flow::Stop;  // interrupted or region done: the scan stays in progress
  return status;
}

JpegStatus handleScanMarker(JPEG_PROPERTIES* state, LoopState* loop, Flow* flow) {
  *flow = Flow::Continue;
  if (state->noFrameYet != 0) return JpegStatus::NoFrame;
  const int64_t markerStart = static_cast<int64_t>(state->input.consumed) - 2;
  JpegStatus status = readScanHeader(state);
  if (status != JpegStatus::Ok) return status;
  state->lastScanStart = markerStart;
  if (isHeaderOnlyMode(mode(state))) {
    state->input.consumed -= static_cast<uint32_t>(state->input.kernels->lastScanHeaderSize);
    releaseScan(state);
    *flow = Flow::Stop;
    return JpegStatus::Ok;
  }
  status = startProgressiveScan(state);
  if (status != JpegStatus::Ok) {
    releaseScan(state);
    return status;
  }
  return handleScan(state, loop, flow);
}

// The passes that complete an image once its last scan is decoded: the colour conversion of a
// picture stored component by component, the rendering a progressive image still owes.
void finishImage(JPEG_PROPERTIES* state) {
  if (state->nonInterleaved != 0 && state->colorConversionNeeded != 0 && state->progressive == 0) {
    runFinalConversion(state);
  }
  finishProgressiveImage(state);
}

JpegStatus handleEndOfImage(JPEG_PROPERTIES* state, const LoopState& loop, Flow* flow) {
  *flow = Flow::Stop;
  const int32_t readMode = mode(state);
  if (isTablesOnlyReadMode(readMode)) return JpegStatus::Ok;
  const bool headerOnly = isHeaderOnlyMode(readMode);
  // Before a frame (or, in an image read, before any scan) only a tables-only stream followed by
  // the image may end: the read goes on into that image. The parameter and thumbnail modes do
  // so too, so that they report its frame; alone, the tables-only stream ends them quietly.
  if (state->noFrameYet != 0 || (!headerOnly && loop.scansDecoded == 0)) {
    if (nextMarker(&state->input) != kMarkerSoi) return headerOnly ? JpegStatus::Ok : JpegStatus::NoImage;
    state->restartInterval = 0;
    *flow = Flow::Continue;
    return JpegStatus::Ok;
  }
  if (headerOnly) return JpegStatus::Ok;
  finishImage(state);
  return JpegStatus::Ok;
}

JpegStatus skipWholeSegment(JPEG_PROPERTIES* state) {
  return skipSegment(&state->input);
}

JpegStatus dispatchMarker(JPEG_PROPERTIES* state, int32_t marker, LoopState* loop, Flow* flow) {
  *flow = Flow::Continue;
  if (marker == kMarkerSof0 || marker == kMarkerSof1 || marker == kMarkerSof2) {
    if (isTablesOnlyReadMode(mode(state))) {
      state->input.consumed -= 2;
      *flow = Flow::Stop;
      return JpegStatus::Ok;
    }
    return readFrameHeader(state, marker);
  }
  if (isUnsupportedFrame(marker)) return JpegStatus::UnsupportedFrame;
  switch (marker) {
    case kMarkerDht:
      return readHuffmanTables(state);
    case kMarkerSoi:
      state->restartInterval = 0;
      return JpegStatus::Ok;
    case kMarkerEoi:
      return handleEndOfImage(state, *loop, flow);
    case kMarkerSos:
      return handleScanMarker(state, loop, flow);
    case kMarkerDqt:
      return readQuantTables(state);
    case kMarkerDri:
      return readRestartInterval(state);
    case kMarkerApp0:
      // The file variant of the no-tables mode does not interpret APP0.
      return static_cast<JpegIoMode>(mode(state)) == JpegIoMode::FileReadImageNoTables
                 ? skipWholeSegment(state)
                 : readApp0(state);
    case kMarkerApp14: {
      const JpegStatus status = readApp14(state);
      if (status != JpegStatus::Ok || state->noFrameYet != 0) return status;
      return runFrameSetUp(state);
    }
    case kMarkerCom:
      return readComment(state);
    default:
      break;
  }
  if (marker >= 0xD0 && marker <= 0xD7) return JpegStatus::Ok;  // stray RSTn: no segment
  return skipWholeSegment(state);
}

JpegStatus rewindInput(JPEG_PROPERTIES* state) {
  ByteInput* input = &state->input;
  if (input->file != 0) {
    if (!fileSeek(input->file, 0, SeekOrigin::Start)) return JpegStatus::FileError;
    state->inputBaseOffset = 0;
  }
  resetInput(input);
  return JpegStatus::Ok;
}

// End of the data: image modes must have decoded something.
JpegStatus endOfData(JPEG_PROPERTIES* state, const LoopState& loop) {
  if (!isImageReadMode(mode(state))) return JpegStatus::Ok;
  if (state->noFrameYet != 0 || loop.scansDecoded == 0) return JpegStatus::NoImage;
  // A stream cut before its EOI still gets the image's last pass.
  finishImage(state);
  return JpegStatus::Ok;
}

}  // namespace

JpegStatus readMarkers(JPEG_PROPERTIES* state) {
  ByteInput* input = &state->input;
  LoopState loop;
  if (state->scan == nullptr) {
    // An image spread over several scans, once decoded, is read again from its start: the file
    // was left at its last SOS, and its earlier scans are needed too.
    if (state->nonInterleaved != 0 || state->progressive != 0) {
      const JpegStatus status = rewindInput(state);
      if (status != JpegStatus::Ok) return status;
    } else {
      resetInput(input);
    }
    state->lastScanStart = -1;
  }
  if (state->noFrameYet == 0) {
    const JpegStatus status = runFrameSetUp(state);
    if (status != JpegStatus::Ok) return status;
  }
  if (isHeaderOnlyMode(mode(state)) && nextMarker(input) != kMarkerSoi) return JpegStatus::NotJpeg;
  if (state->progressive == 0) {
    state->finishedDcCount = 0;
    state->finishedAcCount = 0;
  }

  if (state->scan != nullptr) {
    Flow flow = Flow::Continue;
    const JpegStatus status = handleScan(state, &loop, &flow);
    if (status != JpegStatus::Ok || flow == Flow::Stop) return status;
  }
  for (;;) {
    const int32_t marker = nextMarker(input);
    if (marker < 0) return static_cast<JpegStatus>(marker);
    if (marker == kEndOfData) return endOfData(state, loop);
    Flow flow = Flow::Continue;
    const JpegStatus status = dispatchMarker(state, marker, &loop, &flow);
    if (status != JpegStatus::Ok || flow == Flow::Stop) return status;
  }
}
