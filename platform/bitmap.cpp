#include "platform/bitmap.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>

namespace platform {

namespace {

// Large enough for any picture the program handles, small enough that a corrupt size
// cannot make the process ask for tens of gigabytes.
constexpr std::uint64_t kDefaultByteLimit = std::uint64_t{1} << 30;
std::atomic<std::uint64_t> g_byteLimit{kDefaultByteLimit};

bool IsSupportedDepth(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

QRgb ToRgb(const RgbQuad& q) {
  return qRgb(q.red, q.green, q.blue);
}

// 16-bit pixels without masks are 5-5-5 with the top bit unused.
QRgb Rgb555(std::uint16_t v) {
  auto expand = [](unsigned c) { return static_cast<int>((c << 3) | (c >> 2)); };
  return qRgb(expand((v >> 10) & 31u), expand((v >> 5) & 31u), expand(v & 31u));
}

}  // namespace

std::int64_t DibStride(std::int64_t width, int bitsPerPixel) {
  return (bitsPerPixel * width + 31) / 32 * 4;
}

void SetBitmapByteLimit(std::uint64_t bytes) {
  g_byteLimit.store(bytes);
}
std::uint64_t BitmapByteLimit() {
  return g_byteLimit.load();
}

Bitmap::Bitmap(int width, int height, int bitsPerPixel, bool topDown)
    : m_width(width), m_height(height), m_bitsPerPixel(bitsPerPixel), m_stride(0), m_topDown(topDown) {}

std::unique_ptr<Bitmap> Bitmap::Make(int width, int height, int bitsPerPixel, bool topDown) {
  if (width <= 0 || height <= 0 || !IsSupportedDepth(bitsPerPixel)) return nullptr;
  const std::int64_t stride = DibStride(width, bitsPerPixel);
  if (stride > INT_MAX) return nullptr;
  const auto bytes = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height);
  if (bytes > BitmapByteLimit()) return nullptr;
  auto bitmap = std::make_unique<Bitmap>(width, height, bitsPerPixel, topDown);
  bitmap->m_stride = static_cast<int>(stride);
  if (!bitmap->allocate()) return nullptr;
  return bitmap;
}

bool Bitmap::allocate() {
  const auto bytes = static_cast<std::size_t>(m_stride) * static_cast<std::size_t>(m_height);
  m_pixels.reset(new (std::nothrow) std::uint8_t[bytes]());
  return m_pixels != nullptr;
}

std::uint8_t* Bitmap::row(int y) {
  const int memoryRow = m_topDown ? y : m_height - 1 - y;
  return m_pixels.get() + static_cast<std::ptrdiff_t>(memoryRow) * m_stride;
}

const std::uint8_t* Bitmap::row(int y) const {
  return const_cast<Bitmap*>(this)->row(y);
}

QRgb Bitmap::pixel(int x, int y) const {
  const std::uint8_t* src = row(y);
  switch (m_bitsPerPixel) {
    case 1:
      return ToRgb(m_colors[(src[x / 8] >> (7 - x % 8)) & 1]);
    case 4:
      return ToRgb(m_colors[(src[x / 2] >> (x % 2 ? 0 : 4)) & 15]);
    case 8:
      return ToRgb(m_colors[src[x]]);
    case 16:
      return Rgb555(static_cast<std::uint16_t>(src[2 * x] | (src[2 * x + 1] << 8)));
    case 24:
      return qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
    default:
      return qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
  }
}

QImage Bitmap::toImage() const {
  const uchar* pixels = m_pixels.get();
  if (m_topDown && m_bitsPerPixel == 24)
    return QImage(pixels, m_width, m_height, m_stride, QImage::Format_BGR888);
  if (m_topDown && m_bitsPerPixel == 32)
    return QImage(pixels, m_width, m_height, m_stride, QImage::Format_RGB32);

  QImage image(m_width, m_height, QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (int y = 0; y < m_height; ++y) {
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < m_width; ++x) dst[x] = pixel(x, y);
  }
  return image;
}

QImage Bitmap::paintableImage() {
  if (!m_topDown) return {};
  if (m_bitsPerPixel == 24) return QImage(m_pixels.get(), m_width, m_height, m_stride, QImage::Format_BGR888);
  if (m_bitsPerPixel == 32) return QImage(m_pixels.get(), m_width, m_height, m_stride, QImage::Format_RGB32);
  return {};
}

std::unique_ptr<Bitmap> CreateDIBSection(const BitmapInfo& info, std::uint8_t** bits) {
  if (bits) *bits = nullptr;
  const BitmapInfoHeader& h = info.header;
  if (h.size != sizeof(BitmapInfoHeader) || h.compression != kCompressionNone) return nullptr;
  if (h.height == INT32_MIN) return nullptr;
  const bool topDown = h.height < 0;
  const int height = topDown ? -h.height : h.height;
  auto bitmap = Bitmap::Make(h.width, height, h.bitCount, topDown);
  if (!bitmap) return nullptr;
  if (h.bitCount <= 8) {
    for (int i = 0; i < kColorTableEntries; ++i) bitmap->colorTable()[i] = info.colors[i];
  }
  if (bits) *bits = bitmap->bits();
  return bitmap;
}

DibSection GetObject(const Bitmap& bitmap) {
  DibSection d;
  d.width = bitmap.width();
  d.height = bitmap.height();
  d.widthBytes = bitmap.stride();
  d.bitsPerPixel = bitmap.bitsPerPixel();
  d.topDown = bitmap.topDown();
  d.bits = const_cast<std::uint8_t*>(bitmap.bits());
  return d;
}

}  // namespace platform
