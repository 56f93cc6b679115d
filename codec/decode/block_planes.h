// The read side of blockPlanes: decoded blocks go into the caller's per-component planes instead
// of the pixel buffer, in the layout the encoder reads them from (see JpegBlockPlanes in
// codec/jpeg.h), so that coefficients read here and written back by jpegWrite give the same image.
//
// Mode 0: each block's quantised coefficients (natural order, before dequantisation).
// Mode nonzero: the block's samples 0..255 after the full-size inverse transform, whatever the
// mode's scale (the planes have the full-size layout).
// A component whose plane address is null is not stored. With a region of interest only the
// blocks of the MCUs that cover the region are written; the rest of the planes is left alone.
// Progressive images fill the planes from the coefficient buffer once the last scan has been read.
#pragma once

#include <cstdint>

#include "codec/decode/region_decoder.h"
#include "codec/jpeg.h"

// Values per row and rows of the plane of frame component `component` (frame known):
// (MCUs per row x h x 8) by (MCU rows x v x 8). A one-component frame counts as 1x1 with 8x8
// MCUs, as it is coded. {0, 0} for a component the frame does not have.
struct BlockPlaneSize {
  int32_t width;
  int32_t height;
};
BlockPlaneSize blockPlaneSize(const JPEG_PROPERTIES& state, int32_t component);

// Copies the blocks of the MCU at (column, row) of `scan`'s grid, as they stand in the MCU area
// (state->scratch), into their planes.
void storeMcuInPlanes(const JPEG_PROPERTIES& state, const ScanRecord& scan, int32_t column, int32_t row);

// Progressive images: the planes from the coefficient buffer, for the frame MCUs in `range`.
// Samples are dequantised and transformed with the kernels the scans selected.
void fillPlanesFromCoefficients(const JPEG_PROPERTIES& state, const McuRange& range);
