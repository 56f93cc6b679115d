// How a read chooses its bytes and where it stops: the byte source of each mode, header reads
// of streams without a frame, frame headers met after the frame, truncated segments, the pixel
// height, and the quantisation tables a caller registers or supplies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"
#include "tests/codec/jpeg_stream_builder.h"

namespace {

using namespace stream_builder;

// A stream written to a file of its own, removed again at the end of the test.
class StreamFile {
 public:
  explicit StreamFile(const Bytes& bytes) {
    char pattern[] = "/tmp/meshwick_read_rules_XXXXXX";
    const int fd = mkstemp(pattern);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    path_ = pattern;
  }
  ~StreamFile() { unlink(path_.c_str()); }
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// Grey pixels of a width x height image, one byte each.
struct GrayPixels {
  explicit GrayPixels(int w, int h) : width(w), height(h), bytes(size_t(w) * h, 0) {}
  void attachTo(TestRecord& record) {
    record->pixelData = bytes.data();
    record->pixelWidth = width;
    record->pixelHeight = height;
    record->pixelChannels = 1;
    record->pixelColor = JpegColor::Gray;
    record->jpegColor = JpegColor::Gray;
    record->jpegChannels = 1;
  }
  int width;
  int height;
  std::vector<uint8_t> bytes;
};

// --- the byte source is the mode's ---------------------------------------------------------------

// A file read leaves its file open at the SOS marker; a buffer read on the same record must read
// the buffer all the same, and a later file read the file again.
TEST(ReadByteSource, BufferReadAfterAFileReadReadsTheBuffer) {
  const StreamFile file(flatGrayStream(16, 8, 20));
  Bytes buffer = flatGrayStream(24, 16, -40);
  TestRecord record;
  record->jpegFileName = file.path();
  ASSERT_EQ(record.read(JpegIoMode::FileReadParams), JpegStatus::Ok);
  ASSERT_EQ(record->jpegWidth, 16);

  record.useBuffer(buffer);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->jpegWidth, 24);
  EXPECT_EQ(record->jpegHeight, 16);
  GrayPixels pixels(24, 16);
  pixels.attachTo(record);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  EXPECT_EQ(pixels.bytes, std::vector<uint8_t>(pixels.bytes.size(), 128 - 40));

