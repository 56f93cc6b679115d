// jpegWrite: the segments of every mode, table scaling, restarts, comments, buffer limits,
// interruption and the checks made before encoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "codec/encode/encoder_tables.h"
#include "encode_support.h"

namespace {

using encode_test::findMarker;
using encode_test::Marker;
using encode_test::markerCodes;
using encode_test::parseMarkers;
using encode_test::Picture;
using encode_test::writePicture;
using encode_test::Writer;
using encode_test::WriteRequest;
using Bytes = std::vector<uint8_t>;

Picture grayPicture(int width, int height) {
  Picture p{width, height, 1, std::vector<uint8_t>(static_cast<size_t>(width) * height)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) *p.at(x, y) = static_cast<uint8_t>((x * 9 + y * 5) % 256);
  }
  return p;
}

WriteRequest grayRequest() {
  WriteRequest r;
  r.pixelColor = JpegColor::Gray;
  r.jpegColor = JpegColor::Gray;
  r.jpegChannels = 1;
  r.subsampling = JpegSubsampling::H1V1;
  return r;
}

Bytes payloadOf(const std::vector<Marker>& markers, uint8_t code, int nth = 0) {
  const Marker* m = findMarker(markers, code, nth);
  return m != nullptr ? m->payload : Bytes{0xDE, 0xAD};
}

TEST(EncoderWrite, OneComponentFrameAndScanHeaders) {
  const auto result = writePicture(grayPicture(20, 10), grayRequest());
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const auto markers = parseMarkers(result.bytes);
  EXPECT_EQ(markerCodes(markers), (Bytes{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC4, 0xC0, 0xDA, 0xD9}));
  EXPECT_EQ(payloadOf(markers, 0xC0), (Bytes{0x08, 0x00, 0x0A, 0x00, 0x14, 0x01, 0x00, 0x11, 0x00}));
  EXPECT_EQ(payloadOf(markers, 0xDA), (Bytes{0x01, 0x00, 0x00, 0x00, 0x3F, 0x00}));
  EXPECT_EQ(result.bytes.size(), markers.back().offset + 2) << "EOI ends the stream";
}

TEST(EncoderWrite, ThreeComponentH2V2FrameAndScanHeaders) {
  const auto result = writePicture(encode_test::gradientPicture(40, 20));
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const auto markers = parseMarkers(result.bytes);
  EXPECT_EQ(payloadOf(markers, 0xC0), (Bytes{0x08, 0x00, 0x14, 0x00, 0x28, 0x03, 0x01, 0x22, 0x00, 0x02, 0x11,
                                             0x01, 0x03, 0x11, 0x01}));
  EXPECT_EQ(payloadOf(markers, 0xDA), (Bytes{0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}));
  EXPECT_EQ(payloadOf(markers, 0xE0),
            (Bytes{'J', 'F', 'I', 'F', 0, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));
}

TEST(EncoderWrite, TablesOnlyStream) {
  for (JpegIoMode mode : {JpegIoMode::BufferWriteTables, JpegIoMode::FileWriteTables}) {
    SCOPED_TRACE(static_cast<int>(mode));
    WriteRequest request;
    request.mode = mode;
    request.fileName = encode_test::tempPath("tables.jpg");
    Writer writer(encode_test::gradientPicture(16, 16), request);
    writer.record().pixelData = nullptr;  // not needed by a tables-only write
    const auto result = writer.write();
    ASSERT_EQ(result.status, JpegStatus::Ok);
    const auto markers = parseMarkers(result.bytes);
    EXPECT_EQ(markerCodes(markers), (Bytes{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC4, 0xD9}));
    EXPECT_EQ(payloadOf(markers, 0xC4).size() + 2, 418u);
    EXPECT_EQ(static_cast<size_t>(writer.record().jpegBufferSize), result.bytes.size());
    std::remove(request.fileName.c_str());
  }
}

TEST(EncoderWrite, QualityScalesTheAnnexKTables) {
  struct Case {
    int quality;
    std::array<uint8_t, 8> firstLuminance;  // zig-zag positions 0..7
    uint8_t lastLuminance;
    uint8_t lastChrominance;
  };
  const Case cases[] = {
      {-5, {255, 255, 255, 255, 255, 255, 255, 255}, 255, 255},  // below 1 acts as 1
      {0, {255, 255, 255, 255, 255, 255, 255, 255}, 255, 255},
      {25, {32, 22, 24, 28, 24, 20, 32, 28}, 198, 198},
      {50, {16, 11, 12, 14, 12, 10, 16, 14}, 99, 99},  // Annex K as it stands
      {75, {8, 6, 6, 7, 6, 5, 8, 7}, 50, 50},
      {100, {1, 1, 1, 1, 1, 1, 1, 1}, 1, 1},
      {250, {1, 1, 1, 1, 1, 1, 1, 1}, 1, 1},  // above 100 acts as 100
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quality);
    WriteRequest request;
    request.quality = c.quality;
    const auto markers = parseMarkers(writePicture(encode_test::gradientPicture(16, 16), request).bytes);
    const Bytes luminance = payloadOf(markers, 0xDB, 0);
    const Bytes chrominance = payloadOf(markers, 0xDB, 1);
    ASSERT_EQ(luminance.size(), 65u);
    ASSERT_EQ(chrominance.size(), 65u);
    EXPECT_EQ(luminance[0], 0x00);
    EXPECT_EQ(chrominance[0], 0x01);
    EXPECT_TRUE(std::equal(c.firstLuminance.begin(), c.firstLuminance.end(), luminance.begin() + 1));
    EXPECT_EQ(luminance[64], c.lastLuminance);
    EXPECT_EQ(chrominance[64], c.lastChrominance);
  }
}

