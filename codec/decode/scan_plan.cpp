#include "codec/decode/scan_plan.h"

#include <algorithm>

#include "codec/decode/fancy_upsampling.h"
#include "codec/validation.h"

namespace {

bool isAllZero(const int32_t* region) {
  return region[0] == 0 && region[1] == 0 && region[2] == 0 && region[3] == 0;
}

bool isProgressiveScan(const JPEG_PROPERTIES& state) {
  return state.progressive != 0;
}

BlockProcedure progressiveProcedure(const ScanRecord& scan) {
  const bool refine = scan.approxHigh != 0;
  if (scan.spectralStart == 0) return refine ? BlockProcedure::DcRefine : BlockProcedure::DcFirst;
  return refine ? BlockProcedure::AcRefine : BlockProcedure::AcFirst;
}

McuTarget targetOf(const JPEG_PROPERTIES& state) {
  if (isProgressiveScan(state)) return McuTarget::CoefficientBuffer;
  if (state.blockPlanes == nullptr) return McuTarget::Pixels;
  return state.blockPlanes->mode == 0 ? McuTarget::CoefficientPlanes : McuTarget::SamplePlanes;
}

InterruptPolicy interruptOf(const JPEG_PROPERTIES& state) {
  // Region reads do not stop: the region fields would give way to the progress.
  if (regionRequested(&state)) return InterruptPolicy::Never;
  if (isProgressiveScan(state)) return InterruptPolicy::EveryMcuRow;
  return state.blockPlanes == nullptr ? InterruptPolicy::EveryMcu : InterruptPolicy::Never;
}

// The scan's MCU grid: one block of the component in a one-component scan, the frame's MCU
// otherwise.
void planGrid(const FrameGeometry& frame, const ScanRecord& scan, ScanPlan* plan) {
  if (scan.componentCount == 1) {
    const ComponentGeometry& c = frame.components[scan.components[0].componentIndex];
    plan->columns = c.blockColumns;
    plan->rows = c.blockRows;
    plan->mcuWidth = c.blockWidth;
    plan->mcuHeight = c.blockHeight;
  } else {
    plan->columns = frame.mcusPerRow;
    plan->rows = frame.mcuRows;
    plan->mcuWidth = frame.mcuWidth;
    plan->mcuHeight = frame.mcuHeight;
  }
  plan->total = int64_t{plan->columns} * plan->rows;
}

// Blocks going to the planes take the full-size transform (samples) or none (coefficients) and
// keep their AC coefficients even at 1/8 scale.
void planBlocks(const JPEG_PROPERTIES& state, const FrameGeometry& frame, const ScanRecord& scan,
                ScanPlan* plan) {
  const KernelTable* kernels = state.input.kernels;
  const bool single = scan.componentCount == 1;
  const bool planes = plan->target == McuTarget::SamplePlanes || plan->target == McuTarget::CoefficientPlanes;
  for (int32_t i = 0; i < scan.componentCount; ++i) {
    const ScanComponent& component = scan.components[i];
    const int32_t c = component.componentIndex;
    const ComponentGeometry& geometry = frame.components[c];
    const InverseDctKernel inverseDct =
        planes ? kernels->idctFull
               : chooseInverseDct(kernels, plan->scale, frame.squareSampling && geometry.oneBlock);
    const HuffmanDecodeBlockKernel decodeBlock = !planes && inverseDct == kernels->idctEighth
                                                     ? kernels->huffmanDecodeDcOnly
                                                     : kernels->huffmanDecodeBlock;
    const int32_t count = single ? 1 : geometry.h * geometry.v;
    for (int32_t b = 0; b < count && plan->blockCount < kMaxMcuBlocks; ++b) {
      plan->blocks[plan->blockCount++] = {component.dcTable,
                                          component.acTable,
                                          component.quantTable->storage,
                                          decodeBlock,
                                          inverseDct,
                                          i,
                                          c,
                                          geometry.firstBlock + b};
    }
  }
}

// The MCU entropy kernel's view of a sequential scan, component by component: the same tables,
// block counts and DC-only choice as the block steps, and the scan's dequantiser variant.
McuEntropyPlan entropyPlan(const JPEG_PROPERTIES& state, const ScanPlan& plan) {
  const KernelTable* kernels = state.input.kernels;
  McuEntropyPlan entropy{};
  entropy.dequantVariant = kernels->dequantize == kernels->dequantize1 ? 1 : 0;
  for (int32_t i = 0; i < plan.blockCount; ++i) {
    const BlockStep& step = plan.blocks[i];
    if (i == 0 || step.scanComponent != plan.blocks[i - 1].scanComponent) {
      entropy.components[entropy.componentCount++] = {
          step.dcTable,
          step.acTable,
          step.quantValues,
          &state.scan->lastDc[step.scanComponent],
          0,
          step.decodeBlock == kernels->huffmanDecodeDcOnly ? 1 : 0};
    }
    ++entropy.components[entropy.componentCount - 1].blockCount;
  }
  return entropy;
}

}  // namespace

