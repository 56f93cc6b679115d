#include "document/cell_size_dlg.h"

#include "platform/bitmap.h"
#include "platform/dialogs.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const char* const kNotAPositiveWholeNumber = "请输入一个不小于 1 的整数。";
const char* const kCellTooLarge = "单元格太大：每个单元格的图片最多 %1 MB，请输入较小的宽或高。";

QLineEdit* SizeEdit(int value, int id, QWidget* parent) {
  auto* edit = new QLineEdit(QString::number(value), parent);
  edit->setObjectName(id == IDC_CELL_WIDTH ? "IDC_CELL_WIDTH" : "IDC_CELL_HEIGHT");
  edit->setMinimumWidth(70);
  return edit;
}

}  // namespace

CCellSizeDlg::CCellSizeDlg(int width, int height, platform::DialogService& dialogs, QWidget* parent)
    : QDialog(parent), m_nWidth(width), m_nHeight(height), m_dialogs(dialogs) {
  setWindowTitle("设定预设高宽");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  m_widthEdit = SizeEdit(width, IDC_CELL_WIDTH, this);
  m_heightEdit = SizeEdit(height, IDC_CELL_HEIGHT, this);
  m_ok = new QPushButton("确定", this);
  m_cancel = new QPushButton("取消", this);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &CCellSizeDlg::accept);
  connect(m_cancel, &QPushButton::clicked, this, &CCellSizeDlg::reject);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("宽", this), 0, 0);
  grid->addWidget(m_widthEdit, 0, 1);
  grid->addWidget(new QLabel("高", this), 0, 2);
  grid->addWidget(m_heightEdit, 0, 3);
  grid->addWidget(m_ok, 1, 0, 1, 2);
  grid->addWidget(m_cancel, 1, 2, 1, 2);
  setTabOrder(m_widthEdit, m_heightEdit);
  setTabOrder(m_heightEdit, m_ok);
  setTabOrder(m_ok, m_cancel);
  m_widthEdit->setFocus();
  m_widthEdit->selectAll();
}

void CCellSizeDlg::accept() {
  if (ExchangeFromControls()) QDialog::accept();
}

// Height first, then width, so a bad height is the one reported when both are bad.
bool CCellSizeDlg::ExchangeFromControls() {
  int height = 0;
  int width = 0;
  if (!TakeSize(m_heightEdit, height) || !TakeSize(m_widthEdit, width)) return false;
  if (!CellBitmapFits(width, height)) {
    m_dialogs.MessageBox(this, QString(kCellTooLarge).arg(platform::BitmapByteLimit() >> 20));
    m_widthEdit->setFocus();
    m_widthEdit->selectAll();
    return false;
  }
  m_nHeight = height;
  m_nWidth = width;
  return true;
}

bool CCellSizeDlg::TakeSize(QLineEdit* edit, int& member) {
  bool ok = false;
  const int value = edit->text().trimmed().toInt(&ok);
  if (ok && value >= 1) {
    member = value;
    return true;
  }
  m_dialogs.MessageBox(this, kNotAPositiveWholeNumber);
  edit->setFocus();
  edit->selectAll();
  return false;
}

bool CellBitmapFits(int width, int height) {
  if (width < 1 || height < 1) return false;
  const auto bytes =
      static_cast<std::uint64_t>(platform::DibStride(width, 24)) * static_cast<std::uint64_t>(height);
  return bytes <= platform::BitmapByteLimit();
}
