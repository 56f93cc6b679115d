// Progressive output of jpegWrite: the scan scripts and their segments, end-of-band runs and
// correction bits, restart markers, the optimal per-scan tables, and the oracles — djpeg must
// read every stream we write without a warning, and each progressive stream must carry
// exactly the quantised coefficients of our baseline stream of the same image and tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "codec/encode/huffman_encode.h"
#include "codec/encode/optimal_huffman.h"
#include "codec/encode/progressive_encoder.h"
#include "codec/jpeg.h"
#include "tests/codec/encode_support.h"

namespace {

using encode_test::DjpegResult;
using encode_test::Picture;
using encode_test::readFile;
using encode_test::writeFile;
using encode_test::Writer;
using encode_test::WriteRequest;
using encode_test::WriteResult;

// ---------------------------------------------------------------------------------------------
// Optimal tables
// ---------------------------------------------------------------------------------------------

struct BuiltTable {
  std::vector<int> counts;  // 16 entries
  std::vector<uint8_t> symbols;
};

BuiltTable build(const std::vector<uint32_t>& frequencies) {
  std::vector<uint32_t> table(kFrequencySymbols, 0);
  std::copy(frequencies.begin(), frequencies.end(), table.begin());
  uint8_t counts[16] = {};
  uint8_t symbols[256] = {};
  const int32_t listed = buildOptimalTable(table.data(), counts, symbols);
  return {std::vector<int>(counts, counts + 16), std::vector<uint8_t>(symbols, symbols + listed)};
}

// Length of each listed symbol's code, from the counts.
std::vector<int> lengthsInOrder(const BuiltTable& t) {
  std::vector<int> lengths;
  for (int length = 1; length <= 16; ++length) lengths.insert(lengths.end(), t.counts[length - 1], length);
  return lengths;
}

std::vector<uint32_t> frequenciesOf(std::initializer_list<std::pair<int, uint32_t>> entries) {
  std::vector<uint32_t> f(256, 0);
  for (const auto& [symbol, count] : entries) f[symbol] = count;
  return f;
}

TEST(OptimalHuffman, BuildsTheHuffmanCodeLengthsInCodeOrder) {
  // With the reserved symbol (frequency 1): {0:5, 1:3, 2:1, R:1} gives lengths 1, 2, 3, 3.
  const BuiltTable t = build(frequenciesOf({{0, 5}, {1, 3}, {2, 1}}));
  EXPECT_EQ(t.counts, (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(t.symbols, (std::vector<uint8_t>{0, 1, 2}));
}

TEST(OptimalHuffman, TiesGoToTheLargerSymbolAndListingIsBySymbolWithinALength) {
  // Equal frequencies: the largest symbol is merged with the reserved one first and so gets
  // the longest code; the others share length 2 in symbol order.
  const BuiltTable t = build(frequenciesOf({{40, 4}, {10, 4}, {30, 4}, {20, 4}}));
  EXPECT_EQ(t.counts, (std::vector<int>{0, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(t.symbols, (std::vector<uint8_t>{10, 20, 30, 40}));
}

TEST(OptimalHuffman, EmptyAndSingleSymbolTables) {
  const BuiltTable empty = build({});
  EXPECT_EQ(std::accumulate(empty.counts.begin(), empty.counts.end(), 0), 0);
  EXPECT_TRUE(empty.symbols.empty());
  // A lone symbol shares the tree with the reserved one: one 1-bit code.
  const BuiltTable single = build(frequenciesOf({{0x42, 1000}}));
  EXPECT_EQ(single.counts[0], 1);
  EXPECT_EQ(single.symbols, (std::vector<uint8_t>{0x42}));
}

std::vector<uint32_t> fibonacci(int n) {
  std::vector<uint32_t> f(256, 0);
  uint64_t a = 1, b = 1;
  for (int i = 0; i < n; ++i) {
    f[i] = static_cast<uint32_t>(a);
    const uint64_t next = a + b;
    a = b;
    b = next;
  }
  return f;
}

struct DistributionCase {
  const char* name;
  std::function<std::vector<uint32_t>()> make;
};

// Distributions whose Huffman trees are far deeper than 16 (Fibonacci weights make a chain:
// 45 symbols reach depth 45, beyond the 32 levels of the classic procedure), sums beyond 2^32,
// and flat ones.
const DistributionCase kDistributions[] = {
    {"Fibonacci45", [] { return fibonacci(45); }},
    {"Fibonacci47SumAbove32Bits", [] { return fibonacci(47); }},
    {"PowersOfTwo",
     [] {
       std::vector<uint32_t> f(256, 0);
       for (int i = 0; i < 32; ++i) f[i] = 1u << i;
       return f;
     }},
    {"AllEqual", [] { return std::vector<uint32_t>(256, 7); }},
    {"AllMaximal", [] { return std::vector<uint32_t>(256, UINT32_MAX); }},
    {"GeometricTail",
     [] {
       std::vector<uint32_t> f(256, 0);
       for (int i = 0; i < 256; ++i) f[i] = i < 31 ? (1u << (31 - i)) : 1u;
       return f;
     }},
    {"Random",
     [] {
       std::mt19937 random(7);
       std::vector<uint32_t> f(256, 0);
       for (uint32_t& v : f) v = random() % 3 == 0 ? 0 : random() % 100000;
       return f;
     }},
};

class OptimalHuffmanDistribution : public testing::TestWithParam<DistributionCase> {};

// Whatever the distribution: every used symbol listed once, at most 16 bits, a prefix code
// with room left for the reserved code (so no code is all 1-bits), and a table the encoder
// can derive.
TEST_P(OptimalHuffmanDistribution, GivesAValidLengthLimitedTable) {
  const std::vector<uint32_t> f = GetParam().make();
  const BuiltTable t = build(f);
  const int used = static_cast<int>(std::count_if(f.begin(), f.end(), [](uint32_t v) { return v != 0; }));
  ASSERT_EQ(static_cast<int>(t.symbols.size()), used);
  ASSERT_EQ(std::accumulate(t.counts.begin(), t.counts.end(), 0), used);
  std::vector<uint8_t> sorted = t.symbols;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());

  double kraft = 0;
  for (int length = 1; length <= 16; ++length) kraft += t.counts[length - 1] / double(1 << length);
  EXPECT_LT(kraft, 1.0);

  std::vector<uint8_t> counts(t.counts.begin(), t.counts.end());
  HuffmanTable table{};
  ASSERT_EQ(deriveEncodingTable(counts.data(), t.symbols.data(), &table), JpegStatus::Ok);
  for (uint8_t symbol : t.symbols) {
    const int length = table.codeLength[symbol];
    ASSERT_GE(length, 1);
    ASSERT_LE(length, 16);
    EXPECT_NE(table.code[symbol], (1u << length) - 1) << "symbol " << int{symbol};
  }
}

INSTANTIATE_TEST_SUITE_P(Distributions, OptimalHuffmanDistribution, testing::ValuesIn(kDistributions),
                         [](const testing::TestParamInfo<DistributionCase>& info) {
                           return info.param.name;
                         });

// Cost of a Huffman code for `weights`: the sum of all merged weights.
uint64_t huffmanCost(const std::vector<uint64_t>& weights) {
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> queue(weights.begin(), weights.end());
  uint64_t cost = 0;
  while (queue.size() > 1) {
    const uint64_t a = queue.top();
    queue.pop();
    const uint64_t b = queue.top();
    queue.pop();
    cost += a + b;
    queue.push(a + b);
  }
  return cost;
}

// Below the length limit the table is a Huffman code of the symbols plus the reserved one,
// which holds (one of) the longest codes.
TEST(OptimalHuffman, IsOptimalWhenNoCodeNeedsLimiting) {
  std::mt19937 random(11);
  for (int round = 0; round < 50; ++round) {
    std::vector<uint32_t> f(256, 0);
    std::vector<uint64_t> weights{1};
    const int symbols = 2 + static_cast<int>(random() % 60);
    for (int i = 0; i < symbols; ++i) {
      const int symbol = static_cast<int>(random() % 256);
      if (f[symbol] != 0) continue;
      f[symbol] = 100 + random() % 900;
      weights.push_back(f[symbol]);
    }
    const BuiltTable t = build(f);
    const std::vector<int> lengths = lengthsInOrder(t);
    uint64_t cost = 0;
    for (size_t i = 0; i < t.symbols.size(); ++i) cost += uint64_t{f[t.symbols[i]]} * lengths[i];
    EXPECT_EQ(cost + static_cast<uint64_t>(lengths.back()), huffmanCost(weights)) << "round " << round;
  }
}

// ---------------------------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------------------------

// One segment of a stream; SOS segments carry the entropy-coded data that follows them, with
// the restart markers met in it.
struct StreamSegment {
  uint8_t code;
  std::vector<uint8_t> payload;
  std::vector<uint8_t> data;
  std::vector<uint8_t> restarts;
};

std::vector<StreamSegment> parseStream(const std::vector<uint8_t>& s) {
  std::vector<StreamSegment> segments;
  size_t i = 0;
  while (i + 1 < s.size() && s[i] == 0xFF) {
    const uint8_t code = s[i + 1];
    i += 2;
    if (code == 0xD8 || code == 0xD9) {
      segments.push_back({code, {}, {}, {}});
      if (code == 0xD9) break;
      continue;
    }
    if (i + 1 >= s.size()) break;
    const size_t length = size_t{s[i]} << 8 | s[i + 1];
    if (length < 2 || i + length > s.size()) break;
    StreamSegment segment{
        code,
        {s.begin() + static_cast<ptrdiff_t>(i + 2), s.begin() + static_cast<ptrdiff_t>(i + length)},
        {},
        {}};
    i += length;
    if (code == 0xDA) {
      while (i + 1 < s.size() &&
             !(s[i] == 0xFF && s[i + 1] != 0x00 && (s[i + 1] < 0xD0 || s[i + 1] > 0xD7))) {
        if (s[i] == 0xFF && s[i + 1] >= 0xD0 && s[i + 1] <= 0xD7) {
          segment.restarts.push_back(s[i + 1] - 0xD0);
          i += 2;
          continue;
        }
        segment.data.push_back(s[i++]);
      }
    }
    segments.push_back(std::move(segment));
  }
  return segments;
}

std::vector<uint8_t> codesOf(const std::vector<StreamSegment>& segments) {
  std::vector<uint8_t> codes;
  for (const StreamSegment& segment : segments) codes.push_back(segment.code);
  return codes;
}

// Per scan: the DHT segments right before its SOS, and the SOS.
struct ScanView {
  std::vector<const StreamSegment*> tables;
  const StreamSegment* sos;
};

// Points into `segments`, which must outlive the result.
std::vector<ScanView> scansOf(const std::vector<StreamSegment>& segments) {
  std::vector<ScanView> scans;
  std::vector<const StreamSegment*> tables;
  for (const StreamSegment& segment : segments) {
    if (segment.code == 0xC4) tables.push_back(&segment);
    if (segment.code == 0xDA) {
      scans.push_back({tables, &segment});
      tables.clear();
    }
  }
  return scans;
}

// The scan's shape as its SOS says: component identifiers, Ss, Se, Ah, Al.
struct ScanShape {
  std::vector<uint8_t> ids;
  int ss, se, ah, al;
  bool operator==(const ScanShape&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ScanShape& s) {
  out << "{";
  for (uint8_t id : s.ids) out << int{id} << " ";
  return out << "| " << s.ss << "-" << s.se << " " << s.ah << " " << s.al << "}";
}

ScanShape shapeOf(const StreamSegment& sos) {
  const std::vector<uint8_t>& p = sos.payload;
  ScanShape shape{{}, 0, 0, 0, 0};
  const int n = p.at(0);
  for (int j = 0; j < n; ++j) shape.ids.push_back(p.at(1 + 2 * j));
  shape.ss = p.at(1 + 2 * n);
  shape.se = p.at(2 + 2 * n);
  shape.ah = p.at(3 + 2 * n) >> 4;
  shape.al = p.at(3 + 2 * n) & 15;
  return shape;
}

// --- oracles -------------------------------------------------------------------------------

std::string scratchPath(const std::string& name) {
  return encode_test::tempPath(name);
}

// Runs `command` on `jpeg` written to a file; returns its exit status, stderr and output file.
struct ToolRun {
  int exitStatus = -1;
  std::string errors;
  std::vector<uint8_t> output;
};

ToolRun runTool(const std::string& tool, const std::string& options, const std::vector<uint8_t>& jpeg) {
  const std::string in = scratchPath("in.jpg"), out = scratchPath("out"), err = scratchPath("err.txt");
  writeFile(in, jpeg);
  const std::string command = tool + " " + options + " -outfile '" + out + "' '" + in + "' 2> '" + err + "'";
  ToolRun run;
  run.exitStatus = std::system(command.c_str());
  const std::vector<uint8_t> errors = readFile(err);
  run.errors.assign(errors.begin(), errors.end());
  run.output = readFile(out);
  std::remove(in.c_str());
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

DjpegResult decodeWithDjpeg(const std::vector<uint8_t>& jpeg, const std::string& extra = "") {
  const ToolRun run = runTool("djpeg", "-pnm " + extra, jpeg);
  DjpegResult result;
  result.exitStatus = run.exitStatus;
  result.errors = run.errors;
  const std::string path = scratchPath("decoded.pnm");
  writeFile(path, run.output);
  result.picture = encode_test::readPnm(path);
  std::remove(path.c_str());
  return result;
}

// Our own decoder's pixels of a stream (the caller's sequence: parameters, then image), in
// the pixel colour nearest to the stream's: grey, RGB, CMYK, or the components as they are.
struct OurDecode {
  JpegStatus status = JpegStatus::InternalError;
  std::vector<uint8_t> pixels;
};

OurDecode decodeWithOurs(std::vector<uint8_t> jpeg) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  OurDecode result;
  if (jpegInit(record.get()) != JpegStatus::Ok) return result;
  record->jpegBuffer = jpeg.data();
  record->jpegBufferSize = static_cast<int32_t>(jpeg.size());
  result.status = jpegRead(record.get(), JpegIoMode::BufferReadParams);
  // A JFIF stream says nothing of its colours: two or four components are read as they are.
  const bool cmyk = record->jpegColor == JpegColor::Cmyk || record->jpegColor == JpegColor::Ycck;
  if ((record->jpegChannels == 2 || record->jpegChannels == 4) && !cmyk) record->jpegColor = JpegColor::Other;
  if (result.status == JpegStatus::Ok) {
    switch (record->jpegColor) {
      case JpegColor::Gray:
        record->pixelColor = JpegColor::Gray;
        record->pixelChannels = 1;
        break;
      case JpegColor::Cmyk:
      case JpegColor::Ycck:
        record->pixelColor = JpegColor::Cmyk;
        record->pixelChannels = 4;
        break;
      case JpegColor::Other:
        record->pixelColor = JpegColor::Other;
        record->pixelChannels = record->jpegChannels;
        break;
      default:
        record->pixelColor = JpegColor::Rgb;
        record->pixelChannels = 3;
        break;
    }
    result.pixels.assign(static_cast<size_t>(record->jpegWidth) * record->jpegHeight * record->pixelChannels,
                         0);
    record->pixelData = result.pixels.data();
    record->pixelWidth = record->jpegWidth;
    record->pixelHeight = record->jpegHeight;
    result.status = jpegRead(record.get(), JpegIoMode::BufferReadImage);
  }
  jpegFree(record.get());
  return result;
}

// --- pictures --------------------------------------------------------------------------------

Picture photo() {
  return encode_test::sourcePicture("photo_97x61.ppm");
}

Picture grayPhoto() {
  return encode_test::sourcePicture("photo_97x61.pgm");
}

// Four channels from the photo: C, M, Y from R, G, B and a K that varies on its own.
Picture fourChannelPhoto() {
  const Picture rgb = photo();
  Picture p{rgb.width, rgb.height, 4, {}};
  for (int y = 0; y < rgb.height; ++y) {
    for (int x = 0; x < rgb.width; ++x) {
      const uint8_t* q = rgb.at(x, y);
      p.bytes.insert(p.bytes.end(),
                     {static_cast<uint8_t>(255 - q[0]), static_cast<uint8_t>(255 - q[1]),
                      static_cast<uint8_t>(255 - q[2]), static_cast<uint8_t>((x * 3 + y * 5) % 256)});
    }
  }
  return p;
}

// --- the scripts -----------------------------------------------------------------------------

struct ScriptCase {
  const char* name;
  std::function<Picture()> picture;
  JpegColor pixelColor;
  JpegColor jpegColor;
  int channels;
  JpegSubsampling subsampling;
  std::vector<ScanShape> scans;
  std::vector<int> tablesPerScan;  // DHT segments before each SOS
};

using S = JpegSubsampling;
const std::vector<ScanShape> kGrayScans = {{{0}, 0, 0, 0, 1},  {{0}, 1, 5, 0, 2}, {{0}, 6, 63, 0, 2},
                                           {{0}, 1, 63, 2, 1}, {{0}, 0, 0, 1, 0}, {{0}, 1, 63, 1, 0}};
const std::vector<ScanShape> kYccScans = {{{0, 1, 2}, 0, 0, 0, 1}, {{0}, 1, 5, 0, 2},  {{2}, 1, 63, 0, 1},
                                          {{1}, 1, 63, 0, 1},      {{0}, 6, 63, 0, 2}, {{0}, 1, 63, 2, 1},
                                          {{0, 1, 2}, 0, 0, 1, 0}, {{2}, 1, 63, 1, 0}, {{1}, 1, 63, 1, 0},
                                          {{0}, 1, 63, 1, 0}};
const std::vector<ScanShape> kThreeScans = {
    {{0, 1, 2}, 0, 0, 0, 1}, {{0}, 1, 5, 0, 0},  {{1}, 1, 5, 0, 0},  {{2}, 1, 5, 0, 0},
    {{0, 1, 2}, 0, 0, 1, 0}, {{0}, 6, 63, 0, 0}, {{1}, 6, 63, 0, 0}, {{2}, 6, 63, 0, 0}};
const std::vector<ScanShape> kYcckScans = {
    {{0, 1, 2, 3}, 0, 0, 0, 1}, {{0}, 1, 5, 0, 2},  {{2}, 1, 63, 0, 1}, {{1}, 1, 63, 0, 1},
    {{3}, 1, 63, 0, 0},         {{0}, 6, 63, 0, 2}, {{0}, 1, 63, 2, 1}, {{0, 1, 2, 3}, 0, 0, 1, 0},
    {{2}, 1, 63, 1, 0},         {{1}, 1, 63, 1, 0}, {{0}, 1, 63, 1, 0}};
const std::vector<ScanShape> kFourScans = {
    {{0, 1, 2, 3}, 0, 0, 0, 1}, {{0}, 1, 5, 0, 0},          {{1}, 1, 5, 0, 0},  {{2}, 1, 5, 0, 0},
    {{3}, 1, 5, 0, 0},          {{0, 1, 2, 3}, 0, 0, 1, 0}, {{0}, 6, 63, 0, 0}, {{1}, 6, 63, 0, 0},
    {{2}, 6, 63, 0, 0},         {{3}, 6, 63, 0, 0}};
const std::vector<ScanShape> kTwoScans = {
    {{0, 1}, 0, 0, 0, 0}, {{0}, 1, 5, 0, 0}, {{1}, 1, 5, 0, 0}, {{0}, 6, 63, 0, 0}, {{1}, 6, 63, 0, 0}};

const ScriptCase kScripts[] = {
    {"Gray", grayPhoto, JpegColor::Gray, JpegColor::Gray, 1, S::H1V1, kGrayScans, {1, 1, 1, 1, 0, 1}},
    {"GrayFromRgb", photo, JpegColor::Rgb, JpegColor::Gray, 1, S::H1V1, kGrayScans, {1, 1, 1, 1, 0, 1}},
    {"TwoComponentOther", photo, JpegColor::Other, JpegColor::Other, 2, S::H1V1, kTwoScans, {2, 1, 1, 1, 1}},
    {"YCbCr420",
     photo,
     JpegColor::Rgb,
     JpegColor::YCbCr,
     3,
     S::H2V2,
     kYccScans,
     {2, 1, 1, 1, 1, 1, 0, 1, 1, 1}},
    {"YCbCr422",
     photo,
     JpegColor::Bgr,
     JpegColor::YCbCr,
     3,
     S::H2V1,
     kYccScans,
     {2, 1, 1, 1, 1, 1, 0, 1, 1, 1}},
    {"YCbCr444",
     photo,
     JpegColor::Rgb,
     JpegColor::YCbCr,
     3,
     S::H1V1,
     kYccScans,
     {2, 1, 1, 1, 1, 1, 0, 1, 1, 1}},
    {"Rgb", photo, JpegColor::Rgb, JpegColor::Rgb, 3, S::H1V1, kThreeScans, {2, 1, 1, 1, 0, 1, 1, 1}},
    {"ThreeComponentOther",
     photo,
     JpegColor::Other,
     JpegColor::Other,
     3,
     S::H1V1,
     kThreeScans,
     {2, 1, 1, 1, 0, 1, 1, 1}},
    {"Ycck",
     fourChannelPhoto,
     JpegColor::Cmyk,
     JpegColor::Ycck,
     4,
     S::H1V1,
     kYcckScans,
     {2, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}},
    {"Ycck420",
     fourChannelPhoto,
     JpegColor::Cmyk,
     JpegColor::Ycck,
     4,
     S::H2V2K,
     kYcckScans,
     {2, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}},
    {"Ycck422",
     fourChannelPhoto,
     JpegColor::Cmyk,
     JpegColor::Ycck,
     4,
     S::H2V1K,
     kYcckScans,
     {2, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}},
    {"Cmyk",
     fourChannelPhoto,
     JpegColor::Cmyk,
     JpegColor::Cmyk,
     4,
     S::H1V1,
     kFourScans,
     {2, 1, 1, 1, 1, 0, 1, 1, 1, 1}},
    {"FourComponentOther",
     fourChannelPhoto,
     JpegColor::Other,
     JpegColor::Other,
     4,
     S::H1V1,
     kFourScans,
     {2, 1, 1, 1, 1, 0, 1, 1, 1, 1}},
};

WriteRequest requestFor(const ScriptCase& c) {
  WriteRequest r;
  r.pixelColor = c.pixelColor;
  r.jpegColor = c.jpegColor;
  r.jpegChannels = c.channels;
  r.subsampling = c.subsampling;
  return r;
}

WriteResult writeWith(const Picture& picture, const WriteRequest& request, bool progressive) {
  Writer writer(picture, request);
  writer.record().state.progressive = progressive ? 1 : 0;
  return writer.write();
}

// djpeg with options that make two streams of the same coefficients decode alike.
DjpegResult djpegExact(const std::vector<uint8_t>& jpeg) {
  return decodeWithDjpeg(jpeg, "-dct int -nosmooth");
}

// The stream jpegtran makes of `jpeg` with `options`; empty when it fails or warns.
std::vector<uint8_t> jpegtran(const std::vector<uint8_t>& jpeg, const std::string& options) {
  const ToolRun run = runTool("jpegtran", options, jpeg);
  return run.exitStatus == 0 && run.errors.empty() ? run.output : std::vector<uint8_t>{};
}

class ProgressiveEncoderScript : public testing::TestWithParam<ScriptCase> {};

TEST_P(ProgressiveEncoderScript, WritesTheScansOfTheColourSpace) {
  const ScriptCase& c = GetParam();
  const WriteResult result = writeWith(c.picture(), requestFor(c), true);
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const std::vector<StreamSegment> segments = parseStream(result.bytes);
  ASSERT_FALSE(segments.empty());
  EXPECT_EQ(segments.back().code, 0xD9);

  const auto sof =
      std::find_if(segments.begin(), segments.end(), [](const StreamSegment& s) { return s.code == 0xC2; });
  ASSERT_NE(sof, segments.end());
  const int components = sof->payload.at(5);
  ASSERT_EQ(components, c.channels);
  for (int i = 0; i < components; ++i) EXPECT_EQ(sof->payload.at(6 + 3 * i), c.channels == 1 ? 0 : i);

  const std::vector<ScanView> scans = scansOf(segments);
  ASSERT_EQ(scans.size(), c.scans.size());
  for (size_t i = 0; i < scans.size(); ++i) {
    EXPECT_EQ(shapeOf(*scans[i].sos), c.scans[i]) << "scan " << i + 1;
    EXPECT_EQ(static_cast<int>(scans[i].tables.size()), c.tablesPerScan[i]) << "scan " << i + 1;
  }
}

// djpeg writes no picture format for two components; jpegtran, which entropy-decodes every
// scan just the same, reads those.
TEST_P(ProgressiveEncoderScript, DjpegReadsItWithoutAWarning) {
  const ScriptCase& c = GetParam();
  const WriteResult result = writeWith(c.picture(), requestFor(c), true);
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const ToolRun run = c.channels == 2 ? runTool("jpegtran", "-copy none", result.bytes)
                                      : runTool("djpeg", "-pnm", result.bytes);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.errors, "");
  EXPECT_FALSE(run.output.empty());
}

// The segments of a stream with component identifiers cleared: our baseline numbers
// components from 1, our progressive writer from 0.
std::vector<StreamSegment> withoutComponentIds(std::vector<StreamSegment> segments) {
  for (StreamSegment& segment : segments) {
    std::vector<uint8_t>& p = segment.payload;
    if (segment.code >= 0xC0 && segment.code <= 0xC2) {
      for (size_t i = 0; i < p.at(5); ++i) p.at(6 + 3 * i) = 0;
    } else if (segment.code == 0xDA) {
      for (size_t j = 0; j < p.at(0); ++j) p.at(1 + 2 * j) = 0;
    }
  }
  return segments;
}

bool sameSegments(const std::vector<StreamSegment>& a, const std::vector<StreamSegment>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].code != b[i].code || a[i].payload != b[i].payload || a[i].data != b[i].data) return false;
  }
  return true;
}

// Same image, same tables: the progressive stream must carry the very coefficients of the
// baseline one, for both transform families. jpegtran re-encodes coefficients without
// decoding them, so equal coefficients give equal streams (up to component identifiers);
// our decoder, and djpeg where it can write the colour space, must give equal pixels.
TEST_P(ProgressiveEncoderScript, CarriesTheCoefficientsOfTheBaselineStream) {
  const ScriptCase& c = GetParam();
  for (int variant : {0, 1}) {
    WriteRequest request = requestFor(c);
    request.dctVariant = variant;
    const WriteResult progressive = writeWith(c.picture(), request, true);
    const WriteResult baseline = writeWith(c.picture(), request, false);
    ASSERT_EQ(progressive.status, JpegStatus::Ok);
    ASSERT_EQ(baseline.status, JpegStatus::Ok);

    const std::vector<uint8_t> fromProgressive = jpegtran(progressive.bytes, "-copy none -optimize");
    const std::vector<uint8_t> fromBaseline = jpegtran(baseline.bytes, "-copy none -optimize");
    ASSERT_FALSE(fromProgressive.empty());
    EXPECT_TRUE(sameSegments(withoutComponentIds(parseStream(fromProgressive)),
                             withoutComponentIds(parseStream(fromBaseline))))
        << "dctVariant " << variant;

    const OurDecode ours = decodeWithOurs(progressive.bytes);
    const OurDecode oursBaseline = decodeWithOurs(baseline.bytes);
    ASSERT_EQ(ours.status, JpegStatus::Ok);
    ASSERT_EQ(oursBaseline.status, JpegStatus::Ok);
    EXPECT_EQ(ours.pixels, oursBaseline.pixels) << "dctVariant " << variant;

    if (c.channels == 2) continue;
    const DjpegResult a = djpegExact(progressive.bytes);
    const DjpegResult b = djpegExact(baseline.bytes);
    ASSERT_EQ(a.exitStatus, 0) << a.errors;
    ASSERT_EQ(b.exitStatus, 0) << b.errors;
    ASSERT_FALSE(a.picture.bytes.empty());
    EXPECT_EQ(a.picture.bytes, b.picture.bytes) << "dctVariant " << variant;
  }
}

TEST_P(ProgressiveEncoderScript, FileAndBufferModesWriteTheSameBytes) {
  const ScriptCase& c = GetParam();
  const WriteResult buffer = writeWith(c.picture(), requestFor(c), true);
  const std::string path = scratchPath("out.jpg");
  WriteRequest request = requestFor(c);
  request.mode = JpegIoMode::FileWriteImage;
  Writer writer(c.picture(), request);
  writer.record().state.progressive = 1;
  writer.record().jpegFileName = path.c_str();
  ASSERT_EQ(writer.write().status, JpegStatus::Ok);
  EXPECT_EQ(readFile(path), buffer.bytes);
  EXPECT_EQ(writer.record().jpegBufferSize, static_cast<int32_t>(buffer.bytes.size()));
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Scripts, ProgressiveEncoderScript, testing::ValuesIn(kScripts),
                         [](const testing::TestParamInfo<ScriptCase>& info) { return info.param.name; });

// --- the described examples --------------------------------------------------------------------

TEST(ProgressiveEncoder, YCbCrFirstScanFollowsTwoDcTablesAndListsComponentsFromZero) {
  WriteRequest request;
  const WriteResult result = writeWith(photo(), request, true);
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const std::vector<StreamSegment> segments = parseStream(result.bytes);
  const std::vector<ScanView> scans = scansOf(segments);
  ASSERT_FALSE(scans.empty());
  ASSERT_EQ(scans[0].tables.size(), 2u);
  EXPECT_EQ(scans[0].tables[0]->payload.at(0), 0x00);
  EXPECT_EQ(scans[0].tables[1]->payload.at(0), 0x01);
  EXPECT_EQ(scans[0].sos->payload, (std::vector<uint8_t>{3, 0, 0x00, 1, 0x11, 2, 0x11, 0, 0, 0x01}));
  // SOF2 numbers the components from 0 as well.
  const auto sof =
      std::find_if(segments.begin(), segments.end(), [](const StreamSegment& s) { return s.code == 0xC2; });
  ASSERT_NE(sof, segments.end());
  EXPECT_EQ(sof->payload, (std::vector<uint8_t>{8, 0, 61, 0, 97, 3, 0, 0x22, 0, 1, 0x11, 1, 2, 0x11, 1}));
}

TEST(ProgressiveEncoder, StreamLayoutOfTheImageModes) {
  WriteRequest request;
  const WriteResult full = writeWith(photo(), request, true);
  request.mode = JpegIoMode::BufferWriteImageNoTables;
  const WriteResult bare = writeWith(photo(), request, true);
  ASSERT_EQ(full.status, JpegStatus::Ok);
  ASSERT_EQ(bare.status, JpegStatus::Ok);
  const std::vector<uint8_t> fullCodes = codesOf(parseStream(full.bytes));
  ASSERT_GE(fullCodes.size(), 7u);
  EXPECT_EQ(std::vector<uint8_t>(fullCodes.begin(), fullCodes.begin() + 7),
            (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC2, 0xC4}));
  // Without table segments the stream is the same minus APP0, COM and DQT: same scans and
  // tables, byte for byte.
  const std::vector<StreamSegment> segments = parseStream(full.bytes);
  size_t sofOffset = 2;
  for (int i = 1; i < 5; ++i) sofOffset += 4 + segments[i].payload.size();
  std::vector<uint8_t> expected = {0xFF, 0xD8};
  expected.insert(expected.end(), full.bytes.begin() + static_cast<ptrdiff_t>(sofOffset), full.bytes.end());
  EXPECT_EQ(bare.bytes, expected);
}

TEST(ProgressiveEncoder, TablesOnlyWriteHasNoHuffmanTables) {
  WriteRequest request;
  request.mode = JpegIoMode::BufferWriteTables;
  const WriteResult tables = writeWith(photo(), request, true);
  ASSERT_EQ(tables.status, JpegStatus::Ok);
  EXPECT_EQ(codesOf(parseStream(tables.bytes)), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xD9}));
}

