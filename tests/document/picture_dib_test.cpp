#include "document/picture_dib.h"
#include "document/dc_cache.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PictureDibTest, NewPictureIsEmpty) {
  const CPictureDib picture;
  EXPECT_FALSE(picture.HasBitmap());
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(picture.Height(), 0);
  EXPECT_EQ(picture.RowStep(), 0);
  EXPECT_EQ(picture.Header(), nullptr);
}

TEST(PictureDibTest, CreateWithPositiveHeightIsTopDownAndHeaderDescribesBmpRows) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(5, 3, 8));
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(picture.Height(), 3);
  EXPECT_EQ(picture.BitsPerPixel(), 8);
  EXPECT_EQ(picture.RowStep(), 8);
  EXPECT_TRUE(picture.Bitmap()->topDown());
  EXPECT_EQ(picture.Row(0), picture.Bitmap()->bits());

  const platform::BitmapInfo* info = picture.Header();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->header.size, 40u);
  EXPECT_EQ(info->header.width, 5);
  EXPECT_EQ(info->header.height, 3);  // positive from now on: the form written to files
  EXPECT_EQ(info->header.planes, 1);
  EXPECT_EQ(info->header.bitCount, 8);
  EXPECT_EQ(info->header.compression, 0u);
  EXPECT_EQ(info->header.sizeImage, 0u);
  EXPECT_EQ(info->header.clrUsed, 0u);
  for (const platform::RgbQuad& q : info->colors) EXPECT_EQ(q.blue | q.green | q.red | q.reserved, 0);
}

TEST(PictureDibTest, CreateWithNegativeHeightIsBottomUp) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(3, -4, 24));
  EXPECT_EQ(picture.Height(), 4);
  EXPECT_EQ(picture.RowStep(), -12);
  EXPECT_FALSE(picture.Bitmap()->topDown());
  EXPECT_EQ(picture.Row(3), picture.Bitmap()->bits());
  EXPECT_EQ(picture.Row(0), picture.Bitmap()->bits() + 36);
  EXPECT_EQ(picture.Header()->header.height, 4);
}

TEST(PictureDibTest, CreateFailsCleanly) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(2, 2, 24));
  EXPECT_FALSE(picture.Create(0, 2, 24));
  EXPECT_FALSE(picture.HasBitmap());
  EXPECT_EQ(picture.Header(), nullptr);
  EXPECT_FALSE(picture.Create(2, 0, 24));
  EXPECT_FALSE(picture.Create(2, 2, 7));
}

TEST(PictureDibTest, DetachHandsOverTheSectionAndAttachDerivesAddressing) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(3, 2, 24));
  auto section = picture.DetachBitmap();
  ASSERT_TRUE(section);
  EXPECT_FALSE(picture.HasBitmap());
  EXPECT_EQ(picture.Width(), 0);
  EXPECT_EQ(picture.RowStep(), 0);
  EXPECT_EQ(picture.BitsPerPixel(), 0);

  std::uint8_t* memory = section->bits();
  picture.AttachBitmap(std::move(section), true);
  EXPECT_EQ(picture.Width(), 3);
  EXPECT_EQ(picture.Height(), 2);
  EXPECT_EQ(picture.RowStep(), -12);
  EXPECT_EQ(picture.Row(0), memory + 12);
}

TEST(PictureDibTest, BorrowedContextsNestAndHoldTheBitmap) {
  CPictureDib picture;
  ASSERT_TRUE(picture.Create(2, 2, 24));
  platform::DrawingContext* dc = picture.BorrowDC();
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(dc->selectedBitmap(), picture.Bitmap());
  EXPECT_EQ(picture.BorrowDC(), dc);
  EXPECT_EQ(picture.DcUseCount(), 2);
  picture.ReturnDC();
  EXPECT_EQ(dc->selectedBitmap(), picture.Bitmap());
  picture.ReturnDC();
  EXPECT_EQ(picture.DcUseCount(), 0);
  EXPECT_NE(dc->selectedBitmap(), picture.Bitmap());
}

TEST(PictureDibTest, DestroyingABorrowedPictureLeavesNoDanglingBitmapInTheCache) {
  platform::DrawingContext* dc = nullptr;
  {
    CPictureDib picture;
    ASSERT_TRUE(picture.Create(2, 2, 24));
    dc = picture.BorrowDC();
  }
  platform::DrawingContext* again = DcCache::Take();
  EXPECT_EQ(again, dc);
  EXPECT_EQ(again->selectedBitmap()->width(), 1);  // its own initial bitmap again
  DcCache::GiveBack(again);
}

TEST(DcCacheTest, KeepsAtMostFourContexts) {
  std::vector<platform::DrawingContext*> taken;
  for (int i = 0; i < 6; ++i) taken.push_back(DcCache::Take());
  EXPECT_EQ(DcCache::CachedCount(), 0);
  for (std::size_t i = 0; i < taken.size(); ++i) {
    for (std::size_t j = i + 1; j < taken.size(); ++j) EXPECT_NE(taken[i], taken[j]);
  }
  for (platform::DrawingContext* dc : taken) DcCache::GiveBack(dc);
  EXPECT_EQ(DcCache::CachedCount(), DcCache::kSlots);
  // Reused, not made anew.
  platform::DrawingContext* dc = DcCache::Take();
  EXPECT_NE(std::find(taken.begin(), taken.end(), dc), taken.end());
  DcCache::GiveBack(dc);
}

}  // namespace
