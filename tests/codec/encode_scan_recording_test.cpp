// The progressive writing pass replaying what the statistics pass kept gives the bytes of the
// pass that reads the coefficients again, for every scan kind, with and without restart
// markers, and a recording that runs out of room falls back to reading them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/encode/encoder_tables.h"
#include "codec/encode/huffman_encode.h"
#include "codec/encode/output_writer.h"
#include "codec/encode/progressive_scan.h"
#include "codec/kernel_table.h"

namespace {

// Two components, the first 2x2: three MCU columns and two rows of quantised blocks whose
// coefficients thin out with frequency, as a photograph's do.
// Extreme: coefficient planes may hand over any 16-bit value, so every third coefficient is one
// of the int16 extremes, whose categories reach 16. Sparse: two blocks in three keep their DC
// alone and a few ACs of magnitude 1 to 3, so bands turn empty at some point transforms only.
enum class Values { Photo, Extreme, Sparse };

struct Frame {
  static constexpr int kMcusPerRow = 3, kMcuRows = 2, kBlocksPerMcu = 5;
  explicit Frame(Values values = Values::Photo)
      : coefficients(static_cast<size_t>(kMcusPerRow * kMcuRows * kBlocksPerMcu) * 64) {
    std::mt19937 random(3);
    const int16_t extremes[4] = {INT16_MIN, INT16_MAX, -32767, 16384};
    for (size_t i = 0; i < coefficients.size(); ++i) {
      const int frequency = static_cast<int>(i % 64);
      const int spread = std::max(1, 200 >> (frequency / 8));
      std::uniform_int_distribution<int> value(-spread, spread);
      coefficients[i] = static_cast<int16_t>(random() % 3 == 0 ? 0 : value(random));
      if (values == Values::Extreme && i % 3 == 1) coefficients[i] = extremes[random() % 4];
      if (values == Values::Sparse && i / 64 % 3 != 0 && frequency != 0) {
        coefficients[i] = static_cast<int16_t>(random() % 16 == 0 ? static_cast<int>(random() % 7) - 3 : 0);
      }
    }
    layout.buffer = coefficients.data();
    layout.blocksPerMcu = kBlocksPerMcu;
    layout.mcusPerRow = kMcusPerRow;
    layout.mcuRows = kMcuRows;
    const int factors[2] = {2, 1};
    for (int c = 0; c < 2; ++c) {
      layout.componentOffset[c] = c == 0 ? 0 : 4;
      layout.horizontalFactor[c] = layout.verticalFactor[c] = factors[c];
      layout.blockColumns[c] = kMcusPerRow * factors[c];
      layout.blockRows[c] = kMcuRows * factors[c];
    }
  }
  std::vector<int16_t> coefficients;
  CoefficientLayout layout{};
};

struct ScanCase {
  const char* name;
  int components;  // 2: both, interleaved; 1: the first alone
  int start, end, high, low;
};

const ScanCase kScans[] = {
    {"DC first", 2, 0, 0, 0, 1},       {"DC refinement", 2, 0, 0, 1, 0},
    {"AC first low", 1, 1, 5, 0, 2},   {"AC first high", 1, 6, 63, 0, 2},
    {"AC refinement", 1, 1, 63, 2, 1}, {"AC last refinement", 1, 1, 63, 1, 0},
};

// What writing one scan into a buffer of a given size left behind.
struct ScanOutput {
  JpegStatus status;
  std::vector<uint8_t> buffer;  // the buffer and kGuard bytes after it, kUntouched before the write
  size_t written;
};

constexpr uint8_t kUntouched = 0xEE;
constexpr size_t kGuard = 32;

// One scan, counted (kept in `recording`) and written into `bufferSize` bytes.
ScanOutput writeScanWith(const Frame& frame, const ScanCase& c, int32_t restartInterval,
                         ScanRecording& recording, size_t bufferSize, bool* replayed) {
  static HuffmanTable dc{}, ac{};
  deriveEncodingTable(kDcLuminanceCounts.data(), kDcLuminanceSymbols.data(), &dc);
  deriveEncodingTable(kAcLuminanceCounts.data(), kAcLuminanceSymbols.data(), &ac);
  ScanComponent components[2] = {};
  for (int j = 0; j < c.components; ++j) components[j] = {j, 1, 1, &dc, &ac, nullptr};
  ScanRecord scan{};
  scan.componentCount = c.components;
  scan.spectralStart = c.start;
  scan.spectralEnd = c.end;
  scan.approxHigh = c.high;
  scan.approxLow = c.low;
  scan.components = components;
  CoefficientLayout layout = frame.layout;
  layout.restartInterval = restartInterval;

  auto state = std::make_unique<JPEG_PROPERTIES>();
  auto frequencies = std::make_unique<SymbolFrequencies>();
  countScanSymbols(state.get(), layout, &scan, frequencies.get(), &recording);
  *replayed = recording.complete();

  KernelTable kernels{};
  kernels.putBytes = putBytes;
  auto writer = std::make_unique<ByteInput>();
  writer->kernels = &kernels;
  ScanOutput output{JpegStatus::Ok, std::vector<uint8_t>(bufferSize + kGuard, kUntouched), 0};
  initOutput(writer.get(), output.buffer.data(), static_cast<uint32_t>(bufferSize));
  auto correction = std::make_unique<CorrectionBits>();
  output.status = encodeScan(writer.get(), layout, &scan, correction.get(), &recording);
  output.written = static_cast<size_t>(writer->current - writer->start);
  return output;
}

// The same with a recording of its own that keeps at most `capacity` entries.
ScanOutput writeScanInto(const Frame& frame, const ScanCase& c, int32_t restartInterval, size_t capacity,
                         size_t bufferSize, bool* replayed) {
  ScanRecording recording(capacity);
  return writeScanWith(frame, c, restartInterval, recording, bufferSize, replayed);
}

// The bytes of one scan kept in `recording`, written into ample room.
std::vector<uint8_t> writeFrom(const Frame& frame, const ScanCase& c, int32_t restartInterval,
                               ScanRecording& recording, bool* replayed) {
  ScanOutput output = writeScanWith(frame, c, restartInterval, recording, 1 << 16, replayed);
  EXPECT_EQ(output.status, JpegStatus::Ok);
  output.buffer.resize(output.written);
  return output.buffer;
}

// The same with a recording of its own that keeps at most `capacity` entries.
std::vector<uint8_t> writeScan(const Frame& frame, const ScanCase& c, int32_t restartInterval,
                               size_t capacity, bool* replayed) {
  ScanRecording recording(capacity);
  return writeFrom(frame, c, restartInterval, recording, replayed);
}

TEST(ProgressiveScanRecording, ReplayWritesTheBytesOfTheSecondReading) {
  const Frame frame;
  for (const ScanCase& c : kScans) {
    for (const int32_t restartInterval : {0, 1, 4}) {
      SCOPED_TRACE(std::string(c.name) + ", restart interval " + std::to_string(restartInterval));
      bool replayed = false, walked = true;
      const std::vector<uint8_t> kept = writeScan(frame, c, restartInterval, 1 << 14, &replayed);
      const std::vector<uint8_t> read = writeScan(frame, c, restartInterval, 0, &walked);
      EXPECT_TRUE(replayed || (c.start == 0 && c.high != 0)) << "a counted scan fits the room";
      EXPECT_FALSE(walked);
      EXPECT_GT(read.size(), 0u);
      EXPECT_EQ(kept, read);
      // Room that runs out part-way: the writing pass reads the coefficients itself.
      bool partial = true;
      EXPECT_EQ(writeScan(frame, c, restartInterval, 7, &partial), read);
      EXPECT_FALSE(partial);
    }
  }
}

// Recordings taken in chunks of any size, kept for scan after scan as the encoder keeps its
// one recording, replay the bytes of the second reading; the limit decides alone whether a
// scan is kept, also when it falls inside a chunk or on its end.
TEST(ProgressiveScanRecording, ChunkedRecordingsReplayEveryScanOfTheScript) {
  const Frame frames[] = {Frame(Values::Photo), Frame(Values::Extreme), Frame(Values::Sparse)};
  const char* const frameNames[] = {"photo", "extreme", "sparse"};
  struct Room {
    size_t chunkEntries;
    size_t limit;  // SIZE_MAX: none; 0: the exact entry count of each scan; else that many
  };
  const Room rooms[] = {{1, SIZE_MAX}, {7, SIZE_MAX}, {64, SIZE_MAX}, {1 << 16, SIZE_MAX},
                        {7, 0},        {64, 0},       {5, 33},        {64, 100}};
  for (const Frame& frame : frames) {
    for (const Room& room : rooms) {
      const size_t limit = room.limit == 0 ? SIZE_MAX : room.limit;
      ScanRecording shared(limit, room.chunkEntries);
      for (const ScanCase& c : kScans) {
        if (c.start == 0 && c.high != 0) continue;  // DC refinement scans are never counted
        for (const int32_t restartInterval : {0, 2}) {
          SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(room.chunkEntries) + ", limit " +
                       std::to_string(room.limit) + ", restart interval " + std::to_string(restartInterval) +
                       ", " + frameNames[&frame - frames] + " values");
          bool walked = true, replayed = false;
          const std::vector<uint8_t> read = writeScan(frame, c, restartInterval, 0, &walked);
          ASSERT_FALSE(walked);
          ScanRecording whole;
          EXPECT_EQ(writeFrom(frame, c, restartInterval, whole, &replayed), read);
          ASSERT_TRUE(replayed);
          const size_t entries = whole.count();
          EXPECT_EQ(writeFrom(frame, c, restartInterval, shared, &replayed), read);
          EXPECT_EQ(replayed, limit >= entries) << entries << " entries";
          EXPECT_EQ(shared.complete(), replayed);
          if (room.limit != 0) continue;

          // Room for exactly the scan's entries keeps it; one fewer does not.
          ScanRecording fitting(entries, room.chunkEntries);
          EXPECT_EQ(writeFrom(frame, c, restartInterval, fitting, &replayed), read);
          EXPECT_TRUE(replayed);
          ScanRecording tight(entries - 1, room.chunkEntries);
          EXPECT_EQ(writeFrom(frame, c, restartInterval, tight, &replayed), read);
          EXPECT_FALSE(replayed);
        }
      }
    }
  }
}

