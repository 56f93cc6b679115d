// The output-stage entry points the decoder driver calls.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"
#include "codec/kernel_types.h"

// Frame set-up: colour-conversion and sampling flags, MCU geometry, and the store routine in the
// kernel table's storeMcu member. Run after a frame header and whenever a later call or segment
// may have changed the pixel side.
JpegStatus runFrameSetUp(JPEG_PROPERTIES* state);

// Stores one transformed MCU of a scaled decode (blocks of `blockSize` samples, 4, 2 or 1).
void storeScaledMcu(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t blockSize);

// Converts the stored pixels in place once a component-by-component image is complete.
void runFinalConversion(JPEG_PROPERTIES* state);

// One of the general store routines (each component expanded to the MCU, then placed), the ones
// that take their samples from the interpolating upsampler's ring while it is live.
bool isGeneralStoreRoutine(StoreMcuRoutine routine);

// How every MCU of the current frame stored at `blockSize` (8, 4, 2, 1) leaves the general store
// routines when the interpolating upsampler's ring is live: converted straight from the ring as
// `pixels`, MCUs of width x height pixels. False when they go another way.
struct StraightFromRing {
  FancyPixels pixels;
  int32_t width;
  int32_t height;
};
bool storesStraightFromRing(const JPEG_PROPERTIES& state, int32_t blockSize, StraightFromRing* store);

// Where such an MCU at (column, row) lands: its top-left pixel, with `rect` the MCU-local
// rectangle to write; null when nothing of it is written.
uint8_t* placeStraightMcu(const JPEG_PROPERTIES& state, const StraightFromRing& store, int32_t column,
                          int32_t row, PixelRect* rect);
