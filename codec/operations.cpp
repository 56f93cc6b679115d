// jpegInit, jpegRead and jpegFree.
#include <cstring>
#include <new>

#include "codec/decode/decode_driver.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/huffman_table.h"
#include "codec/decode/region_decoder.h"
#include "codec/decode/scan_plan.h"
#include "codec/dispatch.h"
#include "codec/file_io.h"
#include "codec/jpeg.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

void storePublicDefaults(JPEG_CODEC_PROPERTIES* p) {
  p->pixelChannels = 3;
  p->pixelColor = JpegColor::Bgr;
  p->jpegChannels = 3;
  p->jpegColor = JpegColor::YCbCr;
  p->jpegSubsampling = JpegSubsampling::H2V2;
  p->colorConversionNeeded = 1;
  p->samplingNeeded = 1;
  p->quality = 75;
}

void storeStateDefaults(JPEG_PROPERTIES* state) {
  state->ioMode = -1;
  state->dctVariant = 1;
  state->pixelChannels = 3;
  state->pixelColor = JpegColor::Bgr;
  state->jpegChannels = 3;
  state->jpegColor = JpegColor::YCbCr;
  state->jpegSubsampling = JpegSubsampling::H2V2;
  state->colorConversionNeeded = 1;
  state->samplingNeeded = 1;
  state->quality = 75;
  for (int32_t i = 0; i < 4; ++i) {
    state->quantTables[i].values = state->quantTables[i].storage;
    state->dcSelectors[i] = i == 0 ? 0 : 1;
    state->acSelectors[i] = i == 0 ? 0 : 1;
  }
  state->precision = 8;
  state->componentCount = 4;
  state->noFrameYet = 1;
  state->adobeVersion = 100;
  state->jfifVersion = 0x0101;
  state->xDensity = 1;
  state->yDensity = 1;
  state->lastScanStart = -1;
}

uint8_t* alignedScratch(JPEG_PROPERTIES* state) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(state->scratchStorage);
  return state->scratchStorage + ((32 - (address & 31)) & 31);
}

bool closeOpenFile(ByteInput* input) {
  if (input->file == 0) return true;
  const bool closed = fileClose(input->file);
  input->file = 0;
  return closed;
}

// Caller tables come as DQT and DHT segments carry them (quantisation steps in zig-zag order) and
// go through the same conversion as tables read from the stream: the table records hold the
// dequantiser's form, which the transforms read, whichever the source. The caller's own arrays are
// only read.
JpegStatus installSuppliedTables(JPEG_PROPERTIES* state) {
  if (state->quantTablesSupplied != 0) {
    for (int32_t i = 0; i < state->quantTableCount && i < 4; ++i) {
      const QuantSpec& descriptor = state->quantSpecs[i];
      if (descriptor.values == nullptr || descriptor.tableId < 0 || descriptor.tableId > 3) continue;
      QuantTable& table = state->quantTables[descriptor.tableId];
      table.tableId = descriptor.tableId;
      table.precision = 0;
      for (int32_t k = 0; k < 64; ++k) table.storage[k] = descriptor.values[k];
      table.dequantForm = prepareDequantTable(table.storage, state->dctVariant);
      state->definedQuantTables |= 1 << descriptor.tableId;
    }
  }
  if (state->huffmanTablesSupplied != 0) {
    for (int32_t i = 0; i < 2 * state->huffmanTableCount && i < 8; ++i) {
      const HuffmanSpec& descriptor = state->huffmanSpecs[i];
      if (descriptor.counts == nullptr || descriptor.values == nullptr) continue;
      if (descriptor.tableClass < 0 || descriptor.tableClass > 1 || descriptor.tableId < 0 ||
          descriptor.tableId > 3) {
        return JpegStatus::BadHuffmanTable;
      }
      HuffmanTable* table = descriptor.tableClass == 0 ? &state->dcTables[descriptor.tableId]
                                                       : &state->acTables[descriptor.tableId];
      if (deriveHuffmanTable(descriptor.counts, descriptor.values, descriptor.tableClass, descriptor.tableId,
                             table) != JpegStatus::Ok) {
        return JpegStatus::BadHuffmanTable;
      }
      state->definedHuffmanTables |= 1 << (descriptor.tableId + 4 * descriptor.tableClass);
    }
  }
  return JpegStatus::Ok;
}

void resetTableCounts(JPEG_PROPERTIES* state) {
  state->quantTablesRead = 0;
  state->quantTableCount = 0;
  state->acTablesRead = 0;
  state->dcTablesRead = 0;
  state->huffmanTableCount = 0;
}

