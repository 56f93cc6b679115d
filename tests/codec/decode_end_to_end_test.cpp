// Whole decodes of small JPEGs made at test time with cjpeg, checked against djpeg, and the
// driver's behaviour across calls: interrupt and resume, bottom-up buffers, scaled modes,
// truncated input, tables read before the image, a second image on one record.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/pnm_image.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using test::readBytes;
using Pixels = test::Image;

Pixels parsePnm(const Bytes& bytes) {
  return test::parsePnm(bytes).value_or(Pixels{});
}

// A temporary directory with a photo-like source picture and JPEGs made from it.
class Workspace {
 public:
  Workspace() { writeSource(61, 37); }

  // cjpeg with `options` on the source; the path of the result.
  fs::path encode(const std::string& name, const std::string& options) const {
    return dir_.run("cjpeg " + options, dir_.file("source.ppm"), name + ".jpg");
  }

  // djpeg's pixels of a JPEG (PGM for one component, PPM otherwise).
  Pixels reference(const fs::path& jpeg, const std::string& options = "") const {
    return parsePnm(
        readBytes(dir_.run("djpeg -dct int -nosmooth " + options + " -pnm", jpeg, "reference.pnm")));
  }

 private:
  // Smooth gradients with a few sharp edges, like a photograph at small scale.
  void writeSource(int width, int height) {
    std::ofstream out(dir_.file("source.ppm"), std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const bool edge = (x / 9 + y / 7) % 3 == 0;
        out.put(static_cast<char>((x * 4 + y) & 0xFF));
        out.put(static_cast<char>(edge ? 230 : (y * 6) & 0xFF));
        out.put(static_cast<char>(edge ? 20 : 255 - x * 3));
      }
    }
  }

  test::TempDir dir_{"e2e"};
};

// Decodes a JPEG file into top-down pixels of `color` with `channels` bytes.
JpegStatus decodeFile(const fs::path& path, JpegIoMode fileMode, JpegColor color, int channels,
                      int dctVariant, bool useBuffer, Pixels* pixels, int scale = 1) {
  TestRecord record;
  Bytes bytes = readBytes(path);
  const std::string name = path.string();
  record->jpegFileName = name.c_str();
  record.useBuffer(bytes);
  const int offset = useBuffer ? 1 : 0;
  record->state.dctVariant = dctVariant;
  JpegStatus status = record.read(static_cast<JpegIoMode>(0 + offset));
  if (status != JpegStatus::Ok) return status;
  pixels->width = (record->jpegWidth + scale - 1) / scale;
  pixels->height = (record->jpegHeight + scale - 1) / scale;
  pixels->channels = channels;
  pixels->pixels.assign(static_cast<size_t>(pixels->width * pixels->height * channels), 0);
  record->pixelData = pixels->pixels.data();
  record->pixelWidth = pixels->width;
  record->pixelHeight = pixels->height;
  record->pixelChannels = channels;
  record->pixelColor = color;
  return record.read(static_cast<JpegIoMode>(static_cast<int>(fileMode) + offset));
}

struct Difference {
  int max = 0;
  double mean = 0;
};

Difference compare(const Pixels& a, const Pixels& b) {
  Difference d;
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.pixels.size(), b.pixels.size());
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return {999, 999};
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const int diff = std::abs(a.pixels[i] - b.pixels[i]);
    d.max = std::max(d.max, diff);
    sum += diff;
  }
  d.mean = sum / static_cast<double>(a.pixels.size());
  return d;
}

struct SamplingCase {
  const char* name;
  const char* cjpegOptions;
  bool grey;
};

class DecodeEndToEnd : public ::testing::TestWithParam<SamplingCase> {};

// Both decoders use accurate integer transforms; they differ in rounding (ours keeps 8
// fractional bits in the colour terms, djpeg 16), so a colour sample may differ by up to 3
// levels and a grey one by 1, and most samples agree.
TEST_P(DecodeEndToEnd, MatchesDjpegInEveryInputModeAndTransform) {
  Workspace workspace;
  const SamplingCase& c = GetParam();
  const fs::path jpeg = workspace.encode(c.name, c.cjpegOptions);
  const Pixels expected = workspace.reference(jpeg);
  const int maxAllowed = c.grey ? 1 : 3;
  for (const bool useBuffer : {false, true}) {
    for (const int variant : {0, 1}) {
      Pixels ours;
      ASSERT_EQ(decodeFile(jpeg, JpegIoMode::FileReadImage, c.grey ? JpegColor::Gray : JpegColor::Rgb,
                           c.grey ? 1 : 3, variant, useBuffer, &ours),
                JpegStatus::Ok);
      const Difference d = compare(ours, expected);
      EXPECT_LE(d.max, maxAllowed) << "buffer " << useBuffer << " variant " << variant;
      EXPECT_LT(d.mean, 0.6) << "buffer " << useBuffer << " variant " << variant;
    }
  }
}

