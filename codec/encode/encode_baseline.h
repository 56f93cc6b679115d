// The baseline encoder: frame and scan headers, the MCU loop with optional restart markers
// and an interruption point after every MCU, EOI.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

// Writes SOF0, DRI, SOS (unless resuming the scan kept in state->scan), codes the MCUs, then
// EOI. Returns Ok, InterruptOk (the scan record stays in `state` for the next call) or an
// error (the scan record is released).
JpegStatus encodeBaseline(JPEG_PROPERTIES* state);

// The MCU loops, from the scan's resume position to the end of the image.
JpegStatus encodeMcus(JPEG_PROPERTIES* state, ByteInput* writer, ScanRecord* scan);
JpegStatus encodeMcusWithRestarts(JPEG_PROPERTIES* state, ByteInput* writer, ScanRecord* scan);

// Fills the scratch area with the blocks of MCU (column, row): from the caller's block
// planes when set (samples clamped to 0..255 and level-shifted, or coefficients clamped to
// the baseline range), else through the convertMcu slot. Sets *coefficients when the blocks
// are already quantised coefficients.
JpegStatus fillMcuBlocks(JPEG_PROPERTIES* state, int32_t column, int32_t row, bool* coefficients);
