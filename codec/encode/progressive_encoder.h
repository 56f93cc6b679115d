// Progressive output of jpegWrite (ITU T.81 Annex G, Huffman coding): the whole image is
// transformed and quantised into the record's coefficient buffer first, then written as the
// fixed scan script of its colour space, each scan preceded by Huffman tables built for that
// scan alone. Restart intervals are honoured with RSTn markers inside every scan.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

// Everything after writeHeaders: SOF2, DRI, the scans with their DHT segments, EOI. Not
// interruptible. The scan script is released on every exit; the coefficient buffer stays
// with the record (jpegFree, or the next progressive write, releases it).
JpegStatus encodeProgressive(JPEG_PROPERTIES* state);

// The scan script of jpegChannels and jpegColor into state->scanScript (InvalidProperties
// when there is none, MemoryError when it cannot be allocated). Each record's component list
// has four entries; the lists of all records form one allocation starting at the first
// record's list.
JpegStatus buildScanScript(JPEG_PROPERTIES* state);
void releaseScanScript(JPEG_PROPERTIES* state);

// Fills the coefficient buffer (allocated for the frame) with every quantised block in MCU
// order, each block's coefficients in zig-zag order: from coefficient planes unchanged, else
// converted, transformed and quantised as the baseline encoder does.
JpegStatus gatherCoefficients(JPEG_PROPERTIES* state);

// SOS of a progressive scan: identifiers are component indices (as in the SOF2 this encoder
// writes), then Ss, Se, Ah * 16 + Al.
JpegStatus writeSosProgressive(ByteInput* writer, const JPEG_PROPERTIES* state, const ScanRecord* scan);
