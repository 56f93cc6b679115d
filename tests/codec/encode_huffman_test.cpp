// The encoder's bit writer, output buffers and Huffman block coding.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "codec/dispatch.h"
#include "codec/encode/encoder_tables.h"
#include "codec/encode/huffman_encode.h"
#include "codec/encode/marker_writer.h"
#include "codec/encode/output_writer.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/kernels/avx2/encode_kernels.h"
#include "codec/kernels/quantize.h"
#include "codec/kernels/sse2/encode_kernels.h"
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

// The encodeBlock kernel and its processor-specific twins: every test of the coder runs on each.
struct BlockCoder {
  const char* name;
  EncodeBlockKernel encode;
};

// encodeMcuBlocks over one block, so that every test of encodeBlock runs on it as well.
template <EncodeMcuBlocksKernel Kernel>
int32_t oneBlockMcu(ByteInput* writer, const HuffmanTable* dcTable, const HuffmanTable* acTable,
                    int32_t* lastDc, const int16_t* block) {
  const McuBlockCoding coding{dcTable, acTable, lastDc};
  return Kernel(writer, &coding, 1, block);
}

std::vector<BlockCoder> blockCoders() {
  std::vector<BlockCoder> coders = {{"portable", encodeBlock},
                                    {"portable MCU", oneBlockMcu<encodeMcuBlocks>}};
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  coders.push_back({"sse2", sse2::encodeBlock});
  coders.push_back({"sse2 MCU", oneBlockMcu<sse2::encodeMcuBlocks>});
#endif
#if defined(MESHWICK_HAS_AVX2_KERNELS)
  if (kernelSetAvailable(KernelSet::Avx2)) coders.push_back({"avx2 MCU", oneBlockMcu<avx2::encodeMcuBlocks>});
#endif
  return coders;
}

// The encodeMcuBlocks kernel and its twins.
struct McuCoder {
  const char* name;
  EncodeMcuBlocksKernel encode;
};

std::vector<McuCoder> mcuCoders() {
  std::vector<McuCoder> coders = {{"portable", encodeMcuBlocks}};
#if defined(MESHWICK_HAS_SSE2_KERNELS)
  coders.push_back({"sse2", sse2::encodeMcuBlocks});
#endif
#if defined(MESHWICK_HAS_AVX2_KERNELS)
  if (kernelSetAvailable(KernelSet::Avx2)) coders.push_back({"avx2", avx2::encodeMcuBlocks});
#endif
  return coders;
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
  for (const BlockCoder& coder : blockCoders()) {
    for (const BlockCase& c : cases) {
      SCOPED_TRACE(std::string(coder.name) + " " + c.name);
      std::array<int16_t, 64> block{};
      for (const auto& [k, value] : c.zigzagValues) block[kEncodeZigzagToNatural[k]] = value;
      BufferWriter out(64);
      int32_t lastDc = c.previousDc;
      ASSERT_EQ(coder.encode(&out.writer, &tables.dc, &tables.ac, &lastDc, block.data()), 0);
      EXPECT_EQ(lastDc, block[0]);
      ASSERT_EQ(putBytes(nullptr, 0, &out.writer), 0);
      EXPECT_EQ(out.written(), bytesOf(c.bits));
    }
  }
}

// --- the block coder against the bit-at-a-time coder ------------------------------------------

