#include "codec/decode/marker_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "codec/decode/byte_input.h"
#include "tests/codec/codec_test_support.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using namespace stream_builder;

// SOI, JFIF, tables, a 16x16 frame of one component and its scan header.
Bytes greyHeaders(const Bytes& beforeFrame = {}) {
  Bytes out = marker(0xD8);
  append(out, jfif());
  append(out, dqt8(0, 1));
  append(out, standardTables());
  append(out, beforeFrame);
  append(out, sof(0xC0, 16, 16, {{1, 1, 1, 0}}));
  append(out, sos({{1, 0, 0}}));
  return out;
}

TEST(MarkerReader, GarbageBeforeSoiIsPassedOverInParameterModes) {
  Bytes stream = {0x00, 0x12, 0x34, 0xFE};
  append(stream, greyHeaders());
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->jpegWidth, 16);
  EXPECT_EQ(record->jpegHeight, 16);
  EXPECT_EQ(record->jpegChannels, 1);
  EXPECT_EQ(record->jpegColor, JpegColor::Gray);
}

TEST(MarkerReader, ParameterModesRequireSoi) {
  Bytes stream = greyHeaders();
  stream[1] = 0xD9;
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::NotJpeg);
}

TEST(MarkerReader, SixteenBitQuantTableKeepsItsValuesAndPrecision) {
  Bytes payload = {0x12};  // Pq 1, Tq 2
  for (int k = 0; k < 64; ++k)
    payload.insert(payload.end(), {static_cast<uint8_t>(k >> 4), static_cast<uint8_t>(k * 7)});
  Bytes stream = greyHeaders(segment(0xDB, payload));
  TestRecord record;
  record.useBuffer(stream);
  record->state.dctVariant = 1;  // plain steps, natural order
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  const QuantTable& table = record->state.quantTables[2];
  EXPECT_EQ(table.precision, 1);
  EXPECT_EQ(table.tableId, 2);
  for (int k = 0; k < 64; ++k)
    EXPECT_EQ(table.values[kNaturalOrder[k]], ((k >> 4) << 8) | ((k * 7) & 0xFF)) << k;
  EXPECT_EQ(record->state.quantTableCount, 3);
}

struct SegmentCase {
  const char* name;
  Bytes segmentBytes;
  JpegStatus expected;
};

class MarkerReaderSegments : public ::testing::TestWithParam<SegmentCase> {};

// Each malformed segment stops the parameters read with the status named for it.
TEST_P(MarkerReaderSegments, ReturnsTheSegmentsStatus) {
  Bytes stream = greyHeaders(GetParam().segmentBytes);
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), GetParam().expected);
}

Bytes dqtWithTableId(uint8_t id) {
  Bytes payload = {id};
  payload.insert(payload.end(), 64, 1);
  return segment(0xDB, payload);
}

Bytes frameWith(std::initializer_list<FrameComponent> components) {
  return sof(0xC0, 16, 16, components);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MarkerReaderSegments,
    ::testing::Values(
        SegmentCase{"QuantTableIdFour", dqtWithTableId(4), JpegStatus::BadQuantTable},
        // Declared length 10 but a 64-byte table: the table runs past the segment.
        SegmentCase{"QuantTablePastSegmentEnd", Bytes{0xFF, 0xDB, 0x00, 0x0A, 0x00, 1, 1, 1, 1, 1, 1, 1},
                    JpegStatus::DataError},
        SegmentCase{"HuffmanTablePastSegmentEnd",
                    [] {
                      Bytes payload = {0x00};
                      Bytes counts(16, 0);
                      counts[1] = 4;
                      append(payload, counts);
                      payload.insert(payload.end(), {1, 2});  // two of the four symbols
                      return segment(0xC4, payload);
                    }(),
                    JpegStatus::DataError},
        SegmentCase{"HuffmanClassTwo", dht(2, 0, kDcLumaCounts, kDcLumaValues), JpegStatus::BadHuffmanTable},
        SegmentCase{"HuffmanOverSubscribed",
                    [] {
                      Bytes counts(16, 0);
                      counts[0] = 3;
                      return dht(0, 1, counts, {1, 2, 3});
                    }(),
                    JpegStatus::BadHuffmanTable},
        SegmentCase{"FiveComponents",
                    frameWith({{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 1, 1, 0}}),
                    JpegStatus::ComponentError},
        SegmentCase{"SamplingFactorZero", frameWith({{1, 0, 1, 0}}), JpegStatus::SofError},
        SegmentCase{"SamplingFactorFive", frameWith({{1, 1, 5, 0}}), JpegStatus::SofError},
        SegmentCase{"ZeroHeight", sof(0xC0, 16, 0, {{1, 1, 1, 0}}), JpegStatus::DnlError},
        SegmentCase{"TwelveBitPrecision",
                    [] {
                      Bytes frame = sof(0xC1, 16, 16, {{1, 1, 1, 0}});
                      frame[4] = 12;
                      return frame;
                    }(),
                    JpegStatus::UnsupportedFrame},
        SegmentCase{"LosslessFrame", sof(0xC3, 16, 16, {{1, 1, 1, 0}}), JpegStatus::UnsupportedFrame},
        SegmentCase{"ArithmeticFrame", sof(0xC9, 16, 16, {{1, 1, 1, 0}}), JpegStatus::UnsupportedFrame},
        SegmentCase{"SegmentLengthOne", Bytes{0xFF, 0xE5, 0x00, 0x01}, JpegStatus::DataError}),
    [](const ::testing::TestParamInfo<SegmentCase>& info) { return std::string(info.param.name); });

