#include "codec/decode/mcu_walker.h"

#include "codec/decode/byte_input.h"
#include "codec/decode/fancy_upsampling.h"

JpegStatus takeRestart(const ScanWalk& walk) {
  const ScanPlan& plan = *walk.plan;
  for (int32_t& predictor : walk.scan->lastDc) predictor = 0;
  walk.input->eobRun = 0;
  dropBits(walk.input);
  const MarkerRead marker = nextMarker(walk.input);
  if (plan.restart == RestartPolicy::RequireRst)
    return marker.isRestart() ? JpegStatus::Ok : JpegStatus::BadRstMarker;
  return marker.found == MarkerFound::Failed ? marker.error : JpegStatus::Ok;
}

bool takeInterrupt(JPEG_PROPERTIES* state, ScanRecord* scan, const ProgressPoint& point) {
  if (state->interruptRequest == 0) return false;
  // The interpolating upsampler lags behind the decoding: the progress shown is the last MCU
  // stored, and the interrupt waits until something has been.
  int32_t shownColumn = point.column;
  int32_t shownRow = point.row;
  if (point.outputLive &&
      !lastStoredMcu(*state, point.column, point.row, point.columns, &shownColumn, &shownRow)) {
    return false;
  }
  storeHeldBackMcus(state);
  scan->resumeColumn = point.resumeColumn;
  scan->resumeRow = point.resumeRow;
  state->regionOfInterest[0] = state->regionOfInterest[2] = shownColumn;
  state->regionOfInterest[1] = state->regionOfInterest[3] = shownRow;
  state->regionIsProgress = 1;
  state->interruptRequest = 0;
  return true;
}
