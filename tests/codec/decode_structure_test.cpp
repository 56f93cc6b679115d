// The decoder's shared pieces: frame geometry, the scan plan, the restart and interrupt routines
// and the MCU walker, checked apart from any stream.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/decode/byte_input.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/mcu_walker.h"
#include "codec/decode/scan_decoder.h"
#include "codec/decode/scan_plan.h"
#include "codec/kernel_table.h"
#include "tests/codec/codec_test_support.h"

namespace {

using Factors = std::vector<std::pair<int32_t, int32_t>>;

// A record holding a frame of the given size and factors, its geometry derived as a frame
// header leaves it.
void setFrame(JPEG_PROPERTIES* state, int32_t width, int32_t height, const Factors& factors) {
  state->imageWidth = width;
  state->imageHeight = height;
  state->componentCount = static_cast<int32_t>(factors.size());
  state->maxHorizontalFactor = 1;
  state->maxVerticalFactor = 1;
  for (size_t i = 0; i < factors.size(); ++i) {
    state->components[i] = {static_cast<int32_t>(i + 1), factors[i].first, factors[i].second, 0};
    state->maxHorizontalFactor = std::max(state->maxHorizontalFactor, factors[i].first);
    state->maxVerticalFactor = std::max(state->maxVerticalFactor, factors[i].second);
  }
  storeFrameGeometry(state);
}

TEST(CeilDiv, RoundsUpAndStaysExactOnMultiples) {
  const struct {
    int64_t value, divisor, expected;
  } cases[] = {
      {0, 8, 0}, {1, 8, 1}, {8, 8, 1}, {9, 8, 2}, {100, 16, 7}, {65535, 8, 8192}, {65535LL * 4, 3, 87380}};
  for (const auto& c : cases)
    EXPECT_EQ(ceilDiv(c.value, c.divisor), c.expected) << c.value << "/" << c.divisor;
}

struct GeometryCase {
  const char* name;
  int32_t width, height;
  Factors factors;
  int32_t mcusPerRow, mcuRows, blocksPerMcu;
  std::vector<int32_t> blockColumns, blockRows, firstBlock;
  bool square;
};

TEST(FrameGeometry, FollowsTheFrameHeader) {
  const GeometryCase cases[] = {
      {"4:2:0, chroma of width 100 has 7 block columns",
       100,
       50,
       {{2, 2}, {1, 1}, {1, 1}},
       7,
       4,
       6,
       {13, 7, 7},
       {7, 4, 4},
       {0, 4, 5},
       true},
      {"4:2:2", 33, 17, {{2, 1}, {1, 1}, {1, 1}}, 3, 3, 4, {5, 3, 3}, {3, 3, 3}, {0, 2, 3}, false},
      {"4:4:4", 16, 9, {{1, 1}, {1, 1}, {1, 1}}, 2, 2, 3, {2, 2, 2}, {2, 2, 2}, {0, 1, 2}, false},
      {"one component counts as 1x1 whatever its factors", 20, 20, {{2, 2}}, 3, 3, 1, {3}, {3}, {0}, false},
      {"uneven factors 3x1 beside 1x2", 50, 40, {{3, 1}, {1, 2}}, 3, 3, 5, {7, 3}, {3, 5}, {0, 3}, false},
      {"four components 2x2 (YCCK)",
       17,
       17,
       {{2, 2}, {1, 1}, {1, 1}, {2, 2}},
       2,
       2,
       10,
       {3, 2, 2, 3},
       {3, 2, 2, 3},
       {0, 4, 5, 6},
       true},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRecord record;
    setFrame(&record->state, c.width, c.height, c.factors);
    const FrameGeometry& frame = frameGeometry(record->state);
    EXPECT_EQ(frame.mcusPerRow, c.mcusPerRow);
    EXPECT_EQ(frame.mcuRows, c.mcuRows);
    EXPECT_EQ(frame.blocksPerMcu, c.blocksPerMcu);
    EXPECT_EQ(frame.squareSampling, c.square);
    EXPECT_EQ(frame.coefficientBlocks(), size_t(c.mcusPerRow) * c.mcuRows * c.blocksPerMcu);
    for (int32_t i = 0; i < frame.componentCount; ++i) {
      EXPECT_EQ(frame.components[i].blockColumns, c.blockColumns[i]) << "component " << i;
      EXPECT_EQ(frame.components[i].blockRows, c.blockRows[i]) << "component " << i;
      EXPECT_EQ(frame.components[i].firstBlock, c.firstBlock[i]) << "component " << i;
    }
  }
}

// Every block of every component's grid lands on its own buffer block, inside the buffer.
TEST(FrameGeometry, ComponentBlocksFillDistinctPlacesOfTheCoefficientBuffer) {
  TestRecord record;
  setFrame(&record->state, 45, 29, {{2, 2}, {1, 2}, {1, 1}});
  const FrameGeometry& frame = frameGeometry(record->state);
  std::vector<int> uses(frame.coefficientBlocks(), 0);
  for (int32_t c = 0; c < frame.componentCount; ++c) {
    const ComponentGeometry& g = frame.components[c];
    // The whole grid of the MCUs, also the blocks beyond the image edge.
    for (int32_t y = 0; y < frame.mcuRows * g.v; ++y) {
      for (int32_t x = 0; x < frame.mcusPerRow * g.h; ++x) {
        const size_t index = frame.componentBlockIndex(c, x, y);
        ASSERT_LT(index, uses.size());
        ++uses[index];
      }
    }
  }
  for (int count : uses) EXPECT_EQ(count, 1);
}

TEST(FrameGeometry, RecordWithoutAFrameHasNoGrid) {
  TestRecord record;
  EXPECT_FALSE(hasUsableFrame(record->state));
  EXPECT_EQ(describeFrame(record->state).coefficientBlocks(), 0u);
  EXPECT_EQ(frameGeometry(record->state).componentCount, 0);
}

// --- scan plan ------------------------------------------------------------------------------------

class ScanPlanTest : public testing::Test {
 protected:
  void SetUp() override {
    state_ = &record_->state;
    state_->ioMode = static_cast<int32_t>(JpegIoMode::BufferReadImage);
    KernelTable* kernels = state_->input.kernels;
    kernels->idctFull = kernels->idct1Full;
    kernels->idctHalf = kernels->idct1Half;
    kernels->idctQuarter = kernels->idct1Quarter;
    kernels->idctEighth = kernels->idct1Eighth;
    kernels->dequantize = kernels->dequantize1;
  }
  void TearDown() override { state_->scan = nullptr; }

