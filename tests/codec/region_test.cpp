// Region-of-interest reads: every region equals the same rectangle cut from a whole decode, byte
// for byte, over samplings, scales, restart intervals, sequential and progressive files, file and
// memory input, top-down and bottom-up buffers; later regions on the same record; the restart
// index; refused regions; meshwick-jpeg decode --region.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/decode/region_decoder.h"
#include "codec/jpeg.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/pnm_image.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kData = fs::path(MESHWICK_TEST_DATA);
const fs::path kJpegs = kData / "jpeg";

using test::readBytes;
using test::TempDir;

JpegIoMode imageMode(int scale, bool buffer) {
  int32_t mode = scale == 2 ? 14 : scale == 4 ? 16 : scale == 8 ? 18 : 2;
  return static_cast<JpegIoMode>(mode + (buffer ? 1 : 0));
}

JpegIoMode paramsMode(bool buffer) {
  return buffer ? JpegIoMode::BufferReadParams : JpegIoMode::FileReadParams;
}

using test::Image;

Image crop(const Image& image, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  right = std::min(right, image.width);
  bottom = std::min(bottom, image.height);
  Image out{right - left, bottom - top, image.channels, {}};
  for (int32_t y = top; y < bottom; ++y) {
    const auto first =
        image.pixels.begin() + (static_cast<ptrdiff_t>(y) * image.width + left) * image.channels;
    out.pixels.insert(out.pixels.end(), first, first + static_cast<ptrdiff_t>(out.width) * image.channels);
  }
  return out;
}

// How the caller's buffer is laid out: bottom-up rows and padding exercise the stride rules.
struct BufferShape {
  bool bottomUp = false;
  int32_t padBytes = 0;
};

// A caller buffer of width x height pixels; `sentinel` fills it so that untouched bytes show.
struct PixelBuffer {
  Image image;
  BufferShape shape;
  Bytes memory;

  PixelBuffer(int32_t width, int32_t height, int32_t channels, BufferShape s, uint8_t sentinel = 0xA5)
      : image{width, height, channels, {}}, shape(s) {
    memory.assign(static_cast<size_t>(stride()) * static_cast<size_t>(height), sentinel);
  }
  int32_t stride() const { return image.width * image.channels + shape.padBytes; }

  void describe(JPEG_CODEC_PROPERTIES* p, JpegColor color) {
    p->pixelData = memory.data();
    p->pixelWidth = image.width;
    p->pixelHeight = shape.bottomUp ? -image.height : image.height;
    p->pixelPadBytes = shape.padBytes;
    p->pixelChannels = image.channels;
    p->pixelColor = color;
    p->pixelSubsampling = 0;
  }

  // The stored rows, top-down and tight.
  Image pixels() const {
    Image out = image;
    for (int32_t y = 0; y < image.height; ++y) {
      const int32_t memoryRow = shape.bottomUp ? image.height - 1 - y : y;
      const auto first = memory.begin() + static_cast<ptrdiff_t>(memoryRow) * stride();
      out.pixels.insert(out.pixels.end(), first,
                        first + static_cast<ptrdiff_t>(image.width) * image.channels);
    }
    return out;
  }
};

// The pixel colour tests read a JPEG into: grey stays grey, four components become CMYK, the
// others BGR or RGB.
struct PixelLayout {
  JpegColor color;
  int32_t channels;
};

PixelLayout layoutFor(int32_t jpegChannels, bool rgb) {
  if (jpegChannels == 1) return {JpegColor::Gray, 1};
  if (jpegChannels == 4) return {JpegColor::Cmyk, 4};
  return {rgb ? JpegColor::Rgb : JpegColor::Bgr, 3};
}

// A record reading one JPEG, from its file or from its bytes in memory.
class Reader {
 public:
  Reader(const fs::path& file, bool buffer) : path_(file.string()), buffer_(buffer) {
    if (buffer_) {
      bytes_ = readBytes(file);
      record_.useBuffer(bytes_);
    } else {
      record_->jpegFileName = path_.c_str();
    }
  }

  JPEG_CODEC_PROPERTIES* operator->() { return record_.get(); }
  JPEG_CODEC_PROPERTIES* get() { return record_.get(); }
  Bytes& bytes() { return bytes_; }
  bool buffer() const { return buffer_; }

  JpegStatus readParams() { return record_.read(paramsMode(buffer_)); }

  int32_t scaledWidth(int scale) { return (record_->jpegWidth + scale - 1) / scale; }
  int32_t scaledHeight(int scale) { return (record_->jpegHeight + scale - 1) / scale; }

