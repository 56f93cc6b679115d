// Progressive decoding. The corpus files made by tests/data/make_corpus.sh and
// make_progressive.sh each have a sequential twin holding the same quantised coefficients
// (jpegtran re-encodes losslessly), so a progressive decode must give exactly the twin's pixels,
// in every mode, scale and pixel format. Hand-made streams cover what encoders do not write:
// runs past a band, bad scan headers, missing restart markers, absurd scan counts and frames.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/decode/byte_input.h"
#include "codec/decode/huffman_table.h"
#include "codec/decode/progressive_decoder.h"
#include "tests/codec/jpeg_stream_builder.h"
#include "tests/codec/oracle_support.h"

namespace {

namespace fs = std::filesystem;
using oracle::corpusDir;
using oracle::PixelFormat;
using stream_builder::append;
using stream_builder::BitWriter;
using stream_builder::Bytes;

// --- reading through the public API ------------------------------------------------------------

struct ReadRequest {
  PixelFormat format = oracle::kBgr3;
  int scale = 1;
  bool file = false;
  bool interrupt = false;  // interruptRequest set before every call, resumed until done
  int upsamplingMode = 0;  // 1: the interpolating upsampler
  uint8_t fill = 0xA7;     // initial pixel bytes
};

struct ReadResult {
  JpegStatus status = JpegStatus::Ok;
  int interrupts = 0;
  bool guardsIntact = true;
  std::vector<uint8_t> pixels;  // packed rows, guards removed
};

constexpr size_t kGuard = 32;
constexpr int kMaxCalls = 100000;

// A stream both in memory and on disk, so that either kind of mode can read it.
class Stream {
 public:
  explicit Stream(Bytes bytes) : bytes_(std::move(bytes)) {
    path_ = fs::temp_directory_path() /
            ("meshwick-progressive-" + std::to_string(getpid()) + "-" + std::to_string(counter_++) + ".jpg");
    oracle::writeFile(path_, bytes_);
  }
  explicit Stream(const fs::path& existing)
      : bytes_(oracle::readFile(existing)), path_(existing), owned_(false) {}
  ~Stream() {
    std::error_code ignored;
    if (owned_) fs::remove(path_, ignored);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  Bytes& bytes() { return bytes_; }
  std::string path() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  Bytes bytes_;
  fs::path path_;
  bool owned_ = true;
};

JpegIoMode paramsMode(bool file) {
  return file ? JpegIoMode::FileReadParams : JpegIoMode::BufferReadParams;
}

// The image read alone (resumed while interrupted) into a guarded buffer of the scaled size; the
// record already knows the frame.
ReadResult readImageWith(JPEG_CODEC_PROPERTIES* record, const ReadRequest& request) {
  ReadResult result;
  const int width = oracle::scaledSize(record->jpegWidth, request.scale);
  const int height = oracle::scaledSize(record->jpegHeight, request.scale);
  const size_t rowBytes = static_cast<size_t>(width) * request.format.channels;
  std::vector<uint8_t> memory(2 * kGuard + rowBytes * height, request.fill);
  record->pixelData = memory.data() + kGuard;
  record->pixelWidth = width;
  record->pixelHeight = height;
  record->pixelPadBytes = 0;
  record->pixelChannels = request.format.channels;
  record->pixelColor = request.format.color;
  record->pixelSubsampling = 0;
  record->state.upsamplingMode = request.upsamplingMode;
  const JpegIoMode mode = oracle::imageMode(!request.file, request.scale);
  for (int call = 0; call < kMaxCalls; ++call) {
    record->state.interruptRequest = request.interrupt ? 1 : 0;
    result.status = jpegRead(record, mode);
    if (result.status != JpegStatus::InterruptOk) break;
    ++result.interrupts;
  }
  const auto intact = [&](auto first, auto last) {
    return std::all_of(first, last, [&](uint8_t b) { return b == request.fill; });
  };
  result.guardsIntact =
      intact(memory.begin(), memory.begin() + kGuard) && intact(memory.end() - kGuard, memory.end());
  result.pixels.assign(memory.begin() + kGuard, memory.end() - kGuard);
  return result;
}

// Parameters read, then the image read (resumed while interrupted) into a guarded buffer of the
// scaled size, on the caller's record.
ReadResult readWith(JPEG_CODEC_PROPERTIES* record, Stream& stream, const ReadRequest& request,
                    int32_t bufferSize = -1) {
  ReadResult result;
  const std::string path = stream.path();
  record->jpegFileName = path.c_str();
  record->jpegBuffer = stream.bytes().data();
  record->jpegBufferSize = bufferSize >= 0 ? bufferSize : static_cast<int32_t>(stream.bytes().size());
  result.status = jpegRead(record, paramsMode(request.file));
  if (result.status != JpegStatus::Ok) return result;
  return readImageWith(record, request);
}

ReadResult read(Stream& stream, const ReadRequest& request, int32_t bufferSize = -1) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  EXPECT_EQ(jpegInit(record.get()), JpegStatus::Ok);
  ReadResult result = readWith(record.get(), stream, request, bufferSize);
  jpegFree(record.get());
  return result;
}

ReadResult readCorpus(const char* name, const ReadRequest& request) {
  Stream stream(corpusDir() / name);
  return read(stream, request);
}

// The pixel formats worth covering for a stream of `components` components.
std::vector<PixelFormat> formatsFor(int components) {
  if (components == 1) return {oracle::kGray1, oracle::kBgr3};
  return {oracle::kBgr3, oracle::kRgb3, oracle::kGray1, oracle::kCmyk4};
}

std::string describe(const ReadRequest& r) {
  return std::string(r.file ? "file" : "buffer") + " scale 1/" + std::to_string(r.scale) + " " +
         r.format.name + (r.upsamplingMode == 1 ? " interpolated" : "") + (r.interrupt ? " interrupted" : "");
}

// --- corpus twins --------------------------------------------------------------------------------

struct Twin {
  const char* progressive;
  const char* sequential;
  int components;
};

void PrintTo(const Twin& twin, std::ostream* out) {
  *out << twin.progressive;
}

const Twin kTwins[] = {
    // cjpeg's and jpegtran's default scripts, all layouts and odd sizes.
    {"p97_420_cjpeg_progressive.jpg", "p97_420_cjpeg_sequential.jpg", 3},
    {"p97_grey_progressive.jpg", "p97_grey.jpg", 1},
    {"p97_444_progressive.jpg", "p97_444.jpg", 3},
    {"p97_422_progressive.jpg", "p97_422.jpg", 3},
    {"p97_420_progressive.jpg", "p97_420.jpg", 3},
    {"p97_440_progressive.jpg", "p97_440.jpg", 3},
    {"p97_411_progressive.jpg", "p97_411.jpg", 3},
    {"p97_h4h2h1_progressive.jpg", "p97_h4h2h1_sequential.jpg", 3},
    {"p256_420_progressive.jpg", "p256_420.jpg", 3},
    {"t17x9_420_progressive.jpg", "t17x9_420.jpg", 3},
    {"t17x9_422_progressive.jpg", "t17x9_422.jpg", 3},
    {"t17x9_444_progressive.jpg", "t17x9_444.jpg", 3},
    {"t1x1_420_progressive.jpg", "t1x1_420.jpg", 3},
    {"t1x1_grey_progressive.jpg", "t1x1_grey.jpg", 1},
    // Successive approximation scripts.
    {"p97_grey_progressive_sa.jpg", "p97_grey.jpg", 1},
    {"p97_444_progressive_sa.jpg", "p97_444.jpg", 3},
    {"p97_420_progressive_sa.jpg", "p97_420.jpg", 3},
    {"p256_420_progressive_sa.jpg", "p256_420.jpg", 3},
    {"p97_420_scans_progressive.jpg", "p97_420_scans_sequential.jpg", 3},
    {"t17x9_420_scans_progressive.jpg", "t17x9_420_scans_sequential.jpg", 3},
    // Restart intervals, in and out of sequence.
    {"p97_420_rst5_progressive.jpg", "p97_420_rst5.jpg", 3},
    {"p97_420_rst5_progressive_shuffled.jpg", "p97_420_rst5.jpg", 3},
    {"p97_grey_rst2_progressive.jpg", "p97_grey.jpg", 1},
    {"p97_444_rst1row_progressive.jpg", "p97_444.jpg", 3},
    // A DC scan of components 0 and 2; an SOF0 frame whose first scan is DC only.
    {"p97_420_apart_progressive.jpg", "p97_420.jpg", 3},
    {"p97_420_sof0_progressive.jpg", "p97_420.jpg", 3},
};

class ProgressiveTwins : public ::testing::TestWithParam<Twin> {};

TEST_P(ProgressiveTwins, SamePixelsAsSequentialTwinInEveryModeAndScale) {
  const Twin& twin = GetParam();
  for (bool file : {false, true}) {
    for (int scale : {1, 2, 4, 8}) {
      for (const PixelFormat& format : formatsFor(twin.components)) {
        const ReadRequest request{.format = format, .scale = scale, .file = file};
        SCOPED_TRACE(describe(request));
        const ReadResult ours = readCorpus(twin.progressive, request);
        const ReadResult expected = readCorpus(twin.sequential, request);
        ASSERT_EQ(expected.status, JpegStatus::Ok);
        ASSERT_EQ(ours.status, JpegStatus::Ok);
        EXPECT_TRUE(ours.guardsIntact);
        EXPECT_EQ(ours.pixels, expected.pixels);
      }
    }
  }
}

// The other transform family goes through the same rendering.
TEST_P(ProgressiveTwins, SamePixelsWithTransformVariant0) {
  const Twin& twin = GetParam();
  for (int scale : {1, 2}) {
    SCOPED_TRACE(scale);
    auto readVariant0 = [&](const char* name) {
      auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
      EXPECT_EQ(jpegInit(record.get()), JpegStatus::Ok);
      record->state.dctVariant = 0;
      Stream stream(corpusDir() / name);
      ReadResult result = readWith(record.get(), stream, {.scale = scale});
      jpegFree(record.get());
      return result;
    };
    const ReadResult ours = readVariant0(twin.progressive);
    const ReadResult expected = readVariant0(twin.sequential);
    ASSERT_EQ(ours.status, JpegStatus::Ok);
    EXPECT_EQ(ours.pixels, expected.pixels);
  }
}

// The interpolating upsampler takes the rendered blocks as sequential scans hand them over, MCUs
// held back until their neighbours are in: partial edge MCUs, restart intervals, a last scan of
// one component or of several, and an interrupt after every MCU row all give the twin's pixels.
TEST_P(ProgressiveTwins, SamePixelsAsSequentialTwinWithTheInterpolatingUpsampler) {
  const Twin& twin = GetParam();
  for (int scale : {1, 2, 4, 8}) {
    for (const PixelFormat& format : formatsFor(twin.components)) {
      const ReadRequest request{.format = format, .scale = scale, .upsamplingMode = 1};
      const ReadResult expected = readCorpus(twin.sequential, request);
      ASSERT_EQ(expected.status, JpegStatus::Ok) << describe(request);
      for (bool interrupt : {false, true}) {
        ReadRequest progressive = request;
        progressive.interrupt = interrupt;
        SCOPED_TRACE(describe(progressive));
        const ReadResult ours = readCorpus(twin.progressive, progressive);
        ASSERT_EQ(ours.status, JpegStatus::Ok);
        EXPECT_TRUE(ours.guardsIntact);
        EXPECT_EQ(ours.pixels, expected.pixels);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ProgressiveTwins, ::testing::ValuesIn(kTwins));

// Progressive files count every scan as progressive, whatever the frame marker says; scans are
// counted independently from the SOS markers in the file.
TEST(ProgressiveScans, ScanCountMatchesSosMarkers) {
  for (const char* name : {"p256_420_progressive.jpg", "p97_444_progressive_sa.jpg",
                           "p97_420_sof0_progressive.jpg", "p97_grey_progressive_sa.jpg"}) {
    SCOPED_TRACE(name);
    Stream stream(corpusDir() / name);
    int sosMarkers = 0;
    for (size_t i = 0; i + 1 < stream.bytes().size(); ++i) {
      sosMarkers += stream.bytes()[i] == 0xFF && stream.bytes()[i + 1] == 0xDA;
    }
    auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
    ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
    ASSERT_EQ(readWith(record.get(), stream, {}).status, JpegStatus::Ok);
    EXPECT_EQ(record->state.progressive, sosMarkers);
    EXPECT_EQ(record->state.finishedDcCount, record->jpegChannels);
    EXPECT_EQ(record->state.finishedAcCount, record->jpegChannels);
    jpegFree(record.get());
  }
}

// --- incomplete, interrupted, reused, truncated ----------------------------------------------------

// Fully written: two decodes into buffers of different initial contents agree.
void expectEveryPixelWritten(Stream& stream, ReadRequest request) {
  request.fill = 0x00;
  const ReadResult zeros = read(stream, request);
  request.fill = 0xFF;
  const ReadResult ones = read(stream, request);
  ASSERT_EQ(zeros.status, JpegStatus::Ok);
  ASSERT_EQ(ones.status, JpegStatus::Ok);
  EXPECT_EQ(zeros.pixels, ones.pixels) << "some pixels were never written";
}

// Images whose scans stop before every bit is sent still show what they carry: at 1/8 scale
// (DC only) exactly their sequential twin, at full size every pixel.
TEST(ProgressiveIncomplete, RendersWhatTheScansCarry) {
  const Twin incomplete[] = {
      {"p97_grey_dconly_progressive.jpg", "p97_grey.jpg", 1},
      {"p97_444_dconly_progressive.jpg", "p97_444.jpg", 3},
      {"p97_444_noaclast_progressive.jpg", "p97_444.jpg", 3},
  };
  for (const Twin& twin : incomplete) {
    for (bool file : {false, true}) {
      const ReadRequest eighth{.scale = 8, .file = file};
      SCOPED_TRACE(std::string(twin.progressive) + " " + describe(eighth));
      const ReadResult ours = readCorpus(twin.progressive, eighth);
      ASSERT_EQ(ours.status, JpegStatus::Ok);
      EXPECT_EQ(ours.pixels, readCorpus(twin.sequential, eighth).pixels);
      Stream stream(corpusDir() / twin.progressive);
      expectEveryPixelWritten(stream, {.file = file});
    }
  }
}

// A DC-only grey image has flat 8x8 blocks.
TEST(ProgressiveIncomplete, DcOnlyBlocksAreFlat) {
  const ReadResult result = readCorpus("p97_grey_dconly_progressive.jpg", {.format = oracle::kGray1});
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const int width = 97;
  for (int y = 0; y < 61; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(result.pixels[y * width + x], result.pixels[(y / 8 * 8) * width + x / 8 * 8])
          << x << "," << y;
    }
  }
}

const char* const kInterruptFiles[] = {
    "p97_420_progressive_sa.jpg",    "p97_420_rst5_progressive.jpg", "p97_grey_progressive_sa.jpg",
    "p97_420_apart_progressive.jpg", "p256_420_progressive.jpg",     "p97_h4h2h1_progressive.jpg",
};

// Stopping after every MCU row of every scan and resuming gives the uninterrupted pixels.
TEST(ProgressiveInterrupt, ResumedDecodeGivesUninterruptedPixels) {
  for (const char* name : kInterruptFiles) {
    for (bool file : {false, true}) {
      for (int scale : {1, 2}) {
        const ReadRequest whole{.scale = scale, .file = file};
        SCOPED_TRACE(std::string(name) + " " + describe(whole));
        const ReadResult expected = readCorpus(name, whole);
        ReadRequest stepwise = whole;
        stepwise.interrupt = true;
        const ReadResult resumed = readCorpus(name, stepwise);
        ASSERT_EQ(resumed.status, JpegStatus::Ok);
        EXPECT_GT(resumed.interrupts, 4);
        EXPECT_EQ(resumed.pixels, expected.pixels);
      }
    }
  }
}

// Nothing reaches the pixels before every component has its full-precision DC and an AC band
// ending at 63; the scan that completes them writes every MCU row.
TEST(ProgressiveInterrupt, NothingRenderedUntilEveryComponentIsComplete) {
  for (const char* name : {"p97_420_progressive_sa.jpg", "p97_420_cjpeg_progressive.jpg"}) {
    SCOPED_TRACE(name);
    Stream stream(corpusDir() / name);
    auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
    ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
    record->jpegBuffer = stream.bytes().data();
    record->jpegBufferSize = static_cast<int32_t>(stream.bytes().size());
    ASSERT_EQ(jpegRead(record.get(), JpegIoMode::BufferReadParams), JpegStatus::Ok);
    constexpr uint8_t kUntouched = 0x5A;
    std::vector<uint8_t> pixels(static_cast<size_t>(record->jpegWidth) * record->jpegHeight * 3, kUntouched);
    record->pixelData = pixels.data();
    record->pixelWidth = record->jpegWidth;
    record->pixelHeight = record->jpegHeight;
    record->pixelChannels = 3;
    record->pixelColor = JpegColor::Bgr;
    const JPEG_PROPERTIES& state = record->state;
    JpegStatus status = JpegStatus::InterruptOk;
    int incompleteStops = 0;
    for (int call = 0; call < kMaxCalls && status == JpegStatus::InterruptOk; ++call) {
      record->state.interruptRequest = 1;
      status = jpegRead(record.get(), JpegIoMode::BufferReadImage);
      if (status != JpegStatus::InterruptOk) break;
      const bool complete = state.finishedDcCount >= 3 && state.finishedAcCount >= 3;
      if (!complete) {
        ++incompleteStops;
        ASSERT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t b) { return b == kUntouched; }))
            << "pixels written after " << state.progressive << " scans";
      }
    }
    EXPECT_EQ(status, JpegStatus::Ok);
    EXPECT_GT(incompleteStops, 20);
    jpegFree(record.get());
    Stream again(corpusDir() / name);
    expectEveryPixelWritten(again, {});
  }
}

