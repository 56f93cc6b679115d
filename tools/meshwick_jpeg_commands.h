// Command groups of meshwick-jpeg, one source file each: each adds its subcommand and options
// to the command line, then runs with what was parsed.
#pragma once

#include <memory>
#include <string>

#include "codec/jpeg.h"

namespace CLI {
class App;
}

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

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

struct EncodeOptions {
  std::string input;
  std::string output;
  int32_t quality = 75;
  std::string sampling = "420";
  bool gray = false;
  bool rgb = false;
  int32_t restartInterval = 0;
  int32_t dctVariant = 1;
  bool buffer = false;
  bool progressive = false;
  bool hasComment = false;
  bool samplingGiven = false;
  std::string comment;
};

// Adds "encode" with its options to `app`; parsing fills `options`.
CLI::App* addEncodeCommand(CLI::App& app, EncodeOptions* options);

// Runs a parsed encode. Returns the process exit code.
int runEncodeCommand(EncodeOptions& options);