  // A region read into a buffer of the region's size (the part inside the image).
  JpegStatus readRegion(int scale, PixelLayout layout, BufferShape shape, int32_t left, int32_t top,
                        int32_t right, int32_t bottom, Image* out) {
    const int32_t width = std::min(right, scaledWidth(scale)) - left;
    const int32_t height = std::min(bottom, scaledHeight(scale)) - top;
    PixelBuffer pixels(std::max(width, 1), std::max(height, 1), layout.channels, shape);
    pixels.describe(record_.get(), layout.color);
    const JpegIoMode mode = imageMode(scale, buffer_);
    JpegStatus status = prepareRegionRead(record_.get(), mode, left, top, right, bottom);
    if (status == JpegStatus::Ok) status = record_.read(mode);
    *out = pixels.pixels();
    return status;
  }

  // A whole read at `scale`.
  JpegStatus readWhole(int scale, PixelLayout layout, Image* out) {
    PixelBuffer pixels(scaledWidth(scale), scaledHeight(scale), layout.channels, {});
    pixels.describe(record_.get(), layout.color);
    const JpegStatus status = record_.read(imageMode(scale, buffer_));
    *out = pixels.pixels();
    return status;
  }

 private:
  TestRecord record_;
  std::string path_;
  bool buffer_;
  Bytes bytes_;
};

// The whole image at `scale`, read the ordinary way on a record of its own.
Image wholeDecode(const fs::path& file, int scale, PixelLayout layout, int32_t upsamplingMode = 0) {
  Reader reader(file, true);
  reader->state.upsamplingMode = upsamplingMode;
  EXPECT_EQ(reader.readParams(), JpegStatus::Ok);
  Image image;
  EXPECT_EQ(reader.readWhole(scale, layout, &image), JpegStatus::Ok) << file;
  return image;
}

struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

std::string describe(const Rect& r) {
  return "region " + std::to_string(r.left) + "," + std::to_string(r.top) + " - " + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// Corners, single pixels, strips, MCU-aligned and random rectangles of a width x height image,
// some reaching past its right or bottom edge.
std::vector<Rect> regionsFor(int32_t width, int32_t height, uint32_t seed) {
  std::vector<Rect> regions = {
      {0, 0, 1, 1},
      {width - 1, height - 1, width, height},
      {0, 0, width, 1},
      {0, height / 2, width, height},
      {width / 2, 0, width + 7, height + 9},
      {0, 0, (width + 1) / 2, (height + 1) / 2},
      {std::min(8, width - 1), std::min(16, height - 1), std::min(24, width), std::min(32, height)},
  };
  std::mt19937 random(seed);
  for (int i = 0; i < 8; ++i) {
    const int32_t left = static_cast<int32_t>(random() % static_cast<uint32_t>(width));
    const int32_t top = static_cast<int32_t>(random() % static_cast<uint32_t>(height));
    const int32_t right = left + 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(width - left));
    const int32_t bottom = top + 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(height - top));
    regions.push_back({left, top, right, bottom});
  }
  // A region covering the whole image is an ordinary read; leave those out.
  std::erase_if(regions, [&](const Rect& r) {
    return r.left == 0 && r.top == 0 && r.right >= width && r.bottom >= height;
  });
  return regions;
}

void expectSameImage(const Image& actual, const Image& expected) {
  ASSERT_EQ(actual.width, expected.width);
  ASSERT_EQ(actual.height, expected.height);
  ASSERT_EQ(actual.pixels.size(), expected.pixels.size());
  const auto mismatch = std::mismatch(actual.pixels.begin(), actual.pixels.end(), expected.pixels.begin());
  if (mismatch.first == actual.pixels.end()) return;
  const ptrdiff_t at = (mismatch.first - actual.pixels.begin()) / std::max(actual.channels, 1);
  FAIL() << "first difference at pixel (" << at % actual.width << ", " << at / actual.width
         << "): " << int{*mismatch.first} << " instead of " << int{*mismatch.second};
}

// --- every region equals its cut from the whole image ----------------------------------------

struct RegionFile {
  const char* name;  // in tests/data/jpeg
  // A file that ends inside the entropy-coded data fails in the file modes (memory input reads
  // on with zero bits), region or not.
  bool memoryOnly = false;
};

class RegionFiles : public testing::TestWithParam<RegionFile> {};