TEST_P(DecodeEndToEnd, ScaledModesMatchDjpegScaling) {
  Workspace workspace;
  const SamplingCase& c = GetParam();
  const fs::path jpeg = workspace.encode(c.name, c.cjpegOptions);
  const std::pair<int, JpegIoMode> scales[] = {
      {2, JpegIoMode::FileReadHalf}, {4, JpegIoMode::FileReadQuarter}, {8, JpegIoMode::FileReadEighth}};
  for (const auto& [scale, mode] : scales) {
    const Pixels expected = workspace.reference(jpeg, "-scale 1/" + std::to_string(scale));
    Pixels ours;
    ASSERT_EQ(decodeFile(jpeg, mode, c.grey ? JpegColor::Gray : JpegColor::Rgb, c.grey ? 1 : 3, 1, false,
                         &ours, scale),
              JpegStatus::Ok);
    const Difference d = compare(ours, expected);
    EXPECT_LE(d.max, 3) << "1/" << scale;
    EXPECT_LT(d.mean, 0.6) << "1/" << scale;
  }
}

INSTANTIATE_TEST_SUITE_P(Samplings, DecodeEndToEnd,
                         ::testing::Values(SamplingCase{"H1V1", "-sample 1x1", false},
                                           SamplingCase{"H2V1", "-sample 2x1", false},
                                           SamplingCase{"H2V2", "-sample 2x2", false},
                                           SamplingCase{"H2V2Restarts", "-sample 2x2 -restart 1B", false},
                                           SamplingCase{"Grey", "-grayscale", true}),
                         [](const ::testing::TestParamInfo<SamplingCase>& info) {
                           return std::string(info.param.name);
                         });

// Reads in `mode` with the interrupt requested before every call until the decode completes.
JpegStatus decodeInterrupted(TestRecord& record, JpegIoMode mode, int* interruptions) {
  *interruptions = 0;
  for (;;) {
    record->state.interruptRequest = 1;
    const JpegStatus status = record.read(mode);
    if (status != JpegStatus::InterruptOk) return status;
    ++*interruptions;
    EXPECT_EQ(record->state.interruptRequest, 0);
    EXPECT_GT(record->state.regionOfInterest[2], 0);
    if (*interruptions > 10000) return JpegStatus::InternalError;
  }
}

TEST(DecodeDriver, InterruptedDecodeResumesToTheSameImage) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("interrupt", "-sample 2x2 -restart 1B");
  for (const bool useBuffer : {false, true}) {
    Pixels whole;
    ASSERT_EQ(decodeFile(jpeg, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, useBuffer, &whole),
              JpegStatus::Ok);

    TestRecord record;
    Bytes bytes = readBytes(jpeg);
    const std::string name = jpeg.string();
    record->jpegFileName = name.c_str();
    record.useBuffer(bytes);
    const int offset = useBuffer ? 1 : 0;
    ASSERT_EQ(record.read(static_cast<JpegIoMode>(offset)), JpegStatus::Ok);
    Pixels pieces = whole;
    std::fill(pieces.pixels.begin(), pieces.pixels.end(), 0);
    record->pixelData = pieces.pixels.data();
    record->pixelWidth = pieces.width;
    record->pixelHeight = pieces.height;
    int interruptions = 0;
    ASSERT_EQ(decodeInterrupted(record, static_cast<JpegIoMode>(2 + offset), &interruptions), JpegStatus::Ok);
    // One interruption after every MCU but the last: 4 x 3 MCUs of 16 x 16.
    EXPECT_EQ(interruptions, 4 * 3 - 1);
    EXPECT_EQ(pieces.pixels, whole.pixels) << "buffer " << useBuffer;
  }
}

