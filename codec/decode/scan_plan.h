// The plan of one scan, built once when the scan starts and read by every stage after it: the
// scan's MCU grid, for each block of its MCU the tables, block decoder and inverse transform,
// the restart and interrupt policies, and which MCUs reach the output.
#pragma once

#include <cstdint>

#include "codec/decode/frame_geometry.h"
#include "codec/jpeg.h"
#include "codec/kernel_table.h"

// Blocks in one MCU: four components of up to 4x4 blocks (the MCU area holds as many).
inline constexpr int32_t kMaxMcuBlocks = 64;

// What follows the end of a restart interval.
enum class RestartPolicy : uint8_t {
  // Sequential scans take whichever marker ends the interval, or none when the data has ended:
  // each interval is decoded from fresh predictors, so a damaged or missing RSTn costs at most
  // the interval it ends, and a cut-off stream still decodes to its end from zero bits.
  AnyMarker,
  // Progressive scans refine coefficients that earlier scans built up: bits read from the wrong
  // place would corrupt good coefficients all over the image, so anything but an RSTn is
  // BadRstMarker. The end-of-band run ends with the interval as well.
  RequireRst,
};

// When the cooperative interrupt is polled.
enum class InterruptPolicy : uint8_t {
  Never,        // region reads and block planes: the region fields carry the request
  EveryMcu,     // sequential scans resume at the next MCU
  EveryMcuRow,  // progressive scans resume at the next frame MCU row
};

// How a block of the scan is entropy-decoded.
enum class BlockProcedure : uint8_t {
  Sequential,  // the kernel table's block decoder (full block, or DC only at 1/8 scale)
  DcFirst,
  DcRefine,
  AcFirst,
  AcRefine,
};

// Where decoded MCUs go.
enum class McuTarget : uint8_t {
  Pixels,             // inverse transform, then the store routine
  SamplePlanes,       // full-size inverse transform, then the caller's block planes
  CoefficientPlanes,  // quantised coefficients into the caller's block planes
  CoefficientBuffer,  // progressive: accumulated; rendered from the buffer once complete
};

// One block of the scan's MCU.
struct BlockStep {
  const HuffmanTable* dcTable;
  const HuffmanTable* acTable;
  const int16_t* quantValues;
  HuffmanDecodeBlockKernel decodeBlock;  // sequential scans
  InverseDctKernel inverseDct;
  int32_t scanComponent;     // index of the DC predictor in the scan record
  int32_t frameComponent;    // index in the frame's component table
  int32_t coefficientBlock;  // progressive: the block's place within a frame MCU
};

// One block of a frame MCU as progressive rendering transforms it.
struct RenderStep {
  const int16_t* quantValues;
  InverseDctKernel inverseDct;
};

struct ScanPlan {
  // The scan's MCU grid: one block of the component in a one-component scan, the frame's MCU
  // otherwise; and the full-size pixels one MCU covers.
  int32_t columns = 0;
  int32_t rows = 0;
  int64_t total = 0;
  int32_t mcuWidth = 0;
  int32_t mcuHeight = 0;
  int32_t scale = 1;

  int32_t blockCount = 0;
  BlockStep blocks[kMaxMcuBlocks] = {};
  BlockProcedure procedure = BlockProcedure::Sequential;
  int32_t spectralStart = 0;
  int32_t spectralEnd = 63;
  int32_t approxLow = 0;
  HuffmanDecodeBlockKernel passOver = nullptr;  // DC only: MCUs decoded on the way to a region
  DequantizeKernel dequantize = nullptr;
  // Sequential scans whose blocks are dequantised: the MCU entropy kernel decodes and dequantises
  // a whole MCU in one call, with the bit reader kept in registers from block to block.
  bool dequantisedByDecoder = false;
  McuEntropyPlan entropy = {};

  int32_t restartInterval = 0;
  RestartPolicy restart = RestartPolicy::AnyMarker;
  InterruptPolicy interrupt = InterruptPolicy::Never;

  McuTarget target = McuTarget::Pixels;
  McuRange range = {};  // MCUs of the scan's grid that reach the output

  // Progressive rendering of the frame MCU, and the frame MCUs that reach the pixels.
  int32_t renderCount = 0;
  RenderStep render[kMaxMcuBlocks] = {};
  McuRange frameRange = {};
};

// A rectangle of the scaled image in pixels (wide enough for corners outside the image).
struct PixelBox {
  int64_t left;
  int64_t top;
  int64_t right;
  int64_t bottom;
};

// Width and height of the image at scale 1/`scale`.
PixelBox scaledImage(const JPEG_PROPERTIES& state, int32_t scale);

// The region fields with a right or bottom of 0 standing for the image's edge.
PixelBox requestedRegion(const JPEG_PROPERTIES& state, int32_t scale);

// The region fields ask for less than the whole image at the mode's scale (and are not an
// interrupted decode's progress). A negative corner counts as a request: the scan start cuts it
// back to the image, and a region that is then the whole image is read as such (status 0).
bool regionRequested(const JPEG_PROPERTIES* state);

// The range covering the region in a grid of `columns` x `rows` MCUs of mcuWidth x mcuHeight
// full-size pixels, at scale 1/`scale`: first = left / (mcuWidth / scale), end = ceiling(right /
// (mcuWidth / scale)), rows likewise. Where upsamplingMode 1 filters (its output lags one MCU and
// reads the neighbouring MCUs' samples) the range is whole MCU rows, one more above and below.
// The whole grid when no region is requested.
McuRange regionMcuRange(const JPEG_PROPERTIES& state, int32_t scale, int32_t mcuWidth, int32_t mcuHeight,
                        int32_t columns, int32_t rows);

// The range over the frame's MCUs (as the progressive coefficient buffer counts them).
McuRange frameRegionRange(const JPEG_PROPERTIES& state, int32_t scale);

// The transform for one component at the scale denominator: reduced by the scale, or one size
// larger for the one-block components of a square-sampled frame.
InverseDctKernel chooseInverseDct(const KernelTable* kernels, int32_t scale, bool largerForComponent);

// The plan of state->scan at scale 1/`scale` (1, 2, 4, 8), once the scan start has chosen the
// transforms of the dctVariant.
ScanPlan planScan(const JPEG_PROPERTIES& state, int32_t scale);

// The rendering half of a progressive plan: each frame component's table and transform, and the
// frame MCUs that reach the pixels. Also what the end of an incomplete image renders with.
void planRendering(const JPEG_PROPERTIES& state, int32_t scale, ScanPlan* plan);
