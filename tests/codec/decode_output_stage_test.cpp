// The decoder's output stage: frame set-up and the choice of store routine, destination and
// clipping, the general routines, the scaled path and the final conversion pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "codec/decode/output_stage.h"
#include "codec/dispatch.h"
#include "codec/jpeg.h"
#include "codec/kernel_table.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/validation.h"

namespace {

constexpr uint8_t kPoison = 0xA5;
constexpr int32_t kImageMode = 2;   // FileReadImage
constexpr int32_t kParamsMode = 0;  // FileReadParams

struct Frame {
  int32_t components;
  std::array<std::pair<int32_t, int32_t>, 4> factors;  // horizontal, vertical
  JpegColor color;
  int32_t width;
  int32_t height;
};

struct PixelBuffer {
  int32_t channels;
  JpegColor color;
  int32_t width;
  int32_t height;  // negative: bottom-up
  int32_t pad = 0;
};

Frame ycc(std::pair<int32_t, int32_t> luma, int32_t width = 32, int32_t height = 32) {
  return {3, {luma, std::pair{1, 1}, std::pair{1, 1}, std::pair{1, 1}}, JpegColor::YCbCr, width, height};
}

Frame ycck(std::pair<int32_t, int32_t> luma, int32_t width = 32, int32_t height = 32) {
  return {4, {luma, std::pair{1, 1}, std::pair{1, 1}, luma}, JpegColor::Ycck, width, height};
}

// A bare working record around a pixel buffer with poisoned guard bytes on every side.
class Stage {
 public:
  static constexpr ptrdiff_t kGuard = 64;

  Stage(const Frame& frame, const PixelBuffer& pixels, int32_t ioMode = kImageMode)
      : state_(std::make_unique<JPEG_PROPERTIES>()), scratch_(64 * 64 + 16, 0) {
    fillKernelTable(&kernels_, CpuClass::Generic);
    JPEG_PROPERTIES& s = *state_;
    s.ioMode = ioMode;
    s.input.kernels = &kernels_;
    s.components = components_.data();
    s.scratch = reinterpret_cast<uint8_t*>(scratch_.data());
    s.componentCount = frame.components;
    s.maxHorizontalFactor = s.maxVerticalFactor = 1;
    for (int32_t i = 0; i < std::min(frame.components, 4); ++i) {
      components_[i] = {i + 1, frame.factors[i].first, frame.factors[i].second, 0};
      s.maxHorizontalFactor = std::max(s.maxHorizontalFactor, frame.factors[i].first);
      s.maxVerticalFactor = std::max(s.maxVerticalFactor, frame.factors[i].second);
    }
    s.imageWidth = frame.width;
    s.imageHeight = frame.height;
    s.jpegColor = frame.color;
    s.pixelWidth = pixels.width;
    s.pixelHeight = pixels.height;
    s.pixelChannels = pixels.channels;
    s.pixelColor = pixels.color;
    s.pixelPadBytes = pixels.pad;
    rowBytes_ = int64_t{pixels.width} * pixels.channels + pixels.pad;
    rows_ = pixels.height < 0 ? -pixels.height : pixels.height;
    memory_.assign(static_cast<size_t>(2 * kGuard + rowBytes_ * rows_), kPoison);
    applyLineStride(&s, memory_.data() + kGuard, false);
  }

  JPEG_PROPERTIES& state() { return *state_; }
  KernelTable& kernels() { return kernels_; }
  int16_t* scratch() { return scratch_.data(); }
  JpegStatus setUp() { return runFrameSetUp(state_.get()); }

  // Pixel (x, y) of the image rows as the caller sees them (row 0 first).
  const uint8_t* pixel(int32_t x, int32_t y) const {
    const int64_t memoryRow = state_->pixelHeight < 0 ? rows_ - 1 - y : y;
    return memory_.data() + kGuard + memoryRow * rowBytes_ + int64_t{x} * state_->pixelChannels;
  }
  std::vector<uint8_t> pixelBytes(int32_t x, int32_t y) const {
    return {pixel(x, y), pixel(x, y) + state_->pixelChannels};
  }

  // Every byte that is not one of the first `width` x `height` pixels still holds the poison.
  bool untouchedBeyond(int32_t width, int32_t height) const {
    for (size_t i = 0; i < memory_.size(); ++i) {
      const int64_t offset = static_cast<int64_t>(i) - kGuard;
      bool inside = false;
      if (offset >= 0 && offset < rowBytes_ * rows_) {
        const int64_t memoryRow = offset / rowBytes_, column = offset % rowBytes_;
        const int64_t row = state_->pixelHeight < 0 ? rows_ - 1 - memoryRow : memoryRow;
        inside = row < height && column < int64_t{width} * state_->pixelChannels;
      }
      if (!inside && memory_[i] != kPoison) return false;
    }
    return true;
  }
  bool untouched() const { return untouchedBeyond(0, 0); }

  // Deterministic samples for the MCU at (column, row), `blocks` blocks.
  void fillMcu(int32_t column, int32_t row, int32_t blocks, uint32_t seed) {
    uint32_t x =
        seed * 2654435761u + static_cast<uint32_t>(column) * 40503u + static_cast<uint32_t>(row) * 9973u;
    for (int32_t i = 0; i < 64 * blocks; ++i) {
      x = x * 1664525u + 1013904223u;
      scratch_[i] = static_cast<int16_t>((x >> 24) & 0xFF);
    }
  }

