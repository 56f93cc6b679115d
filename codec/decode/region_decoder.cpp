#include "codec/decode/region_decoder.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "codec/decode/byte_input.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_plan.h"
#include "codec/decode/sequential_stage.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/validation.h"

namespace {

// --- the region in pixels of the scaled image -------------------------------------------------

int64_t bufferRows(const JPEG_PROPERTIES& state) {
  return state.pixelHeight < 0 ? -int64_t{state.pixelHeight} : state.pixelHeight;
}

// --- the scan being read ------------------------------------------------------------------------

struct RegionScan {
  JPEG_PROPERTIES* state;
  ByteInput* input;
  ScanRecord* scan;
  const ScanPlan* plan;
  RestartIndex* index;        // null when no index is kept (block planes of the whole image)
  int64_t mcu;                // next MCU to decode, counted in raster order
  bool skipByMarkers = true;  // cleared once a restart interval did not end in RSTn

  ScanWalk walk() const { return {state, input, scan, plan}; }
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
  index->step = s.plan->restartInterval > 0 ? s.plan->restartInterval : std::max(s.plan->columns, 1);
  index->stopMcu = -1;
  index->entries[0] = captureEntry(*s.state, *s.scan);
}

// A region read that left this very scan in progress, with the input untouched since.
bool continuesRegionRead(const RestartIndex* index, const JPEG_PROPERTIES& state) {
  return index != nullptr && state.scan != nullptr && index->scan == state.scan && index->stopMcu >= 0 &&
         sameEntry(index->stop, captureEntry(state, *state.scan));
}

// The walker stage of a region read: the sequential stage, with the decoder's position counted
// and the restart index kept up to date after each MCU.
struct RegionStage {
  SequentialStage mcus;
  RegionScan* region;

  JpegStatus decode(int32_t column, int32_t row) { return mcus.decode(column, row); }
  bool output(int32_t column, int32_t row, int64_t number) {
    region->mcu = number;
    saveEntry(*region);
    return mcus.output(column, row, number);
  }
  bool rowDone(int32_t row) { return mcus.rowDone(row); }
};

// MCUs [s.mcu, end) decoded; stored when `keep`.
JpegStatus walkTo(RegionScan& s, int64_t end, bool keep) {
  RegionStage stage{{s.walk(), keep}, &s};
  return walkMcus(s.walk(), s.mcu, end, stage).error;
}

// Passes over the rest of the current restart interval by the RSTn marker that ends it. When the
// marker found is something else, the input goes back to where it was and *skipped stays false.
JpegStatus skipInterval(RegionScan& s, bool* skipped) {
  *skipped = false;
  const RestartEntry before = captureEntry(*s.state, *s.scan);
  dropBits(s.input);
  if (nextMarker(s.input).isRestart()) {
    for (int32_t& predictor : s.scan->lastDc) predictor = 0;
    s.mcu = (s.mcu / s.plan->restartInterval + 1) * s.plan->restartInterval;
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

// Brings the decoder to the start of MCU `target` without storing anything: whole restart
// intervals are passed over by their RSTn markers while they end in one, the rest is decoded.
JpegStatus advanceTo(RegionScan& s, int64_t target) {
  JpegStatus status = restoreNearest(s, target);
  const int64_t interval = s.plan->restartInterval;
  while (status == JpegStatus::Ok && s.mcu < target && interval > 0 && s.skipByMarkers &&
         (s.mcu / interval + 1) * interval <= target) {
    bool skipped = false;
    status = skipInterval(s, &skipped);
    if (!skipped) break;
  }
  if (status != JpegStatus::Ok) return status;
  return walkTo(s, target, false);
}

JpegStatus decodeRange(RegionScan& s, const McuRange& range) {
  const int64_t columns = s.plan->columns;
  for (int32_t row = range.firstRow; row < range.endRow; ++row) {
    JpegStatus status = advanceTo(s, row * columns + range.firstColumn);
    if (status == JpegStatus::Ok && range.firstColumn < range.endColumn) {
      status = walkTo(s, row * columns + range.endColumn, true);
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

// After the region: a scan holding every component stays in progress for the next region (true);
// otherwise the rest of its data is passed over by the marker search and the next scan follows.
bool endScan(RegionScan& s) {
  const bool complete = s.scan->componentCount == s.state->componentCount;
  if (s.index == nullptr || !complete) {
    if (s.index != nullptr) s.index->scan = nullptr;
    return false;
  }
  s.index->stopMcu = s.mcu;
  s.index->stop = captureEntry(*s.state, *s.scan);
  s.scan->resumeColumn = static_cast<int32_t>(s.mcu % s.plan->columns);
  s.scan->resumeRow = static_cast<int32_t>(s.mcu / s.plan->columns);
  return true;
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
  PixelBox region{left, top, right, bottom};
  if (state->noFrameYet == 0) {
    const PixelBox size = scaledImage(*state, scaleOfMode(readMode));
    if (region.left >= size.right || region.top >= size.bottom) return JpegStatus::InvalidProperties;
    region.right = std::min(region.right, size.right);
    region.bottom = std::min(region.bottom, size.bottom);
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

JpegStatus settleRegion(JPEG_PROPERTIES* state, int32_t scale) {
  if (!regionRequested(state)) return JpegStatus::Ok;
  const PixelBox size = scaledImage(*state, scale);
  PixelBox region = requestedRegion(*state, scale);
  region.left = std::max<int64_t>(region.left, 0);
  region.top = std::max<int64_t>(region.top, 0);
  region.right = std::min(region.right, size.right);
  region.bottom = std::min(region.bottom, size.bottom);
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

ScanResult decodeSequentialRegion(JPEG_PROPERTIES* state, const ScanPlan& plan) {
  if (plan.columns < 1 || plan.rows < 1) return {JpegStatus::InternalError};
  RegionScan s{};
  s.state = state;
  s.input = &state->input;
  s.scan = state->scan;
  s.plan = &plan;
  const bool region = regionRequested(state);
  // Planes of the whole image after a region read: from the scan's first MCU.
  JpegStatus status = region ? JpegStatus::Ok : rewindRegionScan(state);
  if (status == JpegStatus::Ok) status = beginScan(s, region);
  if (status != JpegStatus::Ok) return {status};
  status = decodeRange(s, plan.range);
  if (status != JpegStatus::Ok) {
    if (s.index != nullptr) s.index->scan = nullptr;
    return {status};
  }
  return {JpegStatus::Ok, region && endScan(s) ? ScanOutcome::RegionComplete : ScanOutcome::Finished};
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
