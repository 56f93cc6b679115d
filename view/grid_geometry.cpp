#include "view/grid_geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace grid {

Extent ZoomedCellSize(int cellWidth, int cellHeight, int zoom) {
  if (zoom > 0) return {std::int64_t{cellWidth} * (zoom + 1), std::int64_t{cellHeight} * (zoom + 1)};
  if (zoom < 0) {
    const std::int64_t divisor = 1 - std::int64_t{zoom};
    return {cellWidth / divisor, cellHeight / divisor};
  }
  return {cellWidth, cellHeight};
}

Extent ScrollTotal(Extent zoomedCell, int columns, int rows) {
  return {zoomedCell.width * columns + kMargin, zoomedCell.height * rows + kMargin};
}

Extent CanvasSize(QSize screen, Extent scrollTotal) {
  return {std::max<std::int64_t>(screen.width(), scrollTotal.width),
          std::max<std::int64_t>(screen.height(), scrollTotal.height)};
}

bool ZoomAllowed(int cellWidth, int cellHeight, int columns, int rows, int zoom) {
  if (zoom > kMaxZoomSteps || zoom < -kMaxZoomSteps) return false;
  const Extent zoomed = ZoomedCellSize(cellWidth, cellHeight, zoom);
  if (cellWidth > 0 && cellHeight > 0 && (zoomed.width < 1 || zoomed.height < 1)) return false;
  const Extent total = ScrollTotal(zoomed, columns, rows);
  return total.width <= INT_MAX && total.height <= INT_MAX;
}

int ZoomPercent(int zoom) {
  if (zoom >= 0) return static_cast<int>(std::min<std::int64_t>((std::int64_t{zoom} + 1) * 100, INT_MAX));
  return static_cast<int>(100 / (1 - std::int64_t{zoom}));
}

int WheelNotches(int& pending, int delta) {
  constexpr int kNotch = 120;
  const std::int64_t sum = std::int64_t{pending} + delta;
  const std::int64_t notches = sum / kNotch;
  pending = static_cast<int>(sum - notches * kNotch);
  return static_cast<int>(notches);
}

std::int64_t ToDevice(std::int64_t length, double ratio) {
  return static_cast<std::int64_t>(std::ceil(static_cast<double>(length) * ratio));
}

std::int64_t ToLogical(std::int64_t deviceLength, double ratio) {
  return static_cast<std::int64_t>(std::ceil(static_cast<double>(deviceLength) / ratio));
}

QPoint ToDevicePoint(QPoint point, double ratio) {
  return {static_cast<int>(std::floor(point.x() * ratio)), static_cast<int>(std::floor(point.y() * ratio))};
}

Extent DeviceTotal(Extent zoomedCell, int columns, int rows, double ratio) {
  const std::int64_t margin = ToDevice(kMargin, ratio);
  return {zoomedCell.width * columns + margin, zoomedCell.height * rows + margin};
}

std::optional<CellHit> CellAtPoint(QPoint point, QPoint scroll, Extent zoomedCell, int columns, int rows) {
  if (zoomedCell.width <= 0 || zoomedCell.height <= 0) return std::nullopt;
  const std::int64_t x = std::int64_t{point.x()} + scroll.x();
  const std::int64_t y = std::int64_t{point.y()} + scroll.y();
  if (x < 0 || y < 0) return std::nullopt;
  CellHit hit;
  const std::int64_t column = x / zoomedCell.width;
  const std::int64_t row = y / zoomedCell.height;
  hit.growsGrid = column >= columns || row >= rows;
  hit.column = static_cast<int>(std::min<std::int64_t>(column, columns));
  hit.row = static_cast<int>(std::min<std::int64_t>(row, rows));
  return hit;
}

}  // namespace grid
