// The view's arithmetic, kept apart from the widget so it can be tested without a screen.
// Sizes are 64-bit: a zoomed grid can pass the int range before anything is allocated.
#pragma once

#include <QPoint>
#include <QSize>

#include <cstdint>
#include <optional>

namespace grid {

struct Extent {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool operator==(const Extent&) const = default;
};

// Room right of and below the grid, where a double-click adds a column or a row.
inline constexpr int kMargin = 100;
// Zoom steps stay within this range so the step arithmetic itself cannot overflow.
inline constexpr int kMaxZoomSteps = 100000;

// Cell size on screen: x(z+1) for z > 0, /(1-z) for z < 0, truncating.
Extent ZoomedCellSize(int cellWidth, int cellHeight, int zoom);
// Scroll size: the zoomed grid plus the margin.
Extent ScrollTotal(Extent zoomedCell, int columns, int rows);
// The canvas covers the screen at least, and the whole scroll area.
Extent CanvasSize(QSize screen, Extent scrollTotal);

// Whether the view may move to zoom step `zoom`: within the step range, every size it leads
// to fits an int, and, once the cell size is known, the zoomed cell keeps at least one pixel.
bool ZoomAllowed(int cellWidth, int cellHeight, int columns, int rows, int zoom);

struct CellHit {
  int column = 0;
  int row = 0;
  bool growsGrid = false;  // the click lies right of or below the grid
};

// The cell under a point in the window, given the scroll position. A point right of or
// below the grid targets the next new column or row. Nothing when the zoomed cell is empty.
std::optional<CellHit> CellAtPoint(QPoint point, QPoint scroll, Extent zoomedCell, int columns, int rows);

}  // namespace grid