// Image reads start from the tables the caller supplied, if any; the other reads count the
// tables of the stream afresh.
JpegStatus prepareTables(JPEG_PROPERTIES* state, int32_t mode) {
  if (isImageReadMode(mode)) return installSuppliedTables(state);
  resetTableCounts(state);
  return JpegStatus::Ok;
}

}  // namespace

void copyReadFields(const JPEG_CODEC_PROPERTIES* p, JPEG_PROPERTIES* state) {
  state->pixelWidth = p->pixelWidth;
  state->pixelHeight = p->pixelHeight;
  state->pixelPadBytes = p->pixelPadBytes;
  state->pixelChannels = p->pixelChannels;
  state->pixelColor = p->pixelColor;
  state->pixelSubsampling = p->pixelSubsampling;
  applyLineStride(state, p->pixelData, false);
  state->jpegFileName = p->jpegFileName;
  state->jpegBuffer = p->jpegBuffer;
  state->jpegBufferSize = p->jpegBufferSize;
  state->jpegColor = p->jpegColor;
  state->colorConversionNeeded = p->colorConversionNeeded;
  state->samplingNeeded = p->samplingNeeded;
  state->quality = p->quality;
}

namespace {

JpegStatus prepareInput(JPEG_PROPERTIES* state, int32_t mode) {
  ByteInput* input = &state->input;
  if (state->scan != nullptr) return JpegStatus::Ok;
  if (isFileMode(mode)) {
    if (static_cast<JpegIoMode>(mode) == JpegIoMode::FileReadThumbnail &&
        !fileSeek(input->file, 0, SeekOrigin::Start)) {
      return JpegStatus::FileError;
    }
    input->start = nullptr;
    input->size = 0;
  } else {
    input->start = state->jpegBuffer;
    input->size = static_cast<uint32_t>(state->jpegBufferSize);
  }
  return JpegStatus::Ok;
}

// Colour spaces that the stream decides once the read is complete.
void settleColors(JPEG_PROPERTIES* state, int32_t mode) {
  const int32_t count = state->componentCount;
  if (state->adobeSeen != 0) {
    if (isParametersMode(mode)) {
      state->pixelChannels = count;
      if (count == 1) {
        state->jpegColor = JpegColor::Gray;
      } else if (count == 3) {
        state->jpegColor = state->adobeTransform != 0 ? JpegColor::YCbCr : JpegColor::Rgb;
      } else if (count == 4) {
        state->jpegColor = state->adobeTransform != 0 ? JpegColor::Ycck : JpegColor::Cmyk;
        state->pixelColor = JpegColor::Cmyk;
      }
    }
  } else if (count == 1) {
    state->jpegColor = JpegColor::Gray;
  } else if (count == 3 && state->jfifSeen != 0) {
    state->jpegColor = JpegColor::YCbCr;
  }
  if (state->pixelColor == JpegColor::YCbCr && state->jpegColor == JpegColor::YCbCr)
    state->pixelSubsampling = 2;
}

bool factorsAre(const JpegComponent& component, int32_t h, int32_t v) {
  return component.horizontalFactor == h && component.verticalFactor == v;
}

JpegSubsampling subsamplingOfFrame(const JPEG_PROPERTIES* state) {
  const int32_t count = state->componentCount;
  const JpegComponent* c = state->components;
  if (count == 1) return JpegSubsampling::H1V1;
  if (count == 2)
    return factorsAre(c[0], 1, 1) && factorsAre(c[1], 1, 1) ? JpegSubsampling::H1V1 : JpegSubsampling::Other;
  if (count != 3 && count != 4) return JpegSubsampling::Other;
  if (!factorsAre(c[1], 1, 1) || !factorsAre(c[2], 1, 1)) return JpegSubsampling::Other;
  if (count == 4 && !factorsAre(c[3], c[0].horizontalFactor, c[0].verticalFactor))
    return JpegSubsampling::Other;
  if (factorsAre(c[0], 1, 1)) return JpegSubsampling::H1V1;
  if (factorsAre(c[0], 2, 2)) return count == 3 ? JpegSubsampling::H2V2 : JpegSubsampling::H2V2K;
  if (factorsAre(c[0], 2, 1)) return count == 3 ? JpegSubsampling::H2V1 : JpegSubsampling::H2V1K;
  return JpegSubsampling::Other;
}

// Leaves the file at the last SOS marker read, so that the next call reads on from there.
JpegStatus repositionFile(JPEG_PROPERTIES* state) {
  if (state->lastScanStart < 0) return JpegStatus::Ok;
  const int64_t position = state->inputBaseOffset + state->lastScanStart;
  if (!fileSeek(state->input.file, position, SeekOrigin::Start)) return JpegStatus::FileError;
  state->inputBaseOffset = position;
  return JpegStatus::Ok;
}

void copyResults(JPEG_CODEC_PROPERTIES* p, const JPEG_PROPERTIES* state) {
  p->jpegWidth = state->jpegWidth;
  p->jpegHeight = state->jpegHeight;
  p->jpegChannels = state->jpegChannels;
  p->thumbWidth = state->thumbWidth;
  p->thumbHeight = state->thumbHeight;
  p->colorConversionNeeded = state->colorConversionNeeded;
  p->samplingNeeded = state->samplingNeeded;
  p->jpegSubsampling = subsamplingOfFrame(state);
  p->jpegColor = state->jpegColor;
  p->pixelColor = state->pixelColor;
  p->pixelChannels = state->pixelChannels;
}

// File reads that leave the file open at the last SOS marker, for the next call to read on.
bool leavesFileAtScan(int32_t mode) {
  const JpegIoMode operation = operationOf(mode);
  return isFileMode(mode) && operation != JpegIoMode::FileReadImage &&
         operation != JpegIoMode::FileReadTables;
}

bool closesFileAfterRead(int32_t mode) {
  const JpegIoMode m = static_cast<JpegIoMode>(mode);
  return m == JpegIoMode::FileReadImage || m == JpegIoMode::FileReadTables ||
         m == JpegIoMode::FileReadImageNoTables;
}

// The end of a read that returned 0 or 1. An interrupted read turns the MCU reached into pixel
// extents. A finished one settles the colour spaces, leaves the input at the last SOS marker for
// the next call, copies the results to the caller's fields and closes the file of the modes that
// finish with it.
JpegStatus completeRead(JPEG_CODEC_PROPERTIES* p, int32_t mode, JpegStatus status) {
  JPEG_PROPERTIES* state = &p->state;
  if (status == JpegStatus::InterruptOk) {
    int32_t* region = state->regionOfInterest;
    const int64_t right = (int64_t{region[2]} * 8 + 8) * state->maxHorizontalFactor;
    const int64_t bottom = (int64_t{region[3]} * 8 + 8) * state->maxVerticalFactor;
    region[2] = static_cast<int32_t>(right < state->imageWidth ? right : state->imageWidth);
    region[3] = static_cast<int32_t>(bottom < state->imageHeight ? bottom : state->imageHeight);
    return status;
  }
  if (status != JpegStatus::Ok) return status;
  settleColors(state, mode);
  ByteInput* input = &state->input;
  if (input->file != 0 && leavesFileAtScan(mode)) {
    status = repositionFile(state);
    if (status != JpegStatus::Ok) return status;
  }
  if (!isFileMode(mode) && (isParametersMode(mode) || isThumbnailMode(mode))) {
    const int32_t headerSize = input->kernels->lastScanHeaderSize;
    if (input->current - input->start >= headerSize) input->start = input->current - headerSize;
  }
  copyResults(p, state);
  if (closesFileAfterRead(mode) && !closeOpenFile(input)) return JpegStatus::CloseFileError;
  return JpegStatus::Ok;
}

void dropScanInProgress(JPEG_PROPERTIES* state) {
  releaseScanRecord(state->scan);
  state->scan = nullptr;
  if (state->regionIsProgress != 0) {
    std::memset(state->regionOfInterest, 0, sizeof state->regionOfInterest);
    state->regionIsProgress = 0;
  }
}

// The mode decides where the bytes come from, not whatever an earlier call left open: a buffer
// read closes a file that an earlier file read left open, and a scan left in progress by a read
// from the other source is not resumed from this one (its position means nothing here).
JpegStatus selectByteSource(JPEG_PROPERTIES* state, int32_t mode) {
  ByteInput* input = &state->input;
  const bool fileOpen = input->file != 0;
  if (isFileMode(mode) == fileOpen) return JpegStatus::Ok;
  if (!fileOpen) {
    dropScanInProgress(state);  // left by a buffer read; the file is opened next
    return JpegStatus::Ok;
  }
  dropScanInProgress(state);
  return closeOpenFile(input) ? JpegStatus::Ok : JpegStatus::CloseFileError;
}

JpegStatus openInputFile(JPEG_PROPERTIES* state, const char* name) {
  ByteInput* input = &state->input;
  if (input->file != 0) return JpegStatus::Ok;
  input->file = fileOpen(name, FileAccess::Read);
  if (input->file == 0) return JpegStatus::InvalidFileName;
  state->inputBaseOffset = 0;
  return JpegStatus::Ok;
}

}  // namespace

