// JPEG pictures through the project's codec, checked against libjpeg-turbo's cjpeg and djpeg
// run as independent programs.
#include "codec/jpeg.h"
#include "document/meshwick_doc.h"
#include "document/picture_convert.h"
#include "document/picture_dib.h"
#include "tests/document/test_support.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const QString kCorpus = QString(MESHWICK_TEST_DATA) + "/jpegsuite/jpeg";

bool HaveTools() {
  return !QStandardPaths::findExecutable("cjpeg").isEmpty() &&
         !QStandardPaths::findExecutable("djpeg").isEmpty();
}

bool RunTool(const QString& program, const QStringList& arguments, const QString& output) {
  QProcess process;
  process.setStandardOutputFile(output);
  process.start(program, arguments);
  return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// What the codec itself says about a file's parameters, so tests can tell a codec that
// does not support a file yet from a fault in the picture code.
JpegStatus ParamsStatus(const QString& path) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(record.get()) != JpegStatus::Ok) return JpegStatus::MemoryError;
  const QByteArray name = QFile::encodeName(path);
  record->jpegFileName = name.constData();
  const JpegStatus status = jpegRead(record.get(), JpegIoMode::FileReadParams);
  jpegFree(record.get());
  return status;
}

#define LOAD_OR_SKIP(picture, path)                                                                   \
  do {                                                                                                \
    if ((picture).LoadFile(path) != S_OK) {                                                           \
      const JpegStatus s = ParamsStatus(path);                                                        \
      if (s == JpegStatus::NotSupported || s == JpegStatus::UnsupportedFrame)                         \
        GTEST_SKIP() << "codec does not support " << (path).toStdString() << " yet";                  \
      FAIL() << "could not load " << (path).toStdString() << " (parameters status " << int(s) << ")"; \
    }                                                                                                 \
  } while (0)

// Largest difference of any channel between a 24-bit picture and a PPM/PGM made by djpeg.
int MaxDifference(const CPictureDib& picture, const QString& pnmPath) {
  const test::Bytes file = test::ReadFile(pnmPath);
  const bool grey = file.size() > 1 && file[1] == '5';
  const std::size_t channels = grey ? 1 : 3;
  const std::size_t pixels =
      static_cast<std::size_t>(picture.Width()) * static_cast<std::size_t>(picture.Height());
  if (file.size() < pixels * channels) return 256;
  const std::uint8_t* data = file.data() + file.size() - pixels * channels;
  int worst = 0;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint8_t* ours = picture.Row(y) + 3 * x;
      const std::uint8_t* theirs = data + (static_cast<std::size_t>(y) * picture.Width() + x) * channels;
      for (int c = 0; c < 3; ++c) {
        const int reference = grey ? theirs[0] : theirs[2 - c];  // ours is B, G, R
        worst = std::max(worst, std::abs(ours[c] - reference));
      }
    }
  return worst;
}

class JpegFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  }
  // A smooth colour picture as PPM: every channel changes slowly across the picture.
  QString SourcePpm(int width, int height) {
    test::Bytes ppm;
    const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    ppm.assign(header.begin(), header.end());
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        ppm.push_back(static_cast<std::uint8_t>(127 + 120 * std::sin(x / 5.0)));
        ppm.push_back(static_cast<std::uint8_t>(127 + 120 * std::cos(y / 4.0)));
        ppm.push_back(static_cast<std::uint8_t>((x * 6 + y * 3) & 255));
      }
    const QString path = m_dir.filePath("source.ppm");
    test::WriteFile(path, ppm);
    return path;
  }
  QTemporaryDir m_dir;
};

// djpeg -nosmooth replicates chroma like the codec; what remains is inverse-transform
// rounding, at most a couple of levels.
constexpr int kDecodeTolerance = 2;

TEST_F(JpegFileTest, ColourJpegFromCjpegLoadsAs24BitBgr) {
  const QString jpeg = m_dir.filePath("colour.jpg");
  ASSERT_TRUE(RunTool("cjpeg", {"-quality", "90", SourcePpm(40, 24)}, jpeg));
  CPictureDib picture;
  LOAD_OR_SKIP(picture, jpeg);
  EXPECT_EQ(picture.Width(), 40);
  EXPECT_EQ(picture.Height(), 24);
  EXPECT_EQ(picture.BitsPerPixel(), 24);
  ASSERT_TRUE(RunTool("djpeg", {"-nosmooth", "-ppm", jpeg}, m_dir.filePath("reference.ppm")));
  EXPECT_LE(MaxDifference(picture, m_dir.filePath("reference.ppm")), kDecodeTolerance);
}

TEST_F(JpegFileTest, GreyJpegLoadsAs24BitWithEqualChannels) {
  const QString jpeg = m_dir.filePath("grey.JPEG");
  ASSERT_TRUE(RunTool("cjpeg", {"-grayscale", "-quality", "90", SourcePpm(17, 9)}, jpeg));
  CPictureDib picture;
  LOAD_OR_SKIP(picture, jpeg);
  EXPECT_EQ(picture.BitsPerPixel(), 24);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint8_t* p = picture.Row(y) + 3 * x;
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
    }
  ASSERT_TRUE(RunTool("djpeg", {"-pnm", jpeg}, m_dir.filePath("reference.pgm")));
  EXPECT_LE(MaxDifference(picture, m_dir.filePath("reference.pgm")), kDecodeTolerance);
}