  int32_t blocksPerMcu() const {
    int32_t blocks = 0;
    for (int32_t i = 0; i < state_->componentCount; ++i)
      blocks += components_[i].horizontalFactor * components_[i].verticalFactor;
    return blocks;
  }

  // Stores every MCU of the frame through storeMcu; returns the statuses in raster order.
  std::vector<int32_t> storeAll(uint32_t seed) {
    std::vector<int32_t> statuses;
    for (int32_t r = 0; r < state_->mcuRows; ++r) {
      for (int32_t c = 0; c < state_->mcusPerRow; ++c) {
        fillMcu(c, r, blocksPerMcu(), seed);
        statuses.push_back(kernels_.storeMcu(state_.get(), c, r));
      }
    }
    return statuses;
  }

  // Stores one component-only scan (component `index`) the way a sequential image stored
  // component by component arrives: one block per MCU over that component's block grid.
  void storeComponentScan(int32_t index, uint32_t seed) {
    ScanComponent component{
        index,  components_[index].horizontalFactor, components_[index].verticalFactor, nullptr, nullptr,
        nullptr};
    ScanRecord scan{};
    scan.componentCount = 1;
    scan.components = &component;
    state_->scan = &scan;
    state_->nonInterleaved = 1;
    ASSERT_EQ(setUp(), JpegStatus::Ok);
    const int32_t maxH = state_->maxHorizontalFactor, maxV = state_->maxVerticalFactor;
    const int32_t width = (state_->imageWidth * component.horizontalFactor + maxH - 1) / maxH;
    const int32_t height = (state_->imageHeight * component.verticalFactor + maxV - 1) / maxV;
    for (int32_t r = 0; r < (height + 7) / 8; ++r) {
      for (int32_t c = 0; c < (width + 7) / 8; ++c) {
        fillComponentBlock(index, c, r, seed);
        kernels_.storeMcu(state_.get(), c, r);
      }
    }
    state_->scan = nullptr;
    state_->nonInterleaved = 0;
  }

  // The block of component `index` at block position (bx, by) of the component's grid, taken
  // from the interleaved MCU samples of the same seed, so both ways of storing see the same data.
  void fillComponentBlock(int32_t index, int32_t bx, int32_t by, uint32_t seed) {
    const int32_t h = components_[index].horizontalFactor, v = components_[index].verticalFactor;
    fillMcu(bx / h, by / v, blocksPerMcu(), seed);
    int32_t offset = 0;
    for (int32_t i = 0; i < index; ++i)
      offset += components_[i].horizontalFactor * components_[i].verticalFactor;
    offset += (by % v) * h + bx % h;
    std::copy_n(scratch_.begin() + 64 * offset, 64, scratch_.begin());
  }

