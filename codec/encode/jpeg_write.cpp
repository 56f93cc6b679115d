#include "codec/encode/jpeg_write.h"

#include <cstdint>
#include <limits>

#include "codec/encode/encode_baseline.h"
#include "codec/encode/encoder_tables.h"
#include "codec/encode/huffman_encode.h"
#include "codec/encode/marker_writer.h"
#include "codec/encode/output_writer.h"
#include "codec/encode/progressive_encoder.h"
#include "codec/file_io.h"
#include "codec/kernel_table.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

constexpr int32_t kMaxComponents = 4;
constexpr int32_t kMaxRestartInterval = 65535;
constexpr int32_t kMaxDimension = 65535;
constexpr uintptr_t kScratchAlignment = 32;

bool isTablesOnly(int32_t mode) {
  return operationOf(mode) == JpegIoMode::FileWriteTables;
}
bool writesImage(int32_t mode) {
  const JpegIoMode operation = operationOf(mode);
  return operation == JpegIoMode::FileWriteImage || operation == JpegIoMode::FileWriteImageNoTables;
}
bool writesTableSegments(int32_t mode) {
  return operationOf(mode) == JpegIoMode::FileWriteImage || isTablesOnly(mode);
}

struct Factors {
  int32_t h[kMaxComponents];
  int32_t v[kMaxComponents];
};

Factors factorsOf(JpegSubsampling subsampling) {
  switch (subsampling) {
    case JpegSubsampling::H2V2:
      return {{2, 1, 1, 1}, {2, 1, 1, 1}};
    case JpegSubsampling::H2V1:
      return {{2, 1, 1, 1}, {1, 1, 1, 1}};
    case JpegSubsampling::H2V2K:
      return {{2, 1, 1, 2}, {2, 1, 1, 2}};
    case JpegSubsampling::H2V1K:
      return {{2, 1, 1, 2}, {1, 1, 1, 1}};
    default:
      return {{1, 1, 1, 1}, {1, 1, 1, 1}};
  }
}

// The JPEG-side public fields a fresh write works from.
void copyPublicFields(const JPEG_CODEC_PROPERTIES* p, JPEG_PROPERTIES* s) {
  s->jpegWidth = p->jpegWidth;
  s->jpegHeight = p->jpegHeight;
  s->jpegChannels = p->jpegChannels;
  s->jpegColor = p->jpegColor;
  s->jpegSubsampling = p->jpegSubsampling;
  s->jpegBuffer = p->jpegBuffer;
  s->jpegBufferSize = p->jpegBufferSize;
  s->jpegFileName = p->jpegFileName;
  s->pixelData = p->pixelData;
  s->pixelWidth = p->pixelWidth;
  s->pixelHeight = p->pixelHeight;
  s->pixelPadBytes = p->pixelPadBytes;
  s->pixelChannels = p->pixelChannels;
  s->pixelColor = p->pixelColor;
  s->pixelSubsampling = p->pixelSubsampling;
  s->colorConversionNeeded = p->colorConversionNeeded;
  s->samplingNeeded = p->samplingNeeded;
  s->quality = p->quality;
  // Every scan this encoder writes holds all components; a flag left by a read is stale.
  s->nonInterleaved = 0;
  if (s->pixelSubsampling == 2 && s->pixelColor == JpegColor::YCbCr && s->jpegColor == JpegColor::YCbCr) {
    s->jpegSubsampling = JpegSubsampling::H2V1;
  }
}

bool conversionNeeded(const JPEG_PROPERTIES* s) {
  if (s->jpegColor == JpegColor::Rgb || s->jpegColor == JpegColor::Cmyk) return false;
  return s->pixelColor != JpegColor::Gray && s->pixelColor != JpegColor::YCbCr &&
         s->pixelColor != JpegColor::Other;
}

