// The grid in a scrolling window. The grid is drawn once per change onto an off-screen
// canvas at least as large as the screen; painting only copies the visible part of it.
#pragma once

#include "document/document_view.h"
#include "platform/command.h"
#include "platform/drawing.h"
#include "view/grid_geometry.h"

#include <QAbstractScrollArea>
#include <QStringList>

#include <memory>
#include <optional>

class QMimeData;

// The local files among dragged data, in their order; empty when there are none.
QStringList DroppedLocalFiles(const QMimeData& data);

class CMeshwickDoc;

namespace platform {
class DialogService;
}

class CMeshwickView : public QAbstractScrollArea, public CDocumentView, public platform::CommandTarget {
  Q_OBJECT

 public:
  CMeshwickView(CMeshwickDoc& document, platform::DialogService& dialogs, QWidget* parent = nullptr);
  ~CMeshwickView() override;

  CMeshwickDoc& GetDocument() const { return m_document; }

  // After a new or opened document: scroll sizes for the grid as it stands.
  void OnInitialUpdate();
  void RebuildCanvas() override;
  void OnDraw(platform::DrawingContext& dc);
  // Chooses a picture file and places it into the cell under the point (window pixels).
  void OnLButtonDblClk(QPoint point);
  // Places pictures: the first into the cell under the point (window pixels) when one is
  // given, the rest into the next free cells; then shows the grid as it now stands.
  void PlaceFiles(const QStringList& paths, std::optional<QPoint> at = std::nullopt);
  void OnZoomIn();
  void OnZoomOut();

  bool HandlesCommand(int id) const override;
  bool OnCommand(int id) override;

  int Zoom() const { return m_zoom; }
  int TotalWidth() const { return m_totalWidth; }
  int TotalHeight() const { return m_totalHeight; }
  QPoint GetScrollPosition() const;
  const platform::Bitmap* Canvas() const { return m_canvasBitmap.get(); }

 signals:
  // The grid changed outside a command (a placement), so command states may have changed.
  void gridChanged();
  void zoomChanged(int zoom);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Ctrl with the wheel zooms; the wheel alone scrolls.
  void wheelEvent(QWheelEvent* event) override;

 private:
  grid::Extent ZoomedCellSize() const;
  // Device pixels per device-independent pixel of this window.
  double Ratio() const;
  grid::Extent DeviceTotal() const;
  void SetScrollSizes(int width, int height);
  void UpdateScrollSizes();
  bool MakeCanvas();
  bool InstallCanvasBitmap(grid::Extent size);
  void DrawCell(int column, int row);
  void StepZoom(int step);

  CMeshwickDoc& m_document;
  platform::DialogService& m_dialogs;
  std::unique_ptr<platform::DrawingContext> m_canvasDC;
  std::unique_ptr<platform::Bitmap> m_canvasBitmap;
  std::unique_ptr<platform::Brush> m_canvasBrush;
  int m_zoom = 0;
  int m_totalWidth = grid::kMargin;
  int m_totalHeight = grid::kMargin;
  int m_pendingWheel = 0;
};