// One record, several images: each progressive image gets its own coefficient buffer state, and a
// sequential image in between is not taken for progressive.
TEST(ProgressiveRecord, LaterImagesOnTheSameRecordDecodeAsOnFreshOnes) {
  const char* const sequence[] = {
      "p256_420_progressive_sa.jpg",   "p97_420_progressive.jpg",     "p97_444.jpg",
      "p97_420_scans_progressive.jpg", "p97_grey_progressive_sa.jpg", "p97_420_progressive.jpg"};
  for (bool file : {false, true}) {
    auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
    ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
    for (const char* name : sequence) {
      const ReadRequest request{.file = file};
      SCOPED_TRACE(std::string(name) + " " + describe(request));
      Stream stream(corpusDir() / name);
      const ReadResult reused = readWith(record.get(), stream, request);
      ASSERT_EQ(reused.status, JpegStatus::Ok);
      EXPECT_EQ(reused.pixels, readCorpus(name, request).pixels);
    }
    jpegFree(record.get());
  }
}

// The scaled file modes leave the file open at the image's last SOS; reading the image again on
// the same record must still decode every scan, not just that last one.
TEST(ProgressiveRecord, RepeatedScaledFileReadsDecodeEveryScan) {
  for (const char* name :
       {"p97_420_progressive.jpg", "p256_420_progressive_sa.jpg", "p97_420_noninterleaved.jpg"}) {
    for (int scale : {2, 4, 8}) {
      const ReadRequest request{.scale = scale, .file = true};
      SCOPED_TRACE(std::string(name) + " " + describe(request));
      Stream stream(corpusDir() / name);
      const ReadResult fresh = readCorpus(name, request);
      ASSERT_EQ(fresh.status, JpegStatus::Ok);
      auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
      ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
      const std::string path = stream.path();
      ASSERT_EQ(readWith(record.get(), stream, request).pixels, fresh.pixels);
      record->jpegFileName = path.c_str();
      for (int again = 0; again < 2; ++again) {
        const ReadResult repeated = readImageWith(record.get(), request);
        ASSERT_EQ(repeated.status, JpegStatus::Ok);
        EXPECT_EQ(repeated.pixels, fresh.pixels) << "read " << again + 2;
      }
      jpegFree(record.get());
    }
  }
}

