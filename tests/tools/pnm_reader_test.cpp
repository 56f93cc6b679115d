// The PPM, PGM and PAM readers of meshwick-jpeg encode, called directly, and the fuzz target's
// kept inputs replayed through its harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "fuzz/pnm_read_harness.h"
#include "tools/pnm_reader.h"

namespace {

namespace fs = std::filesystem;
using Bytes = tool_files::Bytes;

Bytes bytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::string read(const std::string& text, pnm::InputPicture* picture) {
  Bytes data = bytesOf(text);
  if (text.size() > 1 && text[1] == '7') return pnm::readPam(&data, picture);
  return pnm::readPpmOrPgm(&data, text.size() > 1 && text[1] == '5', picture);
}

TEST(PnmReader, AcceptsEachKindWithItsColourAndRaster) {
  struct Case {
    std::string text;
    int width, height, channels;
    JpegColor color;
    size_t offset;
  } cases[] = {
      {"P6\n2 1\n255\nabcdef", 2, 1, 3, JpegColor::Rgb, 11},
      {"P5 # comment\n1 2 255 xy", 1, 2, 1, JpegColor::Gray, 21},
      {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\nabcd", 1, 1, 4, JpegColor::Cmyk,
       60},
      {"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nabcd", 1, 1, 4,
       JpegColor::Rgb, 65},
      {"P7\n# c\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR\nab", 2, 1, 1, JpegColor::Gray, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    pnm::InputPicture picture;
    ASSERT_EQ(read(c.text, &picture), "");
    EXPECT_EQ(picture.width, c.width);
    EXPECT_EQ(picture.height, c.height);
    EXPECT_EQ(picture.channels, c.channels);
    EXPECT_EQ(picture.color, c.color);
    EXPECT_EQ(picture.offset, c.offset);
  }
}

// A mapped file is described where it lies; a file read into memory moves into the picture
// only when it is accepted.
TEST(PnmReader, ViewsLeaveTheBytesInPlaceAndReadFilesMoveOnlyWhenAccepted) {
  for (const std::string text :
       {"P6\n2 1\n255\nabcdef", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR\nz", "P5\n2 2\n255\nab",
        "P7\nWIDTH 1\n"}) {
    SCOPED_TRACE(text);
    const Bytes file = bytesOf(text);
    const bool pam = text[1] == '7';
    pnm::InputPicture viewed;
    const std::string viewProblem =
        pam ? pnm::readPam(std::span<const uint8_t>(file), &viewed)
            : pnm::readPpmOrPgm(std::span<const uint8_t>(file), text[1] == '5', &viewed);
    EXPECT_TRUE(viewed.storage.empty());
    pnm::InputPicture moved;
    EXPECT_EQ(read(text, &moved), viewProblem);
    if (!viewProblem.empty()) continue;
    viewed.mapped = file.data();
    EXPECT_EQ(viewed.rows(), file.data() + viewed.offset);
    Bytes taken = file;
    pnm::InputPicture owner;
    ASSERT_EQ(pam ? pnm::readPam(&taken, &owner) : pnm::readPpmOrPgm(&taken, text[1] == '5', &owner), "");
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(owner.storage, file);
    EXPECT_EQ(owner.rows(), owner.storage.data() + owner.offset);
  }
  Bytes refused = bytesOf("P6\n2 1\n255\nab");
  pnm::InputPicture picture;
  EXPECT_NE(pnm::readPpmOrPgm(&refused, false, &picture), "");
  EXPECT_EQ(refused, bytesOf("P6\n2 1\n255\nab"));
  EXPECT_TRUE(picture.storage.empty());
}

TEST(PnmReader, RefusesBadHeadersAndShortRasters) {
  for (const std::string text :
       {"P6\n", "P6\n2 1\n", "P6\n2 1\n255", "P6\n2 1\n255\nabcde", "P6\n0 1\n255\n", "P6\n65536 1\n255\n",
        "P6\n-1 1\n255\n", "P6\n1 1\n65535\nab", "P6\n99999999999999999999 1\n255\n", "P5\n1 1\n255\n",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nENDHDR\nab",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nBOGUS 1\nENDHDR\nabc",
        "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\nabcd"}) {
    SCOPED_TRACE(text);
    pnm::InputPicture picture;
    EXPECT_NE(read(text, &picture), "");
  }
}

TEST(PnmReaderFuzzRegression, ReplaysKeptInputsAndTheSources) {
  std::vector<fs::path> inputs;
  for (const fs::path& dir : {fs::path(MESHWICK_TEST_DATA) / ".." / ".." / "fuzz" / "regressions" / "pnm",
                              fs::path(MESHWICK_TEST_DATA) / "sources"}) {
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file() && entry.path().extension() != ".md") inputs.push_back(entry.path());
  }
  int read = 0;
  for (const fs::path& path : inputs) {
    SCOPED_TRACE(path.filename().string());
    std::ifstream in(path, std::ios::binary);
    const Bytes input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    read += fuzzing::runPnmReadHarness(input.data(), input.size()) != 0 ? 1 : 0;
  }
  EXPECT_GE(read, 5);  // the committed sources
}

}  // namespace
