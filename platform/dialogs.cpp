#include "platform/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace platform {

namespace {

std::optional<QString> RunFileDialog(QFileDialog& dialog) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return files.front();
}

}  // namespace

std::optional<QString> QtDialogService::GetOpenFileName(QWidget* parent, const QStringList& filters) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(filters);
  return RunFileDialog(dialog);
}

std::optional<QString> QtDialogService::GetSaveFileName(QWidget* parent, const QStringList& filters,
                                                        const QString& defaultSuffix) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(defaultSuffix);
  return RunFileDialog(dialog);
}

int QtDialogService::RunModal(QDialog& dialog) {
  return dialog.exec();
}

void QtDialogService::MessageBox(QWidget* parent, const QString& text) {
  QMessageBox box(parent);
  box.setWindowTitle(QApplication::applicationName());
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

}  // namespace platform