// T.81 F.1.2 written plainly with putBits: the coder encodeBlock must match byte for byte.
JpegStatus referenceBlock(ByteInput* writer, const HuffmanTable* dc, const HuffmanTable* ac, int32_t* lastDc,
                          const int16_t* block) {
  const auto symbol = [&](const HuffmanTable* table, uint32_t value) {
    value &= 0xFF;
    return putBits(writer, table->code[value], table->codeLength[value]);
  };
  const auto extra = [&](int32_t value, int32_t category) {
    return category == 0 ? JpegStatus::Ok
                         : putBits(writer, static_cast<uint32_t>(value < 0 ? value - 1 : value), category);
  };
  const int32_t difference = block[0] - *lastDc;
  *lastDc = block[0];
  const int32_t dcCategory = sizeCategory(static_cast<uint32_t>(std::abs(difference)));
  JpegStatus status = symbol(dc, static_cast<uint32_t>(dcCategory));
  if (status == JpegStatus::Ok) status = extra(difference, dcCategory);
  uint32_t run = 0;
  for (int k = 1; k < 64 && status == JpegStatus::Ok; ++k) {
    const int32_t value = block[kEncodeZigzagToNatural[k]];
    if (value == 0) {
      ++run;
      continue;
    }
    for (; run > 15 && status == JpegStatus::Ok; run -= 16) status = symbol(ac, 0xF0);
    const int32_t category = sizeCategory(static_cast<uint32_t>(std::abs(value)));
    if (status == JpegStatus::Ok) status = symbol(ac, run * 16 + static_cast<uint32_t>(category));
    if (status == JpegStatus::Ok) status = extra(value, category);
    run = 0;
  }
  if (status == JpegStatus::Ok && run > 0) status = symbol(ac, 0x00);
  return status;
}

// Blocks of one kind: how many coefficients are nonzero and how large they get.
struct BlockKind {
  const char* name;
  int nonzeroPercent;
  int maxMagnitude;
};

std::vector<std::array<int16_t, 64>> randomBlocks(const BlockKind& kind, int count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> magnitude(-kind.maxMagnitude, kind.maxMagnitude);
  std::vector<std::array<int16_t, 64>> blocks(static_cast<size_t>(count));
  for (auto& block : blocks) {
    for (int16_t& value : block) {
      if (percent(random) < kind.nonzeroPercent)
        value = static_cast<int16_t>(std::clamp(magnitude(random), -32768, 32767));
    }
  }
  return blocks;
}