  ASSERT_EQ(record.read(JpegIoMode::FileReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->jpegWidth, 16);
  GrayPixels filePixels(16, 8);
  filePixels.attachTo(record);
  ASSERT_EQ(record.read(JpegIoMode::FileReadImage), JpegStatus::Ok);
  EXPECT_EQ(filePixels.bytes, std::vector<uint8_t>(filePixels.bytes.size(), 128 + 20));
}

// A scan interrupted in one source is not resumed from the other: the new read decodes its own
// stream from the start.
TEST(ReadByteSource, InterruptedFileScanIsNotResumedFromTheBuffer) {
  const StreamFile file(flatGrayStream(64, 64, 20));
  Bytes buffer = flatGrayStream(64, 64, -40);
  TestRecord record;
  GrayPixels pixels(64, 64);
  pixels.attachTo(record);
  record->jpegFileName = file.path();
  record->state.interruptRequest = 1;
  ASSERT_EQ(record.read(JpegIoMode::FileReadImage), JpegStatus::InterruptOk);

  record.useBuffer(buffer);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  EXPECT_EQ(pixels.bytes, std::vector<uint8_t>(pixels.bytes.size(), 128 - 40));
}

// --- where header reads stop -----------------------------------------------------------------------

Bytes tablesOnly() {
  Bytes out = marker(0xD8);
  append(out, dqt8(0, 8));
  append(out, standardTables());
  return out;
}

Bytes withEoi(Bytes stream) {
  append(stream, marker(0xD9));
  return stream;
}

Bytes headersWithoutScan() {
  Bytes out = tablesOnly();
  append(out, sof(0xC0, 16, 8, {{1, 1, 1, 0}}));
  return out;
}

// Reads the greyscale `stream` in `mode` (from a file for the file modes) into a 16 x 16 RGB
// buffer.
JpegStatus readStream(TestRecord& record, Bytes& stream, JpegIoMode mode, std::vector<uint8_t>& pixels) {
  pixels.assign(16 * 16 * 3, 0);
  record->pixelData = pixels.data();
  record->pixelWidth = 16;
  record->pixelHeight = 16;
  record->pixelChannels = 3;
  record->pixelColor = JpegColor::Rgb;
  record->jpegColor = JpegColor::Gray;
  record->jpegChannels = 1;
  if ((static_cast<int>(mode) & 1) != 0) {
    record.useBuffer(stream);
    return record.read(mode);
  }
  const StreamFile file(stream);
  record->jpegFileName = file.path();
  return record.read(mode);
}

struct HeaderStopCase {
  const char* name;
  Bytes (*stream)();
  JpegIoMode mode;
  JpegStatus expected;
};

class HeaderReadStop : public testing::TestWithParam<HeaderStopCase> {};

// Parameter and thumbnail reads stop at the first SOS, or at an EOI that nothing follows. Data
// that ends before either is truncated: MemoryError from a buffer, FileError from a file. After a
// tables-only stream alone they report no frame.
TEST_P(HeaderReadStop, StatusAndFrame) {
  const HeaderStopCase& c = GetParam();
  Bytes stream = c.stream();
  TestRecord record;
  std::vector<uint8_t> pixels;
  EXPECT_EQ(readStream(record, stream, c.mode, pixels), c.expected);
  if (c.expected == JpegStatus::Ok) {
    EXPECT_EQ(record->jpegWidth, 0);
  }
}

using M = JpegIoMode;
using S = JpegStatus;
INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderReadStop,
    testing::Values(
        HeaderStopCase{"TablesBufferParams", tablesOnly, M::BufferReadParams, S::MemoryError},
        HeaderStopCase{"TablesFileParams", tablesOnly, M::FileReadParams, S::FileError},
        HeaderStopCase{"TablesBufferThumbnail", tablesOnly, M::BufferReadThumbnail, S::MemoryError},
        HeaderStopCase{"TablesFileThumbnail", tablesOnly, M::FileReadThumbnail, S::FileError},
        HeaderStopCase{"FrameNoScanBufferParams", headersWithoutScan, M::BufferReadParams, S::MemoryError},
        HeaderStopCase{"FrameNoScanFileThumbnail", headersWithoutScan, M::FileReadThumbnail, S::FileError},
        HeaderStopCase{"TablesEoiBufferParams", [] { return withEoi(tablesOnly()); }, M::BufferReadParams,
                       S::Ok},
        HeaderStopCase{"TablesEoiFileParams", [] { return withEoi(tablesOnly()); }, M::FileReadParams, S::Ok},
        HeaderStopCase{"TablesEoiBufferThumbnail", [] { return withEoi(tablesOnly()); },
                       M::BufferReadThumbnail, S::Ok}),
    [](const testing::TestParamInfo<HeaderStopCase>& info) { return std::string(info.param.name); });

// A tables-only stream followed by an image: the parameters read goes on past the tables' EOI and
// reports the image's frame, so that the caller can size its buffer; the image read decodes it.
TEST(HeaderReadStop, ParametersReadOnPastATablesOnlyStreamIntoTheImage) {
  Bytes stream = withEoi(tablesOnly());
  append(stream, flatGrayStream(16, 8, 20));
  for (const auto& [params, image] :
       {std::pair{M::BufferReadParams, M::BufferReadImage}, std::pair{M::FileReadParams, M::FileReadImage}}) {
    SCOPED_TRACE(static_cast<int>(params));
    const StreamFile file(stream);
    TestRecord record;
    record.useBuffer(stream);
    record->jpegFileName = file.path();
    ASSERT_EQ(record.read(params), JpegStatus::Ok);
    EXPECT_EQ(record->jpegWidth, 16);
    GrayPixels pixels(16, 8);
    pixels.attachTo(record);
    ASSERT_EQ(record.read(image), JpegStatus::Ok);
    EXPECT_EQ(record->jpegWidth, 16);
    EXPECT_EQ(pixels.bytes, std::vector<uint8_t>(pixels.bytes.size(), 128 + 20));
  }
}

// --- frame headers after the frame ---------------------------------------------------------------

size_t segmentStart(const Bytes& stream, uint8_t code, int occurrence = 1) {
  for (size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == code && --occurrence == 0) return i;
  }
  ADD_FAILURE() << "no marker " << int(code);
  return stream.size();
}

size_t segmentEnd(const Bytes& stream, size_t start) {
  return start + 2 + ((size_t(stream[start + 2]) << 8) | stream[start + 3]);
}

Bytes inserted(Bytes stream, size_t at, const Bytes& extra) {
  stream.insert(stream.begin() + static_cast<ptrdiff_t>(at), extra.begin(), extra.end());
  return stream;
}

