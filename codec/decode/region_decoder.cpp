#include "codec/decode/region_decoder.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "codec/decode/block_planes.h"
#include "codec/decode/byte_input.h"
#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/output_hooks.h"
#include "codec/decode/progressive_decoder.h"
#include "codec/decode/scan_decoder.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/validation.h"

namespace {

int64_t ceilDiv(int64_t value, int64_t divisor) {
  return (value + divisor - 1) / divisor;
}

// --- the region in pixels of the scaled image -------------------------------------------------

struct ImageSize {
  int64_t width;
  int64_t height;
};

ImageSize scaledImage(const JPEG_PROPERTIES& state, int32_t scale) {
  return {ceilDiv(state.imageWidth, scale), ceilDiv(state.imageHeight, scale)};
}

struct Region {
  int64_t left;
  int64_t top;
  int64_t right;
  int64_t bottom;
};

// A right or bottom of 0 stands for the image's edge.
Region effectiveRegion(const JPEG_PROPERTIES& state, const ImageSize& size) {
  const int32_t* r = state.regionOfInterest;
  return {r[0], r[1], r[2] == 0 ? size.width : r[2], r[3] == 0 ? size.height : r[3]};
}

bool isAllZero(const int32_t* region) {
  return region[0] == 0 && region[1] == 0 && region[2] == 0 && region[3] == 0;
}

int64_t bufferRows(const JPEG_PROPERTIES& state) {
  return state.pixelHeight < 0 ? -int64_t{state.pixelHeight} : state.pixelHeight;
}

// Clamps the region to the scaled image and stores it back; nothing left, or a pixel buffer that
// cannot hold it: InvalidProperties.
JpegStatus settleRegion(JPEG_PROPERTIES* state, int32_t scale) {
  const ImageSize size = scaledImage(*state, scale);
  Region region = effectiveRegion(*state, size);
  region.left = std::max<int64_t>(region.left, 0);
  region.top = std::max<int64_t>(region.top, 0);
  region.right = std::min(region.right, size.width);
  region.bottom = std::min(region.bottom, size.height);
  if (region.left >= region.right || region.top >= region.bottom) return JpegStatus::InvalidProperties;
  if (state->blockPlanes == nullptr &&
      (state->pixelData == nullptr || state->pixelWidth < region.right - region.left ||
       bufferRows(*state) < region.bottom - region.top)) {
    return JpegStatus::InvalidProperties;
  }
  int32_t* r = state->regionOfInterest;
  r[0] = static_cast<int32_t>(region.left);
  r[1] = static_cast<int32_t>(region.top);
  r[2] = static_cast<int32_t>(region.right);
  r[3] = static_cast<int32_t>(region.bottom);
  return JpegStatus::Ok;
}

// --- scan geometry --------------------------------------------------------------------------------

// MCU grid of a sequential scan and the full-size pixels one MCU covers: one block of the component
// in a one-component scan, the frame's MCU otherwise (the scan decoder's geometry).
struct ScanGrid {
  int32_t columns;
  int32_t rows;
  int32_t mcuWidth;
  int32_t mcuHeight;
};

ScanGrid scanGrid(const JPEG_PROPERTIES& state, const ScanRecord& scan) {
  const int32_t maxH = state.maxHorizontalFactor;
  const int32_t maxV = state.maxVerticalFactor;
  if (scan.componentCount == 1) {
    const JpegComponent& c = state.components[scan.components[0].componentIndex];
    const int64_t width = ceilDiv(int64_t{state.imageWidth} * c.horizontalFactor, maxH);
    const int64_t height = ceilDiv(int64_t{state.imageHeight} * c.verticalFactor, maxV);
    return {static_cast<int32_t>(ceilDiv(width, 8)), static_cast<int32_t>(ceilDiv(height, 8)),
            8 * maxH / c.horizontalFactor, 8 * maxV / c.verticalFactor};
  }
  return {state.frameMcusPerRow, static_cast<int32_t>(ceilDiv(state.imageHeight, 8 * maxV)), 8 * maxH,
          8 * maxV};
}

// --- decoding plan ----------------------------------------------------------------------------------

struct BlockPlan {
  const HuffmanTable* dcTable;
  const HuffmanTable* acTable;
  const int16_t* quantValues;
  int32_t blockCount;
  InverseDctKernel inverseDct;
  HuffmanDecodeBlockKernel decodeKept;  // for MCUs that are stored
  int32_t* predictor;
};

// As the scan decoder plans it; blocks going to coefficient planes keep their AC coefficients
// even at 1/8 scale, samples going to planes take the full-size transform.
int32_t planBlocks(const JPEG_PROPERTIES& state, ScanRecord* scan, int32_t scale, BlockPlan* plans) {
  const KernelTable* kernels = state.input.kernels;
  const bool single = scan->componentCount == 1;
  const bool square = hasSquareSampling(&state);
  const bool planes = state.blockPlanes != nullptr;
  for (int32_t i = 0; i < scan->componentCount; ++i) {
    const ScanComponent& component = scan->components[i];
    const JpegComponent& frame = state.components[component.componentIndex];
    const bool oneBlock = frame.horizontalFactor * frame.verticalFactor == 1;
    BlockPlan& plan = plans[i];
    plan.dcTable = component.dcTable;
    plan.acTable = component.acTable;
    plan.quantValues = component.quantTable->storage;
    plan.blockCount = single ? 1 : component.horizontalFactor * component.verticalFactor;
    plan.inverseDct = planes ? kernels->idctFull : chooseInverseDct(kernels, scale, square && oneBlock);
    plan.decodeKept = !planes && plan.inverseDct == kernels->idctEighth ? kernels->huffmanDecodeDcOnly
                                                                        : kernels->huffmanDecodeBlock;
    plan.predictor = &scan->lastDc[i];
  }
  return scan->componentCount;
}

// --- the scan being read ------------------------------------------------------------------------

struct RegionScan {
  JPEG_PROPERTIES* state;
  ByteInput* input;
  ScanRecord* scan;
  RestartIndex* index;  // null when no index is kept (block planes of the whole image)
  ScanGrid grid;
  int64_t total;
  int32_t interval;
  int32_t scale;
  BlockPlan plans[4];
  int32_t planCount;
  int64_t mcu;                // next MCU to decode, counted in raster order
  bool skipByMarkers = true;  // cleared once a restart interval did not end in RSTn
};

// Position of the next input byte: file offset, or offset in the memory buffer.
int64_t inputPosition(const JPEG_PROPERTIES& state) {
  const ByteInput& input = state.input;
  if (input.file != 0) return state.inputBaseOffset + int64_t{input.consumed};
  return input.current - input.start;
}

RestartEntry captureEntry(const JPEG_PROPERTIES& state, const ScanRecord& scan) {
  RestartEntry entry{};
  entry.position = inputPosition(state);
  std::copy(scan.lastDc, scan.lastDc + 4, entry.predictors);
  entry.bits = state.input.bits;
  entry.bitCount = state.input.bitCount;
  entry.pendingMarker = state.input.pendingMarker;
  return entry;
}

bool sameEntry(const RestartEntry& a, const RestartEntry& b) {
  return a.position == b.position && a.bits == b.bits && a.bitCount == b.bitCount &&
         a.pendingMarker == b.pendingMarker && std::equal(a.predictors, a.predictors + 4, b.predictors);
}

// File: seek from the start and refill (an empty refill at the end of the file is the end of the
// data, as for any read); memory: back to the stored offset.
JpegStatus repositionInput(JPEG_PROPERTIES* state, int64_t position) {
  ByteInput* input = &state->input;
  if (input->file != 0) {
    const int64_t consumed = position - state->inputBaseOffset;
    if (consumed < 0 || consumed > UINT32_MAX) return JpegStatus::InternalError;
    int32_t got = 0;
    if (!fileSeek(input->file, position, SeekOrigin::Start) ||
        !fileRead(input->file, input->fileBuffer, kJpegFileBufferSize, &got)) {
      return JpegStatus::FileError;
    }
    input->current = input->fileBuffer;
    input->end = input->fileBuffer + got;
    input->available = static_cast<uint32_t>(got);
    input->consumed = static_cast<uint32_t>(consumed);
    return JpegStatus::Ok;
  }
  if (position < 0 || position > int64_t{input->size}) return JpegStatus::InternalError;
  input->current = input->start + position;
  input->end = input->start + input->size;
  input->available = input->size - static_cast<uint32_t>(position);
  input->consumed = static_cast<uint32_t>(position);
  return JpegStatus::Ok;
}

JpegStatus restoreEntry(JPEG_PROPERTIES* state, ScanRecord* scan, const RestartEntry& entry) {
  const JpegStatus status = repositionInput(state, entry.position);
  if (status != JpegStatus::Ok) return status;
  std::copy(entry.predictors, entry.predictors + 4, scan->lastDc);
  state->input.bits = entry.bits;
  state->input.bitCount = entry.bitCount;
  state->input.pendingMarker = static_cast<uint8_t>(entry.pendingMarker);
  return JpegStatus::Ok;
}

// Entries are saved once, in MCU order; those past the last slot are not kept.
void saveEntry(RegionScan& s) {
  if (s.index == nullptr || s.mcu % s.index->step != 0) return;
  const int64_t slot = s.mcu / s.index->step;
  if (slot >= kRestartIndexEntries || s.index->entries[slot].position >= 0) return;
  s.index->entries[slot] = captureEntry(*s.state, *s.scan);
}

void startIndex(RegionScan& s) {
  RestartIndex* index = s.index;
  for (RestartEntry& entry : index->entries) entry.position = -1;
  index->scan = s.scan;
  index->step = s.interval > 0 ? s.interval : std::max(s.grid.columns, 1);
  index->stopMcu = -1;
  index->entries[0] = captureEntry(*s.state, *s.scan);
}

// A region read that left this very scan in progress, with the input untouched since.
bool continuesRegionRead(const RestartIndex* index, const JPEG_PROPERTIES& state) {
  return index != nullptr && state.scan != nullptr && index->scan == state.scan && index->stopMcu >= 0 &&
         sameEntry(index->stop, captureEntry(state, *state.scan));
}

// Restart after MCU number n (1-based) when n ends an interval: predictors cleared, bits dropped,
// one marker consumed, as the whole-image loop does.
JpegStatus restartAfter(RegionScan& s, int64_t number) {
  if (s.interval == 0 || number % s.interval != 0 || number >= s.total) return JpegStatus::Ok;
  for (int32_t& predictor : s.scan->lastDc) predictor = 0;
  dropBits(s.input);
  if (s.input->pendingMarker != 0) {
    s.input->pendingMarker = 0;
    return JpegStatus::Ok;
  }
  const int32_t marker = nextMarker(s.input);
  return marker < 0 ? static_cast<JpegStatus>(marker) : JpegStatus::Ok;
}

// Huffman-decodes MCU s.mcu into the MCU area (all AC coefficients only when the MCU is kept),
// runs the restart check and moves on.
JpegStatus decodeNextMcu(RegionScan& s, bool keep) {
  const HuffmanDecodeBlockKernel passOver = s.input->kernels->huffmanDecodeDcOnly;
  int16_t* block = reinterpret_cast<int16_t*>(s.state->scratch);
  for (int32_t c = 0; c < s.planCount; ++c) {
    const BlockPlan& plan = s.plans[c];
    const HuffmanDecodeBlockKernel decode = keep ? plan.decodeKept : passOver;
    for (int32_t b = 0; b < plan.blockCount; ++b, block += 64) {
      const int32_t status = decode(s.input, plan.dcTable, plan.acTable, plan.predictor, block);
      if (status < 0) return static_cast<JpegStatus>(status);
    }
  }
  const JpegStatus status = restartAfter(s, s.mcu + 1);
  if (status != JpegStatus::Ok) return status;
  ++s.mcu;
  saveEntry(s);
  return JpegStatus::Ok;
}

// The decoded MCU into the pixels or the planes.
void storeDecodedMcu(RegionScan& s, int32_t column, int32_t row) {
  JPEG_PROPERTIES* state = s.state;
  const bool coefficients = state->blockPlanes != nullptr && state->blockPlanes->mode == 0;
  if (!coefficients) {
    const DequantizeKernel dequantize = s.input->kernels->dequantize;
    int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
    for (int32_t c = 0; c < s.planCount; ++c) {
      for (int32_t b = 0; b < s.plans[c].blockCount; ++b, block += 64) {
        dequantize(block, s.plans[c].quantValues);
        s.plans[c].inverseDct(block);
      }
    }
  }
  if (state->blockPlanes != nullptr) {
    storeMcuInPlanes(*state, *s.scan, column, row);
  } else {
    storeMcuUpsampled(state, column, row, s.grid.columns, s.grid.rows, s.scale);
  }
}

// Passes over the rest of the current restart interval by the RSTn marker that ends it. When the
// marker found is something else, the input goes back to where it was and *skipped stays false.
JpegStatus skipInterval(RegionScan& s, bool* skipped) {
  *skipped = false;
  const RestartEntry before = captureEntry(*s.state, *s.scan);
  dropBits(s.input);
  int32_t marker = s.input->pendingMarker;
  s.input->pendingMarker = 0;
  if (marker == 0) marker = nextMarker(s.input);
  if (marker >= 0xD0 && marker <= 0xD7) {
    for (int32_t& predictor : s.scan->lastDc) predictor = 0;
    s.mcu = (s.mcu / s.interval + 1) * s.interval;
    saveEntry(s);
    *skipped = true;
    return JpegStatus::Ok;
  }
  s.skipByMarkers = false;
  return restoreEntry(s.state, s.scan, before);
}

// Back to the nearest saved entry at or before `target` when that is ahead of the decoder, or
// when the decoder is already past `target`.
JpegStatus restoreNearest(RegionScan& s, int64_t target) {
  if (s.index == nullptr) return JpegStatus::Ok;
  int64_t slot = std::min<int64_t>(target / s.index->step, kRestartIndexEntries - 1);
  while (slot > 0 && s.index->entries[slot].position < 0) --slot;
  const int64_t at = slot * s.index->step;
  if (at <= s.mcu && target >= s.mcu) return JpegStatus::Ok;
  const JpegStatus status = restoreEntry(s.state, s.scan, s.index->entries[slot]);
  if (status == JpegStatus::Ok) s.mcu = at;
  return status;
}

// Brings the decoder to the start of MCU `target` without storing anything.
JpegStatus advanceTo(RegionScan& s, int64_t target) {
  JpegStatus status = restoreNearest(s, target);
  while (status == JpegStatus::Ok && s.mcu < target) {
    if (s.interval > 0 && s.skipByMarkers && (s.mcu / s.interval + 1) * s.interval <= target) {
      bool skipped = false;
      status = skipInterval(s, &skipped);
      if (skipped || status != JpegStatus::Ok) continue;
    }
    status = decodeNextMcu(s, false);
  }
  return status;
}

JpegStatus decodeRange(RegionScan& s, const McuRange& range) {
  for (int32_t row = range.firstRow; row < range.endRow; ++row) {
    JpegStatus status = advanceTo(s, int64_t{row} * s.grid.columns + range.firstColumn);
    for (int32_t column = range.firstColumn; status == JpegStatus::Ok && column < range.endColumn; ++column) {
      status = decodeNextMcu(s, true);
      if (status == JpegStatus::Ok) storeDecodedMcu(s, column, row);
    }
    if (status != JpegStatus::Ok) return status;
  }
  return JpegStatus::Ok;
}

RestartIndex* allocateRestartIndex() {
  return new (std::nothrow) RestartIndex;
}

// Sets up the walk over a sequential scan: a region read continued where the last one stopped,
// or a fresh scan from its first MCU.
JpegStatus beginScan(RegionScan& s, bool keepIndex) {
  if (keepIndex) {
    const JpegStatus status = ensureRestartIndex(s.state, allocateRestartIndex);
    if (status != JpegStatus::Ok) return status;
    s.index = static_cast<RestartIndex*>(s.state->restartIndex);
    if (continuesRegionRead(s.index, *s.state)) {
      s.mcu = s.index->stopMcu;
      s.index->stopMcu = -1;
      return JpegStatus::Ok;
    }
  }
  // The MCUs before the resume point of an interrupted whole-image read are gone from the input.
  if (s.scan->resumeRow != 0 || s.scan->resumeColumn != 0) return JpegStatus::InvalidProperties;
  s.mcu = 0;
  if (s.index != nullptr) startIndex(s);
  return JpegStatus::Ok;
}

// After the region: a scan holding every component stays in progress for the next region (RoiOk);
// otherwise the rest of its data is passed over by the marker search and the next scan follows.
JpegStatus endScan(RegionScan& s) {
  const bool complete = s.scan->componentCount == s.state->componentCount;
  if (s.index == nullptr || !complete) {
    if (s.index != nullptr) s.index->scan = nullptr;
    return JpegStatus::Ok;
  }
  s.index->stopMcu = s.mcu;
  s.index->stop = captureEntry(*s.state, *s.scan);
  s.scan->resumeColumn = static_cast<int32_t>(s.mcu % s.grid.columns);
  s.scan->resumeRow = static_cast<int32_t>(s.mcu / s.grid.columns);
  return JpegStatus::RoiOk;
}

JpegStatus decodeSequentialRegion(JPEG_PROPERTIES* state, int32_t scale) {
  RegionScan s{};
  s.state = state;
  s.input = &state->input;
  s.scan = state->scan;
  s.grid = scanGrid(*state, *s.scan);
  s.total = int64_t{s.grid.columns} * s.grid.rows;
  s.interval = s.scan->restartInterval;
  s.scale = scale;
  s.planCount = planBlocks(*state, s.scan, scale, s.plans);
  if (s.grid.columns < 1 || s.grid.rows < 1) return JpegStatus::InternalError;
  const bool region = regionRequested(state);
  // Planes of the whole image after a region read: from the scan's first MCU.
  JpegStatus status = region ? JpegStatus::Ok : rewindRegionScan(state);
  if (status == JpegStatus::Ok) status = beginScan(s, region);
  if (status != JpegStatus::Ok) return status;
  const McuRange range =
      regionMcuRange(*state, scale, s.grid.mcuWidth, s.grid.mcuHeight, s.grid.columns, s.grid.rows);
  status = decodeRange(s, range);
  if (status != JpegStatus::Ok) {
    if (s.index != nullptr) s.index->scan = nullptr;
    return status;
  }
  return region ? endScan(s) : JpegStatus::Ok;
}

}  // namespace

