#include "platform/profile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ProfileStoreTest, MissingValueGivesTheDefault) {
  QTemporaryDir dir;
  const ProfileStore store(dir.filePath("p.ini"));
  EXPECT_EQ(store.GetProfileInt("parameters", "CmdShow", 3), 3);
}

TEST(ProfileStoreTest, WrittenValueIsReadBackByANewStore) {
  QTemporaryDir dir;
  {
    ProfileStore store(dir.filePath("p.ini"));
    EXPECT_TRUE(store.WriteProfileInt("parameters", "CmdShow", 2));
  }
  const ProfileStore reopened(dir.filePath("p.ini"));
  EXPECT_EQ(reopened.GetProfileInt("parameters", "CmdShow", 3), 2);
  EXPECT_EQ(reopened.GetProfileInt("other", "CmdShow", 7), 7);
}

TEST(ProfileStoreTest, NonIntegerValueGivesTheDefault) {
  QTemporaryDir dir;
  QFile file(dir.filePath("p.ini"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[parameters]\nCmdShow=maximised\n");
  file.close();
  const ProfileStore store(dir.filePath("p.ini"));
  EXPECT_EQ(store.GetProfileInt("parameters", "CmdShow", 3), 3);
}

}  // namespace
}  // namespace platform
