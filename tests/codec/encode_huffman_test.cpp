// The encoder's bit writer, output buffers and Huffman block coding.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/encode/encoder_tables.h"
#include "codec/encode/huffman_encode.h"
#include "codec/encode/marker_writer.h"
#include "codec/encode/output_writer.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/kernels/quantize.h"
#include "tests/support/test_files.h"

namespace {

// A writer over a memory buffer with the portable putBytes in its kernel table.
struct BufferWriter {
  explicit BufferWriter(size_t size) : buffer(size, 0xEE) {
    kernels.putBytes = putBytes;
    writer.kernels = &kernels;
    initOutput(&writer, buffer.data(), static_cast<uint32_t>(buffer.size()));
  }
  std::vector<uint8_t> written() const {
    return {buffer.begin(), buffer.begin() + (writer.current - writer.start)};
  }
  KernelTable kernels{};
  ByteInput writer{};
  std::vector<uint8_t> buffer;
};

// Bytes of a bit string ("1" and "0"), padded with 1-bits, 0x00 stuffed after 0xFF.
std::vector<uint8_t> bytesOf(std::string bits) {
  while (bits.size() % 8 != 0) bits += '1';
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < bits.size(); i += 8) {
    const uint8_t byte = static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2));
    bytes.push_back(byte);
    if (byte == 0xFF) bytes.push_back(0x00);
  }
  return bytes;
}

struct AnnexKTables {
  AnnexKTables() {
    EXPECT_EQ(deriveEncodingTable(kDcLuminanceCounts.data(), kDcLuminanceSymbols.data(), &dc),
              JpegStatus::Ok);
    EXPECT_EQ(deriveEncodingTable(kAcLuminanceCounts.data(), kAcLuminanceSymbols.data(), &ac),
              JpegStatus::Ok);
  }
  HuffmanTable dc{};
  HuffmanTable ac{};
};

