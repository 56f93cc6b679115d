// The block kernels against the one-call-per-symbol reference: same block, predictor, status and
// reader state after every block, over random entropy-coded data with stuffed bytes, markers,
// fill bytes and memory that ends inside the data, for the Annex K tables and odd ones.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"
#include "codec/kernel_types.h"
#include "codec/kernels/decode_kernels.h"
#include "tests/codec/entropy_test_support.h"
#include "tests/codec/huffman_block_reference.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using entropy_test::derive;
using entropy_test::expectSameReader;
using entropy_test::randomEntropyData;
using entropy_test::TablePair;
using entropy_test::tablePairs;
using stream_builder::Bytes;

struct KernelCase {
  const char* name;
  HuffmanDecodeBlockKernel kernel;
  bool storesAc;
};

class HuffmanBlockKernel : public ::testing::TestWithParam<KernelCase> {};

TEST_P(HuffmanBlockKernel, MatchesTheReferenceBlockByBlock) {
  const KernelCase& c = GetParam();
  std::mt19937 random(20261208);
  for (const TablePair& pair : tablePairs()) {
    SCOPED_TRACE(pair.name);
    const HuffmanTable dc = derive(pair.dcCounts, pair.dcValues, 0);
    const HuffmanTable ac = derive(pair.acCounts, pair.acValues, 1);
    for (int stream = 0; stream < 300; ++stream) {
      Bytes data = randomEntropyData(random, 16 + random() % 600);
      ByteInput ours{};
      ours.start = data.data();
      ours.size = static_cast<uint32_t>(data.size());
      resetInput(&ours);
      ByteInput reference = ours;
      int32_t ourPredictor = 0;
      int32_t referencePredictor = 0;
      for (int block = 0; block < 120; ++block) {
        std::array<int16_t, 64> ourBlock{};
        std::array<int16_t, 64> referenceBlock{};
        ourBlock.fill(0x5A5A);
        const int32_t ourStatus = c.kernel(&ours, &dc, &ac, &ourPredictor, ourBlock.data());
        const int32_t referenceStatus = huffman_reference::decodeBlock(
            &reference, &dc, &ac, &referencePredictor, referenceBlock.data(), c.storesAc);
        ASSERT_EQ(ourStatus, referenceStatus) << "stream " << stream << " block " << block;
        ASSERT_EQ(ourPredictor, referencePredictor) << "stream " << stream << " block " << block;
        if (c.storesAc) {
          ASSERT_EQ(ourBlock, referenceBlock) << "stream " << stream << " block " << block;
        } else {
          ASSERT_EQ(ourBlock[0], referenceBlock[0]) << "stream " << stream << " block " << block;
        }
        expectSameReader(ours, reference, block);
        if (ourStatus < 0 || testing::Test::HasFailure()) break;
      }
    }
  }
}

// Annex K blocks whose codes run long enough for the eight-byte refill, with categories 11
// (nine 1 bits of code, then 2047's eleven) that put 0xFF bytes, stuffed, into the data.
Bytes standardBlocks() {
  stream_builder::BitWriter bits;
  const int differences[] = {5, -1, 2047, 0, -300, 2047, 1, -2047, 64, 0, 3, -9, 2047, 2047, 0, 7};
  for (size_t i = 0; i < std::size(differences); ++i) {
    std::vector<int> ac;
    for (size_t k = 0; k < (i * 7) % 40; ++k) ac.push_back(k % 3 == 0 ? -2 : 1);
    stream_builder::putStandardBlock(bits, differences[i], ac);
  }
  return bits.finish();
}

// What follows the cut: nothing (memory ends inside the data), a marker, fill bytes and a marker.
struct CutEnding {
  const char* name;
  Bytes bytes;
};

const CutEnding kCutEndings[] = {
    {"memoryEnds", {}},
    {"marker", {0xFF, 0xD1}},
    {"fillThenMarker", {0xFF, 0xFF, 0xFF, 0xD9}},
};

// Every cut of a real stream, at each byte (inside a stuffed pair too), against the reference.
TEST_P(HuffmanBlockKernel, EveryCutOfAStreamMatchesTheReference) {
  const KernelCase& c = GetParam();
  const Bytes whole = standardBlocks();
  const HuffmanTable dc = derive(stream_builder::kDcLumaCounts, stream_builder::kDcLumaValues, 0);
  const HuffmanTable ac = derive(stream_builder::kAcLumaCounts, stream_builder::kAcLumaValues, 1);
  for (const CutEnding& ending : kCutEndings) {
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
      SCOPED_TRACE(std::string(ending.name) + " cut " + std::to_string(cut));
      Bytes data(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      data.insert(data.end(), ending.bytes.begin(), ending.bytes.end());
      ByteInput ours = entropy_test::memoryInput(data);
      ByteInput reference = ours;
      int32_t ourPredictor = 0;
      int32_t referencePredictor = 0;
      for (int block = 0; block < 20; ++block) {
        std::array<int16_t, 64> ourBlock{};
        std::array<int16_t, 64> referenceBlock{};
        const int32_t ourStatus = c.kernel(&ours, &dc, &ac, &ourPredictor, ourBlock.data());
        const int32_t referenceStatus = huffman_reference::decodeBlock(
            &reference, &dc, &ac, &referencePredictor, referenceBlock.data(), c.storesAc);
        ASSERT_EQ(ourStatus, referenceStatus) << "block " << block;
        ASSERT_EQ(ourPredictor, referencePredictor) << "block " << block;
        if (c.storesAc) {
          ASSERT_EQ(ourBlock, referenceBlock) << "block " << block;
        }
        expectSameReader(ours, reference, block);
        if (testing::Test::HasFailure()) return;
      }
    }
  }
}