TEST(DecodeDriver, BottomUpBufferHoldsTheRowsInReverse) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("flip", "-sample 2x2");
  Pixels topDown;
  ASSERT_EQ(decodeFile(jpeg, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, true, &topDown),
            JpegStatus::Ok);

  TestRecord record;
  Bytes bytes = readBytes(jpeg);
  record.useBuffer(bytes);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  const int stride = topDown.width * 3 + 3;
  Bytes memory(static_cast<size_t>(stride * topDown.height), 0xCD);
  record->pixelData = memory.data();
  record->pixelWidth = topDown.width;
  record->pixelHeight = -topDown.height;
  record->pixelPadBytes = 3;
  ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  for (int y = 0; y < topDown.height; ++y) {
    const uint8_t* memoryRow = memory.data() + (topDown.height - 1 - y) * stride;
    const uint8_t* expectedRow = topDown.pixels.data() + y * topDown.width * 3;
    ASSERT_TRUE(std::equal(expectedRow, expectedRow + topDown.width * 3, memoryRow)) << "row " << y;
    EXPECT_EQ(memoryRow[topDown.width * 3], 0xCD) << "padding of row " << y;
  }
}

TEST(DecodeDriver, PixelBufferSmallerThanTheImageIsRefused) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("small", "-sample 2x2");
  Bytes bytes = readBytes(jpeg);
  const std::pair<JpegIoMode, int> modes[] = {
      {JpegIoMode::BufferReadImage, 1}, {JpegIoMode::BufferReadHalf, 2}, {JpegIoMode::BufferReadEighth, 8}};
  for (const auto& [mode, scale] : modes) {
    for (const bool narrower : {true, false}) {
      TestRecord record;
      record.useBuffer(bytes);
      ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
      const int width = (record->jpegWidth + scale - 1) / scale - (narrower ? 1 : 0);
      const int height = (record->jpegHeight + scale - 1) / scale - (narrower ? 0 : 1);
      Bytes memory(static_cast<size_t>(width * height * 3), 0x5A);
      record->pixelData = memory.data();
      record->pixelWidth = width;
      record->pixelHeight = height;
      EXPECT_EQ(record.read(mode), JpegStatus::InvalidProperties) << scale;
      EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](uint8_t b) { return b == 0x5A; }));
    }
  }
}

TEST(DecodeDriver, MemoryStreamCutInsideTheScanDecodesToTheEnd) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("cut", "-sample 2x2");
  Bytes whole = readBytes(jpeg);
  Pixels full;
  ASSERT_EQ(decodeFile(jpeg, JpegIoMode::FileReadImage, JpegColor::Rgb, 3, 1, true, &full), JpegStatus::Ok);
  // Keep the headers and two thirds of the entropy-coded data, in a buffer of exactly that size.
  size_t scanStart = 2;
  while (scanStart + 4 < whole.size() && whole[scanStart + 1] != 0xDA) {
    scanStart += 2 + static_cast<size_t>(whole[scanStart + 2] << 8 | whole[scanStart + 3]);
  }
  const size_t keep = scanStart + (whole.size() - scanStart) * 2 / 3;
  Bytes cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(keep));
  TestRecord record;
  record.useBuffer(cut);
  ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
  Pixels ours = full;
  std::fill(ours.pixels.begin(), ours.pixels.end(), 0);
  record->pixelData = ours.pixels.data();
  record->pixelWidth = ours.width;
  record->pixelHeight = ours.height;
  record->pixelColor = JpegColor::Rgb;
  EXPECT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
  EXPECT_LE(record->state.input.consumed, cut.size());
  // The first rows came from real data.
  EXPECT_TRUE(std::equal(full.pixels.begin(), full.pixels.begin() + ours.width * 3 * 8, ours.pixels.begin()));
}

// A file whose entropy-coded data ends without a marker is a file error.
TEST(DecodeDriver, FileCutInsideTheScanIsAFileError) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("filecut", "-sample 2x2");
  Bytes whole = readBytes(jpeg);
  const fs::path cutPath = jpeg.parent_path() / "cut.jpg";
  whole.resize(whole.size() - 200);
  test::writeBytes(cutPath, whole);
  Pixels ours;
  EXPECT_EQ(decodeFile(cutPath, JpegIoMode::FileReadImage, JpegColor::Rgb, 3, 1, false, &ours),
            JpegStatus::FileError);
}

