// upsamplingMode 1: the triangle filter for 2:1 chroma, checked against its formulas on
// hand-made streams, against djpeg's smoothing upsampler on real files, and for the layouts and
// scales it leaves alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "codec/jpeg.h"
#include "codec_test_support.h"
#include "jpeg_stream_builder.h"

namespace {

namespace fs = std::filesystem;
using stream_builder::Bytes;

// --- hand-made streams --------------------------------------------------------------------------

// Custom tables: DC category s has the 4-bit code s; AC symbols EOB, (0,1), (0,2) have the 2-bit
// codes 00, 01, 10. The DC code 12 spells category 16, which no block may have: a decoding error.
constexpr uint8_t kAcSymbols[] = {0x00, 0x01, 0x02};
constexpr uint32_t kBadDcCode = 12;

Bytes customTables() {
  using namespace stream_builder;
  Bytes out;
  Bytes dcCounts(16, 0), acCounts(16, 0);
  dcCounts[3] = 13;
  acCounts[1] = 3;
  append(out, dht(0, 0, dcCounts, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16}));
  append(out, dht(1, 0, acCounts, Bytes(std::begin(kAcSymbols), std::end(kAcSymbols))));
  return out;
}

int category(int value) {
  int magnitude = std::abs(value), bits = 0;
  while (magnitude != 0) {
    ++bits;
    magnitude >>= 1;
  }
  return bits;
}

void putValue(stream_builder::BitWriter& bits, int value, int size) {
  const int raw = value > 0 ? value : value + (1 << size) - 1;
  bits.put(static_cast<uint32_t>(raw), size);
}

// One block: DC difference, then AC values (each within +-3) at zig-zag positions 1, 2, ...
struct BlockCode {
  int dcDifference;
  std::vector<int> ac;
};

void putBlock(stream_builder::BitWriter& bits, const BlockCode& block) {
  const int s = category(block.dcDifference);
  bits.put(static_cast<uint32_t>(s), 4);
  if (s != 0) putValue(bits, block.dcDifference, s);
  for (int value : block.ac) {
    const int size = category(value);
    bits.put(static_cast<uint32_t>(size), 2);  // symbol (0, size) has code `size`
    putValue(bits, value, size);
  }
  bits.put(0, 2);  // EOB
}

// A three-component sequential stream in RGB (Adobe transform 0, so nothing is converted and the
// pixels show the upsampled samples), component 0 with factors h x v, the others 1x1. Quantiser 8
// everywhere: a DC-only block of level q decodes to the flat sample q + 128.
// `blockOf(component, blockColumn, blockRow)` gives each block's wanted DC level and AC values.
// From MCU number `failingMcu` on (when not negative), the entropy data holds a bad DC code.
template <typename BlockOf>
Bytes makeStream(int width, int height, int h, int v, BlockOf blockOf, int failingMcu = -1) {
  using namespace stream_builder;
  Bytes out = marker(0xD8);
  append(out, adobe(0));
  append(out, dqt8(0, 8));
  append(out, sof(0xC0, width, height, {{1, uint8_t(h), uint8_t(v), 0}, {2, 1, 1, 0}, {3, 1, 1, 0}}));
  append(out, customTables());
  append(out, sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}));
  BitWriter bits;
  const int columns = (width + 8 * h - 1) / (8 * h);
  const int rows = (height + 8 * v - 1) / (8 * v);
  int predictor[3] = {0, 0, 0};
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      if (row * columns + column == failingMcu) {
        bits.put(kBadDcCode, 4);
        row = rows;
        break;
      }
      for (int c = 0; c < 3; ++c) {
        const int across = c == 0 ? h : 1, down = c == 0 ? v : 1;
        for (int by = 0; by < down; ++by) {
          for (int bx = 0; bx < across; ++bx) {
            const auto [level, ac] = blockOf(c, column * across + bx, row * down + by);
            putBlock(bits, {level - predictor[c], ac});
            predictor[c] = level;
          }
        }
      }
    }
  }
  append(out, bits.finish());
  append(out, marker(0xD9));
  return out;
}

struct Picture {
  JpegStatus status = JpegStatus::Ok;
  int width = 0;
  int height = 0;
  int channels = 3;
  std::vector<uint8_t> pixels;
  int at(int x, int y, int channel) const { return pixels[(size_t(y) * width + x) * channels + channel]; }
};

struct ReadSettings {
  int upsamplingMode = 0;
  JpegColor pixelColor = JpegColor::Rgb;
  int channels = 3;
  int scale = 1;
  bool interruptEveryMcu = false;
};

