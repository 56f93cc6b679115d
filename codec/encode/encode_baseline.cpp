#include "codec/encode/encode_baseline.h"

#include "codec/encode/color_convert_encode.h"
#include "codec/encode/marker_writer.h"
#include "codec/encode/output_writer.h"
#include "codec/kernel_table.h"
#include "codec/record_memory.h"

namespace {

constexpr int32_t kMaxScanComponents = 4;
constexpr int32_t kMaxMcuBlocks = 10;
// Baseline limits: DC differences of category 11 and AC values of category 10 at most.
constexpr int32_t kMaxDcCoefficient = 1023;
constexpr int32_t kMaxAcCoefficient = 1023;

int16_t clampTo(int32_t value, int32_t low, int32_t high) {
  return static_cast<int16_t>(value < low ? low : value > high ? high : value);
}

// What the MCU loop needs of each scan component, resolved once per call.
struct ComponentCoding {
  int32_t blocks;
  const HuffmanTable* dcTable;
  const HuffmanTable* acTable;
  const int16_t* quantTable;
};

// The same per block of the MCU, in scratch order.
struct McuCoding {
  int32_t blocks;
  const int16_t* quantTables[kMaxMcuBlocks];
  McuBlockCoding coding[kMaxMcuBlocks];
};

void spreadOverBlocks(const ComponentCoding* components, int32_t componentCount, ScanRecord* scan,
                      McuCoding* mcu) {
  mcu->blocks = 0;
  for (int32_t j = 0; j < componentCount; ++j) {
    for (int32_t b = 0; b < components[j].blocks; ++b, ++mcu->blocks) {
      mcu->quantTables[mcu->blocks] = components[j].quantTable;
      mcu->coding[mcu->blocks] = {components[j].dcTable, components[j].acTable, &scan->lastDc[j]};
    }
  }
}

template <typename T>
T* tableAt(T* const* tables, int32_t selector) {
  return selector >= 0 && selector < 4 ? tables[selector] : nullptr;
}

JpegStatus resolveComponents(const JPEG_PROPERTIES* state, const ScanRecord* scan,
                             ComponentCoding (&coding)[kMaxScanComponents]) {
  int32_t totalBlocks = 0;
  for (int32_t j = 0; j < scan->componentCount; ++j) {
    const ScanComponent& component = scan->components[j];
    const int32_t index = component.componentIndex;
    ComponentCoding& c = coding[j];
    c.blocks = component.horizontalFactor * component.verticalFactor;
    c.dcTable = tableAt(state->encoderDcTables, state->dcSelectors[index]);
    c.acTable = tableAt(state->encoderAcTables, state->acSelectors[index]);
    if (c.dcTable == nullptr || c.acTable == nullptr) return JpegStatus::NoHuffmanTable;
    c.quantTable = tableAt(state->encoderQuantTables, state->components[index].quantSelector);
    if (c.quantTable == nullptr) return JpegStatus::NoQuantTable;
    totalBlocks += c.blocks;
  }
  return totalBlocks <= kMaxMcuBlocks ? JpegStatus::Ok : JpegStatus::InvalidProperties;
}

void copyFromPlanes(const JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  const JpegBlockPlanes* planes = state->blockPlanes;
  const bool samples = planes->mode != 0;
  int16_t* out = reinterpret_cast<int16_t*>(state->scratch);
  for (int32_t c = 0; c < state->componentCount; ++c) {
    const JpegComponent& component = state->components[c];
    const int32_t h = component.horizontalFactor;
    const int32_t v = component.verticalFactor;
    const ptrdiff_t width = static_cast<ptrdiff_t>(state->mcusPerRow) * h * 8;
    for (int32_t y = 0; y < v; ++y) {
      for (int32_t x = 0; x < h; ++x, out += 64) {
        const int16_t* first = planes->planes[c] + (static_cast<ptrdiff_t>(row) * v + y) * 8 * width +
                               (static_cast<ptrdiff_t>(column) * h + x) * 8;
        for (int32_t j = 0; j < 8; ++j) {
          for (int32_t i = 0; i < 8; ++i) {
            const int32_t value = first[j * width + i];
            out[j * 8 + i] = samples        ? static_cast<int16_t>(clampTo(value, 0, 255) - 128)
                             : (j | i) == 0 ? clampTo(value, -kMaxDcCoefficient - 1, kMaxDcCoefficient)
                                            : clampTo(value, -kMaxAcCoefficient, kMaxAcCoefficient);
          }
        }
      }
    }
  }
}

// Writes RSTn after every restartInterval MCUs; n cycles 0..7 and the counter wraps with it.
JpegStatus countRestart(JPEG_PROPERTIES* state, ByteInput* writer, ScanRecord* scan) {
  ++scan->restartCounter;
  if (scan->restartCounter % state->restartInterval != 0) return JpegStatus::Ok;
  const int32_t n = (scan->restartCounter / state->restartInterval - 1) % 8;
  if (n == 7) scan->restartCounter = 0;
  const JpegStatus status = writeRst(writer, n);
  for (int32_t& dc : scan->lastDc) dc = 0;
  return status;
}

template <bool Restarts>
JpegStatus encodeMcuLoop(JPEG_PROPERTIES* state, ByteInput* writer, ScanRecord* scan) {
  KernelTable* kernels = writer->kernels;
  ComponentCoding coding[kMaxScanComponents] = {};
  JpegStatus status = resolveComponents(state, scan, coding);
  if (status != JpegStatus::Ok) {
    kernels->finishKernels();
    return status;
  }
  McuCoding mcu;
  spreadOverBlocks(coding, scan->componentCount, scan, &mcu);
  int16_t* scratch = reinterpret_cast<int16_t*>(state->scratch);
  int32_t column = scan->resumeColumn;
  for (int32_t row = scan->resumeRow; row < state->mcuRows; ++row, column = 0) {
    for (; column < state->mcusPerRow; ++column) {
      bool coefficients = false;
      status = fillMcuBlocks(state, column, row, &coefficients);
      if (status == JpegStatus::Ok && !coefficients) {
        for (int32_t b = 0; b < mcu.blocks; ++b) {
          kernels->forwardDct(scratch + 64 * b);
          kernels->quantize(scratch + 64 * b, mcu.quantTables[b]);
        }
      }
      if (status == JpegStatus::Ok)
        status = static_cast<JpegStatus>(kernels->encodeMcuBlocks(writer, mcu.coding, mcu.blocks, scratch));
      if (Restarts && status == JpegStatus::Ok) status = countRestart(state, writer, scan);
      if (status != JpegStatus::Ok) {
        kernels->finishKernels();
        return status;
      }
      if (state->interruptRequest != 0) {
        state->regionOfInterest[2] = column;
        state->regionOfInterest[3] = row;
        scan->resumeColumn = (column + 1) % state->mcusPerRow;
        scan->resumeRow = scan->resumeColumn == 0 ? row + 1 : row;
        kernels->finishKernels();
        return JpegStatus::InterruptOk;
      }
    }
  }
  kernels->finishKernels();
  return JpegStatus::Ok;
}

ScanRecord* newBaselineScan(const JPEG_PROPERTIES* state) {
  ScanRecord* scan = allocateScanRecord(state->jpegChannels);
  if (scan == nullptr) return nullptr;
  scan->spectralEnd = 63;
  for (int32_t i = 0; i < scan->componentCount; ++i) {
    scan->components[i].componentIndex = i;
    scan->components[i].horizontalFactor = state->components[i].horizontalFactor;
    scan->components[i].verticalFactor = state->components[i].verticalFactor;
  }
  return scan;
}

JpegStatus writeScanHeaders(JPEG_PROPERTIES* state, ByteInput* writer, const ScanRecord* scan) {
  JpegStatus status = writeSof0(writer, state);
  if (status == JpegStatus::Ok && state->restartInterval != 0)
    status = writeDri(writer, state->restartInterval);
  if (status == JpegStatus::Ok) status = writeSosBaseline(writer, state, scan);
  if (status == JpegStatus::Ok) status = flushOutput(writer);
  return status;
}

void dropScan(JPEG_PROPERTIES* state) {
  releaseScanRecord(state->scan);
  state->scan = nullptr;
}

}  // namespace

