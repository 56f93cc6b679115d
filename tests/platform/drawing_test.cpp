#include "platform/drawing.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <set>

namespace platform {
namespace {

std::unique_ptr<Bitmap> Section24(int width, int height) {
  return Bitmap::Make(width, height, 24, true);
}

void SetPixel(Bitmap& b, int x, int y, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  std::uint8_t* p = b.row(y) + 3 * x;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

QRgb Pixel(const Bitmap& b, int x, int y) {
  return b.toImage().pixel(x, y);
}

TEST(DrawingContextTest, SelectingReturnsWhatItReplaced) {
  auto dc = CreateCompatibleDC();
  Bitmap* stockBitmap = dc->selectedBitmap();
  Brush* stockBrush = dc->selectedBrush();
  ASSERT_TRUE(stockBitmap);
  ASSERT_TRUE(stockBrush);

  auto first = Section24(2, 2);
  auto second = Section24(2, 2);
  EXPECT_EQ(dc->SelectObject(first.get()), stockBitmap);
  EXPECT_EQ(dc->SelectObject(second.get()), first.get());
  EXPECT_EQ(dc->SelectObject(stockBitmap), second.get());
  EXPECT_EQ(dc->selectedBitmap(), stockBitmap);

  auto hatch = CreateHatchBrush(HatchStyle::DiagonalCross, QColor(128, 128, 128));
  EXPECT_EQ(dc->SelectObject(hatch.get()), stockBrush);
  EXPECT_EQ(dc->SelectObject(stockBrush), hatch.get());

  EXPECT_EQ(dc->SelectObject(static_cast<Bitmap*>(nullptr)), nullptr);
  EXPECT_EQ(dc->selectedBitmap(), stockBitmap);
}

TEST(CreateCompatibleBitmapTest, IsScreenFormatAndHonoursTheByteLimit) {
  auto dc = CreateCompatibleDC();
  auto bitmap = CreateCompatibleBitmap(*dc, 5, 3);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->bitsPerPixel(), 32);
  EXPECT_TRUE(bitmap->topDown());
  const auto saved = BitmapByteLimit();
  SetBitmapByteLimit(59);
  EXPECT_FALSE(CreateCompatibleBitmap(*dc, 5, 3));  // 60 bytes
  SetBitmapByteLimit(saved);
}

TEST(RectangleTest, HatchIsGreyDiagonalCrossOnOpaqueWhiteInsideABlackBorder) {
  auto dc = CreateCompatibleDC();
  auto canvas = CreateCompatibleBitmap(*dc, 40, 30);
  ASSERT_TRUE(canvas);
  canvas->paintableImage().fill(qRgb(1, 2, 3));
  dc->SelectObject(canvas.get());
  auto hatch = CreateHatchBrush(HatchStyle::DiagonalCross, QColor(128, 128, 128));
  dc->SelectObject(hatch.get());
  ASSERT_TRUE(Rectangle(*dc, 0, 0, 40, 30));

  const QImage image = canvas->toImage();
  for (int x = 0; x < 40; ++x) {
    EXPECT_EQ(image.pixel(x, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(x, 29), qRgb(0, 0, 0));
  }
  for (int y = 0; y < 30; ++y) {
    EXPECT_EQ(image.pixel(0, y), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(39, y), qRgb(0, 0, 0));
  }
  std::set<QRgb> inside;
  for (int y = 1; y < 29; ++y)
    for (int x = 1; x < 39; ++x) inside.insert(image.pixel(x, y));
  EXPECT_EQ(inside, (std::set<QRgb>{qRgb(128, 128, 128), qRgb(255, 255, 255)}));
  // Both diagonals: a grey pixel has grey neighbours down-right and down-left somewhere.
  bool downRight = false, downLeft = false;
  for (int y = 1; y < 28; ++y)
    for (int x = 2; x < 38; ++x) {
      if (image.pixel(x, y) != qRgb(128, 128, 128)) continue;
      downRight |=
          image.pixel(x + 1, y + 1) == qRgb(128, 128, 128) && image.pixel(x + 1, y) == qRgb(255, 255, 255);
      downLeft |=
          image.pixel(x - 1, y + 1) == qRgb(128, 128, 128) && image.pixel(x - 1, y) == qRgb(255, 255, 255);
    }
  EXPECT_TRUE(downRight);
  EXPECT_TRUE(downLeft);
}

TEST(RectangleTest, RightAndBottomEdgesAreExclusive) {
  auto dc = CreateCompatibleDC();
  auto canvas = CreateCompatibleBitmap(*dc, 10, 10);
  canvas->paintableImage().fill(qRgb(9, 9, 9));
  dc->SelectObject(canvas.get());
  ASSERT_TRUE(Rectangle(*dc, 2, 2, 6, 5));
  const QImage image = canvas->toImage();
  EXPECT_EQ(image.pixel(5, 4), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(6, 4), qRgb(9, 9, 9));
  EXPECT_EQ(image.pixel(5, 5), qRgb(9, 9, 9));
  EXPECT_EQ(image.pixel(1, 1), qRgb(9, 9, 9));
}

TEST(BitBltTest, CopiesPixelsExactlyBetweenSections) {
  auto srcDc = CreateCompatibleDC();
  auto dstDc = CreateCompatibleDC();
  auto source = Section24(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      SetPixel(*source, x, y, static_cast<std::uint8_t>(x * 50), static_cast<std::uint8_t>(y * 70), 7);
  auto target = CreateCompatibleBitmap(*dstDc, 6, 6);
  srcDc->SelectObject(source.get());
  dstDc->SelectObject(target.get());
  ASSERT_TRUE(BitBlt(*dstDc, 2, 3, 3, 2, *srcDc, 0, 0));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Pixel(*target, x + 2, y + 3), Pixel(*source, x, y));
  EXPECT_EQ(Pixel(*target, 1, 3), qRgb(0, 0, 0));
}

TEST(StretchBltTest, EnlargingRepeatsTheNearestSourcePixel) {
  auto srcDc = CreateCompatibleDC();
  auto dstDc = CreateCompatibleDC();
  auto source = Section24(2, 2);
  SetPixel(*source, 0, 0, 0, 0, 255);
  SetPixel(*source, 1, 0, 0, 255, 0);
  SetPixel(*source, 0, 1, 255, 0, 0);
  SetPixel(*source, 1, 1, 255, 255, 255);
  auto target = Section24(4, 4);
  srcDc->SelectObject(source.get());
  dstDc->SelectObject(target.get());
  ASSERT_TRUE(StretchBlt(*dstDc, 0, 0, 4, 4, *srcDc, 0, 0, 2, 2));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(Pixel(*target, x, y), Pixel(*source, x / 2, y / 2)) << x << "," << y;
}

TEST(StretchBltTest, ShrinkingPicksSourcePixelsWithoutBlending) {
  auto srcDc = CreateCompatibleDC();
  auto dstDc = CreateCompatibleDC();
  auto source = Section24(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      SetPixel(*source, x, y, static_cast<std::uint8_t>(60 * x), 0, static_cast<std::uint8_t>(60 * y));
  auto target = Section24(2, 2);
  srcDc->SelectObject(source.get());
  dstDc->SelectObject(target.get());
  ASSERT_TRUE(StretchBlt(*dstDc, 0, 0, 2, 2, *srcDc, 0, 0, 4, 4));
  std::set<QRgb> sourceColours;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) sourceColours.insert(Pixel(*source, x, y));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_TRUE(sourceColours.count(Pixel(*target, x, y)));
}

TEST(BitBltTest, DrawsIntoAWindowPainter) {
  QImage window(4, 4, QImage::Format_RGB32);
  window.fill(Qt::black);
  auto srcDc = CreateCompatibleDC();
  auto source = Section24(2, 2);
  SetPixel(*source, 1, 1, 10, 20, 30);
  srcDc->SelectObject(source.get());
  {
    QPainter painter(&window);
    DrawingContext paint(painter);
    ASSERT_TRUE(BitBlt(paint, 0, 0, 2, 2, *srcDc, 0, 0));
  }
  EXPECT_EQ(window.pixel(1, 1), qRgb(30, 20, 10));
}

TEST(BitBltTest, FailsWithoutAPaintableTarget) {
  auto srcDc = CreateCompatibleDC();
  auto dstDc = CreateCompatibleDC();
  auto source = Section24(2, 2);
  srcDc->SelectObject(source.get());
  EXPECT_FALSE(BitBlt(*dstDc, 0, 0, 2, 2, *srcDc, 0, 0));  // only the 1x1 monochrome bitmap
  auto bottomUp = Bitmap::Make(2, 2, 24, false);
  dstDc->SelectObject(bottomUp.get());
  EXPECT_FALSE(BitBlt(*dstDc, 0, 0, 2, 2, *srcDc, 0, 0));
}

TEST(ColorTableTest, SetsAndReadsTheSelectedSectionsTable) {
  auto dc = CreateCompatibleDC();
  auto section = Bitmap::Make(2, 2, 8, true);
  dc->SelectObject(section.get());
  const RgbQuad colours[3] = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}};
  EXPECT_EQ(SetDIBColorTable(*dc, 254, 3, colours), 2u);
  RgbQuad out[2] = {};
  EXPECT_EQ(GetDIBColorTable(*dc, 254, 2, out), 2u);
  EXPECT_EQ(out[1].red, 6);
  auto trueColour = Section24(1, 1);
  dc->SelectObject(trueColour.get());
  EXPECT_EQ(SetDIBColorTable(*dc, 0, 1, colours), 0u);
}

}  // namespace
}  // namespace platform