// A flat grey picture of 32768 blocks: the first AC scan is one end-of-band run that reaches
// 32767 (symbol 0xE0 and fourteen 1-bits) and a run of one (symbol 0x00).
TEST(ProgressiveEncoder, EndOfBandRunIsEmittedAt32767Blocks) {
  const Picture flat = encode_test::solidPicture(2048, 1024, {90});
  WriteRequest request;
  request.pixelColor = JpegColor::Gray;
  request.jpegColor = JpegColor::Gray;
  request.jpegChannels = 1;
  request.subsampling = S::H1V1;
  const WriteResult result = writeWith(flat, request, true);
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const std::vector<StreamSegment> segments = parseStream(result.bytes);
  const std::vector<ScanView> scans = scansOf(segments);
  ASSERT_EQ(scans.size(), 6u);
  ASSERT_EQ(scans[1].tables.size(), 1u);
  // Class 1, identifier 0; one code of length 1 (0x00 -> 0) and one of length 2 (0xE0 -> 10).
  EXPECT_EQ(scans[1].tables[0]->payload,
            (std::vector<uint8_t>{0x10, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0xE0}));
  // 10 11111111111111 | 0 1111111 (padding); 0xFF is stuffed.
  EXPECT_EQ(scans[1].sos->data, (std::vector<uint8_t>{0xBF, 0xFF, 0x00, 0x7F}));
  const DjpegResult decoded = decodeWithDjpeg(result.bytes);
  EXPECT_EQ(decoded.exitStatus, 0);
  EXPECT_EQ(decoded.errors, "");
  const OurDecode ours = decodeWithOurs(result.bytes);
  ASSERT_EQ(ours.status, JpegStatus::Ok);
  EXPECT_EQ(ours.pixels, decoded.picture.bytes);
}

