#include "codec/decode/scan_decoder.h"

#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/output_hooks.h"
#include "codec/decode/progressive_decoder.h"
#include "codec/decode/region_decoder.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/validation.h"

namespace {

// How one scan component is decoded and transformed.
struct ComponentPlan {
  const HuffmanTable* dcTable;
  const HuffmanTable* acTable;
  const int16_t* quantValues;
  int32_t blockCount;  // blocks per MCU
  InverseDctKernel inverseDct;
  bool dcOnly;  // the 1/8-size transform reads only the DC
  int32_t* predictor;
};

int32_t ceilDiv(int32_t value, int32_t divisor) {
  return (value + divisor - 1) / divisor;
}

// Selects the dequantiser and the inverse transforms of the variant the tables settle on.
void selectTransforms(JPEG_PROPERTIES* state) {
  int16_t* tables[4];
  int32_t forms[4];
  int32_t ids[4];
  int32_t count = 0;
  for (int32_t id = 0; id < 4; ++id) {
    if ((state->definedQuantTables & (1 << id)) == 0) continue;
    tables[count] = state->quantTables[id].storage;
    forms[count] = state->quantTables[id].dequantForm;
    ids[count] = id;
    ++count;
  }
  const int32_t variant = settleDequantVariant(tables, forms, count, state->dctVariant);
  for (int32_t i = 0; i < count; ++i) state->quantTables[ids[i]].dequantForm = forms[i];

  KernelTable* kernels = state->input.kernels;
  const bool direct = variant == 1;
  kernels->idctFull = direct ? kernels->idct1Full : kernels->idct0Full;
  kernels->idctHalf = direct ? kernels->idct1Half : kernels->idct0Half;
  kernels->idctQuarter = direct ? kernels->idct1Quarter : kernels->idct0Quarter;
  kernels->idctEighth = direct ? kernels->idct1Eighth : kernels->idct0Eighth;
  kernels->dequantize = direct ? kernels->dequantize1 : kernels->dequantize0;
}

// The pixel buffer must hold the (scaled) image.
JpegStatus checkPixelBuffer(const JPEG_PROPERTIES* state, int32_t scale) {
  if (state->blockPlanes != nullptr) return JpegStatus::Ok;
  const int32_t rows = state->pixelHeight < 0 ? -state->pixelHeight : state->pixelHeight;
  if (state->pixelData == nullptr || state->pixelWidth < ceilDiv(state->imageWidth, scale) ||
      rows < ceilDiv(state->imageHeight, scale)) {
    return JpegStatus::InvalidProperties;
  }
  return JpegStatus::Ok;
}

}  // namespace

InverseDctKernel chooseInverseDct(const KernelTable* kernels, int32_t scale, bool largerForComponent) {
  switch (scale) {
    case 2:
      return largerForComponent ? kernels->idctFull : kernels->idctHalf;
    case 4:
      return largerForComponent ? kernels->idctHalf : kernels->idctQuarter;
    case 8:
      return largerForComponent ? kernels->idctQuarter : kernels->idctEighth;
    default:
      return kernels->idctFull;
  }
}

namespace {

int32_t planScan(const JPEG_PROPERTIES* state, ScanRecord* scan, int32_t scale, ComponentPlan* plans) {
  const KernelTable* kernels = state->input.kernels;
  const bool single = scan->componentCount == 1;
  const bool square = hasSquareSampling(state);
  int32_t blocksPerMcu = 0;
  for (int32_t i = 0; i < scan->componentCount; ++i) {
    const ScanComponent& component = scan->components[i];
    const JpegComponent& frame = state->components[component.componentIndex];
    const bool oneBlockComponent = frame.horizontalFactor * frame.verticalFactor == 1;
    ComponentPlan& plan = plans[i];
    plan.dcTable = component.dcTable;
    plan.acTable = component.acTable;
    plan.quantValues = component.quantTable->storage;
    plan.blockCount = single ? 1 : component.horizontalFactor * component.verticalFactor;
    plan.inverseDct = chooseInverseDct(kernels, scale, square && oneBlockComponent);
    plan.dcOnly = plan.inverseDct == kernels->idctEighth;
    plan.predictor = &scan->lastDc[i];
    blocksPerMcu += plan.blockCount;
  }
  return blocksPerMcu;
}

// MCU columns and rows of the scan: one block of the component per MCU when the scan holds one
// component, the frame's MCUs otherwise.
void scanGeometry(const JPEG_PROPERTIES* state, const ScanRecord* scan, int32_t* columns, int32_t* rows) {
  if (scan->componentCount == 1) {
    const JpegComponent& frame = state->components[scan->components[0].componentIndex];
    const int32_t width = ceilDiv(state->imageWidth * frame.horizontalFactor, state->maxHorizontalFactor);
    const int32_t height = ceilDiv(state->imageHeight * frame.verticalFactor, state->maxVerticalFactor);
    *columns = ceilDiv(width, 8);
    *rows = ceilDiv(height, 8);
    return;
  }
  *columns = state->frameMcusPerRow;
  *rows = ceilDiv(state->imageHeight, 8 * state->maxVerticalFactor);
}

// After restart interval R: predictors cleared, bits dropped, one marker consumed (its number is
// not compared with the expected RSTn).
JpegStatus processRestart(ByteInput* input, ScanRecord* scan) {
  for (int32_t& predictor : scan->lastDc) predictor = 0;
  dropBits(input);
  if (input->pendingMarker != 0) {
    input->pendingMarker = 0;
    return JpegStatus::Ok;
  }
  const int32_t marker = nextMarker(input);
  return marker < 0 ? static_cast<JpegStatus>(marker) : JpegStatus::Ok;
}

// The blocks of one MCU for the entropy decoder, dequantised the way the scan's dequantiser does.
McuEntropyPlan entropyPlan(const KernelTable* kernels, const ComponentPlan* plans, int32_t planCount) {
  McuEntropyPlan entropy{};
  entropy.componentCount = planCount;
  entropy.dequantVariant = kernels->dequantize == kernels->dequantize1 ? 1 : 0;
  for (int32_t c = 0; c < planCount; ++c) {
    const ComponentPlan& plan = plans[c];
    entropy.components[c] = {plan.dcTable,   plan.acTable,    plan.quantValues,
                             plan.predictor, plan.blockCount, plan.dcOnly ? 1 : 0};
  }
  return entropy;
}

void outputMcu(JPEG_PROPERTIES* state, const ComponentPlan* plans, int32_t planCount, int32_t scale,
               int32_t column, int32_t row, int32_t columns, int32_t rows) {
  int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
  for (int32_t c = 0; c < planCount; ++c) {
    for (int32_t b = 0; b < plans[c].blockCount; ++b, block += 64) plans[c].inverseDct(block);
  }
  storeMcuUpsampled(state, column, row, columns, rows, scale);
}

}  // namespace

