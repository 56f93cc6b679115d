// Decoder output kernels without colour conversion: copies of one, three or four components
// (chroma replicated for H2V1 and H2V2) and the packed 4:2:2 layout. Samples are stored as
// their low byte.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/mcu_convert.h"

namespace {

using namespace mcu_convert;

struct ChromaBytes {
  uint8_t cb;
  uint8_t cr;
};

constexpr uint8_t lowByte(int32_t sample) {
  return static_cast<uint8_t>(sample);
}

struct GrayFormat {
  static constexpr int kBytes = 1;
  static constexpr int kComponents = 1;
  [[gnu::always_inline]] static ChromaBytes prepare(int32_t, int32_t) { return {0, 0}; }
  [[gnu::always_inline]] static void store(uint8_t* p, int32_t y, const ChromaBytes&, int16_t, int) {
    p[0] = lowByte(y);
  }
};

template <int kBytesPerPixel>
struct ThreeComponentFormat {
  static constexpr int kBytes = kBytesPerPixel;
  static constexpr int kComponents = 3;
  [[gnu::always_inline]] static ChromaBytes prepare(int32_t cb, int32_t cr) {
    return {lowByte(cb), lowByte(cr)};
  }
  [[gnu::always_inline]] static void store(uint8_t* p, int32_t y, const ChromaBytes& c, int16_t, int) {
    p[0] = lowByte(y);
    p[1] = c.cb;
    p[2] = c.cr;
    if constexpr (kBytes == 4) p[3] = 255;
  }
};

struct FourComponentFormat {
  static constexpr int kBytes = 4;
  static constexpr int kComponents = 4;
  [[gnu::always_inline]] static ChromaBytes prepare(int32_t cb, int32_t cr) {
    return {lowByte(cb), lowByte(cr)};
  }
  [[gnu::always_inline]] static void store(uint8_t* p, int32_t y, const ChromaBytes& c, int16_t fourth, int) {
    p[0] = lowByte(y);
    p[1] = c.cb;
    p[2] = c.cr;
    p[3] = lowByte(fourth);
  }
};

// Y0 Cb0 Y1 Cr0 ...: the left pixel of a chroma pair carries Cb, the right one Cr.
struct PackedFormat {
  static constexpr int kBytes = 2;
  static constexpr int kComponents = 3;
  [[gnu::always_inline]] static ChromaBytes prepare(int32_t cb, int32_t cr) {
    return {lowByte(cb), lowByte(cr)};
  }
  [[gnu::always_inline]] static void store(uint8_t* p, int32_t y, const ChromaBytes& c, int16_t, int dx) {
    p[0] = lowByte(y);
    p[1] = dx == 0 ? c.cb : c.cr;
  }
};

using Copy3 = ThreeComponentFormat<3>;
using Copy3To4 = ThreeComponentFormat<4>;

}  // namespace

void copyGray(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<GrayFormat>(c, dst, stride);
}
// Overlapping 4-byte stores, each pixel's fourth byte rewritten by the next one; the last
// store ends at the row's last byte.
void copyGrayTo3(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  for (int32_t y = 0; y < 8; ++y, dst += stride) {
    uint32_t pixel[8];
    for (int32_t x = 0; x < 8; ++x) pixel[x] = uint32_t{static_cast<uint8_t>(c[0][8 * y + x])} * 0x010101u;
    if constexpr (std::endian::native == std::endian::little) {
      for (int32_t x = 0; x < 7; ++x) std::memcpy(dst + 3 * x, &pixel[x], 4);
      const uint32_t tail = pixel[7] << 8 | (pixel[6] & 0xffu);
      std::memcpy(dst + 20, &tail, 4);
    } else {
      for (int32_t x = 0; x < 8; ++x)
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = static_cast<uint8_t>(pixel[x]);
    }
  }
}
void copy3To3(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<Copy3>(c, dst, stride);
}
void upsampleH2V1Copy(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V1<Copy3>(c, dst, stride);
}
void upsampleH2V2Copy(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V2<Copy3>(c, dst, stride);
}
void copy3To4(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<Copy3To4>(c, dst, stride);
}
void packH2V1(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V1<PackedFormat>(c, dst, stride);
}
void copy4To4(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<FourComponentFormat>(c, dst, stride);
}

void copyGrayPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<GrayFormat, 1, 1>(c, dst, stride, rect);
}
void copy3To3Partial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<Copy3, 1, 1>(c, dst, stride, rect);
}
void upsampleH2V1CopyPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<Copy3, 2, 1>(c, dst, stride, rect);
}
void upsampleH2V2CopyPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<Copy3, 2, 2>(c, dst, stride, rect);
}
void copy3To4Partial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<Copy3To4, 1, 1>(c, dst, stride, rect);
}
void packH2V1Partial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<PackedFormat, 2, 1>(c, dst, stride, rect);
}
void copy4To4Partial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<FourComponentFormat, 1, 1>(c, dst, stride, rect);
}
