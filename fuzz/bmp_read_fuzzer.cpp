// libFuzzer target: the shared BMP reader (see the harness).
#include <cstddef>
#include <cstdint>

#include "fuzz/bmp_read_harness.h"

namespace {
// Keeps the harness's result observable, so no part of the decode is optimised away.
volatile uint32_t outputDigest;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  outputDigest = outputDigest + fuzzing::runBmpReadHarness(data, size);
  return 0;
}
