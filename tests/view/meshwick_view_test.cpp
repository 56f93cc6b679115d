#include "view/meshwick_view.h"

#include "document/cell_size_dlg.h"
#include "document/meshwick_doc.h"
#include "platform/screen.h"
#include "tests/document/test_support.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ByteLimitGuard {
 public:
  explicit ByteLimitGuard(std::uint64_t limit) : m_saved(platform::BitmapByteLimit()) {
    platform::SetBitmapByteLimit(limit);
  }
  ~ByteLimitGuard() { platform::SetBitmapByteLimit(m_saved); }

 private:
  std::uint64_t m_saved;
};

QRgb CanvasPixel(const CMeshwickView& view, int x, int y) {
  return view.Canvas()->pixel(x, y);
}

class MeshwickViewTest : public ::testing::Test {
 protected:
  MeshwickViewTest() {
    // The cell-size dialog is cancelled: the first picture's size becomes the cell size.
    m_dialogs.onModal = [](QDialog& dialog) {
      dynamic_cast<CCellSizeDlg&>(dialog).CancelButton()->click();
      return dialog.result();
    };
    m_view.resize(400, 300);
  }

  QString Solid(const char* name, int width, int height, std::uint32_t rgb) {
    const QString path = m_dir.filePath(name);
    test::WriteFile(path, test::MakeBmp24(width, height, [rgb](int, int) { return rgb; }));
    return path;
  }
  // Paints the view once, which makes the canvas.
  QImage Paint() { return m_view.viewport()->grab().toImage(); }
  void DoubleClick(const QString& path, QPoint at) {
    m_dialogs.openAnswers.push_back(path);
    m_view.OnLButtonDblClk(at);
  }

  QTemporaryDir m_dir;
  test::FakeDialogs m_dialogs;
  CMeshwickDoc m_doc{m_dialogs};
  CMeshwickView m_view{m_doc, m_dialogs};
};

TEST_F(MeshwickViewTest, EmptyDocumentScrollsOver100By100AndShowsTheHatch) {
  m_view.OnInitialUpdate();
  EXPECT_EQ(m_view.TotalWidth(), 100);
  EXPECT_EQ(m_view.TotalHeight(), 100);
  EXPECT_EQ(m_view.Canvas(), nullptr);
  const QImage shown = Paint();
  ASSERT_NE(m_view.Canvas(), nullptr);
  EXPECT_EQ(m_view.Canvas()->width(), platform::ScreenSize().width());
  EXPECT_EQ(m_view.Canvas()->height(), platform::ScreenSize().height());
  std::set<QRgb> colours;
  for (int y = 5; y < 60; ++y)
    for (int x = 5; x < 60; ++x) colours.insert(shown.pixel(x, y));
  EXPECT_EQ(colours, (std::set<QRgb>{qRgb(128, 128, 128), qRgb(255, 255, 255)}));
}

TEST_F(MeshwickViewTest, ScrollSizesFollowTheZoom) {
  const QString path = Solid("p.bmp", 200, 200, 0x336699);
  for (int c = 0; c < 3; ++c) ASSERT_TRUE(m_doc.PlacePicture(path, c, 0));
  m_view.RebuildCanvas();
  EXPECT_EQ(m_view.TotalWidth(), 700);
  EXPECT_EQ(m_view.TotalHeight(), 300);
  m_view.OnZoomIn();
  EXPECT_EQ(m_view.TotalWidth(), 1300);
  m_view.OnZoomOut();
  m_view.OnZoomOut();
  m_view.OnZoomOut();
  EXPECT_EQ(m_view.Zoom(), -2);
  EXPECT_EQ(m_view.TotalWidth(), 298);
  EXPECT_EQ(m_view.horizontalScrollBar()->maximum(), std::max(0, 298 - m_view.viewport()->width()));
}

TEST_F(MeshwickViewTest, ZoomCommandsAreHandledByTheView) {
  EXPECT_TRUE(m_view.HandlesCommand(platform::ID_ZOOM_IN));
  EXPECT_TRUE(m_view.HandlesCommand(platform::ID_ZOOM_OUT));
  EXPECT_FALSE(m_view.HandlesCommand(platform::ID_FILE_SAVE_AS));
  EXPECT_TRUE(m_view.OnCommand(platform::ID_ZOOM_IN));
  EXPECT_EQ(m_view.Zoom(), 1);
  EXPECT_TRUE(m_view.OnCommand(platform::ID_ZOOM_OUT));
  EXPECT_EQ(m_view.Zoom(), 0);
}

