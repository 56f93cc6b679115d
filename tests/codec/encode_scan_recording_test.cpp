// The progressive writing pass replaying what the statistics pass kept gives the bytes of the
// pass that reads the coefficients again, for every scan kind, with and without restart
// markers, and a recording that runs out of room falls back to reading them.
#include <gtest/gtest.h>

#include <algorithm>
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
struct Frame {
  static constexpr int kMcusPerRow = 3, kMcuRows = 2, kBlocksPerMcu = 5;
  Frame() : coefficients(static_cast<size_t>(kMcusPerRow * kMcuRows * kBlocksPerMcu) * 64) {
    std::mt19937 random(3);
    for (size_t i = 0; i < coefficients.size(); ++i) {
      const int frequency = static_cast<int>(i % 64);
      const int spread = std::max(1, 200 >> (frequency / 8));
      std::uniform_int_distribution<int> value(-spread, spread);
      coefficients[i] = static_cast<int16_t>(random() % 3 == 0 ? 0 : value(random));
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

// One scan, counted (kept in a recording of `capacity` entries) and written into `bufferSize`
// bytes.
ScanOutput writeScanInto(const Frame& frame, const ScanCase& c, int32_t restartInterval, size_t capacity,
                         size_t bufferSize, bool* replayed) {
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
  std::vector<uint32_t> entries(std::max<size_t>(capacity, 1));
  ScanRecording recording{entries.data(), capacity, 0, false};
  countScanSymbols(state.get(), layout, &scan, frequencies.get(), &recording);
  *replayed = recording.complete;

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

// The bytes of one scan written into ample room.
std::vector<uint8_t> writeScan(const Frame& frame, const ScanCase& c, int32_t restartInterval,
                               size_t capacity, bool* replayed) {
  ScanOutput output = writeScanInto(frame, c, restartInterval, capacity, 1 << 16, replayed);
  EXPECT_EQ(output.status, JpegStatus::Ok);
  output.buffer.resize(output.written);
  return output.buffer;
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
