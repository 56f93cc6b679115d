// Modal dialogs go through this interface so tests can answer them without a screen.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QDialog;
class QFileDialog;
class QWidget;

namespace platform {

// The answers to "save the changes?".
enum class SaveChoice { Save, Discard, Cancel };

class DialogService {
 public:
  virtual ~DialogService() = default;

  // Filters in Qt's syntax, e.g. "Bitmap Files (*.bmp)". Each returns the full path the
  // user confirmed, or nothing when the dialog was cancelled.
  virtual std::optional<QString> GetOpenFileName(QWidget* parent, const QStringList& filters) = 0;
  // A name typed without extension gets the first pattern's extension of the filter chosen
  // in the dialog; defaultSuffix is the one of the filter shown first. Overwriting is confirmed.
  virtual std::optional<QString> GetSaveFileName(QWidget* parent, const QStringList& filters,
                                                 const QString& defaultSuffix) = 0;
  // Runs an application dialog modally; returns QDialog::Accepted or QDialog::Rejected.
  virtual int RunModal(QDialog& dialog) = 0;
  // A message with an OK button.
  virtual void MessageBox(QWidget* parent, const QString& text) = 0;
  // A question with the buttons 保存, 不保存 and 取消; Escape and closing the box cancel.
  virtual SaveChoice AskSaveChanges(QWidget* parent, const QString& text) = 0;
};

// The extension of a filter's first pattern: "Bitmap Files (*.bmp)" gives "bmp"; empty
// for a pattern without one ("*" or "*.*").
QString FilterSuffix(const QString& filter);
// Keeps the dialog's default suffix on the extension of the filter the user chooses.
void FollowFilterSuffix(QFileDialog& dialog);

// The dialogs a user sees: Qt's file dialogs (its own widgets, so typing a path works the
// same on every desktop), QDialog::exec and QMessageBox.
class QtDialogService final : public DialogService {
 public:
  std::optional<QString> GetOpenFileName(QWidget* parent, const QStringList& filters) override;
  std::optional<QString> GetSaveFileName(QWidget* parent, const QStringList& filters,
                                         const QString& defaultSuffix) override;
  int RunModal(QDialog& dialog) override;
  void MessageBox(QWidget* parent, const QString& text) override;
  SaveChoice AskSaveChanges(QWidget* parent, const QString& text) override;
};

}  // namespace platform