// The AAN factor of position 63 (53810) does not fit 16 bits divided by 1: the DQT keeps
// the 1, the coefficient is divided by 2.
TEST(EncoderWrite, QualityHundredVariant0HalvesTheLastCoefficient) {
  for (int variant : {0, 1}) {
    SCOPED_TRACE(variant);
    WriteRequest request;
    request.quality = 100;
    request.dctVariant = variant;
    Writer writer(encode_test::gradientPicture(16, 16), request);
    const auto result = writer.write();
    ASSERT_EQ(result.status, JpegStatus::Ok);
    EXPECT_EQ(payloadOf(parseMarkers(result.bytes), 0xDB).back(), 1);
    const auto multiplier = static_cast<uint16_t>(writer.record().state.encoderQuantTables[0][63]);
    EXPECT_EQ(multiplier, variant == 0 ? (1 + 53810) / 2 : 32768);
  }
}

TEST(EncoderWrite, RestartMarkersCycleAndEndBeforeEoi) {
  struct Case {
    int interval;
    Bytes scanMarkers;
  };
  const Case cases[] = {
      {1, {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD0, 0xD9}},
      {4, {0xD0, 0xD1, 0xD9}},
      {9, {0xD0, 0xD9}},
      {10, {0xD9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval);
    WriteRequest request = grayRequest();
    request.restartInterval = c.interval;
    const auto result = writePicture(grayPicture(24, 24), request);  // 3 x 3 MCUs
    ASSERT_EQ(result.status, JpegStatus::Ok);
    const auto markers = parseMarkers(result.bytes);
    EXPECT_EQ(payloadOf(markers, 0xDD), (Bytes{0x00, static_cast<uint8_t>(c.interval)}));
    Bytes scan;
    bool after = false;
    for (const Marker& m : markers) {
      if (after) scan.push_back(m.code);
      after = after || m.code == 0xDA;
    }
    EXPECT_EQ(scan, c.scanMarkers);
  }
}

TEST(EncoderWrite, CommentSegment) {
  struct Case {
    const char* name;
    uint16_t length;
    bool present;
    size_t written;
  };
  const Case cases[] = {{"empty", 0, false, 0},
                        {"short", 5, true, 5},
                        {"longest", 65531, true, 65531},
                        {"cut", 65535, true, 65531}};
  Bytes text(65535);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i * 13 + 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer writer(grayPicture(8, 8), grayRequest());
    writer.record().state.commentBuffer = text.data();
    writer.record().state.commentLength = c.length;
    const auto result = writer.write();
    ASSERT_EQ(result.status, JpegStatus::Ok);
    const auto markers = parseMarkers(result.bytes);
    const Marker* com = findMarker(markers, 0xFE);
    ASSERT_EQ(com != nullptr, c.present);
    if (com != nullptr) {
      EXPECT_EQ(com->payload, Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(c.written)));
    }
    EXPECT_EQ(writer.record().state.commentLength, c.present ? c.written : 0u);
  }
}

