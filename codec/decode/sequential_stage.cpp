#include "codec/decode/sequential_stage.h"

#include "codec/decode/block_planes.h"
#include "codec/decode/fancy_upsampling.h"

namespace {

// The one transform every block of the plan takes; null when they differ.
InverseDctKernel sharedTransform(const ScanPlan& plan) {
  if (plan.blockCount < 1) return nullptr;
  for (int32_t i = 1; i < plan.blockCount; ++i) {
    if (plan.blocks[i].inverseDct != plan.blocks[0].inverseDct) return nullptr;
  }
  return plan.blocks[0].inverseDct;
}

}  // namespace

bool SequentialStage::transformsIntoRing(int32_t column, int32_t row) {
  const ScanPlan& plan = *walk.plan;
  JPEG_PROPERTIES* state = walk.state;
  const InverseDctKernel transform = sharedTransform(plan);
  if (transform == nullptr || !ringTakesTransformedBlocks(state, transform, plan.blockCount, row, plan.scale))
    return false;
  if (!plan.dequantisedByDecoder) {
    int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
    for (int32_t i = 0; i < plan.blockCount; ++i, block += kBlockValues)
      plan.dequantize(block, plan.blocks[i].quantValues);
  }
  transformIntoRingByRows(state, column, row, plan.columns, plan.rows);
  return true;
}

void SequentialStage::store(int32_t column, int32_t row) {
  const ScanPlan& plan = *walk.plan;
  JPEG_PROPERTIES* state = walk.state;
  if (plan.target == McuTarget::Pixels && transformsIntoRing(column, row)) return;
  if (plan.target != McuTarget::CoefficientPlanes) {
    int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
    for (int32_t i = 0; i < plan.blockCount; ++i, block += kBlockValues) {
      if (!plan.dequantisedByDecoder) plan.dequantize(block, plan.blocks[i].quantValues);
      plan.blocks[i].inverseDct(block);
    }
  }
  if (plan.target == McuTarget::Pixels) {
    storeMcuUpsampledByRows(state, column, row, plan.columns, plan.rows, plan.scale);
  } else {
    storeMcuInPlanes(*state, *walk.scan, column, row);
  }
}
