// Command groups of meshwick-jpeg, one source file each.
#pragma once

#include <memory>

#include "codec/jpeg.h"

// Releases the record on every path once jpegInit has succeeded.
class CodecRecord {
 public:
  CodecRecord() : properties_(std::make_unique<JPEG_CODEC_PROPERTIES>()) {}
  ~CodecRecord() {
    if (initialised_) jpegFree(properties_.get());
  }
  CodecRecord(const CodecRecord&) = delete;
  CodecRecord& operator=(const CodecRecord&) = delete;

  JpegStatus init() {
    const JpegStatus status = jpegInit(properties_.get());
    initialised_ = status == JpegStatus::Ok;
    return status;
  }
  JPEG_CODEC_PROPERTIES* operator->() { return properties_.get(); }
  JPEG_CODEC_PROPERTIES* get() { return properties_.get(); }

 private:
  std::unique_ptr<JPEG_CODEC_PROPERTIES> properties_;
  bool initialised_ = false;
};

// meshwick-jpeg encode ...: argv[0] is "encode". Returns the process exit code.
int runEncodeCommand(int argc, char** argv);
