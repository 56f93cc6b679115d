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

#include "codec/jpeg.h"
#include "codec/jpeg_region.h"

// --- decoder side -----------------------------------------------------------------------------

// MCUs [firstColumn, endColumn) x [firstRow, endRow) of a scan's MCU grid.
struct McuRange {
  int32_t firstColumn;
  int32_t endColumn;
  int32_t firstRow;
  int32_t endRow;

  bool contains(int32_t column, int32_t row) const {
    return column >= firstColumn && column < endColumn && row >= firstRow && row < endRow;
  }
};

// The range covering the region in a grid of `columns` x `rows` MCUs of mcuWidth x mcuHeight
// full-size pixels, at scale 1/`scale`: first = left / (mcuWidth / scale), end = ceiling(right /
// (mcuWidth / scale)), rows likewise. Where upsamplingMode 1 filters (its output lags one MCU and
// reads the neighbouring MCUs' samples) the range is whole MCU rows, one more above and below.
// The whole grid when no region is requested.
McuRange regionMcuRange(const JPEG_PROPERTIES& state, int32_t scale, int32_t mcuWidth, int32_t mcuHeight,
                        int32_t columns, int32_t rows);

// The range over the frame's MCUs (as the progressive coefficient buffer counts them).
McuRange frameRegionRange(const JPEG_PROPERTIES& state, int32_t scale);

// The region fields ask for less than the whole image at the mode's scale (and are not an
// interrupted decode's progress). A negative corner counts as a request: the scan start cuts it
// back to the image, and a region that is then the whole image is read as such (status 0).
bool regionRequested(const JPEG_PROPERTIES* state);

// Scan start for a region read or a read into blockPlanes. Clamps the region to the scaled image
// (InvalidProperties when nothing is left, or when the pixel buffer cannot hold it), then decodes
// the scan: sequential scans through the region loop (0, or RoiOk when the region is complete and
// the scan stays in progress), progressive scans through the progressive decoder, which renders
// only the region. MemoryError when the restart index cannot be had, FileError when repositioning
// the file fails.
JpegStatus decodeRegionScan(JPEG_PROPERTIES* state, int32_t scale);

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
