// The decoder's driver: runs the marker loop over the stream, hands each segment to its parser
// (marker_reader.h) and each scan to the scan decoder, and finishes the image at its end.
#pragma once

#include "codec/jpeg.h"

// Walks the stream from the current input position according to state->ioMode. Stops at the
// first SOS (parameter and thumbnail modes), at the first frame header (tables-only modes), or
// at EOI / the end of the data (image modes).
JpegStatus runDecoder(JPEG_PROPERTIES* state);
