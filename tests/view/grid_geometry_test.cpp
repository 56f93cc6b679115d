#include "view/grid_geometry.h"

#include <gtest/gtest.h>

#include <climits>

namespace grid {
namespace {

TEST(ZoomedCellSizeTest, StepsMultiplyUpwardsAndDivideDownwards) {
  struct Case {
    int zoom;
    Extent expected;
  } cases[] = {{0, {200, 150}}, {1, {400, 300}}, {2, {600, 450}}, {-1, {100, 75}},
               {-2, {66, 50}},  {-3, {50, 37}},  {-199, {1, 0}},  {-200, {0, 0}}};
  for (const Case& c : cases) EXPECT_EQ(ZoomedCellSize(200, 150, c.zoom), c.expected) << c.zoom;
}

TEST(ZoomedCellSizeTest, LargeZoomDoesNotOverflow) {
  EXPECT_EQ(ZoomedCellSize(INT_MAX, 1, kMaxZoomSteps).width, std::int64_t{INT_MAX} * (kMaxZoomSteps + 1));
}

TEST(ScrollTotalTest, ThreeColumnsOf200PixelCells) {
  struct Case {
    int zoom;
    std::int64_t width;
  } cases[] = {{0, 700}, {1, 1300}, {-2, 3 * 66 + 100}};
  for (const Case& c : cases)
    EXPECT_EQ(ScrollTotal(ZoomedCellSize(200, 200, c.zoom), 3, 1).width, c.width) << c.zoom;
}

TEST(ScrollTotalTest, EmptyGridScrollsOver100By100) {
  EXPECT_EQ(ScrollTotal(ZoomedCellSize(0, 0, 0), 0, 0), (Extent{100, 100}));
  EXPECT_EQ(ScrollTotal(ZoomedCellSize(0, 0, 5), 1, 1), (Extent{100, 100}));
}

TEST(CanvasSizeTest, CoversTheScreenAndTheScrollArea) {
  EXPECT_EQ(CanvasSize(QSize(1280, 1024), {700, 300}), (Extent{1280, 1024}));
  EXPECT_EQ(CanvasSize(QSize(1280, 1024), {2000, 300}), (Extent{2000, 1024}));
  EXPECT_EQ(CanvasSize(QSize(1280, 1024), {200, 5000}), (Extent{1280, 5000}));
}

TEST(ZoomAllowedTest, RefusesAZoomedCellOfZeroPixels) {
  EXPECT_TRUE(ZoomAllowed(3, 10, 1, 1, -2));   // 1 x 3
  EXPECT_FALSE(ZoomAllowed(3, 10, 1, 1, -3));  // 0 x 2
  EXPECT_FALSE(ZoomAllowed(10, 3, 1, 1, -3));
  EXPECT_TRUE(ZoomAllowed(1, 1, 1, 1, 0));
  EXPECT_FALSE(ZoomAllowed(1, 1, 1, 1, -1));
}

TEST(ZoomAllowedTest, WithoutACellSizeOnlyTheStepRangeCounts) {
  EXPECT_TRUE(ZoomAllowed(0, 0, 0, 0, -7));
  EXPECT_TRUE(ZoomAllowed(0, 0, 1, 1, 7));
  EXPECT_FALSE(ZoomAllowed(0, 0, 0, 0, kMaxZoomSteps + 1));
  EXPECT_FALSE(ZoomAllowed(0, 0, 0, 0, -kMaxZoomSteps - 1));
}

TEST(ZoomAllowedTest, RefusesSizesPastTheIntRange) {
  EXPECT_TRUE(ZoomAllowed(1000, 1000, 10, 10, 100));    // 1010100 pixels
  EXPECT_FALSE(ZoomAllowed(100000, 10, 100, 1, 1000));  // 1e10 pixels wide
  EXPECT_FALSE(ZoomAllowed(INT_MAX, 1, 1, 1, 0));       // plus the margin
}

TEST(CellAtPointTest, MapsWindowPointsThroughScrollAndZoom) {
  struct Case {
    const char* what;
    QPoint point;
    QPoint scroll;
    Extent zoomed;
    CellHit expected;
  } cases[] = {
      {"top-left", {0, 0}, {0, 0}, {200, 100}, {0, 0, false}},
      {"inside last cell", {599, 199}, {0, 0}, {200, 100}, {2, 1, false}},
      {"5 px right of the last column", {605, 50}, {0, 0}, {200, 100}, {3, 0, true}},
      {"far right", {5000, 150}, {0, 0}, {200, 100}, {3, 1, true}},
      {"just below", {10, 200}, {0, 0}, {200, 100}, {0, 2, true}},
      {"below and right", {650, 250}, {0, 0}, {200, 100}, {3, 2, true}},
      {"scrolled", {10, 10}, {400, 100}, {200, 100}, {2, 1, false}},
      {"zoomed out cell", {70, 40}, {0, 0}, {66, 33}, {1, 1, false}},
  };
  for (const Case& c : cases) {
    const auto hit = CellAtPoint(c.point, c.scroll, c.zoomed, 3, 2);
    ASSERT_TRUE(hit) << c.what;
    EXPECT_EQ(hit->column, c.expected.column) << c.what;
    EXPECT_EQ(hit->row, c.expected.row) << c.what;
    EXPECT_EQ(hit->growsGrid, c.expected.growsGrid) << c.what;
  }
}

TEST(CellAtPointTest, NoCellForAnEmptyZoomedSize) {
  EXPECT_FALSE(CellAtPoint({5, 5}, {0, 0}, {0, 10}, 1, 1));
  EXPECT_FALSE(CellAtPoint({5, 5}, {0, 0}, {10, 0}, 1, 1));
}

TEST(ZoomPercentTest, PicturePixelsPerDevicePixel) {
  const struct {
    int zoom;
    int percent;
  } cases[] = {{0, 100}, {1, 200},  {4, 500},
               {-1, 50}, {-2, 33},  {-3, 25},
               {-99, 1}, {-100, 0}, {kMaxZoomSteps, (kMaxZoomSteps + 1) * 100}};
  for (const auto& c : cases) EXPECT_EQ(ZoomPercent(c.zoom), c.percent) << c.zoom;
}

TEST(WheelNotchesTest, WholeNotchesGoAndTheRestWaits) {
  const struct {
    int pending, delta, notches, left;
  } cases[] = {{0, 120, 1, 0},  {0, -120, -1, 0},     {0, 360, 3, 0}, {0, 60, 0, 60},   {60, 60, 1, 0},
               {60, -60, 0, 0}, {-100, -30, -1, -10}, {0, 0, 0, 0},   {100, 150, 2, 10}};
  for (const auto& c : cases) {
    int pending = c.pending;
    EXPECT_EQ(WheelNotches(pending, c.delta), c.notches) << c.pending << " + " << c.delta;
    EXPECT_EQ(pending, c.left) << c.pending << " + " << c.delta;
  }
}

TEST(DevicePixelsTest, LengthsRoundUpPointsDownAndTheMarginScales) {
  EXPECT_EQ(ToDevice(100, 1.0), 100);
  EXPECT_EQ(ToDevice(100, 2.0), 200);
  EXPECT_EQ(ToDevice(3, 1.5), 5);
  EXPECT_EQ(ToLogical(300, 2.0), 150);
  EXPECT_EQ(ToLogical(301, 2.0), 151);
  EXPECT_EQ(ToDevicePoint(QPoint(3, 5), 1.5), QPoint(4, 7));
  EXPECT_EQ(ToDevicePoint(QPoint(30, 5), 2.0), QPoint(60, 10));
  // Three 200-pixel cells: at ratio 1 as before; at ratio 2 the cells keep their device
  // pixels and the margin doubles.
  EXPECT_EQ(DeviceTotal({200, 100}, 3, 2, 1.0), (Extent{700, 300}));
  EXPECT_EQ(DeviceTotal({200, 100}, 3, 2, 2.0), (Extent{800, 400}));
  EXPECT_EQ(DeviceTotal({200, 100}, 3, 2, 1.0), ScrollTotal({200, 100}, 3, 2));
}

}  // namespace
}  // namespace grid
