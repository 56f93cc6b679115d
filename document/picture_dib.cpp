#include "document/picture_dib.h"

#include "document/dc_cache.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

CPictureDib::~CPictureDib() {
  Release();
}

void CPictureDib::Release() {
  if (m_dc) {
    // A picture destroyed while borrowed must not leave its bitmap in a cached context.
    m_dc->SelectObject(m_previousObject);
    DcCache::GiveBack(m_dc);
    m_dc = nullptr;
    m_dcUseCount = 0;
  }
  if (m_bitmap) {
    DetachBitmap();
    m_header.reset();
  }
}

bool CPictureDib::Create(int width, int height, int bitsPerPixel) {
  Release();
  m_header.reset(new (std::nothrow) platform::BitmapInfo);
  if (!m_header) return false;
  std::memset(&m_header->header, 0, sizeof(m_header->header));
  platform::BitmapInfoHeader& h = m_header->header;
  h.size = sizeof(platform::BitmapInfoHeader);
  h.width = width;
  h.height = height == INT32_MIN ? 0 : -height;
  h.planes = 1;
  h.bitCount = static_cast<std::uint16_t>(bitsPerPixel);
  h.compression = platform::kCompressionNone;
  if (bitsPerPixel <= 8) std::memset(m_header->colors, 0, sizeof(m_header->colors));

  std::uint8_t* pixels = nullptr;
  auto section = platform::CreateDIBSection(*m_header, &pixels);
  if (!section) {
    m_header.reset();
    return false;
  }
  m_bitmap = std::move(section);
  DeriveRowAddressing(height <= 0);
  h.height = m_height;
  return true;
}

void CPictureDib::AttachBitmap(std::unique_ptr<platform::Bitmap> section, bool bottomUp) {
  m_bitmap = std::move(section);
  if (m_bitmap) DeriveRowAddressing(bottomUp);
}

void CPictureDib::DeriveRowAddressing(bool bottomUp) {
  const platform::DibSection d = platform::GetObject(*m_bitmap);
  m_width = d.width;
  m_height = d.height;
  m_bitsPerPixel = d.bitsPerPixel;
  const int stride = d.widthBytes;
  if (bottomUp) {
    m_bits = d.bits + static_cast<std::ptrdiff_t>(m_height - 1) * stride;
    m_rowStep = -stride;
  } else {
    m_bits = d.bits;
    m_rowStep = stride;
  }
}

std::unique_ptr<platform::Bitmap> CPictureDib::DetachBitmap() {
  m_bits = nullptr;
  m_width = 0;
  m_height = 0;
  m_rowStep = 0;
  m_bitsPerPixel = 0;
  return std::move(m_bitmap);
}

platform::DrawingContext* CPictureDib::BorrowDC() const {
  ++m_dcUseCount;
  if (!m_dc) {
    m_dc = DcCache::Take();
    m_previousObject = m_dc->SelectObject(m_bitmap.get());
  }
  return m_dc;
}

void CPictureDib::ReturnDC() const {
  if (m_dcUseCount <= 0) return;
  if (--m_dcUseCount == 0) {
    m_dc->SelectObject(m_previousObject);
    DcCache::GiveBack(m_dc);
    m_dc = nullptr;
  }
}

namespace {

// Weights are 8-bit fixed point (0..256). A vertical pass gives at most 255 * 256 = 65280,
// which fits the 16-bit intermediate; the horizontal pass multiplies that by at most 256,
// 16711680, well inside 32 bits, and the shift by 16 removes both weight scales.
constexpr int kWeightOne = 256;

struct ColumnTaps {
  std::vector<int> x0;
  std::vector<int> wx;
};

ColumnTaps HorizontalTaps(int sourceWidth, int newWidth) {
  const double sx = static_cast<double>(sourceWidth) / newWidth;
  ColumnTaps taps{std::vector<int>(static_cast<std::size_t>(newWidth)),
                  std::vector<int>(static_cast<std::size_t>(newWidth))};
  for (int i = 0; i < newWidth; ++i) {
    const double fx = i * sx;
    const int x0 = static_cast<int>(fx);
    taps.x0[static_cast<std::size_t>(i)] = x0;
    taps.wx[static_cast<std::size_t>(i)] = static_cast<int>(((x0 + 1) - fx) * kWeightOne);
  }
  return taps;
}

}  // namespace

std::unique_ptr<CPictureDib> CPictureDib::Resample(int newWidth, int newHeight) const {
  if (!m_bitmap || newWidth <= 0 || newHeight <= 0) return nullptr;
  if (m_bitsPerPixel != 8 && m_bitsPerPixel != 24 && m_bitsPerPixel != 32) return nullptr;
  auto result = std::make_unique<CPictureDib>();
  if (!result->Create(newWidth, newHeight, m_bitsPerPixel)) return nullptr;

  const int channels = m_bitsPerPixel / 8;
  const int lastColumn = m_width - 1;
  const int lastRow = m_height - 1;
  const ColumnTaps taps = HorizontalTaps(m_width, newWidth);
  const double sy = static_cast<double>(m_height) / newHeight;
  std::vector<std::uint16_t> t(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(channels));

  for (int j = 0; j < newHeight; ++j) {
    const double fy = j * sy;
    const int y0 = static_cast<int>(fy);
    const int wy = static_cast<int>(((y0 + 1) - fy) * kWeightOne);
    const std::uint8_t* a = Row(y0 > lastRow ? lastRow : y0);
    const std::uint8_t* b = Row(y0 + 1 > lastRow ? lastRow : y0 + 1);
    for (std::size_t p = 0; p < t.size(); ++p)
      t[p] = static_cast<std::uint16_t>(b[p] * (kWeightOne - wy) + a[p] * wy);

    std::uint8_t* out = result->Row(j);
    for (int i = 0; i < newWidth; ++i) {
      const int x0 = std::min(taps.x0[static_cast<std::size_t>(i)], lastColumn);
      const int x1 = std::min(taps.x0[static_cast<std::size_t>(i)] + 1, lastColumn);
      const std::uint32_t wx = static_cast<std::uint32_t>(taps.wx[static_cast<std::size_t>(i)]);
      for (int c = 0; c < channels; ++c) {
        const std::uint32_t right = t[static_cast<std::size_t>(x1 * channels + c)];
        const std::uint32_t left = t[static_cast<std::size_t>(x0 * channels + c)];
        out[i * channels + c] = static_cast<std::uint8_t>((right * (kWeightOne - wx) + left * wx) >> 16);
      }
    }
  }
  return result;
}