TEST(MarkerReader, FrameWithTooManyComponentsLeavesTheTableUntouchedByIt) {
  Bytes stream =
      greyHeaders(frameWith({{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}, {4, 1, 1, 0}, {5, 2, 2, 0}}));
  TestRecord record;
  record.useBuffer(stream);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::ComponentError);
  EXPECT_EQ(record->state.noFrameYet, 1);
  EXPECT_EQ(record->state.componentCount, 4);
}

TEST(MarkerReader, CommentLongerThanTheBufferFillsItAndReportsTheLength) {
  Bytes text(100);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('a' + i % 26);
  Bytes stream = greyHeaders(segment(0xFE, text));
  TestRecord record;
  record.useBuffer(stream);
  uint8_t buffer[48];
  std::memset(buffer, '#', sizeof buffer);
  record->state.commentBuffer = buffer;
  record->state.commentLength = 40;
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::CommentBufferError);
  EXPECT_EQ(record->state.commentLength, 100);
  EXPECT_EQ(std::memcmp(buffer, text.data(), 40), 0);
  EXPECT_EQ(buffer[40], '#');
}

TEST(MarkerReader, CommentThatFitsIsCopiedWhole) {
  Bytes text = {'h', 'i'};
  Bytes stream = greyHeaders(segment(0xFE, text));
  TestRecord record;
  record.useBuffer(stream);
  uint8_t buffer[8] = {};
  record->state.commentBuffer = buffer;
  record->state.commentLength = sizeof buffer;
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->state.commentLength, 2);
  EXPECT_EQ(buffer[0], 'h');
  EXPECT_EQ(buffer[1], 'i');
}

TEST(MarkerReader, JpegCodedJfxxThumbnailIsIgnored) {
  Bytes payload = {'J', 'F', 'X', 'X', 0, 0x10};
  payload.insert(payload.end(), 20, 0xAB);
  Bytes stream = greyHeaders(segment(0xE0, payload));
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->thumbWidth, 0);
  EXPECT_EQ(record->thumbHeight, 0);
}

TEST(MarkerReader, JfifThumbnailSizeIsReportedByTheParametersRead) {
  Bytes stream = marker(0xD8);
  append(stream, jfif(2, 3, Bytes(18, 7)));
  Bytes rest = greyHeaders();
  stream.insert(stream.end(), rest.begin() + 2, rest.end());
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->thumbWidth, 2);
  EXPECT_EQ(record->thumbHeight, 3);
}

TEST(MarkerReader, ScanBeforeFrameIsNoFrame) {
  Bytes stream = marker(0xD8);
  append(stream, standardTables());
  append(stream, sos({{1, 0, 0}}));
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::NoFrame);
}

TEST(MarkerReader, ScanNamingAnUnknownComponentIsADataError) {
  Bytes stream = marker(0xD8);
  append(stream, dqt8(0, 1));
  append(stream, standardTables());
  append(stream, sof(0xC0, 16, 16, {{1, 1, 1, 0}}));
  append(stream, sos({{9, 0, 0}}));
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::DataError);
}

