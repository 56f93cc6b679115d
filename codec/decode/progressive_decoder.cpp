#include "codec/decode/progressive_decoder.h"

#include <cstddef>
#include <cstring>

#include "codec/decode/block_planes.h"
#include "codec/decode/byte_input.h"
#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"
#include "codec/decode/output_hooks.h"
#include "codec/decode/region_decoder.h"
#include "codec/decode/scan_decoder.h"
#include "codec/kernel_table.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

constexpr int32_t kLastPosition = 63;
// Successive approximation shifts: 8-bit samples give coefficients of at most 15 bits with sign,
// so no point transform beyond 13 is meaningful (T.81 G.1.1.1.1); 2^13 times a 16-bit value
// stays well inside 32 bits.
constexpr int32_t kMaxApproximation = 13;
// A DC category above 15 cannot come from 8-bit data.
constexpr int32_t kMaxCategory = 15;
constexpr int32_t kBlockValues = 64;
constexpr size_t kBlockBytes = kBlockValues * sizeof(int16_t);

int32_t ceilDiv(int64_t value, int64_t divisor) {
  return static_cast<int32_t>((value + divisor - 1) / divisor);
}

// --- bits -------------------------------------------------------------------------------------

// 0 with the next `count` (1..16) bits in *bits, kStoppedAtMarker, or a negative status.
int32_t takeBits(ByteInput* input, int32_t count, uint32_t* bits) {
  const int32_t filled = fillBits(input, count);
  if (filled != 0) return filled;
  *bits = getBits(input, count);
  return 0;
}

// A marker ends the block quietly; errors are passed on.
int32_t quietAtMarker(int32_t status) {
  return status == kStoppedAtMarker ? 0 : status;
}

// End-of-band run of 2^run blocks plus `run` more bits (bits cut off by a marker count as
// zeros). run <= 14 keeps the result within 32767.
int32_t readEndOfBandRun(ByteInput* input, int32_t run, int32_t* blocks) {
  uint32_t extra = 0;
  if (run > 0) {
    const int32_t status = takeBits(input, run, &extra);
    if (status < 0) return status;
    if (status == kStoppedAtMarker) extra = 0;
  }
  *blocks = (1 << run) + static_cast<int32_t>(extra);
  return 0;
}

// One correction bit for an already nonzero coefficient: a 1 adds 2^al away from zero unless the
// coefficient has that bit already.
int32_t correctCoefficient(ByteInput* input, int16_t* coefficient, int32_t plus) {
  uint32_t bit = 0;
  const int32_t status = takeBits(input, 1, &bit);
  if (status != 0) return status;
  if (bit != 0 && (*coefficient & plus) == 0) {
    const int32_t value = *coefficient;
    *coefficient = static_cast<int16_t>(value >= 0 ? value + plus : value - plus);
  }
  return 0;
}

// Moves *position through positions up to se: nonzero coefficients passed over get their
// correction bit; stops on the (zeros + 1)-th coefficient that is still zero, or past se.
int32_t passOverCoefficients(ByteInput* input, int16_t* block, int32_t* position, int32_t se, int32_t zeros,
                             int32_t plus) {
  int32_t k = *position;
  for (; k <= se; ++k) {
    int16_t* coefficient = block + kNaturalOrder[k];
    if (*coefficient != 0) {
      const int32_t status = correctCoefficient(input, coefficient, plus);
      if (status != 0) {
        *position = k;
        return status;
      }
    } else if (--zeros < 0) {
      break;
    }
  }
  *position = k;
  return 0;
}

// Inside an end-of-band run the rest of the band only receives correction bits.
int32_t correctRestOfBand(ByteInput* input, int16_t* block, int32_t k, int32_t se, int32_t plus) {
  for (; k <= se; ++k) {
    int16_t* coefficient = block + kNaturalOrder[k];
    if (*coefficient == 0) continue;
    const int32_t status = correctCoefficient(input, coefficient, plus);
    if (status != 0) return status;
  }
  return 0;
}

}  // namespace

