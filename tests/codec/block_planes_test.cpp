// blockPlanes on the read side: the quantised coefficients read into planes are the ones jpegtran
// preserves whatever the coding (progressive, restarts, optimised tables, one scan per
// component); written back through jpegWrite's planes they give the same image (lossless round
// trip, checked with our decoder and with djpeg); sample planes hold the decoded samples; a region
// fills only its MCUs' blocks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/decode/block_planes.h"
#include "codec/decode/region_decoder.h"
#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kJpegs = fs::path(MESHWICK_TEST_DATA) / "jpeg";
constexpr int16_t kUntouched = 0x7777;

using test::readBytes;
using test::TempDir;

// One plane per frame component, sized by blockPlaneSize.
struct Planes {
  JpegBlockPlanes record{};
  std::array<std::vector<int16_t>, 4> values;
  std::array<BlockPlaneSize, 4> sizes{};
  std::array<BlockPlaneSize, 4> codedBlocks{};  // blocks a one-component scan of the component carries
  int32_t count = 0;

  void allocate(const JPEG_PROPERTIES& state, int32_t mode, int16_t initial = kUntouched) {
    record.mode = mode;
    count = state.componentCount;
    for (int32_t c = 0; c < count; ++c) {
      sizes[c] = blockPlaneSize(state, c);
      values[c].assign(static_cast<size_t>(sizes[c].width) * static_cast<size_t>(sizes[c].height), initial);
      record.planes[c] = values[c].data();
      const JpegComponent& component = state.components[c];
      const int32_t maxH = count == 1 ? component.horizontalFactor : state.maxHorizontalFactor;
      const int32_t maxV = count == 1 ? component.verticalFactor : state.maxVerticalFactor;
      const int32_t width = (state.imageWidth * component.horizontalFactor + maxH - 1) / maxH;
      const int32_t height = (state.imageHeight * component.verticalFactor + maxV - 1) / maxV;
      codedBlocks[c] = {(width + 7) / 8, (height + 7) / 8};
    }
  }

  // Blocks past the image's edge that only interleaved scans carry, set to zero.
  void clearPaddingBlocks() {
    for (int32_t c = 0; c < count; ++c) {
      for (int32_t y = 0; y < sizes[c].height; ++y) {
        for (int32_t x = 0; x < sizes[c].width; ++x) {
          if (x / 8 >= codedBlocks[c].width || y / 8 >= codedBlocks[c].height)
            values[c][static_cast<size_t>(y) * sizes[c].width + x] = 0;
        }
      }
    }
  }

  // The 64 values of block (x, y) of component c, row by row.
  std::vector<int16_t> block(int32_t c, int32_t x, int32_t y) const {
    std::vector<int16_t> out;
    for (int32_t j = 0; j < 8; ++j) {
      const auto first = values[c].begin() + (static_cast<ptrdiff_t>(y) * 8 + j) * sizes[c].width + x * 8;
      out.insert(out.end(), first, first + 8);
    }
    return out;
  }
};

// A record reading one JPEG from memory; the parameters are read on construction.
class PlaneReader {
 public:
  explicit PlaneReader(const fs::path& file) : bytes_(readBytes(file)) {
    record_.useBuffer(bytes_);
    EXPECT_EQ(record_.read(JpegIoMode::BufferReadParams), JpegStatus::Ok) << file;
  }
  JPEG_CODEC_PROPERTIES* operator->() { return record_.get(); }
  JPEG_CODEC_PROPERTIES* get() { return record_.get(); }
  JpegStatus read(JpegIoMode mode) { return record_.read(mode); }

 private:
  Bytes bytes_;
  TestRecord record_;
};

