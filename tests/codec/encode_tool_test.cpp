// meshwick-jpeg encode: inputs checked at the edge, options carried into the stream, exit
// status 0 / 1 / 2.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <string>
#include <vector>

#include "encode_support.h"
#include "tests/document/bmp/bmp_fixtures.h"

namespace {

using encode_test::findMarker;
using encode_test::parseMarkers;
using encode_test::Picture;
using encode_test::readFile;
using encode_test::tempPath;
using encode_test::writeFile;
using Bytes = std::vector<uint8_t>;

struct ToolRun {
  int exitCode = -1;
  std::string errors;
};

ToolRun runEncode(const std::string& arguments) {
  const std::string err = tempPath("stderr.txt");
  const std::string command =
      std::string("'") + MESHWICK_JPEG_TOOL + "' encode " + arguments + " 2> '" + err + "'";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const Bytes errors = readFile(err);
  run.errors.assign(errors.begin(), errors.end());
  std::remove(err.c_str());
  return run;
}

std::string quoted(const std::string& path) {
  return "'" + path + "'";
}

// 24-bit BMP, bottom-up, rows padded to four bytes.
Bytes bmpOf(const Picture& rgb) {
  const uint32_t stride = (static_cast<uint32_t>(rgb.width) * 3 + 3) & ~3u;
  const uint32_t size = 54 + stride * static_cast<uint32_t>(rgb.height);
  Bytes b(size, 0);
  auto put = [&](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<uint32_t>(rgb.width), 4);
  put(22, static_cast<uint32_t>(rgb.height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < rgb.height; ++y) {
    uint8_t* row = b.data() + 54 + stride * static_cast<uint32_t>(rgb.height - 1 - y);
    for (int x = 0; x < rgb.width; ++x) {
      const uint8_t* p = rgb.at(x, y);
      row[x * 3] = p[2];
      row[x * 3 + 1] = p[1];
      row[x * 3 + 2] = p[0];
    }
  }
  return b;
}

const std::string kSource = std::string(MESHWICK_TEST_DATA) + "/sources/photo_97x61.ppm";

TEST(EncoderTool, WritesAStreamDjpegReadsSilently) {
  const std::string out = tempPath("out.jpg");
  const ToolRun run =
      runEncode(quoted(kSource) + " " + quoted(out) + " --quality 90 --sampling 422 --restart 5");
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const Bytes stream = readFile(out);
  const auto decoded = encode_test::decodeWithDjpeg(stream);
  EXPECT_EQ(decoded.errors, "");
  // Measured 29.89 dB; the floor leaves about 1 dB for other djpeg versions.
  EXPECT_GE(encode_test::psnr(decoded.picture, encode_test::sourcePicture("photo_97x61.ppm")), 29.0);
  const auto markers = parseMarkers(stream);
  ASSERT_NE(findMarker(markers, 0xDD), nullptr);
  EXPECT_EQ(findMarker(markers, 0xDD)->payload, (Bytes{0, 5}));
  EXPECT_EQ(findMarker(markers, 0xC0)->payload[7], 0x21);  // luma 2x1
  std::remove(out.c_str());
}

// The same picture as PPM and as bottom-up BMP, written to a file or through memory, gives
// one and the same stream: B, G, R rows read bottom-up convert exactly as R, G, B rows.
TEST(EncoderTool, InputFormatAndOutputPathDoNotChangeTheStream) {
  const std::string bmp = tempPath("in.bmp");
  writeFile(bmp, bmpOf(encode_test::sourcePicture("photo_97x61.ppm")));
  const std::string a = tempPath("a.jpg"), b = tempPath("b.jpg"), c = tempPath("c.jpg");
  ASSERT_EQ(runEncode(quoted(kSource) + " " + quoted(a)).exitCode, 0);
  ASSERT_EQ(runEncode(quoted(bmp) + " " + quoted(b)).exitCode, 0);
  ASSERT_EQ(runEncode(quoted(kSource) + " " + quoted(c) + " --buffer").exitCode, 0);
  const Bytes stream = readFile(a);
  EXPECT_FALSE(stream.empty());
  EXPECT_EQ(readFile(b), stream);
  EXPECT_EQ(readFile(c), stream);
  for (const std::string& path : {bmp, a, b, c}) std::remove(path.c_str());
}

// A PPM or PGM whose raster ends exactly at a page boundary, the header padded with a comment:
// a whole-vector load past the last pixel would leave the file's pages.
Bytes pageAlignedPnm(int width, int height, int channels) {
  const size_t raster =
      static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels);
  const std::string size = std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  const std::string head = channels == 1 ? "P5\n#" : "P6\n#";
  const size_t fixed = head.size() + 1 + size.size() + raster;
  const size_t total = (fixed + 4095) / 4096 * 4096;
  const std::string header = head + std::string(total - fixed, 'x') + "\n" + size;
  Bytes file(header.begin(), header.end());
  for (size_t i = 0; i < raster; ++i) file.push_back(static_cast<uint8_t>((i * 7 + i / 97) & 0xFF));
  return file;
}

// The tool maps a regular input file and reads anything else (a pipe): one stream either way,
// also when the raster ends at a page boundary, for every layout the encoder reads.
TEST(EncoderTool, MappedAndPipedInputsGiveOneStream) {
  struct Case {
    int width, height, channels;
    const char* options;
  };
  const Case cases[] = {
      {64, 63, 3, "--sampling 420"},
      {61, 67, 3, "--sampling 444"},
      {45, 91, 3, "--gray"},
      {128, 32, 1, ""},
      {33, 17, 3, "--rgb --restart 2"},
      {77, 53, 3, "--progressive"},
  };
  const std::string in = tempPath("aligned.pnm"), mapped = tempPath("mapped.jpg"),
                    piped = tempPath("piped.jpg");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Bytes file = pageAlignedPnm(c.width, c.height, c.channels);
    ASSERT_EQ(file.size() % 4096, 0u);
    writeFile(in, file);
    ASSERT_EQ(runEncode(quoted(in) + " " + quoted(mapped) + " " + c.options).exitCode, 0);
    ASSERT_EQ(runEncode("/dev/stdin " + quoted(piped) + " " + c.options + " < " + quoted(in)).exitCode, 0);
    const Bytes stream = readFile(mapped);
    EXPECT_FALSE(stream.empty());
    EXPECT_EQ(readFile(piped), stream);
    EXPECT_EQ(encode_test::decodeWithDjpeg(stream).errors, "");
  }
  for (const std::string& path : {in, mapped, piped}) std::remove(path.c_str());
}