// --- block procedures -----------------------------------------------------------------------------

int32_t decodeDcFirst(ByteInput* input, const HuffmanTable* dcTable, int32_t* predictor, int32_t al,
                      int16_t* block) {
  std::memset(block, 0, kBlockBytes);
  const int32_t category = decodeSymbol(input, dcTable);
  if (category == kSymbolAtMarker) return 0;
  if (category < 0) return category;
  if (category > kMaxCategory) return static_cast<int32_t>(JpegStatus::DataError);
  if (category > 0) {
    uint32_t bits = 0;
    const int32_t status = takeBits(input, category, &bits);
    if (status != 0) return quietAtMarker(status);
    // Wraps like the 16-bit coefficient instead of overflowing on corrupt streams.
    *predictor = static_cast<int16_t>(static_cast<uint32_t>(*predictor) +
                                      static_cast<uint32_t>(extendValue(bits, category)));
  }
  block[0] = static_cast<int16_t>(*predictor * (1 << al));
  return 0;
}

int32_t decodeDcRefine(ByteInput* input, int32_t al, int16_t* block) {
  uint32_t bit = 0;
  const int32_t status = takeBits(input, 1, &bit);
  if (status != 0) return quietAtMarker(status);
  if (bit != 0) block[0] = static_cast<int16_t>(block[0] | (1 << al));
  return 0;
}

int32_t decodeAcFirst(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se, int32_t al,
                      int16_t* block) {
  if (input->eobRun > 0) {
    --input->eobRun;
    return 0;
  }
  for (int32_t k = ss; k <= se; ++k) {
    const int32_t symbol = decodeSymbol(input, acTable);
    if (symbol == kSymbolAtMarker) return 0;
    if (symbol < 0) return symbol;
    const int32_t run = symbol >> 4;
    const int32_t category = symbol & 15;
    if (category == 0) {
      if (run == 15) {
        k += 15;
        continue;
      }
      int32_t blocks = 0;
      const int32_t status = readEndOfBandRun(input, run, &blocks);
      if (status < 0) return status;
      input->eobRun = blocks - 1;  // this block is the first of the run
      return 0;
    }
    k += run;
    uint32_t bits = 0;
    const int32_t status = takeBits(input, category, &bits);
    if (status != 0) return quietAtMarker(status);
    if (k > se) return 0;  // a run past the band: nothing is stored outside it
    block[kNaturalOrder[k]] = static_cast<int16_t>(extendValue(bits, category) * (1 << al));
  }
  return 0;
}

int32_t decodeAcRefine(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se, int32_t al,
                       int16_t* block) {
  const int32_t plus = 1 << al;
  int32_t k = ss;
  if (input->eobRun == 0) {
    for (; k <= se; ++k) {
      const int32_t symbol = decodeSymbol(input, acTable);
      if (symbol == kSymbolAtMarker) return 0;
      if (symbol < 0) return symbol;
      const int32_t run = symbol >> 4;
      const int32_t category = symbol & 15;
      int32_t value = 0;
      if (category != 0) {
        // A coefficient that becomes nonzero at this bit is +-2^al: one sign bit (categories
        // other than 1 are invalid here and read the same way).
        uint32_t sign = 0;
        const int32_t status = takeBits(input, 1, &sign);
        if (status != 0) return quietAtMarker(status);
        value = sign != 0 ? plus : -plus;
      } else if (run != 15) {
        int32_t blocks = 0;
        const int32_t status = readEndOfBandRun(input, run, &blocks);
        if (status < 0) return status;
        input->eobRun = blocks;  // the rest of this block is the run's first
        break;
      }
      const int32_t status = passOverCoefficients(input, block, &k, se, run, plus);
      if (status != 0) return quietAtMarker(status);
      if (value != 0 && k <= se) block[kNaturalOrder[k]] = static_cast<int16_t>(value);
    }
  }
  if (input->eobRun > 0) {
    --input->eobRun;
    return quietAtMarker(correctRestOfBand(input, block, k, se, plus));
  }
  return 0;
}