// A record the caller filled itself, writing quantised coefficients from planes.
class PlaneWriter {
 public:
  PlaneWriter(int width, int height, std::vector<int16_t> plane) : plane_(std::move(plane)) {
    EXPECT_EQ(jpegInit(&record_), JpegStatus::Ok);
    output_.assign(plane_.size() * 4 + 4096, 0);
    planes_.mode = 0;
    planes_.planes[0] = plane_.data();
    record_.useStateAsIs = 1;
    JPEG_PROPERTIES& s = record_.state;
    s.jpegWidth = width;
    s.jpegHeight = height;
    s.jpegChannels = 1;
    s.jpegColor = JpegColor::Gray;
    s.jpegSubsampling = S::H1V1;
    s.pixelColor = JpegColor::Gray;
    s.pixelChannels = 1;
    s.jpegBuffer = output_.data();
    s.jpegBufferSize = static_cast<int32_t>(output_.size());
    s.blockPlanes = &planes_;
  }
  ~PlaneWriter() { jpegFree(&record_); }
  PlaneWriter(const PlaneWriter&) = delete;
  PlaneWriter& operator=(const PlaneWriter&) = delete;

  WriteResult write(bool progressive) {
    record_.state.progressive = progressive ? 1 : 0;
    record_.state.jpegBufferSize = static_cast<int32_t>(output_.size());
    WriteResult result;
    result.status = jpegWrite(&record_, JpegIoMode::BufferWriteImage);
    result.bytes.assign(output_.begin(), output_.begin() + record_.state.jpegBufferSize);
    return result;
  }

