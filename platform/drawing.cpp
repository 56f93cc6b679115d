#include "platform/drawing.h"

#include <QPainter>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

constexpr int kPaletteCount = kColorTableEntries;

// Runs a drawing operation on the context's target: the window's painter, or a painter
// over the selected bitmap's memory. False when the target cannot be painted.
template <typename Draw>
bool PaintOn(DrawingContext& dc, Draw draw) {
  if (QPainter* window = dc.window()) {
    window->save();
    draw(*window);
    window->restore();
    return true;
  }
  Bitmap* bitmap = dc.selectedBitmap();
  if (!bitmap) return false;
  QImage target = bitmap->paintableImage();
  if (target.isNull()) return false;
  QPainter painter(&target);
  draw(painter);
  return true;
}

bool CopyImage(DrawingContext& dst, const QRect& to, const DrawingContext& src, const QRect& from) {
  const Bitmap* source = src.selectedBitmap();
  if (!source || src.window() || to.width() <= 0 || to.height() <= 0 || from.width() <= 0 ||
      from.height() <= 0)
    return false;
  const QImage image = source->toImage();
  if (image.isNull()) return false;
  return PaintOn(dst, [&](QPainter& p) {
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRectF(to), image, QRectF(from));
  });
}

}  // namespace

DrawingContext::DrawingContext()
    : m_stockBitmap(Bitmap::Make(1, 1, 1, false)),
      m_stockBrush(Qt::white, false),
      m_bitmap(m_stockBitmap.get()),
      m_brush(&m_stockBrush) {}

DrawingContext::DrawingContext(QPainter& window) : DrawingContext() {
  m_window = &window;
}

Bitmap* DrawingContext::SelectObject(Bitmap* bitmap) {
  if (!bitmap) return nullptr;
  return std::exchange(m_bitmap, bitmap);
}

Brush* DrawingContext::SelectObject(Brush* brush) {
  if (!brush) return nullptr;
  return std::exchange(m_brush, brush);
}

std::unique_ptr<DrawingContext> CreateCompatibleDC() {
  return std::make_unique<DrawingContext>();
}

std::unique_ptr<Bitmap> CreateCompatibleBitmap(const DrawingContext&, int width, int height) {
  return Bitmap::Make(width, height, 32, true);
}

std::unique_ptr<Brush> CreateHatchBrush(HatchStyle, QColor color) {
  return std::make_unique<Brush>(color, true);
}

bool Rectangle(DrawingContext& dc, int left, int top, int right, int bottom) {
  if (right - left < 1 || bottom - top < 1) return false;
  const Brush* brush = dc.selectedBrush();
  return PaintOn(dc, [&](QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(Qt::white);
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(brush->hatched() ? QBrush(brush->color(), Qt::DiagCrossPattern) : QBrush(brush->color()));
    // A stroked QRect covers its size plus the pen, so this spans left..right-1.
    p.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
  });
}

bool BitBlt(DrawingContext& dst, int x, int y, int width, int height, const DrawingContext& src, int srcX,
            int srcY) {
  return CopyImage(dst, QRect(x, y, width, height), src, QRect(srcX, srcY, width, height));
}

bool StretchBlt(DrawingContext& dst, int x, int y, int width, int height, const DrawingContext& src, int srcX,
                int srcY, int srcWidth, int srcHeight) {
  return CopyImage(dst, QRect(x, y, width, height), src, QRect(srcX, srcY, srcWidth, srcHeight));
}

unsigned SetDIBColorTable(DrawingContext& dc, unsigned start, unsigned count, const RgbQuad* colors) {
  Bitmap* bitmap = dc.selectedBitmap();
  if (!bitmap || bitmap->bitsPerPixel() > 8 || start >= kPaletteCount) return 0;
  const unsigned n = std::min(count, kPaletteCount - start);
  std::copy(colors, colors + n, bitmap->colorTable() + start);
  return n;
}

unsigned GetDIBColorTable(const DrawingContext& dc, unsigned start, unsigned count, RgbQuad* colors) {
  const Bitmap* bitmap = dc.selectedBitmap();
  if (!bitmap || bitmap->bitsPerPixel() > 8 || start >= kPaletteCount) return 0;
  const unsigned n = std::min(count, kPaletteCount - start);
  std::copy(bitmap->colorTable() + start, bitmap->colorTable() + start + n, colors);
  return n;
}

}  // namespace platform