namespace {

// --- coefficient buffer geometry ------------------------------------------------------------------

struct CoefficientLayout {
  int32_t componentCount = 0;
  int32_t h[4] = {1, 1, 1, 1};
  int32_t v[4] = {1, 1, 1, 1};
  int32_t firstBlock[4] = {};    // of the component within an MCU
  int32_t blockColumns[4] = {};  // blocks of the component that lie inside the image
  int32_t blockRows[4] = {};
  int32_t blocksPerMcu = 0;
  int32_t mcusPerRow = 0;
  int32_t mcuRows = 0;

  size_t totalBlocks() const {
    return static_cast<size_t>(blocksPerMcu) * static_cast<size_t>(mcusPerRow) * static_cast<size_t>(mcuRows);
  }
  size_t mcuIndex(int32_t column, int32_t row) const {
    return static_cast<size_t>(row) * static_cast<size_t>(mcusPerRow) + static_cast<size_t>(column);
  }
};

// Factors come from the frame header (checked to be 1..4 there); a one-component frame is never
// interleaved, so its MCU is one block.
CoefficientLayout describeLayout(const JPEG_PROPERTIES& state) {
  CoefficientLayout layout;
  layout.componentCount = state.componentCount;
  int32_t maxH = 1;
  int32_t maxV = 1;
  if (layout.componentCount > 1) {
    for (int32_t c = 0; c < layout.componentCount; ++c) {
      layout.h[c] = state.components[c].horizontalFactor;
      layout.v[c] = state.components[c].verticalFactor;
      maxH = layout.h[c] > maxH ? layout.h[c] : maxH;
      maxV = layout.v[c] > maxV ? layout.v[c] : maxV;
    }
  }
  for (int32_t c = 0; c < layout.componentCount; ++c) {
    layout.firstBlock[c] = layout.blocksPerMcu;
    layout.blocksPerMcu += layout.h[c] * layout.v[c];
    layout.blockColumns[c] = ceilDiv(ceilDiv(int64_t{state.imageWidth} * layout.h[c], maxH), 8);
    layout.blockRows[c] = ceilDiv(ceilDiv(int64_t{state.imageHeight} * layout.v[c], maxV), 8);
  }
  layout.mcusPerRow = ceilDiv(state.imageWidth, 8 * maxH);
  layout.mcuRows = ceilDiv(state.imageHeight, 8 * maxV);
  return layout;
}

bool layoutIsUsable(const JPEG_PROPERTIES& state) {
  return state.components != nullptr && state.componentCount >= 1 && state.componentCount <= 4 &&
         state.imageWidth > 0 && state.imageHeight > 0;
}

// The first progressive scan of a frame: a buffer of the frame's size, all coefficients zero
// (a second image on the record gets a buffer sized for it).
JpegStatus prepareCoefficientBuffer(JPEG_PROPERTIES* state) {
  if (!layoutIsUsable(*state)) return JpegStatus::InternalError;
  for (int32_t c = 0; c < state->componentCount; ++c) {
    const int32_t selector = state->components[c].quantSelector;
    if (selector < 0 || selector > 3) return JpegStatus::DataError;
  }
  const size_t blocks = describeLayout(*state).totalBlocks();
  if (state->coefficientBuffer != nullptr && static_cast<size_t>(state->coefficientBufferBlocks) == blocks) {
    std::memset(state->coefficientBuffer, 0, blocks * kBlockBytes);
    return JpegStatus::Ok;
  }
  releaseBlocks(state->coefficientBuffer);
  state->coefficientBufferBlocks = 0;
  state->coefficientBuffer = allocateBlocks(blocks);  // bounded by kMaxCodecAllocationBytes
  if (state->coefficientBuffer == nullptr) return JpegStatus::MemoryError;
  state->coefficientBufferBlocks = static_cast<int32_t>(blocks);
  return JpegStatus::Ok;
}

// --- scan classification --------------------------------------------------------------------------

bool hasSequentialParameters(const ScanRecord& scan) {
  return scan.spectralStart == 0 && scan.spectralEnd == kLastPosition && scan.approxHigh == 0 &&
         scan.approxLow == 0;
}

bool isDcScan(const ScanRecord& scan) {
  return scan.spectralStart == 0;
}

JpegStatus checkScanParameters(const ScanRecord& scan) {
  const bool bandValid = scan.spectralStart <= scan.spectralEnd && scan.spectralEnd <= kLastPosition;
  const bool dcOnly = !isDcScan(scan) || scan.spectralEnd == 0;
  const bool acSingle = isDcScan(scan) || scan.componentCount == 1;
  const bool approximationValid = scan.approxHigh <= kMaxApproximation && scan.approxLow <= kMaxApproximation;
  return bandValid && dcOnly && acSingle && approximationValid ? JpegStatus::Ok : JpegStatus::DataError;
}

bool isDefined(int32_t definedMask, int32_t bit) {
  return (definedMask & (1 << bit)) != 0;
}

// Only the tables the scan reads: DC first scans their DC table, AC scans their AC table, DC
// refinements none; the quantisation table of every scan component is needed for rendering.
JpegStatus checkScanTables(const JPEG_PROPERTIES& state, const ScanRecord& scan) {
  for (int32_t i = 0; i < scan.componentCount; ++i) {
    const ScanComponent& component = scan.components[i];
    const int32_t dcId = static_cast<int32_t>(component.dcTable - state.dcTables);
    const int32_t acId = static_cast<int32_t>(component.acTable - state.acTables);
    const int32_t quantId = static_cast<int32_t>(component.quantTable - state.quantTables);
    if (isDcScan(scan) && scan.approxHigh == 0 && !isDefined(state.definedHuffmanTables, dcId)) {
      return JpegStatus::NoHuffmanTable;
    }
    if (!isDcScan(scan) && !isDefined(state.definedHuffmanTables, 4 + acId))
      return JpegStatus::NoHuffmanTable;
    if (!isDefined(state.definedQuantTables, quantId)) return JpegStatus::NoQuantTable;
  }
  return JpegStatus::Ok;
}

void countFinishedBands(JPEG_PROPERTIES* state, const ScanRecord& scan) {
  if (scan.approxLow != 0) return;
  if (!isDcScan(scan) && scan.spectralEnd == kLastPosition) ++state->finishedAcCount;
  if (isDcScan(scan)) state->finishedDcCount += scan.componentCount;
}

}  // namespace