// Every BMP kind the app reads, the tool reads too, as the pixels its PPM holds: both give one
// and the same stream.
TEST(EncoderTool, ReadsEveryBmpKindAsTheSamePixelsAsItsPpm) {
  const std::string fromBmp = tempPath("bmp.jpg"), fromPpm = tempPath("ppm.jpg");
  for (const test::BmpFixture& f : test::kBmpFixtures) {
    SCOPED_TRACE(f.name);
    const std::string base = std::string(MESHWICK_TEST_DATA) + "/bmp/" + f.name;
    const std::string options = " --quality 95 --sampling 444";
    ASSERT_EQ(runEncode(quoted(base + ".bmp") + " " + quoted(fromBmp) + options).exitCode, 0);
    ASSERT_EQ(runEncode(quoted(base + ".ppm") + " " + quoted(fromPpm) + options).exitCode, 0);
    EXPECT_EQ(readFile(fromBmp), readFile(fromPpm));
  }
  std::remove(fromBmp.c_str());
  std::remove(fromPpm.c_str());
}

// A refused BMP is named with the reader's reason.
TEST(EncoderTool, RefusedBmpNamesTheFileAndTheReason) {
  const std::string in = tempPath("cut.bmp"), out = tempPath("cut.jpg");
  Bytes bmp = bmpOf(encode_test::sourcePicture("photo_17x9.ppm"));
  bmp.resize(bmp.size() - 1);
  writeFile(in, bmp);
  const ToolRun run = runEncode(quoted(in) + " " + quoted(out));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find(in + ": the pixel data is cut short"), std::string::npos) << run.errors;
  std::remove(in.c_str());
  std::remove(out.c_str());
}

TEST(EncoderTool, OptionsReachTheStream) {
  struct Case {
    const char* options;
    uint8_t components;
    bool adobe;
  };
  const Case cases[] = {{"--gray", 1, false}, {"--rgb", 3, true}, {"--sampling 444 --dct 0", 3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string out = tempPath("opt.jpg");
    ASSERT_EQ(
        runEncode(quoted(kSource) + " " + quoted(out) + " " + c.options + " --comment 'made here'").exitCode,
        0);
    const Bytes stream = readFile(out);
    const auto markers = parseMarkers(stream);
    EXPECT_EQ(findMarker(markers, 0xC0)->payload[5], c.components);
    EXPECT_EQ(findMarker(markers, 0xEE) != nullptr, c.adobe);
    const Bytes comment = findMarker(markers, 0xFE)->payload;
    EXPECT_EQ(std::string(comment.begin(), comment.end()), "made here");
    EXPECT_EQ(encode_test::decodeWithDjpeg(stream).errors, "");
    std::remove(out.c_str());
  }
}

TEST(EncoderTool, BadInputAndBadUsageAreReported) {
  struct Case {
    const char* name;
    std::string content;  // written to the input file; empty: no input file at all
    std::string options;
    int exitCode;
  };
  const Case cases[] = {
      {"16-bit samples", "P6\n4 4\n65535\n", "", 1},
      {"zero width", "P6\n0 4\n255\n", "", 1},
      {"too wide", "P6\n70000 1\n255\n", "", 1},
      {"short raster", "P6\n4 4\n255\nabc", "", 1},
      {"not a picture", "hello", "", 1},
      {"truncated BMP", "BM\x10", "", 1},
      {"PAM without ENDHDR", "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\n", "", 1},
      {"missing input", "", "", 1},
      {"empty file", std::string(1, '\0'), "", 1},
      {"quality out of range", "P5\n1 1\n255\nx", "--quality 101", 2},
      {"unknown option", "P5\n1 1\n255\nx", "--fast", 2},
      {"bad sampling", "P5\n1 1\n255\nx", "--sampling 411", 2},
      {"rgb with 420", "P6\n1 1\n255\nxyz", "--rgb --sampling 420", 2},
      {"rgb of gray", "P5\n1 1\n255\nx", "--rgb", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = tempPath("bad.ppm"), out = tempPath("bad.jpg");
    std::remove(in.c_str());
    // A lone NUL stands for an empty file.
    if (c.content == std::string(1, '\0'))
      writeFile(in, {});
    else if (!c.content.empty())
      writeFile(in, Bytes(c.content.begin(), c.content.end()));
    const ToolRun run = runEncode(quoted(in) + " " + quoted(out) + " " + c.options);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE(run.errors.find("meshwick-jpeg encode:"), std::string::npos) << run.errors;
    std::remove(in.c_str());
    std::remove(out.c_str());
  }
  EXPECT_EQ(runEncode("").exitCode, 2);
  EXPECT_EQ(runEncode(quoted(kSource) + " '/nonexistent-dir/x.jpg'").exitCode, 1);
}

}  // namespace