// --- caller side ------------------------------------------------------------------------------

JpegStatus prepareRegionRead(JPEG_CODEC_PROPERTIES* properties, JpegIoMode mode, int32_t left, int32_t top,
                             int32_t right, int32_t bottom) {
  if (properties == nullptr || properties->state.input.kernels == nullptr)
    return JpegStatus::InvalidProperties;
  const int32_t readMode = static_cast<int32_t>(mode);
  if (!isImageReadMode(readMode)) return JpegStatus::InvalidProperties;
  JpegStatus status = validateProperties(properties, readMode);
  if (status != JpegStatus::Ok) return status;
  if (left < 0 || top < 0 || left >= right || top >= bottom) return JpegStatus::InvalidProperties;

  JPEG_PROPERTIES* state = &properties->state;
  Region region{left, top, right, bottom};
  if (state->noFrameYet == 0) {
    const ImageSize size = scaledImage(*state, scaleOfMode(readMode));
    if (region.left >= size.width || region.top >= size.height) return JpegStatus::InvalidProperties;
    region.right = std::min(region.right, size.width);
    region.bottom = std::min(region.bottom, size.height);
    const int64_t rows =
        properties->pixelHeight < 0 ? -int64_t{properties->pixelHeight} : properties->pixelHeight;
    if (state->blockPlanes == nullptr &&
        (properties->pixelWidth < region.right - region.left || rows < region.bottom - region.top)) {
      return JpegStatus::InvalidProperties;
    }
  }
  copyReadFields(properties, state);
  state->regionOfInterest[0] = static_cast<int32_t>(region.left);
  state->regionOfInterest[1] = static_cast<int32_t>(region.top);
  state->regionOfInterest[2] = static_cast<int32_t>(region.right);
  state->regionOfInterest[3] = static_cast<int32_t>(region.bottom);
  state->regionIsProgress = 0;
  properties->useStateAsIs = 1;
  return JpegStatus::Ok;
}

