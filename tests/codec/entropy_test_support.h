// Shared by the entropy decoding tests: Huffman table pairs, random entropy-coded data with
// stuffed bytes, markers and early ends, and the reader-state comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace entropy_test {

using stream_builder::Bytes;

struct TablePair {
  const char* name;
  Bytes dcCounts, dcValues, acCounts, acValues;
};

// Codes of 9 bits and more only, DC categories above 15, and the Annex K luminance pair.
inline std::vector<TablePair> tablePairs() {
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
      // Short codes for end of block, sixteen zeros and a size-0 symbol of run 5 (an end of
      // block too), so that all three sit in the value lookahead next to long runs.
      {"shortZeroRuns",
       stream_builder::kDcLumaCounts,
       stream_builder::kDcLumaValues,
       {0, 2, 2, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12},
       {0x01, 0xF0, 0x00, 0x02, 0x11, 0xE3, 0x50, 0x21, 0x03, 0x0A,
        0xFA, 0x12, 0x04, 0x3F, 0xF5, 0x07, 0xA1, 0x08, 0x22, 0x06}},
      // A DC symbol whose high nibble is set (category 33) with a code short enough for the
      // 10-bit lookahead: the short path must hand it to the checked one.
      {"dcRunNibble",
       {0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {2, 0x21, 5},
       stream_builder::kAcLumaCounts,
       stream_builder::kAcLumaValues},
  };
}

inline HuffmanTable derive(const Bytes& counts, const Bytes& values, int32_t tableClass) {
  HuffmanTable table{};
  EXPECT_EQ(deriveHuffmanTable(counts.data(), values.data(), tableClass, 0, &table), JpegStatus::Ok);
  return table;
}

// Random data in which 0xFF appears often: stuffed (FF 00), as fill bytes before a marker, or as
// a marker that ends the data early; the memory may also end without any marker.
inline Bytes randomEntropyData(std::mt19937& random, size_t length) {
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

inline void expectSameReader(const ByteInput& a, const ByteInput& b, int block) {
  EXPECT_EQ(a.bits, b.bits) << "block " << block;
  EXPECT_EQ(a.bitCount, b.bitCount) << "block " << block;
  EXPECT_EQ(a.current, b.current) << "block " << block;
  EXPECT_EQ(a.available, b.available) << "block " << block;
  EXPECT_EQ(a.consumed, b.consumed) << "block " << block;
  EXPECT_EQ(a.pendingMarker, b.pendingMarker) << "block " << block;
}

// A memory reader over `data`.
inline ByteInput memoryInput(Bytes& data) {
  ByteInput input{};
  input.start = data.data();
  input.size = static_cast<uint32_t>(data.size());
  resetInput(&input);
  return input;
}

}  // namespace entropy_test
