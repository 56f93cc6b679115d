#include "codec/encode/progressive_encoder.h"

#include <cstring>
#include <new>

#include "codec/encode/color_convert_encode.h"
#include "codec/encode/encode_baseline.h"
#include "codec/encode/huffman_encode.h"
#include "codec/encode/marker_writer.h"
#include "codec/encode/optimal_huffman.h"
#include "codec/encode/output_writer.h"
#include "codec/encode/progressive_scan.h"
#include "codec/kernel_table.h"
#include "codec/record_memory.h"

namespace {

constexpr int32_t kMaxComponents = 4;
constexpr int32_t kMaxMcuBlocks = 10;
constexpr int32_t kTableCount = 4;

// --- scan scripts -----------------------------------------------------------------------------

constexpr uint8_t kAllComponents = 0xFF;

struct ScanStep {
  uint8_t component;  // frame index, or kAllComponents for a DC scan over every component
  uint8_t spectralStart;
  uint8_t spectralEnd;
  uint8_t approxHigh;
  uint8_t approxLow;
};

// Grey and the colour spaces with a luma component send the DC and the first luma AC bands
// at reduced precision early; the others send spectral bands without approximation.
constexpr ScanStep kGrayScript[] = {
    {kAllComponents, 0, 0, 0, 1}, {0, 1, 5, 0, 2}, {0, 6, 63, 0, 2}, {0, 1, 63, 2, 1},
    {kAllComponents, 0, 0, 1, 0}, {0, 1, 63, 1, 0}};
constexpr ScanStep kTwoComponentScript[] = {
    {kAllComponents, 0, 0, 0, 0}, {0, 1, 5, 0, 0}, {1, 1, 5, 0, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0}};
constexpr ScanStep kYCbCrScript[] = {{kAllComponents, 0, 0, 0, 1},
                                     {0, 1, 5, 0, 2},
                                     {2, 1, 63, 0, 1},
                                     {1, 1, 63, 0, 1},
                                     {0, 6, 63, 0, 2},
                                     {0, 1, 63, 2, 1},
                                     {kAllComponents, 0, 0, 1, 0},
                                     {2, 1, 63, 1, 0},
                                     {1, 1, 63, 1, 0},
                                     {0, 1, 63, 1, 0}};
constexpr ScanStep kThreeComponentScript[] = {
    {kAllComponents, 0, 0, 0, 1}, {0, 1, 5, 0, 0},  {1, 1, 5, 0, 0},  {2, 1, 5, 0, 0},
    {kAllComponents, 0, 0, 1, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0}, {2, 6, 63, 0, 0}};
constexpr ScanStep kYcckScript[] = {{kAllComponents, 0, 0, 0, 1},
                                    {0, 1, 5, 0, 2},
                                    {2, 1, 63, 0, 1},
                                    {1, 1, 63, 0, 1},
                                    {3, 1, 63, 0, 0},
                                    {0, 6, 63, 0, 2},
                                    {0, 1, 63, 2, 1},
                                    {kAllComponents, 0, 0, 1, 0},
                                    {2, 1, 63, 1, 0},
                                    {1, 1, 63, 1, 0},
                                    {0, 1, 63, 1, 0}};
constexpr ScanStep kFourComponentScript[] = {
    {kAllComponents, 0, 0, 0, 1}, {0, 1, 5, 0, 0},  {1, 1, 5, 0, 0},  {2, 1, 5, 0, 0},  {3, 1, 5, 0, 0},
    {kAllComponents, 0, 0, 1, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0}, {2, 6, 63, 0, 0}, {3, 6, 63, 0, 0}};

struct Script {
  const ScanStep* steps;
  int32_t count;
};

template <size_t N>
constexpr Script scriptOf(const ScanStep (&steps)[N]) {
  return {steps, static_cast<int32_t>(N)};
}

Script scriptFor(int32_t channels, JpegColor color) {
  const bool other = color == JpegColor::Other;
  switch (channels) {
    case 1:
      if (color == JpegColor::Gray) return scriptOf(kGrayScript);
      break;
    case 2:
      if (other) return scriptOf(kTwoComponentScript);
      break;
    case 3:
      if (color == JpegColor::YCbCr) return scriptOf(kYCbCrScript);
      if (color == JpegColor::Rgb || other) return scriptOf(kThreeComponentScript);
      break;
    case 4:
      if (color == JpegColor::Ycck) return scriptOf(kYcckScript);
      if (color == JpegColor::Cmyk || other) return scriptOf(kFourComponentScript);
      break;
    default:
      break;
  }
  return {nullptr, 0};
}

void fillScanRecord(const JPEG_PROPERTIES* state, const ScanStep& step, ScanComponent* components,
                    ScanRecord* scan) {
  scan->components = components;
  scan->spectralStart = step.spectralStart;
  scan->spectralEnd = step.spectralEnd;
  scan->approxHigh = step.approxHigh;
  scan->approxLow = step.approxLow;
  scan->componentCount = step.component == kAllComponents ? state->componentCount : 1;
  for (int32_t j = 0; j < scan->componentCount; ++j) {
    const int32_t index = step.component == kAllComponents ? j : step.component;
    components[j].componentIndex = index;
    components[j].horizontalFactor = state->components[index].horizontalFactor;
    components[j].verticalFactor = state->components[index].verticalFactor;
  }
}

// --- the frame --------------------------------------------------------------------------------

int32_t blocksPerMcu(const JPEG_PROPERTIES* state) {
  int32_t blocks = 0;
  for (int32_t c = 0; c < state->componentCount; ++c) {
    blocks += state->components[c].horizontalFactor * state->components[c].verticalFactor;
  }
  return blocks;
}

bool isTableId(int32_t id) {
  return id >= 0 && id < kTableCount;
}

// What the scans rely on: a frame the MCU scratch area holds, and table selectors naming one
// of the four tables of each class.
JpegStatus checkFrame(const JPEG_PROPERTIES* state) {
  if (state->componentCount < 1 || state->componentCount > kMaxComponents) return JpegStatus::ComponentError;
  if (blocksPerMcu(state) > kMaxMcuBlocks) return JpegStatus::InvalidProperties;
  for (int32_t c = 0; c < state->componentCount; ++c) {
    if (!isTableId(state->dcSelectors[c]) || !isTableId(state->acSelectors[c]))
      return JpegStatus::NoHuffmanTable;
  }
  return JpegStatus::Ok;
}

// A buffer left by an earlier image on the record is kept when it has the frame's size (every
// block is overwritten) and released before a new one is made otherwise.
JpegStatus allocateCoefficientBuffer(JPEG_PROPERTIES* state) {
  const size_t blocks = static_cast<size_t>(blocksPerMcu(state)) * static_cast<size_t>(state->mcusPerRow) *
                        static_cast<size_t>(state->mcuRows);
  if (state->coefficientBuffer != nullptr && static_cast<size_t>(state->coefficientBufferBlocks) == blocks) {
    return JpegStatus::Ok;
  }
  releaseBlocks(state->coefficientBuffer);
  state->coefficientBuffer = nullptr;
  state->coefficientBufferBlocks = 0;
  int16_t* buffer = allocateBlocks(blocks);
  if (buffer == nullptr) return JpegStatus::MemoryError;
  state->coefficientBuffer = buffer;
  // allocateBlocks keeps a buffer below 2^30 bytes, so the count fits.
  state->coefficientBufferBlocks = static_cast<int32_t>(blocks);
  return JpegStatus::Ok;
}

JpegStatus writeFrameHeaders(JPEG_PROPERTIES* state) {
  ByteInput* writer = &state->input;
  JpegStatus status = writeFrameHeader(writer, state, markers::kSof2, 0);
  if (status == JpegStatus::Ok && state->restartInterval != 0)
    status = writeDri(writer, state->restartInterval);
  if (status == JpegStatus::Ok && state->blockPlanes == nullptr) status = chooseMcuConverter(state);
  return status;
}

// --- per-scan tables --------------------------------------------------------------------------

// Builds the optimal table of `frequencies`, derives it into the encoding table of its class
// and identifier, and writes its DHT.
JpegStatus writeOptimalTable(JPEG_PROPERTIES* state, int32_t tableClass, int32_t id,
                             const uint32_t* frequencies, HuffmanTable** derived) {
  uint8_t counts[16];
  uint8_t symbols[256];
  buildOptimalTable(frequencies, counts, symbols);
  HuffmanTable* table = tableClass == 0 ? &state->dcTables[id] : &state->acTables[id];
  JpegStatus status = deriveEncodingTable(counts, symbols, table);
  if (status != JpegStatus::Ok) return status;
  table->tableClass = tableClass;
  table->tableId = id;
  (tableClass == 0 ? state->encoderDcTables : state->encoderAcTables)[id] = table;
  *derived = table;
  return writeDhtTable(&state->input, tableClass, id, counts, symbols);
}

// First DC scans: one table per DC selector in use, lowest identifier first. AC scans: the
// table of the component's AC selector. DC refinement scans carry raw bits only.
JpegStatus writeScanTables(JPEG_PROPERTIES* state, const CoefficientLayout& layout, ScanRecord* scan,
                           SymbolFrequencies* frequencies, ScanRecording* recording) {
  const bool dc = scan->spectralStart == 0 && scan->spectralEnd == 0;
  recording->abandon();
  if (dc && scan->approxHigh != 0) return JpegStatus::Ok;
  std::memset(frequencies, 0, sizeof *frequencies);
  countScanSymbols(state, layout, scan, frequencies, recording);
  if (!dc) {
    ScanComponent& component = scan->components[0];
    const int32_t id = state->acSelectors[component.componentIndex];
    return writeOptimalTable(state, 1, id, frequencies->table[id], &component.acTable);
  }
  for (int32_t id = 0; id < kTableCount; ++id) {
    HuffmanTable* table = nullptr;
    for (int32_t j = 0; j < scan->componentCount; ++j) {
      ScanComponent& component = scan->components[j];
      if (state->dcSelectors[component.componentIndex] != id) continue;
      if (table == nullptr) {
        const JpegStatus status = writeOptimalTable(state, 0, id, frequencies->table[id], &table);
        if (status != JpegStatus::Ok) return status;
      }
      component.dcTable = table;
    }
  }
  return JpegStatus::Ok;
}

JpegStatus writeScans(JPEG_PROPERTIES* state) {
  const CoefficientLayout layout = coefficientLayout(state, state->coefficientBuffer);
  SymbolFrequencies frequencies;
  CorrectionBits correction;
  ByteInput* writer = &state->input;
  ScanRecording recording;
  for (int32_t i = 0; i < state->scanScriptCount; ++i) {
    ScanRecord* scan = &state->scanScript[i];
    JpegStatus status = writeScanTables(state, layout, scan, &frequencies, &recording);
    if (status == JpegStatus::Ok) status = writeSosProgressive(writer, state, scan);
    if (status == JpegStatus::Ok) status = encodeScan(writer, layout, scan, &correction, &recording);
    if (status != JpegStatus::Ok) return status;
  }
  return JpegStatus::Ok;
}

const int16_t* quantTableOf(const JPEG_PROPERTIES* state, int32_t component) {
  const int32_t selector = state->components[component].quantSelector;
  return selector >= 0 && selector < kMaxComponents ? state->encoderQuantTables[selector] : nullptr;
}

// Transform and quantisation of one MCU's blocks in the scratch area.
void transformMcu(const JPEG_PROPERTIES* state, const int16_t* const* quantTables, int16_t* block) {
  KernelTable* kernels = state->input.kernels;
  for (int32_t c = 0; c < state->componentCount; ++c) {
    const int32_t blocks = state->components[c].horizontalFactor * state->components[c].verticalFactor;
    for (int32_t b = 0; b < blocks; ++b, block += 64) {
      kernels->forwardDct(block);
      kernels->quantize(block, quantTables[c]);
    }
  }
}

}  // namespace

