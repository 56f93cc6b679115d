// Processor-specific kernels against their portable twins on the same blocks: realistic
// coefficient blocks, uniformly random ones and the extremes a hostile stream can produce. The
// whole suite also runs once per kernel set (MESHWICK_USECPU), which covers real images.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/sse2/decode_kernels.h"

namespace {

using Block = std::array<int16_t, 64>;
using BlockKernel = void (*)(int16_t*);

struct BlockTwin {
  const char* name;
  BlockKernel portable;
  BlockKernel twin;
};

std::vector<BlockTwin> blockTwins() {
  std::vector<BlockTwin> twins;
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  twins.push_back({"sse2 idct0Full", idct0Full, sse2::idct0Full});
  twins.push_back({"sse2 idct1Full", idct1Full, sse2::idct1Full});
#endif
  return twins;
}

// Dequantised coefficients as photos give them: a large DC, AC falling off with frequency, most
// high frequencies zero.
Block realisticBlock(std::mt19937& random) {
  Block block{};
  std::normal_distribution<double> dc(0, 400);
  block[0] = static_cast<int16_t>(std::clamp(dc(random), -1024.0 * 8, 1023.0 * 8));
  for (int i = 1; i < 64; ++i) {
    const int frequency = i / 8 + i % 8;
    if (random() % 8 < static_cast<unsigned>(frequency)) continue;
    std::normal_distribution<double> ac(0, 300.0 / (1 + frequency));
    block[i] = static_cast<int16_t>(ac(random));
  }
  return block;
}

Block uniformBlock(std::mt19937& random, int16_t limit) {
  std::uniform_int_distribution<int> value(-limit - 1, limit);
  Block block{};
  for (int16_t& v : block) v = static_cast<int16_t>(value(random));
  return block;
}

std::vector<Block> extremeBlocks() {
  std::vector<Block> blocks;
  for (const int16_t v : {int16_t{32767}, int16_t{-32768}, int16_t{0}, int16_t{1}, int16_t{-1}}) {
    Block flat;
    flat.fill(v);
    blocks.push_back(flat);
    Block dcOnly{};
    dcOnly[0] = v;
    blocks.push_back(dcOnly);
    Block alternating;
    for (int i = 0; i < 64; ++i) alternating[i] = (i + i / 8) % 2 == 0 ? v : static_cast<int16_t>(-v - 1);
    blocks.push_back(alternating);
  }
  return blocks;
}

void expectTwinsAgree(const BlockTwin& twin, const Block& input, const std::string& what) {
  Block expected = input;
  Block actual = input;
  twin.portable(expected.data());
  twin.twin(actual.data());
  ASSERT_EQ(actual, expected) << twin.name << ", " << what;
}

TEST(KernelTwins, BlockKernelsMatchThePortableOnesExactly) {
  const std::vector<BlockTwin> twins = blockTwins();
  if (twins.empty()) GTEST_SKIP() << "no processor-specific block kernels in this build";
  std::mt19937 random(2026);
  for (const BlockTwin& twin : twins) {
    for (int i = 0; i < 20000; ++i)
      expectTwinsAgree(twin, realisticBlock(random), "realistic block " + std::to_string(i));
    for (const int16_t limit : {int16_t{255}, int16_t{2047}, int16_t{32767}}) {
      for (int i = 0; i < 5000; ++i) {
        expectTwinsAgree(twin, uniformBlock(random, limit),
                         "uniform block within " + std::to_string(limit) + " #" + std::to_string(i));
      }
    }
    int index = 0;
    for (const Block& block : extremeBlocks())
      expectTwinsAgree(twin, block, "extreme block " + std::to_string(index++));
  }
}

}  // namespace