TEST_P(RegionFiles, EveryRegionEqualsItsCutFromTheWholeImageAtEveryScale) {
  const fs::path file = kJpegs / GetParam().name;
  Reader probe(file, true);
  ASSERT_EQ(probe.readParams(), JpegStatus::Ok);
  const PixelLayout layout =
      layoutFor(probe->jpegChannels, std::string(GetParam().name).find("444") != std::string::npos);
  uint32_t seed = 1;
  for (const int scale : {1, 2, 4, 8}) {
    const Image whole = wholeDecode(file, scale, layout);
    const std::vector<Rect> regions = regionsFor(whole.width, whole.height, seed++);
    for (size_t i = 0; i < regions.size(); ++i) {
      const Rect& r = regions[i];
      const bool buffer = i % 2 == 0 || GetParam().memoryOnly;
      const BufferShape shape = {i % 3 == 1, i % 3 == 2 ? 3 : 0};
      SCOPED_TRACE("scale 1/" + std::to_string(scale) + ", " + describe(r) +
                   (buffer ? ", memory" : ", file") + (shape.bottomUp ? ", bottom-up" : ""));
      Reader reader(file, buffer);
      ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
      Image region;
      ASSERT_EQ(reader.readRegion(scale, layout, shape, r.left, r.top, r.right, r.bottom, &region),
                JpegStatus::RoiOk);
      expectSameImage(region, crop(whole, r.left, r.top, r.right, r.bottom));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, RegionFiles,
    testing::Values(RegionFile{"p97_grey.jpg"}, RegionFile{"p256_grey.jpg"}, RegionFile{"p97_444.jpg"},
                    RegionFile{"p256_444.jpg"}, RegionFile{"p97_422.jpg"},
                    RegionFile{"p256_422_optimized.jpg"}, RegionFile{"p97_420.jpg"},
                    RegionFile{"p256_420.jpg"}, RegionFile{"p97_440.jpg"}, RegionFile{"p97_411.jpg"},
                    RegionFile{"p97_h4h2h1_sequential.jpg"}, RegionFile{"p97_420_sof1_q16.jpg"},
                    RegionFile{"t17x9_420.jpg"}, RegionFile{"t17x9_444.jpg"}, RegionFile{"t1x1_420.jpg"},
                    RegionFile{"p97_420_rst5.jpg"}, RegionFile{"p97_420_rst1row.jpg"},
                    RegionFile{"p97_422_rst3.jpg"}, RegionFile{"p97_grey_rst7.jpg"},
                    RegionFile{"p97_420_rst5_shuffled.jpg"}, RegionFile{"p97_420_rst5_fillbytes.jpg"},
                    RegionFile{"p97_420_noninterleaved.jpg"}, RegionFile{"p97_444_noninterleaved.jpg"},
                    RegionFile{"p97_420_scans_sequential.jpg"}, RegionFile{"p97_ycck_h2v2.jpg"},
                    RegionFile{"p97_cmyk.jpg"}, RegionFile{"p97_420_truncated.jpg", true},
                    RegionFile{"p97_grey_progressive.jpg"}, RegionFile{"p97_444_progressive.jpg"},
                    RegionFile{"p97_420_progressive.jpg"}, RegionFile{"p256_420_progressive_sa.jpg"},
                    RegionFile{"p97_420_rst5_progressive.jpg"}, RegionFile{"p97_h4h2h1_progressive.jpg"},
                    RegionFile{"t17x9_420_progressive.jpg"}),
    [](const testing::TestParamInfo<RegionFile>& info) {
      std::string name = info.param.name;
      name = name.substr(0, name.find('.'));
      return name;
    });

// Restart intervals of every length in every sampling, made at test time.
TEST(Region, RestartIntervalsOfEveryLayoutGiveTheCutOfTheWholeImage) {
  TempDir dir;
  const fs::path p97 = kData / "sources" / "photo_97x61.ppm";
  const fs::path p256 = kData / "sources" / "photo_256x192.ppm";
  struct Case {
    const char* name;
    const char* options;
    fs::path source;
  };
  const Case cases[] = {
      {"grey_rst1.jpg", "-grayscale -restart 1B", p97},
      {"444_rst1.jpg", "-sample 1x1 -restart 1B", p97},
      {"444_rst4.jpg", "-sample 1x1 -restart 4B", p256},
      {"422_rst1.jpg", "-sample 2x1 -restart 1B", p97},
      {"420_rst1.jpg", "-sample 2x2 -restart 1B", p256},
      {"420_rst2row.jpg", "-sample 2x2 -restart 2", p256},
      {"440_rst3.jpg", "-sample 1x2 -restart 3B", p97},
      {"grey_rst9.jpg", "-grayscale -restart 9B", p256},
      {"grey22.jpg", "-grayscale -sample 2x2", p97},
      {"grey22_rst2.jpg", "-grayscale -sample 2x2 -restart 2B", p97},
  };
  uint32_t seed = 100;
  for (const Case& c : cases) {
    const fs::path file = dir.run(std::string("cjpeg -quality 80 ") + c.options, c.source, c.name);
    const PixelLayout layout = layoutFor(std::string(c.name).starts_with("grey") ? 1 : 3, false);
    for (const int scale : {1, 2, 8}) {
      const Image whole = wholeDecode(file, scale, layout);
      for (const Rect& r : regionsFor(whole.width, whole.height, seed++)) {
        SCOPED_TRACE(std::string(c.name) + " scale 1/" + std::to_string(scale) + ", " + describe(r));
        Reader reader(file, (seed & 1) != 0);
        ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
        Image region;
        ASSERT_EQ(reader.readRegion(scale, layout, {}, r.left, r.top, r.right, r.bottom, &region),
                  JpegStatus::RoiOk);
        expectSameImage(region, crop(whole, r.left, r.top, r.right, r.bottom));
      }
    }
  }
}

// The interpolating upsampler filters across MCU borders: a region gets the same filtered pixels
// as the whole image, at the region's edges too.
TEST(Region, InterpolatedUpsamplingGivesTheCutOfTheWholeImage) {
  const char* files[] = {"p97_420.jpg",
                         "p97_422.jpg",
                         "p256_420.jpg",
                         "p97_420_rst5.jpg",
                         "p97_422_rst3.jpg",
                         "p97_420_progressive.jpg",
                         "p97_420_noninterleaved.jpg",
                         "p97_444.jpg",
                         "p97_440.jpg"};
  uint32_t seed = 500;
  for (const char* name : files) {
    const fs::path file = kJpegs / name;
    for (const int scale : {1, 2}) {
      const Image whole = wholeDecode(file, scale, {JpegColor::Rgb, 3}, 1);
      for (const Rect& r : regionsFor(whole.width, whole.height, seed++)) {
        SCOPED_TRACE(std::string(name) + " scale 1/" + std::to_string(scale) + ", " + describe(r));
        Reader reader(file, (seed & 1) != 0);
        reader->state.upsamplingMode = 1;
        ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
        Image region;
        ASSERT_EQ(
            reader.readRegion(scale, {JpegColor::Rgb, 3}, {}, r.left, r.top, r.right, r.bottom, &region),
            JpegStatus::RoiOk);
        expectSameImage(region, crop(whole, r.left, r.top, r.right, r.bottom));
      }
    }
  }
}

// The interpolated store writes runs of MCUs that a region cuts at odd and even columns: every
// pixel layout the row kernels write, at full size and reduced, gives the cut of the whole image.
TEST(Region, InterpolatedUpsamplingGivesTheCutInEveryConvertedLayout) {
  const char* files[] = {"p97_420.jpg", "p97_422.jpg", "p256_420.jpg", "p97_422_rst3.jpg"};
  const PixelLayout layouts[] = {{JpegColor::Bgr, 3}, {JpegColor::Cmyk, 4}};
  uint32_t seed = 700;
  for (const char* name : files) {
    const fs::path file = kJpegs / name;
    for (const PixelLayout& layout : layouts) {
      for (const int scale : {1, 4}) {
        const Image whole = wholeDecode(file, scale, layout, 1);
        for (const Rect& r : regionsFor(whole.width, whole.height, seed++)) {
          SCOPED_TRACE(std::string(name) + " scale 1/" + std::to_string(scale) + ", " +
                       std::to_string(layout.channels) + " bytes a pixel, " + describe(r));
          Reader reader(file, (seed & 1) != 0);
          reader->state.upsamplingMode = 1;
          ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
          Image region;
          ASSERT_EQ(reader.readRegion(scale, layout, {}, r.left, r.top, r.right, r.bottom, &region),
                    JpegStatus::RoiOk);
          expectSameImage(region, crop(whole, r.left, r.top, r.right, r.bottom));
        }
      }
    }
  }
}

// Grey pictures read into three or four bytes a pixel repeat each sample; whole MCU rows take a
// wider store than the MCUs a region cuts, which must still give the same bytes.
TEST(Region, GreyRepeatedIntoColourPixelsGivesTheCutOfTheWholeImage) {
  const char* files[] = {"p97_grey.jpg", "p256_grey.jpg", "p97_grey_rst7.jpg", "p97_grey_progressive.jpg"};
  const PixelLayout layouts[] = {{JpegColor::Bgr, 3}, {JpegColor::Rgb, 3}, {JpegColor::Cmyk, 4}};
  uint32_t seed = 900;
  for (const char* name : files) {
    const fs::path file = kJpegs / name;
    for (const PixelLayout& layout : layouts) {
      for (const int scale : {1, 2}) {
        const Image whole = wholeDecode(file, scale, layout);
        for (const Rect& r : regionsFor(whole.width, whole.height, seed++)) {
          SCOPED_TRACE(std::string(name) + " scale 1/" + std::to_string(scale) + ", " +
                       std::to_string(layout.channels) + " bytes a pixel, " + describe(r));
          Reader reader(file, (seed & 1) != 0);
          ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
          Image region;
          ASSERT_EQ(reader.readRegion(scale, layout, {}, r.left, r.top, r.right, r.bottom, &region),
                    JpegStatus::RoiOk);
          expectSameImage(region, crop(whole, r.left, r.top, r.right, r.bottom));
        }
      }
    }
  }
}

// --- later regions on the same record -----------------------------------------------------------

struct SequenceCase {
  const char* file;
  bool buffer;
};

class RegionSequences : public testing::TestWithParam<SequenceCase> {};

// Before, after, overlapping, identical and random regions one after the other, at changing
// scales, then the whole image again.
TEST_P(RegionSequences, LaterRegionsOnTheSameRecordGiveTheirCuts) {
  const fs::path file = kJpegs / GetParam().file;
  Reader reader(file, GetParam().buffer);
  ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
  const PixelLayout layout = layoutFor(reader->jpegChannels, false);
  const int32_t w = reader->jpegWidth;
  const int32_t h = reader->jpegHeight;
  struct Step {
    int scale;
    Rect region;
  };
  std::vector<Step> steps = {
      {1, {w / 2, h * 2 / 3, w / 2 + 20, h * 2 / 3 + 10}},  // low in the image first
      {1, {3, 5, 30, 19}},                                  // then near the top
      {1, {3, 5, 30, 19}},                                  // the same again
      {1, {w - 9, h - 4, w, h}},                            // the last MCUs
      {1, {10, h / 2, w - 10, h / 2 + 17}},                 // back to the middle
      {2, {4, 2, 20, 12}},                                  // other scales on the same scan
      {8, {1, 1, 5, 4}},
      {1, {0, 0, 16, 16}},
  };
  std::mt19937 random(7);
  for (int i = 0; i < 6; ++i) {
    const int32_t left = static_cast<int32_t>(random() % static_cast<uint32_t>(w - 1));
    const int32_t top = static_cast<int32_t>(random() % static_cast<uint32_t>(h - 1));
    steps.push_back({1,
                     {left, top, left + 1 + static_cast<int32_t>(random() % 40),
                      top + 1 + static_cast<int32_t>(random() % 40)}});
  }
  Image wholeByScale[9];
  for (const int scale : {1, 2, 8}) wholeByScale[scale] = wholeDecode(file, scale, layout);
  for (const Step& step : steps) {
    const Rect& r = step.region;
    SCOPED_TRACE("scale 1/" + std::to_string(step.scale) + ", " + describe(r));
    Image region;
    ASSERT_EQ(reader.readRegion(step.scale, layout, {}, r.left, r.top, r.right, r.bottom, &region),
              JpegStatus::RoiOk);
    expectSameImage(region, crop(wholeByScale[step.scale], r.left, r.top, r.right, r.bottom));
  }
  // Back to whole reads on the same record.
  clearRegionRead(reader.get());
  Image whole;
  ASSERT_EQ(reader.readWhole(1, layout, &whole), JpegStatus::Ok);
  expectSameImage(whole, wholeByScale[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegionSequences,
    testing::Values(SequenceCase{"p256_420.jpg", true}, SequenceCase{"p256_420.jpg", false},
                    SequenceCase{"p256_grey.jpg", false}, SequenceCase{"p97_420_rst5.jpg", true},
                    SequenceCase{"p97_420_rst5.jpg", false}, SequenceCase{"p97_420_rst1row.jpg", false},
                    SequenceCase{"p97_grey_rst7.jpg", true}, SequenceCase{"p97_422_rst3.jpg", false},
                    SequenceCase{"p97_420_noninterleaved.jpg", false},
                    SequenceCase{"p97_420_scans_sequential.jpg", true},
                    SequenceCase{"p97_420_progressive.jpg", false},
                    SequenceCase{"p97_420_rst5_progressive.jpg", true}),
    [](const testing::TestParamInfo<SequenceCase>& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.')) + (info.param.buffer ? "_memory" : "_file");
    });

// --- the restart index ----------------------------------------------------------------------------

// Offset of the first entropy-coded byte of the first scan.
size_t scanDataStart(const Bytes& jpeg) {
  for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
  }
  return jpeg.size();
}

// Zeroes `count` entropy-coded bytes from `from` on, leaving markers and stuffed bytes alone.
void damageEntropyData(Bytes& jpeg, size_t from, size_t count) {
  for (size_t i = from; i < jpeg.size() && count > 0; ++i) {
    if (jpeg[i] == 0xFF || jpeg[i - 1] == 0xFF) continue;
    jpeg[i] = 0;
    --count;
  }
}

// A later region starts at what the index holds, not at the first MCU: once the first MCUs'
// data is damaged in memory, the second region still comes out right.
TEST(RegionRestartIndex, LaterRegionsStartAtTheIndexNotAtTheFirstMcu) {
  for (const char* name : {"p256_420.jpg", "p256_grey.jpg", "p97_420_rst1row.jpg", "p97_420_rst5.jpg"}) {
    SCOPED_TRACE(name);
    const fs::path file = kJpegs / name;
    Reader reader(file, true);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    const PixelLayout layout = layoutFor(reader->jpegChannels, false);
    const int32_t w = reader->jpegWidth;
    const int32_t h = reader->jpegHeight;
    const Image whole = wholeDecode(file, 1, layout);
    Image region;
    ASSERT_EQ(reader.readRegion(1, layout, {}, 0, h - 8, w, h, &region), JpegStatus::RoiOk);
    expectSameImage(region, crop(whole, 0, h - 8, w, h));

    damageEntropyData(reader.bytes(), scanDataStart(reader.bytes()), 12);
    const Rect middle = {5, h / 2, w - 5, h / 2 + 9};
    ASSERT_EQ(reader.readRegion(1, layout, {}, middle.left, middle.top, middle.right, middle.bottom, &region),
              JpegStatus::RoiOk);
    expectSameImage(region, crop(whole, middle.left, middle.top, middle.right, middle.bottom));

    // The damage is real: a record that has to decode the first MCUs sees it.
    Bytes damaged = reader.bytes();
    TestRecord fresh;
    fresh.useBuffer(damaged);
    ASSERT_EQ(fresh.read(JpegIoMode::BufferReadParams), JpegStatus::Ok);
    PixelBuffer pixels(w, h, layout.channels, {});
    pixels.describe(fresh.get(), layout.color);
    const JpegStatus status = fresh.read(JpegIoMode::BufferReadImage);
    if (status == JpegStatus::Ok) {
      EXPECT_NE(pixels.pixels().pixels, whole.pixels);
    }
  }
}

// With restart markers even the first region passes over the intervals before it by their markers.
TEST(RegionRestartIndex, IntervalsBeforeTheRegionArePassedOverByTheirMarkers) {
  for (const char* name : {"p97_420_rst1row.jpg", "p97_420_rst5.jpg", "p97_grey_rst7.jpg"}) {
    SCOPED_TRACE(name);
    const fs::path file = kJpegs / name;
    const Image whole =
        wholeDecode(file, 1, layoutFor(std::string(name).find("grey") != std::string::npos ? 1 : 3, false));
    Reader reader(file, true);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    const PixelLayout layout = layoutFor(reader->jpegChannels, false);
    damageEntropyData(reader.bytes(), scanDataStart(reader.bytes()), 6);
    const int32_t h = reader->jpegHeight;
    Image region;
    ASSERT_EQ(reader.readRegion(1, layout, {}, 0, h - 10, reader->jpegWidth, h, &region), JpegStatus::RoiOk);
    expectSameImage(region, crop(whole, 0, h - 10, reader->jpegWidth, h));
  }
}

// A grey picture of width x height with texture in every block, as binary PGM.
void writeTexturePgm(const fs::path& path, int32_t width, int32_t height) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << width << " " << height << "\n255\n";
  std::mt19937 random(3);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int value = (x * 3 + y * 5) % 256 / 2 + static_cast<int>(random() % 64);
      out.put(static_cast<char>(value));
    }
  }
}