 private:
  std::vector<int16_t> plane_;
  JpegBlockPlanes planes_{};
  JPEG_CODEC_PROPERTIES record_{};
  std::vector<uint8_t> output_;
};

// Every AC coefficient 2 or 3: the last refinement scan has only correction bits (63 per
// block) and no symbols but end-of-band runs. Fifteen blocks buffer 945 bits, past 937, so
// the run goes out at 15 (symbol 0x30) instead of growing to 30 (0x40).
TEST(ProgressiveEncoder, CorrectionBitsPast937ForceTheRunOut) {
  const int width = 240, height = 8;
  std::vector<int16_t> plane(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      plane[static_cast<size_t>(y) * width + x] =
          (x % 8 == 0 && y == 0) ? 4 : static_cast<int16_t>(2 + (x + y) % 2);
  }
  PlaneWriter writer(width, height, plane);
  const WriteResult progressive = writer.write(true);
  ASSERT_EQ(progressive.status, JpegStatus::Ok);
  const std::vector<StreamSegment> segments = parseStream(progressive.bytes);
  const std::vector<ScanView> scans = scansOf(segments);
  ASSERT_EQ(scans.size(), 6u);
  ASSERT_EQ(scans[5].tables.size(), 1u);
  const std::vector<uint8_t>& dht = scans[5].tables[0]->payload;
  EXPECT_EQ(std::vector<uint8_t>(dht.begin() + 17, dht.end()), (std::vector<uint8_t>{0x30}));
  // Two runs of 15 blocks: 2 x (1-bit code + 3 run bits + 945 correction bits) = 1898 bits.
  size_t stuffed = 0;
  for (size_t i = 0; i + 1 < scans[5].sos->data.size(); ++i) stuffed += scans[5].sos->data[i] == 0xFF ? 1 : 0;
  EXPECT_EQ(scans[5].sos->data.size() - stuffed, (1898u + 7) / 8);

  const WriteResult baseline = writer.write(false);
  ASSERT_EQ(baseline.status, JpegStatus::Ok);
  const DjpegResult a = djpegExact(progressive.bytes);
  const DjpegResult b = djpegExact(baseline.bytes);
  EXPECT_EQ(a.errors, "");
  EXPECT_EQ(a.exitStatus, 0);
  ASSERT_FALSE(a.picture.bytes.empty());
  EXPECT_EQ(a.picture.bytes, b.picture.bytes);
  const OurDecode ours = decodeWithOurs(progressive.bytes);
  ASSERT_EQ(ours.status, JpegStatus::Ok);
  EXPECT_EQ(ours.pixels, decodeWithOurs(baseline.bytes).pixels);
}

