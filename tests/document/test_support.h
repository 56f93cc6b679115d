// Helpers shared by the document, view and app tests: dialogs answered by the test, BMP
// files assembled byte by byte, and PPM reading for pixels decoded by ImageMagick.
#pragma once

#include "platform/dialogs.h"
#include "tests/support/pnm_image.h"
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

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

struct BmpSpec {
  int width = 1;
  int height = 1;  // negative: rows stored top-down
  int bits = 24;
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB per entry, written as B, G, R, 0
  std::uint32_t clrUsed = 0;
  std::uint32_t headerSize = 40;
  std::uint32_t compression = 0;
  // Packed pixel bytes of each image row, top row first, without padding.
  std::vector<Bytes> rows;
};

inline int Stride(int width, int bits) {
  return (bits * width + 31) / 32 * 4;
}

inline Bytes MakeBmp(const BmpSpec& s) {
  const int height = s.height < 0 ? -s.height : s.height;
  const int stride = Stride(s.width, s.bits);
  const std::size_t offset = 14 + s.headerSize + 4 * s.palette.size();
  Bytes b(offset + static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, static_cast<std::uint32_t>(offset));
  Put32(b, 14, s.headerSize);
  Put32(b, 18, static_cast<std::uint32_t>(s.width));
  Put32(b, 22, static_cast<std::uint32_t>(s.height));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<std::uint32_t>(s.bits));
  Put32(b, 30, s.compression);
  Put32(b, 46, s.clrUsed);
  for (std::size_t i = 0; i < s.palette.size(); ++i) Put32(b, 14 + s.headerSize + 4 * i, s.palette[i]);
  for (int y = 0; y < height && y < static_cast<int>(s.rows.size()); ++y) {
    const int fileRow = s.height < 0 ? y : height - 1 - y;
    std::copy(s.rows[static_cast<std::size_t>(y)].begin(), s.rows[static_cast<std::size_t>(y)].end(),
              b.begin() + static_cast<std::ptrdiff_t>(offset + static_cast<std::size_t>(fileRow) * stride));
  }
  return b;
}

// A 24-bit BMP whose pixel (x, y) is rgb(x, y) (0xRRGGBB).
inline Bytes MakeBmp24(int width, int height, const std::function<std::uint32_t(int, int)>& rgb) {
  BmpSpec s;
  s.width = width;
  s.height = height;
  const int rows = height < 0 ? -height : height;
  for (int y = 0; y < rows; ++y) {
    Bytes row;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = rgb(x, y);
      row.push_back(static_cast<std::uint8_t>(c));
      row.push_back(static_cast<std::uint8_t>(c >> 8));
      row.push_back(static_cast<std::uint8_t>(c >> 16));
    }
    s.rows.push_back(row);
  }
  return MakeBmp(s);
}

inline void WriteFile(const QString& path, const Bytes& bytes) {
  writeBytes(path.toStdString(), bytes);
}

inline Bytes ReadFile(const QString& path) {
  return readBytes(path.toStdString());
}

struct Ppm {
  int width = 0;
  int height = 0;
  Bytes rgb;  // R, G, B per pixel, top row first
  std::uint32_t At(int x, int y) const {
    const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x);
    return (rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2];
  }
};

inline Ppm ReadPpm(const QString& path) {
  const std::optional<Image> image = parsePnm(ReadFile(path));
  if (!image || image->channels != 3) return {};
  return {image->width, image->height, image->pixels};
}

inline QString DataPath(const char* name) {
  return QString(MESHWICK_TEST_DATA) + "/" + name;
}

}  // namespace test
