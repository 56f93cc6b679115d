// jpegInit, jpegRead and jpegFree (being filled in).
#include "codec/jpeg.h"

JpegStatus jpegInit(JPEG_CODEC_PROPERTIES* properties) {
  if (properties == nullptr) return JpegStatus::InvalidProperties;
  return JpegStatus::NotSupported;
}

JpegStatus jpegRead(JPEG_CODEC_PROPERTIES* properties, JpegIoMode mode) {
  (void)properties;
  (void)mode;
  return JpegStatus::NotSupported;
}

JpegStatus jpegFree(JPEG_CODEC_PROPERTIES* properties) {
  (void)properties;
  return JpegStatus::Ok;
}