// The planes of a whole read in `mode` (0 coefficients, 1 samples).
Planes readPlanes(const fs::path& file, int32_t mode, JpegIoMode ioMode = JpegIoMode::BufferReadImage,
                  int16_t initial = kUntouched) {
  PlaneReader reader(file);
  Planes planes;
  planes.allocate(reader->state, mode, initial);
  reader->state.blockPlanes = &planes.record;
  EXPECT_EQ(reader.read(ioMode), JpegStatus::Ok) << file;
  return planes;
}

void expectSamePlanes(const Planes& actual, const Planes& expected) {
  ASSERT_EQ(actual.count, expected.count);
  for (int32_t c = 0; c < expected.count; ++c) {
    ASSERT_EQ(actual.sizes[c].width, expected.sizes[c].width) << "component " << c;
    ASSERT_EQ(actual.sizes[c].height, expected.sizes[c].height) << "component " << c;
    const auto mismatch =
        std::mismatch(actual.values[c].begin(), actual.values[c].end(), expected.values[c].begin());
    if (mismatch.first == actual.values[c].end()) continue;
    const ptrdiff_t at = mismatch.first - actual.values[c].begin();
    FAIL() << "component " << c << " differs at (" << at % actual.sizes[c].width << ", "
           << at / actual.sizes[c].width << "): " << *mismatch.first << " instead of " << *mismatch.second;
  }
}

// Pixels of an ordinary whole read: grey for one component, BGR for three.
Bytes decodePixels(const Bytes& jpeg, JpegColor color, int32_t channels) {
  Bytes copy = jpeg;
  TestRecord record;
  record.useBuffer(copy);
  EXPECT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  Bytes pixels(static_cast<size_t>(record->jpegWidth) * static_cast<size_t>(record->jpegHeight) * channels);
  record->pixelData = pixels.data();
  record->pixelWidth = record->jpegWidth;
  record->pixelHeight = record->jpegHeight;
  record->pixelChannels = channels;
  record->pixelColor = color;
  EXPECT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  return pixels;
}

// --- coefficients are what jpegtran preserves ---------------------------------------------------

TEST(BlockPlanes, CoefficientsAreThoseJpegtranPreserves) {
  TempDir dir;
  const char* files[] = {"p97_grey.jpg",        "p256_grey.jpg", "p97_444.jpg",
                         "p97_422.jpg",         "p97_420.jpg",   "p256_420.jpg",
                         "p97_440.jpg",         "p97_411.jpg",   "p97_h4h2h1_sequential.jpg",
                         "t17x9_420.jpg",       "t1x1_420.jpg",  "p97_ycck.jpg",
                         "p97_420_sof1_q16.jpg"};
  const char* recodings[] = {"jpegtran -copy none -progressive", "jpegtran -copy none -restart 1",
                             "jpegtran -copy none -restart 3B -optimize"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const Planes original = readPlanes(kJpegs / name, 0);
    int index = 0;
    for (const char* recoding : recodings) {
      SCOPED_TRACE(recoding);
      const fs::path recoded = dir.run(recoding, kJpegs / name, "recoded" + std::to_string(index++) + ".jpg");
      expectSamePlanes(readPlanes(recoded, 0), original);
    }
  }
}

TEST(BlockPlanes, CorpusTwinsHoldTheSameCoefficients) {
  const std::pair<const char*, const char*> twins[] = {
      {"p97_420_noninterleaved.jpg", "p97_420.jpg"},
      {"p97_444_noninterleaved.jpg", "p97_444.jpg"},
      {"p97_420_scans_progressive.jpg", "p97_420_scans_sequential.jpg"},
      {"p97_420_cjpeg_progressive.jpg", "p97_420_cjpeg_sequential.jpg"},
      {"p256_420_progressive_sa.jpg", "p256_420.jpg"},
      {"p97_420_rst5_progressive.jpg", "p97_420_rst5.jpg"},
      {"p97_420_rst5_shuffled.jpg", "p97_420_rst5.jpg"},
      {"p97_grey_progressive_sa.jpg", "p97_grey.jpg"},
  };
  for (const auto& [file, twin] : twins) {
    SCOPED_TRACE(file);
    // A scan of one component does not carry the blocks past the image's edge that an
    // interleaved scan codes; those are left as they were.
    const bool oneComponentScans = std::string(file).find("noninterleaved") != std::string::npos;
    const Planes planes = readPlanes(kJpegs / file, 0, JpegIoMode::BufferReadImage, 0);
    Planes twinPlanes = readPlanes(kJpegs / twin, 0);
    if (oneComponentScans) twinPlanes.clearPaddingBlocks();
    expectSamePlanes(planes, twinPlanes);
  }
}