void clearRegionRead(JPEG_CODEC_PROPERTIES* properties) {
  if (properties == nullptr) return;
  for (int32_t& word : properties->state.regionOfInterest) word = 0;
  properties->state.regionIsProgress = 0;
  properties->useStateAsIs = 0;
}

// --- decoder side -----------------------------------------------------------------------------

McuRange regionMcuRange(const JPEG_PROPERTIES& state, int32_t scale, int32_t mcuWidth, int32_t mcuHeight,
                        int32_t columns, int32_t rows) {
  if (!regionRequested(&state)) return {0, columns, 0, rows};
  const Region region = effectiveRegion(state, scaledImage(state, scale));
  const int64_t spanH = std::max(mcuWidth / scale, 1);
  const int64_t spanV = std::max(mcuHeight / scale, 1);
  const auto clampTo = [](int64_t value, int32_t limit) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, limit));
  };
  McuRange range = {clampTo(region.left / spanH, columns), clampTo(ceilDiv(region.right, spanH), columns),
                    clampTo(region.top / spanV, rows), clampTo(ceilDiv(region.bottom, spanV), rows)};
  // The interpolating upsampler filters with the neighbouring MCUs' samples and stores an MCU only
  // once its right (and lower) neighbour is in: whole MCU rows, one more above and below.
  if (fancyUpsamplingApplies(state, scale)) {
    range = {0, columns, std::max(range.firstRow - 1, 0), std::min(range.endRow + 1, rows)};
  }
  return range;
}

