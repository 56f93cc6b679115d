// Reading-order layout, cell-size text, the composite's limits, the progress text and the
// reduced JPEG scale chosen for a cell.
#include "tools/grid_layout.h"
#include "document/jpeg_reduced.h"
#include "platform/bitmap.h"
#include "tests/document/test_support.h"
#include "tools/grid_compose.h"
#include "tools/grid_progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace {

using grid::CellSize;

TEST(GridLayout, DefaultColumnsIsTheSmallestSquareThatHoldsTheCount) {
  const struct {
    std::size_t count;
    int columns;
  } cases[] = {{0, 1},  {1, 1},  {2, 2},  {4, 2},  {5, 3},         {9, 3},
               {10, 4}, {12, 4}, {16, 4}, {17, 5}, {1000000, 1000}};
  for (const auto& c : cases) EXPECT_EQ(grid::DefaultColumns(c.count), c.columns) << c.count;
}

TEST(GridLayout, PicturesFillRowsInReadingOrder) {
  const struct {
    std::size_t count;
    int columns;
    int wantColumns;
    int wantRows;
  } cases[] = {{12, 0, 4, 3}, {12, 4, 4, 3}, {5, 0, 3, 2}, {5, 5, 5, 1}, {3, 10, 10, 1}, {7, 1, 1, 7}};
  for (const auto& c : cases) {
    const grid::Layout layout = grid::MakeLayout(c.count, c.columns, CellSize{600, 400});
    EXPECT_EQ(layout.columns, c.wantColumns) << c.count << " " << c.columns;
    EXPECT_EQ(layout.rows, c.wantRows) << c.count << " " << c.columns;
  }
  const grid::Layout layout = grid::MakeLayout(12, 0, CellSize{600, 400});
  EXPECT_EQ(layout.Width(), 2400);
  EXPECT_EQ(layout.Height(), 1200);
  EXPECT_EQ(layout.ColumnOf(6), 2);
  EXPECT_EQ(layout.RowOf(6), 1);
}

TEST(GridLayout, CellSizeText) {
  const struct {
    const char* text;
    std::optional<std::pair<int, int>> size;
  } cases[] = {
      {"600x400", std::pair{600, 400}},
      {"1X1", std::pair{1, 1}},
      {"0x5", std::pair{0, 5}},
      {"600", std::nullopt},
      {"x400", std::nullopt},
      {"600x", std::nullopt},
      {"-1x5", std::nullopt},
      {"6 x4", std::nullopt},
      {"6x4x2", std::nullopt},
      {"99999999999x1", std::nullopt},
      {"", std::nullopt},
      {"0x0", std::pair{0, 0}},
  };
  for (const auto& c : cases) {
    const auto cell = grid::ParseCellSize(c.text);
    ASSERT_EQ(cell.has_value(), c.size.has_value()) << c.text;
    if (cell) {
      EXPECT_EQ(cell->width, c.size->first) << c.text;
      EXPECT_EQ(cell->height, c.size->second) << c.text;
    }
  }
}

TEST(GridLayout, CompositeLimits) {
  const std::uint64_t saved = platform::BitmapByteLimit();
  platform::SetBitmapByteLimit(1 << 20);  // 1 MiB: a 600 x 582 24-bit picture fits, 600 x 583 does not
  const struct {
    int columns;
    int rows;
    CellSize cell;
    bool jpeg;
    bool fits;
  } cases[] = {
      {1, 1, {600, 582}, true, true},        {1, 1, {600, 583}, true, false},
      {2, 1, {300, 583}, false, false},      {1, 1, {1, 1}, true, true},
      {1, 1, {0, 5}, false, false},          {70000, 1, {1, 1}, false, true},
      {70000, 1, {1, 1}, true, false},       {1, 1, {2000000000, 2}, false, false},
      {3, 1, {1000000000, 1}, false, false},
  };
  for (const auto& c : cases) {
    const grid::Layout layout{c.columns, c.rows, c.cell};
    EXPECT_EQ(!grid::CompositeProblem(layout, c.jpeg).has_value(), c.fits)
        << c.columns << "x" << c.rows << " cells of " << c.cell.width << "x" << c.cell.height;
  }
  platform::SetBitmapByteLimit(saved);
}

