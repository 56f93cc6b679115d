#include <gtest/gtest.h>

#include <array>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using stream_builder::BitWriter;
using stream_builder::Bytes;

ByteInput memoryInput(Bytes& bytes) {
  ByteInput input{};
  input.start = bytes.data();
  input.size = static_cast<uint32_t>(bytes.size());
  resetInput(&input);
  return input;
}

TEST(BitReader, StuffedZeroAfterFfIsADataByte) {
  Bytes data = {0xFF, 0x00, 0x12};
  ByteInput input = memoryInput(data);
  ASSERT_EQ(fillBits(&input, 16).read, BitsRead::Ready);
  EXPECT_EQ(getBits(&input, 8), 0xFFu);
  EXPECT_EQ(getBits(&input, 8), 0x12u);
  EXPECT_EQ(input.pendingMarker, 0);
}

TEST(BitReader, FillBytesBeforeAMarkerAreSkipped) {
  Bytes data = {0xFF, 0xFF, 0xFF, 0xD9};
  ByteInput input = memoryInput(data);
  EXPECT_EQ(fillBits(&input, 8).read, BitsRead::AtMarker);
  EXPECT_EQ(input.pendingMarker, 0xD9);
  EXPECT_TRUE(nextMarker(&input).is(0xD9));
  EXPECT_EQ(input.pendingMarker, 0);
}

TEST(BitReader, MarkerAfterEnoughBitsIsNotAStop) {
  Bytes data = {0xA5, 0xFF, 0xD0};
  ByteInput input = memoryInput(data);
  EXPECT_EQ(fillBits(&input, 8).read, BitsRead::Ready);
  EXPECT_EQ(getBits(&input, 8), 0xA5u);
  EXPECT_EQ(input.pendingMarker, 0xD0);
  EXPECT_EQ(fillBits(&input, 1).read, BitsRead::AtMarker);
}

TEST(BitReader, ExhaustedMemorySuppliesZeroBits) {
  Bytes data = {0xF0};
  ByteInput input = memoryInput(data);
  ASSERT_EQ(fillBits(&input, 24).read, BitsRead::Ready);
  EXPECT_EQ(getBits(&input, 8), 0xF0u);
  EXPECT_EQ(getBits(&input, 16), 0u);
  EXPECT_EQ(input.consumed, 1u);
}

TEST(BitReader, MemoryEndingInsideAnFfSequenceIsADataError) {
  Bytes data = {0x12, 0xFF};
  ByteInput input = memoryInput(data);
  const BitsOutcome filled = fillBits(&input, 16);
  EXPECT_EQ(filled.read, BitsRead::Failed);
  EXPECT_EQ(filled.error, JpegStatus::DataError);
}

TEST(BitReader, MarkerSearchSkipsGarbageAndStuffedBytes) {
  Bytes data = {0x00, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF, 0xC4, 0x99};
  ByteInput input = memoryInput(data);
  EXPECT_TRUE(nextMarker(&input).is(0xC4));
  EXPECT_EQ(input.consumed, 8u);
  EXPECT_EQ(nextMarker(&input).found, MarkerFound::EndOfData);
}

// Memory input that ends inside a segment reports the memory source: MemoryError.
TEST(BitReader, SegmentAcrossTheEndOfMemoryIsTruncated) {
  Bytes data = {0x00, 0x10, 1, 2, 3};
  ByteInput input = memoryInput(data);
  int32_t length = 0;
  ASSERT_EQ(readWord(&input, &length), JpegStatus::Ok);
  EXPECT_EQ(length, 16);
  SegmentView view;
  EXPECT_EQ(readSegment(&input, length - 2, &view), JpegStatus::MemoryError);
  EXPECT_EQ(skipSegment(&input), JpegStatus::MemoryError);
  EXPECT_EQ(truncatedStatus(&input), JpegStatus::MemoryError);
}

// One DC table with the single code "0" (category 0) and an AC table of three two-bit codes.
struct RunTables {
  HuffmanTable dc{};
  HuffmanTable ac{};
  RunTables() {
    std::array<uint8_t, 16> dcCounts{};
    dcCounts[0] = 1;
    const uint8_t dcValues[] = {0x00};
    deriveHuffmanTable(dcCounts.data(), dcValues, 0, 0, &dc);
    std::array<uint8_t, 16> acCounts{};
    acCounts[1] = 3;
    const uint8_t acValues[] = {0xF0, 0xC1, 0xF3};  // codes 00, 01, 10
    deriveHuffmanTable(acCounts.data(), acValues, 1, 0, &ac);
  }
};