JpegIoMode bufferImageMode(int scale) {
  switch (scale) {
    case 2:
      return JpegIoMode::BufferReadHalf;
    case 4:
      return JpegIoMode::BufferReadQuarter;
    case 8:
      return JpegIoMode::BufferReadEighth;
    default:
      return JpegIoMode::BufferReadImage;
  }
}

Picture decode(Bytes bytes, const ReadSettings& settings) {
  Picture picture;
  TestRecord record;
  record.useBuffer(bytes);
  picture.status = record.read(JpegIoMode::BufferReadParams);
  if (picture.status != JpegStatus::Ok) return picture;
  picture.width = (record->jpegWidth + settings.scale - 1) / settings.scale;
  picture.height = (record->jpegHeight + settings.scale - 1) / settings.scale;
  picture.channels = settings.channels;
  picture.pixels.assign(size_t(picture.width) * picture.height * settings.channels, 0);
  record->pixelData = picture.pixels.data();
  record->pixelWidth = picture.width;
  record->pixelHeight = picture.height;
  record->pixelPadBytes = 0;
  record->pixelChannels = settings.channels;
  record->pixelColor = settings.pixelColor;
  record->state.upsamplingMode = settings.upsamplingMode;
  for (int call = 0; call < 100000; ++call) {
    record->state.interruptRequest = settings.interruptEveryMcu ? 1 : 0;
    picture.status = record.read(bufferImageMode(settings.scale));
    if (picture.status != JpegStatus::InterruptOk) break;
  }
  return picture;
}

// The component's samples, read back from a replicating decode (sample (k, j) serves pixel
// (ratioH * k, ratioV * j)).
struct SamplePlane {
  int width = 0;
  int height = 0;
  std::vector<int> values;
  int at(int k, int j) const {
    return values[size_t(std::clamp(j, 0, height - 1)) * width + std::clamp(k, 0, width - 1)];
  }
};

SamplePlane samplesOf(const Picture& replicated, int channel, int ratioH, int ratioV) {
  SamplePlane plane;
  plane.width = (replicated.width + ratioH - 1) / ratioH;
  plane.height = (replicated.height + ratioV - 1) / ratioV;
  for (int j = 0; j < plane.height; ++j) {
    for (int k = 0; k < plane.width; ++k)
      plane.values.push_back(replicated.at(ratioH * k, ratioV * j, channel));
  }
  return plane;
}

// The filter's definition, nearest sample repeated at the border.
int filteredH2V1(const SamplePlane& s, int x, int y) {
  const int k = x / 2;
  return x % 2 == 0 ? (3 * s.at(k, y) + s.at(k - 1, y) + 1) >> 2 : (3 * s.at(k, y) + s.at(k + 1, y) + 2) >> 2;
}

int filteredH2V2(const SamplePlane& s, int x, int y) {
  const int k = x / 2, j = y / 2;
  const int side = x % 2 == 0 ? k - 1 : k + 1;
  const int other = y % 2 == 0 ? j - 1 : j + 1;
  const int sum = 9 * s.at(k, j) + 3 * s.at(side, j) + 3 * s.at(k, other) + s.at(side, other);
  return (sum + (x % 2 == 0 ? 8 : 7)) >> 4;
}

// --- the filter on hand-made patterns --------------------------------------------------------------

// Flat chroma blocks of the given levels (block column-major per row), luma a ramp of blocks.
Bytes flatBlocks(int width, int height, int h, int v, std::vector<std::vector<int>> chromaLevels) {
  return makeStream(width, height, h, v, [&](int c, int bx, int by) {
    if (c == 0) return std::pair<int, std::vector<int>>{(bx + 3 * by) * 4 - 20, {}};
    return std::pair<int, std::vector<int>>{chromaLevels[by][bx] - 128 + (c == 2 ? 5 : 0), {}};
  });
}

TEST(FancyUpsampling, H2V1WeightsAcrossBlockBordersAndRepeatedAtTheImageEdge) {
  // Chroma row: eight samples of 100, then eight of 20 (two MCUs of 16x8).
  const Picture out = decode(flatBlocks(32, 8, 2, 1, {{100, 20}}), {.upsamplingMode = 1});
  ASSERT_EQ(out.status, JpegStatus::Ok);
  struct Case {
    int x;
    int expected;
  };
  const Case cases[] = {
      {0, 100},                       // (3*100 + 100 + 1) >> 2: left edge repeats s[0]
      {14, 100},                      // inside the flat run
      {15, (3 * 100 + 20 + 2) >> 2},  // 80: right output of s[7], neighbour s[8] in the next MCU
      {16, (3 * 20 + 100 + 1) >> 2},  // 40: left output of s[8], neighbour s[7] in the previous MCU
      {17, 20},                       //
      {31, (3 * 20 + 20 + 2) >> 2},   // 20: right edge repeats s[15]
  };
  for (const Case& c : cases) {
    for (int y = 0; y < 8; ++y) {
      EXPECT_EQ(out.at(c.x, y, 1), c.expected) << "x " << c.x << " y " << y;
      EXPECT_EQ(out.at(c.x, y, 2), std::clamp(c.expected + 5, 0, 255)) << "x " << c.x << " y " << y;
    }
  }
}

