#include <bit>
#include <cstddef>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/ycc_terms.h"

void convertScaledYcc(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                      const ScaledMcuShape* shape) {
  // Block sides and chroma repeats are powers of two: shifts rather than divisions.
  const int32_t sideShift = std::countr_zero(static_cast<uint32_t>(shape->side));
  const int32_t sideMask = shape->side - 1;
  const int32_t repeatShift = std::countr_zero(static_cast<uint32_t>(shape->chromaRepeat));
  const int32_t width = shape->side * shape->lumaAcross;
  const int32_t height = shape->side * shape->lumaDown;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* p = dst + y * stride;
    const int16_t* lumaRow = components[0] + 64 * (y >> sideShift) * shape->lumaAcross + 8 * (y & sideMask);
    const int16_t* cbRow = components[1] + 8 * y;
    const int16_t* crRow = components[2] + 8 * y;
    for (int32_t x = 0; x < width; ++x, p += 3) {
      const int32_t luma = static_cast<uint8_t>(lumaRow[64 * (x >> sideShift) + (x & sideMask)]);
      const int32_t cb = static_cast<uint8_t>(cbRow[x >> repeatShift]);
      const int32_t cr = static_cast<uint8_t>(crRow[x >> repeatShift]);
      const uint8_t r = clampToByte(luma + chromaRed(cr));
      const uint8_t g = clampToByte(luma + chromaGreenInPlace(cb, cr));
      const uint8_t b = clampToByte(luma + chromaBlue(cb));
      p[0] = shape->bgr != 0 ? b : r;
      p[1] = g;
      p[2] = shape->bgr != 0 ? r : b;
    }
  }
}
