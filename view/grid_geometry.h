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

// Zoom step as a percentage of picture pixels per device pixel: 200 at step 1, 50 at step
// -1, 33 at step -2 (truncated).
int ZoomPercent(int zoom);

// Whole wheel notches (120 units each) in pending plus delta, toward zero; the rest stays
// pending, so a touchpad's small steps add up to one notch.
int WheelNotches(int& pending, int delta);

// The canvas is drawn in device pixels: at a device pixel ratio of 2 a zoom of 1 puts one
// picture pixel on each device pixel. Lengths round up, points down.
std::int64_t ToDevice(std::int64_t length, double ratio);
std::int64_t ToLogical(std::int64_t deviceLength, double ratio);
QPoint ToDevicePoint(QPoint point, double ratio);
// The zoomed grid in device pixels plus the margin, itself in device-independent pixels.
Extent DeviceTotal(Extent zoomedCell, int columns, int rows, double ratio);

struct CellHit {
  int column = 0;
  int row = 0;
  bool growsGrid = false;  // the click lies right of or below the grid
};

// The cell under a point in the window, given the scroll position. A point right of or
// below the grid targets the next new column or row. Nothing when the zoomed cell is empty.
std::optional<CellHit> CellAtPoint(QPoint point, QPoint scroll, Extent zoomedCell, int columns, int rows);

}  // namespace grid