// The tables read first from a tables-only stream; the image without its header tables then
// decodes in the no-tables modes to the pixels of the complete stream.
TEST(ProgressiveTables, AbbreviatedImageUsesTablesReadBefore) {
  for (bool file : {false, true}) {
    const ReadRequest request{.file = file};
    SCOPED_TRACE(describe(request));
    const ReadResult whole = readCorpus("p97_420_progressive_sa.jpg", request);
    ASSERT_EQ(whole.status, JpegStatus::Ok);
    Stream tables(corpusDir() / "p97_420_progressive_sa_tables.jpg");
    Stream image(corpusDir() / "p97_420_progressive_sa_abbreviated.jpg");
    const std::string tablesPath = tables.path();
    const std::string imagePath = image.path();
    auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
    ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
    record->jpegFileName = tablesPath.c_str();
    record->jpegBuffer = tables.bytes().data();
    record->jpegBufferSize = static_cast<int32_t>(tables.bytes().size());
    EXPECT_EQ(jpegRead(record.get(), file ? JpegIoMode::FileReadTables : JpegIoMode::BufferReadTables),
              JpegStatus::Ok);
    std::vector<uint8_t> pixels(97 * 61 * 3, 0xA7);
    record->jpegFileName = imagePath.c_str();
    record->jpegBuffer = image.bytes().data();
    record->jpegBufferSize = static_cast<int32_t>(image.bytes().size());
    record->pixelData = pixels.data();
    record->pixelWidth = 97;
    record->pixelHeight = 61;
    record->pixelChannels = 3;
    record->pixelColor = JpegColor::Bgr;
    EXPECT_EQ(jpegRead(record.get(),
                       file ? JpegIoMode::FileReadImageNoTables : JpegIoMode::BufferReadImageNoTables),
              JpegStatus::Ok);
    EXPECT_EQ(pixels, whole.pixels);
    jpegFree(record.get());
  }
}

