// The codec's write operation and its header stage (jpegWrite itself is declared in
// codec/jpeg.h).
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

// Starts the output, writes SOI and the segments of the write mode (APP0 or APP14, COM and
// the table segments for modes 8..11; EOI for the tables-only modes 10 and 11), prepares
// every table and selects the transform kernels for dctVariant.
JpegStatus writeHeaders(JPEG_PROPERTIES* state);

// DQT per quantisation table (scaled by quality, then prepared for dctVariant), and unless
// progressive, one DHT with every Huffman pair, each derived into its encoding table.
JpegStatus writeTableSegments(JPEG_PROPERTIES* state);

// Derives Huffman pair j (descriptor 2j as DC, 2j + 1 as AC) into the encoding tables of
// their identifiers.
JpegStatus deriveHuffmanPair(JPEG_PROPERTIES* state, int32_t pair);
