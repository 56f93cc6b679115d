#include "app/toolbar_images.h"

#include "platform/command.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kInk(40, 40, 40);
const QColor kPaper(255, 255, 255);
const QColor kFolder(230, 190, 60);
const QColor kBlue(40, 90, 190);

void Page(QPainter& p, int x, int y, int w, int h) {
  QPainterPath path;
  path.moveTo(x, y);
  path.lineTo(x + w - 4, y);
  path.lineTo(x + w, y + 4);
  path.lineTo(x + w, y + h);
  path.lineTo(x, y + h);
  path.closeSubpath();
  p.setPen(kInk);
  p.setBrush(kPaper);
  p.drawPath(path);
  p.drawLine(x + w - 4, y, x + w - 4, y + 4);
  p.drawLine(x + w - 4, y + 4, x + w, y + 4);
}

void DrawNew(QPainter& p) {
  Page(p, 3, 1, 10, 13);
}

void DrawOpen(QPainter& p) {
  p.setPen(kInk);
  p.setBrush(kFolder);
  p.drawRect(1, 4, 13, 9);
  p.drawRect(1, 2, 5, 2);
  p.setBrush(kFolder.lighter(120));
  p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
}

void DrawSave(QPainter& p) {
  p.setPen(kInk);
  p.setBrush(kBlue);
  p.drawRect(1, 1, 13, 13);
  p.setBrush(kPaper);
  p.drawRect(4, 1, 7, 5);
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(4, 9, 7, 5);
}

void DrawCut(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  p.drawLine(5, 1, 9, 9);
  p.drawLine(10, 1, 6, 9);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(180, 30, 30), 1));
  p.drawEllipse(2, 9, 4, 4);
  p.drawEllipse(9, 9, 4, 4);
}

void DrawCopy(QPainter& p) {
  Page(p, 1, 1, 8, 10);
  Page(p, 6, 4, 8, 10);
}

void DrawPaste(QPainter& p) {
  p.setPen(kInk);
  p.setBrush(QColor(170, 120, 60));
  p.drawRect(1, 2, 10, 12);
  p.setBrush(QColor(160, 160, 160));
  p.drawRect(4, 1, 4, 2);
  Page(p, 7, 6, 8, 8);
}

void DrawAbout(QPainter& p) {
  p.setPen(kInk);
  p.setBrush(QColor(255, 255, 200));
  p.drawEllipse(1, 0, 13, 13);
  QFont font = p.font();
  font.setPixelSize(11);
  font.setBold(true);
  p.setFont(font);
  p.setPen(kBlue);
  p.drawText(QRect(1, 0, 14, 14), Qt::AlignCenter, "?");
}

void DrawMagnifier(QPainter& p, bool plus) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(QColor(220, 235, 255));
  p.drawEllipse(1, 1, 9, 9);
  p.setPen(QPen(kInk, 2));
  p.drawLine(9, 9, 14, 14);
  p.setPen(QPen(kInk, 1));
  p.drawLine(3, 5, 8, 5);
  if (plus) p.drawLine(5, 3, 5, 8);
}

}  // namespace

QPixmap ToolbarImage(int id) {
  // Drawn at the screen's device pixel ratio, so the shapes stay sharp on a dense screen.
  const qreal ratio = std::max<qreal>(1, qApp->devicePixelRatio());
  QPixmap pixmap(QSize(kToolbarImageWidth, kToolbarImageHeight) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  switch (id) {
    case platform::ID_FILE_NEW:
      DrawNew(p);
      break;
    case platform::ID_FILE_OPEN:
      DrawOpen(p);
      break;
    case platform::ID_FILE_SAVE_AS:
      DrawSave(p);
      break;
    case platform::ID_EDIT_CUT:
      DrawCut(p);
      break;
    case platform::ID_EDIT_COPY:
      DrawCopy(p);
      break;
    case platform::ID_EDIT_PASTE:
      DrawPaste(p);
      break;
    case platform::ID_APP_ABOUT:
      DrawAbout(p);
      break;
    case platform::ID_ZOOM_IN:
      DrawMagnifier(p, true);
      break;
    case platform::ID_ZOOM_OUT:
      DrawMagnifier(p, false);
      break;
    default:
      break;
  }
  return pixmap;
}

QIcon ApplicationIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  const QColor cells[4] = {QColor(220, 80, 60), QColor(60, 150, 220), QColor(90, 180, 90),
                           QColor(240, 200, 60)};
  for (int i = 0; i < 4; ++i) p.fillRect(2 + (i % 2) * 15, 2 + (i / 2) * 15, 13, 13, cells[i]);
  return QIcon(pixmap);
}
