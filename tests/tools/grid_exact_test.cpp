// meshwick-grid --exact writes, byte for byte, what the application saves for the same
// pictures placed in the same cells.
#include "tests/tools/grid_test_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using grid_test::Arguments;
using grid_test::RunGrid;
using grid_test::SaveThroughDocument;

struct ExactCase {
  const char* name;
  QStringList pictures;  // names under tests/data
  int columns;           // as the tool would choose when `passColumns` is false
  bool passColumns;
  QString cell;  // "WxH", or empty for the first picture's size
  const char* output;
};

void PrintTo(const ExactCase& c, std::ostream* os) {
  *os << c.name;
}

QStringList DataPaths(const QStringList& names) {
  QStringList paths;
  for (const QString& name : names) paths << test::DataPath(name.toUtf8().constData());
  return paths;
}

class GridExactTest : public ::testing::TestWithParam<ExactCase> {};

TEST_P(GridExactTest, SameBytesAsTheApplicationSaves) {
  const ExactCase& c = GetParam();
  QTemporaryDir dir;
  const QStringList pictures = DataPaths(c.pictures);
  const QString fromApp = dir.filePath(QString("app_") + c.output);
  const QString fromTool = dir.filePath(QString("tool_") + c.output);

  SaveThroughDocument(pictures, c.columns, c.cell, fromApp);
  QString options = "--exact --jobs 3";
  if (c.passColumns) options += " --columns " + QString::number(c.columns);
  if (!c.cell.isEmpty()) options += " --cell " + c.cell;
  const auto run = RunGrid(options + " -o '" + fromTool + "'" + Arguments(pictures), dir.filePath("err"));

  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const test::Bytes expected = test::ReadFile(fromApp);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(test::ReadFile(fromTool) == expected) << "tool output differs from the application's";
}

const QStringList kMixed = {"jpeg/p256_420.jpg", "jpeg/p97_420.jpg", "jpeg/p256_grey.jpg",
                            "bmp/pal8-41x3.bmp", "jpeg/p97_420_progressive.jpg"};

INSTANTIATE_TEST_SUITE_P(
    Pictures, GridExactTest,
    ::testing::Values(
        // Five pictures: three to a row, the sixth cell white; cell size from the first picture.
        ExactCase{"MixedFirstSizeJpeg", kMixed, 3, false, "", "grid.jpg"},
        ExactCase{"MixedFirstSizeBmp", kMixed, 3, false, "", "grid.bmp"},
        // Downscaling, upscaling and an odd cell width whose rows need padding.
        ExactCase{"MixedCellJpeg", kMixed, 2, true, "61x37", "grid.jpeg"},
        ExactCase{"MixedCellBmp", kMixed, 4, true, "301x203", "grid.bmp"},
        ExactCase{"MixedSmallCellBmp", kMixed, 3, false, "40x30", "small.bmp"},
        ExactCase{"PalettesAndOneRow",
                  {"bmp/mono-13x5.bmp", "bmp/pal4-9x6.bmp", "bmp/rgb24-9x6.bmp"},
                  3,
                  true,
                  "",
                  "row.bmp"},
        ExactCase{"OnePicture", {"jpeg/p97_411.jpg"}, 1, false, "50x50", "one.jpg"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