// Coefficient planes with long zero runs between refined and newly nonzero coefficients:
// ZRL symbols inside refinement scans, with the correction bits they carry.
TEST(ProgressiveEncoder, RefinementRunsAndZeroRunsMatchTheBaselineCoefficients) {
  const int width = 64, height = 32;
  std::mt19937 random(5);
  std::vector<int16_t> plane(static_cast<size_t>(width) * height, 0);
  for (int16_t& value : plane) {
    const uint32_t pick = random() % 16;
    value =
        pick < 11 ? 0 : static_cast<int16_t>((pick % 2 == 0 ? 1 : -1) * static_cast<int>(1 + random() % 40));
  }
  PlaneWriter writer(width, height, plane);
  const WriteResult progressive = writer.write(true);
  const WriteResult baseline = writer.write(false);
  ASSERT_EQ(progressive.status, JpegStatus::Ok);
  ASSERT_EQ(baseline.status, JpegStatus::Ok);
  const DjpegResult a = djpegExact(progressive.bytes);
  EXPECT_EQ(a.errors, "");
  const std::vector<uint8_t> fromProgressive = jpegtran(progressive.bytes, "-copy none -optimize");
  ASSERT_FALSE(fromProgressive.empty());
  EXPECT_EQ(fromProgressive, jpegtran(baseline.bytes, "-copy none -optimize"));
  const OurDecode ours = decodeWithOurs(progressive.bytes);
  ASSERT_EQ(ours.status, JpegStatus::Ok);
  EXPECT_EQ(ours.pixels, decodeWithOurs(baseline.bytes).pixels);
}