 private:
  std::unique_ptr<JPEG_PROPERTIES> state_;
  KernelTable kernels_{};
  std::array<JpegComponent, 4> components_{};
  std::vector<int16_t> scratch_;
  std::vector<uint8_t> memory_;
  int64_t rowBytes_ = 0;
  int64_t rows_ = 0;
};

// --- the choice of the store routine ---------------------------------------------------------

enum class Routine { None, Dedicated, Copy, General, GeneralConverted, ScanPacked };

struct ChoiceCase {
  const char* name;
  Frame frame;
  PixelBuffer pixels;
  int32_t upsamplingMode;
  JpegStatus status;
  Routine routine;
  ConvertMcuKernel KernelTable::*kernel;  // for Dedicated
  int32_t code;
  int32_t conversion;
  int32_t sampling;
};

StoreMcuRoutine expectedRoutine(const ChoiceCase& c) {
  switch (c.routine) {
    case Routine::None:
      return nullptr;
    case Routine::Dedicated:
      return dedicatedStoreRoutine(c.kernel);
    case Routine::Copy:
      return storeMcuCopy;
    case Routine::General:
      return storeMcuGeneral;
    case Routine::GeneralConverted:
      return storeMcuGeneralConverted;
    case Routine::ScanPacked:
      return storeScanPacked;
  }
  return nullptr;
}

constexpr std::pair<int32_t, int32_t> k11{1, 1}, k22{2, 2}, k21{2, 1}, k12{1, 2};

Frame rgbFrame(std::pair<int32_t, int32_t> first) {
  return {3, {first, k11, k11, k11}, JpegColor::Rgb, 32, 32};
}
Frame grayFrame(std::pair<int32_t, int32_t> factors = k11) {
  return {1, {factors, k11, k11, k11}, JpegColor::Gray, 32, 32};
}
Frame cmykFrame() {
  return {4, {k11, k11, k11, k11}, JpegColor::Cmyk, 32, 32};
}
Frame twoComponentFrame() {
  return {2, {k11, k11, k11, k11}, JpegColor::Other, 32, 32};
}

PixelBuffer pixels(int32_t channels, JpegColor color) {
  return {channels, color, 32, 32};
}

using KT = KernelTable;
const JpegStatus kOk = JpegStatus::Ok;
const JpegStatus kInvalid = JpegStatus::InvalidProperties;

const ChoiceCase kChoiceCases[] = {
    // The dedicated rows, in table order.
    {"H2V2ToRgb", ycc(k22), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Dedicated, &KT::convertH2V2ToRgb, 3,
     1, 1},
    {"H2V1ToRgb", ycc(k21), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Dedicated, &KT::convertH2V1ToRgb, 5,
     1, 1},
    {"H2V2ToBgr", ycc(k22), pixels(3, JpegColor::Bgr), 0, kOk, Routine::Dedicated, &KT::convertH2V2ToBgr, 4,
     1, 1},
    {"H2V1ToBgr", ycc(k21), pixels(3, JpegColor::Bgr), 0, kOk, Routine::Dedicated, &KT::convertH2V1ToBgr, 6,
     1, 1},
    {"H2V2ToRgbx", ycc(k22), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated, &KT::convertH2V2ToRgbx,
     8, 1, 1},
    {"H2V1ToRgbx", ycc(k21), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated, &KT::convertH2V1ToRgbx,
     9, 1, 1},
    {"H2V2YcckToCmyk", ycck(k22), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated,
     &KT::convertH2V2YcckToCmyk, 11, 1, 1},
    {"H2V1YcckToCmyk", ycck(k21), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated,
     &KT::convertH2V1YcckToCmyk, 12, 1, 1},
    {"H1V1ToRgb", ycc(k11), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Dedicated, &KT::convertH1V1ToRgb, 1,
     1, 0},
    {"H1V1ToBgr", ycc(k11), pixels(3, JpegColor::Bgr), 0, kOk, Routine::Dedicated, &KT::convertH1V1ToBgr, 2,
     1, 0},
    {"H1V1ToRgbx", ycc(k11), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated, &KT::convertH1V1ToRgbx,
     7, 1, 0},
    {"H1V1YcckToCmyk", ycck(k11), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated,
     &KT::convertH1V1YcckToCmyk, 10, 1, 0},
    {"UpsampleH2V2Copy", rgbFrame(k22), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Dedicated,
     &KT::upsampleH2V2Copy, 16, 0, 1},
    {"UpsampleH2V1Copy", rgbFrame(k21), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Dedicated,
     &KT::upsampleH2V1Copy, 17, 0, 1},
    {"CopyGray", grayFrame(), pixels(1, JpegColor::Gray), 0, kOk, Routine::Dedicated, &KT::copyGray, 0, 0, 0},
    {"PackH2V1", ycc(k21), pixels(2, JpegColor::YCbCr), 0, kOk, Routine::Dedicated, &KT::packH2V1, 19, 0, 0},
    {"Copy3To3", rgbFrame(k11), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Dedicated, &KT::copy3To3, 15, 0,
     0},
    {"Copy3To4", rgbFrame(k11), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated, &KT::copy3To4, 13, 0,
     0},
    {"Copy4To4", cmykFrame(), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Dedicated, &KT::copy4To4, 14, 0,
     0},

    // Conversion and sampling outside the dedicated layouts, or interpolating.
    {"OtherLayoutConverts", ycc(k12), pixels(3, JpegColor::Rgb), 0, kOk, Routine::GeneralConverted, nullptr,
     0, 1, 1},
    {"TriangleConverts", ycc(k22), pixels(3, JpegColor::Bgr), 1, kOk, Routine::GeneralConverted, nullptr, 0,
     1, 1},
    {"YcckOtherLayoutConverts", ycck(k12), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::GeneralConverted,
     nullptr, 0, 1, 1},
    {"UnknownUpsamplingMode", ycc(k22), pixels(3, JpegColor::Rgb), 2, kInvalid, Routine::None, nullptr, 0, 1,
     1},

    // Sampling without conversion.
    {"RgbToBgrSampled", rgbFrame(k22), pixels(3, JpegColor::Bgr), 0, kOk, Routine::General, nullptr, 0, 0, 1},
    {"YccToGraySampled", ycc(k22), pixels(1, JpegColor::Gray), 0, kOk, Routine::General, nullptr, 0, 0, 1},
    {"RgbToCmykSampled", rgbFrame(k22), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::General, nullptr, 0, 0,
     1},
    {"CmykSampled",
     {4, {k22, k11, k11, k22}, JpegColor::Cmyk, 32, 32},
     pixels(4, JpegColor::Cmyk),
     0,
     kOk,
     Routine::General,
     nullptr,
     0,
     0,
     1},
    {"UpsampleCopyTriangle", rgbFrame(k22), pixels(3, JpegColor::Rgb), 1, kOk, Routine::General, nullptr, 0,
     0, 1},
    {"UpsampleCopyUnknownMode", rgbFrame(k21), pixels(3, JpegColor::Rgb), 3, kInvalid, Routine::None, nullptr,
     0, 0, 1},

    // Neither.
    {"GrayToBgr", grayFrame(), pixels(3, JpegColor::Bgr), 0, kOk, Routine::Copy, nullptr, 0, 0, 0},
    {"GrayToCmyk", grayFrame(), pixels(4, JpegColor::Cmyk), 0, kOk, Routine::Copy, nullptr, 0, 0, 0},
    {"TwoComponents", twoComponentFrame(), pixels(2, JpegColor::Other), 0, kOk, Routine::Copy, nullptr, 0, 0,
     0},
    {"RgbToBgr", rgbFrame(k11), pixels(3, JpegColor::Bgr), 0, kOk, Routine::Copy, nullptr, 0, 0, 0},
    {"RgbToFourNotCmyk", rgbFrame(k11), pixels(4, JpegColor::Rgb), 0, kOk, Routine::Copy, nullptr, 0, 0, 0},
    {"CmykToThree", cmykFrame(), pixels(3, JpegColor::Rgb), 0, kOk, Routine::Copy, nullptr, 0, 0, 0},
    {"YccToGrayUnsampled", ycc(k11), pixels(1, JpegColor::Gray), 0, kOk, Routine::Copy, nullptr, 0, 0, 0},

    // One-component frames are stored block by block whatever their factors say.
    {"GrayWithFactors", grayFrame(k22), pixels(1, JpegColor::Gray), 0, kOk, Routine::Dedicated, &KT::copyGray,
     0, 0, 0},
    // YCbCr pixels keep the stream's subsampled layout: H2V1 into three channels goes through
    // the general routine, not the 8x8 copy.
    {"YccH2V1ToThreeYccChannels", ycc(k21), pixels(3, JpegColor::YCbCr), 0, kOk, Routine::General, nullptr, 0,
     0, 0},

    // Rejections and combinations without a routine.
    {"NoComponents",
     {0, {k11, k11, k11, k11}, JpegColor::Other, 32, 32},
     pixels(3, JpegColor::Rgb),
     0,
     JpegStatus::ComponentError,
     Routine::None,
     nullptr,
     0,
     0,
     0},
    {"TooManyComponents",
     {256, {k11, k11, k11, k11}, JpegColor::Other, 32, 32},
     pixels(3, JpegColor::Rgb),
     0,
     JpegStatus::ComponentError,
     Routine::None,
     nullptr,
     0,
     0,
     0},
    {"YccToYccH2V2", ycc(k22), pixels(2, JpegColor::YCbCr), 0, kInvalid, Routine::None, nullptr, 0, 0, 0},
    {"YccToYccH1V1", ycc(k11), pixels(3, JpegColor::YCbCr), 0, kInvalid, Routine::None, nullptr, 0, 0, 0},
    {"FractionalRatio",
     {3, {std::pair{3, 1}, k21, k11, k11}, JpegColor::YCbCr, 32, 32},
     pixels(3, JpegColor::Rgb),
     0,
     JpegStatus::UnsupportedSubsampling,
     Routine::None,
     nullptr,
     0,
     0,
     0},
    {"YccToFourRgb", ycc(k22), pixels(4, JpegColor::Rgb), 0, kInvalid, Routine::None, nullptr, 0, 1, 1},
    {"FourComponentsToOneChannel", cmykFrame(), pixels(1, JpegColor::Gray), 0, kInvalid, Routine::None,
     nullptr, 0, 0, 0},
    {"ZeroChannels", ycc(k22), pixels(0, JpegColor::Rgb), 0, kInvalid, Routine::None, nullptr, 0, 1, 1},
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
  *os << c.name;
}

class OutputStageChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(OutputStageChoice, PicksTheRoutineAndCodeOfTheTable) {
  const ChoiceCase& c = GetParam();
  Stage stage(c.frame, c.pixels);
  stage.state().upsamplingMode = c.upsamplingMode;
  stage.state().outputConversion = 99;
  stage.kernels().storeMcu = storeMcuCopy;  // whatever a previous frame left
  ASSERT_EQ(stage.setUp(), c.status);
  EXPECT_EQ(stage.kernels().storeMcu, expectedRoutine(c));
  EXPECT_EQ(stage.state().outputConversion, c.code);
  if (c.status != JpegStatus::Ok && c.status != JpegStatus::InvalidProperties) return;
  EXPECT_EQ(stage.state().colorConversionNeeded, c.conversion);
  EXPECT_EQ(stage.state().samplingNeeded, c.sampling);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputStageChoice, testing::ValuesIn(kChoiceCases),
                         [](const testing::TestParamInfo<ChoiceCase>& info) {
                           return std::string(info.param.name);
                         });

// Reading parameters must not fail for pixels the image could not be decoded into.
TEST(OutputStage, ParameterReadsAreNotRefusedForAMissingRoutine) {
  Stage stage(ycck(k22), pixels(3, JpegColor::Bgr), kParamsMode);
  EXPECT_EQ(stage.setUp(), JpegStatus::Ok);
  EXPECT_EQ(stage.kernels().storeMcu, nullptr);
}

TEST(OutputStage, SingleComponentScansUseTheGeneralOrPackedRoutine) {
  for (const auto& [buffer, expected] :
       {std::pair{pixels(3, JpegColor::Rgb), StoreMcuRoutine{storeMcuGeneral}},
        std::pair{pixels(2, JpegColor::YCbCr), StoreMcuRoutine{storeScanPacked}}}) {
    Stage stage(ycc(k21), buffer);
    ScanComponent component{1, 1, 1, nullptr, nullptr, nullptr};
    ScanRecord scan{};
    scan.componentCount = 1;
    scan.components = &component;
    stage.state().scan = &scan;
    stage.state().nonInterleaved = 1;
    ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
    EXPECT_EQ(stage.kernels().storeMcu, expected);
    EXPECT_EQ(stage.state().mcuWidth, 8);
    EXPECT_EQ(stage.state().mcuHeight, 8);
  }
}

TEST(OutputStage, McuGeometryFollowsTheLargestFactors) {
  Stage stage(ycc(k22, 100, 37), {3, JpegColor::Rgb, 100, 37});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  EXPECT_EQ(stage.state().mcuWidth, 16);
  EXPECT_EQ(stage.state().mcuHeight, 16);
  EXPECT_EQ(stage.state().mcusPerRow, 7);
  EXPECT_EQ(stage.state().mcuRows, 3);
}

// --- destination and clipping -------------------------------------------------------------------

struct RoutineCase {
  const char* name;
  Frame frame;
  int32_t channels;
  JpegColor pixelColor;
};

// One routine of each kind: dedicated whole-MCU kernels with their quadrant path, the copy and
// the general routines.
const RoutineCase kRoutineCases[] = {
    {"H2V2ToRgb", ycc(k22), 3, JpegColor::Rgb},
    {"H2V1ToBgr", ycc(k21), 3, JpegColor::Bgr},
    {"H1V1ToRgbx", ycc(k11), 4, JpegColor::Cmyk},
    {"H2V2YcckToCmyk", ycck(k22), 4, JpegColor::Cmyk},
    {"PackH2V1", ycc(k21), 2, JpegColor::YCbCr},
    {"CopyGray", grayFrame(), 1, JpegColor::Gray},
    {"UpsampleH2V2Copy", rgbFrame(k22), 3, JpegColor::Rgb},
    {"CopyGrayToBgr", grayFrame(), 3, JpegColor::Bgr},
    {"GeneralH1V2", ycc(k12), 3, JpegColor::Rgb},
    {"GeneralRgbToBgr", rgbFrame(k22), 3, JpegColor::Bgr},
};

void PrintTo(const RoutineCase& c, std::ostream* os) {
  *os << c.name;
}

class OutputStageClipping : public testing::TestWithParam<RoutineCase> {
 protected:
  // Stores a width x height image (buffer exactly that size, `pad` bytes after each row) and
  // compares it with the same MCUs stored into a buffer of whole MCUs.
  void checkAgainstWholeMcus(int32_t width, int32_t height, int32_t pad, bool bottomUp) {
    const RoutineCase& c = GetParam();
    Frame frame = c.frame;
    frame.width = width;
    frame.height = height;
    Stage exact(frame, {c.channels, c.pixelColor, width, bottomUp ? -height : height, pad});
    ASSERT_EQ(exact.setUp(), JpegStatus::Ok);
    const int32_t fullWidth = exact.state().mcusPerRow * exact.state().mcuWidth;
    const int32_t fullHeight = exact.state().mcuRows * exact.state().mcuHeight;
    Stage whole(frame, {c.channels, c.pixelColor, fullWidth, fullHeight});
    ASSERT_EQ(whole.setUp(), JpegStatus::Ok);
    ASSERT_EQ(exact.kernels().storeMcu, whole.kernels().storeMcu);

    for (int32_t status : exact.storeAll(7)) EXPECT_EQ(status, 0);
    whole.storeAll(7);
    EXPECT_TRUE(exact.untouchedBeyond(width, height))
        << "a byte beyond the image or in the padding was written";
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        ASSERT_EQ(exact.pixelBytes(x, y), whole.pixelBytes(x, y)) << "pixel " << x << "," << y;
      }
    }
  }
};

