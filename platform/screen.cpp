#include "platform/screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform {

QSize ScreenSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {1024, 768};
  return screen->geometry().size();
}

}  // namespace platform
