// The one walk over a scan's MCUs: sequential decoding, region decoding and progressive scans
// all go through walkMcus, which decodes each MCU through its stage, runs the restart routine
// after it and hands it to the stage's output. Stages are small structs with three members:
//   JpegStatus decode(int32_t column, int32_t row);  // entropy-decode one MCU
//   bool output(int32_t column, int32_t row, int64_t number);  // after the restart check; true
//                                                              // stops the walk (interrupted)
//   bool rowDone(int32_t row);  // after the last MCU of a row of the grid; true stops the walk
#pragma once

#include <cstdint>

#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/scan_plan.h"
#include "codec/jpeg.h"

// The scan being walked.
struct ScanWalk {
  JPEG_PROPERTIES* state;
  ByteInput* input;
  ScanRecord* scan;
  const ScanPlan* plan;
};

// How decoding a scan ended, apart from errors. The scan start turns it into the status the
// caller sees (Ok, InterruptOk, RoiOk).
enum class ScanOutcome : uint8_t {
  Finished,        // every MCU of the scan decoded
  Interrupted,     // interruptRequest honoured; the scan keeps its resume point
  RegionComplete,  // the region is stored; the scan stays in progress for the next region
};

struct ScanResult {
  JpegStatus error = JpegStatus::Ok;  // a negative status, or Ok
  ScanOutcome outcome = ScanOutcome::Finished;
};

// The restart itself: DC predictors cleared, the end-of-band run ended, buffered bits dropped and
// one marker taken (the one the bit reader met, or the next in the input), checked as the plan's
// restart policy says.
JpegStatus takeRestart(const ScanWalk& walk);

// The restart routine, after MCU `number` (1-based) of the scan's grid: a restart when that MCU
// ends an interval and is not the scan's last. The check stays inline: it runs after every MCU.
inline JpegStatus restartAfter(const ScanWalk& walk, int64_t number) {
  const int32_t interval = walk.plan->restartInterval;
  if (interval == 0 || number % interval != 0 || number >= walk.plan->total) return JpegStatus::Ok;
  return takeRestart(walk);
}

// Where an interruptible read stands after handing output to the store routines.
struct ProgressPoint {
  int32_t column;  // last MCU handed to the output, in the grid of `columns` MCUs
  int32_t row;
  int32_t columns;
  bool outputLive;  // MCUs reach the store routines (the upsampler may hold some back)
  int32_t resumeColumn;
  int32_t resumeRow;
};

// The interrupt poll: when interruptRequest is set and something has been stored, records the
// resume point in the scan and the MCU shown in the region fields (regionIsProgress), clears the
// request and returns true. Callers poll only where the plan's interrupt policy says and only
// while MCUs remain.
bool takeInterrupt(JPEG_PROPERTIES* state, ScanRecord* scan, const ProgressPoint& point);

// Walks MCUs [first, end) of the plan's grid in raster order.
template <typename Stage>
ScanResult walkMcuRange(const ScanWalk& walk, int64_t first, int64_t end, Stage& stage) {
  const int32_t columns = walk.plan->columns;
  if (columns < 1 || first >= end) return {};
  int32_t row = static_cast<int32_t>(first / columns);
  int32_t column = static_cast<int32_t>(first % columns);
  for (int64_t number = first; number < end; ++number) {
    JpegStatus status = stage.decode(column, row);
    if (status == JpegStatus::Ok) status = restartAfter(walk, number + 1);
    if (status != JpegStatus::Ok) return {status, ScanOutcome::Finished};
    if (stage.output(column, row, number + 1)) return {JpegStatus::Ok, ScanOutcome::Interrupted};
    if (++column == columns) {
      if (stage.rowDone(row)) return {JpegStatus::Ok, ScanOutcome::Interrupted};
      column = 0;
      ++row;
    }
  }
  return {};
}

// walkMcuRange, then the MCUs the interpolating upsampler held back are stored, so that however
// the walk ends the output holds every MCU the per-MCU store would have written.
template <typename Stage>
ScanResult walkMcus(const ScanWalk& walk, int64_t first, int64_t end, Stage& stage) {
  const ScanResult result = walkMcuRange(walk, first, end, stage);
  storeHeldBackMcus(walk.state);
  return result;
}