McuRange frameRegionRange(const JPEG_PROPERTIES& state, int32_t scale) {
  const bool oneComponent = state.componentCount == 1;
  const int32_t mcuWidth = oneComponent ? 8 : 8 * state.maxHorizontalFactor;
  const int32_t mcuHeight = oneComponent ? 8 : 8 * state.maxVerticalFactor;
  const int32_t columns = static_cast<int32_t>(ceilDiv(state.imageWidth, mcuWidth));
  const int32_t rows = static_cast<int32_t>(ceilDiv(state.imageHeight, mcuHeight));
  return regionMcuRange(state, scale, mcuWidth, mcuHeight, columns, rows);
}

bool regionRequested(const JPEG_PROPERTIES* state) {
  const int32_t* r = state->regionOfInterest;
  if (state->regionIsProgress != 0 || isAllZero(r)) return false;
  const ImageSize size = scaledImage(*state, scaleOfMode(state->ioMode));
  const bool wholeWidth = r[2] == 0 || r[2] >= size.width;
  const bool wholeHeight = r[3] == 0 || r[3] >= size.height;
  // A negative corner is cut back to the image at the scan start rather than shifting the output.
  return !(wholeWidth && wholeHeight && r[0] == 0 && r[1] == 0);
}

JpegStatus decodeRegionScan(JPEG_PROPERTIES* state, int32_t scale) {
  if (state->scan == nullptr || state->components == nullptr) return JpegStatus::InternalError;
  if (regionRequested(state)) {
    const JpegStatus status = settleRegion(state, scale);
    if (status != JpegStatus::Ok) return status;
  }
  if (state->blockPlanes == nullptr && scale == 1 && state->input.kernels->storeMcu == nullptr) {
    return JpegStatus::InvalidProperties;
  }
  // Each region read feeds the upsampler every row it filters with, so it starts afresh.
  const JpegStatus status = startFancyUpsampling(state, scale);
  if (status != JpegStatus::Ok) return status;
  if (state->progressive != 0) return decodeProgressiveScan(state, &state->input, state->scan, scale);
  return decodeSequentialRegion(state, scale);
}

JpegStatus rewindRegionScan(JPEG_PROPERTIES* state) {
  RestartIndex* index = static_cast<RestartIndex*>(state->restartIndex);
  if (!continuesRegionRead(index, *state)) return JpegStatus::Ok;
  index->stopMcu = -1;
  index->scan = nullptr;
  state->scan->resumeColumn = 0;
  state->scan->resumeRow = 0;
  return restoreEntry(state, state->scan, index->entries[0]);
}

JpegStatus ensureRestartIndex(JPEG_PROPERTIES* state, RestartIndexAllocator allocate) {
  if (state->restartIndex != nullptr) return JpegStatus::Ok;
  RestartIndex* index = allocate();
  if (index == nullptr) return JpegStatus::MemoryError;
  index->scan = nullptr;
  index->step = 1;
  index->stopMcu = -1;
  state->restartIndex = index;
  return JpegStatus::Ok;
}

void releaseRestartIndex(JPEG_PROPERTIES* state) {
  delete static_cast<RestartIndex*>(state->restartIndex);
  state->restartIndex = nullptr;
}