// An SOF1 after the frame, whose width bytes FF D9 would read as an EOI if its segment were
// searched for markers: passed over whole, the frame stays and the image decodes.
TEST(FrameHeaderAfterTheFrame, SecondSof1IsPassedOverWhole) {
  const Bytes plain = flatGrayStream(16, 8, 20);
  Bytes stream =
      inserted(plain, segmentEnd(plain, segmentStart(plain, 0xC0)), sof(0xC1, 0xFFD9, 8, {{1, 1, 1, 0}}));
  TestRecord record;
  record.useBuffer(stream);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  EXPECT_EQ(record->jpegWidth, 16);
  GrayPixels pixels(16, 8);
  pixels.attachTo(record);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  EXPECT_EQ(record->jpegWidth, 16);
  EXPECT_EQ(pixels.bytes, std::vector<uint8_t>(pixels.bytes.size(), 128 + 20));
}

Bytes dataFile(const char* name) {
  const std::string path = std::string(MESHWICK_TEST_DATA) + "/jpeg/" + name;
  FILE* file = std::fopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr) << path;
  Bytes bytes;
  if (file == nullptr) return bytes;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(file);
  return bytes;
}

struct Decoded {
  JpegStatus status = JpegStatus::Ok;
  int width = 0;
  std::vector<uint8_t> pixels;
};

// Parameters, then the image as 3-byte RGB, on `record`.
Decoded decodeOn(TestRecord& record, Bytes& stream, JpegIoMode imageMode = JpegIoMode::BufferReadImage) {
  Decoded out;
  record.useBuffer(stream);
  out.status = record.read(JpegIoMode::BufferReadParams);
  if (out.status != JpegStatus::Ok) return out;
  out.width = record->jpegWidth;
  out.pixels.assign(size_t(record->jpegWidth) * record->jpegHeight * 3, 0);
  record->pixelData = out.pixels.data();
  record->pixelWidth = record->jpegWidth;
  record->pixelHeight = record->jpegHeight;
  record->pixelChannels = 3;
  record->pixelColor = JpegColor::Rgb;
  out.status = record.read(imageMode);
  return out;
}

// A progressive stream with its SOF2 repeated before its second scan: reading it again would
// drop the coefficients of the first scan.
TEST(FrameHeaderAfterTheFrame, SecondSof2KeepsTheProgressiveImage) {
  Bytes plain = dataFile("p97_420_progressive.jpg");
  const size_t sof2 = segmentStart(plain, 0xC2);
  const Bytes header(plain.begin() + static_cast<ptrdiff_t>(sof2),
                     plain.begin() + static_cast<ptrdiff_t>(segmentEnd(plain, sof2)));
  Bytes repeated = inserted(plain, segmentStart(plain, 0xDA, 2), header);
  TestRecord plainRecord;
  TestRecord repeatedRecord;
  const Decoded expected = decodeOn(plainRecord, plain);
  const Decoded actual = decodeOn(repeatedRecord, repeated);
  ASSERT_EQ(expected.status, JpegStatus::Ok);
  ASSERT_EQ(actual.status, JpegStatus::Ok);
  EXPECT_EQ(actual.pixels, expected.pixels);
}

// A record decodes a progressive image again, and then, read from its start, another image with
// its own frame.
TEST(FrameHeaderAfterTheFrame, RecordReadsEachPassFromItsOwnFrame) {
  Bytes first = dataFile("p97_420_progressive.jpg");
  Bytes second = dataFile("p256_420_progressive.jpg");
  TestRecord record;
  const Decoded once = decodeOn(record, first);
  ASSERT_EQ(once.status, JpegStatus::Ok);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  Decoded again = once;
  std::fill(again.pixels.begin(), again.pixels.end(), 0);
  record->pixelData = again.pixels.data();
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  EXPECT_EQ(again.pixels, once.pixels);

  TestRecord fresh;
  const Decoded expected = decodeOn(fresh, second);
  ASSERT_EQ(expected.status, JpegStatus::Ok);
  std::vector<uint8_t> pixels(expected.pixels.size(), 0);
  record.useBuffer(second);
  record->pixelData = pixels.data();
  record->pixelWidth = expected.width;
  record->pixelHeight = static_cast<int32_t>(pixels.size() / 3 / size_t(expected.width));
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  EXPECT_EQ(record->jpegWidth, expected.width);
  EXPECT_EQ(pixels, expected.pixels);
}

// --- truncated segments ----------------------------------------------------------------------------