// The last MCU column goes through the quadrant path and touches no byte beyond the row.
TEST_P(OutputStageClipping, WidthNotAMultipleOfTheMcuWritesExactlyTheRow) {
  for (int32_t width : {1, 7, 9, 21, 33}) {
    SCOPED_TRACE(width);
    checkAgainstWholeMcus(width, 16, 0, false);
    checkAgainstWholeMcus(width, 16, 3, false);
  }
}

// With H2V2 and 5 rows left in the last MCU row the lower quadrants get empty rectangles.
TEST_P(OutputStageClipping, LastMcuRowWithFiveRowsLeft) {
  checkAgainstWholeMcus(32, 21, 1, false);
}

TEST_P(OutputStageClipping, BottomUpBufferGetsTheSameRows) {
  checkAgainstWholeMcus(21, 21, 2, true);
}

INSTANTIATE_TEST_SUITE_P(Routines, OutputStageClipping, testing::ValuesIn(kRoutineCases),
                         [](const testing::TestParamInfo<RoutineCase>& info) {
                           return std::string(info.param.name);
                         });

// Whole MCUs go through the kernel table's whole-MCU kernel, edge MCUs never do.
TEST(OutputStage, OnlyWholeMcusReachTheWholeMcuKernel) {
  static int calls = 0;
  Stage stage(ycc(k22, 40, 21), {3, JpegColor::Rgb, 40, 21});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  stage.kernels().convertH2V2ToRgb = [](const int16_t* const* components, uint8_t* dst, ptrdiff_t stride) {
    ++calls;
    convertH2V2ToRgb(components, dst, stride);
  };
  calls = 0;
  stage.storeAll(1);
  EXPECT_EQ(calls, 2);  // MCUs (0,0) and (1,0); the third column and the second row are clipped
}

