#pragma once

#include <QSize>

namespace platform {

// The primary screen's size in device-independent pixels (1024x768 when there is none).
QSize ScreenSize();

}  // namespace platform
