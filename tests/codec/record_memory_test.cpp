// Block buffers: zeroed, cache-line aligned and writable to their last byte at every size, from
// one block to a progressive frame's tens of MiB (where huge pages are asked for), and refused
// at zero and above the allocation bound.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/record_memory.h"

namespace {

constexpr size_t kBlockBytes = 64 * sizeof(int16_t);
constexpr size_t kBlocksPerMiB = (size_t{1} << 20) / kBlockBytes;

struct SizeCase {
  const char* name;
  size_t blocks;
};

// Every page holds only zeros where the allocation starts, in its middle and at its end.
bool zeroedAround(const uint8_t* bytes, size_t size) {
  constexpr size_t kStep = 4096;
  for (size_t offset = 0; offset < size; offset += kStep) {
    if (bytes[offset] != 0) return false;
  }
  return bytes[size - 1] == 0 && bytes[size / 2] == 0;
}

TEST(RecordMemoryTest, BlockBuffersAreZeroedAlignedAndWritable) {
  const SizeCase cases[] = {
      {"one block", 1},
      {"a few blocks", 7},
      {"just under a huge page", 2 * kBlocksPerMiB - 1},
      {"exactly a huge page", 2 * kBlocksPerMiB},
      {"a 12-megapixel 4:2:0 frame", 250 * 188 * 6},
      {"odd size past several huge pages", 9 * kBlocksPerMiB + 3},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Twice: the second allocation may reuse the memory the first one dirtied.
    for (int round = 0; round < 2; ++round) {
      int16_t* blocks = allocateBlocks(c.blocks);
      ASSERT_NE(blocks, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks) % 64, 0u);
      const size_t size = c.blocks * kBlockBytes;
      auto* bytes = reinterpret_cast<uint8_t*>(blocks);
      EXPECT_TRUE(zeroedAround(bytes, size));
      std::memset(bytes, 0xA5, size);
      EXPECT_EQ(bytes[size - 1], 0xA5);
      releaseBlocks(blocks);
    }
  }
}

TEST(RecordMemoryTest, RefusesEmptyAndOversizedBuffers) {
  const SizeCase cases[] = {
      {"no blocks", 0},
      {"one block over the bound", kMaxCodecAllocationBytes / kBlockBytes + 1},
      {"wrapping size", SIZE_MAX / 2},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(allocateBlocks(c.blocks), nullptr);
  }
  releaseBlocks(nullptr);  // a no-op
}

}  // namespace