// --- region of interest ---------------------------------------------------------------------------

TEST(OutputStage, RegionHoldsTheCropOfTheWholeImage) {
  const Frame frame = ycc(k22, 64, 48);
  Stage whole(frame, {3, JpegColor::Bgr, 64, 48});
  ASSERT_EQ(whole.setUp(), JpegStatus::Ok);
  whole.storeAll(3);

  const int32_t l = 5, t = 19, r = 45, b = 38;
  Stage region(frame, {3, JpegColor::Bgr, r - l, b - t});
  std::copy_n(std::array{l, t, r, b}.begin(), 4, region.state().regionOfInterest);
  ASSERT_EQ(region.setUp(), JpegStatus::Ok);
  const std::vector<int32_t> statuses = region.storeAll(3);
  EXPECT_TRUE(region.untouchedBeyond(r - l, b - t));
  for (int32_t y = 0; y < b - t; ++y) {
    for (int32_t x = 0; x < r - l; ++x) {
      ASSERT_EQ(region.pixelBytes(x, y), whole.pixelBytes(x + l, y + t)) << x << "," << y;
    }
  }
  // MCU columns 0..3, rows 0..2: row 0 (y 0..15) lies above the region; column 3 (x 48..63) right of it.
  for (int32_t mcuRow = 0; mcuRow < 3; ++mcuRow) {
    for (int32_t mcuColumn = 0; mcuColumn < 4; ++mcuColumn) {
      const bool outside = mcuRow == 0 || mcuColumn == 3;
      EXPECT_EQ(statuses[mcuRow * 4 + mcuColumn], outside ? -8 : 0) << mcuColumn << "," << mcuRow;
    }
  }
}

