// Memory drawing contexts over QImage/QPainter. A context holds exactly one bitmap and
// one brush and owns neither (except its own initial ones); selecting an object returns
// the one it replaced, and selecting null changes nothing and returns null.
#pragma once

#include "platform/bitmap.h"

#include <QColor>

#include <memory>

class QPainter;

namespace platform {

enum class HatchStyle { DiagonalCross = 5 };

class Brush {
 public:
  Brush(QColor color, bool hatched) : m_color(color), m_hatched(hatched) {}
  QColor color() const { return m_color; }
  bool hatched() const { return m_hatched; }

 private:
  QColor m_color;
  bool m_hatched;
};

class DrawingContext {
 public:
  // A memory context, compatible with the screen: it starts with a 1x1 monochrome
  // bitmap and a white brush of its own selected.
  DrawingContext();
  // A window's paint context: drawing goes straight to the painter.
  explicit DrawingContext(QPainter& window);
  DrawingContext(const DrawingContext&) = delete;
  DrawingContext& operator=(const DrawingContext&) = delete;

  Bitmap* SelectObject(Bitmap* bitmap);
  Brush* SelectObject(Brush* brush);

  Bitmap* selectedBitmap() const { return m_bitmap; }
  Brush* selectedBrush() const { return m_brush; }
  QPainter* window() const { return m_window; }

 private:
  std::unique_ptr<Bitmap> m_stockBitmap;
  Brush m_stockBrush;
  Bitmap* m_bitmap;
  Brush* m_brush;
  QPainter* m_window = nullptr;
};

std::unique_ptr<DrawingContext> CreateCompatibleDC();
// A bitmap in the screen's format (32 bits per pixel, top-down); null above the byte limit.
std::unique_ptr<Bitmap> CreateCompatibleBitmap(const DrawingContext& dc, int width, int height);
std::unique_ptr<Brush> CreateHatchBrush(HatchStyle style, QColor color);

// Outlines the rectangle with a black one-pixel pen and fills its inside with the selected
// brush; right and bottom edges are exclusive. Hatch gaps show opaque white.
bool Rectangle(DrawingContext& dc, int left, int top, int right, int bottom);
// Plain source copies; stretching picks the nearest source pixel.
bool BitBlt(DrawingContext& dst, int x, int y, int width, int height, const DrawingContext& src, int srcX,
            int srcY);
bool StretchBlt(DrawingContext& dst, int x, int y, int width, int height, const DrawingContext& src, int srcX,
                int srcY, int srcWidth, int srcHeight);

// Colour table of the bitmap selected into a memory context; returns the entries set.
unsigned SetDIBColorTable(DrawingContext& dc, unsigned start, unsigned count, const RgbQuad* colors);
unsigned GetDIBColorTable(const DrawingContext& dc, unsigned start, unsigned count, RgbQuad* colors);

}  // namespace platform
