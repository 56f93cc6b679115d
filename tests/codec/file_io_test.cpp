// The codec's file services: writes gathered for regular files reach the file whole and in
// order, reads and seeks see them, and a failed write is reported with its reason wherever it
// shows (the write itself, or the close that passes the last gathered bytes on).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/file_io.h"
#include "tests/support/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

// `count` bytes of a pattern that differs from one `seed` to the next.
Bytes patternBytes(size_t count, uint32_t seed) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed * 7 + (i >> 9)) & 0xFF);
  return bytes;
}

// What a run of writes did: whether each call and the close succeeded, and errno after the
// first failure.
struct WriteRun {
  bool allWritesOk = true;
  bool closeOk = false;
  int failureErrno = 0;
  Bytes expected;
};

WriteRun writeInPieces(const std::string& path, const std::vector<int32_t>& sizes) {
  WriteRun run;
  const JpegFileHandle file = fileOpen(path.c_str(), FileAccess::ReadWrite);
  EXPECT_NE(file, 0);
  if (file == 0) return run;
  uint32_t seed = 1;
  for (const int32_t size : sizes) {
    const Bytes piece = patternBytes(static_cast<size_t>(size), seed++);
    int32_t written = -1;
    errno = 0;
    const bool ok = fileWrite(file, piece.data(), size, &written);
    if (!ok && run.allWritesOk) run.failureErrno = errno;
    run.allWritesOk = run.allWritesOk && ok && written == size;
    run.expected.insert(run.expected.end(), piece.begin(), piece.end());
  }
  errno = 0;
  run.closeOk = fileClose(file);
  if (!run.closeOk && run.failureErrno == 0) run.failureErrno = errno;
  return run;
}

TEST(FileServices, GatheredWritesReachTheFileWholeAndInOrder) {
  struct Case {
    const char* name;
    std::vector<int32_t> sizes;
  };
  const Case cases[] = {
      {"nothing", {}},
      {"one byte", {1}},
      {"page-sized pieces past the gathering", std::vector<int32_t>(200, 4096)},
      {"odd pieces", {1, 4095, 7, 65536, 3, 300000, 2, 262143, 262145, 11}},
      {"one large piece", {1 << 20}},
      {"empty pieces between", {0, 5, 0, 4096, 0}},
  };
  const test::TempDir dir("file_io");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("out.bin").string();
    const WriteRun run = writeInPieces(path, c.sizes);
    EXPECT_TRUE(run.allWritesOk);
    EXPECT_TRUE(run.closeOk);
    EXPECT_EQ(test::readBytes(path), run.expected);
  }
}

TEST(FileServices, SeeksAndReadsSeeTheGatheredBytes) {
  const test::TempDir dir("file_io");
  const std::string path = dir.file("out.bin").string();
  const JpegFileHandle file = fileOpen(path.c_str(), FileAccess::ReadWrite);
  ASSERT_NE(file, 0);
  const Bytes first = patternBytes(1000, 1);
  int32_t count = 0;
  ASSERT_TRUE(fileWrite(file, first.data(), 1000, &count));
  ASSERT_TRUE(fileSeek(file, 10, SeekOrigin::Start));
  Bytes back(20);
  ASSERT_TRUE(fileRead(file, back.data(), 20, &count));
  EXPECT_EQ(count, 20);
  EXPECT_EQ(back, Bytes(first.begin() + 10, first.begin() + 30));
  const uint8_t patch[2] = {0xAB, 0xCD};
  ASSERT_TRUE(fileSeek(file, -2, SeekOrigin::Current));
  ASSERT_TRUE(fileWrite(file, patch, 2, &count));
  ASSERT_TRUE(fileClose(file));
  Bytes expected = first;
  expected[28] = 0xAB;
  expected[29] = 0xCD;
  EXPECT_EQ(test::readBytes(path), expected);
}

// Writes past a file-size limit fail with EFBIG (the signal that would end the process is
// ignored meanwhile): wherever the failure shows, it is reported with that reason.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool active() const { return active_; }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
  bool active_ = false;
};

TEST(FileServices, AWriteThatFailsIsReportedWithItsReason) {
  struct Case {
    const char* name;
    rlim_t limit;
    std::vector<int32_t> sizes;
    bool writesOk;  // the failure shows only at the close
  };
  const Case cases[] = {
      {"small pieces, failure at the close", 10000, {4096, 4096, 4096}, false},
      {"small pieces, failure when the gathering fills", 100000, std::vector<int32_t>(100, 4096), false},
      {"one large piece", 100000, {1 << 20}, false},
      {"everything fits", 100000, {4096, 4096}, true},
  };
  const test::TempDir dir("file_io");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("limited.bin").string();
    WriteRun run;
    {
      const FileSizeLimit limit(c.limit);
      ASSERT_TRUE(limit.active());
      run = writeInPieces(path, c.sizes);
    }
    if (c.writesOk) {
      EXPECT_TRUE(run.allWritesOk);
      EXPECT_TRUE(run.closeOk);
      EXPECT_EQ(test::readBytes(path), run.expected);
    } else {
      EXPECT_FALSE(run.allWritesOk && run.closeOk);
      EXPECT_EQ(run.failureErrno, EFBIG);
    }
  }
}

TEST(FileServices, ADeviceMeetsEachWriteAsItComes) {
  const JpegFileHandle file = fileOpen("/dev/full", FileAccess::ReadWrite);
  ASSERT_NE(file, 0);
  const Bytes piece = patternBytes(100, 1);
  int32_t count = -1;
  errno = 0;
  EXPECT_FALSE(fileWrite(file, piece.data(), 100, &count));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(fileClose(file));
}

}  // namespace
