#include "platform/busy_cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace platform {

// Override cursors stack, so guards nest and each takes back only its own.
BusyCursor::BusyCursor() {
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor() {
  QGuiApplication::restoreOverrideCursor();
}

NormalCursor::NormalCursor() {
  QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
}

NormalCursor::~NormalCursor() {
  QGuiApplication::restoreOverrideCursor();
}

}  // namespace platform