JpegStatus buildScanScript(JPEG_PROPERTIES* state) {
  releaseScanScript(state);
  const Script script = scriptFor(state->jpegChannels, state->jpegColor);
  if (script.count == 0 || state->componentCount != state->jpegChannels) return JpegStatus::InvalidProperties;
  const size_t count = static_cast<size_t>(script.count);
  ScanRecord* records = new (std::nothrow) ScanRecord[count]{};
  ScanComponent* components = new (std::nothrow) ScanComponent[count * kMaxComponents]{};
  if (records == nullptr || components == nullptr) {
    delete[] records;
    delete[] components;
    return JpegStatus::MemoryError;
  }
  for (size_t i = 0; i < count; ++i) {
    fillScanRecord(state, script.steps[i], components + i * kMaxComponents, &records[i]);
  }
  state->scanScript = records;
  state->scanScriptCount = script.count;
  return JpegStatus::Ok;
}

void releaseScanScript(JPEG_PROPERTIES* state) {
  if (state->scanScript != nullptr) {
    delete[] state->scanScript[0].components;
    delete[] state->scanScript;
  }
  state->scanScript = nullptr;
  state->scanScriptCount = 0;
}

JpegStatus gatherCoefficients(JPEG_PROPERTIES* state) {
  const int16_t* quantTables[kMaxComponents] = {};
  for (int32_t c = 0; c < state->componentCount; ++c) quantTables[c] = quantTableOf(state, c);
  const size_t mcuValues = static_cast<size_t>(blocksPerMcu(state)) * 64;
  int16_t* scratch = reinterpret_cast<int16_t*>(state->scratch);
  int16_t* out = state->coefficientBuffer;
  JpegStatus status = JpegStatus::Ok;
  for (int32_t row = 0; row < state->mcuRows && status == JpegStatus::Ok; ++row) {
    for (int32_t column = 0; column < state->mcusPerRow && status == JpegStatus::Ok;
         ++column, out += mcuValues) {
      bool coefficients = false;
      status = fillMcuBlocks(state, column, row, &coefficients);
      if (status != JpegStatus::Ok) break;
      if (!coefficients) {
        for (int32_t c = 0; c < state->componentCount; ++c) {
          if (quantTables[c] == nullptr) status = JpegStatus::NoQuantTable;
        }
        if (status != JpegStatus::Ok) break;
        transformMcu(state, quantTables, scratch);
      }
      storeZigzagBlocks(scratch, static_cast<int32_t>(mcuValues / 64), out);
    }
  }
  state->input.kernels->finishKernels();
  return status;
}