// 8450 restart intervals: the index keeps its 8192 entries, and regions past them are still right.
TEST(RegionRestartIndex, RegionsPastTheIndexCapacityAreRight) {
  TempDir dir;
  const fs::path pgm = dir.path() / "texture.pgm";
  writeTexturePgm(pgm, 1040, 520);
  const fs::path file = dir.run("cjpeg -grayscale -quality 60 -restart 1B", pgm, "many_rst.jpg");
  const Image whole = wholeDecode(file, 1, {JpegColor::Gray, 1});
  for (const bool buffer : {true, false}) {
    SCOPED_TRACE(buffer ? "memory" : "file");
    Reader reader(file, buffer);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    ASSERT_EQ(reader->state.restartInterval, 1);
    const Rect regions[] = {
        {1030, 510, 1040, 520}, {5, 3, 40, 20}, {1000, 500, 1039, 519}, {600, 509, 1040, 516}};
    for (const Rect& r : regions) {
      SCOPED_TRACE(describe(r));
      Image region;
      ASSERT_EQ(reader.readRegion(1, {JpegColor::Gray, 1}, {}, r.left, r.top, r.right, r.bottom, &region),
                JpegStatus::RoiOk);
      expectSameImage(region, crop(whole, r.left, r.top, r.right, r.bottom));
    }
  }
}

