// libFuzzer target: jpegRead in the memory modes, options taken from the input (see the harness).
#include <cstddef>
#include <cstdint>

#include "fuzz/jpeg_read_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static volatile uint32_t sink;
  sink = fuzzing::runJpegReadHarness(data, size);
  return 0;
}
