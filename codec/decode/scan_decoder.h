// Scan decoding: the per-scan set-up and the sequential (baseline and extended) scan loop.
#pragma once

#include <cstdint>

#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_plan.h"
#include "codec/jpeg.h"

// Scan start: selects the inverse transforms and dequantiser of the dctVariant, takes the scale
// from the mode, settles the region, builds the scan's plan and decodes state->scan through the
// sequential, region or progressive decoder; drops the buffered bits on success and runs the
// kernel table's finishing hook. 0, InterruptOk (the scan keeps its resume point), RoiOk (the
// region is stored and the scan stays in progress) or an error.
JpegStatus decodeScan(JPEG_PROPERTIES* state);

// The sequential scan over the whole image from the scan's resume point, with restart intervals
// and the cooperative interrupt after each MCU.
ScanResult decodeSequentialScan(JPEG_PROPERTIES* state, const ScanPlan& plan);

// The status a scan's result stands for: its error, or Ok, InterruptOk, RoiOk by outcome.
JpegStatus statusOf(const ScanResult& result);
