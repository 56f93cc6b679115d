// Caller-facing extras of the Meshwick JPEG codec, beside jpeg.h: reading a region of an image,
// and the block planes through which a caller reads or writes a frame's coefficients or samples.
//
// Region reads (status RoiOk, 2):
//   1. jpegInit, set jpegFileName or jpegBuffer/jpegBufferSize, jpegRead in a parameters mode;
//   2. describe a pixel buffer of the region's size in the public fields (pixelData, pixelWidth,
//      pixelHeight, pixelPadBytes, pixelChannels, pixelColor, pixelSubsampling);
//   3. prepareRegionRead(record, mode, left, top, right, bottom), mode being the image mode the
//      read will use (2, 3, 6, 7, 14..19);
//   4. jpegRead(record, mode): 2 on success; the buffer's pixel (0, 0) is image pixel (left, top).
// Further regions: repeat 2 to 4 on the same record. clearRegionRead returns the record to whole
// reads (the next image read decodes the whole image again). jpegFree releases what the region
// reads kept.
//
// Coordinates are pixels of the image at the mode's scale (the image the mode would produce),
// right and bottom exclusive.
//
// Block planes: set state.blockPlanes (with useStateAsIs) to a JpegBlockPlanes whose planes are
// each as large as blockPlaneSize says; an image read then fills them instead of the pixel buffer
// (mode 0: quantised coefficients; nonzero: samples after the full-size inverse transform), and
// jpegWrite codes its blocks from them.
#pragma once

#include <cstdint>

#include "jpeg.h"

// Validates the record as jpegRead would for `mode` (an image-decoding mode), copies the public
// fields into `state`, sets the region and useStateAsIs. InvalidProperties when the mode does not
// decode an image, the region is empty or has a negative corner, or (once the frame is known) the
// region starts outside the scaled image or the pixel buffer cannot hold it (right and bottom
// beyond the image are cut back to it); any status of the usual validation otherwise.
JpegStatus prepareRegionRead(JPEG_CODEC_PROPERTIES* properties, JpegIoMode mode, int32_t left, int32_t top,
                             int32_t right, int32_t bottom);

// Back to whole-image reads: region cleared, useStateAsIs 0.
void clearRegionRead(JPEG_CODEC_PROPERTIES* properties);

// Values per row and rows of the plane of frame component `component` (frame known):
// (MCUs per row x h x 8) by (MCU rows x v x 8). A one-component frame counts as 1x1 with 8x8
// MCUs, as it is coded. {0, 0} for a component the frame does not have.
struct BlockPlaneSize {
  int32_t width;
  int32_t height;
};
BlockPlaneSize blockPlaneSize(const JPEG_PROPERTIES& state, int32_t component);
