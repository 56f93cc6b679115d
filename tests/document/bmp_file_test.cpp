#include "document/bmp_file.h"
#include "document/picture_convert.h"
#include "document/picture_dib.h"
#include "tests/document/bmp/bmp_fixtures.h"
#include "tests/document/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>

namespace {

using test::Bytes;

std::uint32_t PixelRgb(const CPictureDib& p, int x, int y) {
  const QRgb c = p.Bitmap()->pixel(x, y);
  return static_cast<std::uint32_t>((qRed(c) << 16) | (qGreen(c) << 8) | qBlue(c));
}

Bytes Valid24() {
  return test::MakeBmp24(4, 4, [](int x, int y) { return static_cast<std::uint32_t>(x * y); });
}

class BmpFileTest : public ::testing::Test {
 protected:
  QString Write(const char* name, const Bytes& bytes) {
    const QString path = m_dir.filePath(name);
    test::WriteFile(path, bytes);
    return path;
  }
  QTemporaryDir m_dir;
};

// Every committed kind (ImageMagick's files with the pixels ImageMagick decodes from them, and
// make_kinds.py's), read into the picture's section and compared through it.
TEST_F(BmpFileTest, LoadsEveryKindOfFixtureAsItsExpectedPixels) {
  for (const test::BmpFixture& f : test::kBmpFixtures) {
    SCOPED_TRACE(f.name);
    const std::string base = std::string("bmp/") + f.name;
    CPictureDib picture;
    ASSERT_EQ(picture.LoadFile(test::DataPath((base + ".bmp").c_str())), S_OK);
    const test::Ppm expected = test::ReadPpm(test::DataPath((base + ".ppm").c_str()));
    ASSERT_EQ(picture.Width(), expected.width);
    ASSERT_EQ(picture.Height(), expected.height);
    EXPECT_EQ(picture.BitsPerPixel(), f.decodedBits);
    EXPECT_TRUE(picture.Bitmap()->topDown());
    for (int y = 0; y < expected.height; ++y)
      for (int x = 0; x < expected.width; ++x)
        ASSERT_EQ(PixelRgb(picture, x, y), expected.At(x, y)) << x << "," << y;
  }
}

// Bottom-up and top-down files of every depth, odd widths so rows carry padding.
TEST_F(BmpFileTest, LoadsEveryDepthUprightInBothRowOrders) {
  const std::vector<std::uint32_t> palette{0x102030, 0xffeedd, 0x00ff00, 0x0000ff};
  // 3 x 2 pictures; expected colours per pixel, top row first.
  struct Case {
    const char* what;
    int bits;
    std::vector<std::uint32_t> palette;
    std::vector<Bytes> rows;
    std::vector<std::uint32_t> expected;
  } cases[] = {
      {"1-bit",
       1,
       {palette[0], palette[1]},
       {{0b10100000}, {0b01000000}},
       {palette[1], palette[0], palette[1], palette[0], palette[1], palette[0]}},
      {"4-bit",
       4,
       palette,
       {{0x12, 0x30}, {0x03, 0x20}},
       {palette[1], palette[2], palette[3], palette[0], palette[3], palette[2]}},
      {"8-bit",
       8,
       palette,
       {{3, 2, 1}, {0, 1, 2}},
       {palette[3], palette[2], palette[1], palette[0], palette[1], palette[2]}},
      {"16-bit 5-5-5",
       16,
       {},
       {{0x00, 0x7c, 0xe0, 0x03, 0x1f, 0x00}, {0xff, 0x7f, 0x00, 0x00, 0x10, 0x42}},
       {0xff0000, 0x00ff00, 0x0000ff, 0xffffff, 0x000000, 0x848484}},
      {"24-bit",
       24,
       {},
       {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}},
       {0x030201, 0x060504, 0x090807, 0x0c0b0a, 0x0f0e0d, 0x121110}},
      {"32-bit",
       32,
       {},
       {{1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99}, {10, 11, 12, 0, 13, 14, 15, 0, 16, 17, 18, 0}},
       {0x030201, 0x060504, 0x090807, 0x0c0b0a, 0x0f0e0d, 0x121110}},
  };
  for (const Case& c : cases) {
    for (const bool topDown : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (topDown ? " top-down" : " bottom-up"));
      test::BmpSpec descriptor;
      descriptor.width = 3;
      descriptor.height = topDown ? -2 : 2;
      descriptor.bits = c.bits;
      descriptor.palette = c.palette;
      descriptor.clrUsed = static_cast<std::uint32_t>(c.palette.size());
      descriptor.rows = c.rows;
      CPictureDib picture;
      ASSERT_EQ(picture.LoadFile(Write("p.bmp", test::MakeBmp(descriptor))), S_OK);
      EXPECT_EQ(picture.Width(), 3);
      EXPECT_EQ(picture.Height(), 2);
      EXPECT_EQ(picture.BitsPerPixel(), c.bits);
      for (int i = 0; i < 6; ++i)
        EXPECT_EQ(PixelRgb(picture, i % 3, i / 3), c.expected[static_cast<std::size_t>(i)]) << i;

      auto converted = ConvertTo24Bit(picture);
      ASSERT_TRUE(converted);
      EXPECT_EQ(converted->BitsPerPixel(), 24);
      for (int i = 0; i < 6; ++i) {
        const std::uint8_t* p = converted->Row(i / 3) + 3 * (i % 3);
        EXPECT_EQ(static_cast<std::uint32_t>(p[2] << 16 | p[1] << 8 | p[0]),
                  c.expected[static_cast<std::size_t>(i)]);
      }
    }
  }
}

