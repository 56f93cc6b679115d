// The decoder's driver: walks the marker segments, fills the tables and the frame in the state
// record, and hands each scan to the scan decoder.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

// Walks the stream from the current input position according to state->ioMode. Stops at the
// first SOS (parameter and thumbnail modes), at the first frame header (tables-only modes), or
// at EOI / the end of the data (image modes).
JpegStatus readMarkers(JPEG_PROPERTIES* state);

// Segment readers, each called after its marker has been consumed.
JpegStatus readFrameHeader(JPEG_PROPERTIES* state, int32_t marker);
JpegStatus readHuffmanTables(JPEG_PROPERTIES* state);
JpegStatus readQuantTables(JPEG_PROPERTIES* state);
JpegStatus readRestartInterval(JPEG_PROPERTIES* state);
// Reads the scan header into a new state->scan (released again on failure).
JpegStatus readScanHeader(JPEG_PROPERTIES* state);
JpegStatus readApp0(JPEG_PROPERTIES* state);
JpegStatus readApp14(JPEG_PROPERTIES* state);
JpegStatus readComment(JPEG_PROPERTIES* state);