Bytes segmentRichStream() {
  Bytes out = marker(0xD8);
  append(out, jfif());
  append(out, adobe(1));
  append(out, segment(0xE1, Bytes(40, 7)));
  append(out, segment(0xFE, Bytes(30, 'c')));
  append(out, dqt8(0, 8));
  append(out, segment(0xDD, {0, 0}));
  append(out, sof(0xC0, 16, 8, {{1, 1, 1, 0}}));
  append(out, standardTables());
  append(out, sos({{1, 0, 0}}));
  return out;
}

struct TruncationCase {
  const char* name;
  uint8_t marker;
  size_t cutAfter;  // bytes of the segment kept, counting its marker
};

class TruncatedSegment : public testing::TestWithParam<TruncationCase> {};

// Input that ends inside a marker segment: FileError from a file, MemoryError from a buffer,
// whichever segment it is and whether it is interpreted or passed over.
TEST_P(TruncatedSegment, StatusNamesTheSource) {
  const TruncationCase& c = GetParam();
  const Bytes whole = segmentRichStream();
  const size_t start = segmentStart(whole, c.marker);
  for (const JpegIoMode mode :
       {M::BufferReadParams, M::FileReadParams, M::BufferReadThumbnail, M::FileReadImage}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Bytes cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(start + c.cutAfter));
    TestRecord record;
    std::vector<uint8_t> pixels;
    const JpegStatus expected = (static_cast<int>(mode) & 1) != 0 ? S::MemoryError : S::FileError;
    EXPECT_EQ(readStream(record, cut, mode, pixels), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TruncatedSegment,
    testing::Values(TruncationCase{"App0Length", 0xE0, 3}, TruncationCase{"App0Body", 0xE0, 10},
                    TruncationCase{"App14Body", 0xEE, 12}, TruncationCase{"SkippedApp1Body", 0xE1, 20},
                    TruncationCase{"CommentBody", 0xFE, 9}, TruncationCase{"DqtBody", 0xDB, 30},
                    TruncationCase{"DriBody", 0xDD, 5}, TruncationCase{"SofBody", 0xC0, 8},
                    TruncationCase{"DhtLength", 0xC4, 3}, TruncationCase{"DhtBody", 0xC4, 25},
                    TruncationCase{"SosBody", 0xDA, 6}),
    [](const testing::TestParamInfo<TruncationCase>& info) { return std::string(info.param.name); });

// --- pixel height 0 ----------------------------------------------------------------------------------

struct ZeroHeightCase {
  const char* name;
  Bytes (*stream)();
  JpegIoMode mode;
  JpegStatus expected;
};

class ZeroPixelHeight : public testing::TestWithParam<ZeroHeightCase> {};

// Validation admits a height of 0; what the read needs decides: a thumbnail read of a stream
// without a thumbnail needs no rows, a thumbnail or an image does, and nothing is written.
TEST_P(ZeroPixelHeight, ReadDecidesWhetherRowsAreNeeded) {
  const ZeroHeightCase& c = GetParam();
  Bytes stream = c.stream();
  TestRecord record;
  std::vector<uint8_t> pixels(16 * 16 * 3, 0xA5);
  record.useBuffer(stream);
  record->pixelData = pixels.data();
  record->pixelWidth = 16;
  record->pixelHeight = 0;
  record->pixelChannels = 3;
  record->pixelColor = JpegColor::Rgb;
  record->jpegColor = JpegColor::Gray;
  record->jpegChannels = 1;
  EXPECT_EQ(record.read(c.mode), c.expected);
  EXPECT_EQ(pixels, std::vector<uint8_t>(pixels.size(), 0xA5));
}

Bytes withThumbnail() {
  Bytes out = marker(0xD8);
  append(out, jfif(1, 1, {1, 2, 3}));
  Bytes rest = flatGrayStream(16, 8, 20);
  out.insert(out.end(), rest.begin() + 2, rest.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZeroPixelHeight,
    testing::Values(ZeroHeightCase{"ThumbnailReadWithoutThumbnail", [] { return flatGrayStream(16, 8, 20); },
                                   M::BufferReadThumbnail, S::Ok},
                    ZeroHeightCase{"ThumbnailReadWithThumbnail", withThumbnail, M::BufferReadThumbnail,
                                   S::ThumbnailTooSmall},
                    ZeroHeightCase{"ImageRead", [] { return flatGrayStream(16, 8, 20); }, M::BufferReadImage,
                                   S::InvalidProperties},
                    ZeroHeightCase{"HalfScaleRead", [] { return flatGrayStream(16, 8, 20); },
                                   M::BufferReadHalf, S::InvalidProperties}),
    [](const testing::TestParamInfo<ZeroHeightCase>& info) { return std::string(info.param.name); });

// --- quantisation tables of the caller ------------------------------------------------------------

// DQT of one table of precision `pq` whose zig-zag steps are steps[k].
Bytes dqtWith(int pq, const std::vector<int>& steps) {
  Bytes payload = {static_cast<uint8_t>(pq << 4)};
  for (const int step : steps) {
    if (pq != 0) payload.push_back(static_cast<uint8_t>(step >> 8));
    payload.push_back(static_cast<uint8_t>(step));
  }
  return segment(0xDB, payload);
}

std::vector<int> rampSteps(int first) {
  std::vector<int> steps(64);
  for (int k = 0; k < 64; ++k) steps[size_t(k)] = first + k;
  return steps;
}

struct DescriptorCase {
  const char* name;
  int precision;
  std::vector<int> steps;
  bool copied;
};

class QuantDescriptor : public testing::TestWithParam<DescriptorCase> {};

// A registered descriptor receives the table's 64 steps in stream order when they fit its bytes,
// 16-bit tables included; a step above 255 leaves the steps alone and the identifier -1. Nothing is
// ever written past the descriptor's 64 bytes.
TEST_P(QuantDescriptor, ReceivesTheTableItCanHold) {
  const DescriptorCase& c = GetParam();
  Bytes stream = marker(0xD8);
  append(stream, dqtWith(c.precision, c.steps));
  append(stream, marker(0xD9));
  std::vector<uint8_t> caller(128, 0xEE);
  TestRecord record;
  record.useBuffer(stream);
  record->state.quantTablesSupplied = 1;
  record->state.quantSpecs[0] = {caller.data(), 0};
  ASSERT_EQ(record.read(JpegIoMode::BufferReadTables), JpegStatus::Ok);
  EXPECT_EQ(record->state.quantSpecs[0].tableId, c.copied ? 0 : -1);
  for (size_t k = 0; k < caller.size(); ++k) {
    const int expected = c.copied && k < 64 ? c.steps[k] : 0xEE;
    ASSERT_EQ(caller[k], expected) << k;
  }
}

std::vector<int> withOneWideStep() {
  std::vector<int> steps = rampSteps(1);
  steps[40] = 300;
  return steps;
}

INSTANTIATE_TEST_SUITE_P(Cases, QuantDescriptor,
                         testing::Values(DescriptorCase{"EightBit", 0, rampSteps(1), true},
                                         DescriptorCase{"SixteenBitSmallSteps", 1, rampSteps(100), true},
                                         DescriptorCase{"SixteenBitWideStep", 1, withOneWideStep(), false}),
                         [](const testing::TestParamInfo<DescriptorCase>& info) {
                           return std::string(info.param.name);
                         });

// Textured blocks whose AC values sit where a wrong step order would show.
Bytes texturedGray(const Bytes& tables) {
  return grayStream(32, 16, tables, [](int i) {
    return std::pair{(i * 7) % 30 - 15, std::vector<int>{1, -2, 2, -1, 1, 2, -2, 1, 1, -1}};
  });
}

// Supplied tables are given as a DQT segment carries them (zig-zag order) and decode exactly as
// that segment would, with either transform; the caller's bytes stay as given and the table record
// carries the descriptor's identifier and precision 0.
TEST(SuppliedQuantTables, DecodeAsTheSameTableInTheStream) {
  std::vector<int> steps(64);
  for (int k = 0; k < 64; ++k) steps[size_t(k)] = 2 + (k * 5) % 11;
  std::vector<uint8_t> caller(steps.begin(), steps.end());
  const std::vector<uint8_t> given = caller;
  for (const int variant : {0, 1}) {
    SCOPED_TRACE(variant);
    Bytes withTable = texturedGray(dqtWith(0, steps));
    Bytes withoutTable = texturedGray({});
    TestRecord reference;
    GrayPixels expected(32, 16);
    expected.attachTo(reference);
    reference->state.dctVariant = variant;
    reference.useBuffer(withTable);
    ASSERT_EQ(reference.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);

    TestRecord record;
    GrayPixels actual(32, 16);
    actual.attachTo(record);
    record->state.dctVariant = variant;
    record->state.quantTablesSupplied = 1;
    record->state.quantTableCount = 1;
    record->state.quantSpecs[0] = {caller.data(), 0};
    record.useBuffer(withoutTable);
    ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
    EXPECT_EQ(actual.bytes, expected.bytes);
    EXPECT_EQ(caller, given);
    EXPECT_EQ(record->state.quantTables[0].precision, 0);
    EXPECT_EQ(record->state.quantTables[0].tableId, 0);
  }
}

}  // namespace