// --- the MCU kernel ---------------------------------------------------------------------------

// Blocks per component and whether the component's AC codes are only consumed.
struct McuShape {
  const char* name;
  std::vector<std::pair<int32_t, bool>> components;
};

const McuShape kMcuShapes[] = {
    {"grey", {{1, false}}},
    {"h2v2", {{4, false}, {1, false}, {1, false}}},
    {"h2v2EighthChroma", {{4, false}, {1, true}, {1, true}}},
    {"h1v1AllEighth", {{1, true}, {1, true}, {1, true}}},
    {"fourComponents", {{2, false}, {1, false}, {1, true}, {2, false}}},
};

// Any 16-bit entries: pre-scaled variant-0 steps reach 65535, variant-1 steps are 16-bit too.
std::array<int16_t, 80> randomDequantTable(std::mt19937& random) {
  std::array<int16_t, 80> table{};
  std::uniform_int_distribution<int> step(0, 65535);
  std::uniform_int_distribution<int> small(1, 255);
  const bool wide = random() % 2 == 0;
  for (int i = 0; i < 64; ++i) table[i] = static_cast<int16_t>(wide ? step(random) : small(random));
  return table;
}

class HuffmanMcuKernel : public ::testing::TestWithParam<int32_t> {};

// Every MCU against the block reference followed by the portable dequantiser, with the reader
// state compared after each MCU; the data hold stuffed bytes, markers and early ends.
TEST_P(HuffmanMcuKernel, MatchesBlockDecodingThenDequantisation) {
  const int32_t variant = GetParam();
  const DequantizeKernel dequantize = variant == 1 ? dequantize1 : dequantize0;
  std::mt19937 random(20261209 + variant);
  for (const TablePair& pair : tablePairs()) {
    const HuffmanTable dc = derive(pair.dcCounts, pair.dcValues, 0);
    const HuffmanTable ac = derive(pair.acCounts, pair.acValues, 1);
    for (const McuShape& shape : kMcuShapes) {
      SCOPED_TRACE(std::string(pair.name) + " " + shape.name);
      std::vector<std::array<int16_t, 80>> tables;
      for (size_t c = 0; c < shape.components.size(); ++c) tables.push_back(randomDequantTable(random));
      for (int stream = 0; stream < 60; ++stream) {
        Bytes data = randomEntropyData(random, 16 + random() % 900);
        ByteInput ours{};
        ours.start = data.data();
        ours.size = static_cast<uint32_t>(data.size());
        resetInput(&ours);
        ByteInput reference = ours;
        std::array<int32_t, 4> ourPredictors{};
        std::array<int32_t, 4> referencePredictors{};
        McuEntropyPlan plan{};
        plan.componentCount = static_cast<int32_t>(shape.components.size());
        plan.dequantVariant = variant;
        for (int32_t c = 0; c < plan.componentCount; ++c) {
          plan.components[c] = {&dc,
                                &ac,
                                tables[c].data(),
                                &ourPredictors[c],
                                shape.components[c].first,
                                shape.components[c].second ? 1 : 0};
        }
        for (int mcu = 0; mcu < 40; ++mcu) {
          std::vector<int16_t> ourBlocks(64 * 10, 0x5A5A);
          std::vector<int16_t> referenceBlocks(64 * 10, 0x5A5A);
          const int32_t ourStatus = huffmanDecodeMcu(&ours, &plan, ourBlocks.data());
          int32_t referenceStatus = 0;
          int16_t* block = referenceBlocks.data();
          for (int32_t c = 0; c < plan.componentCount && referenceStatus >= 0; ++c) {
            for (int32_t b = 0; b < shape.components[c].first && referenceStatus >= 0; ++b, block += 64) {
              referenceStatus = huffman_reference::decodeBlock(&reference, &dc, &ac, &referencePredictors[c],
                                                               block, !shape.components[c].second);
              if (referenceStatus >= 0) dequantize(block, tables[c].data());
            }
          }
          ASSERT_EQ(ourStatus, referenceStatus) << "stream " << stream << " MCU " << mcu;
          ASSERT_EQ(ourPredictors, referencePredictors) << "stream " << stream << " MCU " << mcu;
          if (ourStatus < 0) break;
          ASSERT_EQ(ourBlocks, referenceBlocks) << "stream " << stream << " MCU " << mcu;
          expectSameReader(ours, reference, mcu);
          if (testing::Test::HasFailure()) break;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, HuffmanMcuKernel, ::testing::Values(0, 1),
                         [](const auto& info) { return "variant" + std::to_string(info.param); });

INSTANTIATE_TEST_SUITE_P(Kernels, HuffmanBlockKernel,
                         ::testing::Values(KernelCase{"block", huffmanDecodeBlock, true},
                                           KernelCase{"dcOnly", huffmanDecodeDcOnly, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