RestartIndex* failingAllocation() {
  return nullptr;
}

TEST(RegionRestartIndex, AllocationFailureIsMemoryErrorAndLeavesNoIndex) {
  TestRecord record;
  EXPECT_EQ(ensureRestartIndex(&record->state, failingAllocation), JpegStatus::MemoryError);
  EXPECT_EQ(record->state.restartIndex, nullptr);
}

// The file shrinks between two regions: going back to an earlier restart point finds no data.
TEST(RegionRestartIndex, RepositioningAFileThatLostItsDataIsAFileError) {
  TempDir dir;
  const fs::path file = dir.path() / "shrinking.jpg";
  fs::copy_file(kJpegs / "p256_420.jpg", file);
  Reader reader(file, false);
  ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
  const PixelLayout layout = layoutFor(3, false);
  Image region;
  ASSERT_EQ(reader.readRegion(1, layout, {}, 0, 170, 256, 192, &region), JpegStatus::RoiOk);
  fs::resize_file(file, scanDataStart(readBytes(kJpegs / "p256_420.jpg")) + 16);
  EXPECT_EQ(reader.readRegion(1, layout, {}, 0, 40, 256, 60, &region), JpegStatus::FileError);
}

// --- refused regions ----------------------------------------------------------------------------

TEST(Region, EmptyOrOutsideRegionsAreRefusedBeforeDecoding) {
  struct Case {
    int scale;
    Rect region;
  };
  // p97: 97 x 61 pixels, 49 x 31 at 1/2.
  const Case cases[] = {
      {1, {-1, 0, 10, 10}}, {1, {0, -1, 10, 10}}, {1, {10, 0, 10, 5}}, {1, {0, 10, 5, 10}},
      {1, {20, 0, 10, 5}},  {1, {97, 0, 100, 5}}, {1, {0, 61, 5, 70}}, {1, {200, 200, 300, 300}},
      {2, {49, 0, 60, 5}},  {2, {0, 31, 10, 40}}, {8, {13, 0, 14, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("scale 1/" + std::to_string(c.scale) + ", " + describe(c.region));
    Reader reader(kJpegs / "p97_420.jpg", true);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    PixelBuffer pixels(97, 61, 3, {});
    pixels.describe(reader.get(), JpegColor::Bgr);
    const Rect& r = c.region;
    EXPECT_EQ(prepareRegionRead(reader.get(), imageMode(c.scale, true), r.left, r.top, r.right, r.bottom),
              JpegStatus::InvalidProperties);
    EXPECT_EQ(reader->useStateAsIs, 0);
  }
}

TEST(Region, RefusedSetUps) {
  Reader reader(kJpegs / "p97_420.jpg", true);
  ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
  PixelBuffer small(10, 10, 3, {});
  small.describe(reader.get(), JpegColor::Bgr);
  // The buffer must hold the region; modes that decode no image take no region.
  EXPECT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, 0, 0, 11, 10),
            JpegStatus::InvalidProperties);
  EXPECT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadParams, 0, 0, 5, 5),
            JpegStatus::InvalidProperties);
  EXPECT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadThumbnail, 0, 0, 5, 5),
            JpegStatus::InvalidProperties);
  // The usual validation runs first.
  reader->pixelData = nullptr;
  EXPECT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, 0, 0, 5, 5),
            JpegStatus::InvalidProperties);
  small.describe(reader.get(), JpegColor::Bgr);
  EXPECT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, 87, 51, 200, 200), JpegStatus::Ok);
  EXPECT_EQ(reader->state.regionOfInterest[2], 97) << "right is cut back to the image";
  EXPECT_EQ(reader->state.regionOfInterest[3], 61);
}

