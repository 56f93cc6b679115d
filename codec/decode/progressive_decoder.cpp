#include "codec/decode/progressive_decoder.h"

#include <cstddef>
#include <cstring>

#include "codec/decode/block_bits.h"
#include "codec/decode/block_planes.h"
#include "codec/decode/byte_input.h"
#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/huffman_decode_block.h"
#include "codec/decode/huffman_table.h"
#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_plan.h"
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

// --- bits -------------------------------------------------------------------------------------

// End-of-band run of 2^run blocks plus `run` more bits (bits cut off by a marker count as
// zeros). run <= 14 keeps the result within 32767. Ready or Failed.
BitsRead readEndOfBandRun(BlockBits& bits, int32_t run, int32_t* blocks) {
  uint32_t extra = 0;
  if (run > 0) {
    const BitsRead read = bits.fill(run);
    if (read == BitsRead::Failed) return read;
    if (read == BitsRead::Ready) extra = bits.take(run);
  }
  *blocks = (1 << run) + static_cast<int32_t>(extra);
  return BitsRead::Ready;
}

// 0 for a read that ended the block quietly at a marker, else the failure's status.
int32_t blockEndStatus(const BlockBits& bits, BitsRead read) {
  return read == BitsRead::Failed ? bits.error() : 0;
}

// A correction bit of 1 adds 2^al away from zero unless the coefficient has that bit already;
// without branches, as the bits are data.
int16_t corrected(int32_t value, uint32_t bit, int32_t al) {
  const int32_t add = static_cast<int32_t>(bit << al) & ~value;
  const int32_t sign = value >> 31;  // -1 below zero
  return static_cast<int16_t>(value + ((add ^ sign) - sign));
}

// Moves *position through positions up to se: nonzero coefficients passed over get their
// correction bit; stops on the (zeros + 1)-th coefficient that is still zero, or past se.
BitsRead passOverCoefficients(BlockBits& bits, int16_t* block, int32_t* position, int32_t se, int32_t zeros,
                              int32_t al) {
  int32_t k = *position;
  for (; k <= se; ++k) {
    int16_t* coefficient = block + kNaturalOrder[k];
    if (*coefficient != 0) {
      const BitsRead read = bits.fill(1);
      if (read != BitsRead::Ready) {
        *position = k;
        return read;
      }
      *coefficient = corrected(*coefficient, bits.takeBit(), al);
    } else if (--zeros < 0) {
      break;
    }
  }
  *position = k;
  return BitsRead::Ready;
}

// Inside an end-of-band run the rest of the band only receives correction bits.
BitsRead correctRestOfBand(BlockBits& bits, int16_t* block, int32_t k, int32_t se, int32_t al) {
  for (; k <= se; ++k) {
    int16_t* coefficient = block + kNaturalOrder[k];
    if (*coefficient == 0) continue;
    const BitsRead read = bits.fill(1);
    if (read != BitsRead::Ready) return read;
    *coefficient = corrected(*coefficient, bits.takeBit(), al);
  }
  return BitsRead::Ready;
}

}  // namespace

// --- block procedures -----------------------------------------------------------------------------

int32_t decodeDcFirst(ByteInput* input, const HuffmanTable* dcTable, int32_t* predictor, int32_t al,
                      int16_t* block) {
  std::memset(block, 0, kBlockBytes);
  BlockBits bits(input);
  int32_t difference = 0;
  // The code and its bits from the value lookahead when they fit; the run nibble is zero for
  // categories 1..15, a larger DC symbol takes the checked path.
  const uint32_t entry = bits.valueEntry(dcTable);
  if (entry != 0 && entryRun(entry) == 0) {
    difference = entryValue(entry);
  } else {
    if (entry != 0) bits.giveBack(entryBits(entry));
    int32_t category = 0;
    BitsRead read = bits.symbol(dcTable, &category);
    if (read != BitsRead::Ready) return blockEndStatus(bits, read);
    if (category > kMaxCategory) return static_cast<int32_t>(JpegStatus::DataError);
    if (category > 0) {
      read = bits.fill(category);
      if (read != BitsRead::Ready) return blockEndStatus(bits, read);
      difference = extendValue(bits.take(category), category);
    }
  }
  // Wraps like the 16-bit coefficient instead of overflowing on corrupt streams.
  *predictor = static_cast<int16_t>(static_cast<uint32_t>(*predictor) + static_cast<uint32_t>(difference));
  block[0] = static_cast<int16_t>(*predictor * (1 << al));
  return 0;
}