  // A scan of the given frame components (indices), all tables 0.
  void useScan(std::vector<int32_t> components) {
    scan_ = ScanRecord{};
    scan_.componentCount = static_cast<int32_t>(components.size());
    scan_.spectralEnd = 63;
    scan_.components = scanComponents_;
    for (size_t i = 0; i < components.size(); ++i) {
      const JpegComponent& frame = state_->components[components[i]];
      scanComponents_[i] = {components[i],        frame.horizontalFactor, frame.verticalFactor,
                            &state_->dcTables[0], &state_->acTables[0],   &state_->quantTables[0]};
    }
    state_->scan = &scan_;
  }

  TestRecord record_;
  JPEG_PROPERTIES* state_ = nullptr;
  ScanRecord scan_{};
  ScanComponent scanComponents_[4] = {};
};

TEST_F(ScanPlanTest, InterleavedScanHasEveryBlockOfTheMcuInFrameOrder) {
  setFrame(state_, 100, 50, {{2, 2}, {1, 1}, {1, 1}});
  useScan({0, 1, 2});
  const ScanPlan plan = planScan(*state_, 1);
  EXPECT_EQ(plan.columns, 7);
  EXPECT_EQ(plan.rows, 4);
  EXPECT_EQ(plan.total, 28);
  EXPECT_EQ(plan.mcuWidth, 16);
  ASSERT_EQ(plan.blockCount, 6);
  const int32_t expectedComponent[] = {0, 0, 0, 0, 1, 2};
  for (int32_t b = 0; b < plan.blockCount; ++b) {
    EXPECT_EQ(plan.blocks[b].frameComponent, expectedComponent[b]);
    EXPECT_EQ(plan.blocks[b].coefficientBlock, b);
    EXPECT_EQ(plan.blocks[b].inverseDct, state_->input.kernels->idctFull);
  }
  EXPECT_EQ(plan.restart, RestartPolicy::AnyMarker);
  EXPECT_EQ(plan.interrupt, InterruptPolicy::EveryMcu);
  EXPECT_EQ(plan.target, McuTarget::Pixels);
  EXPECT_EQ(plan.range.endColumn, 7);
  EXPECT_EQ(plan.range.endRow, 4);
}

TEST_F(ScanPlanTest, OneComponentScanWalksTheComponentsOwnBlockGrid) {
  setFrame(state_, 100, 50, {{2, 2}, {1, 1}, {1, 1}});
  useScan({2});
  const ScanPlan plan = planScan(*state_, 1);
  EXPECT_EQ(plan.columns, 7);
  EXPECT_EQ(plan.rows, 4);
  EXPECT_EQ(plan.mcuWidth, 16);  // one chroma block covers 16 x 16 pixels
  EXPECT_EQ(plan.mcuHeight, 16);
  ASSERT_EQ(plan.blockCount, 1);
  EXPECT_EQ(plan.blocks[0].scanComponent, 0);
  EXPECT_EQ(plan.blocks[0].frameComponent, 2);
}

// Reduced scales: transforms shrink with the scale, the one-block components of a square-sampled
// frame take the next larger one, and 1/8 scale decodes DC only where the transform is 1x1.
TEST_F(ScanPlanTest, TransformsAndBlockDecodersFollowTheScale) {
  setFrame(state_, 64, 64, {{2, 2}, {1, 1}, {1, 1}});
  useScan({0, 1, 2});
  const KernelTable* k = state_->input.kernels;
  const struct {
    int32_t scale;
    InverseDctKernel luma, chroma;
  } cases[] = {{1, k->idctFull, k->idctFull},
               {2, k->idctHalf, k->idctFull},
               {4, k->idctQuarter, k->idctHalf},
               {8, k->idctEighth, k->idctQuarter}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scale);
    const ScanPlan plan = planScan(*state_, c.scale);
    EXPECT_EQ(plan.blocks[0].inverseDct, c.luma);
    EXPECT_EQ(plan.blocks[4].inverseDct, c.chroma);
    EXPECT_EQ(plan.blocks[0].decodeBlock, c.scale == 8 ? k->huffmanDecodeDcOnly : k->huffmanDecodeBlock);
    EXPECT_EQ(plan.blocks[4].decodeBlock, k->huffmanDecodeBlock);
  }
}