// Every prefix of a progressive stream: a status, no crash, nothing written outside the pixels;
// memory prefixes that decode (missing data reads as zero bits) write every pixel.
TEST(ProgressiveTruncated, EveryPrefixIsHandled) {
  for (const char* name : {"t17x9_420_scans_progressive.jpg", "p97_grey_rst2_progressive.jpg"}) {
    Stream whole(corpusDir() / name);
    const size_t size = whole.bytes().size();
    const size_t step = std::max<size_t>(1, size / 150);
    for (size_t length = 0; length < size; length += step) {
      SCOPED_TRACE(std::string(name) + " first " + std::to_string(length) + " bytes");
      Stream prefix(
          Bytes(whole.bytes().begin(), whole.bytes().begin() + static_cast<std::ptrdiff_t>(length)));
      for (bool file : {false, true}) {
        const ReadResult result = read(prefix, {.file = file});
        EXPECT_LE(static_cast<int>(result.status), 0);
        EXPECT_TRUE(result.guardsIntact);
      }
    }
  }
}

// Cut early, the image is rendered once at its end from what the scans carry; later, during the
// scan the cut falls in. Either way, with either upsampler, every pixel is written.
TEST(ProgressiveTruncated, MemoryStreamCutInAScanDecodesEveryPixel) {
  // 97 x 61 pixels: the last MCU column and row are partial.
  const char* const files[] = {"p97_420_progressive_sa.jpg", "p97_422_progressive.jpg",
                               "p256_420_progressive.jpg"};
  for (const char* name : files) {
    Stream whole(corpusDir() / name);
    for (size_t percent : {30, 60, 90}) {
      const size_t length = whole.bytes().size() * percent / 100;
      Stream prefix(
          Bytes(whole.bytes().begin(), whole.bytes().begin() + static_cast<std::ptrdiff_t>(length)));
      for (int upsamplingMode : {0, 1}) {
        SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(percent) + "%, upsampling mode " +
                     std::to_string(upsamplingMode));
        expectEveryPixelWritten(prefix, {.upsamplingMode = upsamplingMode});
      }
    }
  }
}

// --- hand-made streams ------------------------------------------------------------------------------

// Canonical codes of a table given as a DHT carries it.
struct HuffmanCodes {
  std::array<uint32_t, 256> code{};
  std::array<int, 256> length{};
};

HuffmanCodes canonicalCodes(const Bytes& counts, const Bytes& values) {
  HuffmanCodes codes;
  uint32_t code = 0;
  size_t index = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < counts[length - 1]; ++i, ++index, ++code) {
      codes.code[values[index]] = code;
      codes.length[values[index]] = length;
    }
    code <<= 1;
  }
  return codes;
}

// An AC table with 8-bit codes for every run 0..15 with sizes 0..4: end-of-band runs included,
// which the sequential tables of T.81 Annex K lack.
struct FlatAcTable {
  Bytes counts = Bytes(16, 0);
  Bytes values;
  FlatAcTable() {
    for (int run = 0; run < 16; ++run) {
      for (int size = 0; size <= 4; ++size) values.push_back(static_cast<uint8_t>(run << 4 | size));
    }
    counts[7] = static_cast<uint8_t>(values.size());
  }
};

const FlatAcTable kFlatAc;
const HuffmanCodes kDcCodes = canonicalCodes(stream_builder::kDcLumaCounts, stream_builder::kDcLumaValues);
const HuffmanCodes kAcCodes = canonicalCodes(kFlatAc.counts, kFlatAc.values);

void putSymbol(BitWriter& bits, const HuffmanCodes& codes, int symbol) {
  ASSERT_NE(codes.length[symbol], 0) << "no code for symbol " << symbol;
  bits.put(codes.code[symbol], codes.length[symbol]);
}

int categoryOf(int value) {
  int category = 0;
  for (int magnitude = std::abs(value); magnitude != 0; magnitude >>= 1) ++category;
  return category;
}