JpegStatus jpegInit(JPEG_CODEC_PROPERTIES* properties) {
  if (properties == nullptr) return JpegStatus::InvalidProperties;
  std::memset(properties, 0, sizeof *properties);
  KernelTable* table = new (std::nothrow) KernelTable{};
  if (table == nullptr) return JpegStatus::MemoryError;
  loadSystemFunctions(table);
  const CpuClass cpuClass = detectCpuClass(table);
  setProcessServices();
  fillKernelTable(table, cpuClass);

  JPEG_PROPERTIES* state = &properties->state;
  state->components = new (std::nothrow) JpegComponent[4]{};
  state->frameGeometry = new (std::nothrow) FrameGeometry{};
  if (state->components == nullptr || state->frameGeometry == nullptr) {
    delete[] state->components;
    delete state->frameGeometry;
    state->components = nullptr;
    state->frameGeometry = nullptr;
    releaseSystemFunctions(table);
    delete table;
    return JpegStatus::MemoryError;
  }
  for (int32_t i = 0; i < 4; ++i) state->components[i].quantSelector = i == 0 ? 0 : 1;
  storePublicDefaults(properties);
  storeStateDefaults(state);
  state->input.kernels = table;
  state->input.cpuClass = static_cast<int32_t>(detectCpuClass(table));
  state->scratch = alignedScratch(state);
  return JpegStatus::Ok;
}