TEST(FancyUpsampling, H2V2WeightsAtAFourBlockCorner) {
  // 2x2 MCUs of 16x16; chroma blocks 100 | 20 over 60 | 200.
  const Picture out = decode(flatBlocks(32, 32, 2, 2, {{100, 20}, {60, 200}}), {.upsamplingMode = 1});
  ASSERT_EQ(out.status, JpegStatus::Ok);
  struct Case {
    int x, y, expected;
  };
  const Case cases[] = {
      {15, 15, (9 * 100 + 3 * 20 + 3 * 60 + 200 + 7) >> 4},  // 84
      {16, 15, (9 * 20 + 3 * 100 + 3 * 200 + 60 + 8) >> 4},  // 71
      {15, 16, (9 * 60 + 3 * 200 + 3 * 100 + 20 + 7) >> 4},  // 91
      {16, 16, (9 * 200 + 3 * 60 + 3 * 20 + 100 + 8) >> 4},  // 134
      {14, 15, (9 * 100 + 3 * 100 + 3 * 60 + 60 + 8) >> 4},  // 90
      {0, 0, 100},                                           // corner: every neighbour repeated
      {31, 0, (9 * 20 + 3 * 20 + 3 * 20 + 20 + 7) >> 4},     // 20, the +7 rounding of a flat area
      {31, 31, 200},
      {0, 16, (9 * 60 + 3 * 60 + 3 * 100 + 100 + 8) >> 4},  // 85: left edge repeated, upper block
  };
  for (const Case& c : cases) EXPECT_EQ(out.at(c.x, c.y, 1), c.expected) << c.x << "," << c.y;
}

// Random textured blocks: every pixel against the formulas applied to the samples a replicating
// decode of the same stream shows. Sizes that are not MCU multiples (and smaller than one MCU)
// exercise the border repetition and the flush of the lagging MCUs. At 1/2, 1/4 and 1/8 scale a
// 4:2:2 frame's chroma blocks of 4, 2 and 1 samples are filtered the same way.
struct PatternCase {
  int width, height, h, v;
  int scale = 1;
};

class FancyUpsamplingPattern : public testing::TestWithParam<PatternCase> {};

TEST_P(FancyUpsamplingPattern, EveryPixelFollowsTheFilter) {
  const PatternCase p = GetParam();
  std::mt19937 random(static_cast<uint32_t>(p.width * 131 + p.height * 7 + p.v));
  std::uniform_int_distribution<int> level(-90, 90), acCount(0, 5), acValue(-3, 3);
  const Bytes stream = makeStream(p.width, p.height, p.h, p.v, [&](int, int, int) {
    std::vector<int> ac(static_cast<size_t>(acCount(random)));
    for (int& value : ac) {
      do value = acValue(random);
      while (value == 0);
    }
    return std::pair<int, std::vector<int>>{level(random), ac};
  });
  const Picture replicated = decode(stream, {.upsamplingMode = 0, .scale = p.scale});
  const Picture fancy = decode(stream, {.upsamplingMode = 1, .scale = p.scale});
  ASSERT_EQ(replicated.status, JpegStatus::Ok);
  ASSERT_EQ(fancy.status, JpegStatus::Ok);
  for (int channel = 1; channel < 3; ++channel) {
    const SamplePlane s = samplesOf(replicated, channel, p.h, p.v);
    int wrong = 0;
    for (int y = 0; y < fancy.height; ++y) {
      for (int x = 0; x < fancy.width; ++x) {
        const int expected = p.v == 2 ? filteredH2V2(s, x, y) : filteredH2V1(s, x, y);
        if (fancy.at(x, y, channel) != expected && ++wrong <= 5) {
          ADD_FAILURE() << "channel " << channel << " pixel " << x << "," << y << ": "
                        << fancy.at(x, y, channel) << " expected " << expected;
        }
      }
    }
    EXPECT_EQ(wrong, 0) << "channel " << channel;
  }
  for (int y = 0; y < fancy.height; ++y) {
    for (int x = 0; x < fancy.width; ++x)
      ASSERT_EQ(fancy.at(x, y, 0), replicated.at(x, y, 0)) << x << "," << y;
  }
  // An interrupt after every MCU resumes to the same pixels.
  const Picture interrupted =
      decode(stream, {.upsamplingMode = 1, .scale = p.scale, .interruptEveryMcu = true});
  ASSERT_EQ(interrupted.status, JpegStatus::Ok);
  EXPECT_EQ(interrupted.pixels, fancy.pixels);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FancyUpsamplingPattern,
                         testing::Values(PatternCase{48, 32, 2, 2}, PatternCase{37, 21, 2, 2},
                                         PatternCase{5, 3, 2, 2}, PatternCase{16, 16, 2, 2},
                                         PatternCase{33, 40, 2, 2}, PatternCase{48, 16, 2, 1},
                                         PatternCase{37, 21, 2, 1}, PatternCase{3, 9, 2, 1},
                                         PatternCase{17, 8, 2, 1}, PatternCase{48, 16, 2, 1, 2},
                                         PatternCase{37, 21, 2, 1, 2}, PatternCase{80, 24, 2, 1, 4},
                                         PatternCase{37, 21, 2, 1, 4}, PatternCase{100, 16, 2, 1, 8},
                                         PatternCase{37, 21, 2, 1, 8}),
                         [](const testing::TestParamInfo<PatternCase>& info) {
                           const PatternCase& p = info.param;
                           return std::string(p.v == 2 ? "H2V2_" : "H2V1_") + std::to_string(p.width) + "x" +
                                  std::to_string(p.height) +
                                  (p.scale == 1 ? "" : "_scale" + std::to_string(p.scale));
                         });

