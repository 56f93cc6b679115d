#include "view/meshwick_view.h"

#include "document/meshwick_doc.h"
#include "document/picture_file.h"
#include "platform/busy_cursor.h"
#include "platform/dialogs.h"
#include "platform/screen.h"

#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <climits>

namespace {

const QColor kHatchGrey(128, 128, 128);

bool FitsInt(grid::Extent e) {
  return e.width > 0 && e.height > 0 && e.width <= INT_MAX && e.height <= INT_MAX;
}

}  // namespace

CMeshwickView::CMeshwickView(CMeshwickDoc& document, platform::DialogService& dialogs, QWidget* parent)
    : QAbstractScrollArea(parent), m_document(document), m_dialogs(dialogs) {
  // The canvas covers every pixel, so the window background is never painted separately.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  m_document.AddView(this);
  SetScrollSizes(grid::kMargin, grid::kMargin);
}

CMeshwickView::~CMeshwickView() {
  m_document.RemoveView(this);
}

grid::Extent CMeshwickView::ZoomedCellSize() const {
  return grid::ZoomedCellSize(m_document.CellWidth(), m_document.CellHeight(), m_zoom);
}

double CMeshwickView::Ratio() const {
  const double ratio = devicePixelRatioF();
  return ratio > 0 ? ratio : 1.0;
}

grid::Extent CMeshwickView::DeviceTotal() const {
  return grid::DeviceTotal(ZoomedCellSize(), m_document.Columns(), m_document.Rows(), Ratio());
}

QPoint CMeshwickView::GetScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CMeshwickView::SetScrollSizes(int width, int height) {
  m_totalWidth = width;
  m_totalHeight = height;
  const QSize page = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, width - page.width()));
  verticalScrollBar()->setRange(0, std::max(0, height - page.height()));
  horizontalScrollBar()->setPageStep(std::max(1, page.width()));
  verticalScrollBar()->setPageStep(std::max(1, page.height()));
  horizontalScrollBar()->setSingleStep(std::max(1, page.width() / 10));
  verticalScrollBar()->setSingleStep(std::max(1, page.height() / 10));
}

// Scroll sizes are in device-independent pixels, whatever the canvas's device pixels.
void CMeshwickView::UpdateScrollSizes() {
  const grid::Extent total = DeviceTotal();
  SetScrollSizes(static_cast<int>(std::min<std::int64_t>(grid::ToLogical(total.width, Ratio()), INT_MAX)),
                 static_cast<int>(std::min<std::int64_t>(grid::ToLogical(total.height, Ratio()), INT_MAX)));
}

void CMeshwickView::OnInitialUpdate() {
  UpdateScrollSizes();
}

// Makes a canvas for the current zoom, stepping the zoom down while the canvas cannot be
// allocated and a smaller zoom would shrink it. If even the smallest canvas fails, the zoom
// and the canvas stay as they were and false is returned.
bool CMeshwickView::MakeCanvas() {
  const platform::BusyCursor busy;
  const int entryZoom = m_zoom;
  const QSize screenSize = platform::ScreenSize();
  const QSize screen(static_cast<int>(grid::ToDevice(screenSize.width(), Ratio())),
                     static_cast<int>(grid::ToDevice(screenSize.height(), Ratio())));
  for (;;) {
    const grid::Extent total = DeviceTotal();
    const grid::Extent canvas = grid::CanvasSize(screen, total);
    if (FitsInt(total)) UpdateScrollSizes();
    if (!m_canvasDC) return true;
    if (FitsInt(total) && InstallCanvasBitmap(canvas)) return true;

    const bool smallest = canvas.width <= screen.width() && canvas.height <= screen.height();
    const int lower = m_zoom - 1;
    if (smallest || !grid::ZoomAllowed(m_document.CellWidth(), m_document.CellHeight(), m_document.Columns(),
                                       m_document.Rows(), lower)) {
      m_zoom = entryZoom;
      UpdateScrollSizes();
      return false;
    }
    m_zoom = lower;
  }
}

bool CMeshwickView::InstallCanvasBitmap(grid::Extent size) {
  auto bitmap = platform::CreateCompatibleBitmap(*m_canvasDC, static_cast<int>(size.width),
                                                 static_cast<int>(size.height));
  if (!bitmap) return false;
  auto brush = platform::CreateHatchBrush(platform::HatchStyle::DiagonalCross, kHatchGrey);
  m_canvasDC->SelectObject(bitmap.get());
  m_canvasDC->SelectObject(brush.get());
  platform::Rectangle(*m_canvasDC, 0, 0, bitmap->width(), bitmap->height());
  // The bitmap and brush selected before are deleted now that they are replaced.
  m_canvasBitmap = std::move(bitmap);
  m_canvasBrush = std::move(brush);
  for (int i = 0; i < m_document.Rows(); ++i)
    for (int j = 0; j < m_document.Columns(); ++j) DrawCell(j, i);
  return true;
}

void CMeshwickView::DrawCell(int column, int row) {
  const CPictureDib* cell = m_document.Cell(column, row);
  if (!m_canvasDC || !cell || !cell->HasBitmap()) return;
  const grid::Extent zoomed = ZoomedCellSize();
  if (zoomed.width <= 0 || zoomed.height <= 0) return;
  const CPictureDib* picture = cell;
  platform::DrawingContext* source = picture->BorrowDC();
  platform::StretchBlt(*m_canvasDC, static_cast<int>(column * zoomed.width),
                       static_cast<int>(row * zoomed.height), static_cast<int>(zoomed.width),
                       static_cast<int>(zoomed.height), *source, 0, 0, picture->Width(), picture->Height());
  picture->ReturnDC();
}