int32_t decodeDcRefine(ByteInput* input, int32_t al, int16_t* block) {
  BlockBits bits(input);
  const BitsRead read = bits.fill(1);
  if (read != BitsRead::Ready) return blockEndStatus(bits, read);
  block[0] = static_cast<int16_t>(block[0] | static_cast<int32_t>(bits.takeBit() << al));
  return 0;
}

int32_t decodeAcFirst(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se, int32_t al,
                      int16_t* block) {
  if (input->eobRun > 0) {
    --input->eobRun;
    return 0;
  }
  BlockBits bits(input);
  for (int32_t k = ss; k <= se; ++k) {
    // A code and its bits from the value lookahead when they fit.
    const uint32_t entry = bits.valueEntry(acTable);
    if (entry != 0) {
      k += entryRun(entry);
      if (k > se) return 0;  // a run past the band: nothing is stored outside it
      block[kNaturalOrder[k]] = static_cast<int16_t>(entryValue(entry) * (1 << al));
      continue;
    }
    int32_t symbol = 0;
    BitsRead read = bits.symbol(acTable, &symbol);
    if (read != BitsRead::Ready) return blockEndStatus(bits, read);
    const int32_t run = symbol >> 4;
    const int32_t category = symbol & 15;
    if (category == 0) {
      if (run == 15) {
        k += 15;
        continue;
      }
      int32_t blocks = 0;
      read = readEndOfBandRun(bits, run, &blocks);
      if (read != BitsRead::Ready) return blockEndStatus(bits, read);
      input->eobRun = blocks - 1;  // this block is the first of the run
      return 0;
    }
    k += run;
    read = bits.fill(category);
    if (read != BitsRead::Ready) return blockEndStatus(bits, read);
    const uint32_t raw = bits.take(category);
    if (k > se) return 0;  // a run past the band: nothing is stored outside it
    block[kNaturalOrder[k]] = static_cast<int16_t>(extendValue(raw, category) * (1 << al));
  }
  return 0;
}

int32_t decodeAcRefine(ByteInput* input, const HuffmanTable* acTable, int32_t ss, int32_t se, int32_t al,
                       int16_t* block) {
  const int32_t plus = 1 << al;
  BlockBits bits(input);
  int32_t k = ss;
  if (input->eobRun == 0) {
    for (; k <= se; ++k) {
      int32_t symbol = 0;
      BitsRead read = bits.symbol(acTable, &symbol);
      if (read != BitsRead::Ready) return blockEndStatus(bits, read);
      const int32_t run = symbol >> 4;
      const int32_t category = symbol & 15;
      int32_t value = 0;
      if (category != 0) {
        // A coefficient that becomes nonzero at this bit is +-2^al: one sign bit (categories
        // other than 1 are invalid here and read the same way).
        read = bits.fill(1);
        if (read != BitsRead::Ready) return blockEndStatus(bits, read);
        value = bits.takeBit() != 0 ? plus : -plus;
      } else if (run != 15) {
        int32_t blocks = 0;
        read = readEndOfBandRun(bits, run, &blocks);
        if (read != BitsRead::Ready) return blockEndStatus(bits, read);
        input->eobRun = blocks;  // the rest of this block is the run's first
        break;
      }
      read = passOverCoefficients(bits, block, &k, se, run, al);
      if (read != BitsRead::Ready) return blockEndStatus(bits, read);
      if (value != 0 && k <= se) block[kNaturalOrder[k]] = static_cast<int16_t>(value);
    }
  }
  if (input->eobRun > 0) {
    --input->eobRun;
    return blockEndStatus(bits, correctRestOfBand(bits, block, k, se, al));
  }
  return 0;
}

