// libFuzzer target: jpegWrite then jpegRead of small images in every accepted layout.
#include <cstddef>
#include <cstdint>

#include "fuzz/jpeg_round_trip_harness.h"

namespace {
volatile uint32_t outputDigest;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  outputDigest = outputDigest + fuzzing::runJpegRoundTripHarness(data, size);
  return 0;
}