// --- restart intervals -------------------------------------------------------------------------

struct RestartCase {
  const char* name;
  int interval;
  JpegColor pixelColor;
  JpegColor jpegColor;
  int channels;
  JpegSubsampling subsampling;
};

const RestartCase kRestarts[] = {
    {"GrayEvery1", 1, JpegColor::Gray, JpegColor::Gray, 1, S::H1V1},
    {"GrayEvery5", 5, JpegColor::Gray, JpegColor::Gray, 1, S::H1V1},
    {"YCbCr420Every1", 1, JpegColor::Rgb, JpegColor::YCbCr, 3, S::H2V2},
    {"YCbCr420Every3", 3, JpegColor::Rgb, JpegColor::YCbCr, 3, S::H2V2},
    {"YCbCr422Every7", 7, JpegColor::Rgb, JpegColor::YCbCr, 3, S::H2V1},
    {"RgbEvery2", 2, JpegColor::Rgb, JpegColor::Rgb, 3, S::H1V1},
    {"YcckEvery4", 4, JpegColor::Cmyk, JpegColor::Ycck, 4, S::H2V2K},
    {"IntervalLongerThanAnyScan", 5000, JpegColor::Rgb, JpegColor::YCbCr, 3, S::H2V2},
};

class ProgressiveEncoderRestart : public testing::TestWithParam<RestartCase> {};