void CMeshwickView::RebuildCanvas() {
  MakeCanvas();
  viewport()->update();
  emit zoomChanged(m_zoom);
}

void CMeshwickView::OnDraw(platform::DrawingContext& dc) {
  if (!m_canvasDC) {
    m_canvasDC = platform::CreateCompatibleDC();
    MakeCanvas();
  }
  // The canvas holds device pixels: the block behind the window is the window's size in
  // device pixels, drawn over its size in device-independent ones, so one to one.
  const QSize client = viewport()->size();
  const QPoint scroll = grid::ToDevicePoint(GetScrollPosition(), Ratio());
  const auto device = [this](int length) { return static_cast<int>(grid::ToDevice(length, Ratio())); };
  platform::StretchBlt(dc, 0, 0, client.width(), client.height(), *m_canvasDC, scroll.x(), scroll.y(),
                       device(client.width()), device(client.height()));
}

void CMeshwickView::OnLButtonDblClk(QPoint point) {
  const auto path = m_dialogs.GetOpenFileName(this, PictureFileFilters());
  if (!path) return;

  const bool noCellSizeYet = m_document.CellWidth() <= 0 || m_document.CellHeight() <= 0;
  if (m_document.Columns() == 0 || m_document.Rows() == 0 || noCellSizeYet) {
    const platform::BusyCursor busy;
    const bool placed = m_document.PlacePicture(*path, 0, 0);
    if (placed) {
      m_zoom = 0;
      RebuildCanvas();
    }
    emit gridChanged();
    return;
  }

  const auto hit = grid::CellAtPoint(grid::ToDevicePoint(point, Ratio()),
                                     grid::ToDevicePoint(GetScrollPosition(), Ratio()), ZoomedCellSize(),
                                     m_document.Columns(), m_document.Rows());
  if (!hit) return;
  const platform::BusyCursor busy;
  const bool placed = m_document.PlacePicture(*path, hit->column, hit->row);
  if (placed && hit->growsGrid) {
    RebuildCanvas();
  } else if (placed && m_canvasDC) {
    DrawCell(hit->column, hit->row);
    viewport()->update();
  }
  emit gridChanged();
}

void CMeshwickView::PlaceFiles(const QStringList& paths, std::optional<QPoint> at) {
  if (paths.isEmpty()) return;
  const bool wasEmpty = m_document.Columns() == 0 || m_document.Rows() == 0 || m_document.CellWidth() <= 0 ||
                        m_document.CellHeight() <= 0;
  std::optional<CellPosition> first;
  if (at && !wasEmpty) {
    if (const auto hit = grid::CellAtPoint(grid::ToDevicePoint(*at, Ratio()),
                                           grid::ToDevicePoint(GetScrollPosition(), Ratio()),
                                           ZoomedCellSize(), m_document.Columns(), m_document.Rows()))
      first = CellPosition{hit->column, hit->row};
  }
  const platform::BusyCursor busy;
  if (m_document.PlacePictures(paths, first) > 0) {
    if (wasEmpty) m_zoom = 0;
    RebuildCanvas();
  }
  emit gridChanged();
}

QStringList DroppedLocalFiles(const QMimeData& data) {
  QStringList files;
  for (const QUrl& url : data.urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

void CMeshwickView::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedLocalFiles(*event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMeshwickView::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedLocalFiles(*event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMeshwickView::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedLocalFiles(*event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  PlaceFiles(files, event->position().toPoint());
}

void CMeshwickView::StepZoom(int step) {
  const int next = m_zoom + step;
  if (!grid::ZoomAllowed(m_document.CellWidth(), m_document.CellHeight(), m_document.Columns(),
                         m_document.Rows(), next))
    return;
  const int before = m_zoom;
  m_zoom = next;
  if (!MakeCanvas()) {
    m_zoom = before;
    UpdateScrollSizes();
  }
  viewport()->update();
  emit zoomChanged(m_zoom);
}

void CMeshwickView::OnZoomIn() {
  StepZoom(+1);
}

void CMeshwickView::OnZoomOut() {
  StepZoom(-1);
}

bool CMeshwickView::HandlesCommand(int id) const {
  return id == platform::ID_ZOOM_IN || id == platform::ID_ZOOM_OUT;
}

bool CMeshwickView::OnCommand(int id) {
  if (id == platform::ID_ZOOM_IN) {
    OnZoomIn();
    return true;
  }
  if (id == platform::ID_ZOOM_OUT) {
    OnZoomOut();
    return true;
  }
  return false;
}

void CMeshwickView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  platform::DrawingContext dc(painter);
  OnDraw(dc);
}

void CMeshwickView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) OnLButtonDblClk(event->position().toPoint());
  QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void CMeshwickView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  SetScrollSizes(m_totalWidth, m_totalHeight);
}

void CMeshwickView::wheelEvent(QWheelEvent* event) {
  if (!event->modifiers().testFlag(Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  const int notches = grid::WheelNotches(m_pendingWheel, event->angleDelta().y());
  for (int i = 0; i < notches; ++i) OnZoomIn();
  for (int i = 0; i > notches; --i) OnZoomOut();
  event->accept();
}

void CMeshwickView::scrollContentsBy(int, int) {
  viewport()->update();
}