TEST_F(BmpFileTest, TwentyFourBitWidthThreeHasTwelveByteRows) {
  const Bytes file =
      test::MakeBmp24(3, 2, [](int x, int y) { return static_cast<std::uint32_t>(x + 10 * y); });
  ASSERT_EQ(file.size(), 54u + 2 * 12);
  CPictureDib picture;
  ASSERT_EQ(picture.LoadFile(Write("w3.bmp", file)), S_OK);
  EXPECT_EQ(picture.RowStep(), 12);
  EXPECT_TRUE(picture.Bitmap()->topDown());
  EXPECT_EQ(picture.Row(1)[6], 12);  // pixel (2, 1), blue
}

TEST_F(BmpFileTest, EightBitWithColoursUsedZeroReadsAFullTable) {
  test::BmpSpec descriptor;
  descriptor.width = 2;
  descriptor.height = 1;
  descriptor.bits = 8;
  descriptor.palette.assign(256, 0);
  descriptor.palette[255] = 0x123456;
  descriptor.rows = {{255, 0}};
  CPictureDib picture;
  ASSERT_EQ(picture.LoadFile(Write("p8.bmp", test::MakeBmp(descriptor))), S_OK);
  EXPECT_EQ(PixelRgb(picture, 0, 0), 0x123456u);
  // The palette lives in the section, not in the picture's format header.
  EXPECT_EQ(picture.Header()->colors[255].red, 0);
}