Picture pictureFor(const RestartCase& c) {
  if (c.pixelColor == JpegColor::Gray) return grayPhoto();
  if (c.pixelColor == JpegColor::Cmyk) return fourChannelPhoto();
  return photo();
}

// Units a scan restarts over: MCUs of interleaved scans, the component's own blocks otherwise.
int unitsOf(const ScanShape& shape, const RestartCase& c, int width, int height) {
  const bool h2 = c.subsampling != S::H1V1;
  const bool v2 = c.subsampling == S::H2V2 || c.subsampling == S::H2V2K;
  const int maxH = h2 ? 2 : 1, maxV = v2 ? 2 : 1;
  if (shape.ids.size() > 1)
    return ((width + 8 * maxH - 1) / (8 * maxH)) * ((height + 8 * maxV - 1) / (8 * maxV));
  const int id = shape.ids[0];
  const bool full = id == 0 || id == 3;
  const int w = full ? width : (width + maxH - 1) / maxH, h = full ? height : (height + maxV - 1) / maxV;
  return ((w + 7) / 8) * ((h + 7) / 8);
}

// The interval counts the units of each scan; markers cycle RST0..RST7 from 0 in every scan
// and none ends a scan. djpeg reads the result without a warning, to the baseline's pixels.
TEST_P(ProgressiveEncoderRestart, WritesRestartMarkersInEveryScan) {
  const RestartCase& c = GetParam();
  const Picture picture = pictureFor(c);
  WriteRequest request;
  request.pixelColor = c.pixelColor;
  request.jpegColor = c.jpegColor;
  request.jpegChannels = c.channels;
  request.subsampling = c.subsampling;
  request.restartInterval = c.interval;
  const WriteResult progressive = writeWith(picture, request, true);
  ASSERT_EQ(progressive.status, JpegStatus::Ok);
  const std::vector<StreamSegment> segments = parseStream(progressive.bytes);
  const auto dri =
      std::find_if(segments.begin(), segments.end(), [](const StreamSegment& s) { return s.code == 0xDD; });
  ASSERT_NE(dri, segments.end());
  EXPECT_EQ(dri->payload, (std::vector<uint8_t>{static_cast<uint8_t>(c.interval >> 8),
                                                static_cast<uint8_t>(c.interval & 0xFF)}));
  for (const ScanView& scan : scansOf(segments)) {
    const ScanShape shape = shapeOf(*scan.sos);
    const int units = unitsOf(shape, c, picture.width, picture.height);
    const size_t expected = static_cast<size_t>((units + c.interval - 1) / c.interval - 1);
    ASSERT_EQ(scan.sos->restarts.size(), expected) << shape;
    for (size_t i = 0; i < expected; ++i) EXPECT_EQ(scan.sos->restarts[i], i % 8);
  }

  const DjpegResult a = djpegExact(progressive.bytes);
  EXPECT_EQ(a.exitStatus, 0);
  EXPECT_EQ(a.errors, "");
  request.restartInterval = 0;
  const WriteResult baseline = writeWith(picture, request, false);
  const DjpegResult b = djpegExact(baseline.bytes);
  ASSERT_FALSE(a.picture.bytes.empty());
  EXPECT_EQ(a.picture.bytes, b.picture.bytes);
  const OurDecode ours = decodeWithOurs(progressive.bytes);
  ASSERT_EQ(ours.status, JpegStatus::Ok);
  EXPECT_EQ(ours.pixels, decodeWithOurs(baseline.bytes).pixels);
}

INSTANTIATE_TEST_SUITE_P(Intervals, ProgressiveEncoderRestart, testing::ValuesIn(kRestarts),
                         [](const testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

// Pictures smaller than one MCU, and one MCU and a bit: edge blocks in every scan kind.
TEST(ProgressiveEncoder, TinyPicturesMatchTheirBaselineTwins) {
  for (const char* source : {"photo_1x1.ppm", "photo_17x9.ppm"}) {
    for (JpegSubsampling subsampling : {S::H2V2, S::H2V1, S::H1V1}) {
      for (int interval : {0, 1}) {
        WriteRequest request;
        request.subsampling = subsampling;
        request.restartInterval = interval;
        const Picture picture = encode_test::sourcePicture(source);
        const WriteResult progressive = writeWith(picture, request, true);
        const WriteResult baseline = writeWith(picture, request, false);
        ASSERT_EQ(progressive.status, JpegStatus::Ok);
        const DjpegResult a = djpegExact(progressive.bytes);
        EXPECT_EQ(a.errors, "") << source;
        ASSERT_FALSE(a.picture.bytes.empty()) << source;
        EXPECT_EQ(a.picture.bytes, djpegExact(baseline.bytes).picture.bytes)
            << source << " subsampling " << static_cast<int>(subsampling) << " interval " << interval;
        EXPECT_EQ(decodeWithOurs(progressive.bytes).pixels, decodeWithOurs(baseline.bytes).pixels) << source;
      }
    }
  }
}

// --- other behaviour ---------------------------------------------------------------------------

TEST(ProgressiveEncoder, RejectsColourSpacesWithoutAScript) {
  WriteRequest request;
  request.pixelColor = JpegColor::Other;
  request.jpegColor = JpegColor::Other;
  request.jpegChannels = 1;
  request.subsampling = S::H1V1;
  EXPECT_EQ(writeWith(photo(), request, true).status, JpegStatus::InvalidProperties);

  JPEG_PROPERTIES state{};
  state.jpegChannels = 3;
  state.componentCount = 3;
  state.jpegColor = JpegColor::Gray;
  EXPECT_EQ(buildScanScript(&state), JpegStatus::InvalidProperties);
  EXPECT_EQ(state.scanScript, nullptr);
}

TEST(ProgressiveEncoder, IsNotInterrupted) {
  WriteRequest request;
  const WriteResult plain = writeWith(photo(), request, true);
  Writer writer(photo(), request);
  writer.record().state.progressive = 1;
  writer.record().state.interruptRequest = 1;
  const WriteResult interrupted = writer.write();
  EXPECT_EQ(interrupted.status, JpegStatus::Ok);
  EXPECT_EQ(interrupted.bytes, plain.bytes);
}

// Setting progressive while a baseline write is interrupted does not graft progressive scans
// onto the baseline headers: the write resumes as the baseline one it is.
TEST(ProgressiveEncoder, InterruptedBaselineWriteResumesAsBaseline) {
  WriteRequest request;
  const WriteResult plain = writeWith(photo(), request, false);
  Writer writer(photo(), request);
  writer.record().state.interruptRequest = 1;
  ASSERT_EQ(writer.write().status, JpegStatus::InterruptOk);
  writer.record().state.progressive = 1;
  const WriteResult resumed = writer.write();
  EXPECT_EQ(resumed.status, JpegStatus::Ok);
  EXPECT_EQ(resumed.bytes, plain.bytes);
}

// A second progressive write on the record replaces the first one's coefficient buffer (or
// keeps it for a frame of the same size) and writes what a fresh record writes.
TEST(ProgressiveEncoder, SecondWriteOnTheRecordReplacesTheCoefficientBuffer) {
  const Picture small = photo();
  const Picture large = encode_test::sourcePicture("photo_256x192.ppm");
  WriteRequest request;
  const WriteResult fresh = writeWith(large, request, true);

  Writer writer(small, request);
  JPEG_CODEC_PROPERTIES& record = writer.record();
  record.state.progressive = 1;
  ASSERT_EQ(writer.write().status, JpegStatus::Ok);
  EXPECT_EQ(record.state.coefficientBufferBlocks, 6 * 7 * 4);  // 7 x 4 MCUs of 6 blocks

  std::vector<uint8_t> pixels = large.bytes;
  std::vector<uint8_t> output(fresh.bytes.size() + 1024);
  record.pixelData = pixels.data();
  record.pixelWidth = large.width;
  record.pixelHeight = large.height;
  record.jpegWidth = large.width;
  record.jpegHeight = large.height;
  record.jpegBuffer = output.data();
  record.jpegBufferSize = static_cast<int32_t>(output.size());
  ASSERT_EQ(jpegWrite(&record, JpegIoMode::BufferWriteImage), JpegStatus::Ok);
  EXPECT_EQ(record.state.coefficientBufferBlocks, 6 * 16 * 12);
  EXPECT_EQ(std::vector<uint8_t>(output.begin(), output.begin() + record.jpegBufferSize), fresh.bytes);

  // A frame of the same size keeps the buffer.
  const int16_t* buffer = record.state.coefficientBuffer;
  record.jpegBufferSize = static_cast<int32_t>(output.size());
  ASSERT_EQ(jpegWrite(&record, JpegIoMode::BufferWriteImage), JpegStatus::Ok);
  EXPECT_EQ(record.state.coefficientBuffer, buffer);
  EXPECT_EQ(std::vector<uint8_t>(output.begin(), output.begin() + record.jpegBufferSize), fresh.bytes);
}

// Every buffer shorter than the stream fails with OutputBufferTooSmall and writes nothing past
// its end.
TEST(ProgressiveEncoder, ShortBuffersFailWithoutWritingPastTheirEnd) {
  WriteRequest request;
  const WriteResult full = writeWith(photo(), request, true);
  ASSERT_EQ(full.status, JpegStatus::Ok);
  const size_t size = full.bytes.size();
  for (size_t length : {size_t{1}, size_t{100}, size / 3, size / 2, size - 10, size - 1, size}) {
    Writer writer(photo(), request);
    writer.record().state.progressive = 1;
    std::vector<uint8_t> buffer(length + 64, 0xAA);
    writer.record().jpegBuffer = buffer.data();
    writer.record().jpegBufferSize = static_cast<int32_t>(length);
    EXPECT_EQ(writer.write().status, JpegStatus::OutputBufferTooSmall) << length;
    EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<ptrdiff_t>(length), buffer.end(), [](uint8_t b) {
      return b == 0xAA;
    })) << length;
  }
  Writer writer(photo(), request);
  writer.record().state.progressive = 1;
  std::vector<uint8_t> buffer(size + 1);
  writer.record().jpegBuffer = buffer.data();
  writer.record().jpegBufferSize = static_cast<int32_t>(buffer.size());
  EXPECT_EQ(writer.write().status, JpegStatus::Ok);
}

