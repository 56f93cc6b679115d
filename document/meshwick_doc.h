// The grid: rows and columns of equally sized cells, each empty or holding one picture
// of exactly the cell size, and the composite save of the whole grid.
#pragma once

#include "document/document_view.h"
#include "document/picture_dib.h"
#include "platform/command.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace platform {
class DialogService;
}

// The message shown when a picture cannot be placed: the file and the reason.
QString PlacementFailureText(const QString& path, PictureProblem problem);

class CMeshwickDoc : public platform::CommandTarget {
 public:
  explicit CMeshwickDoc(platform::DialogService& dialogs);
  ~CMeshwickDoc() override;
  CMeshwickDoc(const CMeshwickDoc&) = delete;
  CMeshwickDoc& operator=(const CMeshwickDoc&) = delete;

  // Empties the grid, forgets the path and rebuilds the first view's canvas.
  bool OnNewDocument();
  // The document has no file format of its own: opening a file changes only path and title.
  bool OnOpenDocument(const QString& path);
  void ClearGrid();

  // Puts the picture read from path into the cell, growing the grid by at most one column
  // and one row when the cell lies outside it. When the file cannot be read or the picture
  // cannot be brought to the cell size, a message names the file and the reason, the grid
  // stays exactly as it was and the result is false.
  bool PlacePicture(const QString& path, int column, int row);
  // The same without the message: what went wrong, or None.
  PictureProblem TryPlacePicture(const QString& path, int column, int row);

  // The composite save; true when the grid was written.
  bool OnFileSaveAs();
  // Before the grid is given up: with unsaved changes, asks whether to save them. False
  // when the user cancels or the save does not happen.
  bool SaveModified();
  bool IsModified() const { return m_modified; }
  void SetModifiedFlag(bool modified);
  // Called whenever the title or the modified mark may have changed.
  void SetChangeListener(std::function<void()> listener) { m_changeListener = std::move(listener); }
  void OnUpdateFileSaveAs(platform::CommandUi& ui) const;
  // The whole grid as one white 24-bit picture with the cells copied in; null when it cannot be made.
  std::unique_ptr<CPictureDib> BuildComposite() const;

  bool HandlesCommand(int id) const override;
  bool OnCommand(int id) override;
  bool OnUpdateCommand(platform::CommandUi& ui) override;

  void AddView(CDocumentView* view);
  void RemoveView(CDocumentView* view);
  CDocumentView* GetFirstView() const;
  // Parent for the document's dialogs.
  void SetDialogParent(QWidget* parent) { m_dialogParent = parent; }

  QString GetTitle() const;
  QString GetPathName() const { return m_pathName; }

  int Rows() const { return m_rows; }
  int Columns() const { return m_columns; }
  int CellWidth() const { return m_cellWidth; }
  int CellHeight() const { return m_cellHeight; }
  const CPictureDib* Cell(int column, int row) const;

 private:
  bool GrowGrid(int& column, int& row);
  bool EnsureCellSize(const CPictureDib& first);
  std::unique_ptr<CPictureDib> FitToCell(std::unique_ptr<CPictureDib> picture) const;

  platform::DialogService& m_dialogs;
  QWidget* m_dialogParent = nullptr;
  std::vector<CDocumentView*> m_views;
  QString m_pathName;
  bool m_modified = false;
  std::function<void()> m_changeListener;

  std::vector<std::unique_ptr<CPictureDib>> m_cells;  // row-major; empty exactly when there are no cells
  int m_rows = 0;
  int m_columns = 0;
  int m_cellWidth = 0;
  int m_cellHeight = 0;
};