// Every buffer too short for a scan fails with OutputBufferTooSmall, replayed or read again,
// and what went out before is the start of the full scan, with nothing written past the end.
TEST(ProgressiveScanRecording, ShortBuffersFailWithoutWritingPastTheirEnd) {
  const Frame frame;
  for (const ScanCase& c : kScans) {
    for (const int32_t restartInterval : {0, 3}) {
      for (const size_t capacity : {size_t{1} << 14, size_t{0}}) {
        SCOPED_TRACE(std::string(c.name) + ", restart interval " + std::to_string(restartInterval) +
                     ", recording room " + std::to_string(capacity));
        bool replayed = false;
        const std::vector<uint8_t> full = writeScan(frame, c, restartInterval, capacity, &replayed);
        for (size_t size = 0; size < full.size(); size += 1 + size / 8) {
          const ScanOutput cut = writeScanInto(frame, c, restartInterval, capacity, size, &replayed);
          ASSERT_EQ(cut.status, JpegStatus::OutputBufferTooSmall) << "buffer of " << size;
          ASSERT_LE(cut.written, size);
          EXPECT_TRUE(std::equal(cut.buffer.begin(), cut.buffer.begin() + static_cast<ptrdiff_t>(cut.written),
                                 full.begin()))
              << "buffer of " << size;
          EXPECT_TRUE(std::all_of(cut.buffer.begin() + static_cast<ptrdiff_t>(cut.written), cut.buffer.end(),
                                  [](uint8_t byte) { return byte == kUntouched; }))
              << "buffer of " << size;
        }
      }
    }
  }
}

}  // namespace