// A caller filling `state` itself with a region outside the image gets -8 and untouched pixels.
TEST(Region, RegionOutsideTheImageInStateIsRefusedAtTheScan) {
  for (const bool progressive : {false, true}) {
    Reader reader(kJpegs / (progressive ? "p97_420_progressive.jpg" : "p97_420.jpg"), true);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    PixelBuffer pixels(20, 20, 3, {});
    pixels.describe(reader.get(), JpegColor::Bgr);
    ASSERT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, 0, 0, 20, 20), JpegStatus::Ok);
    reader->state.regionOfInterest[0] = 100;
    reader->state.regionOfInterest[2] = 120;
    EXPECT_EQ(jpegRead(reader.get(), JpegIoMode::BufferReadImage), JpegStatus::InvalidProperties);
    EXPECT_TRUE(std::all_of(pixels.memory.begin(), pixels.memory.end(), [](uint8_t b) { return b == 0xA5; }));
  }
}

// Negative corners set in `state` are cut back to the image: the buffer starts at its edge.
TEST(Region, NegativeCornersInStateAreCutBackToTheImage) {
  const fs::path file = kJpegs / "p97_420.jpg";
  const Image whole = wholeDecode(file, 1, {JpegColor::Bgr, 3});
  const Rect regions[] = {{-5, 10, 20, 30}, {-3, -4, 97, 61}, {-1, -1, 0, 0}};
  for (const Rect& r : regions) {
    SCOPED_TRACE(describe(r));
    Reader reader(file, true);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    PixelBuffer pixels(97, 61, 3, {});
    pixels.describe(reader.get(), JpegColor::Bgr);
    ASSERT_EQ(prepareRegionRead(reader.get(), JpegIoMode::BufferReadImage, 0, 0, 1, 1), JpegStatus::Ok);
    std::copy_n(&r.left, 4, reader->state.regionOfInterest);
    const Rect cut = {0, std::max(r.top, 0), r.right == 0 ? 97 : r.right, r.bottom == 0 ? 61 : r.bottom};
    // Cut back to the whole image, the read is an ordinary one.
    const bool wholeImage = cut.top == 0 && cut.right == 97 && cut.bottom == 61;
    ASSERT_EQ(jpegRead(reader.get(), JpegIoMode::BufferReadImage),
              wholeImage ? JpegStatus::Ok : JpegStatus::RoiOk);
    expectSameImage(crop(pixels.pixels(), 0, 0, cut.right - cut.left, cut.bottom - cut.top),
                    crop(whole, cut.left, cut.top, cut.right, cut.bottom));
  }
}

