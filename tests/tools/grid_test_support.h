// Helpers for the meshwick-grid tests: running the built tool without a display, and the
// same pictures placed through the document as the application places them.
#pragma once

#include "document/cell_size_dlg.h"
#include "document/meshwick_doc.h"
#include "tests/document/test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace grid_test {

struct ToolRun {
  int exitCode = -1;
  std::string errors;
};

inline std::string Quoted(const QString& text) {
  return "'" + text.toStdString() + "'";
}

// Runs meshwick-grid with no display of any kind, standard error captured (so not a terminal).
inline ToolRun RunGrid(const QString& arguments, const QString& errorsPath) {
  const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") +
                              MESHWICK_GRID_TOOL + "' " + arguments.toStdString() + " 2> " +
                              Quoted(errorsPath);
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const test::Bytes errors = test::ReadFile(errorsPath);
  run.errors.assign(errors.begin(), errors.end());
  std::remove(errorsPath.toStdString().c_str());
  return run;
}

inline QString Arguments(const QStringList& pictures) {
  QString text;
  for (const QString& picture : pictures) text += " " + QString::fromStdString(Quoted(picture));
  return text;
}

// Places the pictures in reading order, `columns` to a row, answering the cell-size dialog with
// `cell` ("WxH") or cancelling it when empty, then saves the grid through the save command.
inline void SaveThroughDocument(const QStringList& pictures, int columns, const QString& cell,
                                const QString& output) {
  test::FakeDialogs dialogs;
  dialogs.onModal = [&](QDialog& dialog) {
    auto& cellDialog = dynamic_cast<CCellSizeDlg&>(dialog);
    if (cell.isEmpty()) {
      cellDialog.CancelButton()->click();
    } else {
      cellDialog.WidthEdit()->setText(cell.section('x', 0, 0));
      cellDialog.HeightEdit()->setText(cell.section('x', 1, 1));
      cellDialog.OkButton()->click();
    }
    return cellDialog.result();
  };
  CMeshwickDoc document(dialogs);
  for (int i = 0; i < pictures.size(); ++i) document.PlacePicture(pictures[i], i % columns, i / columns);
  dialogs.saveAnswers.push_back(output);
  document.OnFileSaveAs();
}

}  // namespace grid_test
