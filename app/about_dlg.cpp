#include "app/about_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("关于Meshwick");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  auto* version = new QLabel("Meshwick Version 1.0", this);
  auto* notice = new QLabel("Copyright (C) Meshwick", this);
  auto* address = new QLabel(QString(), this);
  address->setEnabled(false);
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->setColumnMinimumWidth(0, 40);
  layout->addWidget(version, 0, 1);
  layout->addWidget(notice, 1, 1);
  layout->addWidget(address, 2, 1);
  layout->addWidget(ok, 0, 2, Qt::AlignTop);
  layout->setColumnStretch(1, 1);
  setMinimumWidth(350);
}
