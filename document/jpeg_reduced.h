// JPEG pictures decoded at a reduced size: the codec's 1/8, 1/4 and 1/2 scale reads, for
// callers that resample the picture to a smaller cell anyway.
#pragma once

#include "document/picture_dib.h"
#include "document/picture_file.h"

#include <QString>

#include <memory>

// The largest of 8, 4, 2 (the scale's denominator) at which a width x height picture decodes
// to at least minWidth x minHeight pixels; 1 when only the full size covers them. A scaled
// side is rounded up, as the codec rounds it.
int CoveringJpegScale(int width, int height, int minWidth, int minHeight);

struct ReducedJpeg {
  std::unique_ptr<CPictureDib> picture;  // 24 or 32 bits per pixel, as LoadFile gives it; null on failure
  PictureProblem problem = PictureProblem::None;
  int scale = 1;
};

// Reads a JPEG file at CoveringJpegScale of its size for minWidth x minHeight; on failure the
// problem is the one LoadFile gives for the same file.
ReducedJpeg LoadJpegCovering(const QString& path, int minWidth, int minHeight);
