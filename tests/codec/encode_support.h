// Helpers of the encoder tests: pictures, encoding into memory, stream segments, and the
// djpeg oracle.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "codec/jpeg.h"
#include "tests/support/pnm_image.h"
#include "tests/support/test_files.h"

namespace encode_test {

// Pixels top-down, `channels` bytes per pixel, rows without padding.
struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> bytes;
  uint8_t* at(int x, int y) { return bytes.data() + (static_cast<size_t>(y) * width + x) * channels; }
  const uint8_t* at(int x, int y) const {
    return bytes.data() + (static_cast<size_t>(y) * width + x) * channels;
  }
};

inline Picture solidPicture(int width, int height, std::vector<uint8_t> pixel) {
  Picture p{width, height, static_cast<int>(pixel.size()), {}};
  for (int i = 0; i < width * height; ++i) p.bytes.insert(p.bytes.end(), pixel.begin(), pixel.end());
  return p;
}

// Smooth gradients with a little texture, RGB byte order.
inline Picture gradientPicture(int width, int height) {
  Picture p{width, height, 3, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* q = p.at(x, y);
      q[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
      q[1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
      q[2] = static_cast<uint8_t>(128 + ((x * 7 + y * 13) % 32) - 16);
    }
  }
  return p;
}

inline Picture swapRedBlue(Picture p) {
  for (int i = 0; i < p.width * p.height; ++i) std::swap(p.bytes[i * 3], p.bytes[i * 3 + 2]);
  return p;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
  return test::readBytes(path);
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  test::writeBytes(path, bytes);
}

// Binary PGM (P5) or PPM (P6) with maxval 255; an empty picture when the file is not one.
inline Picture readPnm(const std::string& path) {
  const std::optional<test::Image> image = test::parsePnm(readFile(path));
  if (!image) return {};
  return {image->width, image->height, image->channels, image->pixels};
}

inline void writePnm(const std::string& path, const Picture& p) {
  writeFile(path, test::toPnm({p.width, p.height, p.channels, p.bytes}));
}

inline Picture sourcePicture(const std::string& name) {
  return readPnm(std::string(MESHWICK_TEST_DATA) + "/sources/" + name);
}

inline double psnr(const Picture& a, const Picture& b) {
  if (a.bytes.size() != b.bytes.size() || a.bytes.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.bytes.size(); ++i) {
    const double d = static_cast<double>(a.bytes[i]) - static_cast<double>(b.bytes[i]);
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.bytes.size()) / sum);
}

// The process id keeps the portable and native runs of one test apart when ctest runs them at once;
// parameterised test names carry '/'.
inline std::string tempPath(const std::string& name) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string id = std::string(info->test_suite_name()) + "_" + info->name();
  std::replace(id.begin(), id.end(), '/', '_');
  return testing::TempDir() + "meshwick_" + std::to_string(getpid()) + "_" + id + "_" + name;
}

// djpeg's verdict on a stream: exit status, whatever it printed on stderr, the pixels.
struct DjpegResult {
  int exitStatus = -1;
  std::string errors;
  Picture picture;
};

inline DjpegResult decodeWithDjpeg(const std::vector<uint8_t>& jpeg, const std::string& extra = "") {
  const std::string in = tempPath("in.jpg"), out = tempPath("out.pnm"), err = tempPath("err.txt");
  writeFile(in, jpeg);
  const std::string command = "djpeg -pnm " + extra + " -outfile '" + out + "' '" + in + "' 2> '" + err + "'";
  DjpegResult result;
  result.exitStatus = std::system(command.c_str());
  const std::vector<uint8_t> errors = readFile(err);
  result.errors.assign(errors.begin(), errors.end());
  result.picture = readPnm(out);
  std::remove(in.c_str());
  std::remove(out.c_str());
  std::remove(err.c_str());
  return result;
}

// What a write of a picture should look like; the defaults are the application's save.
struct WriteRequest {
  JpegIoMode mode = JpegIoMode::BufferWriteImage;
  JpegColor pixelColor = JpegColor::Rgb;
  JpegColor jpegColor = JpegColor::YCbCr;
  int jpegChannels = 3;
  JpegSubsampling subsampling = JpegSubsampling::H2V2;
  int quality = 75;
  int dctVariant = 1;
  int restartInterval = 0;
  bool bottomUp = false;
  int padBytes = 0;
  size_t bufferSize = 0;  // 0: generous
  std::string fileName;   // file modes
};

struct WriteResult {
  JpegStatus status = JpegStatus::InternalError;
  std::vector<uint8_t> bytes;
};