// Splits a cjpeg stream into a tables-only stream (SOI, DQT, DHT, EOI) and the image without
// its tables (SOI, frame, scan, EOI).
void splitTables(const Bytes& whole, Bytes* tables, Bytes* image) {
  *tables = {0xFF, 0xD8};
  *image = {0xFF, 0xD8};
  size_t pos = 2;
  while (pos + 4 <= whole.size()) {
    const uint8_t marker = whole[pos + 1];
    const size_t length = static_cast<size_t>(whole[pos + 2] << 8 | whole[pos + 3]);
    Bytes* target = marker == 0xDB || marker == 0xC4 ? tables : image;
    if (marker == 0xDA) {
      image->insert(image->end(), whole.begin() + static_cast<ptrdiff_t>(pos), whole.end());
      break;
    }
    target->insert(target->end(), whole.begin() + static_cast<ptrdiff_t>(pos),
                   whole.begin() + static_cast<ptrdiff_t>(pos + 2 + length));
    pos += 2 + length;
  }
  tables->insert(tables->end(), {0xFF, 0xD9});
}

TEST(DecodeDriver, TablesReadFirstServeAnImageWithoutTables) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("abbreviated", "-sample 2x1");
  Bytes whole = readBytes(jpeg);
  Pixels expected;
  ASSERT_EQ(decodeFile(jpeg, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, true, &expected),
            JpegStatus::Ok);
  Bytes tables;
  Bytes image;
  splitTables(whole, &tables, &image);

  // Tables mode, then the image alone in the no-tables mode.
  {
    TestRecord record;
    record.useBuffer(tables);
    ASSERT_EQ(record.read(JpegIoMode::BufferReadTables), JpegStatus::Ok);
    EXPECT_EQ(record->state.noFrameYet, 1);
    Pixels ours = expected;
    std::fill(ours.pixels.begin(), ours.pixels.end(), 0);
    record.useBuffer(image);
    record->pixelData = ours.pixels.data();
    record->pixelWidth = ours.width;
    record->pixelHeight = ours.height;
    ASSERT_EQ(record.read(JpegIoMode::BufferReadImageNoTables), JpegStatus::Ok);
    EXPECT_EQ(ours.pixels, expected.pixels);
  }
  // One stream: tables, EOI, SOI, image, read in the image mode.
  {
    Bytes joined = tables;
    joined.insert(joined.end(), image.begin(), image.end());
    TestRecord record;
    record.useBuffer(joined);
    Pixels ours = expected;
    std::fill(ours.pixels.begin(), ours.pixels.end(), 0);
    record->pixelData = ours.pixels.data();
    record->pixelWidth = ours.width;
    record->pixelHeight = ours.height;
    ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok);
    EXPECT_EQ(ours.pixels, expected.pixels);
  }
  // The image alone, without tables anywhere.
  {
    TestRecord record;
    record.useBuffer(image);
    Pixels ours = expected;
    record->pixelData = ours.pixels.data();
    record->pixelWidth = ours.width;
    record->pixelHeight = ours.height;
    EXPECT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::NoHuffmanTable);
  }
}