TEST(OutputStage, McuOutsideTheRegionWritesNothing) {
  Stage stage(ycc(k22, 64, 64), {3, JpegColor::Rgb, 20, 20});
  std::copy_n(std::array{20, 20, 40, 40}.begin(), 4, stage.state().regionOfInterest);
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  stage.fillMcu(0, 0, 6, 1);
  EXPECT_EQ(stage.kernels().storeMcu(&stage.state(), 0, 0), -8);  // x 0..15, before the region
  EXPECT_EQ(stage.kernels().storeMcu(&stage.state(), 3, 3), -8);  // x 48.., after it
  EXPECT_EQ(stage.kernels().storeMcu(&stage.state(), 1, 0), -8);  // y 0..15 above it
  EXPECT_TRUE(stage.untouched());
  EXPECT_EQ(stage.kernels().storeMcu(&stage.state(), 1, 1), 0);
  EXPECT_FALSE(stage.untouched());
}

// Progress of an interrupted decode is kept in the region fields; it is not a region.
TEST(OutputStage, InterruptProgressIsNotARegion) {
  Stage stage(ycc(k22, 32, 32), {3, JpegColor::Rgb, 32, 32});
  std::copy_n(std::array{1, 1, 1, 1}.begin(), 4, stage.state().regionOfInterest);
  stage.state().regionIsProgress = 1;
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  for (int32_t status : stage.storeAll(2)) EXPECT_EQ(status, 0);
  EXPECT_TRUE(stage.untouchedBeyond(32, 32));
  EXPECT_NE(stage.pixel(0, 0)[0], kPoison);
}

// --- channel placement and conversions ------------------------------------------------------------

TEST(OutputStage, GrayJpegFillsEveryColourChannel) {
  for (int32_t channels : {3, 4}) {
    Stage stage(grayFrame(), {channels, channels == 3 ? JpegColor::Bgr : JpegColor::Cmyk, 8, 8});
    ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
    std::fill_n(stage.scratch(), 64, int16_t{77});
    stage.scratch()[9] = 300;  // stored as its low byte
    stage.kernels().storeMcu(&stage.state(), 0, 0);
    const std::vector<uint8_t> expected =
        channels == 3 ? std::vector<uint8_t>{77, 77, 77} : std::vector<uint8_t>{77, 77, 77, 255};
    EXPECT_EQ(stage.pixelBytes(0, 0), expected);
    const uint8_t low = 300 & 0xFF;
    EXPECT_EQ(stage.pixelBytes(1, 1)[0], low);
    EXPECT_EQ(stage.pixelBytes(1, 1)[2], low);
  }
}

TEST(OutputStage, RgbJpegIntoBgrPixelsIsReversed) {
  Stage stage(rgbFrame(k11), {3, JpegColor::Bgr, 8, 8});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  std::fill_n(stage.scratch(), 64, int16_t{10});
  std::fill_n(stage.scratch() + 64, 64, int16_t{20});
  std::fill_n(stage.scratch() + 128, 64, int16_t{30});
  stage.kernels().storeMcu(&stage.state(), 0, 0);
  EXPECT_EQ(stage.pixelBytes(3, 5), (std::vector<uint8_t>{30, 20, 10}));
}

TEST(OutputStage, ThreeComponentsIntoCmykGetAnOpaqueFourthChannel) {
  Stage stage(rgbFrame(k22), {4, JpegColor::Cmyk, 16, 16});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  ASSERT_EQ(stage.kernels().storeMcu, storeMcuGeneral);
  std::fill_n(stage.scratch(), 6 * 64, int16_t{40});
  stage.kernels().storeMcu(&stage.state(), 0, 0);
  EXPECT_EQ(stage.pixelBytes(15, 15), (std::vector<uint8_t>{40, 40, 40, 255}));
}

