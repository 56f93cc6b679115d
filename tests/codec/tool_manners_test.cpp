// meshwick-jpeg as a new user meets it: the help, the messages that name the file or option and
// the reason, the refused output names, CMYK pictures written as the app shows them, and the
// notes on truncated files and cut regions.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "encode_support.h"

namespace {

namespace fs = std::filesystem;
using encode_test::readFile;
using encode_test::tempPath;
using Bytes = std::vector<uint8_t>;

struct ToolRun {
  int exitCode = -1;
  std::string output;
  std::string errors;
};

std::string textOf(const std::string& path) {
  const Bytes bytes = readFile(path);
  return {bytes.begin(), bytes.end()};
}

// `shellPrefix` runs first in the shell that starts the tool (limits, for one).
ToolRun runTool(const std::string& arguments, const std::string& shellPrefix = "") {
  const std::string out = tempPath("stdout.txt"), err = tempPath("stderr.txt");
  const std::string command =
      shellPrefix + "'" + MESHWICK_JPEG_TOOL + "' " + arguments + " > '" + out + "' 2> '" + err + "'";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.output = textOf(out);
  run.errors = textOf(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::string kJpegs = std::string(MESHWICK_TEST_DATA) + "/jpeg/";
const std::string kSource = std::string(MESHWICK_TEST_DATA) + "/sources/photo_97x61.ppm";

const std::vector<std::string> kDecodeOptions = {"decode",  "--scale",  "--thumbnail", "--dct",
                                                 "--fancy", "--buffer", "--max-bytes", "--region"};
const std::vector<std::string> kEncodeOptions = {"encode",    "--quality",    "--sampling", "--gray",
                                                 "--rgb",     "--restart",    "--dct",      "--buffer",
                                                 "--comment", "--progressive"};

std::vector<std::string> everyOption() {
  std::vector<std::string> all = {"info", "--help"};
  all.insert(all.end(), kDecodeOptions.begin(), kDecodeOptions.end());
  all.insert(all.end(), kEncodeOptions.begin(), kEncodeOptions.end());
  return all;
}

// The help alone lists every command and option; after a command, that command's.
TEST(ToolManners, HelpPrintsTheWholeUsageAndExitsZero) {
  const struct {
    const char* arguments;
    std::vector<std::string> options;
  } cases[] = {
      {"--help", everyOption()},           {"-h", everyOption()},
      {"decode --help", kDecodeOptions},   {"encode -h", kEncodeOptions},
      {"info --help", {"info", "IN.jpg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = runTool(c.arguments);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors, "");
    for (const std::string& option : c.options) EXPECT_TRUE(contains(run.output, option)) << option;
  }
}

TEST(ToolManners, ReadmeListsEveryOption) {
  const std::string readme = textOf(std::string(MESHWICK_TEST_DATA) + "/../../README.md");
  ASSERT_FALSE(readme.empty());
  for (const std::string& option : everyOption()) EXPECT_TRUE(contains(readme, option)) << option;
}

// A symbolic link named like an output file whose every write fails for want of space.
std::string fullDeviceNamed(const std::string& name) {
  const std::string path = tempPath(name);
  std::remove(path.c_str());
  EXPECT_EQ(::symlink("/dev/full", path.c_str()), 0);
  return path;
}

TEST(ToolManners, MessagesNameTheFileOrOptionAndTheReason) {
  const std::string jpeg = kJpegs + "p97_420.jpg";
  const std::string ppm = tempPath("out.ppm"), jpg = tempPath("out.jpg");
  const std::string directory = fs::path(tempPath("x")).parent_path().string();
  // A failed write removes the output it began, link included: each case has its own.
  const std::string fullPpm = fullDeviceNamed("full.ppm"), fullJpg = fullDeviceNamed("full.jpg"),
                    fullBufferJpg = fullDeviceNamed("full-buffer.jpg");
  // Output names that lead to the input file itself.
  const std::string linkedInput = tempPath("in.jpg"), linkedOutput = tempPath("in-link.ppm");
  const std::string linkedPicture = tempPath("in.ppm"), linkedJpeg = tempPath("in-link.jpg");
  for (const std::string& path : {linkedInput, linkedOutput, linkedPicture, linkedJpeg})
    std::remove(path.c_str());
  encode_test::writeFile(linkedInput, readFile(jpeg));
  encode_test::writeFile(linkedPicture, readFile(kSource));
  ASSERT_EQ(::symlink(linkedInput.c_str(), linkedOutput.c_str()), 0);
  ASSERT_EQ(::symlink(linkedPicture.c_str(), linkedJpeg.c_str()), 0);
  const Bytes inputBytes = readFile(linkedInput);
  struct Case {
    std::string arguments;
    int exitCode;
    std::string message;  // expected on stderr
  };
  const Case cases[] = {
      {"decode " + jpeg + " " + ppm + " --fast", 2, "--fast"},
      {"encode " + kSource + " " + jpg + " --fast", 2, "--fast"},
      {"frobnicate", 2, "unknown command frobnicate"},
      {"decode " + jpeg, 2, "output is required"},
      {"info /nonexistent/x.jpg", 1, "cannot open /nonexistent/x.jpg: No such file or directory"},
      {"decode /nonexistent/x.jpg " + ppm, 1, "cannot open /nonexistent/x.jpg: No such file or directory"},
      {"decode " + jpeg + " " + ppm + " --buffer --scale 2", 0, ""},
      {"decode " + directory + " " + ppm, 1, "cannot open " + directory + ": Is a directory"},
      {"encode /nonexistent/x.ppm " + jpg, 1, "cannot open /nonexistent/x.ppm: No such file or directory"},
      {"decode " + jpeg + " /nonexistent/x.ppm", 1,
       "cannot write /nonexistent/x.ppm: No such file or directory"},
      {"decode " + jpeg + " " + fullPpm, 1, "cannot write " + fullPpm + ": No space left on device"},
      {"encode " + kSource + " /nonexistent/x.jpg", 1,
       "cannot write /nonexistent/x.jpg: No such file or directory"},
      {"encode " + kSource + " " + fullJpg, 1, "cannot write " + fullJpg + ": No space left on device"},
      {"encode " + kSource + " " + fullBufferJpg + " --buffer", 1,
       "cannot write " + fullBufferJpg + ": No space left on device"},
      {"encode " + kSource + " " + tempPath("out.png"), 2, "must end in .jpg or .jpeg"},
      {"encode " + kSource + " " + tempPath("out.ppm"), 2, "must end in .jpg or .jpeg"},
      {"encode " + kSource + " " + tempPath("out.JPEG"), 0, ""},
      {"decode " + jpeg + " " + tempPath("out.png"), 2, "must end in .ppm, .pgm, .pam or .bmp"},
      {"decode " + kJpegs + "p97_420_truncated.jpg " + ppm, 1,
       "p97_420_truncated.jpg: the file is truncated"},
      {"decode " + jpeg + " " + ppm + " --region 50,20,100,100", 0,
       "region 50,20,100,100 passes the 97x61 image; cut to 50,20,47,41"},
      {"decode " + jpeg + " " + ppm + " --scale 2 --region 40,0,20,31", 0,
       "passes the 49x31 image; cut to 40,0,9,31"},
      {"decode " + jpeg + " " + ppm + " --region 0,0,97,61", 0, ""},
      {"decode " + jpeg + " " + ppm + " --region 97,0,10,10", 1,
       "p97_420.jpg: region 97,0,10,10 lies outside the 97x61 image"},
      {"decode " + jpeg + " " + ppm + " --scale 2 --region 0,31,5,5", 1, "lies outside the 49x31 image"},
      {"decode " + kSource + " " + ppm, 1, "photo_97x61.ppm: Not JPEG"},
      {"info " + kSource, 1, "photo_97x61.ppm: Not JPEG"},
      {"decode " + linkedInput + " " + linkedOutput, 1,
       "cannot write " + linkedOutput + ": it is the input file"},
      {"encode " + linkedPicture + " " + linkedJpeg, 1,
       "cannot write " + linkedJpeg + ": it is the input file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = runTool(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
    if (c.message.empty()) {
      EXPECT_EQ(run.errors, "");
    } else {
      EXPECT_TRUE(contains(run.errors, c.message)) << run.errors;
    }
    // The user reads about files and options, not about the codec's functions or numbers.
    for (const char* internal : {"jpegWrite", "jpegRead", "jpegInit", "status -", "JPEG_PROPERTIES"})
      EXPECT_FALSE(contains(run.errors, internal)) << run.errors;
  }
  EXPECT_EQ(readFile(linkedInput), inputBytes) << "the input survives";
  EXPECT_EQ(readFile(linkedPicture), readFile(kSource)) << "the input survives";
  for (const std::string& path : {ppm, jpg, fullPpm, fullJpg, fullBufferJpg, tempPath("out.JPEG"),
                                  linkedInput, linkedOutput, linkedPicture, linkedJpeg})
    std::remove(path.c_str());
}

TEST(ToolManners, InfoSaysWhetherTheImageDataIsComplete) {
  struct Case {
    const char* file;
    const char* lines;
  };
  const Case cases[] = {
      {"p97_420_truncated.jpg", "image data: truncated"},
      {"p97_420.jpg", "progressive scans: 0\n"},
      {"p97_420.jpg", "image data: complete"},
      {"p97_420_progressive.jpg", "image data: complete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const ToolRun run = runTool("info " + kJpegs + c.file);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(contains(run.output, c.lines)) << run.output;
    EXPECT_FALSE(contains(run.output, "unknown")) << run.output;
  }
}

// Channels of a PAM, PPM or 24-bit BMP picture, top-down, rows without padding.
struct Raster {
  int width = 0;
  int height = 0;
  int channels = 0;
  Bytes pixels;
};

Raster readPam(const std::string& path) {
  const Bytes bytes = readFile(path);
  const std::string text(bytes.begin(), bytes.end());
  Raster r;
  const size_t end = text.find("ENDHDR\n");
  if (std::sscanf(text.c_str(), "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d", &r.width, &r.height, &r.channels) != 3 ||
      end == std::string::npos)
    return {};
  r.pixels.assign(bytes.begin() + static_cast<std::ptrdiff_t>(end + 7), bytes.end());
  return r;
}

Raster readBmp24(const std::string& path) {
  const Bytes b = readFile(path);
  if (b.size() < 54 || b[28] != 24) return {};
  const auto word = [&](size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24; };
  Raster r{word(18), word(22), 3, {}};
  const size_t stride = (static_cast<size_t>(r.width) * 3 + 3) & ~size_t{3};
  for (int y = r.height - 1; y >= 0; --y) {
    const auto row = b.begin() + static_cast<std::ptrdiff_t>(word(10) + stride * static_cast<size_t>(y));
    r.pixels.insert(r.pixels.end(), row, row + r.width * 3);
  }
  return r;
}

TEST(ToolManners, CmykBecomesColourAsTheAppShowsItWhilePamKeepsFourChannels) {
  const auto scale = [](unsigned channel, unsigned k) {
    return static_cast<uint8_t>((channel * k + 1) >> 8);
  };
  for (const char* file : {"p97_cmyk.jpg", "p97_ycck.jpg", "p97_ycck_h2v2.jpg"}) {
    SCOPED_TRACE(file);
    const std::string in = kJpegs + file;
    const std::string pam = tempPath("c.pam"), ppm = tempPath("c.ppm"), bmp = tempPath("c.bmp");
    for (const std::string& out : {pam, ppm, bmp})
      ASSERT_EQ(runTool("decode " + in + " " + out).exitCode, 0) << out;
    const Raster four = readPam(pam);
    ASSERT_EQ(four.channels, 4);
    Bytes rgb, bgr;
    for (size_t i = 0; i + 3 < four.pixels.size(); i += 4) {
      const uint8_t* p = &four.pixels[i];
      const uint8_t r = scale(p[0], p[3]), g = scale(p[1], p[3]), b = scale(p[2], p[3]);
      rgb.insert(rgb.end(), {r, g, b});
      bgr.insert(bgr.end(), {b, g, r});
    }
    const encode_test::Picture fromPpm = encode_test::readPnm(ppm);
    EXPECT_EQ(fromPpm.channels, 3);
    EXPECT_EQ(fromPpm.bytes, rgb);
    const Raster fromBmp = readBmp24(bmp);
    EXPECT_EQ(fromBmp.width, four.width);
    EXPECT_EQ(fromBmp.pixels, bgr);
    for (const std::string& path : {pam, ppm, bmp}) std::remove(path.c_str());
  }
}

}  // namespace

namespace {

// Noise that no transform compresses much: its JPEG at quality 100 is large.
encode_test::Picture noisePicture(int width, int height) {
  encode_test::Picture p{width, height, 3, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  uint32_t state = 12345;
  for (uint8_t& byte : p.bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return p;
}

// Files may grow to `bytes` (whole 512-byte blocks); the signal a longer write raises is
// ignored, so that the write fails with "File too large" instead.
std::string fileSizeLimit(int64_t bytes) {
  return "trap '' XFSZ; ulimit -f " + std::to_string(bytes / 512) + "; ";
}

}  // namespace

TEST(ToolManners, AWriteThatFailsPartWayRemovesTheFileAndSaysWhy) {
  const std::string noisePpm = tempPath("noise.ppm"), noiseJpg = tempPath("noise.jpg");
  const std::string flatPpm = tempPath("flat.ppm"), flatJpg = tempPath("flat.jpg");
  encode_test::writePnm(noisePpm, noisePicture(512, 512));
  // 17 MiB of pixels: decoded into the mapped output file rather than written from memory.
  encode_test::writePnm(flatPpm, encode_test::solidPicture(2400, 2400, {40, 90, 200}));
  ASSERT_EQ(runTool("encode " + noisePpm + " " + noiseJpg + " --quality 100 --sampling 444").exitCode, 0);
  ASSERT_EQ(runTool("encode " + flatPpm + " " + flatJpg).exitCode, 0);
  ASSERT_GT(readFile(noiseJpg).size(), 400000u);
  struct Case {
    const char* name;
    std::string arguments;  // the output is appended
    std::string output;
    int64_t limit;
  };
  const Case cases[] = {
      {"encode, stopped by the first large write", "encode " + noisePpm + " --quality 100 --sampling 444",
       tempPath("a.jpg"), 16384},
      {"encode, stopped by a later large write", "encode " + noisePpm + " --quality 100 --sampling 444",
       tempPath("b.jpg"), 300000},
      {"encode, stopped by the last write", "encode " + noisePpm + " --quality 50 --gray", tempPath("c.jpg"),
       4096},
      {"encode into memory first", "encode " + noisePpm + " --quality 100 --buffer", tempPath("d.jpg"),
       16384},
      {"decode written from memory", "decode " + noiseJpg, tempPath("e.ppm"), 16384},
      {"decode written from memory as BMP", "decode " + noiseJpg + " --scale 2", tempPath("f.bmp"), 16384},
      {"decode into the mapped file", "decode " + flatJpg, tempPath("g.ppm"), 1 << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = runTool(c.arguments + " " + c.output, fileSizeLimit(c.limit));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.errors, "cannot write " + c.output + ": File too large")) << run.errors;
    EXPECT_FALSE(fs::exists(c.output)) << "the half-written file is removed";
    std::remove(c.output.c_str());
  }
  for (const std::string& path : {noisePpm, noiseJpg, flatPpm, flatJpg}) std::remove(path.c_str());
}

// Memory reads decode a cut stream from zero bits; the tool still tells the user what a read of
// the file tells: the same exit status and the same message, for every kind of stream.
TEST(ToolManners, ACutFileDecodedFromMemoryEndsAsAFileReadDoes) {
  const std::string cut = tempPath("cut.jpg"), ppm = tempPath("cut.ppm");
  int truncatedSeen = 0;
  for (const auto& entry : fs::directory_iterator(kJpegs)) {
    const Bytes whole = readFile(entry.path().string());
    for (const size_t kept : {whole.size(), whole.size() - 1, whole.size() - 2, whole.size() / 2}) {
      SCOPED_TRACE(entry.path().filename().string() + " cut to " + std::to_string(kept));
      encode_test::writeFile(cut, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(kept)));
      const ToolRun fromFile = runTool("decode " + cut + " " + ppm);
      const ToolRun fromMemory = runTool("decode " + cut + " " + ppm + " --buffer");
      EXPECT_EQ(fromMemory.exitCode, fromFile.exitCode);
      EXPECT_EQ(fromMemory.errors, fromFile.errors);
      truncatedSeen += contains(fromFile.errors, "the file is truncated") ? 1 : 0;
    }
  }
  EXPECT_GT(truncatedSeen, 100) << "the cuts reach into the image data";
  std::remove(cut.c_str());
  std::remove(ppm.c_str());
}