// A one-component frame is coded block by block whatever sampling factors its header gives.
TEST(BlockPlanes, OneComponentFramesCountAsOneByOne) {
  TempDir dir;
  const fs::path source = fs::path(MESHWICK_TEST_DATA) / "sources" / "photo_97x61.pgm";
  const Planes plain = readPlanes(dir.run("cjpeg -quality 85", source, "grey11.jpg"), 0);
  const Planes sampled = readPlanes(dir.run("cjpeg -quality 85 -sample 2x2", source, "grey22.jpg"), 0);
  EXPECT_EQ(sampled.sizes[0].width, 104);
  EXPECT_EQ(sampled.sizes[0].height, 64);
  expectSamePlanes(sampled, plain);
}

// Coefficients do not depend on the mode's scale.
TEST(BlockPlanes, ScaledModesReadTheSameCoefficients) {
  for (const char* name : {"p97_420.jpg", "p97_420_progressive.jpg"}) {
    SCOPED_TRACE(name);
    const Planes whole = readPlanes(kJpegs / name, 0);
    for (const JpegIoMode mode : {JpegIoMode::BufferReadHalf, JpegIoMode::BufferReadEighth}) {
      expectSamePlanes(readPlanes(kJpegs / name, 0, mode), whole);
    }
  }
}

// --- lossless round trip through jpegWrite ----------------------------------------------------------

// The 8-bit quantisation tables of a stream's DQT segments, by identifier, in zig-zag order.
std::array<std::vector<uint8_t>, 4> quantTablesOf(const Bytes& jpeg) {
  std::array<std::vector<uint8_t>, 4> tables;
  size_t i = 2;
  while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
    const size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
    if (jpeg[i + 1] == 0xDB) {
      for (size_t at = i + 4; at + 65 <= i + 2 + length; at += 65) {
        EXPECT_EQ(jpeg[at] >> 4, 0) << "8-bit tables only";
        tables[jpeg[at] & 3].assign(jpeg.begin() + static_cast<ptrdiff_t>(at) + 1,
                                    jpeg.begin() + static_cast<ptrdiff_t>(at) + 65);
      }
    }
    i += 2 + length;
  }
  return tables;
}

// Writes the coefficient planes of `original` with its own quantisation tables (quality 50 keeps
// supplied tables as they are).
Bytes writeFromPlanes(PlaneReader& original, Planes& planes, const Bytes& originalBytes) {
  auto tables = quantTablesOf(originalBytes);
  TestRecord writer;
  writer->jpegWidth = original->jpegWidth;
  writer->jpegHeight = original->jpegHeight;
  writer->jpegChannels = original->jpegChannels;
  const bool grey = original->jpegChannels == 1;
  writer->jpegColor = grey ? JpegColor::Gray : JpegColor::YCbCr;
  writer->jpegSubsampling = original->jpegSubsampling;
  writer->pixelColor = grey ? JpegColor::Gray : JpegColor::Bgr;
  writer->pixelChannels = grey ? 1 : 3;
  writer->quality = 50;
  JPEG_PROPERTIES& s = writer->state;
  s.quantTablesSupplied = 1;
  s.quantTableCount = 0;
  for (int32_t id = 0; id < 4; ++id) {
    if (tables[id].empty()) continue;
    s.quantSpecs[id] = {tables[id].data(), id};
    s.quantTableCount = id + 1;
  }
  for (int32_t c = 0; c < original->jpegChannels; ++c) {
    s.components[c].quantSelector = original->state.components[c].quantSelector;
  }
  s.blockPlanes = &planes.record;
  Bytes out(originalBytes.size() * 4 + 65536);
  writer->jpegBuffer = out.data();
  writer->jpegBufferSize = static_cast<int32_t>(out.size());
  EXPECT_EQ(jpegWrite(writer.get(), JpegIoMode::BufferWriteImage), JpegStatus::Ok);
  out.resize(static_cast<size_t>(std::max(writer->jpegBufferSize, 0)));
  return out;
}