TEST_F(MeshwickViewTest, ZoomStepIsUndoneWhenItsCanvasCannotBeMade) {
  const QString path = Solid("p.bmp", 200, 200, 0x336699);
  for (int c = 0; c < 6; ++c) ASSERT_TRUE(m_doc.PlacePicture(path, c, 0));
  Paint();
  m_view.RebuildCanvas();
  const platform::Bitmap* before = m_view.Canvas();
  ASSERT_NE(before, nullptr);
  const QSize screen = platform::ScreenSize();
  // Zoom 0 fits (1300 wide), zoom 1 (2500 wide) does not.
  ByteLimitGuard guard(static_cast<std::uint64_t>(1300) * 4 * std::max(screen.height(), 300));
  ASSERT_EQ(before->width(), 1300);
  m_view.OnZoomIn();
  EXPECT_EQ(m_view.Zoom(), 0);
  EXPECT_EQ(m_view.TotalWidth(), 1300);
  ASSERT_NE(m_view.Canvas(), nullptr);
  EXPECT_EQ(m_view.Canvas()->width(), 1300);  // rebuilt at the previous step
}

TEST_F(MeshwickViewTest, PlacementThatOutgrowsTheCanvasStepsTheZoomDown) {
  const QString path = Solid("p.bmp", 200, 200, 0x336699);
  for (int c = 0; c < 5; ++c) ASSERT_TRUE(m_doc.PlacePicture(path, c, 0));
  Paint();
  m_view.OnZoomIn();  // 5 x 400 + 100 = 2100 wide
  ASSERT_EQ(m_view.Zoom(), 1);
  const QSize screen = platform::ScreenSize();
  ByteLimitGuard guard(static_cast<std::uint64_t>(2200) * 4 * std::max(screen.height(), 300));
  // A sixth column needs 2500 pixels at zoom 1; zoom 0 gives 1300.
  DoubleClick(path, {2050 - m_view.GetScrollPosition().x(), 10});
  EXPECT_EQ(m_doc.Columns(), 6);
  EXPECT_EQ(m_view.Zoom(), 0);
  EXPECT_EQ(m_view.Canvas()->width(), 1300);
}

TEST_F(MeshwickViewTest, EvenTheSmallestCanvasFailingLeavesZoomAndCanvasAlone) {
  const QString path = Solid("p.bmp", 20, 20, 0x336699);
  ASSERT_TRUE(m_doc.PlacePicture(path, 0, 0));
  Paint();
  const platform::Bitmap* before = m_view.Canvas();
  ByteLimitGuard guard(16);
  m_view.OnZoomIn();
  EXPECT_EQ(m_view.Zoom(), 0);
  m_view.RebuildCanvas();
  EXPECT_EQ(m_view.Zoom(), 0);
  EXPECT_EQ(m_view.Canvas(), before);
}

TEST_F(MeshwickViewTest, ZoomOutStopsBeforeTheCellVanishes) {
  ASSERT_TRUE(m_doc.PlacePicture(Solid("p.bmp", 3, 5, 0x336699), 0, 0));
  m_view.OnZoomOut();  // 1 x 2
  m_view.OnZoomOut();  // would be 1 x 1 then 0 x 1 ...
  EXPECT_EQ(m_view.Zoom(), -2);
  m_view.OnZoomOut();
  EXPECT_EQ(m_view.Zoom(), -2);
  m_dialogs.openAnswers.push_back(Solid("q.bmp", 3, 5, 0x112233));
  m_view.OnLButtonDblClk({0, 0});  // the click arithmetic has a divisor of at least 1
  EXPECT_NE(m_doc.Cell(0, 0), nullptr);
}