JpegStatus fillMcuBlocks(JPEG_PROPERTIES* state, int32_t column, int32_t row, bool* coefficients) {
  if (state->blockPlanes != nullptr) {
    *coefficients = state->blockPlanes->mode == 0;
    copyFromPlanes(state, column, row);
    return JpegStatus::Ok;
  }
  *coefficients = false;
  return static_cast<JpegStatus>(state->input.kernels->convertMcu(state, column, row));
}

JpegStatus encodeMcus(JPEG_PROPERTIES* state, ByteInput* writer, ScanRecord* scan) {
  return encodeMcuLoop<false>(state, writer, scan);
}

JpegStatus encodeMcusWithRestarts(JPEG_PROPERTIES* state, ByteInput* writer, ScanRecord* scan) {
  return encodeMcuLoop<true>(state, writer, scan);
}

JpegStatus encodeBaseline(JPEG_PROPERTIES* state) {
  ByteInput* writer = &state->input;
  JpegStatus status = JpegStatus::Ok;
  if (state->scan == nullptr) {
    state->scan = newBaselineScan(state);
    if (state->scan == nullptr) return JpegStatus::MemoryError;
    status = writeScanHeaders(state, writer, state->scan);
  }
  // Chosen again on a resumed write too: the slot may have been rewritten in between.
  if (status == JpegStatus::Ok && state->blockPlanes == nullptr) status = chooseMcuConverter(state);
  if (status == JpegStatus::Ok) {
    status = state->restartInterval != 0 ? encodeMcusWithRestarts(state, writer, state->scan)
                                         : encodeMcus(state, writer, state->scan);
  }
  if (status == JpegStatus::InterruptOk) {
    state->interruptRequest = 0;
    return status;
  }
  dropScan(state);
  if (status != JpegStatus::Ok) return status;
  status = writeEoi(writer);
  if (status == JpegStatus::Ok) status = flushOutput(writer);
  return status;
}
