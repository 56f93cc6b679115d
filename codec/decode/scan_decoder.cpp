#include "codec/decode/scan_decoder.h"

#include <cstring>

#include "codec/decode/byte_input.h"
#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/mcu_walker.h"
#include "codec/decode/progressive_decoder.h"
#include "codec/decode/region_decoder.h"
#include "codec/decode/scan_plan.h"
#include "codec/decode/sequential_stage.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/validation.h"

namespace {

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

// Only replication and the triangle filter are provided; block planes take no upsampling.
bool upsamplingSupported(const JPEG_PROPERTIES* state) {
  return state->upsamplingMode == 0 || (state->upsamplingMode == 1 && state->blockPlanes == nullptr);
}

// Scan start of a region read or a read into block planes.
JpegStatus prepareRegionScan(JPEG_PROPERTIES* state, int32_t scale) {
  if (state->scan == nullptr || state->components == nullptr) return JpegStatus::InternalError;
  JpegStatus status = settleRegion(state, scale);
  if (status != JpegStatus::Ok) return status;
  if (state->blockPlanes == nullptr && scale == 1 && state->input.kernels->storeMcu == nullptr) {
    return JpegStatus::InvalidProperties;
  }
  // Each region read feeds the upsampler every row it filters with, so it starts afresh.
  return startFancyUpsampling(state, scale);
}

// Scan start of a whole-image read.
JpegStatus prepareWholeScan(JPEG_PROPERTIES* state, int32_t scale) {
  // The frame set-up found no store routine for this pair of colour spaces.
  if (scale == 1 && state->input.kernels->storeMcu == nullptr) return JpegStatus::InvalidProperties;
  JpegStatus status = checkPixelBuffer(state, scale);
  // A scan left in progress by a region read is read again from its first MCU.
  if (status == JpegStatus::Ok) status = rewindRegionScan(state);
  // A resumed scan keeps the upsampler's rows of the call it was interrupted in.
  const bool fresh = state->scan->resumeRow == 0 && state->scan->resumeColumn == 0;
  if (status == JpegStatus::Ok && fresh) status = startFancyUpsampling(state, scale);
  return status;
}

ScanResult decodePlannedScan(JPEG_PROPERTIES* state, const ScanPlan& plan, bool regionOrPlanes) {
  // Once one scan of the image was progressive, every later scan is.
  if (state->progressive != 0) return decodeProgressiveScan(state, plan);
  if (regionOrPlanes) return decodeSequentialRegion(state, plan);
  return decodeSequentialScan(state, plan);
}

}  // namespace

ScanResult decodeSequentialScan(JPEG_PROPERTIES* state, const ScanPlan& plan) {
  ScanRecord* scan = state->scan;
  const ScanWalk walk = {state, &state->input, scan, &plan};
  SequentialStage stage{walk, true};
  const int64_t first = int64_t{scan->resumeRow} * plan.columns + scan->resumeColumn;
  const ScanResult result = walkMcus(walk, first, plan.total, stage);
  if (result.error == JpegStatus::Ok && result.outcome == ScanOutcome::Finished) {
    scan->resumeColumn = 0;
    scan->resumeRow = 0;
  }
  return result;
}

JpegStatus statusOf(const ScanResult& result) {
  if (result.error != JpegStatus::Ok) return result.error;
  switch (result.outcome) {
    case ScanOutcome::Interrupted:
      return JpegStatus::InterruptOk;
    case ScanOutcome::RegionComplete:
      return JpegStatus::RoiOk;
    case ScanOutcome::Finished:
      break;
  }
  return JpegStatus::Ok;
}

JpegStatus decodeScan(JPEG_PROPERTIES* state) {
  KernelTable* kernels = state->input.kernels;
  selectTransforms(state);
  const int32_t scale = scaleOfMode(state->ioMode);
  const bool regionOrPlanes = regionRequested(state) || state->blockPlanes != nullptr;
  JpegStatus status = JpegStatus::NotSupported;
  if (upsamplingSupported(state)) {
    status = regionOrPlanes ? prepareRegionScan(state, scale) : prepareWholeScan(state, scale);
  }
  if (status == JpegStatus::Ok) {
    const ScanPlan plan = planScan(*state, scale);
    status = statusOf(decodePlannedScan(state, plan, regionOrPlanes));
  }
  if (status == JpegStatus::Ok) dropBits(&state->input);
  kernels->finishKernels();
  return status;
}
