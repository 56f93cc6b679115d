// Progressive Huffman decoding (ITU T.81 Annex G): spectral selection and successive
// approximation scans accumulate into the coefficient buffer; once every component holds its
// full-precision DC and an AC band ending at coefficient 63, each MCU a scan updates is rendered
// through the same output stage as sequential decoding.
//
// Coefficient buffer layout: MCU after MCU, row by row; within an MCU the blocks of each frame
// component in frame order, each component's H x V blocks in raster order; 64 natural-order
// coefficients per block. A one-component frame has one block per MCU whatever its factors say.
#pragma once

#include <cstdint>

#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_plan.h"
#include "codec/jpeg.h"

// More scans than any sensible script uses (three components with every band and bit sent
// separately stay far below it); a stream with more is refused with MemoryError instead of
// re-rendering the image without end.
inline constexpr int32_t kMaxProgressiveScans = 1000;

// Run once for each scan header of an image read (not when an interrupted scan resumes). A scan
// other than Ss = 0, Se = 63, Ah = Al = 0, and every scan after one, is progressive: its
// parameters are checked (DataError: Ss > Se, Se > 63, a DC scan with Se != 0, an AC scan with
// more than one component, Ah or Al above 13, a frame quantisation selector above 3) and so are
// the tables it uses (NoHuffmanTable, NoQuantTable); the finished-DC and finished-AC counts and the
// scan count advance, and the first progressive scan of a frame sizes and clears the coefficient
// buffer (MemoryError when it cannot be had or the scan count passes kMaxProgressiveScans).
// Sequential scans of a sequential image are left alone.
JpegStatus startProgressiveScan(JPEG_PROPERTIES* state);

// The scan loop over the coefficient buffer from the scan's resume row, with restart intervals
// (BadRstMarker when the RSTn marker after an interval cannot be had), rendering once the image
// is ready, and the interrupt after each frame MCU row (Interrupted).
ScanResult decodeProgressiveScan(JPEG_PROPERTIES* state, const ScanPlan& plan);

// At the end of a progressive image (EOI or the end of the data): when no scan could render
// because some component never received its full-precision DC or AC band, renders the whole
// coefficient buffer once, so that an incomplete image shows what it carries.
void finishProgressiveImage(JPEG_PROPERTIES* state);

// --- block procedures (T.81 G.1.2); positions are zig-zag indices -------------------------------
// Each returns 0 (a marker met ends the block quietly) or a negative status. Nothing is ever
// written outside positions ss..se of the block.

// Clears the block; DC difference added to *predictor (kept as a 16-bit value); coefficient 0 =
// predictor x 2^al.
int32_t decodeDcFirst(ByteInput* input, const HuffmanTable* dcTable, int32_t* predictor, int32_t al,
                      int16_t* block);
// One bit; 1 sets bit al of coefficient 0.
int32_t decodeDcRefine(ByteInput* input, int32_t al, int16_t* block);
// New coefficients value x 2^al in positions ss..se, or one block of a pending end-of-band run
// (input->eobRun).
int32_t decodeAcFirst(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se, int32_t al,
                      int16_t* block);
// Correction bits for the nonzero coefficients of ss..se and new coefficients of +-2^al.
int32_t decodeAcRefine(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se, int32_t al,
                       int16_t* block);
