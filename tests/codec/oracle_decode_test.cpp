// Decodes the committed corpus (tests/data/jpeg, made by tests/data/make_corpus.sh) through the
// public API in every read mode and scale, compares the pixels with djpeg (ImageMagick for
// four-component streams), and pins our own output with the checksum manifest
// tests/data/checksums.txt.
//
// Tolerances and why: oracle_support.h.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/codec/oracle_support.h"

namespace {

using namespace oracle;

enum class Kind {
  Decodes,      // decodes with status 0 in every mode
  Truncated,    // memory modes decode the missing part from zero bits; file modes report -23
  Unsupported,  // -29 in every read mode
  Progressive,  // decodes to exactly the pixels of its sequential twin (`sameAs`)
};

struct CorpusFile {
  const char* name;
  JpegColor color;
  int channels;
  JpegSubsampling sampling;
  Kind kind = Kind::Decodes;
  const char* reference = nullptr;  // the stream the oracle decodes instead (it refuses or
                                    // resynchronises this one differently)
  const char* sameAs = nullptr;     // our decode must equal our decode of this file exactly
  bool nonInterleaved = false;
};

constexpr JpegColor Y = JpegColor::YCbCr;
constexpr JpegColor G = JpegColor::Gray;
using S = JpegSubsampling;

const std::vector<CorpusFile>& corpus() {
  static const std::vector<CorpusFile> files = {
      {"p97_grey.jpg", G, 1, S::H1V1},
      {"p97_pgm.jpg", G, 1, S::H1V1},
      {"p97_444.jpg", Y, 3, S::H1V1},
      {"p97_422.jpg", Y, 3, S::H2V1},
      {"p97_420.jpg", Y, 3, S::H2V2},
      {"p97_440.jpg", Y, 3, S::Other},
      {"p97_411.jpg", Y, 3, S::Other},
      {"p97_444_q100.jpg", Y, 3, S::H1V1},
      {"p97_420_q20_optimized.jpg", Y, 3, S::H2V2},
      {"p256_420.jpg", Y, 3, S::H2V2},
      {"p256_420_q100.jpg", Y, 3, S::H2V2},
      {"p256_444.jpg", Y, 3, S::H1V1},
      {"p256_422_optimized.jpg", Y, 3, S::H2V1},
      {"p256_grey.jpg", G, 1, S::H1V1},
      {"t1x1_420.jpg", Y, 3, S::H2V2},
      {"t1x1_grey.jpg", G, 1, S::H1V1},
      {"t17x9_444.jpg", Y, 3, S::H1V1},
      {"t17x9_422.jpg", Y, 3, S::H2V1},
      {"t17x9_420.jpg", Y, 3, S::H2V2},
      {"p97_420_rst1row.jpg", Y, 3, S::H2V2},
      {"p97_420_rst5.jpg", Y, 3, S::H2V2},
      {"p97_422_rst3.jpg", Y, 3, S::H2V1},
      {"p97_grey_rst7.jpg", G, 1, S::H1V1},
      {"p97_420_rst5_shuffled.jpg", Y, 3, S::H2V2, Kind::Decodes, "p97_420_rst5.jpg", "p97_420_rst5.jpg"},
      {"p97_420_rst5_fillbytes.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420_rst5.jpg"},
      {"p97_420_sof1_q16.jpg", Y, 3, S::H2V2},
      {"p97_rgb.jpg", JpegColor::Rgb, 3, S::H1V1},
      {"p97_444_adobe1.jpg", Y, 3, S::H1V1, Kind::Decodes, nullptr, "p97_444.jpg"},
      {"p97_420_noapp0.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420.jpg"},
      {"p97_cmyk.jpg", JpegColor::Cmyk, 4, S::H1V1},
      {"p97_ycck.jpg", JpegColor::Ycck, 4, S::H1V1},
      {"p97_ycck_h2v2.jpg", JpegColor::Ycck, 4, S::H2V2K},
      {"p97_ycck_h2v1.jpg", JpegColor::Ycck, 4, S::H2V1K},
      {"p97_thumb_jfif.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420.jpg"},
      {"p97_thumb_jfxx_rgb.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420.jpg"},
      {"p97_thumb_jfxx_pal.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420.jpg"},
      {"p97_thumb_jfxx_jpeg.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420.jpg"},
      {"p97_420_garbage.jpg", Y, 3, S::H2V2, Kind::Decodes, "p97_420.jpg", "p97_420.jpg"},
      {"p97_420_comment.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, "p97_420.jpg"},
      {"p97_420_truncated.jpg", Y, 3, S::H2V2, Kind::Truncated, "p97_420.jpg"},
      {"p97_420_noninterleaved.jpg", Y, 3, S::H2V2, Kind::Decodes, nullptr, nullptr, true},
      {"p97_444_noninterleaved.jpg", Y, 3, S::H1V1, Kind::Decodes, nullptr, nullptr, true},
      {"p97_420_arithmetic.jpg", Y, 3, S::H2V2, Kind::Unsupported},
      // Progressive twins: the coefficients of the sequential file, so the same pixels.
      {"p97_grey_progressive.jpg", G, 1, S::H1V1, Kind::Progressive, nullptr, "p97_grey.jpg"},
      {"p97_grey_progressive_sa.jpg", G, 1, S::H1V1, Kind::Progressive, nullptr, "p97_grey.jpg"},
      {"p97_444_progressive.jpg", Y, 3, S::H1V1, Kind::Progressive, nullptr, "p97_444.jpg"},
      {"p97_444_progressive_sa.jpg", Y, 3, S::H1V1, Kind::Progressive, nullptr, "p97_444.jpg"},
      {"p97_422_progressive.jpg", Y, 3, S::H2V1, Kind::Progressive, nullptr, "p97_422.jpg"},
      {"p97_420_progressive.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "p97_420.jpg"},
      {"p97_420_progressive_sa.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "p97_420.jpg"},
      {"p97_420_rst5_progressive.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "p97_420_rst5.jpg"},
      {"p97_440_progressive.jpg", Y, 3, S::Other, Kind::Progressive, nullptr, "p97_440.jpg"},
      {"p97_411_progressive.jpg", Y, 3, S::Other, Kind::Progressive, nullptr, "p97_411.jpg"},
      {"p256_420_progressive.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "p256_420.jpg"},
      {"p256_420_progressive_sa.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "p256_420.jpg"},
      {"t17x9_420_progressive.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "t17x9_420.jpg"},
      {"t1x1_420_progressive.jpg", Y, 3, S::H2V2, Kind::Progressive, nullptr, "t1x1_420.jpg"},
  };
  return files;
}

// The oracle's output for a corpus file in the layout of `format`.
std::optional<Image> expectedImage(const CorpusFile& file, const PixelFormat& format, int scale, int width,
                                   int height) {
  return oracleImage(corpusDir() / (file.reference ? file.reference : file.name), file.color, file.channels,
                     format, scale, width, height);
}

// Which output routine a decode goes through, for the manifest: mirrors the frame set-up's choice.
std::string outputPath(const CorpusFile& file, const PixelFormat& format, int scale) {
  const bool conversion = converts(file.color, format);
  const bool sampling = file.sampling != S::H1V1;
  const int n = file.channels;
  const int ch = format.channels;
  const JpegColor pc = format.color;
  std::string path;
  if (scale != 1) {
    const bool yccLayout = file.sampling == S::H1V1 || file.sampling == S::H2V1 || file.sampling == S::H2V2;
    const bool scaledConverter = conversion && !file.nonInterleaved && n == 3 && ch == 3 && yccLayout &&
                                 (pc == JpegColor::Rgb || pc == JpegColor::Bgr);
    path = std::string(scaledConverter ? "convertScaledYcc, edge MCUs by the scaled general store, "
                                       : "scaled general store, ") +
           (scale == 8 ? "DC-only blocks" : "reduced IDCT") + (conversion ? " + in-place conversion" : "");
  } else if (file.nonInterleaved) {
    path = std::string("storeMcuGeneral per component") + (conversion ? " + final conversion pass" : "");
  } else if (conversion) {
    const bool dedicatedPixels = (n == 3 && ch == 3 && (pc == JpegColor::Rgb || pc == JpegColor::Bgr)) ||
                                 (n == 3 && ch == 4 && pc == JpegColor::Cmyk) || (n == 4 && ch == 4);
    const char* to = n == 4 ? "YcckToCmyk" : ch == 4 ? "ToRgbx" : pc == JpegColor::Rgb ? "ToRgb" : "ToBgr";
    const char* layout = file.sampling == S::H2V2 || file.sampling == S::H2V2K   ? "H2V2"
                         : file.sampling == S::H2V1 || file.sampling == S::H2V1K ? "H2V1"
                         : file.sampling == S::H1V1                              ? "H1V1"
                                                                                 : nullptr;
    if (dedicatedPixels && layout) {
      path = std::string("convert") + layout + to;
    } else {
      path = "storeMcuGeneralConverted";
    }
  } else if (sampling) {
    const bool copyLayout = n == 3 && ch == 3 && pc != JpegColor::Bgr;
    path = copyLayout && file.sampling == S::H2V2   ? "upsampleH2V2Copy"
           : copyLayout && file.sampling == S::H2V1 ? "upsampleH2V1Copy"
                                                    : "storeMcuGeneral";
  } else {
    path = n == 1 && ch == 1                            ? "copyGray"
           : n == 3 && ch == 3 && pc != JpegColor::Bgr  ? "copy3To3"
           : n == 3 && ch == 4 && pc == JpegColor::Cmyk ? "copy3To4"
           : n == 4 && ch == 4                          ? "copy4To4"
                                                        : "storeMcuCopy";
  }
  if (file.kind == Kind::Truncated) path += ", zero bits after the cut";
  if (std::string(file.name).find("rst") != std::string::npos) path += ", restarts";
  return path;
}

void PrintTo(const CorpusFile& file, std::ostream* out) {
  *out << file.name;
}

std::vector<CorpusFile> filesWhere(bool (*keep)(const CorpusFile&)) {
  std::vector<CorpusFile> files;
  for (const CorpusFile& file : corpus()) {
    if (keep(file)) files.push_back(file);
  }
  return files;
}

// Files that decode now (whole or cut short), progressive files, refused files.
class OracleCorpus : public ::testing::TestWithParam<CorpusFile> {};
class OracleParams : public ::testing::TestWithParam<CorpusFile> {};
class OracleProgressive : public ::testing::TestWithParam<CorpusFile> {};
class OracleUnsupported : public ::testing::TestWithParam<CorpusFile> {};

// Every decodable file, every scale, every pixel format the colour admits, both transform
// variants, memory modes: status 0, nothing written outside the pixels, within tolerance of the
// oracle; the file modes give the same bytes as the memory modes.
TEST_P(OracleCorpus, MatchesIndependentDecoder) {
  const CorpusFile& file = GetParam();
  const fs::path path = corpusDir() / file.name;

  for (int variant : {1, 0}) {
    for (int scale : {1, 2, 4, 8}) {
      for (const PixelFormat& format : formatsFor(file.color)) {
        const std::string label = std::string(file.name) + " Buffer" + modeName(scale) + " " + format.name +
                                  " dctVariant " + std::to_string(variant);
        SCOPED_TRACE(label);
        DecodeOptions options{.scale = scale, .format = format, .dctVariant = variant};
        const Decoded ours = decode(path, options);
        ASSERT_EQ(code(ours.status), code(JpegStatus::Ok));
        EXPECT_EQ(code(ours.freeStatus), code(JpegStatus::Ok));
        EXPECT_TRUE(ours.guardsIntact) << "bytes written outside the pixels";

        // A truncated stream matches only in the first MCU row, which lies before the cut.
        const int rows = file.kind == Kind::Truncated ? 16 / scale : -1;
        expectCloseToOracle(label, ours.image,
                            expectedImage(file, format, scale, ours.image.width, ours.image.height),
                            toleranceFor(file.color, format, variant, scale), rows);

        if (file.sameAs) {
          const Decoded twin = decode(corpusDir() / file.sameAs, options);
          EXPECT_EQ(ours.image.pixels, twin.image.pixels) << "differs from " << file.sameAs;
        }

        if (format.channels == 3 || file.channels == 4) {
          options.buffer = false;
          const Decoded fromFile = decode(path, options);
          if (file.kind == Kind::Truncated) {
            EXPECT_EQ(code(fromFile.status), code(JpegStatus::FileError));
          } else {
            EXPECT_EQ(code(fromFile.status), code(JpegStatus::Ok));
            EXPECT_EQ(fromFile.image.pixels, ours.image.pixels) << "file mode differs from memory mode";
          }
        }
      }
    }
  }
}

// The parameters read reports the frame: size (as djpeg sees it), components, colour, sampling.
TEST_P(OracleParams, ParamsReadReportsFrame) {
  const CorpusFile& file = GetParam();
  const fs::path path = corpusDir() / file.name;
  for (bool buffer : {true, false}) {
    SCOPED_TRACE(buffer ? "BufferReadParams" : "FileReadParams");
    const Decoded params = decode(path, {.buffer = buffer, .scale = 8});
    ASSERT_EQ(code(params.paramsStatus), code(JpegStatus::Ok));
    EXPECT_EQ(params.jpegChannels, file.channels);
    EXPECT_EQ(params.jpegColor, file.color);
    EXPECT_EQ(params.jpegSubsampling, file.sampling);
    if (file.channels != 4) {
      auto expected = OracleRunner::instance().djpeg(
          corpusDir() / (file.reference ? file.reference : file.name), 1, file.color == JpegColor::Gray);
      ASSERT_TRUE(expected);
      EXPECT_EQ(params.jpegWidth, expected->width);
      EXPECT_EQ(params.jpegHeight, expected->height);
    }
  }
}

// A progressive file gives exactly the pixels of its sequential twin (same quantised coefficients,
// same transforms and store routines) at every scale and in both modes, and so stays within
// tolerance of djpeg.
TEST_P(OracleProgressive, MatchesSequentialTwin) {
  const CorpusFile& file = GetParam();
  for (int variant : {1, 0}) {
    for (int scale : {1, 2, 4, 8}) {
      for (const PixelFormat& format : formatsFor(file.color)) {
        for (bool buffer : {true, false}) {
          const std::string label = std::string(file.name) + (buffer ? " Buffer" : " File") +
                                    modeName(scale) + " " + format.name + " dctVariant " +
                                    std::to_string(variant);
          SCOPED_TRACE(label);
          const DecodeOptions options{
              .buffer = buffer, .scale = scale, .format = format, .dctVariant = variant};
          const Decoded ours = decode(corpusDir() / file.name, options);
          ASSERT_EQ(code(ours.status), code(JpegStatus::Ok));
          EXPECT_TRUE(ours.guardsIntact);
          const Decoded twin = decode(corpusDir() / file.sameAs, options);
          EXPECT_EQ(ours.image.pixels, twin.image.pixels) << "differs from " << file.sameAs;
          expectCloseToOracle(label, ours.image,
                              expectedImage(file, format, scale, ours.image.width, ours.image.height),
                              toleranceFor(file.color, format, variant, scale));
        }
      }
    }
  }
}

// Row padding, bottom-up buffers and an image read without the parameters read first give the
// same pixels, and keep every byte outside the image untouched.
TEST_P(OracleCorpus, BufferLayoutsGiveSamePixels) {
  const CorpusFile& file = GetParam();
  if (file.kind == Kind::Truncated) GTEST_SKIP() << "the file modes refuse it";
  const fs::path path = corpusDir() / file.name;
  const PixelFormat format = formatsFor(file.color).front();
  for (int scale : {1, 2, 8}) {
    SCOPED_TRACE(std::string(file.name) + " " + modeName(scale));
    const Decoded plain = decode(path, {.scale = scale, .format = format});
    ASSERT_EQ(code(plain.status), code(JpegStatus::Ok));
    const std::vector<DecodeOptions> layouts = {
        {.scale = scale, .format = format, .padBytes = 3},
        {.scale = scale, .format = format, .bottomUp = true},
        {.scale = scale, .format = format, .padBytes = 5, .bottomUp = true},
        {.buffer = false, .scale = scale, .format = format, .padBytes = 1, .bottomUp = true},
        {.scale = scale,
         .format = format,
         .readParamsFirst = false,
         .width = plain.image.width,
         .height = plain.image.height,
         .jpegColor = file.color,
         .jpegChannels = file.channels},
        {.buffer = false,
         .scale = scale,
         .format = format,
         .readParamsFirst = false,
         .width = plain.image.width,
         .height = plain.image.height,
         .jpegColor = file.color,
         .jpegChannels = file.channels},
    };
    for (const DecodeOptions& options : layouts) {
      SCOPED_TRACE("pad " + std::to_string(options.padBytes) + (options.bottomUp ? " bottom-up" : "") +
                   (options.buffer ? " buffer" : " file") +
                   (options.readParamsFirst ? "" : " no params read"));
      const Decoded decoded = decode(path, options);
      EXPECT_EQ(code(decoded.status), code(JpegStatus::Ok));
      EXPECT_TRUE(decoded.guardsIntact) << "bytes written outside the pixels or into the padding";
      EXPECT_EQ(decoded.image.pixels, plain.image.pixels);
    }
  }
}

// Arithmetic-coded frames are refused in every read mode, before any pixel is written.
TEST_P(OracleUnsupported, FramesAreRefused) {
  const CorpusFile& file = GetParam();
  const fs::path path = corpusDir() / file.name;
  for (bool buffer : {true, false}) {
    SCOPED_TRACE(buffer ? "buffer modes" : "file modes");
    EXPECT_EQ(code(decode(path, {.buffer = buffer}).paramsStatus), code(JpegStatus::UnsupportedFrame));
    for (int scale : {1, 2, 4, 8}) {
      const Decoded direct = decode(
          path, {.buffer = buffer, .scale = scale, .readParamsFirst = false, .width = 97, .height = 61});
      EXPECT_EQ(code(direct.status), code(JpegStatus::UnsupportedFrame)) << modeName(scale);
      EXPECT_TRUE(direct.guardsIntact);
    }
  }
}

std::string caseName(const ::testing::TestParamInfo<CorpusFile>& info) {
  std::string name = info.param.name;
  name = name.substr(0, name.size() - 4);  // ".jpg"
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, OracleCorpus, ::testing::ValuesIn(filesWhere([](const CorpusFile& f) {
                           return f.kind == Kind::Decodes || f.kind == Kind::Truncated;
                         })),
                         caseName);
INSTANTIATE_TEST_SUITE_P(Files, OracleParams, ::testing::ValuesIn(filesWhere([](const CorpusFile& f) {
                           return f.kind != Kind::Unsupported;
                         })),
                         caseName);
INSTANTIATE_TEST_SUITE_P(Files, OracleProgressive, ::testing::ValuesIn(filesWhere([](const CorpusFile& f) {
                           return f.kind == Kind::Progressive;
                         })),
                         caseName);
INSTANTIATE_TEST_SUITE_P(Files, OracleUnsupported, ::testing::ValuesIn(filesWhere([](const CorpusFile& f) {
                           return f.kind == Kind::Unsupported;
                         })),
                         caseName);

// A tables-only stream read in the tables modes, then the abbreviated image in the no-tables
// modes, gives exactly the pixels of the complete stream; so does the image mode reading both
// streams one after the other.
TEST(OracleTables, AbbreviatedImageUsesTablesReadBefore) {
  const Decoded whole = decode(corpusDir() / "p97_420.jpg", {});
  ASSERT_EQ(code(whole.status), code(JpegStatus::Ok));
  for (bool buffer : {true, false}) {
    SCOPED_TRACE(buffer ? "buffer modes" : "file modes");
    Codec codec;
    ASSERT_EQ(code(codec.initStatus), code(JpegStatus::Ok));
    const std::string tablesName = (corpusDir() / "p97_420_tables.jpg").string();
    const std::string imageName = (corpusDir() / "p97_420_abbreviated.jpg").string();
    std::vector<uint8_t> tables = readFile(tablesName);
    std::vector<uint8_t> image = readFile(imageName);
    codec->jpegFileName = tablesName.c_str();
    codec->jpegBuffer = tables.data();
    codec->jpegBufferSize = static_cast<int32_t>(tables.size());
    EXPECT_EQ(code(jpegRead(codec.get(), buffer ? JpegIoMode::BufferReadTables : JpegIoMode::FileReadTables)),
              code(JpegStatus::Ok));

    GuardedBuffer pixels(97, 61, 3, 0);
    codec->jpegFileName = imageName.c_str();
    codec->jpegBuffer = image.data();
    codec->jpegBufferSize = static_cast<int32_t>(image.size());
    codec->pixelData = pixels.data();
    codec->pixelWidth = 97;
    codec->pixelHeight = 61;
    codec->pixelChannels = 3;
    codec->pixelColor = JpegColor::Bgr;
    EXPECT_EQ(code(jpegRead(codec.get(), buffer ? JpegIoMode::BufferReadImageNoTables
                                                : JpegIoMode::FileReadImageNoTables)),
              code(JpegStatus::Ok));
    EXPECT_EQ(code(jpegFree(codec.get())), code(JpegStatus::Ok));
    EXPECT_TRUE(pixels.intact(97, 3));
    EXPECT_TRUE(std::equal(whole.image.pixels.begin(), whole.image.pixels.end(), pixels.data()));

    const Decoded joined = decode(corpusDir() / "p97_420_tables_then_image.jpg",
                                  {.buffer = buffer, .readParamsFirst = false, .width = 97, .height = 61});
    EXPECT_EQ(code(joined.status), code(JpegStatus::Ok));
    EXPECT_EQ(joined.image.pixels, whole.image.pixels);
  }
}

// Thumbnails: the pixels of the JFIF or JFXX APP0 segment, in RGB or BGR order, in both modes.
struct ThumbnailCase {
  const char* name;
  int width;
  int height;
  bool sizeKnownFromParams;  // a palette thumbnail's size is reported by the thumbnail read only
};

class OracleThumbnail : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(OracleThumbnail, CopiesEmbeddedPixels) {
  const ThumbnailCase& c = GetParam();
  const fs::path path = corpusDir() / (std::string(c.name) + ".jpg");
  auto expected = parsePnm(readFile(corpusDir() / (std::string(c.name) + ".thumb.ppm")));
  ASSERT_TRUE(expected);
  for (bool buffer : {true, false}) {
    for (const PixelFormat& format : {kRgb3, kBgr3}) {
      SCOPED_TRACE(std::string(buffer ? "buffer " : "file ") + format.name);
      Codec codec;
      const std::string name = path.string();
      std::vector<uint8_t> bytes = readFile(path);
      codec->jpegFileName = name.c_str();
      codec->jpegBuffer = bytes.data();
      codec->jpegBufferSize = static_cast<int32_t>(bytes.size());
      ASSERT_EQ(
          code(jpegRead(codec.get(), buffer ? JpegIoMode::BufferReadParams : JpegIoMode::FileReadParams)),
          code(JpegStatus::Ok));
      EXPECT_EQ(codec->thumbWidth, c.sizeKnownFromParams ? c.width : 0);
      EXPECT_EQ(codec->thumbHeight, c.sizeKnownFromParams ? c.height : 0);

      GuardedBuffer pixels(c.width, c.height, 3, 2);
      codec->pixelData = pixels.data();
      codec->pixelWidth = c.width;
      codec->pixelHeight = c.height;
      codec->pixelPadBytes = 2;
      codec->pixelChannels = 3;
      codec->pixelColor = format.color;
      EXPECT_EQ(code(jpegRead(codec.get(),
                              buffer ? JpegIoMode::BufferReadThumbnail : JpegIoMode::FileReadThumbnail)),
                code(JpegStatus::Ok));
      EXPECT_EQ(codec->thumbWidth, c.width);
      EXPECT_EQ(codec->thumbHeight, c.height);
      EXPECT_EQ(code(jpegFree(codec.get())), code(JpegStatus::Ok));
      EXPECT_TRUE(pixels.intact(c.width, 3));
      const Image want = inFormat(*expected, format);
      for (int y = 0; y < c.height; ++y) {
        EXPECT_TRUE(std::equal(want.at(0, y), want.at(0, y) + c.width * 3, pixels.data() + y * pixels.stride))
            << "row " << y;
      }
    }
  }
}

// A pixel buffer a column or a row smaller than the thumbnail is refused with -26, untouched.
TEST_P(OracleThumbnail, TooSmallBufferIsRefused) {
  const ThumbnailCase& c = GetParam();
  std::vector<uint8_t> bytes = readFile(corpusDir() / (std::string(c.name) + ".jpg"));
  for (const auto& [width, height] : {std::pair{c.width - 1, c.height}, std::pair{c.width, c.height - 1}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    Codec codec;
    codec->jpegBuffer = bytes.data();
    codec->jpegBufferSize = static_cast<int32_t>(bytes.size());
    GuardedBuffer pixels(width, height, 3, 0);
    codec->pixelData = pixels.data();
    codec->pixelWidth = width;
    codec->pixelHeight = height;
    codec->pixelChannels = 3;
    codec->pixelColor = JpegColor::Rgb;
    EXPECT_EQ(code(jpegRead(codec.get(), JpegIoMode::BufferReadThumbnail)),
              code(JpegStatus::ThumbnailTooSmall));
    EXPECT_EQ(code(jpegFree(codec.get())), code(JpegStatus::Ok));
    EXPECT_TRUE(pixels.intact(width, 3));
    EXPECT_TRUE(std::all_of(pixels.data(), pixels.data() + pixels.stride * height,
                            [](uint8_t b) { return b == kCanary; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, OracleThumbnail,
                         ::testing::Values(ThumbnailCase{"p97_thumb_jfif", 8, 6, true},
                                           ThumbnailCase{"p97_thumb_jfxx_rgb", 10, 7, true},
                                           ThumbnailCase{"p97_thumb_jfxx_pal", 12, 8, false}),
                         [](const auto& info) { return std::string(info.param.name).substr(10); });

// A JPEG-coded JFXX thumbnail is not ours to decode: no thumbnail size is reported.
TEST(OracleThumbnail, JpegCodedThumbnailIsIgnored) {
  const fs::path path = corpusDir() / "p97_thumb_jfxx_jpeg.jpg";
  std::vector<uint8_t> bytes = readFile(path);
  Codec codec;
  codec->jpegBuffer = bytes.data();
  codec->jpegBufferSize = static_cast<int32_t>(bytes.size());
  ASSERT_EQ(code(jpegRead(codec.get(), JpegIoMode::BufferReadParams)), code(JpegStatus::Ok));
  EXPECT_EQ(codec->thumbWidth, 0);
  EXPECT_EQ(codec->thumbHeight, 0);
  EXPECT_EQ(code(jpegFree(codec.get())), code(JpegStatus::Ok));
}

// Prefixes of a stream in the memory modes (and a sample of them in the file modes): a status of
// 0 or an error, never a write outside the pixels (the sanitizer build checks the reads too).
TEST(OracleRobustness, EveryPrefixIsHandled) {
  struct Case {
    const char* name;
    PixelFormat format;
    JpegColor color;
    int channels;
  };
  const Case cases[] = {{"t1x1_420.jpg", kBgr3, JpegColor::YCbCr, 3},
                        {"t17x9_422.jpg", kBgr3, JpegColor::YCbCr, 3},
                        {"p97_420_rst5.jpg", kBgr3, JpegColor::YCbCr, 3},
                        {"p97_ycck_h2v2.jpg", kCmyk4, JpegColor::Ycck, 4}};
  const fs::path prefixFile = fs::temp_directory_path() / ("meshwick-prefix-" + std::to_string(getpid()));
  for (const Case& c : cases) {
    const std::vector<uint8_t> whole = readFile(corpusDir() / c.name);
    const Decoded full = decode(corpusDir() / c.name, {.format = c.format});
    ASSERT_EQ(code(full.status), code(JpegStatus::Ok)) << c.name;
    const DecodeOptions direct{.format = c.format,
                               .readParamsFirst = false,
                               .width = full.image.width,
                               .height = full.image.height,
                               .jpegColor = c.color,
                               .jpegChannels = c.channels};
    // Every cut inside the headers and the first scan bytes, then every 7th.
    int cut = 0;
    for (size_t length = 1; length < whole.size(); length += length < 800 ? 1 : 7, ++cut) {
      std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      DecodeOptions options = direct;
      if (cut % 20 == 0) {
        writeFile(prefixFile, prefix);
        options.buffer = false;
        const Decoded fromFile = decodeStream(prefix, prefixFile, options);
        EXPECT_LE(code(fromFile.status), 0) << c.name << " cut at " << length << " (file)";
        EXPECT_TRUE(fromFile.guardsIntact) << c.name << " cut at " << length << " (file)";
        options.buffer = true;
      }
      const Decoded d = decodeStream(std::move(prefix), prefixFile, options);
      EXPECT_LE(code(d.status), 0) << c.name << " cut at " << length;
      EXPECT_TRUE(d.guardsIntact) << c.name << " cut at " << length;
    }
  }
  fs::remove(prefixFile);
}

// --- checksum manifest ----------------------------------------------------------------------

struct ManifestEntry {
  std::string key;  // file, modes, scale, format, variant ("f" after it: interpolating upsampler)
  std::string checksum;
  std::string path;
};

std::string manifestKey(const std::string& file, int scale, const PixelFormat& format, int variant,
                        int upsamplingMode) {
  const std::string modes = std::string("File") + modeName(scale) + "|Buffer" + modeName(scale);
  return file + " " + modes + " 1/" + std::to_string(scale) + " " + format.name + " v" +
         std::to_string(variant) + (upsamplingMode == 1 ? "f" : "");
}

// The interpolating upsampler is pinned too where it can filter: subsampled colour streams.
std::vector<int> upsamplingModesFor(const CorpusFile& file) {
  if (file.color == Y && file.sampling != S::H1V1) return {0, 1};
  return {0};
}

std::map<std::string, std::string> readManifest(const fs::path& path) {
  std::map<std::string, std::string> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string file, modes, scale, format, variant, sum;
    fields >> file >> modes >> scale >> format >> variant >> sum;
    entries[file + " " + modes + " " + scale + " " + format + " " + variant] = sum;
  }
  return entries;
}

// Our own output, pinned: any change to a decoded pixel of the corpus shows here. After an
// intended change, rerun with MESHWICK_UPDATE_CHECKSUMS=1 to rewrite tests/data/checksums.txt.
TEST(OracleChecksums, DecodedPixelsMatchManifest) {
  const fs::path manifestPath = testData() / "checksums.txt";
  const bool update = std::getenv("MESHWICK_UPDATE_CHECKSUMS") != nullptr;
  const std::map<std::string, std::string> manifest = readManifest(manifestPath);
  std::vector<ManifestEntry> actual;
  for (const CorpusFile& file : corpus()) {
    if (file.kind != Kind::Decodes && file.kind != Kind::Truncated) continue;
    for (int upsampling : upsamplingModesFor(file)) {
      for (int variant : {1, 0}) {
        for (int scale : {1, 2, 4, 8}) {
          for (const PixelFormat& format : formatsFor(file.color)) {
            const Decoded d = decode(
                corpusDir() / file.name,
                {.scale = scale, .format = format, .dctVariant = variant, .upsamplingMode = upsampling});
            const std::string key = manifestKey(file.name, scale, format, variant, upsampling);
            const std::string path =
                upsampling == 1 ? "interpolating upsampler" : outputPath(file, format, scale);
            const std::string sum =
                d.status == JpegStatus::Ok ? checksum(d.image) : "status" + std::to_string(int(d.status));
            actual.push_back({key, sum, path});
            if (update) continue;
            auto found = manifest.find(key);
            if (found == manifest.end()) {
              ADD_FAILURE() << key << ": no checksum recorded (MESHWICK_UPDATE_CHECKSUMS=1 records them)";
            } else {
              EXPECT_EQ(sum, found->second) << key << " via " << path;
            }
          }
        }
      }
    }
  }
  if (update) {
    std::ofstream out(manifestPath);
    out << "# Checksums (FNV-1a 64 over the packed top-down pixels) of our decoder's output for the\n"
           "# corpus in tests/data/jpeg. Written by OracleChecksums.DecodedPixelsMatchManifest with\n"
           "# MESHWICK_UPDATE_CHECKSUMS=1; every value was checked against djpeg within tolerance first.\n"
           "# Variants ending in f use the interpolating upsampler, whose own tests check the filter.\n"
           "# file  modes  scale  pixel-format  dctVariant  checksum  output path\n";
    for (const ManifestEntry& e : actual) out << e.key << " " << e.checksum << "  " << e.path << "\n";
  }
}

}  // namespace
