// Bitmap sections: pixel memory in the layout BMP files use, described by a 40-byte header.
#pragma once

#include <QImage>

#include <cstdint>
#include <memory>

namespace platform {

struct BitmapInfoHeader {
  std::uint32_t size;
  std::int32_t width;
  std::int32_t height;  // negative: rows stored top-down
  std::uint16_t planes;
  std::uint16_t bitCount;
  std::uint32_t compression;
  std::uint32_t sizeImage;
  std::int32_t xPelsPerMeter;
  std::int32_t yPelsPerMeter;
  std::uint32_t clrUsed;
  std::uint32_t clrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct RgbQuad {
  std::uint8_t blue;
  std::uint8_t green;
  std::uint8_t red;
  std::uint8_t reserved;
};
static_assert(sizeof(RgbQuad) == 4);

inline constexpr int kColorTableEntries = 256;

// The information header followed by room for a full colour table (1064 bytes).
struct BitmapInfo {
  BitmapInfoHeader header;
  RgbQuad colors[kColorTableEntries];
};
static_assert(sizeof(BitmapInfo) == 1064);

inline constexpr std::uint32_t kCompressionNone = 0;

// Row stride of a section: rows are padded to a multiple of four bytes. Callers pass
// validated sizes; the arithmetic is 64-bit so no width in int range can overflow it.
std::int64_t DibStride(std::int64_t width, int bitsPerPixel);

// Sections above this many bytes of pixel memory are refused, as a real system refuses
// allocations it cannot satisfy. Tests lower it to exercise the callers' fallbacks.
void SetBitmapByteLimit(std::uint64_t bytes);
std::uint64_t BitmapByteLimit();

class Bitmap {
 public:
  Bitmap(int width, int height, int bitsPerPixel, bool topDown);
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  // Null when the pixel memory cannot be had (size limit or out of memory).
  static std::unique_ptr<Bitmap> Make(int width, int height, int bitsPerPixel, bool topDown);

  int width() const { return m_width; }
  int height() const { return m_height; }
  int bitsPerPixel() const { return m_bitsPerPixel; }
  int stride() const { return m_stride; }
  bool topDown() const { return m_topDown; }
  std::uint8_t* bits() { return m_pixels.get(); }
  const std::uint8_t* bits() const { return m_pixels.get(); }
  RgbQuad* colorTable() { return m_colors; }
  const RgbQuad* colorTable() const { return m_colors; }

  // Address of an image row counted from the top, whatever the memory order.
  std::uint8_t* row(int y);
  const std::uint8_t* row(int y) const;

  // The colour of one pixel (x from the left, y from the top); palette depths go through
  // the colour table, 16-bit pixels are 5-5-5, 32-bit pixels are B, G, R and one unused byte.
  QRgb pixel(int x, int y) const;

  // The pixels as an image Qt can paint from, upright. Shares memory for the depths Qt
  // reads directly from a top-down section; copies otherwise.
  QImage toImage() const;
  // An image over the pixel memory that painting writes through; null for sections
  // Qt cannot paint into in place (bottom-up or palette-based).
  QImage paintableImage();

 private:
  bool allocate();

  int m_width;
  int m_height;
  int m_bitsPerPixel;
  int m_stride;
  bool m_topDown;
  std::unique_ptr<std::uint8_t[]> m_pixels;
  RgbQuad m_colors[kColorTableEntries] = {};
};

// Description of a section, as the graphics system reports it.
struct DibSection {
  int width = 0;
  int height = 0;  // always positive
  int widthBytes = 0;
  int bitsPerPixel = 0;
  bool topDown = false;
  std::uint8_t* bits = nullptr;
};

// Creates a section from a header (and its colour table for 8 bits per pixel or fewer).
// A negative height gives top-down rows. Returns null for sizes or depths the header
// cannot describe and for pixel memory above the byte limit; *bits gets the pixel address.
std::unique_ptr<Bitmap> CreateDIBSection(const BitmapInfo& info, std::uint8_t** bits);
DibSection GetObject(const Bitmap& bitmap);

}  // namespace platform
