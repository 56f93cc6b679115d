// Helpers shared by the document, view and app tests: dialogs answered by the test, BMP
// files assembled byte by byte (bmp/bmp_builder.h), and PPM reading for pixels decoded by
// ImageMagick.
#pragma once

#include "platform/dialogs.h"
#include "tests/document/bmp/bmp_builder.h"
#include "tests/support/test_files.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace test {

class FakeDialogs : public platform::DialogService {
 public:
  std::optional<QString> GetOpenFileName(QWidget*, const QStringList& filters) override {
    openFilters = filters;
    return Next(openAnswers);
  }
  QStringList GetOpenFileNames(QWidget*, const QStringList& filters) override {
    openFilters = filters;
    if (openManyAnswers.empty()) return {};
    const QStringList answer = openManyAnswers.front();
    openManyAnswers.pop_front();
    return answer;
  }
  std::optional<QString> GetSaveFileName(QWidget*, const QStringList& filters,
                                         const QString& suffix) override {
    saveFilters = filters;
    saveSuffix = suffix;
    return Next(saveAnswers);
  }
  int RunModal(QDialog& dialog) override {
    ++modalRuns;
    return onModal ? onModal(dialog) : QDialog::Rejected;
  }
  void MessageBox(QWidget*, const QString& text) override { messages.push_back(text); }
  platform::SaveChoice AskSaveChanges(QWidget*, const QString& text) override {
    questions.push_back(text);
    if (saveChoices.empty()) return platform::SaveChoice::Cancel;
    const platform::SaveChoice choice = saveChoices.front();
    saveChoices.pop_front();
    return choice;
  }

  // Paths the dialogs answer with, in order; a null QString cancels.
  std::deque<QString> openAnswers;
  std::deque<QString> saveAnswers;
  // Answers of the many-files open dialog; an empty list cancels.
  std::deque<QStringList> openManyAnswers;
  std::function<int(QDialog&)> onModal;
  QStringList openFilters;
  QStringList saveFilters;
  QString saveSuffix;
  QStringList messages;
  // Answers to the save question, in order; Cancel once they run out.
  std::deque<platform::SaveChoice> saveChoices;
  QStringList questions;
  int modalRuns = 0;

 private:
  static std::optional<QString> Next(std::deque<QString>& answers) {
    if (answers.empty()) return std::nullopt;
    const QString answer = answers.front();
    answers.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
  }
};

inline void WriteFile(const QString& path, const Bytes& bytes) {
  writeBytes(path.toStdString(), bytes);
}

inline Bytes ReadFile(const QString& path) {
  return readBytes(path.toStdString());
}

inline Ppm ReadPpm(const QString& path) {
  return ReadPpm(path.toStdString());
}

inline QString DataPath(const char* name) {
  return QString(MESHWICK_TEST_DATA) + "/" + name;
}

}  // namespace test
