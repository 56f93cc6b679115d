#include "codec/decode/output_hooks.h"

// Interim: replaced by the output stage's frame set-up and store paths.
JpegStatus runFrameSetUp(JPEG_PROPERTIES* state) {
  (void)state;
  return JpegStatus::Ok;
}

void storeScaledMcu(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t blockSize) {
  (void)state;
  (void)column;
  (void)row;
  (void)blockSize;
}

void runFinalConversion(JPEG_PROPERTIES* state) {
  (void)state;
}
