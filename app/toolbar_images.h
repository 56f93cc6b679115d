#pragma once

#include <QIcon>
#include <QPixmap>

inline constexpr int kToolbarImageWidth = 16;
inline constexpr int kToolbarImageHeight = 15;

// The 16 x 15 button image of a toolbar command, drawn at start-up at the screen's device
// pixel ratio.
QPixmap ToolbarImage(int id);
// The application's window icon.
QIcon ApplicationIcon();
