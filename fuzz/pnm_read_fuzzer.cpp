// libFuzzer target: the PPM, PGM and PAM readers of meshwick-jpeg encode (see the harness).
#include <cstddef>
#include <cstdint>

#include "fuzz/pnm_read_harness.h"

namespace {
// Keeps the harness's result observable, so no part of the read is optimised away.
volatile uint32_t outputDigest;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  outputDigest = outputDigest + fuzzing::runPnmReadHarness(data, size);
  return 0;
}