Bytes djpegPixels(const TempDir& dir, const Bytes& jpeg, const std::string& name) {
  const fs::path in = dir.file(name + ".jpg");
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  return readBytes(dir.run("djpeg -dct int -pnm", in, name + ".pnm"));
}

TEST(BlockPlanes, CoefficientsWrittenBackGiveTheSameImage) {
  TempDir dir;
  const char* files[] = {"p97_grey.jpg",
                         "p256_grey.jpg",
                         "p97_444.jpg",
                         "p97_422.jpg",
                         "p97_420.jpg",
                         "p256_420_q100.jpg",
                         "t17x9_420.jpg",
                         "t1x1_420.jpg",
                         "p97_420_rst5.jpg",
                         "p97_420_progressive.jpg",
                         "p97_420_noninterleaved.jpg",
                         "p256_422_optimized.jpg"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const Bytes originalBytes = readBytes(kJpegs / name);
    PlaneReader reader(kJpegs / name);
    Planes planes;
    planes.allocate(reader->state, 0, 0);
    reader->state.blockPlanes = &planes.record;
    ASSERT_EQ(reader.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);

    const Bytes rewritten = writeFromPlanes(reader, planes, originalBytes);
    ASSERT_FALSE(rewritten.empty());
    // Our decoder converts an image stored component by component in place, which may round G
    // one level apart from the interleaved kernels: compare that one through its luminance.
    const bool grey =
        reader->jpegChannels == 1 || std::string(name).find("noninterleaved") != std::string::npos;
    const JpegColor color = grey ? JpegColor::Gray : JpegColor::Bgr;
    const int32_t channels = grey ? 1 : 3;
    EXPECT_EQ(decodePixels(rewritten, color, channels), decodePixels(originalBytes, color, channels));
    EXPECT_EQ(djpegPixels(dir, rewritten, "rewritten"), djpegPixels(dir, originalBytes, "original"));

    const fs::path written = dir.file("written.jpg");
    std::ofstream(written, std::ios::binary)
        .write(reinterpret_cast<const char*>(rewritten.data()),
               static_cast<std::streamsize>(rewritten.size()));
    expectSamePlanes(readPlanes(written, 0), planes);
  }
}

// --- samples -------------------------------------------------------------------------------------

// The first component's sample plane, cut to the image, is what a grey read of the image gives,
// whatever the mode's scale.
TEST(BlockPlanes, SamplePlanesHoldTheDecodedSamples) {
  const char* files[] = {"p97_grey.jpg", "p256_grey.jpg",           "p97_444.jpg",      "p97_422.jpg",
                         "p97_420.jpg",  "p97_420_progressive.jpg", "p97_420_rst5.jpg", "t17x9_420.jpg"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const Bytes bytes = readBytes(kJpegs / name);
    const Bytes grey = decodePixels(bytes, JpegColor::Gray, 1);
    for (const JpegIoMode mode : {JpegIoMode::BufferReadImage, JpegIoMode::BufferReadQuarter}) {
      const Planes planes = readPlanes(kJpegs / name, 1, mode);
      PlaneReader probe(kJpegs / name);
      const int32_t width = probe->jpegWidth;
      const int32_t height = probe->jpegHeight;
      Bytes cut;
      for (int32_t y = 0; y < height; ++y) {
        const auto row = planes.values[0].begin() + static_cast<ptrdiff_t>(y) * planes.sizes[0].width;
        std::transform(row, row + width, std::back_inserter(cut),
                       [](int16_t v) { return static_cast<uint8_t>(v); });
      }
      EXPECT_EQ(cut, grey);
      // Every value of every plane is a sample.
      for (int32_t c = 0; c < planes.count; ++c) {
        EXPECT_TRUE(std::all_of(planes.values[c].begin(), planes.values[c].end(),
                                [](int16_t v) { return v >= 0 && v <= 255; }))
            << "component " << c;
      }
    }
  }
}

