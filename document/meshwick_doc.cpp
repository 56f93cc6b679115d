#include "document/meshwick_doc.h"

#include "document/cell_size_dlg.h"
#include "document/picture_convert.h"
#include "platform/dialogs.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

const char* const kUntitled = "无标题";
const char* const kCannotCreateDib = "Cannot create DIB";
const char* const kCannotSave = "无法保存文件";
const char* const kSaveChangesQuestion = "是否保存对“%1”的更改？";

std::size_t Index(int column, int row, int columns) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(column);
}

}  // namespace

CMeshwickDoc::CMeshwickDoc(platform::DialogService& dialogs) : m_dialogs(dialogs) {}

CMeshwickDoc::~CMeshwickDoc() = default;

bool CMeshwickDoc::OnNewDocument() {
  m_pathName.clear();
  ClearGrid();
  SetModifiedFlag(false);
  if (CDocumentView* view = GetFirstView()) view->RebuildCanvas();
  return true;
}

bool CMeshwickDoc::OnOpenDocument(const QString& path) {
  if (!QFileInfo(path).isReadable()) return false;
  m_pathName = QFileInfo(path).absoluteFilePath();
  if (m_changeListener) m_changeListener();
  return true;
}

void CMeshwickDoc::ClearGrid() {
  m_cells.clear();
  m_rows = 0;
  m_columns = 0;
  m_cellWidth = 0;
  m_cellHeight = 0;
}

QString CMeshwickDoc::GetTitle() const {
  return m_pathName.isEmpty() ? QString(kUntitled) : QFileInfo(m_pathName).fileName();
}

void CMeshwickDoc::AddView(CDocumentView* view) {
  m_views.push_back(view);
}

void CMeshwickDoc::RemoveView(CDocumentView* view) {
  std::erase(m_views, view);
}

CDocumentView* CMeshwickDoc::GetFirstView() const {
  return m_views.empty() ? nullptr : m_views.front();
}

const CPictureDib* CMeshwickDoc::Cell(int column, int row) const {
  if (column < 0 || row < 0 || column >= m_columns || row >= m_rows) return nullptr;
  return m_cells[Index(column, row, m_columns)].get();
}

// A cell outside the grid becomes the new last column and/or row.
bool CMeshwickDoc::GrowGrid(int& column, int& row) {
  if (column < m_columns && row < m_rows) return true;
  column = std::min(column, m_columns);
  row = std::min(row, m_rows);
  const int columns = column >= m_columns ? column + 1 : m_columns;
  const int rows = row >= m_rows ? row + 1 : m_rows;
  if (columns == INT_MAX || rows == INT_MAX) return false;
  std::vector<std::unique_ptr<CPictureDib>> cells(static_cast<std::size_t>(columns) *
                                                  static_cast<std::size_t>(rows));
  for (int r = 0; r < m_rows; ++r)
    for (int c = 0; c < m_columns; ++c)
      cells[Index(c, r, columns)] = std::move(m_cells[Index(c, r, m_columns)]);
  m_cells = std::move(cells);
  m_columns = columns;
  m_rows = rows;
  return true;
}

bool CMeshwickDoc::PlacePicture(const QString& path, int column, int row) {
  const PictureProblem problem = TryPlacePicture(path, column, row);
  if (problem == PictureProblem::None) return true;
  m_dialogs.MessageBox(m_dialogParent, PlacementFailureText(path, problem));
  return false;
}

// The picture is read and brought to the cell size before the grid is touched, so a file
// that cannot be placed leaves every cell, row and column as it was.
PictureProblem CMeshwickDoc::TryPlacePicture(const QString& path, int column, int row) {
  if (column < 0 || row < 0) return PictureProblem::CannotOpen;
  auto picture = std::make_unique<CPictureDib>();
  PictureProblem problem = PictureProblem::None;
  if (picture->LoadFile(path, &problem) != S_OK) return problem;
  if (picture->BitsPerPixel() != 24) {
    picture = ConvertTo24Bit(*picture);
    if (!picture) return PictureProblem::TooLarge;
  }
  if (!EnsureCellSize(*picture)) return PictureProblem::TooLarge;
  picture = FitToCell(std::move(picture));
  if (!picture) return PictureProblem::TooLarge;
  if (!GrowGrid(column, row)) return PictureProblem::TooLarge;
  m_cells[Index(column, row, m_columns)] = std::move(picture);
  SetModifiedFlag(true);
  return PictureProblem::None;
}