// --- real files -----------------------------------------------------------------------------------

std::vector<uint8_t> readFile(const fs::path& path) {
  std::vector<uint8_t> bytes;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
  }
  return bytes;
}

fs::path dataFile(const char* name) {
  return fs::path(MESHWICK_TEST_DATA) / "jpeg" / name;
}

Picture decodeFile(const char* name, const ReadSettings& settings) {
  return decode(readFile(dataFile(name)), settings);
}

std::optional<Picture> readPpm(const fs::path& path) {
  const std::vector<uint8_t> bytes = readFile(path);
  std::optional<Picture> picture;
  int width = 0, height = 0, maxValue = 0, consumed = 0;
  const std::string header(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
  if (std::sscanf(header.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &consumed) != 3 ||
      maxValue != 255) {
    return picture;
  }
  const size_t size = size_t(width) * height * 3;
  if (bytes.size() < size_t(consumed) + 1 + size) return picture;
  picture = Picture{JpegStatus::Ok, width, height, 3,
                    std::vector<uint8_t>(bytes.begin() + consumed + 1, bytes.begin() + consumed + 1 + size)};
  return picture;
}

// djpeg's default smoothing upsampler with the accurate integer transform.
std::optional<Picture> djpegSmooth(const char* name) {
  const fs::path out = fs::temp_directory_path() / ("meshwick-fancy-" + std::to_string(getpid()) + ".ppm");
  const std::string command =
      "djpeg -dct int -ppm -outfile '" + out.string() + "' '" + dataFile(name).string() + "' 2>/dev/null";
  std::optional<Picture> picture;
  if (std::system(command.c_str()) == 0) picture = readPpm(out);
  fs::remove(out);
  return picture;
}

struct OracleCase {
  const char* file;
};

class FancyUpsamplingOracle : public testing::TestWithParam<OracleCase> {};

// djpeg's smoothing upsampler uses the same triangle weights but its own rounding and order of
// operations; on top come the transform and YCbCr arithmetic, which already differ by up to 3
// levels (mean 0.39) on p256_444, where nothing is upsampled. Measured with the default transform
// on these files: max 3, mean 0.085 .. 0.112 per byte (replication instead: max 45 .. 105, mean
// 1.0 .. 3.2). The bounds sit just above that, so a filter that fell back to replication or took a
// wrong neighbour fails.
TEST_P(FancyUpsamplingOracle, CloseToDjpegSmoothing) {
  const char* file = GetParam().file;
  const std::optional<Picture> theirs = djpegSmooth(file);
  if (!theirs) GTEST_SKIP() << "djpeg not available";
  const Picture ours = decodeFile(file, {.upsamplingMode = 1});
  ASSERT_EQ(ours.status, JpegStatus::Ok);
  ASSERT_EQ(ours.width, theirs->width);
  ASSERT_EQ(ours.height, theirs->height);
  int maxDifference = 0;
  double sum = 0;
  for (size_t i = 0; i < ours.pixels.size(); ++i) {
    const int d = std::abs(int(ours.pixels[i]) - int(theirs->pixels[i]));
    maxDifference = std::max(maxDifference, d);
    sum += d;
  }
  const double mean = sum / double(ours.pixels.size());
  EXPECT_LE(maxDifference, 3) << file;
  EXPECT_LE(mean, 0.15) << file;
}

INSTANTIATE_TEST_SUITE_P(Files, FancyUpsamplingOracle,
                         testing::Values(OracleCase{"p256_420.jpg"}, OracleCase{"p97_420.jpg"},
                                         OracleCase{"p256_422_optimized.jpg"}, OracleCase{"p97_422.jpg"},
                                         OracleCase{"p97_420_progressive.jpg"},
                                         OracleCase{"p97_422_progressive.jpg"},
                                         OracleCase{"p97_420_noninterleaved.jpg"},
                                         OracleCase{"p97_420_rst5.jpg"}),
                         [](const testing::TestParamInfo<OracleCase>& info) {
                           std::string name = info.param.file;
                           name = name.substr(0, name.find('.'));
                           return name;
                         });

// --- what the mode leaves alone -------------------------------------------------------------------

TEST(FancyUpsampling, FullResolutionAndGreyImagesAreUnchanged) {
  struct Case {
    const char* file;
    JpegColor pixel;
    int channels;
  };
  const Case cases[] = {{"p256_444.jpg", JpegColor::Rgb, 3},
                        {"p97_444.jpg", JpegColor::Bgr, 3},
                        {"p97_444_progressive.jpg", JpegColor::Rgb, 3},
                        {"p256_grey.jpg", JpegColor::Gray, 1},
                        {"p256_grey.jpg", JpegColor::Bgr, 3}};
  for (const Case& c : cases) {
    const Picture replicated =
        decodeFile(c.file, {.upsamplingMode = 0, .pixelColor = c.pixel, .channels = c.channels});
    const Picture fancy =
        decodeFile(c.file, {.upsamplingMode = 1, .pixelColor = c.pixel, .channels = c.channels});
    ASSERT_EQ(replicated.status, JpegStatus::Ok) << c.file;
    ASSERT_EQ(fancy.status, JpegStatus::Ok) << c.file;
    EXPECT_EQ(fancy.pixels, replicated.pixels) << c.file;
  }
}

// At reduced scales a 4:2:0 frame's chroma comes from the larger transform at the MCU's size:
// nothing is expanded, so the filter leaves the pixels as replication does.
TEST(FancyUpsampling, SquareSampledReducedScalesNeedNoExpansion) {
  for (int scale : {2, 4, 8}) {
    const Picture replicated = decodeFile("p97_420.jpg", {.upsamplingMode = 0, .scale = scale});
    const Picture fancy = decodeFile("p97_420.jpg", {.upsamplingMode = 1, .scale = scale});
    ASSERT_EQ(fancy.status, JpegStatus::Ok) << scale;
    EXPECT_EQ(fancy.pixels, replicated.pixels) << scale;
  }
}

// A 4:2:2 file keeps chroma at half the width at every scale: its reduced decodes filter too, on
// the sequential, progressive and restart-interval paths alike.
TEST(FancyUpsampling, ReducedScalesOf422FilesFilter) {
  for (const char* name : {"p97_422.jpg", "p97_422_progressive.jpg", "p97_422_rst3.jpg"}) {
    for (int scale : {2, 4, 8}) {
      SCOPED_TRACE(std::string(name) + " scale " + std::to_string(scale));
      const Picture replicated = decodeFile(name, {.upsamplingMode = 0, .scale = scale});
      const Picture fancy = decodeFile(name, {.upsamplingMode = 1, .scale = scale});
      ASSERT_EQ(fancy.status, JpegStatus::Ok);
      ASSERT_EQ(fancy.pixels.size(), replicated.pixels.size());
      EXPECT_NE(fancy.pixels, replicated.pixels);
    }
  }
}

// While the filter's output lags the decoding, an interrupt must report only what is stored: every
// pixel of the rows above the reported MCU row, and of that row up to its right edge, is already
// final. A progressive image reports the progress of its scans and stores during its last scan
// only, so only that scan's interrupts show pixels: one per MCU row but the last, less the first
// row, which the 4:2:0 filter holds back.
TEST(FancyUpsampling, InterruptProgressCoversOnlyStoredPixels) {
  struct Snapshot {
    int right;
    int bottom;
    std::vector<uint8_t> pixels;
  };
  for (const char* name :
       {"p97_420.jpg", "p97_422.jpg", "p97_420_progressive.jpg", "p97_420_scans_progressive.jpg"}) {
    SCOPED_TRACE(name);
    const Picture whole = decodeFile(name, {.upsamplingMode = 1});
    ASSERT_EQ(whole.status, JpegStatus::Ok);
    Bytes bytes = readFile(dataFile(name));
    TestRecord record;
    record.useBuffer(bytes);
    ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
    const int mcuHeight = 8 * record->state.maxVerticalFactor;
    const int mcuRows = (whole.height + mcuHeight - 1) / mcuHeight;
    const bool progressive = record->state.frameMarker == 0xC2;
    std::vector<uint8_t> pixels(whole.pixels.size(), 0);
    record->pixelData = pixels.data();
    record->pixelWidth = whole.width;
    record->pixelHeight = whole.height;
    record->pixelChannels = 3;
    record->pixelColor = JpegColor::Rgb;
    record->state.upsamplingMode = 1;
    std::vector<Snapshot> snapshots;
    JpegStatus status = JpegStatus::InterruptOk;
    for (int call = 0; call < 100000 && status == JpegStatus::InterruptOk; ++call) {
      record->state.interruptRequest = 1;
      status = record.read(JpegIoMode::BufferReadImage);
      if (status == JpegStatus::InterruptOk)
        snapshots.push_back({record->state.regionOfInterest[2], record->state.regionOfInterest[3], pixels});
    }
    ASSERT_EQ(status, JpegStatus::Ok);
    EXPECT_EQ(pixels, whole.pixels);
    const size_t storing = progressive ? size_t(mcuRows - 2) : snapshots.size();
    ASSERT_GE(snapshots.size(), storing);
    ASSERT_GT(storing, 0u);
    for (size_t i = snapshots.size() - storing; i < snapshots.size(); ++i) {
      const Snapshot& shot = snapshots[i];
      const int rowTop = std::max(0, ((shot.bottom - 1) / mcuHeight) * mcuHeight);
      for (int y = 0; y < shot.bottom; ++y) {
        const int end = y < rowTop ? whole.width : shot.right;
        const size_t first = size_t(y) * whole.width * 3;
        ASSERT_TRUE(std::equal(shot.pixels.begin() + first, shot.pixels.begin() + first + size_t(end) * 3,
                               whole.pixels.begin() + first))
            << "interrupt " << i << ": row " << y << " not stored yet; reported right " << shot.right
            << ", bottom " << shot.bottom;
      }
    }
  }
}

// The converting store writes whole runs of an MCU row per kernel call; an interrupt after every
// MCU makes it store about one MCU at a time, and an odd width (p97: 97 pixels) leaves a border
// run. Both give the same bytes for every pixel layout the row kernels write, at every scale.
TEST(FancyUpsampling, RowRunsGiveTheBytesOfMcuByMcuStores) {
  struct Layout {
    JpegColor pixel;
    int channels;
  };
  constexpr Layout kLayouts[] = {{JpegColor::Rgb, 3}, {JpegColor::Bgr, 3}, {JpegColor::Cmyk, 4}};
  // A stream that ends early stops the walk with MCUs held back: they are stored all the same.
  const char* files[] = {"p97_420.jpg",      "p97_422.jpg",          "p256_420.jpg", "p256_422_optimized.jpg",
                         "p97_422_rst3.jpg", "p97_420_truncated.jpg"};
  for (const char* name : files) {
    for (const Layout& layout : kLayouts) {
      for (const int scale : {1, 2, 4, 8}) {
        SCOPED_TRACE(std::string(name) + ", " + std::to_string(layout.channels) + "-byte pixel " +
                     std::to_string(int(layout.pixel)) + ", scale " + std::to_string(scale));
        const ReadSettings settings = {
            .upsamplingMode = 1, .pixelColor = layout.pixel, .channels = layout.channels, .scale = scale};
        ReadSettings interrupted = settings;
        interrupted.interruptEveryMcu = true;
        const Picture whole = decodeFile(name, settings);
        const Picture byMcu = decodeFile(name, interrupted);
        ASSERT_EQ(whole.status, byMcu.status);
        ASSERT_FALSE(whole.pixels.empty());
        EXPECT_EQ(whole.pixels, byMcu.pixels);
      }
    }
  }
}

// At reduced scales 4:2:2 frames filter too, with rows a few pixels wide at 1/8: RGB, BGR and
// 4-byte pixels (each written by its own row kernel, border pieces included) hold the same colours.
TEST(FancyUpsampling, ConvertedLayoutsAgreeAtReducedScales) {
  struct Layout {
    JpegColor pixel;
    int channels;
    int order[3];  // where R, G and B sit in the pixel
  };
  constexpr Layout kLayouts[] = {{JpegColor::Bgr, 3, {2, 1, 0}}, {JpegColor::Cmyk, 4, {0, 1, 2}}};
  for (const char* name : {"p97_422.jpg", "p256_422_optimized.jpg", "p97_422_rst3.jpg"}) {
    for (const int scale : {2, 4, 8}) {
      const Picture rgb = decodeFile(name, {.upsamplingMode = 1, .scale = scale});
      ASSERT_EQ(rgb.status, JpegStatus::Ok);
      for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(std::string(name) + ", scale " + std::to_string(scale) + ", " +
                     std::to_string(layout.channels) + "-byte pixels");
        const Picture other = decodeFile(
            name,
            {.upsamplingMode = 1, .pixelColor = layout.pixel, .channels = layout.channels, .scale = scale});
        ASSERT_EQ(other.status, JpegStatus::Ok);
        ASSERT_EQ(other.width, rgb.width);
        for (int y = 0; y < rgb.height; ++y) {
          for (int x = 0; x < rgb.width; ++x) {
            for (int channel = 0; channel < 3; ++channel)
              ASSERT_EQ(other.at(x, y, layout.order[channel]), rgb.at(x, y, channel)) << x << "," << y;
          }
        }
      }
    }
  }
}