// The category's bits of a value (T.81 F.1.2.1: negative values as value - 1 in the low bits).
void putValueBits(BitWriter& bits, int value) {
  const int category = categoryOf(value);
  if (category > 0)
    bits.put(static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << category) - 1), category);
}

void putDc(BitWriter& bits, int difference) {
  putSymbol(bits, kDcCodes, categoryOf(difference));
  putValueBits(bits, difference);
}

void putAc(BitWriter& bits, int run, int value) {
  putSymbol(bits, kAcCodes, run << 4 | categoryOf(value));
  putValueBits(bits, value);
}

// End-of-band run of `blocks` (1..32767) blocks.
void putEndOfBand(BitWriter& bits, int blocks) {
  const int run = categoryOf(blocks) - 1;
  putSymbol(bits, kAcCodes, run << 4);
  if (run > 0) bits.put(static_cast<uint32_t>(blocks) & ((1u << run) - 1), run);
}

// Blocks as zig-zag coefficients.
using ZigZagBlock = std::array<int, 64>;

// Grey frame of `width` x 8 pixels (one block row) with quantisation step 1 and the tables above.
Bytes greyHeader(int width, uint8_t frameMarker, int restartInterval = 0) {
  using namespace stream_builder;
  Bytes out = marker(0xD8);
  append(out, dqt8(0, 1));
  append(out, sof(frameMarker, width, 8, {{1, 1, 1, 0}}));
  append(out, dht(0, 0, kDcLumaCounts, kDcLumaValues));
  append(out, dht(1, 0, kFlatAc.counts, kFlatAc.values));
  if (restartInterval != 0) {
    append(out, segment(0xDD,
                        {static_cast<uint8_t>(restartInterval >> 8), static_cast<uint8_t>(restartInterval)}));
  }
  return out;
}

void appendScan(Bytes& out, int ss, int se, int ah, int al, BitWriter& bits) {
  append(out, stream_builder::sos({{1, 0, 0}}, static_cast<uint8_t>(ss), static_cast<uint8_t>(se),
                                  static_cast<uint8_t>(ah << 4 | al)));
  append(out, bits.finish());
}

// The baseline stream of the same blocks: the expected pixels of a progressive hand stream.
Bytes sequentialGrey(const std::vector<ZigZagBlock>& blocks) {
  Bytes out = greyHeader(static_cast<int>(blocks.size()) * 8, 0xC0);
  BitWriter bits;
  int previousDc = 0;
  for (const ZigZagBlock& block : blocks) {
    putDc(bits, block[0] - previousDc);
    previousDc = block[0];
    int run = 0;
    for (int k = 1; k < 64; ++k) {
      if (block[k] == 0) {
        ++run;
        continue;
      }
      for (; run > 15; run -= 16) putSymbol(bits, kAcCodes, 0xF0);
      putAc(bits, run, block[k]);
      run = 0;
    }
    if (run > 0) putSymbol(bits, kAcCodes, 0x00);
  }
  appendScan(out, 0, 63, 0, 0, bits);
  append(out, stream_builder::marker(0xD9));
  return out;
}

// Four blocks: coefficients in both halves of the AC range, an odd DC, a run longer than 16.
std::vector<ZigZagBlock> fourBlocks() {
  std::vector<ZigZagBlock> blocks(4, ZigZagBlock{});
  blocks[0][0] = 80, blocks[0][1] = 3, blocks[0][6] = -2;
  blocks[1][0] = -39;
  blocks[2][0] = 0, blocks[2][8] = 5;
  blocks[3][0] = 120, blocks[3][22] = -1;
  return blocks;
}

std::vector<uint8_t> decodeGrey(Bytes bytes) {
  Stream stream(std::move(bytes));
  const ReadResult result = read(stream, {.format = oracle::kGray1});
  EXPECT_EQ(result.status, JpegStatus::Ok);
  return result.pixels;
}

// Spectral selection: the first band ends with an end-of-band run over exactly the band's last
// block; the second band uses a zero run, a run of 16 and single-block runs.
TEST(ProgressiveEndOfBand, RunEndingAtTheLastBlockOfTheBand) {
  Bytes stream = greyHeader(32, 0xC2);
  BitWriter dc;
  for (int difference : {80, -119, 39, 120}) putDc(dc, difference);
  appendScan(stream, 0, 0, 0, 0, dc);
  BitWriter low;  // positions 1..5
  putAc(low, 0, 3);
  putEndOfBand(low, 4);  // the rest of block 0 and blocks 1..3
  appendScan(stream, 1, 5, 0, 0, low);
  BitWriter high;  // positions 6..63
  putAc(high, 0, -2);
  putEndOfBand(high, 1);
  putEndOfBand(high, 1);
  putAc(high, 2, 5);
  putEndOfBand(high, 1);
  putSymbol(high, kAcCodes, 0xF0);  // positions 6..21 zero
  putAc(high, 0, -1);
  putEndOfBand(high, 1);
  appendScan(stream, 6, 63, 0, 0, high);
  append(stream, stream_builder::marker(0xD9));
  EXPECT_EQ(decodeGrey(stream), decodeGrey(sequentialGrey(fourBlocks())));
}

// Successive approximation: DC refinement with an odd DC, AC refinement whose end-of-band run
// carries correction bits and ends exactly at the last block, a new coefficient after a run of 16.
TEST(ProgressiveEndOfBand, RefinementRunEndingAtTheLastBlock) {
  Bytes stream = greyHeader(32, 0xC2);
  BitWriter dcFirst;  // DC >> 1: 40, -20, 0, 60
  for (int difference : {40, -60, 20, 60}) putDc(dcFirst, difference);
  appendScan(stream, 0, 0, 0, 1, dcFirst);
  BitWriter acFirst;  // AC / 2 toward zero: block 0 (1 at 1, -1 at 6), block 2 (2 at 8)
  putAc(acFirst, 0, 1);
  putAc(acFirst, 4, -1);
  putEndOfBand(acFirst, 1);
  putEndOfBand(acFirst, 1);
  putAc(acFirst, 7, 2);
  putEndOfBand(acFirst, 2);  // the rest of block 2 and block 3
  appendScan(stream, 1, 63, 0, 1, acFirst);
  BitWriter dcRefine;
  for (int bit : {0, 1, 0, 0}) dcRefine.put(static_cast<uint32_t>(bit), 1);
  appendScan(stream, 0, 0, 1, 0, dcRefine);
  BitWriter acRefine;
  putEndOfBand(acRefine, 3);                  // blocks 0..2 only get correction bits:
  acRefine.put(1, 1), acRefine.put(0, 1);     // block 0: 2 -> 3 at 1, -2 stays at 6
  acRefine.put(1, 1);                         // block 2: 4 -> 5 at 8
  putSymbol(acRefine, kAcCodes, 0xF0);        // block 3: 16 zero-history positions,
  putSymbol(acRefine, kAcCodes, 5 << 4 | 1);  // 5 more, then a new coefficient
  acRefine.put(0, 1);                         // of sign minus at 22
  putEndOfBand(acRefine, 1);
  appendScan(stream, 1, 63, 1, 0, acRefine);
  append(stream, stream_builder::marker(0xD9));
  EXPECT_EQ(decodeGrey(stream), decodeGrey(sequentialGrey(fourBlocks())));
}

