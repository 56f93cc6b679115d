#include "codec/decode/sequential_stage.h"

#include "codec/decode/block_planes.h"
#include "codec/decode/fancy_upsampling.h"

bool SequentialStage::transformsIntoRing(int32_t column, int32_t row) {
  const ScanPlan& plan = *walk.plan;
  return transformMcuIntoRing(walk.state, plan.blocks, plan.blockCount,
                              plan.dequantisedByDecoder ? nullptr : plan.dequantize, column, row,
                              plan.columns, plan.rows, plan.scale);
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
