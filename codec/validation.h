// Checks of the caller's fields shared by jpegRead and jpegWrite, and the line-stride rule.
#pragma once

#include <cstdint>

#include "codec/jpeg.h"

inline bool isFileMode(int32_t mode) {
  return (mode & 1) == 0;
}
// Modes come in pairs that differ only in the byte source: the file variant names the operation.
inline JpegIoMode operationOf(int32_t mode) {
  return static_cast<JpegIoMode>(mode & ~1);
}
inline bool isThumbnailMode(int32_t mode) {
  return operationOf(mode) == JpegIoMode::FileReadThumbnail;
}
inline bool isParametersMode(int32_t mode) {
  return operationOf(mode) == JpegIoMode::FileReadParams;
}
inline bool isTablesOnlyReadMode(int32_t mode) {
  return operationOf(mode) == JpegIoMode::FileReadTables;
}
// Modes that stop before the entropy-coded data: parameters, tables, thumbnail.
inline bool isHeaderOnlyMode(int32_t mode) {
  return isParametersMode(mode) || isTablesOnlyReadMode(mode) || isThumbnailMode(mode);
}
// Read modes that decode entropy-coded data into the pixel buffer.
inline bool isImageReadMode(int32_t mode) {
  switch (operationOf(mode)) {
    case JpegIoMode::FileReadImage:
    case JpegIoMode::FileReadImageNoTables:
    case JpegIoMode::FileReadHalf:
    case JpegIoMode::FileReadQuarter:
    case JpegIoMode::FileReadEighth:
      return true;
    default:
      return false;
  }
}
inline bool isReadMode(int32_t mode) {
  return isHeaderOnlyMode(mode) || isImageReadMode(mode);
}
inline bool isWriteMode(int32_t mode) {
  const JpegIoMode operation = operationOf(mode);
  return operation == JpegIoMode::FileWriteImage || operation == JpegIoMode::FileWriteTables ||
         operation == JpegIoMode::FileWriteImageNoTables;
}
bool needsPixelBuffer(int32_t mode);

// Scale denominator of a read mode: 2, 4, 8 for the reduced modes, else 1.
int32_t scaleOfMode(int32_t mode);

// The first failing check of the caller's fields for `mode`, or Ok. Reads the public fields,
// and blockPlanes, dctVariant and upsamplingMode from `state`.
JpegStatus validateProperties(const JPEG_CODEC_PROPERTIES* properties, int32_t mode);

// The public fields a read copies into `state` before reading (pixel fields, stride and working
// address, JPEG file name and buffer, jpegColor, the two flags, quality). The JPEG size and
// channel count are not among them: they come from the stream.
void copyReadFields(const JPEG_CODEC_PROPERTIES* properties, JPEG_PROPERTIES* state);

// Bytes from one row to the next, before the bottom-up negation: width * channels + padding
// (width * 2 + padding for packed 4:2:2 writes).
int64_t unsignedLineStride(int32_t width, int32_t channels, int32_t padBytes, bool packed422);

// Copies the stride into state->lineStride and the working address into state->pixelData:
// negative heights negate the stride and start at the last row in memory.
void applyLineStride(JPEG_PROPERTIES* state, uint8_t* pixelData, bool packed422);