// An SOF0 frame whose first scan is DC only is decoded progressively.
TEST(ProgressiveEndOfBand, BaselineFrameWithDcOnlyFirstScan) {
  Bytes stream = greyHeader(32, 0xC0);
  BitWriter dc;
  for (int difference : {80, -119, 39, 120}) putDc(dc, difference);
  appendScan(stream, 0, 0, 0, 0, dc);
  BitWriter ac;
  putAc(ac, 0, 3);
  putAc(ac, 4, -2);
  putEndOfBand(ac, 1);
  putEndOfBand(ac, 1);
  putAc(ac, 7, 5);
  putEndOfBand(ac, 1);
  putSymbol(ac, kAcCodes, 0xF0);
  putAc(ac, 5, -1);
  putEndOfBand(ac, 1);
  appendScan(stream, 1, 63, 0, 0, ac);
  append(stream, stream_builder::marker(0xD9));
  EXPECT_EQ(decodeGrey(stream), decodeGrey(sequentialGrey(fourBlocks())));
}

// --- scan header checks ----------------------------------------------------------------------------

struct BadScan {
  const char* what;
  int frameComponents;
  std::vector<uint8_t> scanComponents;  // identifiers
  int ss, se, ah, al;
  bool afterDcScan;  // a valid progressive DC scan comes first
  JpegStatus expected;
};

void PrintTo(const BadScan& scan, std::ostream* out) {
  *out << scan.what;
}

class ProgressiveScanHeader : public ::testing::TestWithParam<BadScan> {};