TEST_F(BmpFileTest, RejectsWhatItCannotReadSafely) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> corrupt;
  } cases[] = {
      {"108-byte header running into the rows", [](Bytes& b) { test::Put32(b, 14, 108); }},
      {"124-byte header running into the rows", [](Bytes& b) { test::Put32(b, 14, 124); }},
      {"12-byte header giving height 0", [](Bytes& b) { test::Put32(b, 14, 12); }},
      {"signature", [](Bytes& b) { b[1] = 'A'; }},
      {"run-length 8 on 24 bits", [](Bytes& b) { test::Put32(b, 30, 1); }},
      {"run-length 4 on 24 bits", [](Bytes& b) { test::Put32(b, 30, 2); }},
      {"bit-field masks on 24 bits", [](Bytes& b) { test::Put32(b, 30, 3); }},
      {"colours used 257", [](Bytes& b) { test::Put32(b, 46, 257); }},
      {"colours used huge", [](Bytes& b) { test::Put32(b, 46, 0xffffffffu); }},
      {"zero width", [](Bytes& b) { test::Put32(b, 18, 0); }},
      {"negative width", [](Bytes& b) { test::Put32(b, 18, 0xfffffffcu); }},
      {"zero height", [](Bytes& b) { test::Put32(b, 22, 0); }},
      {"most negative height", [](Bytes& b) { test::Put32(b, 22, 0x80000000u); }},
      {"depth 2", [](Bytes& b) { test::Put16(b, 28, 2); }},
      {"depth 0", [](Bytes& b) { test::Put16(b, 28, 0); }},
      {"huge width", [](Bytes& b) { test::Put32(b, 18, 0x7fffffffu); }},
      {"huge height", [](Bytes& b) { test::Put32(b, 22, 0x7fffffffu); }},
      {"huge both",
       [](Bytes& b) {
         test::Put32(b, 18, 0x10000);
         test::Put32(b, 22, 0x10000);
       }},
      {"large but the file is short",
       [](Bytes& b) {
         test::Put32(b, 18, 8000);
         test::Put32(b, 22, 8000);
       }},
      {"pixel offset past the end", [](Bytes& b) { test::Put32(b, 10, 0xfffffff0u); }},
      {"last row short", [](Bytes& b) { b.pop_back(); }},
      {"rows missing", [](Bytes& b) { b.resize(54 + 16); }},
      {"info header short", [](Bytes& b) { b.resize(40); }},
      {"file header short", [](Bytes& b) { b.resize(10); }},
      {"empty file", [](Bytes& b) { b.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = Valid24();
    c.corrupt(file);
    CPictureDib picture;
    ASSERT_TRUE(picture.Create(2, 2, 24));
    EXPECT_EQ(picture.LoadFile(Write("bad.bmp", file)), E_FAIL);
    EXPECT_FALSE(picture.HasBitmap());
    EXPECT_EQ(picture.Header(), nullptr);
  }
}

TEST_F(BmpFileTest, RejectsATruncatedColourTable) {
  test::BmpSpec descriptor;
  descriptor.width = 1;
  descriptor.bits = 8;
  descriptor.clrUsed = 200;  // but only 2 entries and one row follow
  descriptor.palette = {0, 0};
  descriptor.rows = {{0}};
  Bytes file = test::MakeBmp(descriptor);
  test::Put32(file, 10, 14 + 40);  // rows claimed to start right after the header
  CPictureDib picture;
  EXPECT_EQ(picture.LoadFile(Write("t.bmp", file)), E_FAIL);
}

// The reason a file is refused comes with the refusal; a refused file leaves the picture alone.
TEST_F(BmpFileTest, LoadBmpFileSaysWhyAndKeepsThePictureOnRefusal) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(5, 4, 24));
  EXPECT_EQ(LoadBmpFile(m_dir.filePath("absent.bmp"), picture), bmp::Status::Unreadable);
  Bytes runLength = Valid24();
  test::Put32(runLength, 30, 1);
  EXPECT_EQ(LoadBmpFile(Write("rle24.bmp", runLength), picture), bmp::Status::UnsupportedCompression);
  Bytes cut = Valid24();
  cut.pop_back();
  EXPECT_EQ(LoadBmpFile(Write("cut.bmp", cut), picture), bmp::Status::TruncatedPixels);
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(picture.BitsPerPixel(), 24);

  ASSERT_EQ(LoadBmpFile(test::DataPath("bmp/rle4-13x7.bmp"), picture), bmp::Status::Ok);
  EXPECT_EQ(picture.Width(), 13);
  EXPECT_EQ(picture.BitsPerPixel(), 4);
}

// The bitmap byte limit is the reader's limit: a picture above it is refused before its section
// or its rows exist, and one at it is read.
TEST_F(BmpFileTest, TheBitmapByteLimitRefusesLargerPictures) {
  const std::uint64_t saved = platform::BitmapByteLimit();
  const QString path = Write("4x4.bmp", Valid24());  // 4 rows of 12 bytes
  CPictureDib picture;
  platform::SetBitmapByteLimit(47);
  EXPECT_EQ(LoadBmpFile(path, picture), bmp::Status::TooLarge);
  EXPECT_EQ(picture.LoadFile(path), E_FAIL);
  EXPECT_FALSE(picture.HasBitmap());
  platform::SetBitmapByteLimit(48);
  EXPECT_EQ(picture.LoadFile(path), S_OK);
  platform::SetBitmapByteLimit(saved);
}

