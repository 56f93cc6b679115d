// Scan decoding: the per-scan set-up and the sequential (baseline and extended) scan loop.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"
#include "codec/kernel_table.h"

// Scan start: selects the inverse transforms and dequantiser of the dctVariant, takes the scale
// from the mode, decodes state->scan, drops the buffered bits on success and runs the kernel
// table's finishing hook. 0, 1 (interrupted; the scan keeps its resume point) or an error.
JpegStatus decodeScan(JPEG_PROPERTIES* state);

// The sequential scan loop over MCUs with restart intervals and the cooperative interrupt.
// `scale` is the denominator 1, 2, 4 or 8.
JpegStatus decodeSequentialScan(JPEG_PROPERTIES* state, ByteInput* input, ScanRecord* scan, int32_t scale);

// The transform for one component at the scale denominator: reduced by the scale, or one size
// larger for the one-block components of a square-sampled frame.
InverseDctKernel chooseInverseDct(const KernelTable* kernels, int32_t scale, bool largerForComponent);

// Square sampling: every component has equal factors, each 1 or 2, and not all are 1. Such a
// frame's one-block components take the next larger inverse transform in scaled decoding.
bool hasSquareSampling(const JPEG_PROPERTIES* state);