TEST_P(ProgressiveScanHeader, IsCheckedBeforeDecoding) {
  using namespace stream_builder;
  const BadScan& scan = GetParam();
  Bytes stream = marker(0xD8);
  append(stream, dqt8(0, 1));
  if (scan.frameComponents == 1) {
    append(stream, sof(0xC2, 16, 8, {{1, 1, 1, 0}}));
  } else {
    append(stream, sof(0xC2, 16, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
  }
  append(stream, dht(0, 0, kDcLumaCounts, kDcLumaValues));
  append(stream, dht(1, 0, kFlatAc.counts, kFlatAc.values));
  if (scan.afterDcScan) {
    append(stream, sos({{1, 0, 0}}, 0, 0, 0));
    BitWriter bits;
    putDc(bits, 8);
    putDc(bits, 0);
    append(stream, bits.finish());
  }
  Bytes header = {static_cast<uint8_t>(scan.scanComponents.size())};
  for (uint8_t id : scan.scanComponents) header.insert(header.end(), {id, 0x00});
  header.insert(header.end(), {static_cast<uint8_t>(scan.ss), static_cast<uint8_t>(scan.se),
                               static_cast<uint8_t>(scan.ah << 4 | scan.al)});
  append(stream, segment(0xDA, header));
  append(stream, Bytes(16, 0x00));
  append(stream, marker(0xD9));
  Stream input(stream);
  const PixelFormat format = scan.frameComponents == 1 ? oracle::kGray1 : oracle::kBgr3;
  EXPECT_EQ(read(input, {.format = format}).status, scan.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressiveScanHeader,
    ::testing::Values(
        BadScan{"dc_scan_alone_is_valid", 1, {1}, 0, 0, 0, 0, false, JpegStatus::Ok},
        BadScan{"ac_band_after_dc_is_valid", 1, {1}, 1, 63, 0, 0, true, JpegStatus::Ok},
        BadScan{"start_after_end", 1, {1}, 5, 2, 0, 0, true, JpegStatus::DataError},
        BadScan{"end_past_63", 1, {1}, 1, 64, 0, 0, true, JpegStatus::DataError},
        BadScan{"dc_scan_with_ac_band", 1, {1}, 0, 5, 0, 0, false, JpegStatus::DataError},
        BadScan{"ac_scan_of_two_components", 3, {1, 2}, 1, 63, 0, 0, false, JpegStatus::DataError},
        BadScan{"al_above_13", 1, {1}, 0, 0, 0, 14, false, JpegStatus::DataError},
        BadScan{"ah_above_13", 1, {1}, 1, 63, 14, 13, true, JpegStatus::DataError},
        BadScan{"full_band_after_progressive_scan", 1, {1}, 0, 63, 0, 0, true, JpegStatus::DataError}),
    [](const ::testing::TestParamInfo<BadScan>& info) { return std::string(info.param.what); });

// --- restart markers ----------------------------------------------------------------------------------

// Two-block grey DC scan with a restart interval of one block; `between` goes between the blocks.
Bytes restartStream(const Bytes& between, Bytes* tail) {
  Bytes stream = greyHeader(16, 0xC2, 1);
  append(stream, stream_builder::sos({{1, 0, 0}}, 0, 0, 0));
  BitWriter first;
  putDc(first, 40);
  append(stream, first.finish());
  BitWriter second;
  putDc(second, -16);
  *tail = between;
  append(*tail, second.finish());
  append(*tail, stream_builder::marker(0xD9));
  return stream;
}

TEST(ProgressiveRestart, AnyRstMarkerIsAccepted) {
  for (uint8_t code : {0xD0, 0xD5}) {
    SCOPED_TRACE(code);
    Bytes tail;
    Bytes stream = restartStream(stream_builder::marker(code), &tail);
    append(stream, tail);
    Stream input(stream);
    for (bool file : {false, true})
      EXPECT_EQ(read(input, {.format = oracle::kGray1, .file = file}).status, JpegStatus::Ok);
  }
}

TEST(ProgressiveRestart, MissingMarkerIsBadRstMarker) {
  Bytes tail;
  Bytes stream = restartStream({}, &tail);  // the next marker found is EOI
  append(stream, tail);
  Stream input(stream);
  for (bool file : {false, true}) {
    EXPECT_EQ(read(input, {.format = oracle::kGray1, .file = file}).status, JpegStatus::BadRstMarker);
  }
}

// The input ends where the marker should be; an RST marker lying beyond the buffer's declared end
// must not be found.
TEST(ProgressiveRestart, InputEndingBeforeTheMarkerIsBadRstMarker) {
  Bytes tail;
  Bytes stream = restartStream(stream_builder::marker(0xD0), &tail);
  const int32_t declared = static_cast<int32_t>(stream.size());
  append(stream, tail);
  Stream input(stream);
  EXPECT_EQ(read(input, {.format = oracle::kGray1}, declared).status, JpegStatus::BadRstMarker);
  // A file that ends inside entropy-coded data fails as a file before a marker is looked for.
  Stream cut(Bytes(stream.begin(), stream.begin() + declared));
  EXPECT_EQ(read(cut, {.format = oracle::kGray1, .file = true}).status, JpegStatus::FileError);
}

// --- limits -------------------------------------------------------------------------------------------

// One DC first scan and `refinements` DC refinement scans of an 8x8 grey image.
Bytes manyScans(int refinements) {
  Bytes stream = greyHeader(8, 0xC2);
  BitWriter dc;
  putDc(dc, 8);
  appendScan(stream, 0, 0, 0, 0, dc);
  for (int i = 0; i < refinements; ++i) {
    BitWriter bit;
    bit.put(static_cast<uint32_t>(i & 1), 1);
    appendScan(stream, 0, 0, 1, 0, bit);
  }
  append(stream, stream_builder::marker(0xD9));
  return stream;
}

TEST(ProgressiveLimits, AbsurdScanCountIsMemoryError) {
  Stream most(manyScans(kMaxProgressiveScans - 1));
  EXPECT_EQ(read(most, {.format = oracle::kGray1}).status, JpegStatus::Ok);
  Stream tooMany(manyScans(kMaxProgressiveScans));
  EXPECT_EQ(read(tooMany, {.format = oracle::kGray1}).status, JpegStatus::MemoryError);
}

// A frame whose coefficients would not fit the allocation bound fails at its first scan, before
// any pixel buffer is needed (the parameters still read fine).
TEST(ProgressiveLimits, HugeFrameIsMemoryError) {
  using namespace stream_builder;
  for (int components : {1, 3}) {
    SCOPED_TRACE(components);
    Bytes stream = marker(0xD8);
    append(stream, dqt8(0, 1));
    if (components == 1) {
      append(stream, sof(0xC2, 65535, 65535, {{1, 1, 1, 0}}));
    } else {
      append(stream, sof(0xC2, 65535, 65535, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
    }
    append(stream, dht(0, 0, kDcLumaCounts, kDcLumaValues));
    append(stream, sos({{1, 0, 0}}, 0, 0, 0));
    append(stream, Bytes(8, 0x00));
    append(stream, marker(0xD9));
    auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
    ASSERT_EQ(jpegInit(record.get()), JpegStatus::Ok);
    record->jpegBuffer = stream.data();
    record->jpegBufferSize = static_cast<int32_t>(stream.size());
    EXPECT_EQ(jpegRead(record.get(), JpegIoMode::BufferReadParams), JpegStatus::Ok);
    std::vector<uint8_t> row(3);
    record->pixelData = row.data();
    record->pixelWidth = 65535;
    record->pixelHeight = 65535;
    record->pixelChannels = components == 1 ? 1 : 3;
    record->pixelColor = components == 1 ? JpegColor::Gray : JpegColor::Bgr;
    // The pixel buffer is checked at the scan start, after the buffer is sized: the frame fails first.
    EXPECT_EQ(jpegRead(record.get(), JpegIoMode::BufferReadImage), JpegStatus::MemoryError);
    EXPECT_EQ(record->state.coefficientBuffer, nullptr);
    jpegFree(record.get());
  }
}

// --- block procedures ------------------------------------------------------------------------------

class ProgressiveBlocks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(deriveHuffmanTable(kFlatAc.counts.data(), kFlatAc.values.data(), 1, 0, &acTable_),
              JpegStatus::Ok);
    ASSERT_EQ(deriveHuffmanTable(stream_builder::kDcLumaCounts.data(), stream_builder::kDcLumaValues.data(),
                                 0, 0, &dcTable_),
              JpegStatus::Ok);
  }

  // Memory input over the finished bits, followed by a few zero bytes.
  ByteInput& inputOf(BitWriter& bits) {
    bytes_ = bits.finish();
    append(bytes_, Bytes(8, 0x00));
    input_ = std::make_unique<ByteInput>();
    input_->start = bytes_.data();
    input_->size = static_cast<uint32_t>(bytes_.size());
    resetInput(input_.get());
    return *input_;
  }

  static int16_t& at(std::array<int16_t, 64>& block, int zigZag) { return block[kNaturalOrder[zigZag]]; }

  HuffmanTable acTable_{};
  HuffmanTable dcTable_{};
  Bytes bytes_;
  std::unique_ptr<ByteInput> input_;
};

TEST_F(ProgressiveBlocks, DcFirstClearsTheBlockAndScalesThePredictor) {
  BitWriter bits;
  putDc(bits, 5);
  ByteInput& input = inputOf(bits);
  std::array<int16_t, 64> block;
  block.fill(99);
  int32_t predictor = 7;
  ASSERT_EQ(decodeDcFirst(&input, &dcTable_, &predictor, 2, block.data()), 0);
  EXPECT_EQ(predictor, 12);
  EXPECT_EQ(block[0], 48);
  EXPECT_TRUE(std::all_of(block.begin() + 1, block.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(ProgressiveBlocks, DcRefineSetsTheBitOfItsPosition) {
  BitWriter bits;
  bits.put(0b101, 3);
  ByteInput& input = inputOf(bits);
  std::array<int16_t, 64> block{};
  block[0] = -40;
  ASSERT_EQ(decodeDcRefine(&input, 0, block.data()), 0);
  EXPECT_EQ(block[0], -39);
  block[0] = 16;
  ASSERT_EQ(decodeDcRefine(&input, 3, block.data()), 0);
  EXPECT_EQ(block[0], 16);
  ASSERT_EQ(decodeDcRefine(&input, 3, block.data()), 0);
  EXPECT_EQ(block[0], 24);
}

// The block that holds the end-of-band symbol is the first of its run.
TEST_F(ProgressiveBlocks, EndOfBandRunCountsItsOwnBlock) {
  BitWriter bits;
  putEndOfBand(bits, 5);  // run 2, extra bits 01
  putAc(bits, 0, 7);
  ByteInput& input = inputOf(bits);
  std::array<int16_t, 64> block{};
  for (int expectedLeft : {4, 3, 2, 1, 0}) {
    ASSERT_EQ(decodeAcFirst(&input, &acTable_, 1, 63, 0, block.data()), 0);
    EXPECT_EQ(input.eobRun, expectedLeft);
  }
  EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; }));
  ASSERT_EQ(decodeAcFirst(&input, &acTable_, 1, 63, 0, block.data()), 0);  // the sixth block decodes
  EXPECT_EQ(at(block, 1), 7);
}

// Runs reaching past the band's end store nothing, anywhere in the block.
TEST_F(ProgressiveBlocks, FirstPassRunPastTheBandStoresNothing) {
  BitWriter bits;
  putAc(bits, 10, 1);  // would land on position 11 of band 1..5
  putSymbol(bits, kAcCodes, 0xF0);
  ByteInput& input = inputOf(bits);
  std::array<int16_t, 64> block;
  block.fill(0);
  ASSERT_EQ(decodeAcFirst(&input, &acTable_, 1, 5, 0, block.data()), 0);
  ASSERT_EQ(decodeAcFirst(&input, &acTable_, 1, 5, 0, block.data()), 0);
  EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(ProgressiveBlocks, RefinementRunPastTheBandStoresNothing) {
  BitWriter bits;
  putSymbol(bits, kAcCodes, 5 << 4 | 1);  // skip 5 zeros in band 1..3: past its end
  bits.put(1, 1);
  bits.put(1, 1);  // correction bit of the one nonzero coefficient passed
  ByteInput& input = inputOf(bits);
  std::array<int16_t, 64> block{};
  at(block, 2) = 2;
  ASSERT_EQ(decodeAcRefine(&input, &acTable_, 1, 3, 0, block.data()), 0);
  std::array<int16_t, 64> expected{};
  at(expected, 2) = 3;
  EXPECT_EQ(block, expected);
}

// T.81 G.1.2.3: the sign bit follows the symbol; each nonzero coefficient passed over takes a
// correction bit; the new coefficient lands on the (run + 1)-th zero-history position; inside an
// end-of-band run the rest of the band gets correction bits only.
TEST_F(ProgressiveBlocks, RefinementCorrectsPassedCoefficientsAndPlacesTheNewOne) {
  BitWriter bits;
  putSymbol(bits, kAcCodes, 1 << 4 | 1);
  bits.put(1, 1);  // new coefficient positive
  bits.put(1, 1);  // position 1: 2 -> 3
  bits.put(1, 1);  // position 3: -2 -> -3
  putEndOfBand(bits, 1);
  bits.put(0, 1);  // position 9: 4 stays
  bits.put(1, 1);  // position 12: 5 already has the bit: stays
  ByteInput& input = inputOf(bits);
  std::array<int16_t, 64> block{};
  at(block, 1) = 2, at(block, 3) = -2, at(block, 9) = 4, at(block, 12) = 5;
  ASSERT_EQ(decodeAcRefine(&input, &acTable_, 1, 63, 0, block.data()), 0);
  std::array<int16_t, 64> expected{};
  at(expected, 1) = 3, at(expected, 3) = -3, at(expected, 4) = 1, at(expected, 9) = 4, at(expected, 12) = 5;
  EXPECT_EQ(block, expected);
  EXPECT_EQ(input.eobRun, 0);
}

// --- the command-line tool -------------------------------------------------------------------------

std::string runTool(const std::string& arguments) {
  std::string output;
  FILE* pipe = popen((std::string(MESHWICK_JPEG_TOOL) + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[256];
  while (fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
  pclose(pipe);
  return output;
}

TEST(ProgressiveTool, InfoReportsTheScanCount) {
  const struct {
    const char* name;
    const char* lines;
  } cases[] = {
      {"p256_420_progressive.jpg", "coding: progressive\nprogressive scans: 10\n"},
      {"p97_444_progressive_sa.jpg", "coding: progressive\nprogressive scans: 14\n"},
      {"p97_420_sof0_progressive.jpg", "coding: progressive\nprogressive scans: 10\n"},
      {"p97_420.jpg", "coding: sequential\nprogressive scans: 0\n"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(runTool("info " + oracle::quoted((corpusDir() / c.name).string())).find(c.lines),
              std::string::npos)
        << c.name;
  }
}

// The tool's output for a progressive file is its sequential twin's, and within the oracle
// tests' tolerance of djpeg -dct int -nosmooth.
TEST(ProgressiveTool, DecodeMatchesTwinAndDjpeg) {
  const fs::path out = fs::temp_directory_path() / ("meshwick-progressive-tool-" + std::to_string(getpid()));
  fs::create_directories(out);
  const Twin twins[] = {
      {"p97_420_progressive_sa.jpg", "p97_420.jpg", 3},
      {"p256_420_progressive.jpg", "p256_420.jpg", 3},
      {"p97_420_cjpeg_progressive.jpg", "p97_420_cjpeg_sequential.jpg", 3},
      {"p97_grey_progressive_sa.jpg", "p97_grey.jpg", 1},
  };
  // Grey streams are written as PGM, colour ones as PPM (RGB).
  const auto decodeWithTool = [&](const char* name, bool grey, const char* options) {
    const fs::path image = out / (grey ? "decoded.pgm" : "decoded.ppm");
    const std::string output = runTool("decode " + oracle::quoted((corpusDir() / name).string()) + " " +
                                       oracle::quoted(image.string()) + options);
    EXPECT_EQ(output, "");
    return oracle::parsePnm(oracle::readFile(image));
  };
  for (const Twin& twin : twins) {
    const bool grey = twin.components == 1;
    for (const char* options : {"", " --buffer"}) {
      SCOPED_TRACE(std::string(twin.progressive) + options);
      const std::optional<oracle::Image> ours = decodeWithTool(twin.progressive, grey, options);
      const std::optional<oracle::Image> expected = decodeWithTool(twin.sequential, grey, options);
      ASSERT_TRUE(ours && expected);
      EXPECT_EQ(ours->pixels, expected->pixels);
      const std::optional<oracle::Image> djpeg =
          oracle::OracleRunner::instance().djpeg(corpusDir() / twin.progressive, 1, grey);
      ASSERT_TRUE(djpeg);
      const oracle::Difference d = oracle::compare(*ours, *djpeg, ours->channels);
      EXPECT_LE(d.maxDifference, grey ? oracle::kPlainTolerance.peak : oracle::kConvertedTolerance.peak)
          << d.describe();
      EXPECT_LE(d.meanDifference, grey ? oracle::kPlainTolerance.mean : oracle::kConvertedTolerance.mean)
          << d.describe();
    }
  }
  std::error_code ignored;
  fs::remove_all(out, ignored);
}

}  // namespace