PixelBox scaledImage(const JPEG_PROPERTIES& state, int32_t scale) {
  return {0, 0, ceilDiv(state.imageWidth, scale), ceilDiv(state.imageHeight, scale)};
}

PixelBox requestedRegion(const JPEG_PROPERTIES& state, int32_t scale) {
  const PixelBox size = scaledImage(state, scale);
  const int32_t* r = state.regionOfInterest;
  return {r[0], r[1], r[2] == 0 ? size.right : r[2], r[3] == 0 ? size.bottom : r[3]};
}

bool regionRequested(const JPEG_PROPERTIES* state) {
  const int32_t* r = state->regionOfInterest;
  if (state->regionIsProgress != 0 || isAllZero(r)) return false;
  const PixelBox size = scaledImage(*state, scaleOfMode(state->ioMode));
  const bool wholeWidth = r[2] == 0 || r[2] >= size.right;
  const bool wholeHeight = r[3] == 0 || r[3] >= size.bottom;
  // A negative corner is cut back to the image at the scan start rather than shifting the output.
  return !(wholeWidth && wholeHeight && r[0] == 0 && r[1] == 0);
}

McuRange regionMcuRange(const JPEG_PROPERTIES& state, int32_t scale, int32_t mcuWidth, int32_t mcuHeight,
                        int32_t columns, int32_t rows) {
  if (!regionRequested(&state)) return {0, columns, 0, rows};
  const PixelBox region = requestedRegion(state, scale);
  const int64_t spanH = std::max(mcuWidth / scale, 1);
  const int64_t spanV = std::max(mcuHeight / scale, 1);
  const auto clampTo = [](int64_t value, int32_t limit) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, limit));
  };
  McuRange range = {clampTo(region.left / spanH, columns), clampTo(ceilDiv(region.right, spanH), columns),
                    clampTo(region.top / spanV, rows), clampTo(ceilDiv(region.bottom, spanV), rows)};
  // The interpolating upsampler filters with the neighbouring MCUs' samples and stores an MCU only
  // once its right (and lower) neighbour is in: whole MCU rows, one more above and below.
  if (fancyUpsamplingApplies(state, scale)) {
    range = {0, columns, std::max(range.firstRow - 1, 0), std::min(range.endRow + 1, rows)};
  }
  return range;
}

McuRange frameRegionRange(const JPEG_PROPERTIES& state, int32_t scale) {
  const FrameGeometry& frame = frameGeometry(state);
  return regionMcuRange(state, scale, frame.mcuWidth, frame.mcuHeight, frame.mcusPerRow, frame.mcuRows);
}

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

void planRendering(const JPEG_PROPERTIES& state, int32_t scale, ScanPlan* plan) {
  const KernelTable* kernels = state.input.kernels;
  const FrameGeometry& frame = frameGeometry(state);
  plan->renderCount = 0;
  for (int32_t c = 0; c < frame.componentCount; ++c) {
    const ComponentGeometry& geometry = frame.components[c];
    const RenderStep step = {state.quantTables[state.components[c].quantSelector & 3].storage,
                             chooseInverseDct(kernels, scale, frame.squareSampling && geometry.oneBlock)};
    for (int32_t b = 0; b < geometry.h * geometry.v && plan->renderCount < kMaxMcuBlocks; ++b) {
      plan->render[plan->renderCount++] = step;
    }
  }
  plan->frameRange = frameRegionRange(state, scale);
}

ScanPlan planScan(const JPEG_PROPERTIES& state, int32_t scale) {
  const ScanRecord& scan = *state.scan;
  const FrameGeometry& frame = frameGeometry(state);
  const KernelTable* kernels = state.input.kernels;
  ScanPlan plan;
  plan.scale = scale;
  plan.target = targetOf(state);
  plan.interrupt = interruptOf(state);
  plan.restartInterval = scan.restartInterval;
  plan.passOver = kernels->huffmanDecodeDcOnly;
  plan.dequantize = kernels->dequantize;
  planGrid(frame, scan, &plan);
  planBlocks(state, frame, scan, &plan);
  if (isProgressiveScan(state)) {
    plan.procedure = progressiveProcedure(scan);
    plan.spectralStart = scan.spectralStart;
    plan.spectralEnd = scan.spectralEnd;
    plan.approxLow = scan.approxLow;
    plan.restart = RestartPolicy::RequireRst;
    planRendering(state, scale, &plan);
  } else if (plan.target != McuTarget::CoefficientPlanes && kernels->huffmanDecodeMcu != nullptr) {
    plan.dequantisedByDecoder = true;
    plan.entropy = entropyPlan(state, plan);
  }
  plan.range = regionMcuRange(state, scale, plan.mcuWidth, plan.mcuHeight, plan.columns, plan.rows);
  return plan;
}