// Y = Cb = Cr = 128: the in-place conversion rounds G with gP, giving 128 where the dedicated
// kernels give 129.
TEST(OutputStage, InPlaceConversionUsesItsOwnGreenRounding) {
  Stage stage(ycc(k12, 8, 16), {3, JpegColor::Rgb, 8, 16});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  ASSERT_EQ(stage.kernels().storeMcu, storeMcuGeneralConverted);
  std::fill_n(stage.scratch(), 4 * 64, int16_t{128});
  stage.kernels().storeMcu(&stage.state(), 0, 0);
  EXPECT_EQ(stage.pixelBytes(0, 15), (std::vector<uint8_t>{128, 128, 128}));
}

// A component-by-component image, converted by the final pass, equals the interleaved image
// through the converting general routine.
TEST(OutputStage, ComponentScansAndTheFinalPassMatchTheInterleavedStore) {
  struct Case {
    Frame frame;
    int32_t channels;
    JpegColor color;
  };
  for (const Case& c :
       {Case{ycc(k12, 13, 27), 3, JpegColor::Rgb}, Case{ycc(k22, 30, 17), 3, JpegColor::Bgr},
        Case{ycck(k21, 19, 9), 4, JpegColor::Cmyk}, Case{ycc(k22, 30, 17), 4, JpegColor::Cmyk}}) {
    Stage interleaved(c.frame, {c.channels, c.color, c.frame.width, c.frame.height});
    ASSERT_EQ(interleaved.setUp(), JpegStatus::Ok);
    interleaved.kernels().storeMcu = storeMcuGeneralConverted;
    interleaved.storeAll(5);
    // The final pass also gives a YCbCr JPEG's fourth byte 255.
    Stage byComponent(c.frame, {c.channels, c.color, c.frame.width, c.frame.height});
    for (int32_t i = 0; i < c.frame.components; ++i) byComponent.storeComponentScan(i, 5);
    runFinalConversion(&byComponent.state());
    EXPECT_TRUE(byComponent.untouchedBeyond(c.frame.width, c.frame.height));
    for (int32_t y = 0; y < c.frame.height; ++y) {
      for (int32_t x = 0; x < c.frame.width; ++x) {
        ASSERT_EQ(byComponent.pixelBytes(x, y), interleaved.pixelBytes(x, y)) << x << "," << y;
      }
    }
  }
}

// Packed 4:2:2 component by component gives the bytes of the packing kernel.
TEST(OutputStage, PackedScansMatchThePackingKernel) {
  const Frame frame = ycc(k21, 37, 11);
  Stage interleaved(frame, {2, JpegColor::YCbCr, 37, 11});
  ASSERT_EQ(interleaved.setUp(), JpegStatus::Ok);
  ASSERT_EQ(interleaved.kernels().storeMcu, dedicatedStoreRoutine(&KernelTable::packH2V1));
  interleaved.storeAll(9);
  Stage byComponent(frame, {2, JpegColor::YCbCr, 37, 11});
  for (int32_t i = 0; i < 3; ++i) byComponent.storeComponentScan(i, 9);
  EXPECT_TRUE(byComponent.untouchedBeyond(37, 11));
  for (int32_t y = 0; y < 11; ++y) {
    for (int32_t x = 0; x < 37; ++x)
      ASSERT_EQ(byComponent.pixelBytes(x, y), interleaved.pixelBytes(x, y)) << x;
  }
}

TEST(OutputStage, FinalPassLeavesOtherPixelColoursAlone) {
  Stage stage(ycc(k22, 8, 8), {3, JpegColor::YCbCr, 8, 8});
  stage.state().colorConversionNeeded = 1;
  runFinalConversion(&stage.state());
  EXPECT_TRUE(stage.untouched());
}

// --- scaled decoding --------------------------------------------------------------------------------

// At 1/2 scale a 4:2:0 frame is square-sampled: luminance blocks carry 4x4 samples, the chroma
// blocks 8x8 (their larger transform), stored without expansion.
TEST(OutputStage, ScaledSquareSamplingTakesChromaAtFullSize) {
  Stage stage(ycc(k22, 16, 16), {3, JpegColor::Rgb, 8, 8});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  int16_t* s = stage.scratch();
  for (int32_t b = 0; b < 4; ++b) {
    for (int32_t i = 0; i < 64; ++i) s[64 * b + i] = static_cast<int16_t>(100 + 10 * b + i % 4);
  }
  for (int32_t i = 0; i < 64; ++i) {
    s[256 + i] = static_cast<int16_t>(64 + i);   // Cb
    s[320 + i] = static_cast<int16_t>(200 - i);  // Cr
  }
  storeScaledMcu(&stage.state(), 0, 0, 4);
  EXPECT_TRUE(stage.untouchedBeyond(8, 8));
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      const int32_t block = (y / 4) * 2 + x / 4;
      const int32_t luma = 100 + 10 * block + x % 4;
      const int32_t cb = 64 + 8 * y + x, cr = 200 - (8 * y + x);
      const auto clamp = [](int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
      const std::vector<uint8_t> expected = {clamp(luma + ((359 * cr - 45813) >> 8)),
                                             clamp(luma + ((34806 - 88 * cb - 183 * cr) >> 8)),
                                             clamp(luma + ((454 * cb - 57937) >> 8))};
      ASSERT_EQ(stage.pixelBytes(x, y), expected) << x << "," << y;
    }
  }
}

