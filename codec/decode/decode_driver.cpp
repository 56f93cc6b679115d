#include "codec/decode/decode_driver.h"

#include "codec/decode/byte_input.h"
#include "codec/decode/marker_reader.h"
#include "codec/decode/output_hooks.h"
#include "codec/decode/progressive_decoder.h"
#include "codec/decode/scan_decoder.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/marker_codes.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

void releaseScan(JPEG_PROPERTIES* state) {
  releaseScanRecord(state->scan);
  state->scan = nullptr;
}

bool isSequentialScan(const JPEG_PROPERTIES* state, const ScanRecord* scan) {
  return scan->spectralStart == 0 && scan->spectralEnd == 63 && scan->approxHigh == 0 &&
         scan->approxLow == 0 && state->progressive == 0;
}

// Tables the scan uses must have been defined, by the stream or by the caller.
JpegStatus checkScanTables(const JPEG_PROPERTIES* state, const ScanRecord* scan, bool needsAc) {
  for (int32_t i = 0; i < scan->componentCount; ++i) {
    const ScanComponent& component = scan->components[i];
    const int32_t dcBit = 1 << static_cast<int32_t>(component.dcTable - state->dcTables);
    const int32_t acBit = 1 << (4 + static_cast<int32_t>(component.acTable - state->acTables));
    if ((state->definedHuffmanTables & dcBit) == 0) return JpegStatus::NoHuffmanTable;
    if (needsAc && (state->definedHuffmanTables & acBit) == 0) return JpegStatus::NoHuffmanTable;
    const int32_t quantBit = 1 << static_cast<int32_t>(component.quantTable - state->quantTables);
    if ((state->definedQuantTables & quantBit) == 0) return JpegStatus::NoQuantTable;
  }
  return JpegStatus::Ok;
}

// What the marker loop does after a segment.
enum class Flow { Continue, Stop };

struct LoopState {
  int32_t scansDecoded = 0;
  bool frameRead = false;  // this pass over the stream has met its frame header
};

// Classifies the scan just read, decodes it, and reports whether the call goes on.
JpegStatus handleScan(JPEG_PROPERTIES* state, LoopState* loop, Flow* flow) {
  *flow = Flow::Continue;
  ScanRecord* scan = state->scan;
  scan->restartInterval = state->restartInterval;
  state->nonInterleaved = scan->componentCount < state->componentCount && state->progressive == 0 ? 1 : 0;
  JpegStatus status = runFrameSetUp(state);
  if (status != JpegStatus::Ok) {
    releaseScan(state);
    return status;
  }
  // Progressive scans had their own tables checked when their header was read.
  if (isSequentialScan(state, scan)) status = checkScanTables(state, scan, true);
  if (status != JpegStatus::Ok) {
    releaseScan(state);
    return status;
  }
  status = decodeScan(state);
  ++loop->scansDecoded;
  if (status == JpegStatus::Ok) {
    state->input.componentsDone += scan->componentCount;
    releaseScan(state);
    return status;
  }
  if (static_cast<int32_t>(status) < 0) {
    releaseScan(state);
    return status;
  }
  *flow = Flow::Stop;  // interrupted or region done: the scan stays in progress
  return status;
}

JpegStatus handleScanMarker(JPEG_PROPERTIES* state, LoopState* loop, Flow* flow) {
  *flow = Flow::Continue;
  if (state->noFrameYet != 0) return JpegStatus::NoFrame;
  const int64_t markerStart = static_cast<int64_t>(state->input.consumed) - 2;
  JpegStatus status = readScanHeader(state);
  if (status != JpegStatus::Ok) return status;
  state->lastScanStart = markerStart;
  if (isHeaderOnlyMode(state->ioMode)) {
    state->input.consumed -= static_cast<uint32_t>(state->input.kernels->lastScanHeaderSize);
    releaseScan(state);
    *flow = Flow::Stop;
    return JpegStatus::Ok;
  }
  status = startProgressiveScan(state);
  if (status != JpegStatus::Ok) {
    releaseScan(state);
    return status;
  }
  return handleScan(state, loop, flow);
}

// The passes that complete an image once its last scan is decoded: the colour conversion of a
// picture stored component by component, the rendering a progressive image still owes.
void finishImage(JPEG_PROPERTIES* state) {
  if (state->nonInterleaved != 0 && state->colorConversionNeeded != 0 && state->progressive == 0) {
    runFinalConversion(state);
  }
  finishProgressiveImage(state);
}

// Before a frame (or, in an image read, before any scan) an EOI may only end a tables-only stream
// followed by the image: the read goes on into that image. The parameter and thumbnail reads do so
// too, so that they report its frame: a caller sizes its pixel buffer from them, and a buffer read
// starts again at the buffer's first byte, so stopping at the tables' EOI would leave the image's
// size out of reach. Alone, a tables-only stream ends them with no frame; the tables reads end at
// its EOI.
JpegStatus handleEndOfImage(JPEG_PROPERTIES* state, const LoopState& loop, Flow* flow) {
  *flow = Flow::Stop;
  const int32_t readMode = state->ioMode;
  if (isTablesOnlyReadMode(readMode)) return JpegStatus::Ok;
  const bool headerOnly = isHeaderOnlyMode(readMode);
  if (state->noFrameYet != 0 || (!headerOnly && loop.scansDecoded == 0)) {
    if (!nextMarker(&state->input).is(markers::kSoi))
      return headerOnly ? JpegStatus::Ok : JpegStatus::NoImage;
    state->restartInterval = 0;
    *flow = Flow::Continue;
    return JpegStatus::Ok;
  }
  if (headerOnly) return JpegStatus::Ok;
  finishImage(state);
  return JpegStatus::Ok;
}

