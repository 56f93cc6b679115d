#include "codec/decode/huffman_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "codec/decode/huffman_decode_block.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using stream_builder::BitWriter;
using stream_builder::Bytes;

// decodeSymbol's symbol, which must be there.
int32_t readySymbol(ByteInput* input, const HuffmanTable* table) {
  const SymbolRead read = decodeSymbol(input, table);
  EXPECT_EQ(read.outcome.read, BitsRead::Ready);
  return read.symbol;
}

ByteInput memoryInput(Bytes& bytes) {
  ByteInput input{};
  input.start = bytes.data();
  input.size = static_cast<uint32_t>(bytes.size());
  resetInput(&input);
  return input;
}

TEST(HuffmanTable, OneCodeOfLengthOneFillsTheFirstHalfOfTheLookahead) {
  std::array<uint8_t, 16> counts{};
  counts[0] = 1;
  const uint8_t values[] = {0x05};
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(counts.data(), values, 0, 2, &table), JpegStatus::Ok);
  EXPECT_EQ(table.tableClass, 0);
  EXPECT_EQ(table.tableId, 2);
  for (int prefix = 0; prefix < 256; ++prefix) {
    const uint16_t expectedSymbol = prefix < 128 ? 0x05 : 0;
    const uint16_t expectedLength = prefix < 128 ? 1 : 0;
    EXPECT_EQ(table.lookahead[prefix].symbol, expectedSymbol) << prefix;
    EXPECT_EQ(table.lookahead[prefix].length, expectedLength) << prefix;
  }
  EXPECT_EQ(table.maxCode[1], 0);
  EXPECT_EQ(table.maxCode[2], -1);
  EXPECT_EQ(table.maxCode[17], -1);
}

TEST(HuffmanTable, NineBitCodesLeaveTheLookaheadEmptyAndDecodeThroughTheSearch) {
  std::array<uint8_t, 16> counts{};
  counts[8] = 3;  // codes 000000000, 000000001, 000000010
  const uint8_t values[] = {0x11, 0x22, 0x33};
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(counts.data(), values, 1, 0, &table), JpegStatus::Ok);
  for (const HuffmanLookahead& entry : table.lookahead) {
    EXPECT_EQ(entry.symbol, 0);
    EXPECT_EQ(entry.length, 0);
  }
  BitWriter bits;
  bits.put(0b000000010, 9);
  bits.put(0b000000000, 9);
  bits.put(0b000000001, 9);
  Bytes data = bits.finish();
  ByteInput input = memoryInput(data);
  EXPECT_EQ(readySymbol(&input, &table), 0x33);
  EXPECT_EQ(readySymbol(&input, &table), 0x11);
  EXPECT_EQ(readySymbol(&input, &table), 0x22);
}

TEST(HuffmanTable, RejectsMoreThan256Codes) {
  std::array<uint8_t, 16> counts{};
  counts[15] = 255;
  counts[14] = 2;  // 257 in all
  std::array<uint8_t, 257> values{};
  HuffmanTable table{};
  EXPECT_EQ(deriveHuffmanTable(counts.data(), values.data(), 0, 0, &table), JpegStatus::BadHuffmanTable);
}

TEST(HuffmanTable, RejectsOverSubscribedLengths) {
  std::array<uint8_t, 16> counts{};
  counts[0] = 3;  // three codes of one bit
  const uint8_t values[] = {1, 2, 3};
  HuffmanTable table{};
  EXPECT_EQ(deriveHuffmanTable(counts.data(), values, 0, 0, &table), JpegStatus::BadHuffmanTable);

  counts = {};
  counts[0] = 1;
  counts[1] = 3;  // 0, then 10, 11 and one too many
  EXPECT_EQ(deriveHuffmanTable(counts.data(), values, 0, 0, &table), JpegStatus::BadHuffmanTable);
}

TEST(HuffmanTable, AcceptsACompleteTableUsingTheAllOnesCode) {
  std::array<uint8_t, 16> counts{};
  counts[0] = 2;
  const uint8_t values[] = {7, 9};
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(counts.data(), values, 0, 0, &table), JpegStatus::Ok);
  EXPECT_EQ(table.lookahead[0xFF].symbol, 9);
}

struct AnnexKCase {
  const char* name;
  const Bytes* counts;
  const Bytes* values;
};

class HuffmanTableAnnexK : public ::testing::TestWithParam<AnnexKCase> {};

