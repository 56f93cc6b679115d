// The jpegsuite set (CC0, tests/data/jpegsuite): every 8-bit Huffman file, sequential
// and progressive, decodes and matches djpeg (ImageMagick for CMYK) within the tolerances of
// oracle_support.h; what we do not decode (12-bit samples, arithmetic coding, lossless, JPEG-LS) is
// refused, and a height left to a DNL segment gives -16.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/codec/oracle_support.h"

namespace {

using namespace oracle;

fs::path suiteDir() {
  return testData() / "jpegsuite" / "jpeg";
}

std::vector<fs::path> jpegFiles(const std::string& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(suiteDir() / folder)) {
    if (entry.path().extension() == ".jpg") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool contains(const fs::path& path, const char* text) {
  return path.filename().string().find(text) != std::string::npos;
}

// The colour a file's name announces; the suite's other files are grey.
JpegColor colorOf(const fs::path& path) {
  if (contains(path, "_ycbcr")) return JpegColor::YCbCr;
  if (contains(path, "_rgb")) return JpegColor::Rgb;
  if (contains(path, "_cmyk")) return JpegColor::Cmyk;
  return JpegColor::Gray;
}

// Every 8-bit file of a folder (DNL files aside) in the memory modes at every scale with both
// transform variants, in the caller's usual pixel format; at full size with dctVariant 1 also in
// every other pixel format the colour admits, and in the file modes, which must give the same bytes.
// Returns the number of files checked.
int checkEightBitFolder(const char* folder) {
  int checked = 0;
  for (const fs::path& path : jpegFiles(folder)) {
    if (!contains(path, "x8_") || contains(path, "_dnl")) continue;
    const JpegColor color = colorOf(path);
    const int channels = color == JpegColor::Gray ? 1 : color == JpegColor::Cmyk ? 4 : 3;
    for (int variant : {1, 0}) {
      for (int scale : {1, 2, 4, 8}) {
        const bool everyFormat = variant == 1 && scale == 1;
        for (const PixelFormat& format : formatsFor(color)) {
          if (!everyFormat && format.name != formatsFor(color).front().name) continue;
          const std::string label = std::string(folder) + "/" + path.filename().string() + " Buffer" +
                                    modeName(scale) + " " + format.name + " dctVariant " +
                                    std::to_string(variant);
          SCOPED_TRACE(label);
          const DecodeOptions options{.scale = scale, .format = format, .dctVariant = variant};
          const Decoded ours = decode(path, options);
          EXPECT_EQ(code(ours.status), code(JpegStatus::Ok));
          if (ours.status != JpegStatus::Ok) continue;
          EXPECT_EQ(ours.jpegColor, color);
          EXPECT_EQ(ours.jpegChannels, channels);
          EXPECT_TRUE(ours.guardsIntact);
          expectCloseToOracle(
              label, ours.image,
              oracleImage(path, color, channels, format, scale, ours.image.width, ours.image.height),
              toleranceFor(color, format, variant, scale));
          if (scale == 1) {
            DecodeOptions fromFile = options;
            fromFile.buffer = false;
            const Decoded again = decode(path, fromFile);
            EXPECT_EQ(code(again.status), code(JpegStatus::Ok));
            EXPECT_EQ(again.image.pixels, ours.image.pixels) << "file mode differs from memory mode";
          }
        }
      }
    }
    ++checked;
  }
  return checked;
}

TEST(OracleJpegsuite, EightBitSequentialFilesMatchOracle) {
  EXPECT_EQ(checkEightBitFolder("baseline"), 37);
  EXPECT_EQ(checkEightBitFolder("extended_huffman"), 37);
}

// Spectral selection and successive approximation in every combination the suite has.
TEST(OracleJpegsuite, EightBitProgressiveFilesMatchOracle) {
  EXPECT_EQ(checkEightBitFolder("progressive_huffman"), 42);
}

// Refused before any pixel is written, in the parameters modes and in the image modes alike.
void expectRefused(const fs::path& path, JpegStatus status) {
  for (bool buffer : {true, false}) {
    SCOPED_TRACE(path.parent_path().filename().string() + "/" + path.filename().string() +
                 (buffer ? " buffer modes" : " file modes"));
    EXPECT_EQ(code(decode(path, {.buffer = buffer}).paramsStatus), code(status));
    const Decoded direct =
        decode(path, {.buffer = buffer, .readParamsFirst = false, .width = 32, .height = 32});
    EXPECT_EQ(code(direct.status), code(status));
    EXPECT_TRUE(direct.guardsIntact);
  }
}

TEST(OracleJpegsuite, UnsupportedFramesAreRefused) {
  int checked = 0;
  for (const fs::path& path : jpegFiles("extended_huffman")) {
    if (contains(path, "x12_")) expectRefused(path, JpegStatus::UnsupportedFrame), ++checked;
  }
  for (const char* folder :
       {"extended_arithmetic", "progressive_arithmetic", "lossless_huffman", "lossless_arithmetic"}) {
    for (const fs::path& path : jpegFiles(folder))
      expectRefused(path, JpegStatus::UnsupportedFrame), ++checked;
  }
  EXPECT_GE(checked, 150);
}

// JPEG-LS streams (SOF55, 0xF7) are refused without writing a pixel. The marker falls among the
// JPGn codes, whose segments are skipped like any unknown segment (only the SOFn codes of the
// frame table count as unsupported frames), so the stream reaches SOS with no frame: -19.
TEST(OracleJpegsuite, JpegLsStreamsAreRefused) {
  for (const fs::path& path : jpegFiles("ls")) expectRefused(path, JpegStatus::NoFrame);
}

TEST(OracleJpegsuite, HeightLeftToDnlIsRefused) {
  for (const char* folder : {"baseline", "extended_huffman"}) {
    expectRefused(suiteDir() / folder / "32x32x8_dnl.jpg", JpegStatus::DnlError);
  }
}

}  // namespace