JpegStatus skipWholeSegment(JPEG_PROPERTIES* state) {
  return skipSegment(&state->input);
}

JpegStatus dispatchMarker(JPEG_PROPERTIES* state, int32_t marker, LoopState* loop, Flow* flow) {
  *flow = Flow::Continue;
  if (marker == markers::kSof0 || marker == markers::kSof1 || marker == markers::kSof2) {
    if (isTablesOnlyReadMode(state->ioMode)) {
      state->input.consumed -= 2;
      *flow = Flow::Stop;
      return JpegStatus::Ok;
    }
    // A second SOF1 or SOF2 would throw away the image decoded so far (the progressive
    // coefficients among it): it is passed over as a whole segment, so that bytes of its header
    // are never taken for markers.
    if (marker != markers::kSof0 && loop->frameRead) return skipWholeSegment(state);
    loop->frameRead = true;
    const JpegStatus status = readFrameHeader(state, marker);
    return status == JpegStatus::Ok ? runFrameSetUp(state) : status;
  }
  if (markers::isUnsupportedFrame(marker)) return JpegStatus::UnsupportedFrame;
  switch (marker) {
    case markers::kDht:
      return readHuffmanTables(state);
    case markers::kSoi:
      state->restartInterval = 0;
      return JpegStatus::Ok;
    case markers::kEoi:
      return handleEndOfImage(state, *loop, flow);
    case markers::kSos:
      return handleScanMarker(state, loop, flow);
    case markers::kDqt:
      return readQuantTables(state);
    case markers::kDri:
      return readRestartInterval(state);
    case markers::kApp0:
      // The file variant of the no-tables mode does not interpret APP0.
      return static_cast<JpegIoMode>(state->ioMode) == JpegIoMode::FileReadImageNoTables
                 ? skipWholeSegment(state)
                 : readApp0(state);
    case markers::kApp14: {
      const JpegStatus status = readApp14(state);
      if (status != JpegStatus::Ok || state->noFrameYet != 0) return status;
      return runFrameSetUp(state);
    }
    case markers::kCom:
      return readComment(state);
    default:
      break;
  }
  if (markers::isRestart(marker)) return JpegStatus::Ok;  // stray RSTn: no segment
  return skipWholeSegment(state);
}

JpegStatus rewindInput(JPEG_PROPERTIES* state) {
  ByteInput* input = &state->input;
  if (input->file != 0) {
    if (!fileSeek(input->file, 0, SeekOrigin::Start)) return JpegStatus::FileError;
    state->inputBaseOffset = 0;
  }
  resetInput(input);
  return JpegStatus::Ok;
}

// End of the data. A parameters or thumbnail read stops only at an SOS or an EOI: data that
// ends before either is truncated (a file: FileError; memory: MemoryError). Image modes must have
// decoded something.
JpegStatus endOfData(JPEG_PROPERTIES* state, const LoopState& loop) {
  const int32_t readMode = state->ioMode;
  if (isParametersMode(readMode) || isThumbnailMode(readMode)) return truncatedStatus(&state->input);
  if (!isImageReadMode(readMode)) return JpegStatus::Ok;
  if (state->noFrameYet != 0 || loop.scansDecoded == 0) return JpegStatus::NoImage;
  // A stream cut before its EOI still gets the image's last pass.
  finishImage(state);
  return JpegStatus::Ok;
}

}  // namespace

JpegStatus runDecoder(JPEG_PROPERTIES* state) {
  ByteInput* input = &state->input;
  LoopState loop;
  if (state->scan == nullptr) {
    // An image spread over several scans, once decoded, is read again from its start: the file
    // was left at its last SOS, and its earlier scans are needed too.
    if (state->nonInterleaved != 0 || state->progressive != 0) {
      const JpegStatus status = rewindInput(state);
      if (status != JpegStatus::Ok) return status;
    } else {
      resetInput(input);
    }
    state->lastScanStart = -1;
  }
  // A pass that reads on from where an earlier call stopped (a file left at its SOS marker, a scan
  // in progress) already has its frame; one from the start of the data meets it again.
  const bool fromStart = state->scan == nullptr && (input->file == 0 || state->inputBaseOffset == 0);
  loop.frameRead = state->noFrameYet == 0 && !fromStart;
  if (state->noFrameYet == 0) {
    const JpegStatus status = runFrameSetUp(state);
    if (status != JpegStatus::Ok) return status;
  }
  if (isHeaderOnlyMode(state->ioMode) && !nextMarker(input).is(markers::kSoi)) return JpegStatus::NotJpeg;
  if (state->progressive == 0) {
    state->finishedDcCount = 0;
    state->finishedAcCount = 0;
  }

  if (state->scan != nullptr) {
    Flow flow = Flow::Continue;
    const JpegStatus status = handleScan(state, &loop, &flow);
    if (status != JpegStatus::Ok || flow == Flow::Stop) return status;
  }
  for (;;) {
    const MarkerRead marker = nextMarker(input);
    if (marker.found == MarkerFound::Failed) return marker.error;
    if (marker.found == MarkerFound::EndOfData) return endOfData(state, loop);
    Flow flow = Flow::Continue;
    const JpegStatus status = dispatchMarker(state, marker.code, &loop, &flow);
    if (status != JpegStatus::Ok || flow == Flow::Stop) return status;
  }
}