// Every symbol of the table, written with its canonical code, decodes back to itself.
TEST_P(HuffmanTableAnnexK, DerivesAndDecodesEverySymbol) {
  const AnnexKCase& c = GetParam();
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(c.counts->data(), c.values->data(), 1, 0, &table), JpegStatus::Ok);
  BitWriter bits;
  int code = 0;
  size_t k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < (*c.counts)[length - 1]; ++i, ++k, ++code)
      bits.put(static_cast<uint32_t>(code), length);
    code <<= 1;
  }
  Bytes data = bits.finish();
  ByteInput input = memoryInput(data);
  for (size_t i = 0; i < c.values->size(); ++i) {
    EXPECT_EQ(readySymbol(&input, &table), (*c.values)[i]) << "symbol #" << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, HuffmanTableAnnexK,
    ::testing::Values(
        AnnexKCase{"DcLuma", &stream_builder::kDcLumaCounts, &stream_builder::kDcLumaValues},
        AnnexKCase{"DcChroma", &stream_builder::kDcChromaCounts, &stream_builder::kDcChromaValues},
        AnnexKCase{"AcLuma", &stream_builder::kAcLumaCounts, &stream_builder::kAcLumaValues},
        AnnexKCase{"AcChroma", &stream_builder::kAcChromaCounts, &stream_builder::kAcChromaValues}),
    [](const ::testing::TestParamInfo<AnnexKCase>& info) { return std::string(info.param.name); });

TEST(HuffmanTable, SixteenBitAcLumaCodeDecodesThroughTheSearch) {
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(stream_builder::kAcLumaCounts.data(), stream_builder::kAcLumaValues.data(), 1,
                               0, &table),
            JpegStatus::Ok);
  // 0xFA is the last symbol: code 1111111111111110, sent as FF 00 FE.
  Bytes data = {0xFF, 0x00, 0xFE};
  ByteInput input = memoryInput(data);
  EXPECT_EQ(readySymbol(&input, &table), 0xFA);
}

TEST(HuffmanTable, CodeMatchingNoLengthYieldsSymbolZero) {
  std::array<uint8_t, 16> counts{};
  counts[0] = 1;  // only "0"
  const uint8_t values[] = {0x42};
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(counts.data(), values, 0, 0, &table), JpegStatus::Ok);
  Bytes data = {0x7F, 0xFF, 0x00, 0xFF, 0x00};
  ByteInput input = memoryInput(data);
  EXPECT_EQ(readySymbol(&input, &table), 0x42);
  EXPECT_EQ(readySymbol(&input, &table), 0);
}

// valueLookahead against the decoder itself: for every prefix, a stream of the prefix followed by
// zero bits decodes to the code, and its extra bits, the entry promises; size-0 symbols (end of
// block, sixteen zeros) carry their flags and value 0; prefixes with a longer code or pair hold 0.
TEST_P(HuffmanTableAnnexK, ValueLookaheadMatchesSymbolAndExtraBits) {
  const AnnexKCase& c = GetParam();
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(c.counts->data(), c.values->data(), 1, 0, &table), JpegStatus::Ok);
  int filled = 0;
  int sizeZero = 0;
  for (int32_t prefix = 0; prefix < (1 << kValueLookaheadBits); ++prefix) {
    BitWriter bits;
    bits.put(static_cast<uint32_t>(prefix), kValueLookaheadBits);
    bits.put(0, 32);
    Bytes data = bits.finish();
    ByteInput input = memoryInput(data);
    const int32_t symbol = readySymbol(&input, &table);
    const int32_t codeLength = 64 - input.bitCount;  // the first fill holds 64 bits
    const int32_t size = symbol & 15;
    const int32_t run = symbol >> 4;
    const uint32_t entry = table.valueLookahead[prefix];
    if (codeLength + size > kValueLookaheadBits) {
      EXPECT_EQ(entry, 0u) << "prefix " << prefix;
      continue;
    }
    ++filled;
    const int32_t value = size == 0 ? 0 : extendValue(getBits(&input, size), size);
    EXPECT_EQ(entryBits(entry), codeLength + size) << "prefix " << prefix;
    EXPECT_EQ(entryRun(entry), run) << "prefix " << prefix;
    EXPECT_EQ(entryValue(entry), value) << "prefix " << prefix;
    EXPECT_EQ((entry & kEntrySizeZero) != 0, size == 0) << "prefix " << prefix;
    EXPECT_EQ((entry & kEntryEndsBlock) != 0, size == 0 && run != 15) << "prefix " << prefix;
    EXPECT_EQ(entry & 0xF030u, 0u) << "prefix " << prefix;  // unused bits stay clear
    if (size == 0) ++sizeZero;
  }
  EXPECT_GT(filled, 0);
  EXPECT_GT(sizeZero, 0);  // the Annex K end-of-block codes are short
}

TEST(HuffmanTable, ValueLookaheadIsClearedWhenARederivationFails) {
  std::array<uint8_t, 16> counts{};
  counts[1] = 2;
  const uint8_t values[] = {0x01, 0x12, 0x03};
  HuffmanTable table{};
  ASSERT_EQ(deriveHuffmanTable(counts.data(), values, 1, 0, &table), JpegStatus::Ok);
  EXPECT_NE(table.valueLookahead[0], 0u);  // code 00, symbol 0x01, extra bit 0
  counts = {};
  counts[0] = 3;  // over-subscribed
  ASSERT_EQ(deriveHuffmanTable(counts.data(), values, 1, 0, &table), JpegStatus::BadHuffmanTable);
  for (const uint32_t entry : table.valueLookahead) ASSERT_EQ(entry, 0u);
}

}  // namespace