JpegStatus startProgressiveScan(JPEG_PROPERTIES* state) {
  const ScanRecord& scan = *state->scan;
  if (state->progressive == 0 && hasSequentialParameters(scan)) return JpegStatus::Ok;
  JpegStatus status = checkScanParameters(scan);
  if (status == JpegStatus::Ok) status = checkScanTables(*state, scan);
  if (status != JpegStatus::Ok) return status;
  if (state->progressive >= kMaxProgressiveScans) return JpegStatus::MemoryError;
  if (state->progressive == 0) {
    status = prepareCoefficientBuffer(state);
    if (status != JpegStatus::Ok) return status;
  }
  countFinishedBands(state, scan);
  ++state->progressive;
  return JpegStatus::Ok;
}

namespace {

// --- rendering ------------------------------------------------------------------------------------

struct RenderPlan {
  const int16_t* quantValues[4] = {};
  InverseDctKernel inverseDct[4] = {};
  DequantizeKernel dequantize = nullptr;
  int32_t scale = 1;
  McuRange range = {};  // MCUs that reach the pixels (a region of interest, or all)
};

// Each frame component's table and transform, as the sequential decoder chooses them.
RenderPlan planRendering(const JPEG_PROPERTIES& state, const CoefficientLayout& layout, int32_t scale) {
  const KernelTable* kernels = state.input.kernels;
  const bool square = hasSquareSampling(&state);
  RenderPlan plan;
  plan.dequantize = kernels->dequantize;
  plan.scale = scale;
  plan.range = frameRegionRange(state, scale);
  for (int32_t c = 0; c < layout.componentCount; ++c) {
    const JpegComponent& component = state.components[c];
    plan.quantValues[c] = state.quantTables[component.quantSelector & 3].storage;
    const bool oneBlock = component.horizontalFactor * component.verticalFactor == 1;
    plan.inverseDct[c] = chooseInverseDct(kernels, scale, square && oneBlock);
  }
  return plan;
}

bool renderingReady(const JPEG_PROPERTIES& state) {
  return state.finishedDcCount >= state.componentCount && state.finishedAcCount >= state.componentCount;
}

// Copies the MCU's coefficients into the MCU area, dequantises and transforms every block there,
// and stores the MCU.
void renderMcu(JPEG_PROPERTIES* state, const CoefficientLayout& layout, const RenderPlan& plan,
               int32_t column, int32_t row) {
  // Block planes are filled once the image is complete (finishProgressiveImage).
  if (state->blockPlanes != nullptr || !plan.range.contains(column, row)) return;
  int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
  const int16_t* source =
      state->coefficientBuffer + layout.mcuIndex(column, row) * layout.blocksPerMcu * kBlockValues;
  std::memcpy(block, source, static_cast<size_t>(layout.blocksPerMcu) * kBlockBytes);
  for (int32_t c = 0; c < layout.componentCount; ++c) {
    for (int32_t b = 0; b < layout.h[c] * layout.v[c]; ++b, block += kBlockValues) {
      plan.dequantize(block, plan.quantValues[c]);
      plan.inverseDct[c](block);
    }
  }
  storeMcuUpsampled(state, column, row, layout.mcusPerRow, layout.mcuRows, plan.scale);
}

void renderMcuRow(JPEG_PROPERTIES* state, const CoefficientLayout& layout, const RenderPlan& plan,
                  int32_t row) {
  for (int32_t column = 0; column < layout.mcusPerRow; ++column) renderMcu(state, layout, plan, column, row);
}

// --- the scan loop --------------------------------------------------------------------------------

enum class Procedure { DcFirst, DcRefine, AcFirst, AcRefine };

struct ScanPlan {
  Procedure procedure;
  int32_t ss;
  int32_t se;
  int32_t al;
};

ScanPlan planScan(const ScanRecord& scan) {
  const bool refine = scan.approxHigh != 0;
  Procedure procedure = refine ? Procedure::AcRefine : Procedure::AcFirst;
  if (isDcScan(scan)) procedure = refine ? Procedure::DcRefine : Procedure::DcFirst;
  return {procedure, scan.spectralStart, scan.spectralEnd, scan.approxLow};
}

int32_t decodeBlock(ByteInput* input, const ScanPlan& plan, const ScanComponent& component,
                    int32_t* predictor, int16_t* block) {
  switch (plan.procedure) {
    case Procedure::DcFirst:
      return decodeDcFirst(input, component.dcTable, predictor, plan.al, block);
    case Procedure::DcRefine:
      return decodeDcRefine(input, plan.al, block);
    case Procedure::AcFirst:
      return decodeAcFirst(input, component.acTable, plan.ss, plan.se, plan.al, block);
    case Procedure::AcRefine:
      return decodeAcRefine(input, component.acTable, plan.ss, plan.se, plan.al, block);
  }
  return static_cast<int32_t>(JpegStatus::InternalError);
}

// After each restart interval: predictors cleared, the end-of-band run ended, buffered bits
// dropped, and one RSTn marker taken, the one the bit reader met or the next in the input (its
// number is not compared). Anything else, or no marker before the data ends, is BadRstMarker.
JpegStatus takeRestartMarker(ByteInput* input, ScanRecord* scan) {
  for (int32_t& predictor : scan->lastDc) predictor = 0;
  input->eobRun = 0;
  dropBits(input);
  int32_t marker = input->pendingMarker;
  input->pendingMarker = 0;
  if (marker == 0) marker = nextMarker(input);
  return marker >= 0xD0 && marker <= 0xD7 ? JpegStatus::Ok : JpegStatus::BadRstMarker;
}

// Restart check after MCU `number` (1-based) of `total`.
JpegStatus checkRestart(ByteInput* input, ScanRecord* scan, int64_t number, int64_t total) {
  const int32_t interval = scan->restartInterval;
  if (interval == 0 || number % interval != 0 || number >= total) return JpegStatus::Ok;
  return takeRestartMarker(input, scan);
}

// Interrupt after MCU row `row`: the scan resumes at the next row; the region fields tell how far
// the pixels are.
bool takeInterrupt(JPEG_PROPERTIES* state, ScanRecord* scan, const CoefficientLayout& layout, int32_t row) {
  // Region reads do not stop: the region fields would give way to the progress.
  if (state->interruptRequest == 0 || row + 1 >= layout.mcuRows || regionRequested(state)) return false;
  // Once the scans render, the interpolating upsampler's output lags the decoding: the progress
  // shown is what has been stored, and the interrupt waits until something has.
  int32_t shownColumn = layout.mcusPerRow - 1;
  int32_t shownRow = row;
  if (renderingReady(*state) &&
      !lastStoredMcu(*state, shownColumn, row, layout.mcusPerRow, &shownColumn, &shownRow)) {
    return false;
  }
  scan->resumeColumn = 0;
  scan->resumeRow = row + 1;
  state->regionOfInterest[0] = state->regionOfInterest[2] = shownColumn;
  state->regionOfInterest[1] = state->regionOfInterest[3] = shownRow;
  state->regionIsProgress = 1;
  state->interruptRequest = 0;
  return true;
}

struct ScanContext {
  JPEG_PROPERTIES* state;
  ByteInput* input;
  ScanRecord* scan;
  CoefficientLayout layout;
  RenderPlan render;
  ScanPlan plan;
};

// DC scans of several components: MCU by MCU, every block of each scan component.
JpegStatus decodeInterleavedScan(ScanContext& context) {
  const CoefficientLayout& layout = context.layout;
  ScanRecord* scan = context.scan;
  const int64_t total = int64_t{layout.mcusPerRow} * layout.mcuRows;
  for (int32_t row = scan->resumeRow; row < layout.mcuRows; ++row) {
    for (int32_t column = 0; column < layout.mcusPerRow; ++column) {
      int16_t* mcu = context.state->coefficientBuffer +
                     layout.mcuIndex(column, row) * layout.blocksPerMcu * kBlockValues;
      for (int32_t i = 0; i < scan->componentCount; ++i) {
        const ScanComponent& component = scan->components[i];
        const int32_t c = component.componentIndex;
        int16_t* block = mcu + layout.firstBlock[c] * kBlockValues;
        for (int32_t b = 0; b < layout.h[c] * layout.v[c]; ++b, block += kBlockValues) {
          const int32_t status = decodeBlock(context.input, context.plan, component, &scan->lastDc[i], block);
          if (status < 0) return static_cast<JpegStatus>(status);
        }
      }
      const JpegStatus status =
          checkRestart(context.input, scan, int64_t{row} * layout.mcusPerRow + column + 1, total);
      if (status != JpegStatus::Ok) return status;
      if (renderingReady(*context.state)) renderMcu(context.state, layout, context.render, column, row);
    }
    if (takeInterrupt(context.state, scan, layout, row)) return JpegStatus::InterruptOk;
  }
  return JpegStatus::Ok;
}

// Scans of one component: its blocks inside the image in raster order, one block per MCU for the
// restart count; blocks beyond the image edge are not in the stream and keep their coefficients.
JpegStatus decodeSingleComponentScan(ScanContext& context) {
  const CoefficientLayout& layout = context.layout;
  ScanRecord* scan = context.scan;
  const ScanComponent& component = scan->components[0];
  const int32_t c = component.componentIndex;
  const int32_t h = layout.h[c];
  const int32_t v = layout.v[c];
  const int32_t columns = layout.blockColumns[c];
  const int64_t total = int64_t{columns} * layout.blockRows[c];
  for (int32_t row = scan->resumeRow; row < layout.mcuRows; ++row) {
    for (int32_t i = 0; i < v && row * v + i < layout.blockRows[c]; ++i) {
      const int32_t blockRow = row * v + i;
      for (int32_t x = 0; x < columns; ++x) {
        const int32_t mcuColumn = x / h;
        const size_t mcuStart = layout.mcuIndex(mcuColumn, row) * layout.blocksPerMcu;
        const size_t index = mcuStart + layout.firstBlock[c] + i * h + (x - mcuColumn * h);
        int16_t* block = context.state->coefficientBuffer + index * kBlockValues;
        const int32_t status = decodeBlock(context.input, context.plan, component, &scan->lastDc[0], block);
        if (status < 0) return static_cast<JpegStatus>(status);
        const JpegStatus restart =
            checkRestart(context.input, scan, int64_t{blockRow} * columns + x + 1, total);
        if (restart != JpegStatus::Ok) return restart;
      }
    }
    if (renderingReady(*context.state)) renderMcuRow(context.state, layout, context.render, row);
    if (takeInterrupt(context.state, scan, layout, row)) return JpegStatus::InterruptOk;
  }
  return JpegStatus::Ok;
}

// The buffer must be the one sized for this frame.
bool bufferMatchesFrame(const JPEG_PROPERTIES& state, const CoefficientLayout& layout) {
  return state.coefficientBuffer != nullptr &&
         static_cast<size_t>(state.coefficientBufferBlocks) == layout.totalBlocks();
}

}  // namespace

