#include "platform/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

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

QString FilterSuffix(const QString& filter) {
  static const QRegularExpression firstPattern(R"(\(\s*\*\.([A-Za-z0-9]+)[\s)])");
  const QRegularExpressionMatch match = firstPattern.match(filter);
  return match.hasMatch() ? match.captured(1) : QString();
}

void FollowFilterSuffix(QFileDialog& dialog) {
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog](const QString& filter) { dialog.setDefaultSuffix(FilterSuffix(filter)); });
}

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
  FollowFilterSuffix(dialog);
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

SaveChoice QtDialogService::AskSaveChanges(QWidget* parent, const QString& text) {
  QMessageBox box(parent);
  box.setWindowTitle(QApplication::applicationName());
  box.setIcon(QMessageBox::Question);
  box.setText(text);
  QPushButton* save = box.addButton("保存", QMessageBox::AcceptRole);
  QPushButton* discard = box.addButton("不保存", QMessageBox::DestructiveRole);
  QPushButton* cancel = box.addButton("取消", QMessageBox::RejectRole);
  box.setDefaultButton(save);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == save) return SaveChoice::Save;
  if (box.clickedButton() == discard) return SaveChoice::Discard;
  return SaveChoice::Cancel;
}

}  // namespace platform