// Component table from the sampling layout and, unless the caller supplied quantisation tables,
// each component's table selector.
void setupComponents(JPEG_PROPERTIES* s, bool callerConversion, bool quantSupplied) {
  const Factors factors = factorsOf(s->jpegSubsampling);
  s->componentCount = s->jpegChannels;
  for (int32_t i = 0; i < kMaxComponents; ++i) {
    s->components[i].componentId = i;
    s->components[i].horizontalFactor = factors.h[i];
    s->components[i].verticalFactor = factors.v[i];
  }
  if (quantSupplied) return;
  JpegComponent* c = s->components;
  switch (s->jpegSubsampling) {
    case JpegSubsampling::H1V1:
      c[0].quantSelector = 0;
      if (s->colorConversionNeeded != 0) {
        for (int32_t i = 1; i < kMaxComponents; ++i) c[i].quantSelector = 1;
      }
      break;
    case JpegSubsampling::H2V2K:
    case JpegSubsampling::H2V1K:
      c[3].quantSelector = 0;
      [[fallthrough]];
    case JpegSubsampling::H2V2:
    case JpegSubsampling::H2V1:
      c[0].quantSelector = 0;
      c[1].quantSelector = callerConversion ? 1 : 0;
      c[2].quantSelector = callerConversion ? 1 : 0;
      break;
    default:
      break;
  }
}

// Frame geometry: image size, largest factors, MCU size and counts, and whether any component is
// subsampled.
void setupGeometry(JPEG_PROPERTIES* s) {
  s->precision = 8;
  s->imageWidth = s->jpegWidth;
  s->imageHeight = s->jpegHeight;
  int32_t maxH = 1, maxV = 1;
  bool sampled = false;
  for (int32_t i = 0; i < s->componentCount; ++i) {
    const JpegComponent& c = s->components[i];
    sampled = sampled || c.horizontalFactor != 1 || c.verticalFactor != 1;
    maxH = c.horizontalFactor > maxH ? c.horizontalFactor : maxH;
    maxV = c.verticalFactor > maxV ? c.verticalFactor : maxV;
  }
  s->samplingNeeded = sampled ? 1 : 0;
  s->maxHorizontalFactor = maxH;
  s->maxVerticalFactor = maxV;
  s->mcuWidth = s->nonInterleaved != 0 ? 8 : 8 * maxH;
  s->mcuHeight = s->nonInterleaved != 0 ? 8 : 8 * maxV;
  s->mcusPerRow = (s->imageWidth + s->mcuWidth - 1) / s->mcuWidth;
  s->frameMcusPerRow = s->mcusPerRow;
  s->mcuRows = (s->imageHeight + s->mcuHeight - 1) / s->mcuHeight;
  s->totalMcus = s->mcusPerRow * s->mcuRows;
}

// The converters read every pixel of the JPEG image from the buffer: refuse a smaller one,
// and packed 4:2:2 rows that end in half a pixel pair.
JpegStatus checkPixelBuffer(const JPEG_PROPERTIES* s) {
  const int32_t height = s->pixelHeight < 0 ? -s->pixelHeight : s->pixelHeight;
  if (s->pixelWidth < s->imageWidth || height < s->imageHeight) return JpegStatus::InvalidProperties;
  if (s->pixelSubsampling == 2 && (s->pixelWidth & 1) != 0) return JpegStatus::InvalidProperties;
  return JpegStatus::Ok;
}

void alignScratch(JPEG_PROPERTIES* s) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(s->scratchStorage);
  const uintptr_t aligned = (base + kScratchAlignment - 1) & ~(kScratchAlignment - 1);
  s->scratch = s->scratchStorage + (aligned - base);
}

int32_t byteCountOf(const ByteInput* writer) {
  constexpr uint32_t kMax = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(writer->consumed > kMax ? kMax : writer->consumed);
}

