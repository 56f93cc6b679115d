#include "platform/dialogs.h"

#include "platform/busy_cursor.h"
#include "platform/profile.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace platform {

QString FilterSuffix(const QString& filter) {
  static const QRegularExpression firstPattern(R"(\(\s*\*\.([A-Za-z0-9]+)[\s)])");
  const QRegularExpressionMatch match = firstPattern.match(filter);
  return match.hasMatch() ? match.captured(1) : QString();
}

void FollowFilterSuffix(QFileDialog& dialog) {
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog](const QString& filter) { dialog.setDefaultSuffix(FilterSuffix(filter)); });
}

namespace {

const char* const kSection = "parameters";
const char* const kLastFolder = "LastFolder";

}  // namespace

QString QtDialogService::StartFolder() const {
  QString folder = m_folder;
  if (folder.isEmpty() && m_profile) folder = m_profile->GetProfileString(kSection, kLastFolder, {});
  // A stored value is only a hint: a folder that has gone (or was never one) is not used.
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void QtDialogService::RememberFolderOf(const QString& path) {
  m_folder = QFileInfo(path).absolutePath();
  if (m_profile) m_profile->WriteProfileString(kSection, kLastFolder, m_folder);
}

void QtDialogService::PrepareFileDialog(QFileDialog& dialog) const {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (const QString folder = StartFolder(); !folder.isEmpty()) dialog.setDirectory(folder);
}

std::optional<QString> QtDialogService::RunFileDialog(QFileDialog& dialog) {
  PrepareFileDialog(dialog);
  const NormalCursor cursor;
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  RememberFolderOf(files.front());
  return files.front();
}

std::optional<QString> QtDialogService::GetOpenFileName(QWidget* parent, const QStringList& filters) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(filters);
  return RunFileDialog(dialog);
}

QStringList QtDialogService::GetOpenFileNames(QWidget* parent, const QStringList& filters) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(filters);
  if (!RunFileDialog(dialog)) return {};
  return dialog.selectedFiles();
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
  const NormalCursor cursor;
  return dialog.exec();
}

void QtDialogService::MessageBox(QWidget* parent, const QString& text) {
  QMessageBox box(parent);
  box.setWindowTitle(QApplication::applicationName());
  box.setText(text);
  box.setStandardButtons(QMessageBox::Ok);
  const NormalCursor cursor;
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
  const NormalCursor cursor;
  box.exec();
  if (box.clickedButton() == save) return SaveChoice::Save;
  if (box.clickedButton() == discard) return SaveChoice::Discard;
  return SaveChoice::Cancel;
}

}  // namespace platform
