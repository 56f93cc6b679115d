// Asks for the cell size when the first picture arrives.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace platform {
class DialogService;
}

inline constexpr int IDD_CELL_SIZE = 130;
inline constexpr int IDC_CELL_WIDTH = 1000;
inline constexpr int IDC_CELL_HEIGHT = 1001;

// Whether a 24-bit picture of this size stays within the bitmap byte limit, so every
// placed picture can be brought to it.
bool CellBitmapFits(int width, int height);

class CCellSizeDlg : public QDialog {
 public:
  CCellSizeDlg(int width, int height, platform::DialogService& dialogs, QWidget* parent = nullptr);

  int m_nWidth;
  int m_nHeight;

  QLineEdit* WidthEdit() const { return m_widthEdit; }
  QLineEdit* HeightEdit() const { return m_heightEdit; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

  // OK: the dialog closes only when both entries are whole numbers from 1 up and a cell
  // of that size fits the bitmap byte limit.
  void accept() override;

 private:
  bool ExchangeFromControls();
  bool TakeSize(QLineEdit* edit, int& member);

  platform::DialogService& m_dialogs;
  QLineEdit* m_widthEdit;
  QLineEdit* m_heightEdit;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};
