// Memory the record owns between calls (scan records, coefficient buffers, working rows).
// The decoder, the encoder and jpegFree allocate and release it through these functions only,
// so that each release matches its allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/jpeg.h"

// Upper bound of any single allocation the codec makes for a stream; a frame needing more is
// refused with MemoryError instead of driving the machine into swap.
inline constexpr size_t kMaxCodecAllocationBytes = size_t{1} << 30;

// A zeroed scan record with `componentCount` (1..4) zeroed components; null on failure.
ScanRecord* allocateScanRecord(int32_t componentCount);
void releaseScanRecord(ScanRecord* scan);  // null is fine

// `blocks` zeroed blocks of 64 coefficients; null on failure or above the allocation bound.
int16_t* allocateBlocks(size_t blocks);
void releaseBlocks(int16_t* blocks);  // null is fine
