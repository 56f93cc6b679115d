// The walker stage of sequential scans, whole-image and region reads alike: each MCU is
// Huffman-decoded into the MCU area and dequantised (in one pass by the MCU kernel where the plan
// allows), inverse-transformed and stored (pixels or block planes). MCUs passed over on the way
// to a region are decoded DC only and not stored.
#pragma once

#include <cstdint>

#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_plan.h"
#include "codec/jpeg.h"

struct SequentialStage {
  ScanWalk walk;
  bool keep = true;  // false: pass over (nothing stored)

  JpegStatus decode(int32_t /*column*/, int32_t /*row*/) {
    const ScanPlan& plan = *walk.plan;
    int16_t* block = reinterpret_cast<int16_t*>(walk.state->scratch);
    if (keep && plan.dequantisedByDecoder) {
      const int32_t status = walk.input->kernels->huffmanDecodeMcu(walk.input, &plan.entropy, block);
      return status < 0 ? static_cast<JpegStatus>(status) : JpegStatus::Ok;
    }
    for (int32_t i = 0; i < plan.blockCount; ++i, block += kBlockValues) {
      const BlockStep& step = plan.blocks[i];
      const HuffmanDecodeBlockKernel decodeBlock = keep ? step.decodeBlock : plan.passOver;
      const int32_t status =
          decodeBlock(walk.input, step.dcTable, step.acTable, &walk.scan->lastDc[step.scanComponent], block);
      if (status < 0) return static_cast<JpegStatus>(status);
    }
    return JpegStatus::Ok;
  }

  // Stores a kept MCU; true when an interrupt stops the scan after it.
  bool output(int32_t column, int32_t row, int64_t number) {
    if (!keep) return false;
    store(column, row);
    const ScanPlan& plan = *walk.plan;
    if (plan.interrupt != InterruptPolicy::EveryMcu || number >= plan.total) return false;
    const bool lastInRow = column + 1 == plan.columns;
    return takeInterrupt(
        walk.state, walk.scan,
        {column, row, plan.columns, true, lastInRow ? 0 : column + 1, lastInRow ? row + 1 : row});
  }

  bool rowDone(int32_t /*row*/) { return false; }

  // Dequantises and transforms the MCU area (not for coefficient planes) and stores it.
  void store(int32_t column, int32_t row);

  // At full size with the interpolating upsampler live: dequantises and transforms the MCU
  // straight into its rows and stores as store does. False (nothing done) where it cannot.
  bool transformsIntoRing(int32_t column, int32_t row);
};