TEST(HuffmanBlockDecode, RunOf15PastPosition62LandsOnCoefficient63) {
  RunTables tables;
  BitWriter bits;
  bits.put(0, 1);                                 // DC category 0
  for (int i = 0; i < 3; ++i) bits.put(0b00, 2);  // three ZRL: positions 1..48
  bits.put(0b01, 2);                              // run 12, size 1 -> position 61
  bits.put(1, 1);                                 // value +1
  bits.put(0b10, 2);                              // run 15, size 3 at position 62
  bits.put(0b111, 3);                             // value +7
  Bytes data = bits.finish();
  ByteInput input = memoryInput(data);
  int32_t predictor = 5;
  std::array<int16_t, 64> block;
  block.fill(99);
  ASSERT_EQ(huffmanDecodeBlock(&input, &tables.dc, &tables.ac, &predictor, block.data()), 0);
  EXPECT_EQ(block[0], 5);
  EXPECT_EQ(block[kNaturalOrder[61]], 1);
  EXPECT_EQ(block[63], 7);
  int nonzero = 0;
  for (int16_t value : block) nonzero += value != 0;
  EXPECT_EQ(nonzero, 3);
}

TEST(HuffmanBlockDecode, DcDifferencesAccumulateInThePredictor) {
  HuffmanTable dc{};
  HuffmanTable ac{};
  ASSERT_EQ(deriveHuffmanTable(stream_builder::kDcLumaCounts.data(), stream_builder::kDcLumaValues.data(), 0,
                               0, &dc),
            JpegStatus::Ok);
  ASSERT_EQ(deriveHuffmanTable(stream_builder::kAcLumaCounts.data(), stream_builder::kAcLumaValues.data(), 1,
                               0, &ac),
            JpegStatus::Ok);
  BitWriter bits;
  bits.put(0b100, 3);   // DC category 3
  bits.put(0b010, 3);   // 010 -> -5
  bits.put(0b1010, 4);  // EOB
  bits.put(0b011, 3);   // DC category 2
  bits.put(0b11, 2);    // +3
  bits.put(0b1010, 4);  // EOB
  Bytes data = bits.finish();
  ByteInput input = memoryInput(data);
  int32_t predictor = 0;
  std::array<int16_t, 64> block{};
  ASSERT_EQ(huffmanDecodeBlock(&input, &dc, &ac, &predictor, block.data()), 0);
  EXPECT_EQ(block[0], -5);
  ASSERT_EQ(huffmanDecodeBlock(&input, &dc, &ac, &predictor, block.data()), 0);
  EXPECT_EQ(block[0], -2);
  EXPECT_EQ(predictor, -2);
}

TEST(HuffmanBlockDecode, DcOnlyConsumesTheAcBitsWithoutStoringThem) {
  RunTables tables;
  BitWriter bits;
  bits.put(0, 1);
  for (int i = 0; i < 3; ++i) bits.put(0b00, 2);
  bits.put(0b01, 2);
  bits.put(1, 1);
  bits.put(0b10, 2);
  bits.put(0b111, 3);
  bits.put(0b01010101, 8);  // what follows the block
  Bytes data = bits.finish();
  ByteInput input = memoryInput(data);
  int32_t predictor = 9;
  std::array<int16_t, 64> block;
  block.fill(99);
  ASSERT_EQ(huffmanDecodeDcOnly(&input, &tables.dc, &tables.ac, &predictor, block.data()), 0);
  EXPECT_EQ(block[0], 9);
  for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
  ASSERT_EQ(fillBits(&input, 8).read, BitsRead::Ready);
  EXPECT_EQ(getBits(&input, 8), 0b01010101u);
}

TEST(HuffmanBlockDecode, MarkerInsideABlockEndsItQuietly) {
  RunTables tables;
  Bytes data = {0x00, 0xFF, 0xD3};  // DC "0", then ZRLs until the marker
  ByteInput input = memoryInput(data);
  int32_t predictor = 0;
  std::array<int16_t, 64> block{};
  EXPECT_EQ(huffmanDecodeBlock(&input, &tables.dc, &tables.ac, &predictor, block.data()), 0);
  EXPECT_EQ(input.pendingMarker, 0xD3);
}

}  // namespace