JpegStatus jpegRead(JPEG_CODEC_PROPERTIES* properties, JpegIoMode ioMode) {
  if (properties == nullptr || properties->state.input.kernels == nullptr)
    return JpegStatus::InvalidProperties;
  JPEG_PROPERTIES* state = &properties->state;
  const int32_t mode = static_cast<int32_t>(ioMode);
  state->ioMode = mode;
  if (properties->useStateAsIs == 0) {
    JpegStatus status = validateProperties(properties, mode);
    if (status == JpegStatus::Ok && !isReadMode(mode)) status = JpegStatus::InvalidProperties;
    if (status != JpegStatus::Ok) return status;
  } else if (!isReadMode(mode)) {
    return JpegStatus::InvalidProperties;
  }

  if (isHeaderOnlyMode(mode)) state->noFrameYet = 1;
  JpegStatus status = selectByteSource(state, mode);
  if (status == JpegStatus::Ok) status = prepareTables(state, mode);
  if (status == JpegStatus::Ok && isFileMode(mode)) {
    const char* name = properties->useStateAsIs != 0 ? state->jpegFileName : properties->jpegFileName;
    status = openInputFile(state, name);
  }
  if (status == JpegStatus::Ok) {
    if (properties->useStateAsIs == 0) copyReadFields(properties, state);
    status = prepareInput(state, mode);
  }
  if (status == JpegStatus::Ok) {
    if (static_cast<JpegIoMode>(mode) == JpegIoMode::FileReadThumbnail) state->inputBaseOffset = 0;
    state->input.currentRow = state->pixelData;
    state->scratch = alignedScratch(state);
    if (state->scan != nullptr && state->regionIsProgress != 0) {
      std::memset(state->regionOfInterest, 0, sizeof state->regionOfInterest);
      state->regionIsProgress = 0;
    }
    status = completeRead(properties, mode, runDecoder(state));
    // Images read to their end report a region read as done like those that stop after it.
    if (status == JpegStatus::Ok && isImageReadMode(mode) && regionRequested(state))
      status = JpegStatus::RoiOk;
  }

  state->input.kernels->finishKernels();
  if (static_cast<int32_t>(status) < 0) closeOpenFile(&state->input);
  return status;
}

JpegStatus jpegFree(JPEG_CODEC_PROPERTIES* properties) {
  if (properties == nullptr) return JpegStatus::InvalidProperties;
  JPEG_PROPERTIES* state = &properties->state;
  KernelTable* table = state->input.kernels;
  JpegStatus status = JpegStatus::Ok;
  if (!closeOpenFile(&state->input)) {
    status = JpegStatus::CloseFileError;
  } else {
    for (int16_t*& reference : state->encoderQuantTables) reference = nullptr;
    if (state->componentCount < 256) {
      delete[] state->components;
      state->components = nullptr;
      state->componentCount = 0;
      delete state->frameGeometry;
      state->frameGeometry = nullptr;
      releaseBlocks(state->coefficientBuffer);
      state->coefficientBuffer = nullptr;
      state->coefficientBufferBlocks = 0;
      releaseBlocks(state->upsamplingRows);
      state->upsamplingRows = nullptr;
      releaseScanRecord(state->scan);
      state->scan = nullptr;
      releaseRestartIndex(state);
      std::memset(state->quantSpecs, 0, sizeof state->quantSpecs);
      std::memset(state->huffmanSpecs, 0, sizeof state->huffmanSpecs);
      state->quantTablesSupplied = 0;
      state->huffmanTablesSupplied = 0;
      resetTableCounts(state);
    } else {
      status = JpegStatus::InvalidProperties;
    }
  }
  if (table != nullptr) {
    releaseSystemFunctions(table);
    delete table;
    state->input.kernels = nullptr;
  }
  return status;
}
