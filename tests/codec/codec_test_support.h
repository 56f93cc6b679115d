// A codec record that is initialised on construction and released on destruction, for tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/jpeg.h"

class TestRecord {
 public:
  TestRecord() : record_(std::make_unique<JPEG_CODEC_PROPERTIES>()) {
    EXPECT_EQ(jpegInit(record_.get()), JpegStatus::Ok);
  }
  ~TestRecord() { jpegFree(record_.get()); }
  TestRecord(const TestRecord&) = delete;
  TestRecord& operator=(const TestRecord&) = delete;

  JPEG_CODEC_PROPERTIES* operator->() { return record_.get(); }
  JPEG_CODEC_PROPERTIES* get() { return record_.get(); }

  // Points the record at a memory stream.
  void useBuffer(std::vector<uint8_t>& bytes) {
    record_->jpegBuffer = bytes.data();
    record_->jpegBufferSize = static_cast<int32_t>(bytes.size());
  }

  JpegStatus read(JpegIoMode mode) { return jpegRead(record_.get(), mode); }

 private:
  std::unique_ptr<JPEG_CODEC_PROPERTIES> record_;
};