// A stream whose entropy data turns invalid part-way through a row ends the walk with MCUs held
// back: the output holds every MCU the MCU-by-MCU store gives, whatever the status.
TEST(FancyUpsampling, AWalkEndingInsideARowStoresWhatItHeldBack) {
  for (const char* name : {"p97_420.jpg", "p97_422.jpg"}) {
    const Bytes original = readFile(dataFile(name));
    for (const size_t fromEnd : {size_t(300), size_t(700), size_t(1100)}) {
      SCOPED_TRACE(std::string(name) + ", damage " + std::to_string(fromEnd) + " bytes before the end");
      ASSERT_GT(original.size(), fromEnd + 2);
      Bytes bytes = original;
      // Stuffed 0xFF bytes: ones that no Huffman code of the stream spells.
      for (size_t i = bytes.size() - fromEnd; i < bytes.size() - fromEnd + 16; i += 2) {
        bytes[i] = 0xFF;
        bytes[i + 1] = 0x00;
      }
      const Picture whole = decode(bytes, {.upsamplingMode = 1});
      const Picture byMcu = decode(bytes, {.upsamplingMode = 1, .interruptEveryMcu = true});
      EXPECT_EQ(whole.status, byMcu.status);
      EXPECT_EQ(whole.pixels, byMcu.pixels);
    }
  }
}