// A table giving symbols 0..254 codes of `length` bits (a count byte lists at most 255).
HuffmanTable everySymbolTable(int length) {
  std::array<uint8_t, 16> counts{};
  counts[static_cast<size_t>(length - 1)] = 255;
  std::array<uint8_t, 256> symbols{};
  for (int i = 0; i < 256; ++i) symbols[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  HuffmanTable table{};
  EXPECT_EQ(deriveEncodingTable(counts.data(), symbols.data(), &table), JpegStatus::Ok);
  return table;
}

const BlockKind kBlockKinds[] = {
    {"all zero", 0, 1},
    {"sparse small", 8, 3},
    {"half small", 50, 15},
    {"dense", 95, 255},
    {"dense 11-bit", 90, 2047},
    {"extreme", 40, 32767},
    {"long runs", 2, 1023},
    // -32768 included: what the quantisers store for the largest products.
    {"full range", 60, 32768},
};

// Every block kind under the Annex K tables and under tables that code every symbol with 8 or
// 16 bits (32-bit code and extra bits): same bytes, same writer state after every block.
TEST(EncoderHuffman, BlockCoderMatchesTheBitAtATimeCoder) {
  AnnexKTables annexK;
  const HuffmanTable short8 = everySymbolTable(8), long16 = everySymbolTable(16);
  const std::pair<const HuffmanTable*, const HuffmanTable*> tableSets[] = {
      {&annexK.dc, &annexK.ac}, {&short8, &short8}, {&long16, &long16}};
  for (const BlockCoder& coder : blockCoders()) {
    for (const BlockKind& kind : kBlockKinds) {
      for (const auto& [dc, ac] : tableSets) {
        SCOPED_TRACE(std::string(coder.name) + " " + kind.name +
                     (ac == &short8   ? ", 8-bit codes"
                      : ac == &long16 ? ", 16-bit codes"
                                      : ""));
        const auto blocks = randomBlocks(kind, 300, 7);
        BufferWriter fast(300 * 64 * 9), plain(300 * 64 * 9);
        int32_t fastDc = 0, plainDc = 0;
        for (const auto& block : blocks) {
          ASSERT_EQ(coder.encode(&fast.writer, dc, ac, &fastDc, block.data()), 0);
          ASSERT_EQ(referenceBlock(&plain.writer, dc, ac, &plainDc, block.data()), JpegStatus::Ok);
          ASSERT_EQ(fast.writer.bits, plain.writer.bits);
          ASSERT_EQ(fast.writer.bitCount, plain.writer.bitCount);
          ASSERT_EQ(fast.writer.consumed, plain.writer.consumed);
          ASSERT_EQ(fastDc, plainDc);
        }
        EXPECT_EQ(fast.written(), plain.written());
      }
    }
  }
}

// A buffer that runs out anywhere in a block: the same status, the same bytes up to the end,
// and nothing written past them.
TEST(EncoderHuffman, BlockCoderFailsWhereTheBitAtATimeCoderFails) {
  AnnexKTables tables;
  const auto blocks = randomBlocks({"dense", 90, 255}, 4, 11);
  for (const BlockCoder& coder : blockCoders()) {
    for (size_t size = 1; size < 700; size += 3) {
      SCOPED_TRACE(std::string(coder.name) + " " + std::to_string(size));
      BufferWriter fast(size), plain(size);
      int32_t fastDc = 0, plainDc = 0;
      int32_t fastStatus = 0;
      JpegStatus plainStatus = JpegStatus::Ok;
      for (const auto& block : blocks) {
        if (fastStatus == 0)
          fastStatus = coder.encode(&fast.writer, &tables.dc, &tables.ac, &fastDc, block.data());
        if (plainStatus == JpegStatus::Ok)
          plainStatus = referenceBlock(&plain.writer, &tables.dc, &tables.ac, &plainDc, block.data());
      }
      EXPECT_EQ(fastStatus, static_cast<int32_t>(plainStatus));
      EXPECT_EQ(fast.written(), plain.written());
      EXPECT_EQ(fast.writer.consumed, plain.writer.consumed);
      EXPECT_TRUE(std::all_of(fast.buffer.begin() + (fast.writer.current - fast.writer.start),
                              fast.buffer.end(), [](uint8_t byte) { return byte == 0xEE; }));
    }
  }
}

// --- several blocks per call -------------------------------------------------------------------

// MCU layouts as the component of each block: the component picks the tables and the predictor.
struct McuShape {
  const char* name;
  std::vector<int> components;
};

const McuShape kMcuShapes[] = {
    {"grey", {0}},
    {"4:4:4", {0, 1, 2}},
    {"4:2:0", {0, 0, 0, 0, 1, 2}},
    {"ten blocks", {0, 0, 0, 0, 1, 1, 2, 2, 3, 3}},
};

// Luminance tables for component 0, 8-bit and 16-bit codes for the others, so that a block
// coded with the wrong tables shows.
struct McuTables {
  McuTables() : short8(everySymbolTable(8)), long16(everySymbolTable(16)) {}
  std::vector<McuBlockCoding> codingOf(const McuShape& shape, int32_t* lastDc) const {
    std::vector<McuBlockCoding> coding;
    for (const int c : shape.components) {
      const HuffmanTable* const ac = c == 0 ? &annexK.ac : c % 2 == 1 ? &short8 : &long16;
      coding.push_back({c == 0 ? &annexK.dc : ac, ac, &lastDc[c]});
    }
    return coding;
  }
  JpegStatus reference(ByteInput* writer, const std::vector<McuBlockCoding>& coding,
                       const int16_t* blocks) const {
    JpegStatus status = JpegStatus::Ok;
    for (size_t b = 0; b < coding.size() && status == JpegStatus::Ok; ++b)
      status =
          referenceBlock(writer, coding[b].dcTable, coding[b].acTable, coding[b].lastDc, blocks + 64 * b);
    return status;
  }
  AnnexKTables annexK;
  HuffmanTable short8, long16;
};

// The blocks of `mcus` MCUs of `blocksPerMcu` blocks, one after the other.
std::vector<int16_t> randomMcus(const BlockKind& kind, size_t blocksPerMcu, int mcus, uint32_t seed) {
  std::vector<int16_t> values;
  for (const auto& block : randomBlocks(kind, static_cast<int>(blocksPerMcu) * mcus, seed))
    values.insert(values.end(), block.begin(), block.end());
  return values;
}

// Every shape and block kind: the bytes, writer state and predictors of one encodeBlock call
// per block after every MCU.
TEST(EncoderHuffman, McuCoderMatchesTheBitAtATimeCoder) {
  const McuTables tables;
  for (const McuCoder& coder : mcuCoders()) {
    for (const McuShape& shape : kMcuShapes) {
      for (const BlockKind& kind : kBlockKinds) {
        SCOPED_TRACE(std::string(coder.name) + " " + shape.name + " " + kind.name);
        constexpr int kMcus = 60;
        const size_t count = shape.components.size();
        const auto blocks = randomMcus(kind, count, kMcus, 3);
        BufferWriter fast(count * kMcus * 64 * 9), plain(count * kMcus * 64 * 9);
        int32_t fastDc[4] = {}, plainDc[4] = {};
        const auto fastCoding = tables.codingOf(shape, fastDc), plainCoding = tables.codingOf(shape, plainDc);
        for (int m = 0; m < kMcus; ++m) {
          const int16_t* mcu = blocks.data() + 64 * count * static_cast<size_t>(m);
          ASSERT_EQ(coder.encode(&fast.writer, fastCoding.data(), static_cast<int32_t>(count), mcu), 0);
          ASSERT_EQ(tables.reference(&plain.writer, plainCoding, mcu), JpegStatus::Ok);
          ASSERT_EQ(fast.writer.bits, plain.writer.bits);
          ASSERT_EQ(fast.writer.bitCount, plain.writer.bitCount);
          ASSERT_EQ(fast.writer.consumed, plain.writer.consumed);
          ASSERT_TRUE(std::equal(std::begin(fastDc), std::end(fastDc), std::begin(plainDc)));
        }
        EXPECT_EQ(fast.written(), plain.written());
      }
    }
  }
}

// Every value at the edge of a category (bit widths crossing a byte, the extremes) at every
// zig-zag position, alone and beside a neighbour of the other sign: the same bytes as one
// bit-at-a-time block after another.
TEST(EncoderHuffman, McuCoderCodesEveryCategoryEdgeAtEveryPosition) {
  const std::vector<int16_t> edges = {1,    -1,    2,     -2,     3,     -3,     127,    -127,  128,  -128,
                                      255,  -255,  256,   -256,   511,   -512,   1023,   -1024, 2047, -2048,
                                      4096, -4095, 16384, -16383, 32767, -32767, -32768, 32766};
  const McuTables tables;
  for (const McuCoder& coder : mcuCoders()) {
    for (const int16_t value : edges) {
      SCOPED_TRACE(std::string(coder.name) + " " + std::to_string(value));
      std::vector<int16_t> blocks;
      for (int k = 0; k < 64; ++k) {
        std::array<int16_t, 64> block{};
        block[kEncodeZigzagToNatural[k]] = value;
        if (k < 63) block[kEncodeZigzagToNatural[k + 1]] = static_cast<int16_t>(value > 0 ? -7 : 9);
        blocks.insert(blocks.end(), block.begin(), block.end());
      }
      const McuShape shape{"64 blocks", std::vector<int>(64, 0)};
      BufferWriter fast(64 * 64 * 9), plain(64 * 64 * 9);
      int32_t fastDc[4] = {}, plainDc[4] = {};
      const auto fastCoding = tables.codingOf(shape, fastDc), plainCoding = tables.codingOf(shape, plainDc);
      ASSERT_EQ(coder.encode(&fast.writer, fastCoding.data(), 64, blocks.data()), 0);
      ASSERT_EQ(tables.reference(&plain.writer, plainCoding, blocks.data()), JpegStatus::Ok);
      EXPECT_EQ(fast.written(), plain.written());
      EXPECT_EQ(fast.writer.bits, plain.writer.bits);
      EXPECT_EQ(fast.writer.bitCount, plain.writer.bitCount);
    }
  }
}

// A buffer that runs out in any block of an MCU: the same status and bytes, nothing past them.
TEST(EncoderHuffman, McuCoderFailsWhereTheBitAtATimeCoderFails) {
  const McuTables tables;
  const McuShape& shape = kMcuShapes[2];
  const size_t count = shape.components.size();
  const auto blocks = randomMcus({"dense", 90, 255}, count, 2, 13);
  for (const McuCoder& coder : mcuCoders()) {
    for (size_t size = 1; size < 1500; size += 5) {
      SCOPED_TRACE(std::string(coder.name) + " " + std::to_string(size));
      BufferWriter fast(size), plain(size);
      int32_t fastDc[4] = {}, plainDc[4] = {};
      const auto fastCoding = tables.codingOf(shape, fastDc), plainCoding = tables.codingOf(shape, plainDc);
      int32_t fastStatus = 0;
      JpegStatus plainStatus = JpegStatus::Ok;
      for (size_t m = 0; m < 2; ++m) {
        if (fastStatus == 0)
          fastStatus = coder.encode(&fast.writer, fastCoding.data(), static_cast<int32_t>(count),
                                    blocks.data() + 64 * count * m);
        if (plainStatus == JpegStatus::Ok)
          plainStatus = tables.reference(&plain.writer, plainCoding, blocks.data() + 64 * count * m);
      }
      EXPECT_EQ(fastStatus, static_cast<int32_t>(plainStatus));
      EXPECT_EQ(fast.written(), plain.written());
      EXPECT_EQ(fast.writer.consumed, plain.writer.consumed);
      EXPECT_TRUE(std::all_of(fast.buffer.begin() + (fast.writer.current - fast.writer.start),
                              fast.buffer.end(), [](uint8_t byte) { return byte == 0xEE; }));
    }
  }
}

// Through the 4096-byte file buffer: the same file as the bit-at-a-time coder writes.
std::vector<uint8_t> fileWrittenBy(EncodeBlockKernel coder,
                                   const std::vector<std::array<int16_t, 64>>& blocks) {
  AnnexKTables tables;
  const std::string path = testing::TempDir() + "meshwick_block_coder_" + std::to_string(getpid()) + ".bin";
  KernelTable kernels{};
  kernels.putBytes = putBytes;
  auto writer = std::make_unique<ByteInput>();
  writer->kernels = &kernels;
  writer->file = fileOpen(path.c_str(), FileAccess::ReadWrite);
  EXPECT_NE(writer->file, 0);
  if (writer->file == 0) return {};
  initOutput(writer.get(), nullptr, 0);
  int32_t lastDc = 0;
  for (const auto& block : blocks) {
    const int32_t status = coder != nullptr
                               ? coder(writer.get(), &tables.dc, &tables.ac, &lastDc, block.data())
                               : static_cast<int32_t>(referenceBlock(writer.get(), &tables.dc, &tables.ac,
                                                                     &lastDc, block.data()));
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(flushOutput(writer.get()), JpegStatus::Ok);
  EXPECT_TRUE(fileClose(writer->file));
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::remove(path.c_str());
  return file;
}

TEST(EncoderHuffman, BlockCoderWritesTheSameFile) {
  const auto blocks = randomBlocks({"dense", 90, 255}, 2000, 5);
  const std::vector<uint8_t> expected = fileWrittenBy(nullptr, blocks);
  EXPECT_GT(expected.size(), 4096u * 3);
  for (const BlockCoder& coder : blockCoders()) {
    SCOPED_TRACE(coder.name);
    EXPECT_EQ(fileWrittenBy(coder.encode, blocks), expected);
  }
}

}  // namespace