TEST_F(MeshwickViewTest, FirstPlacementResetsTheZoomAndShowsThePicture) {
  m_view.OnZoomIn();
  m_view.OnZoomIn();
  Paint();
  DoubleClick(Solid("red.bmp", 30, 20, 0xff0000), {300, 200});
  EXPECT_EQ(m_dialogs.openFilters,
            (QStringList{"All Support Media Files (*.jpg *.jpeg *.bmp)", "JPEG Files (*.jpg *.jpeg)",
                         "Bitmap Files (*.bmp)", "All Files (*.*)"}));
  EXPECT_EQ(m_doc.Columns(), 1);
  EXPECT_EQ(m_view.Zoom(), 0);
  EXPECT_EQ(m_view.TotalWidth(), 130);
  EXPECT_EQ(CanvasPixel(m_view, 0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(CanvasPixel(m_view, 29, 19), qRgb(255, 0, 0));
  EXPECT_NE(CanvasPixel(m_view, 30, 10), qRgb(255, 0, 0));
  EXPECT_EQ(Paint().pixel(15, 10), qRgb(255, 0, 0));
}

TEST_F(MeshwickViewTest, DoubleClickRightOfTheGridAddsAColumnInTheSameRow) {
  const QString path = Solid("p.bmp", 50, 40, 0x00ff00);
  DoubleClick(path, {0, 0});
  DoubleClick(path, {10, 45});  // below: new row
  ASSERT_EQ(m_doc.Rows(), 2);
  DoubleClick(Solid("b.bmp", 50, 40, 0x0000ff), {55, 45});  // 5 px right of the last column, row 1
  EXPECT_EQ(m_doc.Columns(), 2);
  EXPECT_EQ(m_doc.Rows(), 2);
  EXPECT_NE(m_doc.Cell(1, 1), nullptr);
  EXPECT_EQ(m_doc.Cell(1, 0), nullptr);
  EXPECT_EQ(m_view.TotalWidth(), 200);
  EXPECT_EQ(m_view.TotalHeight(), 180);
  DoubleClick(path, {150, 150});  // below and right: new row and column
  EXPECT_EQ(m_doc.Columns(), 3);
  EXPECT_EQ(m_doc.Rows(), 3);
  EXPECT_NE(m_doc.Cell(2, 2), nullptr);
}

TEST_F(MeshwickViewTest, PlacementIntoAnExistingCellRedrawsOnlyThatCell) {
  const QString green = Solid("g.bmp", 50, 40, 0x00ff00);
  Paint();
  DoubleClick(green, {0, 0});
  DoubleClick(green, {55, 0});
  const platform::Bitmap* canvas = m_view.Canvas();
  DoubleClick(Solid("b.bmp", 50, 40, 0x0000ff), {60, 10});
  EXPECT_EQ(m_view.Canvas(), canvas);  // not rebuilt
  EXPECT_EQ(CanvasPixel(m_view, 75, 20), qRgb(0, 0, 255));
  EXPECT_EQ(CanvasPixel(m_view, 25, 20), qRgb(0, 255, 0));
  DoubleClick(green, {120, 10});
  EXPECT_NE(m_view.Canvas(), canvas);  // grown: rebuilt
}

TEST_F(MeshwickViewTest, CancelledOrFailedPlacementChangesNothingShown) {
  Paint();
  DoubleClick(Solid("p.bmp", 50, 40, 0x00ff00), {0, 0});
  const platform::Bitmap* canvas = m_view.Canvas();
  m_dialogs.openAnswers.push_back(QString());
  m_view.OnLButtonDblClk({10, 10});
  DoubleClick(m_dir.filePath("absent.bmp"), {10, 10});
  EXPECT_EQ(m_view.Canvas(), canvas);
  EXPECT_EQ(CanvasPixel(m_view, 10, 10), qRgb(0, 255, 0));
}

TEST_F(MeshwickViewTest, CellSizeStillUnsetAfterAFailedFirstPictureTargetsTheFirstCell) {
  DoubleClick(m_dir.filePath("absent.bmp"), {0, 0});
  ASSERT_EQ(m_doc.Columns(), 0);
  EXPECT_EQ(m_dialogs.messages.size(), 1);
  ASSERT_EQ(m_doc.CellWidth(), 0);
  DoubleClick(Solid("p.bmp", 8, 8, 0x00ff00), {300, 200});
  EXPECT_EQ(m_doc.Columns(), 1);
  EXPECT_NE(m_doc.Cell(0, 0), nullptr);
}

TEST_F(MeshwickViewTest, PaintingCopiesTheCanvasAtTheScrollPosition) {
  const QString path = Solid("p.bmp", 300, 300, 0x00ff00);
  for (int c = 0; c < 3; ++c) DoubleClick(path, {c * 300 - m_view.GetScrollPosition().x(), 0});
  DoubleClick(Solid("r.bmp", 300, 300, 0xff0000), {0, 0});  // replaces (0, 0)
  ASSERT_EQ(m_doc.Columns(), 3);
  m_view.horizontalScrollBar()->setValue(250);
  const QImage shown = Paint();
  EXPECT_EQ(m_view.GetScrollPosition().x(), 250);
  EXPECT_EQ(shown.pixel(10, 10), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(60, 10), qRgb(0, 255, 0));
}

TEST_F(MeshwickViewTest, MouseDoubleClickEventReachesPlacement) {
  m_dialogs.openAnswers.push_back(Solid("p.bmp", 8, 8, 0x00ff00));
  QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(m_view.viewport(), &event);
  EXPECT_EQ(m_doc.Columns(), 1);
}

TEST_F(MeshwickViewTest, NewDocumentRebuildsTheCanvasWithoutPictures) {
  Paint();
  DoubleClick(Solid("p.bmp", 50, 40, 0x00ff00), {0, 0});
  ASSERT_TRUE(m_doc.OnNewDocument());
  EXPECT_EQ(m_view.TotalWidth(), 100);
  EXPECT_NE(CanvasPixel(m_view, 25, 20), qRgb(0, 255, 0));
}

}  // namespace
