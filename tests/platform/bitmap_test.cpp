#include "platform/bitmap.h"

#include <gtest/gtest.h>

#include <climits>

namespace platform {
namespace {

class ByteLimitGuard {
 public:
  explicit ByteLimitGuard(std::uint64_t limit) : m_saved(BitmapByteLimit()) { SetBitmapByteLimit(limit); }
  ~ByteLimitGuard() { SetBitmapByteLimit(m_saved); }

 private:
  std::uint64_t m_saved;
};

BitmapInfo Header(int width, int height, int bits) {
  BitmapInfo info{};
  info.header.size = 40;
  info.header.width = width;
  info.header.height = height;
  info.header.planes = 1;
  info.header.bitCount = static_cast<std::uint16_t>(bits);
  return info;
}

TEST(DibStrideTest, RowsArePaddedToFourBytes) {
  struct Case {
    int width, bits;
    std::int64_t stride;
  } cases[] = {{1, 1, 4},    {32, 1, 4},
               {33, 1, 8},   {3, 4, 4},
               {9, 4, 8},    {3, 8, 4},
               {5, 8, 8},    {3, 24, 12},
               {10, 24, 32}, {1, 16, 4},
               {3, 16, 8},   {1, 32, 4},
               {7, 32, 28},  {INT_MAX, 32, std::int64_t{INT_MAX} * 4}};
  for (const Case& c : cases) EXPECT_EQ(DibStride(c.width, c.bits), c.stride) << c.width << "x" << c.bits;
}

TEST(CreateDIBSectionTest, NegativeHeightGivesTopDownRows) {
  std::uint8_t* bits = nullptr;
  auto bitmap = CreateDIBSection(Header(3, -2, 24), &bits);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bits, bitmap->bits());
  const DibSection d = GetObject(*bitmap);
  EXPECT_EQ(d.width, 3);
  EXPECT_EQ(d.height, 2);
  EXPECT_EQ(d.widthBytes, 12);
  EXPECT_EQ(d.bitsPerPixel, 24);
  EXPECT_TRUE(d.topDown);
  EXPECT_EQ(bitmap->row(0), bits);
  EXPECT_EQ(bitmap->row(1), bits + 12);
}

TEST(CreateDIBSectionTest, PositiveHeightGivesBottomUpRows) {
  std::uint8_t* bits = nullptr;
  auto bitmap = CreateDIBSection(Header(3, 2, 24), &bits);
  ASSERT_TRUE(bitmap);
  EXPECT_FALSE(bitmap->topDown());
  EXPECT_EQ(bitmap->row(1), bits);
  EXPECT_EQ(bitmap->row(0), bits + 12);
}

TEST(CreateDIBSectionTest, PixelMemoryStartsZeroed) {
  std::uint8_t* bits = nullptr;
  auto bitmap = CreateDIBSection(Header(5, -5, 8), &bits);
  ASSERT_TRUE(bitmap);
  for (int i = 0; i < 5 * 8; ++i) EXPECT_EQ(bits[i], 0);
}

TEST(CreateDIBSectionTest, CopiesTheColourTableForPaletteDepths) {
  BitmapInfo info = Header(2, 2, 8);
  info.colors[7] = {1, 2, 3, 0};
  auto bitmap = CreateDIBSection(info, nullptr);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->colorTable()[7].blue, 1);
  EXPECT_EQ(bitmap->colorTable()[7].red, 3);
}

TEST(CreateDIBSectionTest, RefusesHeadersItCannotDescribe) {
  struct Case {
    const char* what;
    BitmapInfo info;
  };
  BitmapInfo compressed = Header(4, 4, 8);
  compressed.header.compression = 1;
  BitmapInfo bigHeader = Header(4, 4, 24);
  bigHeader.header.size = 108;
  const Case cases[] = {{"zero width", Header(0, 4, 24)},  {"negative width", Header(-4, 4, 24)},
                        {"zero height", Header(4, 0, 24)}, {"most negative height", Header(4, INT_MIN, 24)},
                        {"depth 2", Header(4, 4, 2)},      {"depth 0", Header(4, 4, 0)},
                        {"compressed", compressed},        {"108-byte header", bigHeader}};
  for (const Case& c : cases) {
    std::uint8_t* bits = reinterpret_cast<std::uint8_t*>(1);
    EXPECT_FALSE(CreateDIBSection(c.info, &bits)) << c.what;
    EXPECT_EQ(bits, nullptr) << c.what;
  }
}

TEST(CreateDIBSectionTest, RefusesPixelMemoryAboveTheByteLimit) {
  ByteLimitGuard guard(1200);
  EXPECT_TRUE(CreateDIBSection(Header(10, 37, 24), nullptr));   // 32 x 37 = 1184 bytes
  EXPECT_FALSE(CreateDIBSection(Header(10, 38, 24), nullptr));  // 1216 bytes
}

TEST(CreateDIBSectionTest, HugeSizesFailWithoutAllocating) {
  EXPECT_FALSE(CreateDIBSection(Header(INT_MAX, INT_MAX, 32), nullptr));
  EXPECT_FALSE(CreateDIBSection(Header(70000, -70000, 24), nullptr));  // 14.7 GB
}

TEST(BitmapImageTest, PaletteDepthsAreExpandedThroughTheColourTable) {
  // 1-bit: pixels 1,0,1 in the top row.
  auto mono = Bitmap::Make(3, 1, 1, true);
  ASSERT_TRUE(mono);
  mono->colorTable()[0] = {0, 0, 0, 0};
  mono->colorTable()[1] = {255, 128, 10, 0};
  mono->row(0)[0] = 0b10100000;
  QImage image = mono->toImage();
  EXPECT_EQ(image.pixel(0, 0), qRgb(10, 128, 255));
  EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 0));
  EXPECT_EQ(image.pixel(2, 0), qRgb(10, 128, 255));

  // 4-bit: high nibble first.
  auto nibbles = Bitmap::Make(2, 1, 4, false);
  ASSERT_TRUE(nibbles);
  nibbles->colorTable()[2] = {0, 0, 200, 0};
  nibbles->colorTable()[9] = {200, 0, 0, 0};
  nibbles->row(0)[0] = 0x29;
  image = nibbles->toImage();
  EXPECT_EQ(image.pixel(0, 0), qRgb(200, 0, 0));
  EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 200));
}

TEST(BitmapImageTest, BottomUpSectionsShowUpright) {
  auto bitmap = Bitmap::Make(1, 2, 24, false);
  ASSERT_TRUE(bitmap);
  bitmap->row(0)[2] = 255;  // top row red
  bitmap->row(1)[0] = 255;  // bottom row blue
  const QImage image = bitmap->toImage();
  EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(image.pixel(0, 1), qRgb(0, 0, 255));
}

TEST(BitmapImageTest, SixteenBitPixelsAreFiveFiveFive) {
  auto bitmap = Bitmap::Make(1, 1, 16, true);
  ASSERT_TRUE(bitmap);
  const std::uint16_t red = 31u << 10;
  bitmap->row(0)[0] = red & 0xff;
  bitmap->row(0)[1] = red >> 8;
  EXPECT_EQ(bitmap->toImage().pixel(0, 0), qRgb(255, 0, 0));
}

}  // namespace
}  // namespace platform
