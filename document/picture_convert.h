#pragma once

#include "document/picture_dib.h"

#include <memory>

// A 24-bit copy of a picture of any depth, the palette applied; null when the new section
// cannot be made. Every picture in the grid has this depth, so resampling and the composite
// handle three bytes per pixel only.
std::unique_ptr<CPictureDib> ConvertTo24Bit(const CPictureDib& source);

// Four-channel codec output to B, G, R, K: each of the first three channels is scaled by the
// fourth and their order reversed.
void CmykToBgr(std::uint8_t* topRow, int width, int height, int rowStep);