// A decoding error part-way through an MCU row ends the walk with the MCUs before it held back
// (those whose right neighbour is in; with 2x2 luminance, of the MCU row above): the end of the
// walk stores them, with the bytes of the intact stream and of the MCU-by-MCU store, and leaves
// the MCUs after them unwritten.
TEST(FancyUpsampling, ADecodingErrorInsideARowStoresTheMcusHeldBack) {
  struct Case {
    int h, v;
    int failColumn, failRow;
  };
  constexpr Case kCases[] = {{2, 2, 3, 2}, {2, 2, 2, 1}, {2, 2, 4, 3},
                             {2, 1, 3, 2}, {2, 1, 2, 0}, {2, 1, 4, 3}};
  constexpr int kColumns = 5, kRows = 4;
  const auto blockOf = [](int c, int bx, int by) {
    const int ac = (bx + by + c) % 4;  // -2, -1, 1, 2: a zero would spell the end of the block
    return std::pair<int, std::vector<int>>{(c * 37 + bx * 23 + by * 41) % 160 - 80,
                                            {ac < 2 ? ac - 2 : ac - 1, 1}};
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.h) + "x" + std::to_string(c.v) + " luminance, error at MCU " +
                 std::to_string(c.failColumn) + "," + std::to_string(c.failRow));
    const int width = kColumns * 8 * c.h, height = kRows * 8 * c.v;
    const Picture intact = decode(makeStream(width, height, c.h, c.v, blockOf), {.upsamplingMode = 1});
    ASSERT_EQ(intact.status, JpegStatus::Ok);
    const Bytes damaged = makeStream(width, height, c.h, c.v, blockOf, c.failRow * kColumns + c.failColumn);
    const Picture whole = decode(damaged, {.upsamplingMode = 1});
    const Picture byMcu = decode(damaged, {.upsamplingMode = 1, .interruptEveryMcu = true});
    EXPECT_EQ(whole.status, JpegStatus::DataError);
    EXPECT_EQ(byMcu.status, whole.status);
    EXPECT_EQ(whole.pixels, byMcu.pixels);
    // The MCU row shown last and where its stored MCUs end.
    const int shownRow = c.failRow - (c.v == 2 ? 1 : 0);
    const int mcuWidth = 8 * c.h, mcuHeight = 8 * c.v;
    const int storedEnd = shownRow < 0 ? 0 : std::max(c.failColumn - 1, 0) * mcuWidth;
    for (int y = 0; y < height; ++y) {
      const int rowEnd = y < shownRow * mcuHeight ? width : y < (shownRow + 1) * mcuHeight ? storedEnd : 0;
      for (int x = 0; x < width; ++x) {
        for (int channel = 0; channel < 3; ++channel) {
          ASSERT_EQ(whole.at(x, y, channel), x < rowEnd ? intact.at(x, y, channel) : 0)
              << "pixel " << x << "," << y << " channel " << channel;
        }
      }
    }
  }
}

