// Geometry of a frame, derived once from its header: the sampling factors as the blocks are
// coded, the MCU grid, each component's block grid and the layout of the progressive
// coefficient buffer. Every stage that needs one of these reads it from here instead of working
// it out again from the header fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/int_math.h"
#include "codec/jpeg.h"

inline constexpr int32_t kBlockSide = 8;
inline constexpr int32_t kBlockValues = 64;
inline constexpr size_t kBlockBytes = kBlockValues * sizeof(int16_t);

// Sampling factors as the blocks are coded: a one-component frame is never interleaved, so
// whatever its header says its MCU is one block (1x1). Factors below 1 count as 1, so that a
// record filled by hand cannot divide by zero.
struct CodedSampling {
  int32_t count = 0;  // components, clamped to 0..4
  int32_t h[4] = {1, 1, 1, 1};
  int32_t v[4] = {1, 1, 1, 1};
  int32_t maxH = 1;
  int32_t maxV = 1;
};
CodedSampling codedSampling(const JPEG_PROPERTIES& state);

// Square sampling: a frame of two or more components whose components all have equal factors,
// each 1 or 2, not all 1. Such a frame's one-block components take the next larger inverse
// transform in scaled decoding, so that their samples come out at the size of the others' after
// upsampling.
bool hasSquareSampling(const JPEG_PROPERTIES* state);

struct ComponentGeometry {
  int32_t h = 1;  // coded factors
  int32_t v = 1;
  int32_t firstBlock = 0;    // of the component within a frame MCU
  int32_t blockColumns = 0;  // blocks of the component that lie inside the image: the grid a
  int32_t blockRows = 0;     // one-component scan walks
  int32_t blockWidth = 0;    // full-size pixels one of its blocks covers
  int32_t blockHeight = 0;
  bool oneBlock = false;  // one block per frame MCU (header factors 1x1)
};

struct FrameGeometry {
  int32_t componentCount = 0;
  int32_t maxH = 1;  // coded factors
  int32_t maxV = 1;
  int32_t mcuWidth = kBlockSide;  // full-size pixels of a frame MCU
  int32_t mcuHeight = kBlockSide;
  int32_t mcusPerRow = 0;
  int32_t mcuRows = 0;
  int32_t blocksPerMcu = 0;
  bool squareSampling = false;
  ComponentGeometry components[4];

  // Blocks of the progressive coefficient buffer: MCU after MCU, row by row; within an MCU the
  // blocks of each component in frame order, each component's h x v blocks in raster order.
  size_t coefficientBlocks() const {
    return static_cast<size_t>(blocksPerMcu) * static_cast<size_t>(mcusPerRow) * static_cast<size_t>(mcuRows);
  }
  size_t mcuIndex(int32_t column, int32_t row) const {
    return static_cast<size_t>(row) * static_cast<size_t>(mcusPerRow) + static_cast<size_t>(column);
  }
  // Buffer index of block (x, y) of component c's own grid.
  size_t componentBlockIndex(int32_t c, int32_t x, int32_t y) const {
    const ComponentGeometry& g = components[c];
    const int32_t mcuColumn = x / g.h;
    const int32_t mcuRow = y / g.v;
    return mcuIndex(mcuColumn, mcuRow) * static_cast<size_t>(blocksPerMcu) +
           static_cast<size_t>(g.firstBlock) +
           static_cast<size_t>((y - mcuRow * g.v) * g.h + (x - mcuColumn * g.h));
  }
};

// A frame header has been read into `state` (components, size, factors 1..4).
bool hasUsableFrame(const JPEG_PROPERTIES& state);

// The geometry of the frame in `state`; all zero counts when hasUsableFrame is false.
FrameGeometry describeFrame(const JPEG_PROPERTIES& state);

// The geometry the last frame header left in the record (derived there; see readFrameHeader).
const FrameGeometry& frameGeometry(const JPEG_PROPERTIES& state);

// Derives the geometry of the frame header just read and keeps it in the record.
void storeFrameGeometry(JPEG_PROPERTIES* state);

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