JpegStatus writeApplicationSegment(JPEG_PROPERTIES* s) {
  switch (s->jpegColor) {
    case JpegColor::Rgb:
    case JpegColor::Cmyk:
      return writeApp14(&s->input, s, 0);
    case JpegColor::Ycck:
      return writeApp14(&s->input, s, 2);
    default:
      return writeApp0(&s->input, s);
  }
}

QuantTable* startQuantTable(JPEG_PROPERTIES* s, int32_t j) {
  QuantTable* table = &s->quantTables[j];
  table->values = table->storage;
  table->precision = 0;
  table->tableId = s->quantSpecs[j].tableId;
  s->encoderQuantTables[j] = table->values;
  return table;
}

// Modes 12 and 13: tables of the caller's descriptors not yet prepared by an earlier
// tables-only write, and every Huffman pair.
JpegStatus prepareTablesWithoutSegments(JPEG_PROPERTIES* s) {
  for (int32_t j = 0; j < s->quantTableCount; ++j) {
    if (s->encoderQuantTables[j] != nullptr || s->quantSpecs[j].values == nullptr) continue;
    QuantTable* table = startQuantTable(s, j);
    scaleQuantTable(s->quality, s->quantSpecs[j].values, table->values);
    const JpegStatus status = prepareForVariant(s->dctVariant, table->values);
    if (status != JpegStatus::Ok) return status;
  }
  for (int32_t j = 0; j < s->huffmanTableCount; ++j) {
    const JpegStatus status = deriveHuffmanPair(s, j);
    if (status != JpegStatus::Ok) return status;
  }
  return JpegStatus::Ok;
}

void selectTransformKernels(JPEG_PROPERTIES* s) {
  KernelTable* kernels = s->input.kernels;
  const bool second = s->dctVariant == 1;
  kernels->forwardDct = second ? kernels->fdct1 : kernels->fdct0;
  kernels->quantize = second ? kernels->quantize1 : kernels->quantize0;
}

// Open the output file of a file mode. A handle left open by an earlier read on the record
// is closed first: a fresh write never continues someone else's file.
JpegStatus openOutputFile(JPEG_PROPERTIES* s, const char* name, int32_t mode) {
  if (s->scan != nullptr) return JpegStatus::Ok;
  if (name == nullptr && isFileMode(mode)) return JpegStatus::InvalidFileName;
  if (s->input.file != 0) {
    fileClose(s->input.file);
    s->input.file = 0;
  }
  if (!isFileMode(mode)) return JpegStatus::Ok;
  s->input.file = fileOpen(name, FileAccess::ReadWrite);
  return s->input.file != 0 ? JpegStatus::Ok : JpegStatus::InvalidFileName;
}

// Region of interest words: the last MCU coded becomes the pixel extent reached.
void regionToPixels(JPEG_PROPERTIES* s) {
  const int64_t right = (int64_t{s->regionOfInterest[2]} * 8 + 8) * s->maxHorizontalFactor;
  const int64_t bottom = (int64_t{s->regionOfInterest[3]} * 8 + 8) * s->maxVerticalFactor;
  s->regionOfInterest[2] = static_cast<int32_t>(right < s->imageWidth ? right : s->imageWidth);
  s->regionOfInterest[3] = static_cast<int32_t>(bottom < s->imageHeight ? bottom : s->imageHeight);
}

JpegStatus closeOutputFile(JPEG_PROPERTIES* s) {
  if (s->input.file == 0) return JpegStatus::Ok;
  const bool closed = fileClose(s->input.file);
  s->input.file = 0;
  return closed ? JpegStatus::Ok : JpegStatus::CloseFileError;
}