// Image reads of a scan whose tables were never defined report the missing table.
TEST(MarkerReader, ScanWithUndefinedTablesReportsWhichIsMissing) {
  struct Case {
    Bytes tables;
    JpegStatus expected;
  };
  const Case cases[] = {
      {[] {
         Bytes t = dqt8(0, 1);
         append(t, dht(1, 0, kAcLumaCounts, kAcLumaValues));
         return t;
       }(),
       JpegStatus::NoHuffmanTable},
      {[] {
         Bytes t = dqt8(0, 1);
         append(t, dht(0, 0, kDcLumaCounts, kDcLumaValues));
         return t;
       }(),
       JpegStatus::NoHuffmanTable},
      {standardTables(), JpegStatus::NoQuantTable},
  };
  for (const Case& c : cases) {
    Bytes stream = marker(0xD8);
    append(stream, c.tables);
    append(stream, sof(0xC0, 8, 8, {{1, 1, 1, 0}}));
    append(stream, sos({{1, 0, 0}}));
    append(stream, {0x00, 0xFF, 0xD9});
    TestRecord record;
    record.useBuffer(stream);
    std::vector<uint8_t> pixels(64);
    record->pixelData = pixels.data();
    record->pixelWidth = 8;
    record->pixelHeight = 8;
    record->pixelChannels = 1;
    record->pixelColor = JpegColor::Gray;
    record->jpegColor = JpegColor::Gray;
    record->jpegChannels = 1;
    EXPECT_EQ(record.read(JpegIoMode::BufferReadImage), c.expected);
  }
}

TEST(MarkerReader, TablesOnlyStreamStopsAtTheEndInTablesMode) {
  Bytes stream = marker(0xD8);
  append(stream, dqt8(1, 3));
  append(stream, standardTables());
  append(stream, marker(0xD9));
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadTables), JpegStatus::Ok);
  EXPECT_EQ(record->state.quantTablesRead, 1);
  EXPECT_EQ(record->state.quantTableCount, 2);
  EXPECT_EQ(record->state.dcTablesRead, 1);
  EXPECT_EQ(record->state.acTablesRead, 1);
  EXPECT_EQ(record->state.noFrameYet, 1);
}

TEST(MarkerReader, TablesModeStopsBeforeTheFrameHeader) {
  Bytes stream = greyHeaders();
  TestRecord record;
  record.useBuffer(stream);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadTables), JpegStatus::Ok);
  EXPECT_EQ(record->state.noFrameYet, 1);
  EXPECT_EQ(record->state.dcTablesRead, 1);
  // The consumed count stands at the SOF marker.
  const size_t sofAt = stream.size() - sof(0xC0, 16, 16, {{1, 1, 1, 0}}).size() - sos({{1, 0, 0}}).size();
  EXPECT_EQ(record->state.input.consumed, sofAt);
}

TEST(MarkerReader, TablesOnlyFileThenTablesAgainKeepsTheTables) {
  Bytes stream = marker(0xD8);
  append(stream, dqt8(0, 3));
  append(stream, standardTables());
  append(stream, marker(0xD9));
  char path[] = "/tmp/meshwick_tables_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::FILE* file = fdopen(fd, "wb");
  std::fwrite(stream.data(), 1, stream.size(), file);
  std::fclose(file);
  TestRecord record;
  record->jpegFileName = path;
  EXPECT_EQ(record.read(JpegIoMode::FileReadTables), JpegStatus::Ok);
  EXPECT_EQ(record->state.input.file, 0);  // mode 4 closes the file
  EXPECT_EQ(record->state.definedHuffmanTables, 0x11);
  EXPECT_EQ(record->state.definedQuantTables, 0x1);
  std::remove(path);
}

TEST(MarkerReader, ParametersReadThenImageReadDoesNotReadTheHeadersAgainInFileMode) {
  Bytes stream = greyHeaders();
  char path[] = "/tmp/meshwick_params_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::FILE* file = fdopen(fd, "wb");
  std::fwrite(stream.data(), 1, stream.size(), file);
  std::fclose(file);
  TestRecord record;
  record->jpegFileName = path;
  ASSERT_EQ(record.read(JpegIoMode::FileReadParams), JpegStatus::Ok);
  ASSERT_NE(record->state.input.file, 0);
  // The file stands at the SOS marker: the next read starts there.
  uint8_t next[2] = {};
  const ByteInput& input = record->state.input;
  // Handles are descriptor + 1 (codec/file_io.cpp).
  const off_t position = lseek(static_cast<int>(input.file - 1), 0, SEEK_CUR);
  EXPECT_EQ(static_cast<size_t>(position), stream.size() - sos({{1, 0, 0}}).size());
  ASSERT_EQ(pread(static_cast<int>(input.file - 1), next, 2, position), 2);
  EXPECT_EQ(next[0], 0xFF);
  EXPECT_EQ(next[1], 0xDA);
  std::remove(path);
}

}  // namespace
