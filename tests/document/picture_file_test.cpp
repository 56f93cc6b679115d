#include "document/picture_file.h"
#include "document/picture_dib.h"
#include "tests/document/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(PictureFileTest, ExtensionAloneChoosesJpeg) {
  struct Case {
    const char* path;
    bool jpeg;
  } cases[] = {{"a.jpg", true},
               {"a.JPG", true},
               {"a.Jpeg", true},
               {"a.jpeg", true},
               {"/x/y/photo.JpG", true},
               {"a.bmp.jpg", true},
               {"a.jpe", false},
               {"a", false},
               {"a.bmp", false},
               {"a.jpg.bmp", false},
               {"dir.jpg/picture", false},
               {"a.jpgx", false},
               {"a.", false},
               {"a.jp", false},
               {"", false}};
  for (const Case& c : cases) EXPECT_EQ(IsJpegPath(c.path), c.jpeg) << c.path;
}

// Pictures are read by what they hold; the name's extension decides only how a save is written.
TEST(PictureFileTest, PicturesAreReadByContentAndSavedByExtension) {
  QTemporaryDir dir;
  CPictureDib source;
  ASSERT_TRUE(source.Create(8, 8, 24));
  const struct {
    const char* savedAs;
    const char* renamedTo;
    PictureKind kind;
  } cases[] = {{"real.bmp", "bmp-named.jpg", PictureKind::Bmp},
               {"real.jpg", "jpeg-named.bmp", PictureKind::Jpeg},
               {"real.jpeg", "jpeg-without-extension", PictureKind::Jpeg},
               {"real-bmp-without-extension", "bmp-named.jpeg", PictureKind::Bmp}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.renamedTo);
    const QString saved = dir.filePath(c.savedAs);
    ASSERT_EQ(source.SaveFile(saved), S_OK);
    EXPECT_EQ(SniffPictureKind(saved), c.kind);
    const QString renamed = dir.filePath(c.renamedTo);
    ASSERT_TRUE(QFile::copy(saved, renamed));
    CPictureDib picture;
    PictureProblem problem = PictureProblem::Damaged;
    ASSERT_EQ(picture.LoadFile(renamed, &problem), S_OK);
    EXPECT_EQ(problem, PictureProblem::None);
    EXPECT_EQ(picture.Width(), 8);
    EXPECT_EQ(picture.Height(), 8);
  }
}

TEST(PictureFileTest, SniffingLooksAtTheFirstTwoBytesOnly) {
  QTemporaryDir dir;
  const struct {
    QByteArray bytes;
    PictureKind kind;
  } cases[] = {{QByteArray("\xFF\xD8", 2), PictureKind::Jpeg},
               {QByteArray("\xFF\xD8\xFF\xE0rest", 8), PictureKind::Jpeg},
               {"BM", PictureKind::Bmp},
               {"BMxyz", PictureKind::Bmp},
               {"bm", PictureKind::Other},
               {"MB", PictureKind::Other},
               {QByteArray("\xFF", 1), PictureKind::Other},
               {"", PictureKind::Other},
               {"GIF89a", PictureKind::Other}};
  for (const auto& c : cases) {
    const QString path = dir.filePath("f");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(c.bytes);
    file.close();
    EXPECT_EQ(SniffPictureKind(path), c.kind) << c.bytes.toHex().toStdString();
  }
  EXPECT_EQ(SniffPictureKind(dir.filePath("absent")), PictureKind::Unreadable);
}

TEST(PictureFileTest, FailedJpegSaveLeavesTheExistingFileAndNoLeftovers) {
  QTemporaryDir dir;
  const QString path = dir.filePath("keep.jpg");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("previous contents");
  file.close();
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(4, 4, 8));  // not 24-bit: refused before anything is written
  EXPECT_EQ(picture.SaveFile(path), E_FAIL);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("previous contents"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.jpg"});
}

}  // namespace

namespace {

// A refused BMP names the reason the reader found, as the user reads it.
TEST(PictureFileTest, RefusedBmpGivesTheReaderReason) {
  QTemporaryDir dir;
  const test::Bytes good = test::MakeBmp24(4, 3, [](int x, int y) { return std::uint32_t(x * 40 + y); });
  auto cut = [&](std::size_t size) {
    return test::Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
  };
  auto patched = [&](std::size_t at, std::uint32_t value) {
    test::Bytes bytes = good;
    test::Put32(bytes, at, value);
    return bytes;
  };
  const struct {
    const char* name;
    test::Bytes bytes;
    PictureProblem problem;
  } cases[] = {
      {"header cut short", cut(30), PictureProblem::Truncated},
      {"rows cut short", cut(good.size() - 5), PictureProblem::Truncated},
      {"header of an unknown size", patched(14, 20), PictureProblem::UnsupportedKind},
      {"JPEG compression", patched(30, 4), PictureProblem::UnsupportedKind},
      {"zero width", patched(18, 0), PictureProblem::Damaged},
      {"a width no bitmap takes", patched(18, 0x7FFFFFFF), PictureProblem::TooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath("refused.bmp");
    test::WriteFile(path, c.bytes);
    CPictureDib picture;
    PictureProblem problem = PictureProblem::None;
    EXPECT_EQ(picture.LoadFile(path, &problem), E_FAIL);
    EXPECT_EQ(problem, c.problem);
  }
}

}  // namespace
