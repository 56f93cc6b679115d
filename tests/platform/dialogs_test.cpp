#include "platform/dialogs.h"

#include <QFileDialog>
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