// --- regions and missing planes --------------------------------------------------------------------

// With a region only the blocks of the MCUs covering it are written, with the whole read's values.
TEST(BlockPlanes, ARegionFillsOnlyItsMcusBlocks) {
  struct Case {
    const char* file;
    int32_t left, top, right, bottom;  // pixels
  };
  const Case cases[] = {{"p256_420.jpg", 40, 50, 90, 70},
                        {"p97_420_rst5.jpg", 17, 30, 18, 61},
                        {"p97_420_progressive.jpg", 0, 0, 20, 9},
                        {"p97_444.jpg", 60, 8, 97, 9},
                        {"p97_420_noninterleaved.jpg", 33, 17, 50, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Planes whole = readPlanes(kJpegs / c.file, 0);
    PlaneReader reader(kJpegs / c.file);
    Planes planes;
    planes.allocate(reader->state, 0);
    reader->state.blockPlanes = &planes.record;
    ASSERT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, c.left, c.top, c.right, c.bottom),
              JpegStatus::Ok);
    ASSERT_EQ(reader.read(JpegIoMode::BufferReadImage), JpegStatus::RoiOk);
    // One scan per component: each scan's MCU is one block of its component.
    const bool singleBlocks = std::string(c.file).find("noninterleaved") != std::string::npos;
    const int32_t maxH = reader->state.maxHorizontalFactor;
    const int32_t maxV = reader->state.maxVerticalFactor;
    for (int32_t k = 0; k < planes.count; ++k) {
      const JpegComponent& component = reader->state.components[k];
      const int32_t h = component.horizontalFactor;
      const int32_t v = component.verticalFactor;
      // Pixels one MCU covers, and the MCU that block (x, y) belongs to.
      const int32_t spanX = singleBlocks ? 8 * maxH / h : 8 * maxH;
      const int32_t spanY = singleBlocks ? 8 * maxV / v : 8 * maxV;
      for (int32_t y = 0; y < planes.sizes[k].height / 8; ++y) {
        for (int32_t x = 0; x < planes.sizes[k].width / 8; ++x) {
          const int32_t column = singleBlocks ? x : x / h;
          const int32_t row = singleBlocks ? y : y / v;
          const bool inRange = column >= c.left / spanX && column * spanX < c.right && row >= c.top / spanY &&
                               row * spanY < c.bottom;
          SCOPED_TRACE("component " + std::to_string(k) + " block " + std::to_string(x) + "," +
                       std::to_string(y));
          if (inRange) {
            EXPECT_EQ(planes.block(k, x, y), whole.block(k, x, y));
          } else {
            EXPECT_EQ(planes.block(k, x, y), std::vector<int16_t>(64, kUntouched));
          }
        }
      }
    }
  }
}