// What the encoder relies on even when the caller filled `state` itself: a component count
// the component table holds, a restart interval DRI can carry, an image size SOF0 can carry,
// pixels or planes to read, and an output buffer.
JpegStatus checkWriteState(const JPEG_PROPERTIES* s, int32_t mode) {
  if (s->jpegChannels < 1 || s->jpegChannels > kMaxComponents) return JpegStatus::ComponentError;
  if (s->restartInterval < 0 || s->restartInterval > kMaxRestartInterval)
    return JpegStatus::InvalidProperties;
  if (writesImage(mode) && (s->jpegWidth < 1 || s->jpegWidth > kMaxDimension || s->jpegHeight < 1 ||
                            s->jpegHeight > kMaxDimension)) {
    return JpegStatus::InvalidProperties;
  }
  if (writesImage(mode) && s->blockPlanes == nullptr && s->pixelData == nullptr) {
    return JpegStatus::InvalidProperties;
  }
  if (!isFileMode(mode) && (s->jpegBuffer == nullptr || s->jpegBufferSize <= 0)) {
    return JpegStatus::InvalidProperties;
  }
  return JpegStatus::Ok;
}

// A scan record left by an interrupted decode is not a write to resume.
void dropDecoderScan(JPEG_PROPERTIES* s, int32_t previousMode) {
  if (s->scan == nullptr || isWriteMode(previousMode)) return;
  releaseScanRecord(s->scan);
  s->scan = nullptr;
}

// A validated write: opens the output, copies the public fields (fresh writes), checks what the
// encoder relies on, sets up tables, components and geometry, writes the headers of a fresh write
// (a tables-only write ends there with its EOI), then codes the scans, resuming an interrupted
// write where it stopped, and reports the bytes produced.
JpegStatus runWrite(JPEG_CODEC_PROPERTIES* p, int32_t mode) {
  JPEG_PROPERTIES* s = &p->state;
  const bool fresh = s->scan == nullptr;
  const bool asIs = p->useStateAsIs != 0;
  const char* fileName = asIs ? s->jpegFileName : p->jpegFileName;
  JpegStatus status = openOutputFile(s, fileName, mode);
  if (status != JpegStatus::Ok) return status;
  if (!asIs && fresh) copyPublicFields(p, s);

  status = checkWriteState(s, mode);
  if (status != JpegStatus::Ok) return status;

  const bool quantSupplied = quantTablesSupplied(s);
  status = setupEncoderTables(s);
  if (status == JpegStatus::Ok) status = checkEncoderTables(s, writesTableSegments(mode));
  if (status != JpegStatus::Ok) return status;

  const bool callerConversion = s->colorConversionNeeded != 0;
  s->colorConversionNeeded = conversionNeeded(s) ? 1 : 0;
  setupComponents(s, callerConversion, quantSupplied);
  setupGeometry(s);
  if (writesImage(mode) && s->blockPlanes == nullptr) {
    status = checkPixelBuffer(s);
    if (status != JpegStatus::Ok) return status;
  }

  if (fresh) {
    s->input.consumed = 0;
    applyLineStride(s, asIs ? s->pixelData : p->pixelData, s->pixelSubsampling == 2);
    s->input.currentRow = s->pixelData;
    status = writeHeaders(s);
    if (status != JpegStatus::Ok) return status;
    if (isTablesOnly(mode)) {
      s->jpegBufferSize = byteCountOf(&s->input);
      p->jpegBufferSize = s->jpegBufferSize;
      return JpegStatus::Ok;
    }
  }

  alignScratch(s);
  // An interrupted baseline write keeps its scan record: it resumes as baseline.
  status = s->progressive != 0 && fresh ? encodeProgressive(s) : encodeBaseline(s);
  s->noFrameYet = 1;
  s->jpegBufferSize = byteCountOf(&s->input);
  p->jpegBufferSize = s->jpegBufferSize;
  return status;
}

}  // namespace