// A region read does not stop on interruptRequest (the region fields would give way to the
// progress); the request stays for the next read.
TEST(Region, RegionReadsLeaveInterruptRequestsAlone) {
  for (const char* name : {"p256_420.jpg", "p97_420_progressive.jpg", "p97_420_noninterleaved.jpg"}) {
    SCOPED_TRACE(name);
    const fs::path file = kJpegs / name;
    const Image whole = wholeDecode(file, 1, {JpegColor::Bgr, 3});
    Reader reader(file, true);
    ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
    reader->state.interruptRequest = 1;
    Image region;
    ASSERT_EQ(reader.readRegion(1, {JpegColor::Bgr, 3}, {}, 5, 20, 60, 50, &region), JpegStatus::RoiOk);
    expectSameImage(region, crop(whole, 5, 20, 60, 50));
    EXPECT_EQ(reader->state.interruptRequest, 1);
  }
}

// The MCUs before the resume point of an interrupted whole read have gone by: a region read
// continuing that scan is refused instead of leaving them out.
TEST(Region, RegionOnAScanLeftByAnInterruptedWholeReadIsRefused) {
  Reader reader(kJpegs / "p256_420.jpg", true);
  ASSERT_EQ(reader.readParams(), JpegStatus::Ok);
  reader->state.interruptRequest = 1;
  Image whole;
  ASSERT_EQ(reader.readWhole(1, {JpegColor::Bgr, 3}, &whole), JpegStatus::InterruptOk);
  Image region;
  EXPECT_EQ(reader.readRegion(1, {JpegColor::Bgr, 3}, {}, 0, 0, 20, 20, &region),
            JpegStatus::InvalidProperties);
}