// Initialises a record for writing `picture` as `request` asks; the caller may adjust the
// record before calling jpegWrite.
class Writer {
 public:
  Writer(const Picture& picture, const WriteRequest& request) : request_(request) {
    EXPECT_EQ(jpegInit(&record_), JpegStatus::Ok);
    const size_t stride = static_cast<size_t>(picture.width) * picture.channels + request.padBytes;
    pixels_.assign(stride * std::max(1, picture.height), 0xA5);
    for (int y = 0; y < picture.height; ++y) {
      const int memoryRow = request.bottomUp ? picture.height - 1 - y : y;
      std::copy(picture.at(0, y), picture.at(0, y) + picture.width * picture.channels,
                pixels_.begin() + static_cast<std::ptrdiff_t>(memoryRow * stride));
    }
    record_.pixelData = pixels_.data();
    record_.pixelWidth = picture.width;
    record_.pixelHeight = request.bottomUp ? -picture.height : picture.height;
    record_.pixelPadBytes = request.padBytes;
    record_.pixelChannels = picture.channels;
    record_.pixelColor = request.pixelColor;
    record_.jpegWidth = picture.width;
    record_.jpegHeight = picture.height;
    record_.jpegChannels = request.jpegChannels;
    record_.jpegColor = request.jpegColor;
    record_.jpegSubsampling = request.subsampling;
    record_.quality = request.quality;
    record_.state.dctVariant = request.dctVariant;
    record_.state.restartInterval = request.restartInterval;
    const size_t generous = pixels_.size() * 4 + 65536 + 1024;
    output_.assign(request.bufferSize != 0 ? request.bufferSize : generous, 0);
    record_.jpegBuffer = output_.data();
    record_.jpegBufferSize = static_cast<int32_t>(output_.size());
    record_.jpegFileName = request_.fileName.empty() ? nullptr : request_.fileName.c_str();
  }
  ~Writer() { jpegFree(&record_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  JPEG_CODEC_PROPERTIES& record() { return record_; }

  // One jpegWrite; on success or interruption the bytes produced so far: those of the buffer
  // (buffer modes) or of the file (file modes, once the write has finished).
  WriteResult write() {
    WriteResult result;
    result.status = jpegWrite(&record_, request_.mode);
    if (static_cast<int32_t>(result.status) < 0) return result;
    const int32_t size = record_.jpegBufferSize;
    if ((static_cast<int32_t>(request_.mode) & 1) == 0) {
      if (result.status == JpegStatus::Ok) result.bytes = readFile(request_.fileName);
    } else if (size > 0 && static_cast<size_t>(size) <= output_.size()) {
      result.bytes.assign(output_.begin(), output_.begin() + size);
    }
    return result;
  }

  // The output buffer as it stands, whatever the status.
  const std::vector<uint8_t>& output() const { return output_; }

 private:
  WriteRequest request_;
  JPEG_CODEC_PROPERTIES record_{};
  std::vector<uint8_t> pixels_;
  std::vector<uint8_t> output_;
};

inline WriteResult writePicture(const Picture& picture, const WriteRequest& request = {}) {
  Writer writer(picture, request);
  return writer.write();
}

// One marker of a stream: its code, the payload after the length (empty for markers without
// one), and its offset.
struct Marker {
  uint8_t code;
  std::vector<uint8_t> payload;
  size_t offset;
};

// Segments up to SOS, then the markers met in the entropy-coded data (RSTn, EOI).
inline std::vector<Marker> parseMarkers(const std::vector<uint8_t>& s) {
  std::vector<Marker> markers;
  if (s.size() < 2 || s[0] != 0xFF || s[1] != 0xD8) return markers;
  markers.push_back({0xD8, {}, 0});
  size_t i = 2;
  bool inScan = false;
  while (i + 1 < s.size()) {
    if (inScan) {
      if (s[i] == 0xFF && s[i + 1] != 0x00) {
        markers.push_back({s[i + 1], {}, i});
        if (s[i + 1] == 0xD9) break;
        i += 2;
      } else {
        ++i;
      }
      continue;
    }
    if (s[i] != 0xFF) break;
    const uint8_t code = s[i + 1];
    if (code == 0xD9) {
      markers.push_back({code, {}, i});
      break;
    }
    if (i + 3 >= s.size()) break;
    const size_t length = size_t{s[i + 2]} << 8 | s[i + 3];
    if (length < 2 || i + 2 + length > s.size()) break;
    markers.push_back({code,
                       std::vector<uint8_t>(s.begin() + static_cast<std::ptrdiff_t>(i + 4),
                                            s.begin() + static_cast<std::ptrdiff_t>(i + 2 + length)),
                       i});
    i += 2 + length;
    inScan = code == 0xDA;
  }
  return markers;
}

inline std::vector<uint8_t> markerCodes(const std::vector<Marker>& markers) {
  std::vector<uint8_t> codes;
  for (const Marker& m : markers) codes.push_back(m.code);
  return codes;
}

inline const Marker* findMarker(const std::vector<Marker>& markers, uint8_t code, int nth = 0) {
  for (const Marker& m : markers) {
    if (m.code == code && nth-- == 0) return &m;
  }
  return nullptr;
}

}  // namespace encode_test