TEST(EncoderWrite, DefaultCommentOutlivesAnotherRecordsFree) {
  Writer writer(grayPicture(8, 8), grayRequest());
  JPEG_CODEC_PROPERTIES other{};
  ASSERT_EQ(jpegInit(&other), JpegStatus::Ok);
  ASSERT_EQ(jpegFree(&other), JpegStatus::Ok);
  const auto result = writer.write();
  ASSERT_EQ(result.status, JpegStatus::Ok);
  const Bytes comment = payloadOf(parseMarkers(result.bytes), 0xFE);
  const std::string text(comment.begin(), comment.end());
  EXPECT_EQ(text, "Written by the Meshwick JPEG codec 1.51.12");
}

TEST(EncoderWrite, ApplicationSegmentFollowsTheJpegColour) {
  struct Case {
    const char* name;
    JpegColor pixelColor;
    int channels;
    JpegColor jpegColor;
    JpegSubsampling subsampling;
    int transform;  // -1: JFIF APP0
  };
  const Case cases[] = {
      {"ycck", JpegColor::Cmyk, 4, JpegColor::Ycck, JpegSubsampling::H2V2K, 2},
      {"cmyk", JpegColor::Cmyk, 4, JpegColor::Cmyk, JpegSubsampling::H1V1, 0},
      {"rgb", JpegColor::Rgb, 3, JpegColor::Rgb, JpegSubsampling::H1V1, 0},
      {"ycc", JpegColor::Bgr, 3, JpegColor::YCbCr, JpegSubsampling::H2V1, -1},
      {"gray", JpegColor::Bgr, 3, JpegColor::Gray, JpegSubsampling::H1V1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRequest request;
    request.pixelColor = c.pixelColor;
    request.jpegColor = c.jpegColor;
    request.jpegChannels = c.jpegColor == JpegColor::Gray ? 1 : c.channels;
    request.subsampling = c.subsampling;
    const auto result = writePicture(encode_test::solidPicture(9, 9, Bytes(c.channels, 100)), request);
    ASSERT_EQ(result.status, JpegStatus::Ok);
    const auto markers = parseMarkers(result.bytes);
    EXPECT_EQ(findMarker(markers, 0xE0) != nullptr, c.transform < 0);
    if (c.transform >= 0) {
      EXPECT_EQ(payloadOf(markers, 0xEE),
                (Bytes{'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0, 0, 0, 0, static_cast<uint8_t>(c.transform)}));
    }
  }
}

TEST(EncoderWrite, BufferNeedsOneByteBeyondTheStream) {
  const Picture picture = encode_test::gradientPicture(33, 17);
  const auto generous = writePicture(picture);
  ASSERT_EQ(generous.status, JpegStatus::Ok);
  WriteRequest exact;
  exact.bufferSize = generous.bytes.size();
  EXPECT_EQ(writePicture(picture, exact).status, JpegStatus::OutputBufferTooSmall);
  WriteRequest spare;
  spare.bufferSize = generous.bytes.size() + 1;
  const auto fits = writePicture(picture, spare);
  ASSERT_EQ(fits.status, JpegStatus::Ok);
  EXPECT_EQ(fits.bytes, generous.bytes);
  WriteRequest tiny;
  tiny.bufferSize = 100;  // fails in the headers
  EXPECT_EQ(writePicture(picture, tiny).status, JpegStatus::OutputBufferTooSmall);
}

TEST(EncoderWrite, FileAndBufferModesWriteTheSameBytes) {
  const Picture picture = encode_test::gradientPicture(50, 30);
  WriteRequest request;
  request.restartInterval = 2;
  const auto inMemory = writePicture(picture, request);
  request.mode = JpegIoMode::FileWriteImage;
  request.fileName = encode_test::tempPath("same.jpg");
  const auto inFile = writePicture(picture, request);
  ASSERT_EQ(inFile.status, JpegStatus::Ok);
  EXPECT_EQ(inFile.bytes, inMemory.bytes);
  std::remove(request.fileName.c_str());
}

// An interrupted write resumes after the last MCU coded and ends byte for byte as an
// uninterrupted one, restart counter and DC predictions included.
TEST(EncoderWrite, InterruptedWritesResumeToTheSameStream) {
  const Picture picture = encode_test::gradientPicture(64, 32);  // 4 x 2 MCUs of 16 x 16
  for (bool file : {false, true}) {
    for (int interval : {0, 3}) {
      SCOPED_TRACE(testing::Message() << "file " << file << " interval " << interval);
      WriteRequest request;
      request.restartInterval = interval;
      if (file) {
        request.mode = JpegIoMode::FileWriteImage;
        request.fileName = encode_test::tempPath("interrupted.jpg");
      }
      const auto whole = writePicture(picture, request);
      ASSERT_EQ(whole.status, JpegStatus::Ok);

      Writer writer(picture, request);
      writer.record().state.interruptRequest = 1;
      auto result = writer.write();
      ASSERT_EQ(result.status, JpegStatus::InterruptOk);
      EXPECT_EQ(writer.record().state.interruptRequest, 0);
      EXPECT_EQ(writer.record().state.regionOfInterest[2], 16);
      EXPECT_EQ(writer.record().state.regionOfInterest[3], 16);
      int interruptions = 1;
      for (;;) {
        writer.record().state.interruptRequest = 1;
        result = writer.write();
        if (result.status != JpegStatus::InterruptOk) break;
        ++interruptions;
      }
      EXPECT_EQ(interruptions, 8);
      ASSERT_EQ(result.status, JpegStatus::Ok);  // the ninth call finds no MCU left
      EXPECT_EQ(result.bytes, whole.bytes);

      Writer once(picture, request);
      once.record().state.interruptRequest = 1;
      ASSERT_EQ(once.write().status, JpegStatus::InterruptOk);
      const auto rest = once.write();
      ASSERT_EQ(rest.status, JpegStatus::Ok);
      EXPECT_EQ(rest.bytes, whole.bytes);
      if (file) std::remove(request.fileName.c_str());
    }
  }
}

TEST(EncoderWrite, InvalidRequestsAreRefusedBeforeAnythingIsWritten) {
  static const std::array<uint8_t, 64> kWithZeroStep = [] {
    std::array<uint8_t, 64> t{};
    t.fill(10);
    t[17] = 0;
    return t;
  }();
  static std::array<uint8_t, 64> kSteps = [] {
    std::array<uint8_t, 64> t{};
    t.fill(10);
    return t;
  }();
  struct Case {
    const char* name;
    void (*adjust)(JPEG_CODEC_PROPERTIES&);
    JpegIoMode mode;
    JpegStatus expected;
  };
  const Case cases[] = {
      {"narrower buffer", [](JPEG_CODEC_PROPERTIES& r) { r.pixelWidth -= 1; }, JpegIoMode::BufferWriteImage,
       JpegStatus::InvalidProperties},
      {"shorter buffer", [](JPEG_CODEC_PROPERTIES& r) { r.pixelHeight = -(r.pixelHeight - 1); },
       JpegIoMode::BufferWriteImage, JpegStatus::InvalidProperties},
      {"zero step",
       [](JPEG_CODEC_PROPERTIES& r) {
         r.state.quantTablesSupplied = 1;
         r.state.quantSpecs[0] = {const_cast<uint8_t*>(kWithZeroStep.data()), 0};
         r.state.quantSpecs[1] = {kSteps.data(), 1};
         r.state.quantTableCount = 2;
       },
       JpegIoMode::BufferWriteImage, JpegStatus::BadQuantTable},
      {"quant id 4",
       [](JPEG_CODEC_PROPERTIES& r) {
         r.state.quantTablesSupplied = 1;
         r.state.quantSpecs[0] = {kSteps.data(), 4};
         r.state.quantTableCount = 1;
       },
       JpegIoMode::BufferWriteTables, JpegStatus::BadQuantTable},
      {"five quant tables",
       [](JPEG_CODEC_PROPERTIES& r) {
         r.state.quantTablesSupplied = 1;
         for (auto& descriptor : r.state.quantSpecs) descriptor = {kSteps.data(), 0};
         r.state.quantTableCount = 5;
       },
       JpegIoMode::BufferWriteTables, JpegStatus::InvalidProperties},
      {"restart interval", [](JPEG_CODEC_PROPERTIES& r) { r.state.restartInterval = 65536; },
       JpegIoMode::BufferWriteImage, JpegStatus::InvalidProperties},
      {"read mode", [](JPEG_CODEC_PROPERTIES&) {}, JpegIoMode::BufferReadImage,
       JpegStatus::InvalidProperties},
      {"odd packed width",
       [](JPEG_CODEC_PROPERTIES& r) {
         r.pixelColor = JpegColor::YCbCr;
         r.pixelSubsampling = 2;
       },
       JpegIoMode::BufferWriteImage, JpegStatus::InvalidProperties},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRequest request;
    request.mode = c.mode;
    Writer writer(encode_test::gradientPicture(17, 9), request);
    c.adjust(writer.record());
    EXPECT_EQ(writer.write().status, c.expected);
    EXPECT_EQ(writer.output()[0], 0) << "something was written";
  }
}

TEST(EncoderWrite, HuffmanDescriptorsAreChecked) {
  struct Case {
    const char* name;
    int32_t dcClass, dcId, acClass, acId;
    JpegStatus expected;
  };
  const Case cases[] = {{"valid", 0, 0, 1, 0, JpegStatus::Ok},
                        {"identifier 4", 0, 4, 1, 0, JpegStatus::BadHuffmanTable},
                        {"AC where DC belongs", 1, 0, 1, 0, JpegStatus::BadHuffmanTable}};
  std::array<uint8_t, 16> dcCounts, acCounts;
  std::array<uint8_t, 12> dcSymbols;
  std::array<uint8_t, 162> acSymbols;
  std::copy(kDcLuminanceCounts.begin(), kDcLuminanceCounts.end(), dcCounts.begin());
  std::copy(kAcLuminanceCounts.begin(), kAcLuminanceCounts.end(), acCounts.begin());
  std::copy(kDcLuminanceSymbols.begin(), kDcLuminanceSymbols.end(), dcSymbols.begin());
  std::copy(kAcLuminanceSymbols.begin(), kAcLuminanceSymbols.end(), acSymbols.begin());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer writer(grayPicture(8, 8), grayRequest());
    JPEG_PROPERTIES& s = writer.record().state;
    s.huffmanTablesSupplied = 1;
    s.huffmanTableCount = 1;
    s.huffmanSpecs[0] = {dcCounts.data(), dcSymbols.data(), c.dcClass, c.dcId};
    s.huffmanSpecs[1] = {acCounts.data(), acSymbols.data(), c.acClass, c.acId};
    const auto result = writer.write();
    EXPECT_EQ(result.status, c.expected);
    if (c.expected == JpegStatus::Ok) {
      // One pair: DHT length 2 + 34 + 12 + 162.
      EXPECT_EQ(payloadOf(parseMarkers(result.bytes), 0xC4).size() + 2, 210u);
    }
  }
}

// Tables written once (modes 10/11) serve later image writes without table segments.
TEST(EncoderWrite, ImageWithoutTablesReusesTheTablesWritten) {
  const Picture picture = encode_test::gradientPicture(24, 24);
  WriteRequest request;
  request.mode = JpegIoMode::BufferWriteTables;
  Writer writer(picture, request);
  const auto tables = writer.write();
  ASSERT_EQ(tables.status, JpegStatus::Ok);
  const auto image = [&] {
    writer.record().jpegBufferSize = 1 << 20;
    const JpegStatus status = jpegWrite(&writer.record(), JpegIoMode::BufferWriteImageNoTables);
    EXPECT_EQ(status, JpegStatus::Ok);
    const int32_t size = writer.record().jpegBufferSize;
    return Bytes(writer.record().jpegBuffer, writer.record().jpegBuffer + size);
  }();
  EXPECT_EQ(markerCodes(parseMarkers(image)), (Bytes{0xD8, 0xC0, 0xDA, 0xD9}));
  // The same image written whole carries the same frame, scan and entropy-coded bytes.
  const auto whole = writePicture(picture);
  ASSERT_EQ(whole.status, JpegStatus::Ok);
  const size_t frame = findMarker(parseMarkers(whole.bytes), 0xC0)->offset;
  EXPECT_EQ(Bytes(image.begin() + 2, image.end()),
            Bytes(whole.bytes.begin() + static_cast<std::ptrdiff_t>(frame), whole.bytes.end()));
}

TEST(EncoderWrite, NonInterleavedWriteOnlyForOneComponent) {
  for (bool gray : {true, false}) {
    SCOPED_TRACE(gray);
    Writer writer(gray ? grayPicture(16, 16) : encode_test::gradientPicture(16, 16),
                  gray ? grayRequest() : WriteRequest{});
    const auto first = writer.write();
    ASSERT_EQ(first.status, JpegStatus::Ok);
    writer.record().useStateAsIs = 1;
    writer.record().state.nonInterleaved = 1;
    writer.record().state.jpegBufferSize = 1 << 20;
    const auto second = writer.write();
    if (gray) {
      ASSERT_EQ(second.status, JpegStatus::Ok);
      EXPECT_EQ(second.bytes, first.bytes);
    } else {
      EXPECT_EQ(second.status, JpegStatus::InvalidProperties);
    }
  }
}

// Planes of samples give the stream the pixels give.
TEST(EncoderWrite, SamplePlanesEncodeLikeThePixels) {
  const Picture picture = grayPicture(24, 16);
  const auto fromPixels = writePicture(picture, grayRequest());
  std::vector<int16_t> plane(picture.bytes.begin(), picture.bytes.end());
  JpegBlockPlanes planes{1, {plane.data(), nullptr, nullptr, nullptr}};
  Writer writer(picture, grayRequest());
  writer.record().state.blockPlanes = &planes;
  writer.record().pixelData = nullptr;
  const auto fromPlanes = writer.write();
  ASSERT_EQ(fromPlanes.status, JpegStatus::Ok);
  EXPECT_EQ(fromPlanes.bytes, fromPixels.bytes);
}

}  // namespace

namespace {

// A buffer larger than the JPEG image is read as its top-left part: the edge tiles are cut
// where the image ends, not where the buffer does.
TEST(EncoderWrite, LargerBufferIsReadAsItsTopLeftPart) {
  const Picture large = encode_test::gradientPicture(40, 20);
  Picture crop{33, 17, 3, {}};
  for (int y = 0; y < 17; ++y) crop.bytes.insert(crop.bytes.end(), large.at(0, y), large.at(33, y));
  const auto expected = writePicture(crop);
  Writer writer(large, WriteRequest{});
  writer.record().jpegWidth = 33;
  writer.record().jpegHeight = 17;
  const auto result = writer.write();
  ASSERT_EQ(result.status, JpegStatus::Ok);
  EXPECT_EQ(result.bytes, expected.bytes);
}

// A file left open by a parameters read on the same record is not where a write goes.
TEST(EncoderWrite, WriteAfterReadOnTheSameRecord) {
  const Picture picture = encode_test::gradientPicture(24, 24);
  const auto expected = writePicture(picture);
  ASSERT_EQ(expected.status, JpegStatus::Ok);
  const std::string path = encode_test::tempPath("read.jpg");
  encode_test::writeFile(path, expected.bytes);

  Writer writer(picture, WriteRequest{});
  JPEG_CODEC_PROPERTIES& record = writer.record();
  record.jpegFileName = path.c_str();
  ASSERT_EQ(jpegRead(&record, JpegIoMode::FileReadParams), JpegStatus::Ok);
  ASSERT_NE(record.state.input.file, 0) << "the parameters read keeps its file open";
  record.pixelColor = JpegColor::Rgb;
  record.pixelChannels = 3;
  record.jpegColor = JpegColor::YCbCr;
  record.jpegSubsampling = JpegSubsampling::H2V2;
  const auto result = writer.write();
  ASSERT_EQ(result.status, JpegStatus::Ok);
  EXPECT_EQ(result.bytes, expected.bytes);
  EXPECT_EQ(encode_test::readFile(path), expected.bytes) << "the file read must stay as it was";
  std::remove(path.c_str());
}

TEST(EncoderWrite, InterruptedWriteReleasedByFree) {
  Writer writer(encode_test::gradientPicture(64, 32), WriteRequest{});
  writer.record().state.interruptRequest = 1;
  ASSERT_EQ(writer.write().status, JpegStatus::InterruptOk);
  EXPECT_NE(writer.record().state.scan, nullptr);
  // The destructor's jpegFree releases the scan record (the sanitizer build checks it).
}

}  // namespace