TEST_F(ScanPlanTest, PoliciesFollowTheKindOfRead) {
  setFrame(state_, 64, 64, {{1, 1}, {1, 1}, {1, 1}});
  useScan({0, 1, 2});
  JpegBlockPlanes planes{};
  struct Case {
    const char* name;
    int32_t progressive;
    JpegBlockPlanes* planes;
    int32_t planesMode;
    bool region;
    RestartPolicy restart;
    InterruptPolicy interrupt;
    McuTarget target;
  };
  const Case cases[] = {
      {"sequential", 0, nullptr, 0, false, RestartPolicy::AnyMarker, InterruptPolicy::EveryMcu,
       McuTarget::Pixels},
      {"sequential region", 0, nullptr, 0, true, RestartPolicy::AnyMarker, InterruptPolicy::Never,
       McuTarget::Pixels},
      {"coefficient planes", 0, &planes, 0, false, RestartPolicy::AnyMarker, InterruptPolicy::Never,
       McuTarget::CoefficientPlanes},
      {"sample planes", 0, &planes, 1, false, RestartPolicy::AnyMarker, InterruptPolicy::Never,
       McuTarget::SamplePlanes},
      {"progressive", 1, nullptr, 0, false, RestartPolicy::RequireRst, InterruptPolicy::EveryMcuRow,
       McuTarget::CoefficientBuffer},
      {"progressive region", 1, nullptr, 0, true, RestartPolicy::RequireRst, InterruptPolicy::Never,
       McuTarget::CoefficientBuffer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state_->progressive = c.progressive;
    state_->blockPlanes = c.planes;
    planes.mode = c.planesMode;
    const int32_t region[4] = {8, 8, 24, 24};
    for (int32_t i = 0; i < 4; ++i) state_->regionOfInterest[i] = c.region ? region[i] : 0;
    const ScanPlan plan = planScan(*state_, 1);
    EXPECT_EQ(plan.restart, c.restart);
    EXPECT_EQ(plan.interrupt, c.interrupt);
    EXPECT_EQ(plan.target, c.target);
    if (c.region) {
      EXPECT_EQ(plan.range.firstColumn, 1);
      EXPECT_EQ(plan.range.endColumn, 3);
    }
  }
  state_->blockPlanes = nullptr;
}

// --- restart, interrupt, walker -------------------------------------------------------------------

struct Harness {
  TestRecord record;
  ScanRecord scan{};
  ScanPlan plan;
  std::vector<uint8_t> bytes;

  explicit Harness(std::vector<uint8_t> data) : bytes(std::move(data)) {
    ByteInput& input = record->state.input;
    input.start = bytes.data();
    input.size = static_cast<uint32_t>(bytes.size());
    resetInput(&input);
    plan.columns = 3;
    plan.rows = 2;
    plan.total = 6;
  }
  ScanWalk walk() { return {&record->state, &record->state.input, &scan, &plan}; }
};

TEST(RestartRoutine, OnlyIntervalEndsBeforeTheLastMcuRestart) {
  Harness h({0xFF, 0xD0, 0xFF, 0xD1});
  h.plan.restartInterval = 2;
  h.scan.lastDc[0] = 5;
  EXPECT_EQ(restartAfter(h.walk(), 1), JpegStatus::Ok);
  EXPECT_EQ(h.scan.lastDc[0], 5);  // not an interval end
  EXPECT_EQ(restartAfter(h.walk(), 6), JpegStatus::Ok);
  EXPECT_EQ(h.scan.lastDc[0], 5);  // the scan's last MCU
  EXPECT_EQ(h.record->state.input.consumed, 0u);
  h.record->state.input.eobRun = 3;
  EXPECT_EQ(restartAfter(h.walk(), 2), JpegStatus::Ok);
  EXPECT_EQ(h.scan.lastDc[0], 0);
  EXPECT_EQ(h.record->state.input.eobRun, 0);
  EXPECT_EQ(h.record->state.input.consumed, 2u);  // RST0 taken
}

TEST(RestartRoutine, PoliciesDifferOnlyInWhatEndsAnInterval) {
  const struct {
    const char* name;
    std::vector<uint8_t> data;
    uint8_t pending;
    JpegStatus anyMarker, requireRst;
  } cases[] = {
      {"RST in the input", {0x00, 0xFF, 0xD3}, 0, JpegStatus::Ok, JpegStatus::Ok},
      {"RST met by the bit reader", {}, 0xD5, JpegStatus::Ok, JpegStatus::Ok},
      {"another marker", {0xFF, 0xD9}, 0, JpegStatus::Ok, JpegStatus::BadRstMarker},
      {"end of data", {0x12}, 0, JpegStatus::Ok, JpegStatus::BadRstMarker},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (RestartPolicy policy : {RestartPolicy::AnyMarker, RestartPolicy::RequireRst}) {
      Harness h(c.data);
      h.record->state.input.pendingMarker = c.pending;
      h.plan.restartInterval = 1;
      h.plan.restart = policy;
      EXPECT_EQ(restartAfter(h.walk(), 1), policy == RestartPolicy::AnyMarker ? c.anyMarker : c.requireRst);
      EXPECT_EQ(h.record->state.input.pendingMarker, 0);
    }
  }
}

TEST(InterruptRoutine, RecordsTheResumePointAndClearsTheRequest) {
  Harness h({});
  JPEG_PROPERTIES& state = h.record->state;
  const ProgressPoint point = {2, 1, 3, false, 0, 2};
  EXPECT_FALSE(takeInterrupt(&state, &h.scan, point));
  EXPECT_EQ(state.regionIsProgress, 0);
  state.interruptRequest = 1;
  ASSERT_TRUE(takeInterrupt(&state, &h.scan, point));
  EXPECT_EQ(state.interruptRequest, 0);
  EXPECT_EQ(state.regionIsProgress, 1);
  EXPECT_EQ(h.scan.resumeColumn, 0);
  EXPECT_EQ(h.scan.resumeRow, 2);
  EXPECT_EQ(state.regionOfInterest[0], 2);
  EXPECT_EQ(state.regionOfInterest[1], 1);
  EXPECT_EQ(state.regionOfInterest[2], 2);
  EXPECT_EQ(state.regionOfInterest[3], 1);
}

// Records what the walker asks of it; fails or stops where told.
struct RecordingStage {
  std::vector<std::string> calls;
  int32_t failAt = -1;  // MCU number (1-based) whose decode fails
  int32_t stopAt = -1;  // MCU number after whose output the walk stops
  int32_t decoded = 0;

  JpegStatus decode(int32_t column, int32_t row) {
    calls.push_back("d" + std::to_string(column) + std::to_string(row));
    return ++decoded == failAt ? JpegStatus::DataError : JpegStatus::Ok;
  }
  bool output(int32_t column, int32_t row, int64_t number) {
    calls.push_back("o" + std::to_string(column) + std::to_string(row));
    return number == stopAt;
  }
  bool rowDone(int32_t row) {
    calls.push_back("r" + std::to_string(row));
    return false;
  }
};

TEST(McuWalker, WalksARangeInRasterOrderWithRowEnds) {
  Harness h({});
  RecordingStage stage;
  const ScanResult result = walkMcus(h.walk(), 2, 6, stage);
  EXPECT_EQ(result.error, JpegStatus::Ok);
  EXPECT_EQ(result.outcome, ScanOutcome::Finished);
  const std::vector<std::string> expected = {"d20", "o20", "r0",  "d01", "o01",
                                             "d11", "o11", "d21", "o21", "r1"};
  EXPECT_EQ(stage.calls, expected);
}

TEST(McuWalker, StopsAtAnErrorOrAnInterrupt) {
  {
    Harness h({});
    RecordingStage stage;
    stage.failAt = 2;
    const ScanResult result = walkMcus(h.walk(), 0, 6, stage);
    EXPECT_EQ(result.error, JpegStatus::DataError);
    EXPECT_EQ(stage.calls, (std::vector<std::string>{"d00", "o00", "d10"}));
  }
  {
    Harness h({});
    RecordingStage stage;
    stage.stopAt = 4;
    const ScanResult result = walkMcus(h.walk(), 0, 6, stage);
    EXPECT_EQ(result.error, JpegStatus::Ok);
    EXPECT_EQ(result.outcome, ScanOutcome::Interrupted);
    EXPECT_EQ(stage.calls.back(), "o01");
  }
}

// A restart error stops the walk before the MCU reaches the output.
TEST(McuWalker, RunsTheRestartRoutineBetweenDecodeAndOutput) {
  Harness h({0xFF, 0xD9});
  h.plan.restartInterval = 1;
  h.plan.restart = RestartPolicy::RequireRst;
  RecordingStage stage;
  const ScanResult result = walkMcus(h.walk(), 0, 6, stage);
  EXPECT_EQ(result.error, JpegStatus::BadRstMarker);
  EXPECT_EQ(stage.calls, (std::vector<std::string>{"d00"}));
}

TEST(ScanOutcomes, MapToTheCallersStatusesOnce) {
  EXPECT_EQ(statusOf({JpegStatus::Ok, ScanOutcome::Finished}), JpegStatus::Ok);
  EXPECT_EQ(statusOf({JpegStatus::Ok, ScanOutcome::Interrupted}), JpegStatus::InterruptOk);
  EXPECT_EQ(statusOf({JpegStatus::Ok, ScanOutcome::RegionComplete}), JpegStatus::RoiOk);
  EXPECT_EQ(statusOf({JpegStatus::DataError, ScanOutcome::Finished}), JpegStatus::DataError);
}

TEST(MarkerSearch, NamesWhatItFound) {
  const struct {
    const char* name;
    std::vector<uint8_t> data;
    MarkerFound found;
    int32_t code;
  } cases[] = {
      {"marker after data and fill bytes", {0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xC4}, MarkerFound::Marker, 0xC4},
      {"no marker before the end", {0x12, 0xFF, 0x00}, MarkerFound::EndOfData, 0},
      {"FF as the last byte", {0x12, 0xFF}, MarkerFound::EndOfData, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h(c.data);
    const MarkerRead marker = nextMarker(&h.record->state.input);
    EXPECT_EQ(marker.found, c.found);
    if (c.found == MarkerFound::Marker) {
      EXPECT_EQ(marker.code, c.code);
    }
  }
}

}  // namespace
