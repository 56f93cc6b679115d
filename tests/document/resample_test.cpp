#include "document/picture_dib.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A single-channel picture from rows of bytes.
std::unique_ptr<CPictureDib> Gray(const std::vector<std::vector<int>>& rows, bool bottomUp = false) {
  auto picture = std::make_unique<CPictureDib>();
  const int height = static_cast<int>(rows.size());
  const int width = static_cast<int>(rows[0].size());
  EXPECT_TRUE(picture->Create(width, bottomUp ? -height : height, 8));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) picture->Row(y)[x] = static_cast<std::uint8_t>(rows[y][x]);
  return picture;
}

std::vector<std::vector<int>> Bytes(const CPictureDib& p, int channels = 1) {
  std::vector<std::vector<int>> rows;
  for (int y = 0; y < p.Height(); ++y) {
    std::vector<int> row;
    for (int x = 0; x < p.Width() * channels; ++x) row.push_back(p.Row(y)[x]);
    rows.push_back(row);
  }
  return rows;
}

TEST(ResampleTest, HalvingTakesEverySecondPixelUnchanged) {
  auto source = std::make_unique<CPictureDib>();
  ASSERT_TRUE(source->Create(8, 6, 24));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 24; ++x) source->Row(y)[x] = static_cast<std::uint8_t>(17 * y + 3 * x + (x % 3) * 40);
  auto half = source->Resample(4, 3);
  ASSERT_TRUE(half);
  EXPECT_EQ(half->Width(), 4);
  EXPECT_EQ(half->Height(), 3);
  EXPECT_EQ(half->BitsPerPixel(), 24);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(half->Row(y)[3 * x + c], source->Row(2 * y)[3 * (2 * x) + c]);
}

TEST(ResampleTest, SameSizeIsAnExactCopy) {
  auto source = Gray({{1, 2, 3}, {250, 128, 0}});
  auto copy = source->Resample(3, 2);
  ASSERT_TRUE(copy);
  EXPECT_EQ(Bytes(*copy), Bytes(*source));
}

// Hand-computed: widening 2 -> 3 gives sx = 2/3; column 1 sits at fx = 0.667 with
// wx = trunc(0.333 * 256) = 85, so (255 * 256 * 171 + 0 * 256 * 85) >> 16 = 170; column 2 at
// fx = 1.333 takes x0 = 1 and the clamped x1 = 1, giving 255.
TEST(ResampleTest, WideningWeighsNeighboursWithTruncatedEighthBitWeights) {
  auto wider = Gray({{0, 255}})->Resample(3, 1);
  ASSERT_TRUE(wider);
  EXPECT_EQ(Bytes(*wider), (std::vector<std::vector<int>>{{0, 170, 255}}));

  auto taller = Gray({{0}, {255}})->Resample(1, 3);
  ASSERT_TRUE(taller);
  EXPECT_EQ(Bytes(*taller), (std::vector<std::vector<int>>{{0}, {170}, {255}}));
}

// Centre of 2x2 -> 3x3: wy = wx = 85. Vertical pass: t = {255*171 + 0*85, 255*171 + 255*85}
// = {43605, 65280}; horizontal: (65280*171 + 43605*85) >> 16 = 14869305 >> 16 = 226.
TEST(ResampleTest, TwoDimensionalCaseComputedByHand) {
  auto result = Gray({{0, 255}, {255, 255}})->Resample(3, 3);
  ASSERT_TRUE(result);
  EXPECT_EQ(Bytes(*result), (std::vector<std::vector<int>>{{0, 170, 255}, {170, 226, 255}, {255, 255, 255}}));
}

TEST(ResampleTest, RowOrderOfTheSourceSectionDoesNotMatter) {
  const std::vector<std::vector<int>> rows{{10, 20, 30, 40}, {50, 60, 70, 80}, {90, 100, 110, 120}};
  auto fromTopDown = Gray(rows, false)->Resample(3, 2);
  auto fromBottomUp = Gray(rows, true)->Resample(3, 2);
  ASSERT_TRUE(fromTopDown && fromBottomUp);
  EXPECT_EQ(Bytes(*fromTopDown), Bytes(*fromBottomUp));
}

TEST(ResampleTest, ChannelsOfA24BitPictureStaySeparate) {
  auto source = std::make_unique<CPictureDib>();
  ASSERT_TRUE(source->Create(2, 1, 24));
  const std::uint8_t pixels[] = {0, 100, 255, 255, 100, 0};
  std::copy(std::begin(pixels), std::end(pixels), source->Row(0));
  auto wider = source->Resample(3, 1);
  ASSERT_TRUE(wider);
  // Middle pixel: blue 0 -> 255 gives 170, green stays 100, red 255 -> 0 gives
  // (65280 * 85) >> 16 = 84.
  EXPECT_EQ(Bytes(*wider, 3), (std::vector<std::vector<int>>{{0, 100, 255, 170, 100, 84, 255, 100, 0}}));
}

TEST(ResampleTest, RefusesEmptyTargetsAndSubBytePixels) {
  auto source = Gray({{1, 2}});
  EXPECT_FALSE(source->Resample(0, 1));
  EXPECT_FALSE(source->Resample(1, -1));
  CPictureDib mono;
  ASSERT_TRUE(mono.Create(8, 8, 1));
  EXPECT_FALSE(mono.Resample(4, 4));
  EXPECT_FALSE(CPictureDib().Resample(4, 4));
}

TEST(ResampleTest, FailsWhenTheNewSectionIsTooLarge) {
  const auto saved = platform::BitmapByteLimit();
  platform::SetBitmapByteLimit(1000);
  auto result = Gray({{1, 2}})->Resample(100, 100);
  platform::SetBitmapByteLimit(saved);
  EXPECT_FALSE(result);
}

}  // namespace
