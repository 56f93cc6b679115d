// libFuzzer target: jpegRead in the memory modes, options taken from the input (see the harness).
#include <cstddef>
#include <cstdint>

#include "fuzz/jpeg_read_harness.h"

namespace {
// Keeps the harness's result observable, so no part of the decode is optimised away.
volatile uint32_t outputDigest;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  outputDigest = outputDigest + fuzzing::runJpegReadHarness(data, size);
  return 0;
}
