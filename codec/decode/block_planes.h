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

#include "codec/decode/frame_geometry.h"
#include "codec/jpeg.h"
#include "codec/jpeg_region.h"  // blockPlaneSize

// Copies the blocks of the MCU at (column, row) of `scan`'s grid, as they stand in the MCU area
// (state->scratch), into their planes.
void storeMcuInPlanes(const JPEG_PROPERTIES& state, const ScanRecord& scan, int32_t column, int32_t row);

// Progressive images: the planes from the coefficient buffer, for the frame MCUs in `range`.
// Samples are dequantised and transformed with the kernels the scans selected.
void fillPlanesFromCoefficients(const JPEG_PROPERTIES& state, const McuRange& range);
