#include "platform/dialogs.h"

#include "platform/busy_cursor.h"
#include "platform/profile.h"

#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::FilterSuffix;

TEST(FilterSuffixTest, IsTheFirstPatternsExtension) {
  const struct {
    const char* filter;
    const char* suffix;
  } cases[] = {{"JPEG Files (*.jpg *.jpeg)", "jpg"},
               {"Bitmap Files (*.bmp)", "bmp"},
               {"All Support Media Files (*.jpg *.jpeg *.bmp)", "jpg"},
               {"All Files (*)", ""},
               {"All Files (*.*)", ""},
               {"No patterns", ""}};
  for (const auto& c : cases) EXPECT_EQ(FilterSuffix(c.filter), c.suffix) << c.filter;
}

// The save dialog as the user sees it: choosing the BMP filter makes "grid" grid.bmp.
TEST(FollowFilterSuffixTest, NameWithoutExtensionTakesTheChosenFiltersExtension) {
  QTemporaryDir dir;
  const QStringList filters{"JPEG Files (*.jpg *.jpeg)", "Bitmap Files (*.bmp)"};
  const struct {
    int chosen;
    const char* expected;
  } cases[] = {{1, "grid.bmp"}, {0, "grid.jpg"}};
  for (const auto& c : cases) {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix("jpg");
    dialog.setDirectory(dir.path());
    platform::FollowFilterSuffix(dialog);
    // What the dialog's filter box does when the user picks an entry.
    dialog.selectNameFilter(filters[c.chosen]);
    emit dialog.filterSelected(filters[c.chosen]);
    dialog.selectFile("grid");
    ASSERT_FALSE(dialog.selectedFiles().isEmpty());
    EXPECT_EQ(QFileInfo(dialog.selectedFiles().front()).fileName(), c.expected);
  }
}

}  // namespace

namespace platform {
namespace {

// File dialogs start in the folder used last, in this run and in the next one.
TEST(QtDialogServiceTest, FileDialogsStartInTheFolderUsedLast) {
  QTemporaryDir dir;
  const QString pictures = dir.filePath("pictures");
  ASSERT_TRUE(QDir().mkpath(pictures));
  ProfileStore profile(dir.filePath("profile.ini"));
  {
    QtDialogService dialogs(&profile);
    EXPECT_EQ(dialogs.StartFolder(), QString());
    dialogs.RememberFolderOf(pictures + "/a.bmp");
    EXPECT_EQ(dialogs.StartFolder(), pictures);
  }
  EXPECT_EQ(profile.GetProfileString("parameters", "LastFolder", {}), pictures);
  QtDialogService nextRun(&profile);
  EXPECT_EQ(nextRun.StartFolder(), pictures);
  QFileDialog dialog;
  nextRun.PrepareFileDialog(dialog);
  EXPECT_EQ(dialog.directory().absolutePath(), pictures);
}

TEST(QtDialogServiceTest, AStoredFolderThatIsGoneIsNotUsed) {
  QTemporaryDir dir;
  ProfileStore profile(dir.filePath("profile.ini"));
  for (const QString& stored : {dir.filePath("gone"), dir.filePath("profile.ini"), QString("")}) {
    profile.WriteProfileString("parameters", "LastFolder", stored);
    EXPECT_EQ(QtDialogService(&profile).StartFolder(), QString()) << stored.toStdString();
  }
}

// While work shows the busy cursor, a dialog that opens shows the ordinary one.
TEST(CursorTest, NormalCursorShowsOverTheBusyOneAndBothAreTakenBack) {
  ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
  {
    const BusyCursor busy;
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    {
      const NormalCursor normal;
      EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  }
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace platform