JpegStatus deriveHuffmanPair(JPEG_PROPERTIES* s, int32_t pair) {
  const HuffmanSpec& dc = s->huffmanSpecs[2 * pair];
  const HuffmanSpec& ac = s->huffmanSpecs[2 * pair + 1];
  HuffmanTable* dcTable = &s->dcTables[dc.tableId];
  HuffmanTable* acTable = &s->acTables[ac.tableId];
  JpegStatus status = deriveEncodingTable(dc.counts, dc.values, dcTable);
  if (status != JpegStatus::Ok) return status;
  status = deriveEncodingTable(ac.counts, ac.values, acTable);
  if (status != JpegStatus::Ok) return status;
  dcTable->tableClass = 0;
  dcTable->tableId = dc.tableId;
  acTable->tableClass = 1;
  acTable->tableId = ac.tableId;
  s->encoderDcTables[dc.tableId] = dcTable;
  s->encoderAcTables[ac.tableId] = acTable;
  return JpegStatus::Ok;
}

JpegStatus writeTableSegments(JPEG_PROPERTIES* s) {
  for (int32_t j = 0; j < s->quantTableCount; ++j) {
    QuantTable* table = startQuantTable(s, j);
    scaleQuantTable(s->quality, s->quantSpecs[j].values, table->values);
    JpegStatus status = writeDqt(&s->input, s->quantSpecs[j].tableId, table->values);
    if (status == JpegStatus::Ok) status = prepareForVariant(s->dctVariant, table->values);
    if (status != JpegStatus::Ok) return status;
  }
  if (s->progressive != 0) return JpegStatus::Ok;
  JpegStatus status = writeDhtAll(&s->input, s, s->huffmanTableCount);
  for (int32_t j = 0; j < s->huffmanTableCount && status == JpegStatus::Ok; ++j)
    status = deriveHuffmanPair(s, j);
  return status;
}

JpegStatus writeHeaders(JPEG_PROPERTIES* s) {
  ByteInput* writer = &s->input;
  const int32_t mode = s->ioMode;
  writer->kernels->initOutput(writer, s->jpegBuffer, static_cast<uint32_t>(s->jpegBufferSize));
  for (HuffmanTable*& table : s->encoderDcTables) table = nullptr;
  for (HuffmanTable*& table : s->encoderAcTables) table = nullptr;
  JpegStatus status = writeSoi(writer);
  if (status == JpegStatus::Ok && writesTableSegments(mode)) {
    for (int16_t*& table : s->encoderQuantTables) table = nullptr;
    status = writeApplicationSegment(s);
    if (status == JpegStatus::Ok) status = writeComment(writer, s);
    if (status == JpegStatus::Ok) status = writeTableSegments(s);
  } else if (status == JpegStatus::Ok) {
    status = prepareTablesWithoutSegments(s);
  }
  if (status != JpegStatus::Ok) return status;
  selectTransformKernels(s);
  if (isTablesOnly(mode)) status = writeEoi(writer);
  if (status == JpegStatus::Ok && writer->file != 0) status = flushOutput(writer);
  return status;
}

JpegStatus jpegWrite(JPEG_CODEC_PROPERTIES* p, JpegIoMode modeValue) {
  if (p == nullptr || p->state.input.kernels == nullptr) return JpegStatus::InvalidProperties;
  JPEG_PROPERTIES* s = &p->state;
  const int32_t mode = static_cast<int32_t>(modeValue);
  dropDecoderScan(s, s->ioMode);
  s->ioMode = mode;
  JpegStatus status = isWriteMode(mode) ? JpegStatus::Ok : JpegStatus::InvalidProperties;
  if (status == JpegStatus::Ok && p->useStateAsIs == 0) status = validateProperties(p, mode);
  if (status == JpegStatus::Ok) status = runWrite(p, mode);

  if (status == JpegStatus::InterruptOk || status == JpegStatus::RoiOk) {
    regionToPixels(s);
  } else if (status == JpegStatus::Ok) {
    status = closeOutputFile(s);
  }
  s->input.kernels->finishKernels();
  if (static_cast<int32_t>(status) < 0) {
    closeOutputFile(s);
    if (s->scan != nullptr && s->progressive == 0) {
      releaseScanRecord(s->scan);
      s->scan = nullptr;
    }
  }
  return status;
}