TEST(FancyUpsampling, OtherModesAreRefused) {
  const Picture out = decodeFile("p97_420.jpg", {.upsamplingMode = 2});
  EXPECT_NE(out.status, JpegStatus::Ok);
}

// The full-size filter differs from replication only where chroma changes: a sanity check that
// the mode is really on for the converting routine too (BGR and 4-byte Cmyk pixels).
TEST(FancyUpsampling, ConvertingRoutinesFilter) {
  for (const auto& [pixel, channels] : {std::pair{JpegColor::Bgr, 3}, std::pair{JpegColor::Cmyk, 4}}) {
    const Picture replicated =
        decodeFile("p97_420.jpg", {.upsamplingMode = 0, .pixelColor = pixel, .channels = channels});
    const Picture fancy =
        decodeFile("p97_420.jpg", {.upsamplingMode = 1, .pixelColor = pixel, .channels = channels});
    ASSERT_EQ(fancy.status, JpegStatus::Ok);
    EXPECT_NE(fancy.pixels, replicated.pixels);
  }
}

// Converted 3-byte output, whether an MCU is filtered and converted straight from the kept rows
// (away from the left and right borders) or through the planes (border MCUs), against 4-byte
// pixels, which always take the planes and then the in-place conversion: the same colours.
TEST(FancyUpsampling, ThreeBytePixelsMatchTheFourByteConversion) {
  for (const char* name : {"p97_420.jpg", "p97_422.jpg", "p256_420.jpg", "p256_422_optimized.jpg"}) {
    const Picture wide =
        decodeFile(name, {.upsamplingMode = 1, .pixelColor = JpegColor::Cmyk, .channels = 4});
    ASSERT_EQ(wide.status, JpegStatus::Ok) << name;
    for (const JpegColor pixel : {JpegColor::Rgb, JpegColor::Bgr}) {
      const Picture converted = decodeFile(name, {.upsamplingMode = 1, .pixelColor = pixel});
      ASSERT_EQ(converted.status, JpegStatus::Ok) << name;
      int wrong = 0;
      for (int y = 0; y < wide.height; ++y) {
        for (int x = 0; x < wide.width; ++x) {
          for (int channel = 0; channel < 3; ++channel) {
            const int source = pixel == JpegColor::Bgr ? 2 - channel : channel;
            if (converted.at(x, y, channel) != wide.at(x, y, source) && ++wrong <= 5) {
              ADD_FAILURE() << name << " pixel " << x << "," << y << " channel " << channel;
            }
          }
        }
      }
      EXPECT_EQ(wrong, 0) << name;
    }
  }
}

}  // namespace