TEST(DecodeDriver, SecondImageOnTheSameRecordStartsAfresh) {
  Workspace workspace;
  const fs::path progressive = workspace.encode("first", "-progressive -sample 2x2");
  const fs::path sequential = workspace.encode("second", "-sample 1x1 -restart 2B");
  Pixels expectedFirst;
  Pixels expectedSecond;
  ASSERT_EQ(decodeFile(progressive, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, true, &expectedFirst),
            JpegStatus::Ok);
  ASSERT_EQ(decodeFile(sequential, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, true, &expectedSecond),
            JpegStatus::Ok);

  TestRecord record;
  for (const fs::path& path : {progressive, sequential, progressive}) {
    Bytes bytes = readBytes(path);
    record.useBuffer(bytes);
    ASSERT_EQ(record.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
    Pixels ours;
    ours.width = record->jpegWidth;
    ours.height = record->jpegHeight;
    ours.pixels.assign(static_cast<size_t>(ours.width * ours.height * 3), 0);
    record->pixelData = ours.pixels.data();
    record->pixelWidth = ours.width;
    record->pixelHeight = ours.height;
    ASSERT_EQ(record.read(JpegIoMode::BufferReadImage), JpegStatus::Ok) << path;
    EXPECT_EQ(ours.pixels, path == sequential ? expectedSecond.pixels : expectedFirst.pixels) << path;
  }
}

// Restart markers carry a number, which the decoder does not compare with the one expected.
TEST(DecodeDriver, RestartMarkersOutOfSequenceDecodeTheSame) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("restarts", "-sample 2x2 -restart 2B");
  Bytes bytes = readBytes(jpeg);
  int renumbered = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7) {
      bytes[i + 1] = static_cast<uint8_t>(0xD7 - renumbered % 8);
      ++renumbered;
    }
  }
  ASSERT_GT(renumbered, 2);
  const fs::path shuffled = jpeg.parent_path() / "shuffled.jpg";
  {
    std::ofstream out(shuffled, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  Pixels expected;
  Pixels ours;
  ASSERT_EQ(decodeFile(jpeg, JpegIoMode::FileReadImage, JpegColor::Rgb, 3, 1, false, &expected),
            JpegStatus::Ok);
  ASSERT_EQ(decodeFile(shuffled, JpegIoMode::FileReadImage, JpegColor::Rgb, 3, 1, false, &ours),
            JpegStatus::Ok);
  EXPECT_EQ(ours.pixels, expected.pixels);
}

// One scan per component: each is stored into its channel, then the whole picture is converted
// in place. That conversion rounds green differently from the whole-MCU kernels (by one level).
TEST(DecodeDriver, ComponentByComponentScansGiveTheInterleavedPicture) {
  Workspace workspace;
  const fs::path interleaved = workspace.encode("interleaved", "-sample 2x2");
  const fs::path script = interleaved.parent_path() / "scans.txt";
  {
    std::ofstream out(script);
    out << "0;\n1;\n2;\n";
  }
  const fs::path separate = workspace.encode("separate", "-sample 2x2 -scans " + script.string());
  for (const bool useBuffer : {false, true}) {
    Pixels expected;
    Pixels ours;
    ASSERT_EQ(decodeFile(interleaved, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, useBuffer, &expected),
              JpegStatus::Ok);
    ASSERT_EQ(decodeFile(separate, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, useBuffer, &ours),
              JpegStatus::Ok);
    const Difference d = compare(ours, expected);
    EXPECT_LE(d.max, 1) << "buffer " << useBuffer;
  }
  // Without its EOI the picture still gets its final colour conversion.
  Bytes bytes = readBytes(separate);
  ASSERT_EQ(bytes[bytes.size() - 1], 0xD9);
  bytes.resize(bytes.size() - 2);
  const fs::path cut = separate.parent_path() / "no_eoi.jpg";
  {
    std::ofstream out(cut, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  Pixels whole;
  Pixels ours;
  ASSERT_EQ(decodeFile(separate, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, true, &whole),
            JpegStatus::Ok);
  ASSERT_EQ(decodeFile(cut, JpegIoMode::FileReadImage, JpegColor::Bgr, 3, 1, true, &ours), JpegStatus::Ok);
  EXPECT_EQ(ours.pixels, whole.pixels);
}

// The command-line tool: exit 0 on success, 1 with the status on failure, 2 on usage errors.
TEST(DecodeTool, ExitCodesAndLimits) {
  Workspace workspace;
  const fs::path jpeg = workspace.encode("tool", "-sample 2x2");
  const std::string tool = MESHWICK_JPEG_TOOL;
  const fs::path out = jpeg.parent_path() / "out.ppm";
  const auto run = [&](const std::string& arguments) {
    const int status = std::system((tool + " " + arguments + " > /dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("info " + jpeg.string()), 0);
  EXPECT_EQ(run("decode " + jpeg.string() + " " + out.string()), 0);
  EXPECT_EQ(run("decode " + jpeg.string() + " " + out.string() + " --buffer --scale 4 --dct 0"), 0);
  EXPECT_EQ(run("decode " + jpeg.string() + " " + out.string() + " --max-bytes 100"), 1);
  EXPECT_EQ(run("decode /nonexistent.jpg " + out.string()), 1);
  EXPECT_EQ(run("decode " + jpeg.string() + " " + out.string() + " --thumbnail"), 1);
  EXPECT_EQ(run(""), 2);
  EXPECT_EQ(run("frobnicate"), 2);
  EXPECT_EQ(run("decode " + jpeg.string()), 2);
  EXPECT_EQ(run("decode " + jpeg.string() + " out.png"), 2);
  EXPECT_EQ(run("decode " + jpeg.string() + " " + out.string() + " --scale 3"), 2);
  EXPECT_EQ(run("decode " + jpeg.string() + " " + out.string() + " --dct 2"), 2);
}

}  // namespace
