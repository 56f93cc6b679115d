#include "document/picture_convert.h"

std::unique_ptr<CPictureDib> ConvertTo24Bit(const CPictureDib& source) {
  const platform::Bitmap* bitmap = source.Bitmap();
  if (!bitmap) return nullptr;
  auto result = std::make_unique<CPictureDib>();
  if (!result->Create(source.Width(), source.Height(), 24)) return nullptr;
  for (int y = 0; y < source.Height(); ++y) {
    std::uint8_t* out = result->Row(y);
    for (int x = 0; x < source.Width(); ++x) {
      const QRgb colour = bitmap->pixel(x, y);
      out[3 * x] = static_cast<std::uint8_t>(qBlue(colour));
      out[3 * x + 1] = static_cast<std::uint8_t>(qGreen(colour));
      out[3 * x + 2] = static_cast<std::uint8_t>(qRed(colour));
    }
  }
  return result;
}

void CmykToBgr(std::uint8_t* topRow, int width, int height, int rowStep) {
  // Products are at most 255 * 255 + 1, so the shifted result stays a byte.
  auto scale = [](unsigned channel, unsigned k) { return static_cast<std::uint8_t>((channel * k + 1) >> 8); };
  for (int y = 0; y < height; ++y) {
    std::uint8_t* p = topRow + static_cast<std::ptrdiff_t>(y) * rowStep;
    for (int x = 0; x < width; ++x, p += 4) {
      const unsigned b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
      p[0] = scale(b2, b3);
      p[1] = scale(b1, b3);
      p[2] = scale(b0, b3);
    }
  }
}
