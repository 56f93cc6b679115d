// Region-of-interest decoding: only the MCUs that cover a rectangle of the (scaled) image are
// stored, into a pixel buffer that holds just that rectangle, and a restart index lets a later
// region of the same scan start at a restart point instead of at the first MCU.
//
// The caller side, prepareRegionRead and clearRegionRead, is declared in codec/jpeg_region.h.
//
// What prepareRegionRead sets, for callers that fill `state` themselves (useStateAsIs nonzero):
// everything a normal read copies from the public fields (pixel fields, lineStride and the
// bottom-up working pixelData, jpegFileName, jpegBuffer, jpegBufferSize, jpegColor,
// colorConversionNeeded, samplingNeeded, quality), then regionOfInterest = {left, top, right,
// bottom} and regionIsProgress = 0.
//
// In `state` a right or bottom of 0 stands for the image's edge.
//
// With restart intervals the decoder passes over the intervals before the region by their RSTn
// markers; without them it decodes from the first MCU (or from the nearest row it has seen
// before) and stores only the region's MCUs. A sequential image whose scan holds every component
// stops after the region's last MCU and keeps the scan in progress for the next region; other
// images (one scan per component, progressive) are read to the end, storing only the region.
// Region reads do not poll interruptRequest.
#pragma once

#include <cstdint>

#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_plan.h"
#include "codec/jpeg.h"
#include "codec/jpeg_region.h"

// --- decoder side -----------------------------------------------------------------------------

// Scan start of a region read: clamps the region fields to the image at scale 1/`scale` and
// stores them back (InvalidProperties when nothing is left, or when the pixel buffer cannot hold
// the region). Nothing to do without a region.
JpegStatus settleRegion(JPEG_PROPERTIES* state, int32_t scale);

// A sequential scan read into a region or into blockPlanes: the plan's MCU range is decoded,
// intervals and rows before it passed over with the restart index's help. RegionComplete when a
// scan holding every component stays in progress for the next region. MemoryError when the
// restart index cannot be had, FileError when repositioning the file fails.
ScanResult decodeSequentialRegion(JPEG_PROPERTIES* state, const ScanPlan& plan);

// Before a whole-image read of a scan that a region read left in progress: back to the scan's
// first MCU (0, or FileError).
JpegStatus rewindRegionScan(JPEG_PROPERTIES* state);

// --- restart index ------------------------------------------------------------------------------

inline constexpr int32_t kRestartIndexEntries = 8192;

// Decoder state at an MCU boundary: enough to resume a sequential scan there.
struct RestartEntry {
  int64_t position;  // next input byte: file offset, or offset in the memory buffer; -1 = not saved
  int32_t predictors[4];
  uint64_t bits;
  int32_t bitCount;
  int32_t pendingMarker;
};
static_assert(sizeof(RestartEntry) == 40, "restart entries are 40 bytes");

// Entry k holds the state before MCU k * step (step = the restart interval, or one MCU row when
// the scan has none). Entries past the last one are not saved; the scan is then resumed from the
// last one.
struct RestartIndex {
  RestartEntry entries[kRestartIndexEntries];
  const ScanRecord* scan;  // the scan the entries describe; null when none
  int64_t step;
  int64_t stopMcu;  // next MCU of a region read that left the scan in progress; -1 when none
  RestartEntry stop;
};

using RestartIndexAllocator = RestartIndex* (*)();

// The record's index, allocated on first use with `allocate` and kept until jpegFree.
// MemoryError when the allocation fails.
JpegStatus ensureRestartIndex(JPEG_PROPERTIES* state, RestartIndexAllocator allocate);

void releaseRestartIndex(JPEG_PROPERTIES* state);
