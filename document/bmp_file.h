// Reading BMP files into pictures, with the reason when a file cannot be read.
#pragma once

#include "document/bmp/bmp_reader.h"

#include <QString>

class CPictureDib;

// Reads the file into `picture`. A refused file leaves the picture as it was; a file whose
// section cannot be made (TooLarge) leaves it empty. bmp::StatusText gives the reason.
bmp::Status LoadBmpFile(const QString& path, CPictureDib& picture);
