// The round-trip fuzz body over deterministic pseudo-random inputs: every accepted layout, with
// odd sizes, qualities, both transforms, progressive and restart options, must write and read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "fuzz/jpeg_round_trip_harness.h"

namespace {

TEST(FuzzRoundTrip, EveryLayoutWritesAndReadsBackAtItsSize) {
  std::mt19937 random(20261208);
  for (size_t layout = 0; layout < fuzzing::kRoundTripLayoutCount; ++layout) {
    for (int trial = 0; trial < 12; ++trial) {
      std::vector<uint8_t> input(5 + random() % 200);
      for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
      input[2] = static_cast<uint8_t>(layout);
      SCOPED_TRACE("layout " + std::to_string(layout) + " trial " + std::to_string(trial));
      fuzzing::runJpegRoundTripHarness(input.data(), input.size());  // aborts on a fault
    }
  }
}

}  // namespace