namespace {

// --- coefficient buffer geometry ------------------------------------------------------------------

bool layoutIsUsable(const JPEG_PROPERTIES& state) {
  return hasUsableFrame(state) && frameGeometry(state).componentCount == state.componentCount;
}

// The first progressive scan of a frame: a buffer of the frame's size, all coefficients zero
// (a second image on the record gets a buffer sized for it).
JpegStatus prepareCoefficientBuffer(JPEG_PROPERTIES* state) {
  if (!layoutIsUsable(*state)) return JpegStatus::InternalError;
  for (int32_t c = 0; c < state->componentCount; ++c) {
    const int32_t selector = state->components[c].quantSelector;
    if (selector < 0 || selector > 3) return JpegStatus::DataError;
  }
  const size_t blocks = frameGeometry(*state).coefficientBlocks();
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

bool renderingReady(const JPEG_PROPERTIES& state) {
  return state.finishedDcCount >= state.componentCount && state.finishedAcCount >= state.componentCount;
}

// Copies the MCU's coefficients into the MCU area, dequantises and transforms every block there
// (straight into the interpolating upsampler's ring where it takes them), and stores the MCU the
// way sequential scans do.
void renderMcu(JPEG_PROPERTIES* state, const FrameGeometry& frame, const ScanPlan& plan, int32_t column,
               int32_t row) {
  // Block planes are filled once the image is complete (finishProgressiveImage).
  if (state->blockPlanes != nullptr || !plan.frameRange.contains(column, row)) return;
  int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
  const int16_t* source =
      state->coefficientBuffer + frame.mcuIndex(column, row) * frame.blocksPerMcu * kBlockValues;
  std::memcpy(block, source, static_cast<size_t>(frame.blocksPerMcu) * kBlockBytes);
  if (transformMcuIntoRing(state, plan.render, plan.renderCount, plan.dequantize, column, row,
                           frame.mcusPerRow, frame.mcuRows, plan.scale)) {
    return;
  }
  for (int32_t i = 0; i < plan.renderCount; ++i, block += kBlockValues) {
    plan.dequantize(block, plan.render[i].quantValues);
    plan.render[i].inverseDct(block);
  }
  storeMcuUpsampledByRows(state, column, row, frame.mcusPerRow, frame.mcuRows, plan.scale);
}

void renderMcuRow(JPEG_PROPERTIES* state, const FrameGeometry& frame, const ScanPlan& plan, int32_t row) {
  for (int32_t column = 0; column < frame.mcusPerRow; ++column) renderMcu(state, frame, plan, column, row);
}

// --- the scan loop --------------------------------------------------------------------------------

int32_t decodeBlock(ByteInput* input, const ScanPlan& plan, const BlockStep& step, int32_t* predictor,
                    int16_t* block) {
  switch (plan.procedure) {
    case BlockProcedure::DcFirst:
      return decodeDcFirst(input, step.dcTable, predictor, plan.approxLow, block);
    case BlockProcedure::DcRefine:
      return decodeDcRefine(input, plan.approxLow, block);
    case BlockProcedure::AcFirst:
      return decodeAcFirst(input, step.acTable, plan.spectralStart, plan.spectralEnd, plan.approxLow, block);
    case BlockProcedure::AcRefine:
      return decodeAcRefine(input, step.acTable, plan.spectralStart, plan.spectralEnd, plan.approxLow, block);
    case BlockProcedure::Sequential:
      break;
  }
  return static_cast<int32_t>(JpegStatus::InternalError);
}

// Interrupt poll after frame MCU row `row`: the scan resumes at the next row; the region fields
// tell how far the pixels are.
bool interruptAfterRow(const ScanWalk& walk, const FrameGeometry& frame, int32_t row) {
  if (walk.plan->interrupt != InterruptPolicy::EveryMcuRow || row + 1 >= frame.mcuRows) return false;
  return takeInterrupt(
      walk.state, walk.scan,
      {frame.mcusPerRow - 1, row, frame.mcusPerRow, renderingReady(*walk.state), 0, row + 1});
}

// Scans of several components (DC scans): MCU by MCU over the frame's grid, every block of each
// scan component; each MCU rendered as soon as the image is ready.
struct InterleavedStage {
  ScanWalk walk;
  const FrameGeometry* frame;

  JpegStatus decode(int32_t column, int32_t row) {
    const ScanPlan& plan = *walk.plan;
    int16_t* mcu =
        walk.state->coefficientBuffer + frame->mcuIndex(column, row) * frame->blocksPerMcu * kBlockValues;
    for (int32_t i = 0; i < plan.blockCount; ++i) {
      const BlockStep& step = plan.blocks[i];
      int16_t* block = mcu + step.coefficientBlock * kBlockValues;
      const int32_t status =
          decodeBlock(walk.input, plan, step, &walk.scan->lastDc[step.scanComponent], block);
      if (status < 0) return static_cast<JpegStatus>(status);
    }
    return JpegStatus::Ok;
  }
  bool output(int32_t column, int32_t row, int64_t /*number*/) {
    if (renderingReady(*walk.state)) renderMcu(walk.state, *frame, *walk.plan, column, row);
    return false;
  }
  bool rowDone(int32_t row) { return interruptAfterRow(walk, *frame, row); }
};

// Scans of one component: its blocks inside the image in raster order, one block per MCU of the
// scan's grid; blocks beyond the image edge are not in the stream and keep their coefficients.
// Frame MCU rows are rendered once their last block row is in.
struct SingleComponentStage {
  ScanWalk walk;
  const FrameGeometry* frame;
  int32_t component;
  int32_t offsetRow = -1;  // block row that rowOffset is for
  size_t rowOffset = 0;    // buffer block of that row's first block

  // The component's blocks lie blocksPerMcu apart in the buffer, too far apart for the
  // processor to see the pattern: the block a few MCUs on is asked for ahead of its decoding.
  void prefetchAhead(size_t index) const {
    constexpr size_t kMcusAhead = 4;
    const size_t ahead = index + kMcusAhead * static_cast<size_t>(frame->blocksPerMcu);
    if (ahead >= static_cast<size_t>(walk.state->coefficientBufferBlocks)) return;
    const char* block = reinterpret_cast<const char*>(walk.state->coefficientBuffer + ahead * kBlockValues);
    __builtin_prefetch(block);
    __builtin_prefetch(block + kBlockBytes - 1);
  }

  JpegStatus decode(int32_t column, int32_t row) {
    const ComponentGeometry& g = frame->components[component];
    if (row != offsetRow) {
      offsetRow = row;
      rowOffset = frame->componentBlockIndex(component, 0, row);
    }
    // Along a row the component's blocks come h at a time per frame MCU, blocksPerMcu apart.
    const int32_t mcuColumn = column / g.h;
    const size_t index = rowOffset +
                         static_cast<size_t>(mcuColumn) * static_cast<size_t>(frame->blocksPerMcu) +
                         static_cast<size_t>(column - mcuColumn * g.h);
    prefetchAhead(index);
    const int32_t status = decodeBlock(walk.input, *walk.plan, walk.plan->blocks[0], &walk.scan->lastDc[0],
                                       walk.state->coefficientBuffer + index * kBlockValues);
    return status < 0 ? static_cast<JpegStatus>(status) : JpegStatus::Ok;
  }
  bool output(int32_t /*column*/, int32_t /*row*/, int64_t /*number*/) { return false; }
  bool rowDone(int32_t row) {
    const int32_t v = frame->components[component].v;
    if ((row + 1) % v != 0 && row + 1 != walk.plan->rows) return false;
    const int32_t frameRow = row / v;
    if (renderingReady(*walk.state)) renderMcuRow(walk.state, *frame, *walk.plan, frameRow);
    return interruptAfterRow(walk, *frame, frameRow);
  }
};

// The buffer must be the one sized for this frame.
bool bufferMatchesFrame(const JPEG_PROPERTIES& state, const FrameGeometry& frame) {
  return state.coefficientBuffer != nullptr &&
         static_cast<size_t>(state.coefficientBufferBlocks) == frame.coefficientBlocks();
}

}  // namespace

ScanResult decodeProgressiveScan(JPEG_PROPERTIES* state, const ScanPlan& plan) {
  if (!layoutIsUsable(*state)) return {JpegStatus::InternalError};
  const FrameGeometry& frame = frameGeometry(*state);
  if (!bufferMatchesFrame(*state, frame) || plan.blockCount < 1) return {JpegStatus::InternalError};
  ScanRecord* scan = state->scan;
  const ScanWalk walk = {state, &state->input, scan, &plan};
  ScanResult result;
  if (scan->componentCount > 1) {
    InterleavedStage stage{walk, &frame};
    result = walkMcus(walk, int64_t{scan->resumeRow} * plan.columns, plan.total, stage);
  } else {
    const int32_t component = scan->components[0].componentIndex;
    SingleComponentStage stage{walk, &frame, component};
    const int64_t firstRow = int64_t{scan->resumeRow} * frame.components[component].v;
    result = walkMcus(walk, firstRow * plan.columns, plan.total, stage);
  }
  if (result.error == JpegStatus::Ok && result.outcome == ScanOutcome::Finished) {
    scan->resumeColumn = 0;
    scan->resumeRow = 0;
  }
  return result;
}

void finishProgressiveImage(JPEG_PROPERTIES* state) {
  if (state->progressive != 0 && state->blockPlanes != nullptr && layoutIsUsable(*state)) {
    fillPlanesFromCoefficients(*state, frameRegionRange(*state, scaleOfMode(state->ioMode)));
    return;
  }
  if (state->progressive == 0 || renderingReady(*state) || !layoutIsUsable(*state)) return;
  const FrameGeometry& frame = frameGeometry(*state);
  const KernelTable* kernels = state->input.kernels;
  const int32_t scale = scaleOfMode(state->ioMode);
  // The scans of this read set the transforms and checked the store routine; guard anyway.
  if (!bufferMatchesFrame(*state, frame) || kernels->dequantize == nullptr || kernels->idctFull == nullptr ||
      (scale == 1 && kernels->storeMcu == nullptr)) {
    return;
  }
  ScanPlan plan;
  plan.scale = scale;
  plan.dequantize = kernels->dequantize;
  planRendering(*state, scale, &plan);
  for (int32_t row = 0; row < frame.mcuRows; ++row) renderMcuRow(state, frame, plan, row);
  storeHeldBackMcus(state);
}