TEST_F(JpegFileTest, FourComponentJpegLoadsAs32BitAndIsPlacedAs24Bit) {
  const QString jpeg = kCorpus + "/baseline/32x32x8_cmyk.jpg";
  ASSERT_TRUE(QFileInfo::exists(jpeg)) << jpeg.toStdString();
  CPictureDib picture;
  LOAD_OR_SKIP(picture, jpeg);
  EXPECT_EQ(picture.BitsPerPixel(), 32);
  EXPECT_EQ(picture.Width(), 32);
  test::FakeDialogs dialogs;
  CMeshwickDoc doc(dialogs);
  ASSERT_TRUE(doc.PlacePicture(jpeg, 0, 0));
  const CPictureDib* cell = doc.Cell(0, 0);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->BitsPerPixel(), 24);
  for (int y = 0; y < 32; ++y) EXPECT_EQ(std::memcmp(cell->Row(y), picture.Row(y), 3), 0);
}

TEST_F(JpegFileTest, TruncatedJpegFailsWithoutAPicture) {
  const QString jpeg = m_dir.filePath("colour.jpg");
  ASSERT_TRUE(RunTool("cjpeg", {"-quality", "90", SourcePpm(40, 24)}, jpeg));
  test::Bytes bytes = test::ReadFile(jpeg);
  for (const std::size_t keep : {std::size_t{2}, std::size_t{20}, bytes.size() / 2}) {
    const QString cut = m_dir.filePath("cut.jpg");
    test::WriteFile(cut, test::Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep)));
    CPictureDib picture;
    const HRESULT status = picture.LoadFile(cut);
    if (status == S_OK) {
      // A decoder may fill a cut-off scan; it must still give the full size.
      EXPECT_EQ(picture.Width(), 40);
      EXPECT_EQ(picture.Height(), 24);
    } else {
      EXPECT_EQ(status, E_FAIL);
      EXPECT_FALSE(picture.HasBitmap());
    }
  }
}

// Our q100 4:2:0 stream against cjpeg's at the same settings, both decoded by djpeg: the
// forward transforms and chroma averaging round differently by a few levels.
constexpr int kEncodeTolerance = 4;

TEST_F(JpegFileTest, CompositeIsWrittenAsBaseline420WithoutComment) {
  const QString source = SourcePpm(40, 24);
  const QString reference = m_dir.filePath("reference.jpg");
  ASSERT_TRUE(RunTool("cjpeg", {"-quality", "100", "-sample", "2x2", source}, reference));
  CPictureDib picture;
  LOAD_OR_SKIP(picture, reference);

  // Start from the exact source pixels.
  const test::Bytes ppm = test::ReadFile(source);
  const std::uint8_t* rgb = ppm.data() + ppm.size() - 40 * 24 * 3;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 3; ++c) picture.Row(y)[3 * x + c] = rgb[(y * 40 + x) * 3 + 2 - c];

  const QString ours = m_dir.filePath("ours.jpg");
  ASSERT_EQ(picture.SaveFile(ours), S_OK);
  const test::Bytes written = test::ReadFile(ours);
  ASSERT_GT(written.size(), 4u);
  EXPECT_EQ(written[0], 0xff);
  EXPECT_EQ(written[1], 0xd8);
  bool comment = false, baseline = false;
  for (std::size_t i = 2; i + 3 < written.size();) {
    if (written[i] != 0xff) break;
    const std::uint8_t marker = written[i + 1];
    const std::size_t length = static_cast<std::size_t>(written[i + 2] << 8 | written[i + 3]);
    if (marker == 0xfe) comment = true;
    if (marker == 0xc0) {
      baseline = true;
      ASSERT_LT(i + 17, written.size());
      EXPECT_EQ(written[i + 9], 3);      // components
      EXPECT_EQ(written[i + 11], 0x22);  // Y 2x2
      EXPECT_EQ(written[i + 14], 0x11);
      EXPECT_EQ(written[i + 17], 0x11);
    }
    if (marker == 0xda) break;
    i += 2 + length;
  }
  EXPECT_FALSE(comment);
  EXPECT_TRUE(baseline);

  ASSERT_TRUE(RunTool("djpeg", {"-nosmooth", "-ppm", reference}, m_dir.filePath("theirs.ppm")));
  CPictureDib decodedOurs;
  ASSERT_EQ(decodedOurs.LoadFile(ours), S_OK);
  EXPECT_LE(MaxDifference(decodedOurs, m_dir.filePath("theirs.ppm")), kEncodeTolerance + kDecodeTolerance);
}

TEST(CmykToBgrTest, ScalesByTheFourthChannelAndReversesTheOrder) {
  std::uint8_t pixels[2][8] = {{10, 20, 30, 255, 255, 255, 255, 0}, {0, 128, 255, 128, 200, 100, 50, 1}};
  CmykToBgr(&pixels[0][0], 2, 2, 8);
  // (b2 * b3 + 1) >> 8, (b1 * b3 + 1) >> 8, (b0 * b3 + 1) >> 8, b3
  const std::uint8_t expected[2][8] = {{29, 19, 9, 255, 0, 0, 0, 0}, {127, 64, 0, 128, 0, 0, 0, 1}};
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(pixels[y][i], expected[y][i]) << y << "," << i;
}

}  // namespace