TEST(GridProgress, Text) {
  EXPECT_EQ(grid::FormatProgress(7, 12, 1.23), "7/12 pictures   58%  1.2 s");
  EXPECT_EQ(grid::FormatProgress(12, 12, 0.0), "12/12 pictures  100%  0.0 s");
  EXPECT_EQ(grid::FormatProgress(0, 0, 0.0), "0/0 pictures  100%  0.0 s");
}

// The smallest decode (largest denominator) whose rounded-up size still covers the cell.
TEST(ReducedJpegScale, SmallestScaleCoveringTheCell) {
  const struct {
    int width, height, cellWidth, cellHeight, scale;
  } cases[] = {
      {2400, 1600, 600, 400, 4},  // exactly a quarter
      {2400, 1600, 300, 200, 8},   {2400, 1600, 301, 200, 4},
      {2400, 1600, 300, 201, 4},   {2400, 1600, 601, 400, 2},
      {2400, 1600, 1200, 800, 2},  {2400, 1600, 1201, 800, 1},
      {2400, 1600, 2400, 1600, 1}, {2400, 1600, 4000, 100, 1},  // wider than the picture
      {97, 61, 13, 8, 8},                                       // 97/8 and 61/8 round up to 13 x 8
      {97, 61, 13, 9, 4},          {97, 61, 49, 31, 2},
      {97, 61, 50, 31, 1},         {1, 1, 1, 1, 8},
      {1600, 2400, 400, 600, 4},  // portrait
      {2400, 1600, 400, 600, 2},  // a portrait cell from a landscape picture: height decides
  };
  for (const auto& c : cases)
    EXPECT_EQ(CoveringJpegScale(c.width, c.height, c.cellWidth, c.cellHeight), c.scale)
        << c.width << "x" << c.height << " for " << c.cellWidth << "x" << c.cellHeight;
}

TEST(ReducedJpegScale, DecodesAtTheChosenScale) {
  const QString path = test::DataPath("jpeg/p256_420.jpg");  // 256 x 192
  const struct {
    int cellWidth, cellHeight, scale, width, height;
  } cases[] = {{32, 24, 8, 32, 24}, {33, 24, 4, 64, 48}, {64, 49, 2, 128, 96}, {200, 150, 1, 256, 192}};
  for (const auto& c : cases) {
    const ReducedJpeg jpeg = LoadJpegCovering(path, c.cellWidth, c.cellHeight);
    ASSERT_EQ(jpeg.problem, PictureProblem::None);
    ASSERT_TRUE(jpeg.picture);
    EXPECT_EQ(jpeg.scale, c.scale);
    EXPECT_EQ(jpeg.picture->Width(), c.width);
    EXPECT_EQ(jpeg.picture->Height(), c.height);
    EXPECT_EQ(jpeg.picture->BitsPerPixel(), 24);
  }
}

TEST(ReducedJpegScale, FullScaleCellEqualsTheApplicationsPicture) {
  // When only the full size covers the cell the reduced path must give the exact path's pixels.
  const QString path = test::DataPath("jpeg/p97_420.jpg");
  for (const CellSize cell : {CellSize{97, 61}, CellSize{60, 40}, CellSize{120, 61}}) {
    const auto reduced = grid::LoadForCell(path, cell, false);
    const auto exact = grid::LoadForCell(path, cell, true);
    ASSERT_TRUE(reduced.picture && exact.picture);
    ASSERT_EQ(CoveringJpegScale(97, 61, cell.width, cell.height), 1);
    for (int y = 0; y < cell.height; ++y)
      ASSERT_EQ(std::memcmp(reduced.picture->Row(y), exact.picture->Row(y),
                            3 * static_cast<std::size_t>(cell.width)),
                0)
          << "row " << y;
  }
}

TEST(ReducedJpegScale, NotAJpegIsNamedSo) {
  const ReducedJpeg bmp = LoadJpegCovering(test::DataPath("bmp/rgb24-9x6.bmp"), 1, 1);
  EXPECT_FALSE(bmp.picture);
  EXPECT_NE(bmp.problem, PictureProblem::None);
}

}  // namespace