QString PlacementFailureText(const QString& path, PictureProblem problem) {
  return QString("无法放入图片“%1”：%2。").arg(QDir::toNativeSeparators(path), PictureProblemText(problem));
}

// The first picture asks for the cell size, initialised with its own size; Cancel keeps that.
bool CMeshwickDoc::EnsureCellSize(const CPictureDib& first) {
  if (m_cellWidth > 0 && m_cellHeight > 0) return true;
  CCellSizeDlg dialog(first.Width(), first.Height(), m_dialogs, m_dialogParent);
  m_dialogs.RunModal(dialog);
  m_cellWidth = dialog.m_nWidth;
  m_cellHeight = dialog.m_nHeight;
  return m_cellWidth > 0 && m_cellHeight > 0;
}

std::unique_ptr<CPictureDib> CMeshwickDoc::FitToCell(std::unique_ptr<CPictureDib> picture) const {
  if (picture->Width() == m_cellWidth && picture->Height() == m_cellHeight) return picture;
  return picture->Resample(m_cellWidth, m_cellHeight);
}

std::unique_ptr<CPictureDib> CMeshwickDoc::BuildComposite() const {
  const std::int64_t width = std::int64_t{m_columns} * m_cellWidth;
  const std::int64_t height = std::int64_t{m_rows} * m_cellHeight;
  if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX) return nullptr;
  auto composite = std::make_unique<CPictureDib>();
  if (!composite->Create(static_cast<int>(width), static_cast<int>(height), 24)) return nullptr;

  const auto stride = static_cast<std::size_t>(std::abs(composite->RowStep()));
  for (int y = 0; y < composite->Height(); ++y) std::memset(composite->Row(y), 255, stride);

  const auto cellBytes = static_cast<std::size_t>(3) * static_cast<std::size_t>(m_cellWidth);
  for (int i = 0; i < m_rows; ++i) {
    for (int j = 0; j < m_columns; ++j) {
      const CPictureDib* cell = Cell(j, i);
      if (!cell || cell->Width() != m_cellWidth || cell->Height() != m_cellHeight ||
          cell->BitsPerPixel() != 24)
        continue;
      for (int k = 0; k < m_cellHeight; ++k)
        std::memcpy(composite->Row(i * m_cellHeight + k) + cellBytes * static_cast<std::size_t>(j),
                    cell->Row(k), cellBytes);
    }
  }
  return composite;
}

void CMeshwickDoc::SetModifiedFlag(bool modified) {
  m_modified = modified;
  if (m_changeListener) m_changeListener();
}

bool CMeshwickDoc::SaveModified() {
  if (!m_modified) return true;
  switch (m_dialogs.AskSaveChanges(m_dialogParent, QString(kSaveChangesQuestion).arg(GetTitle()))) {
    case platform::SaveChoice::Save:
      return OnFileSaveAs();
    case platform::SaveChoice::Discard:
      return true;
    case platform::SaveChoice::Cancel:
      break;
  }
  return false;
}

bool CMeshwickDoc::OnFileSaveAs() {
  const auto path =
      m_dialogs.GetSaveFileName(m_dialogParent, {"JPEG Files (*.jpg *.jpeg)", "Bitmap Files (*.bmp)"}, "jpg");
  if (!path) return false;
  const auto composite = BuildComposite();
  if (!composite) {
    m_dialogs.MessageBox(m_dialogParent, kCannotCreateDib);
    return false;
  }
  if (composite->SaveFile(*path) != S_OK) {
    m_dialogs.MessageBox(m_dialogParent, kCannotSave);
    return false;
  }
  m_pathName = QFileInfo(*path).absoluteFilePath();
  SetModifiedFlag(false);
  return true;
}

void CMeshwickDoc::OnUpdateFileSaveAs(platform::CommandUi& ui) const {
  // A grid whose first picture failed has no cell size yet, and nothing to save.
  ui.Enable(m_rows > 0 && m_columns > 0 && m_cellWidth > 0 && m_cellHeight > 0);
}

bool CMeshwickDoc::HandlesCommand(int id) const {
  return id == platform::ID_FILE_SAVE_AS;
}

bool CMeshwickDoc::OnCommand(int id) {
  if (id != platform::ID_FILE_SAVE_AS) return false;
  OnFileSaveAs();
  return true;
}

bool CMeshwickDoc::OnUpdateCommand(platform::CommandUi& ui) {
  if (ui.id != platform::ID_FILE_SAVE_AS) return false;
  OnUpdateFileSaveAs(ui);
  return true;
}
