// How a read chooses its bytes and where it stops: the byte source of each mode, header reads
// of streams without a frame, frame headers met after the frame, truncated segments, the pixel
// height, and the quantisation tables a caller registers or supplies.
#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace
