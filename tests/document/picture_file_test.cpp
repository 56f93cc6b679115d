#include "document/picture_file.h"
#include "document/picture_dib.h"

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

TEST(PictureFileTest, BmpDataNamedJpgIsNotReadAsBmp) {
  QTemporaryDir dir;
  CPictureDib source;
  ASSERT_TRUE(source.Create(4, 4, 24));
  const QString bmpPath = dir.filePath("real.bmp");
  ASSERT_EQ(source.SaveFile(bmpPath), S_OK);
  const QString jpgPath = dir.filePath("real.jpg");
  ASSERT_TRUE(QFile::copy(bmpPath, jpgPath));
  CPictureDib picture;
  EXPECT_EQ(picture.LoadFile(jpgPath), E_FAIL);
  EXPECT_FALSE(picture.HasBitmap());
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
