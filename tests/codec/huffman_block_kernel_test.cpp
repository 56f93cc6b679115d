// The block kernels against the one-call-per-symbol reference: same block, predictor, status and
// reader state after every block, over random entropy-coded data with stuffed bytes, markers,
// fill bytes and memory that ends inside the data, for the Annex K tables and odd ones.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"
#include "codec/kernel_types.h"
#include "tests/codec/huffman_block_reference.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using stream_builder::Bytes;

struct TablePair {
  const char* name;
  Bytes dcCounts, dcValues, acCounts, acValues;
};

// Codes of 9 bits and more only, DC categories above 15, and the Annex K luminance pair.
std::vector<TablePair> tablePairs() {
  Bytes longCounts(16, 0);
  longCounts[8] = 2;
  longCounts[15] = 200;
  Bytes longValues(202);
  for (size_t i = 0; i < longValues.size(); ++i) longValues[i] = static_cast<uint8_t>(i * 37 + 1);
  return {
      {"annexK", stream_builder::kDcLumaCounts, stream_builder::kDcLumaValues, stream_builder::kAcLumaCounts,
       stream_builder::kAcLumaValues},
      {"chroma", stream_builder::kDcChromaCounts, stream_builder::kDcChromaValues,
       stream_builder::kAcChromaCounts, stream_builder::kAcChromaValues},
      {"longCodes", {0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 16, 3}, longCounts, longValues},
  };
}

HuffmanTable derive(const Bytes& counts, const Bytes& values, int32_t tableClass) {
  HuffmanTable table{};
  EXPECT_EQ(deriveHuffmanTable(counts.data(), values.data(), tableClass, 0, &table), JpegStatus::Ok);
  return table;
}

// Random data in which 0xFF appears often: stuffed (FF 00), as fill bytes before a marker, or as
// a marker that ends the data early; the memory may also end without any marker.
Bytes randomEntropyData(std::mt19937& random, size_t length) {
  Bytes data;
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> event(0, 199);
  while (data.size() < length) {
    const int e = event(random);
    if (e < 6) {
      data.push_back(0xFF);
      data.push_back(0x00);
    } else if (e == 6 && data.size() > length / 2) {
      data.push_back(0xFF);
      data.push_back(0xFF);
      data.push_back(static_cast<uint8_t>(0xD0 + byte(random) % 8));
      break;
    } else {
      data.push_back(static_cast<uint8_t>(byte(random) % 3 == 0 ? byte(random) & 0x0F : byte(random)));
    }
  }
  return data;
}

void expectSameReader(const ByteInput& a, const ByteInput& b, int block) {
  EXPECT_EQ(a.bits, b.bits) << "block " << block;
  EXPECT_EQ(a.bitCount, b.bitCount) << "block " << block;
  EXPECT_EQ(a.current, b.current) << "block " << block;
  EXPECT_EQ(a.available, b.available) << "block " << block;
  EXPECT_EQ(a.consumed, b.consumed) << "block " << block;
  EXPECT_EQ(a.pendingMarker, b.pendingMarker) << "block " << block;
}

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

INSTANTIATE_TEST_SUITE_P(Kernels, HuffmanBlockKernel,
                         ::testing::Values(KernelCase{"block", huffmanDecodeBlock, true},
                                           KernelCase{"dcOnly", huffmanDecodeDcOnly, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
