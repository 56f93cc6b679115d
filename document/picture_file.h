#pragma once

#include <QString>

// JPEG exactly when the extension of the file name, upper-cased, is ".JPG" or ".JPEG";
// everything else, a missing extension included, is BMP. Dialog filters play no part.
bool IsJpegPath(const QString& path);
