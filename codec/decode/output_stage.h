// The decoder's output stage: turns the transformed blocks of one MCU (the McuSampleBuffer in
// state->scratch) into the caller's pixels — destination and clipping, upsampling, colour
// conversion and channel placement — and the frame set-up that picks the store routine.
//
// Entry points for the decoder driver: runFrameSetUp (after a frame header, at each scan header
// and whenever the pixel side may have changed), the kernel table's storeMcu at full size,
// storeScaledMcu at 1/2, 1/4 and 1/8 scale, and runFinalConversion at the end of an image that
// was stored component by component.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"
#include "codec/kernel_table.h"

// --- frame set-up -----------------------------------------------------------------------------

// Derives colorConversionNeeded, samplingNeeded and the MCU geometry (mcuWidth, mcuHeight,
// mcusPerRow, mcuRows), then stores the store routine in the kernel table's storeMcu and its
// code in outputConversion. Statuses:
//   ComponentError          no components, or more than four;
//   UnsupportedSubsampling  a component's factors do not divide the largest ones (replication
//                           needs integer ratios);
//   InvalidProperties       a three-component YCbCr JPEG to YCbCr pixels other than H2V1, a pixel
//                           size below one byte, or — in the image-decoding modes — a pairing of
//                           JPEG and pixels for which no store routine exists (storeMcu stays
//                           null; parameter, table and thumbnail reads are not refused for it).
JpegStatus runFrameSetUp(JPEG_PROPERTIES* state);

// Codes recorded in outputConversion for the dedicated routines (0 for every other routine).
inline constexpr int32_t kOutputCodeNone = 0;

// --- store routines (StoreMcuRoutine: state, MCU column, MCU row) -------------------------------
// Each returns 0, or InvalidProperties (-8) when the MCU lies wholly outside the region of
// interest (nothing is written; the decoder goes on with the next MCU).

// All components 1x1: channel placement without expansion.
int32_t storeMcuCopy(JPEG_PROPERTIES* state, int32_t column, int32_t row);
// Any sampling: each component expanded to the MCU size, then placed in its channel. In a scan
// holding only some of the frame's components only their channels are written.
int32_t storeMcuGeneral(JPEG_PROPERTIES* state, int32_t column, int32_t row);
// storeMcuGeneral followed by the in-place colour conversion of the stored rectangle.
int32_t storeMcuGeneralConverted(JPEG_PROPERTIES* state, int32_t column, int32_t row);
// Single-component scans into packed 4:2:2 pixels (two bytes: Y, then Cb or Cr).
int32_t storeScanPacked(JPEG_PROPERTIES* state, int32_t column, int32_t row);

// The dedicated routine that runs the given whole-MCU kernel of the table (8x8, 16x8 or 16x16
// MCU, partial counterpart per quadrant at the edges), or null for a member that is not one of
// the nineteen conversion kernels.
StoreMcuRoutine dedicatedStoreRoutine(ConvertMcuKernel KernelTable::*kernel);

// --- scaled decoding and the final pass ----------------------------------------------------------

// Stores one MCU of a 1/2, 1/4 or 1/8 scale decode: blocks of `blockSize` (4, 2, 1) samples, the
// one-block components of a square-sampled frame at twice that; general routine, then the
// in-place conversion when the MCU carries every component and conversion is needed.
void storeScaledMcu(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t blockSize);

// Converts the whole stored area (the pixel buffer, or the region of interest) in place, rows
// from the last to the first. Does nothing unless colorConversionNeeded is set.
void runFinalConversion(JPEG_PROPERTIES* state);

// --- destination and clipping ---------------------------------------------------------------------

// Where an MCU of width x height pixels at (column, row) lands: `status` 0 or -8 (outside the
// region); `rect` the MCU-local rectangle to write; `destination` the address of the MCU's
// top-left pixel, null when nothing is to be written. With a region the destination may lie
// before the first pixel of the buffer; only pixels inside `rect` are ever addressed.
struct McuPlacement {
  int32_t status;
  uint8_t* destination;
  PixelRect rect;
};
McuPlacement placeMcu(const JPEG_PROPERTIES& state, int32_t column, int32_t row, int32_t width,
                      int32_t height);
