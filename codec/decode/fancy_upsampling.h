// Interpolating upsampling (upsamplingMode 1): the triangle filter for 2:1 factors.
//
// The filter needs each sample's neighbours, which may lie in the next MCU column or row. The
// decoder therefore copies every transformed MCU into `upsamplingRows`, a ring of three MCU rows
// of samples per component (previous, current, next), and stores an MCU only once its right (and,
// with a vertical factor of 2, lower) neighbour has been decoded: the output lags one MCU column,
// and one MCU row when maxV = 2. The lagging MCUs are stored at the end of each row and of the
// image. While the ring is live the general store routines take all samples from it. The ring
// starts with its geometry and the scale it was laid out for; a read at another scale leaves it
// alone. YCbCr frames to RGB, BGR or 4-byte pixels go through the kernel table's row kernels,
// which filter and convert in one pass; other layouts expand into planes first.
//
// Decoding with maxH = 2 and maxV <= 2 through the general store routines uses the ring, at full
// size with 8x8 blocks and at 1/2, 1/4 and 1/8 scale with blocks of 4, 2 and 1 samples. A
// square-sampled frame at a reduced scale needs no expansion (its one-block components take the
// larger transform), and every other layout replicates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/decode/frame_geometry.h"
#include "codec/jpeg.h"
#include "codec/kernel_types.h"

// Whether a decode of the current frame and store routine at `scale` filters through the ring.
bool fancyUpsamplingApplies(const JPEG_PROPERTIES& state, int32_t scale);

// At the start of a scan (not on resuming one): releases the previous ring and, when the filter
// applies, allocates a new one. Ok, or MemoryError.
JpegStatus startFancyUpsampling(JPEG_PROPERTIES* state, int32_t scale);

// Hands the transformed MCU (column, row) of a scan `columns` x `rows` MCUs, decoded at `scale`,
// to the output (storeMcu at full size, storeScaledMcu otherwise): stored at once without a ring,
// else kept in the ring. An MCU becomes storable once its right (and lower) neighbour is in; those
// are held back and written a run of an MCU row at a time, at the end of each row (the lagging
// row too after the scan's last MCU) and whenever storeHeldBackMcus is called.
void storeMcuUpsampledByRows(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t columns,
                             int32_t rows, int32_t scale);

// Whether the `blocks` blocks of an MCU of MCU row `row` at scale 1/`scale`, all taken by
// `transform`, can be transformed straight into a live ring: at full size, with a row-writing twin
// of the transform, the blocks the ring's layout expects.
bool ringTakesTransformedBlocks(JPEG_PROPERTIES* state, InverseDctKernel transform, int32_t blocks,
                                int32_t row, int32_t scale);

// After ringTakesTransformedBlocks said so for the row: transforms the dequantised blocks of the
// MCU area into the ring, then goes on as storeMcuUpsampledByRows.
void transformIntoRingByRows(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t columns,
                             int32_t rows);

// The MCU area's `count` blocks, block i dequantised by `dequantize` with steps[i].quantValues
// (null: dequantised already) and transformed by steps[i].inverseDct straight into the ring, then
// handed on as storeMcuUpsampledByRows does: the bytes the transform in place and the copy give.
// False (nothing done) where the ring cannot take them. Step is any type with those two members.
template <typename Step>
bool transformMcuIntoRing(JPEG_PROPERTIES* state, const Step* steps, int32_t count,
                          DequantizeKernel dequantize, int32_t column, int32_t row, int32_t columns,
                          int32_t rows, int32_t scale) {
  if (count < 1) return false;
  const InverseDctKernel transform = steps[0].inverseDct;
  for (int32_t i = 1; i < count; ++i) {
    if (steps[i].inverseDct != transform) return false;
  }
  if (!ringTakesTransformedBlocks(state, transform, count, row, scale)) return false;
  if (dequantize != nullptr) {
    int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
    for (int32_t i = 0; i < count; ++i, block += kBlockValues) dequantize(block, steps[i].quantValues);
  }
  transformIntoRingByRows(state, column, row, columns, rows);
  return true;
}

// Stores the MCUs storeMcuUpsampledByRows holds back. Called before anything looks at the
// output of a scan in progress: when an interrupt is taken and when a walk over MCUs ends.
void storeHeldBackMcus(JPEG_PROPERTIES* state);

// The last MCU already stored when (column, row) has just been handed over: false when none is.
bool lastStoredMcu(const JPEG_PROPERTIES& state, int32_t column, int32_t row, int32_t columns,
                   int32_t* storedColumn, int32_t* storedRow);

// One component of the MCU being stored, as the general routines lay it out.
struct FancyComponent {
  int32_t frameIndex;
  int32_t blocksAcross;  // blocks of the component in the MCU
  int32_t blocksDown;
  int32_t samples;  // per block side
  int32_t spanH;    // pixels one block covers
  int32_t spanV;
};

// True when the ring is live: then the component's plane of MCU (column, row) has been filled from
// it (32-byte rows), filtered where the component's ratio is 2:1.
bool expandFromRing(const JPEG_PROPERTIES& state, const FancyComponent& component, int32_t column,
                    int32_t row, uint8_t* plane, int32_t planeStride);

// The pixels inside `rect` (MCU-local, as placeMcu gives it) of MCU (column, row) of a
// three-component frame with 2x1 or 2x2 luminance and 1x1 chroma, filtered and converted straight
// from the ring into the rows at `destination` by the kernel table's row kernels: the bytes the
// planes of expandFromRing and the in-place YCbCr conversion give. False (nothing written) for
// any other layout, or a rectangle starting on an odd column.
bool storeFancyYccDirect(const JPEG_PROPERTIES& state, int32_t column, int32_t row, FancyPixels pixels,
                         uint8_t* destination, ptrdiff_t stride, const PixelRect& rect);
