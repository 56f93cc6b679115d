// Marker segments of the encoder. Each writer assembles its segment and hands it to the
// putBytes slot of the KernelTable in one piece (the pending entropy bits are padded first),
// so a buffer too small for a segment leaves none of it written.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"
#include "codec/marker_codes.h"

JpegStatus writeSoi(ByteInput* writer);
JpegStatus writeEoi(ByteInput* writer);

// JFIF APP0 from the record's version, density unit and densities; no thumbnail.
JpegStatus writeApp0(ByteInput* writer, const JPEG_PROPERTIES* state);

// Adobe APP14 from the record's version and flag words, with the colour transform byte.
JpegStatus writeApp14(ByteInput* writer, const JPEG_PROPERTIES* state, uint8_t transform);

// COM: the caller's commentBuffer (commentLength bytes, cut to 65531 and the length updated;
// nothing for 0), or the codec's default text when commentBuffer is null.
JpegStatus writeComment(ByteInput* writer, JPEG_PROPERTIES* state);

// DQT of one table: precision 0, the 64 values (1..255) in the order they are stored.
JpegStatus writeDqt(ByteInput* writer, int32_t tableId, const int16_t* values);

// One DHT holding the first 2 * pairCount Huffman descriptors of the record.
JpegStatus writeDhtAll(ByteInput* writer, const JPEG_PROPERTIES* state, int32_t pairCount);

// One DHT holding one table (class 0 = DC, 1 = AC); BadHuffmanTable above 305 symbols.
JpegStatus writeDhtTable(ByteInput* writer, int32_t tableClass, int32_t tableId, const uint8_t* counts,
                         const uint8_t* symbols);

// Frame header with `marker` (SOF0 baseline, SOF2 progressive). A single component is
// written with identifier 0 and factors 1x1; otherwise component i gets firstId + i.
JpegStatus writeFrameHeader(ByteInput* writer, const JPEG_PROPERTIES* state, uint8_t marker, int32_t firstId);
inline JpegStatus writeSof0(ByteInput* writer, const JPEG_PROPERTIES* state) {
  return writeFrameHeader(writer, state, markers::kSof0, 1);
}

JpegStatus writeDri(ByteInput* writer, int32_t interval);

// Baseline SOS listing the scan's components with their table selectors; Ss 0, Se 63, Ah/Al 0.
JpegStatus writeSosBaseline(ByteInput* writer, const JPEG_PROPERTIES* state, const ScanRecord* scan);

// RSTn for n = 0..7; BadRstMarker otherwise.
JpegStatus writeRst(ByteInput* writer, int32_t n);