// H2V1 is not square: every block carries 2x2 samples at 1/4 scale and chroma is replicated
// across two columns.
TEST(OutputStage, ScaledReplicatesNonSquareChroma) {
  Stage stage(rgbFrame(k21), {3, JpegColor::Rgb, 4, 2});
  stage.state().imageWidth = 16;
  stage.state().imageHeight = 8;
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  int16_t* s = stage.scratch();
  for (int32_t b = 0; b < 4; ++b) {
    for (int32_t i = 0; i < 64; ++i) s[64 * b + i] = static_cast<int16_t>(10 * b + i);
  }
  storeScaledMcu(&stage.state(), 0, 0, 2);
  EXPECT_TRUE(stage.untouchedBeyond(4, 2));
  // Pixel (3, 1): luminance block 1 sample (1, 1) = 10 + 9; chroma sample (1, 1) of each block.
  EXPECT_EQ(stage.pixelBytes(3, 1), (std::vector<uint8_t>{19, 29, 39}));
  EXPECT_EQ(stage.pixelBytes(2, 0), (std::vector<uint8_t>{10, 21, 31}));
}

// Stores every MCU of the frame at block side `side` (8: the frame's store routine).
void storeAllAtSide(Stage& stage, int32_t side, uint32_t seed) {
  for (int32_t r = 0; r < stage.state().mcuRows; ++r) {
    for (int32_t c = 0; c < stage.state().mcusPerRow; ++c) {
      stage.fillMcu(c, r, 1, seed);
      if (side == 8) {
        stage.kernels().storeMcu(&stage.state(), c, r);
      } else {
        storeScaledMcu(&stage.state(), c, r, side);
      }
    }
  }
}

struct GreyScaledCase {
  int32_t side;
  int32_t channels;
  int32_t width;  // of the 21x13 frame's output at this side
  int32_t height;
  std::array<int32_t, 4> region;  // left, top, right, bottom; all zero for the whole image
};

// Whole rows, edge MCUs cut across and down, and regions that cut MCUs on every side.
const GreyScaledCase kGreyScaledCases[] = {
    {1, 3, 3, 2, {}},
    {2, 3, 6, 4, {}},
    {4, 3, 11, 7, {}},
    {8, 3, 21, 13, {}},
    {1, 4, 3, 2, {}},
    {2, 4, 6, 4, {}},
    {4, 4, 11, 7, {}},
    {8, 4, 21, 13, {}},
    {1, 3, 3, 2, {1, 1, 3, 2}},
    {2, 3, 6, 4, {1, 1, 5, 4}},
    {4, 4, 11, 7, {3, 2, 9, 7}},
    {8, 3, 21, 13, {5, 3, 18, 12}},
};

// A grey frame into 3- or 4-byte pixels at every block side gives the grey routine's samples in
// each colour channel (and 255 in a fourth), touching no byte outside the image or region.
TEST(OutputStage, GreyIntoColoursMatchesGreyPixelsAtEverySide) {
  const Frame frame = grayFrame();
  for (const GreyScaledCase& c : kGreyScaledCases) {
    SCOPED_TRACE(testing::Message() << "side " << c.side << ", " << c.channels << " channels, region "
                                    << c.region[0] << "," << c.region[1]);
    const Frame sized = {frame.components, frame.factors, frame.color, 21, 13};
    Stage grey(sized, {1, JpegColor::Gray, c.width, c.height});
    ASSERT_EQ(grey.setUp(), JpegStatus::Ok);
    storeAllAtSide(grey, c.side, 5);

    const bool whole = c.region == std::array<int32_t, 4>{};
    const int32_t l = c.region[0], t = c.region[1];
    const int32_t width = whole ? c.width : c.region[2] - l, height = whole ? c.height : c.region[3] - t;
    Stage colour(sized, {c.channels, c.channels == 3 ? JpegColor::Bgr : JpegColor::Cmyk, width, height});
    if (!whole) std::copy_n(c.region.begin(), 4, colour.state().regionOfInterest);
    ASSERT_EQ(colour.setUp(), JpegStatus::Ok);
    storeAllAtSide(colour, c.side, 5);

    EXPECT_TRUE(colour.untouchedBeyond(width, height));
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t g = grey.pixel(x + l, y + t)[0];
        std::vector<uint8_t> expected = {g, g, g};
        if (c.channels == 4) expected.push_back(255);
        ASSERT_EQ(colour.pixelBytes(x, y), expected) << x << "," << y;
      }
    }
  }
}

TEST(OutputStage, ScaledStoreClipsAtTheBufferEdge) {
  Stage stage(ycc(k22, 20, 20), {3, JpegColor::Bgr, 3, 3});
  ASSERT_EQ(stage.setUp(), JpegStatus::Ok);
  for (int32_t r = 0; r < 2; ++r) {
    for (int32_t c = 0; c < 2; ++c) {
      stage.fillMcu(c, r, 6, 4);
      storeScaledMcu(&stage.state(), c, r, 1);  // 1/8 scale: 2x2 pixels per MCU
    }
  }
  EXPECT_TRUE(stage.untouchedBeyond(3, 3));
  EXPECT_NE(stage.pixel(2, 2)[0], kPoison);
}

}  // namespace