namespace {

// A read interrupted at 1/8 scale and resumed at full size: the upsampler's rows were laid out for
// the smaller blocks, so the resumed read must not fill them with full-size ones (the sanitizer
// build sees any write past them); every pixel written stays inside the caller's buffer.
TEST(FancyUpsampling, AReadResumedAtAnotherScaleStaysInsideItsRows) {
  for (const char* name : {"p97_422.jpg", "p97_422_progressive.jpg"}) {
    SCOPED_TRACE(name);
    Bytes bytes = readFile(dataFile(name));
    TestRecord record;
    record.useBuffer(bytes);
    ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
    const int width = record->jpegWidth, height = record->jpegHeight;
    constexpr size_t kGuard = 64;
    constexpr uint8_t kFill = 0xA5;
    std::vector<uint8_t> buffer(2 * kGuard + size_t(width) * size_t(height) * 3, kFill);
    record->pixelData = buffer.data() + kGuard;
    record->pixelWidth = width;
    record->pixelHeight = height;
    record->pixelChannels = 3;
    record->pixelColor = JpegColor::Rgb;
    record->state.upsamplingMode = 1;
    record->state.interruptRequest = 1;
    const JpegStatus first = record.read(JpegIoMode::BufferReadEighth);
    ASSERT_TRUE(first == JpegStatus::InterruptOk || first == JpegStatus::Ok) << int(first);
    record->state.interruptRequest = 0;
    const JpegStatus resumed = record.read(JpegIoMode::BufferReadImage);
    EXPECT_TRUE(resumed == JpegStatus::Ok || int(resumed) < 0) << int(resumed);
    for (size_t i = 0; i < kGuard; ++i) {
      ASSERT_EQ(buffer[i], kFill) << "byte " << i << " before the pixels";
      ASSERT_EQ(buffer[buffer.size() - 1 - i], kFill) << "byte " << i << " from the end";
    }
  }
}

}  // namespace