TEST(EncoderOutput, BitsGoMostSignificantFirstAndFFIsStuffed) {
  BufferWriter out(16);
  EXPECT_EQ(putBits(&out.writer, 0x5, 3), JpegStatus::Ok);   // 101
  EXPECT_EQ(putBits(&out.writer, 0x1F, 5), JpegStatus::Ok);  // 11111 -> byte 0xBF, stays pending
  EXPECT_TRUE(out.written().empty());
  EXPECT_EQ(putBits(&out.writer, 0xFFFF, 16), JpegStatus::Ok);         // two 0xFF bytes
  EXPECT_EQ(out.written(), (std::vector<uint8_t>{0xBF, 0xFF, 0x00}));  // the second 0xFF is pending
  EXPECT_EQ(putBits(&out.writer, 0x3, 2), JpegStatus::Ok);
  EXPECT_EQ(out.written(), (std::vector<uint8_t>{0xBF, 0xFF, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(out.writer.consumed, 5u);
  EXPECT_EQ(out.writer.kernels->putBytes(nullptr, 0, &out.writer), 0);
  // 11 padded with six 1-bits is 0xFF again, stuffed as well.
  EXPECT_EQ(out.written(), (std::vector<uint8_t>{0xBF, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(out.writer.consumed, 7u);
}

TEST(EncoderOutput, MarkerAfterFivePendingBitsPadsWithOnes) {
  BufferWriter out(16);
  EXPECT_EQ(putBits(&out.writer, 0x0A, 5), JpegStatus::Ok);  // 01010
  EXPECT_EQ(writeRst(&out.writer, 3), JpegStatus::Ok);
  EXPECT_EQ(out.written(), (std::vector<uint8_t>{0x57, 0xFF, 0xD3}));
  EXPECT_EQ(writeRst(&out.writer, 8), JpegStatus::BadRstMarker);
}

// putBytes keeps one byte free after every segment: a buffer exactly as long as the stream
// fails at the last marker, one spare byte lets it through.
TEST(EncoderOutput, SegmentNeedsOneSpareByte) {
  const std::array<uint8_t, 4> segment = {0xFF, 0xFE, 0x00, 0x02};
  struct Case {
    size_t bufferSize;
    int pendingBits;
    int32_t expected;
  };
  const Case cases[] = {{4, 0, -28}, {5, 0, 0}, {5, 3, -28}, {6, 3, 0}, {6, 8, -28}, {7, 8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bufferSize << " " << c.pendingBits);
    BufferWriter out(c.bufferSize);
    // Three 0-bits pad to 0x1F, one byte; eight 1-bits are a pending 0xFF, which takes two
    // bytes with its stuffed zero.
    if (c.pendingBits > 0) {
      EXPECT_EQ(putBits(&out.writer, c.pendingBits == 8 ? 0xFF : 0, c.pendingBits), JpegStatus::Ok);
    }
    EXPECT_EQ(putBytes(segment.data(), 4, &out.writer), c.expected);
    if (c.expected != 0) {
      EXPECT_TRUE(out.written().empty());
    }
  }
}

TEST(EncoderOutput, EntropyBytesFailWhenTheBufferIsFull) {
  BufferWriter out(2);
  EXPECT_EQ(putBits(&out.writer, 0x1234, 16), JpegStatus::Ok);
  EXPECT_EQ(putBits(&out.writer, 0x1, 1), JpegStatus::Ok);
  EXPECT_EQ(putBits(&out.writer, 0xFF, 8), JpegStatus::OutputBufferTooSmall);
  BufferWriter stuffed(1);
  EXPECT_EQ(putBits(&stuffed.writer, 0xFF, 8), JpegStatus::Ok);
  // The 0xFF fits, its stuffed zero does not.
  EXPECT_EQ(putBits(&stuffed.writer, 0, 1), JpegStatus::OutputBufferTooSmall);
}

TEST(EncoderOutput, FileFormFlushesEveryFullBufferAndReportsShortWrites) {
  const test::TempDir dir("encoder_output");
  const std::string path = dir.file("output.bin").string();
  KernelTable kernels{};
  kernels.putBytes = putBytes;
  auto* writer = new ByteInput{};
  writer->kernels = &kernels;
  writer->file = fileOpen(path.c_str(), FileAccess::ReadWrite);
  ASSERT_NE(writer->file, 0);
  initOutput(writer, nullptr, 0);
  std::vector<uint8_t> expected;
  for (int i = 0; i < 10000; ++i) {
    const uint8_t byte = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(putBits(writer, byte, 8), JpegStatus::Ok);
    expected.push_back(byte);
    if (byte == 0xFF) expected.push_back(0);
  }
  std::vector<uint8_t> block(5000, 0x42);
  ASSERT_EQ(putBytes(block.data(), static_cast<int32_t>(block.size()), writer), 0);
  expected.insert(expected.end(), block.begin(), block.end());
  ASSERT_EQ(flushOutput(writer), JpegStatus::Ok);
  EXPECT_EQ(writer->consumed, expected.size());
  ASSERT_TRUE(fileClose(writer->file));
  EXPECT_EQ(test::readBytes(path), expected);

  // A device that takes no bytes: the first full buffer fails with FileError.
  writer->file = fileOpen("/dev/full", FileAccess::ReadWrite);
  ASSERT_NE(writer->file, 0);
  initOutput(writer, nullptr, 0);
  JpegStatus status = JpegStatus::Ok;
  for (int i = 0; i < 5000 && status == JpegStatus::Ok; ++i) status = putBits(writer, 0x11, 8);
  EXPECT_EQ(status, JpegStatus::FileError);
  fileClose(writer->file);
  delete writer;
  std::remove(path.c_str());
}

TEST(EncoderHuffman, AnnexKLuminanceDcCodes) {
  AnnexKTables tables;
  const std::array<std::string, 12> codes = {"00",   "010",   "011",    "100",     "101",      "110",
                                             "1110", "11110", "111110", "1111110", "11111110", "111111110"};
  for (int s = 0; s < 12; ++s) {
    ASSERT_EQ(tables.dc.codeLength[s], static_cast<int32_t>(codes[s].size())) << s;
    EXPECT_EQ(tables.dc.code[s], std::stoi(codes[s], nullptr, 2)) << s;
  }
  EXPECT_EQ(tables.dc.codeLength[12], 0);
}

TEST(EncoderHuffman, BadSpecificationsAreRejected) {
  HuffmanTable table{};
  std::array<uint8_t, 259> symbols{};
  for (size_t i = 0; i < symbols.size(); ++i) symbols[i] = static_cast<uint8_t>(i);
  std::array<uint8_t, 16> tooMany{};
  tooMany[15] = 255;
  tooMany[14] = 4;  // 259 codes
  EXPECT_EQ(deriveEncodingTable(tooMany.data(), symbols.data(), &table), JpegStatus::BadHuffmanTable);
  std::array<uint8_t, 16> overfull{};
  overfull[0] = 3;  // three codes of one bit
  EXPECT_EQ(deriveEncodingTable(overfull.data(), symbols.data(), &table), JpegStatus::BadHuffmanTable);
  std::array<uint8_t, 16> full{};
  full[0] = 2;  // 0 and 1
  EXPECT_EQ(deriveEncodingTable(full.data(), symbols.data(), &table), JpegStatus::Ok);
}

TEST(EncoderHuffman, SymbolListedTwiceKeepsTheLaterCode) {
  HuffmanTable table{};
  const std::array<uint8_t, 16> counts = {0, 3};
  const std::array<uint8_t, 3> symbols = {7, 9, 7};
  ASSERT_EQ(deriveEncodingTable(counts.data(), symbols.data(), &table), JpegStatus::Ok);
  EXPECT_EQ(table.codeLength[7], 2);
  EXPECT_EQ(table.code[7], 2);
  EXPECT_EQ(table.code[9], 1);
}

TEST(EncoderHuffman, SizeCategories) {
  const std::pair<uint32_t, int32_t> cases[] = {{0, 0},      {1, 1},      {2, 2},     {3, 2},     {4, 3},
                                                {255, 8},    {256, 9},    {1023, 10}, {2047, 11}, {2048, 12},
                                                {32767, 15}, {32768, 16}, {65535, 16}};
  for (const auto& [value, bits] : cases) EXPECT_EQ(sizeCategory(value), bits) << value;
}

struct BlockCase {
  const char* name;
  int16_t previousDc;
  std::vector<std::pair<int, int16_t>> zigzagValues;  // zig-zag position, value
  std::string bits;
};

TEST(EncoderHuffman, BlocksCodeAsT81Baseline) {
  const BlockCase cases[] = {
      // DC difference -5: category 3 (100), bits of -6 = 010; all AC zero: EOB 1010.
      {"zeros after DC 5",
       5,
       {},
       "100"
       "010"
       "1010"},
      // 62 zeros then a 1 at position 63: three ZRL, then symbol 0xE1 and bit 1, no EOB.
      {"last coefficient",
       0,
       {{63, 1}},
       "00"
       "11111111001"
       "11111111001"
       "11111111001"
       "1111111111101011"
       "1"},
      // DC +3 (011 + 11); AC -1 at 1 (symbol 0x01: 00, bit 0); 2 at 3 after one zero
      // (symbol 0x12: 11011, bits 10); then EOB.
      {"mixed",
       0,
       {{0, 3}, {1, -1}, {3, 2}},
       "011"
       "11"
       "00"
       "0"
       "11011"
       "10"
       "1010"},
  };
  AnnexKTables tables;
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<int16_t, 64> block{};
    for (const auto& [k, value] : c.zigzagValues) block[kEncodeZigzagToNatural[k]] = value;
    BufferWriter out(64);
    int32_t lastDc = c.previousDc;
    ASSERT_EQ(encodeBlock(&out.writer, &tables.dc, &tables.ac, &lastDc, block.data()), 0);
    EXPECT_EQ(lastDc, block[0]);
    ASSERT_EQ(putBytes(nullptr, 0, &out.writer), 0);
    EXPECT_EQ(out.written(), bytesOf(c.bits));
  }
}

}  // namespace