// --- transcoding and size ----------------------------------------------------------------------

// jpegtran turns our progressive stream into a baseline one and back; all three decode alike.
TEST(ProgressiveEncoder, SurvivesJpegtranToBaselineAndBack) {
  for (const char* source : {"photo_256x192.ppm", "photo_97x61.pgm"}) {
    const Picture picture = encode_test::sourcePicture(source);
    WriteRequest request;
    if (picture.channels == 1) {
      request.pixelColor = JpegColor::Gray;
      request.jpegColor = JpegColor::Gray;
      request.jpegChannels = 1;
      request.subsampling = S::H1V1;
    }
    const WriteResult ours = writeWith(picture, request, true);
    ASSERT_EQ(ours.status, JpegStatus::Ok);
    const std::vector<uint8_t> baseline = jpegtran(ours.bytes, "-copy none");
    ASSERT_FALSE(baseline.empty()) << source;
    const std::vector<uint8_t> codes = codesOf(parseStream(baseline));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xC2), 0) << source;
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xDA), 1) << source;
    const std::vector<uint8_t> back = jpegtran(baseline, "-copy none -progressive");
    ASSERT_FALSE(back.empty()) << source;
    const DjpegResult a = djpegExact(ours.bytes), b = djpegExact(baseline), c = djpegExact(back);
    ASSERT_FALSE(a.picture.bytes.empty());
    EXPECT_EQ(a.picture.bytes, b.picture.bytes) << source;
    EXPECT_EQ(a.picture.bytes, c.picture.bytes) << source;
  }
}

// Per-scan optimal tables make the progressive stream smaller than the baseline one with the
// default tables on photo-like pictures.
TEST(ProgressiveEncoder, IsSmallerThanBaselineOnPhotos) {
  for (const char* source : {"photo_256x192.ppm", "photo_97x61.ppm", "photo_97x61.pgm"}) {
    const Picture picture = encode_test::sourcePicture(source);
    for (int quality : {50, 75, 95}) {
      WriteRequest request;
      request.quality = quality;
      if (picture.channels == 1) {
        request.pixelColor = JpegColor::Gray;
        request.jpegColor = JpegColor::Gray;
        request.jpegChannels = 1;
        request.subsampling = S::H1V1;
      }
      const WriteResult progressive = writeWith(picture, request, true);
      const WriteResult baseline = writeWith(picture, request, false);
      ASSERT_EQ(progressive.status, JpegStatus::Ok);
      ASSERT_EQ(baseline.status, JpegStatus::Ok);
      EXPECT_LT(progressive.bytes.size(), baseline.bytes.size()) << source << " quality " << quality;
      RecordProperty(std::string(source) + "_q" + std::to_string(quality),
                     std::to_string(progressive.bytes.size()) + "/" + std::to_string(baseline.bytes.size()));
    }
  }
}

// `meshwick-jpeg encode --progressive` writes what jpegWrite writes for the same picture.
TEST(ProgressiveEncoder, CommandLineWritesTheProgressiveStream) {
  const std::string source = std::string(MESHWICK_TEST_DATA) + "/sources/photo_256x192.ppm";
  for (const char* extra : {"", " --buffer"}) {
    const std::string out = scratchPath("tool.jpg");
    const std::string command =
        std::string(MESHWICK_JPEG_TOOL) + " encode '" + source + "' '" + out + "' --progressive" + extra;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> written = readFile(out);
    std::remove(out.c_str());
    EXPECT_EQ(written, writeWith(encode_test::sourcePicture("photo_256x192.ppm"), WriteRequest{}, true).bytes)
        << extra;
  }
}

}  // namespace