// --- meshwick-jpeg decode --region ------------------------------------------------------------------

Image parsePnm(const Bytes& bytes) {
  Image out;
  if (bytes.size() < 3 || bytes[0] != 'P') return out;
  out.channels = bytes[1] == '5' ? 1 : 3;
  size_t pos = 2;
  int32_t fields[3] = {};
  for (int32_t& field : fields) {
    while (pos < bytes.size() && std::isspace(bytes[pos])) ++pos;
    while (pos < bytes.size() && std::isdigit(bytes[pos])) field = field * 10 + (bytes[pos++] - '0');
  }
  ++pos;
  out.width = fields[0];
  out.height = fields[1];
  out.pixels.assign(bytes.begin() + static_cast<ptrdiff_t>(std::min(pos, bytes.size())), bytes.end());
  return out;
}

int runTool(const std::string& arguments) {
  const std::string command = std::string(MESHWICK_JPEG_TOOL) + " " + arguments + " 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegionTool, DecodeRegionWritesTheCutOfTheWholeImage) {
  TempDir dir;
  struct Case {
    const char* file;
    const char* format;
    const char* options;
    Rect region;  // left, top, width, height as given on the command line
  };
  const Case cases[] = {
      {"p256_420.jpg", "ppm", "", {13, 7, 40, 30}},
      {"p97_420_rst5.jpg", "ppm", "--buffer", {50, 20, 100, 100}},
      {"p97_grey.jpg", "pgm", "--scale 2", {3, 4, 10, 9}},
      {"p97_420_progressive.jpg", "ppm", "--scale 4", {0, 5, 24, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string in = (kJpegs / c.file).string();
    const fs::path whole = dir.path() / (std::string("whole.") + c.format);
    const fs::path part = dir.path() / (std::string("part.") + c.format);
    ASSERT_EQ(runTool("decode " + in + " " + whole.string() + " " + c.options), 0);
    const Rect& r = c.region;
    const std::string region = std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                               std::to_string(r.right) + "," + std::to_string(r.bottom);
    ASSERT_EQ(runTool("decode " + in + " " + part.string() + " " + c.options + " --region " + region), 0);
    expectSameImage(parsePnm(readBytes(part)),
                    crop(parsePnm(readBytes(whole)), r.left, r.top, r.left + r.right, r.top + r.bottom));
  }
  const std::string in = (kJpegs / "p97_420.jpg").string();
  const std::string out = (dir.path() / "x.ppm").string();
  for (const char* bad : {"1,2,3", "1,2,3,4,5", "0,0,0,5", "-1,0,5,5", "a,0,5,5", "2147483647,0,5,5"}) {
    EXPECT_EQ(runTool("decode " + in + " " + out + " --region " + bad), 2) << bad;
  }
  EXPECT_EQ(runTool("decode " + in + " " + out + " --region 97,0,5,5"), 1) << "starts outside the image";
  EXPECT_EQ(runTool("decode " + in + " " + out + " --thumbnail --region 0,0,5,5"), 2);
}

}  // namespace