JpegStatus writeSosProgressive(ByteInput* writer, const JPEG_PROPERTIES* state, const ScanRecord* scan) {
  uint8_t segment[8 + 2 * kMaxComponents];
  const int32_t count = scan->componentCount;
  int32_t size = 0;
  segment[size++] = 0xFF;
  segment[size++] = markers::kSos;
  segment[size++] = 0;
  segment[size++] = static_cast<uint8_t>(6 + 2 * count);
  segment[size++] = static_cast<uint8_t>(count);
  for (int32_t j = 0; j < count; ++j) {
    const int32_t index = scan->components[j].componentIndex;
    segment[size++] = static_cast<uint8_t>(index);
    segment[size++] = static_cast<uint8_t>(state->dcSelectors[index] * 16 + state->acSelectors[index]);
  }
  segment[size++] = static_cast<uint8_t>(scan->spectralStart);
  segment[size++] = static_cast<uint8_t>(scan->spectralEnd);
  segment[size++] = static_cast<uint8_t>(scan->approxHigh * 16 + scan->approxLow);
  return static_cast<JpegStatus>(writer->kernels->putBytes(segment, size, writer));
}

JpegStatus encodeProgressive(JPEG_PROPERTIES* state) {
  ByteInput* writer = &state->input;
  JpegStatus status = checkFrame(state);
  if (status == JpegStatus::Ok) status = allocateCoefficientBuffer(state);
  if (status == JpegStatus::Ok) status = buildScanScript(state);
  if (status == JpegStatus::Ok) status = writeFrameHeaders(state);
  if (status == JpegStatus::Ok) status = gatherCoefficients(state);
  if (status == JpegStatus::Ok) status = writeScans(state);
  if (status == JpegStatus::Ok) status = writeEoi(writer);
  if (status == JpegStatus::Ok) status = flushOutput(writer);
  releaseScanScript(state);
  return status;
}