// A region read leaves its scan in progress; planes of the whole image read next on the same
// record start again from the scan's first MCU.
TEST(BlockPlanes, WholePlanesAfterARegionReadOnTheSameRecord) {
  for (const char* name : {"p256_420.jpg", "p97_420_rst5.jpg"}) {
    SCOPED_TRACE(name);
    const Planes whole = readPlanes(kJpegs / name, 0);
    PlaneReader reader(kJpegs / name);
    Bytes pixels(40 * 20 * 3);
    reader->pixelData = pixels.data();
    reader->pixelWidth = 40;
    reader->pixelHeight = 20;
    ASSERT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, 30, 30, 70, 50), JpegStatus::Ok);
    ASSERT_EQ(reader.read(JpegIoMode::BufferReadImage), JpegStatus::RoiOk);
    clearRegionRead(reader.get());
    Planes planes;
    planes.allocate(reader->state, 0);
    reader->state.blockPlanes = &planes.record;
    ASSERT_EQ(reader.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
    expectSamePlanes(planes, whole);
  }
}

TEST(BlockPlanes, ComponentsWithoutAPlaneAreLeftOut) {
  for (const char* name : {"p97_420.jpg", "p97_420_progressive.jpg", "p97_420_noninterleaved.jpg"}) {
    SCOPED_TRACE(name);
    const Planes whole = readPlanes(kJpegs / name, 0);
    PlaneReader reader(kJpegs / name);
    Planes planes;
    planes.allocate(reader->state, 0);
    planes.record.planes[1] = nullptr;
    reader->state.blockPlanes = &planes.record;
    ASSERT_EQ(reader.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
    EXPECT_EQ(planes.values[0], whole.values[0]);
    EXPECT_EQ(planes.values[2], whole.values[2]);
    EXPECT_TRUE(std::all_of(planes.values[1].begin(), planes.values[1].end(),
                            [](int16_t v) { return v == kUntouched; }));
  }
}

// Planes of a four-component frame; a one-component frame counts as 1x1 whatever its header says.
// Planes are sized for the frame the parameters read reported. A stream whose first image breaks
// off into a second, larger one must not fill them with the second frame's blocks.
TEST(BlockPlanes, AnotherFrameInTheStreamIsRefused) {
  for (const char* first : {"p97_grey.jpg", "p97_grey_progressive.jpg"}) {
    SCOPED_TRACE(first);
    Bytes stream = readBytes(kJpegs / first);
    stream.resize(stream.size() - 2);  // no EOI: the scan runs into the next SOI
    const Bytes second = readBytes(kJpegs / "p256_420.jpg");
    stream.insert(stream.end(), second.begin(), second.end());
    TempDir dir;
    const fs::path path = dir.file("two_frames.jpg");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    PlaneReader reader(path);
    ASSERT_EQ(reader->jpegWidth, 97);
    Planes planes;
    planes.allocate(reader->state, 0);
    reader->state.blockPlanes = &planes.record;
    EXPECT_EQ(reader.read(JpegIoMode::BufferReadImage), JpegStatus::MultipleFrames);
  }
}

TEST(BlockPlanes, PlaneSizes) {
  struct Case {
    const char* file;
    std::array<BlockPlaneSize, 4> sizes;
  };
  const Case cases[] = {
      {"p97_420.jpg", {{{112, 64}, {56, 32}, {56, 32}, {0, 0}}}},
      {"p97_422.jpg", {{{112, 64}, {56, 64}, {56, 64}, {0, 0}}}},
      {"p97_411.jpg", {{{128, 64}, {32, 64}, {32, 64}, {0, 0}}}},
      {"p97_ycck_h2v2.jpg", {{{112, 64}, {56, 32}, {56, 32}, {112, 64}}}},
      {"p97_grey.jpg", {{{104, 64}, {0, 0}, {0, 0}, {0, 0}}}},
      {"t1x1_420.jpg", {{{16, 16}, {8, 8}, {8, 8}, {0, 0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    PlaneReader reader(kJpegs / c.file);
    for (int32_t k = 0; k < 4; ++k) {
      const BlockPlaneSize size = blockPlaneSize(reader->state, k);
      EXPECT_EQ(size.width, c.sizes[k].width) << "component " << k;
      EXPECT_EQ(size.height, c.sizes[k].height) << "component " << k;
    }
  }
}

}  // namespace