TEST_F(BmpFileTest, MissingFileAndJpegDataNamedBmpFail) {
  CPictureDib picture;
  EXPECT_EQ(picture.LoadFile(m_dir.filePath("absent.bmp")), E_FAIL);
  const Bytes jpegStart{0xff, 0xd8, 0xff, 0xe0, 0, 16, 'J', 'F', 'I', 'F', 0};
  EXPECT_EQ(picture.LoadFile(Write("photo.bmp", jpegStart)), E_FAIL);
}

std::unique_ptr<CPictureDib> Composite10x10() {
  auto picture = std::make_unique<CPictureDib>();
  EXPECT_TRUE(picture->Create(10, 10, 24));
  for (int y = 0; y < 10; ++y) {
    std::memset(picture->Row(y), 255, 32);
    for (int x = 0; x < 30; ++x) picture->Row(y)[x] = static_cast<std::uint8_t>(y * 20 + x);
  }
  return picture;
}

TEST_F(BmpFileTest, SavedTenByTenIs374BytesBottomRowFirstWithPadding) {
  auto picture = Composite10x10();
  const QString path = m_dir.filePath("out.bmp");
  ASSERT_EQ(picture->SaveFile(path), S_OK);
  const Bytes file = test::ReadFile(path);
  ASSERT_EQ(file.size(), 374u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(test::Get32(file, 2), 374u);
  EXPECT_EQ(test::Get32(file, 6), 0u);
  EXPECT_EQ(test::Get32(file, 10), 54u);
  EXPECT_EQ(test::Get32(file, 14), 40u);
  EXPECT_EQ(test::Get32(file, 18), 10u);
  EXPECT_EQ(test::Get32(file, 22), 10u);
  EXPECT_EQ(file[26] | file[27] << 8, 1);
  EXPECT_EQ(file[28] | file[29] << 8, 24);
  for (std::size_t at = 30; at < 54; at += 4) EXPECT_EQ(test::Get32(file, at), 0u) << at;
  for (int k = 0; k < 10; ++k) {
    const std::uint8_t* row = picture->Row(9 - k);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(file[54 + 32 * static_cast<std::size_t>(k) + i], row[i]);
    EXPECT_EQ(file[54 + 32 * static_cast<std::size_t>(k) + 30], 255);
    EXPECT_EQ(file[54 + 32 * static_cast<std::size_t>(k) + 31], 255);
  }
  CPictureDib back;
  ASSERT_EQ(back.LoadFile(path), S_OK);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(std::memcmp(back.Row(y), picture->Row(y), 30), 0);
}

TEST_F(BmpFileTest, SaveRefusesPicturesThatAreNot24Bit) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(4, 4, 8));
  EXPECT_EQ(picture.SaveFile(m_dir.filePath("p8.bmp")), E_FAIL);
  EXPECT_EQ(CPictureDib().SaveFile(m_dir.filePath("none.bmp")), E_FAIL);
  EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// The write goes to a temporary file that is renamed over the target only when complete.
TEST_F(BmpFileTest, AFailedWriteLeavesTheExistingFileAndNoLeftovers) {
  const QString path = m_dir.filePath("keep.bmp");
  const Bytes original(500, 0x5a);
  test::WriteFile(path, original);

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 100;  // the 374-byte file cannot be written in full
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const HRESULT status = Composite10x10()->SaveFile(path);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(status, E_FAIL);
  EXPECT_EQ(test::ReadFile(path), original);
  EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.bmp"});
}

TEST_F(BmpFileTest, SaveIntoAMissingFolderOrOverAFolderFails) {
  auto picture = Composite10x10();
  EXPECT_EQ(picture->SaveFile(m_dir.filePath("no/such/folder/x.bmp")), E_FAIL);
  ASSERT_TRUE(QDir(m_dir.path()).mkdir("taken.bmp"));
  EXPECT_EQ(picture->SaveFile(m_dir.filePath("taken.bmp")), E_FAIL);
  EXPECT_TRUE(QFileInfo(m_dir.filePath("taken.bmp")).isDir());
  EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
}

TEST_F(BmpFileTest, SaveReplacesAnExistingFile) {
  const QString path = m_dir.filePath("replace.bmp");
  test::WriteFile(path, Bytes(1000, 1));
  ASSERT_EQ(Composite10x10()->SaveFile(path), S_OK);
  EXPECT_EQ(test::ReadFile(path).size(), 374u);
}

}  // namespace