bool hasSquareSampling(const JPEG_PROPERTIES* state) {
  if (state->maxHorizontalFactor == 1 && state->maxVerticalFactor == 1) return false;
  for (int32_t i = 0; i < state->componentCount; ++i) {
    const JpegComponent& component = state->components[i];
    if (component.horizontalFactor != component.verticalFactor) return false;
    if (component.horizontalFactor != 1 && component.horizontalFactor != 2) return false;
  }
  return true;
}

JpegStatus decodeSequentialScan(JPEG_PROPERTIES* state, ByteInput* input, ScanRecord* scan, int32_t scale) {
  ComponentPlan plans[4];
  planScan(state, scan, scale, plans);
  const McuEntropyPlan entropy = entropyPlan(input->kernels, plans, scan->componentCount);
  int16_t* blocks = reinterpret_cast<int16_t*>(state->scratch);
  int32_t columns = 0;
  int32_t rows = 0;
  scanGeometry(state, scan, &columns, &rows);
  const int64_t total = int64_t{columns} * rows;
  const int32_t interval = scan->restartInterval;

  for (int32_t row = scan->resumeRow; row < rows; ++row) {
    const int32_t firstColumn = row == scan->resumeRow ? scan->resumeColumn : 0;
    for (int32_t column = firstColumn; column < columns; ++column) {
      JpegStatus status = static_cast<JpegStatus>(input->kernels->huffmanDecodeMcu(input, &entropy, blocks));
      if (status != JpegStatus::Ok) return status;
      const int64_t number = int64_t{row} * columns + column + 1;
      if (interval != 0 && number % interval == 0 && number < total) {
        status = processRestart(input, scan);
        if (status != JpegStatus::Ok) return status;
      }
      outputMcu(state, plans, scan->componentCount, scale, column, row, columns, rows);

      // The progress shown is the last MCU stored; the interpolating upsampler lags behind the
      // decoding, and an interrupt waits until it has stored something.
      int32_t shownColumn = column;
      int32_t shownRow = row;
      if (state->interruptRequest != 0 && number < total &&
          lastStoredMcu(*state, column, row, columns, &shownColumn, &shownRow)) {
        scan->resumeColumn = column + 1 == columns ? 0 : column + 1;
        scan->resumeRow = column + 1 == columns ? row + 1 : row;
        state->regionOfInterest[0] = state->regionOfInterest[2] = shownColumn;
        state->regionOfInterest[1] = state->regionOfInterest[3] = shownRow;
        state->regionIsProgress = 1;
        state->interruptRequest = 0;
        return JpegStatus::InterruptOk;
      }
    }
  }
  scan->resumeColumn = 0;
  scan->resumeRow = 0;
  return JpegStatus::Ok;
}

JpegStatus decodeScan(JPEG_PROPERTIES* state) {
  KernelTable* kernels = state->input.kernels;
  selectTransforms(state);
  const int32_t scale = scaleOfMode(state->ioMode);
  JpegStatus status = JpegStatus::Ok;
  const bool regionOrPlanes = regionRequested(state) || state->blockPlanes != nullptr;
  if (state->upsamplingMode != 0 && (state->upsamplingMode != 1 || state->blockPlanes != nullptr)) {
    // Only replication and the triangle filter are provided; block planes take no upsampling.
    status = JpegStatus::NotSupported;
  } else if (regionOrPlanes) {
    status = decodeRegionScan(state, scale);
  } else if (scale == 1 && kernels->storeMcu == nullptr) {
    // The frame set-up found no store routine for this pair of colour spaces.
    status = JpegStatus::InvalidProperties;
  } else {
    status = checkPixelBuffer(state, scale);
    // A scan left in progress by a region read is read again from its first MCU.
    if (status == JpegStatus::Ok) status = rewindRegionScan(state);
    // A resumed scan keeps the upsampler's rows of the call it was interrupted in.
    const bool fresh = state->scan->resumeRow == 0 && state->scan->resumeColumn == 0;
    if (status == JpegStatus::Ok && fresh) status = startFancyUpsampling(state, scale);
  }
  if (status == JpegStatus::Ok && !regionOrPlanes) {
    // Once one scan of the image was progressive, every later scan is.
    status = state->progressive != 0 ? decodeProgressiveScan(state, &state->input, state->scan, scale)
                                     : decodeSequentialScan(state, &state->input, state->scan, scale);
  }
  if (status == JpegStatus::Ok) dropBits(&state->input);
  kernels->finishKernels();
  return status;
}
