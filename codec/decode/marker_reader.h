// The marker segment parsers: each reads one segment's body into the state record (tables,
// frame, scan header, restart interval, application segments, comment). The marker loop that
// calls them is the decode driver's (decode_driver.h).
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

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