JpegStatus decodeProgressiveScan(JPEG_PROPERTIES* state, ByteInput* input, ScanRecord* scan, int32_t scale) {
  if (!layoutIsUsable(*state)) return JpegStatus::InternalError;
  ScanContext context{state, input, scan, describeLayout(*state), {}, planScan(*scan)};
  if (!bufferMatchesFrame(*state, context.layout)) return JpegStatus::InternalError;
  context.render = planRendering(*state, context.layout, scale);
  const JpegStatus status =
      scan->componentCount > 1 ? decodeInterleavedScan(context) : decodeSingleComponentScan(context);
  if (status == JpegStatus::Ok) {
    scan->resumeColumn = 0;
    scan->resumeRow = 0;
  }
  return status;
}

void finishProgressiveImage(JPEG_PROPERTIES* state) {
  if (state->progressive != 0 && state->blockPlanes != nullptr && layoutIsUsable(*state)) {
    fillPlanesFromCoefficients(*state, frameRegionRange(*state, scaleOfMode(state->ioMode)));
    return;
  }
  if (state->progressive == 0 || renderingReady(*state) || !layoutIsUsable(*state)) return;
  const CoefficientLayout layout = describeLayout(*state);
  const KernelTable* kernels = state->input.kernels;
  const int32_t scale = scaleOfMode(state->ioMode);
  // The scans of this read set the transforms and checked the store routine; guard anyway.
  if (!bufferMatchesFrame(*state, layout) || kernels->dequantize == nullptr || kernels->idctFull == nullptr ||
      (scale == 1 && kernels->storeMcu == nullptr)) {
    return;
  }
  const RenderPlan plan = planRendering(*state, layout, scale);
  for (int32_t row = 0; row < layout.mcuRows; ++row) renderMcuRow(state, layout, plan, row);
}
