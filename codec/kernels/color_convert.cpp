// Decoder colour conversion: YCbCr to RGB, BGR and RGB plus 255; YCCK to CMYK. Replicated
// chroma; each chroma term computed once per chroma sample.
#include <cstddef>
#include <cstdint>

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/mcu_convert.h"
#include "codec/kernels/ycc_terms.h"

namespace {

using namespace mcu_convert;

// Added to Y: crR, -gT, cbB.
struct ChromaTerms {
  int32_t red;
  int32_t green;
  int32_t blue;
};

enum class Layout { Rgb, Bgr, Rgbx, InvertedWithK };

template <Layout kLayout>
struct YccFormat {
  static constexpr int kBytes = kLayout == Layout::Rgb || kLayout == Layout::Bgr ? 3 : 4;
  static constexpr int kComponents = kLayout == Layout::InvertedWithK ? 4 : 3;

  [[gnu::always_inline]] static ChromaTerms prepare(int32_t cb, int32_t cr) {
    return {chromaRed(cr), -chromaGreen(cb, cr), chromaBlue(cb)};
  }

  [[gnu::always_inline]] static void store(uint8_t* p, int32_t y, const ChromaTerms& t, int16_t fourth,
                                           int /*dx*/) {
    const uint8_t r = clampToByte(y + t.red), g = clampToByte(y + t.green), b = clampToByte(y + t.blue);
    if constexpr (kLayout == Layout::Rgb || kLayout == Layout::Rgbx) {
      p[0] = r;
      p[1] = g;
      p[2] = b;
      if constexpr (kLayout == Layout::Rgbx) p[3] = 255;
    } else if constexpr (kLayout == Layout::Bgr) {
      p[0] = b;
      p[1] = g;
      p[2] = r;
    } else {
      p[0] = static_cast<uint8_t>(255 - r);
      p[1] = static_cast<uint8_t>(255 - g);
      p[2] = static_cast<uint8_t>(255 - b);
      p[3] = static_cast<uint8_t>(fourth);  // low byte, unclamped
    }
  }
};

using ToRgb = YccFormat<Layout::Rgb>;
using ToBgr = YccFormat<Layout::Bgr>;
using ToRgbx = YccFormat<Layout::Rgbx>;
using YcckToCmyk = YccFormat<Layout::InvertedWithK>;

}  // namespace

void convertH1V1ToRgb(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<ToRgb>(c, dst, stride);
}
void convertH2V1ToRgb(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V1<ToRgb>(c, dst, stride);
}
void convertH2V2ToRgb(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V2<ToRgb>(c, dst, stride);
}
void convertH1V1ToBgr(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<ToBgr>(c, dst, stride);
}
void convertH2V1ToBgr(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V1<ToBgr>(c, dst, stride);
}
void convertH2V2ToBgr(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V2<ToBgr>(c, dst, stride);
}
void convertH1V1ToRgbx(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<ToRgbx>(c, dst, stride);
}
void convertH2V1ToRgbx(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V1<ToRgbx>(c, dst, stride);
}
void convertH2V2ToRgbx(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V2<ToRgbx>(c, dst, stride);
}
void convertH1V1YcckToCmyk(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH1V1<YcckToCmyk>(c, dst, stride);
}
void convertH2V1YcckToCmyk(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V1<YcckToCmyk>(c, dst, stride);
}
void convertH2V2YcckToCmyk(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride) {
  convertMcuH2V2<YcckToCmyk>(c, dst, stride);
}

void convertH1V1ToRgbPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<ToRgb, 1, 1>(c, dst, stride, rect);
}
void convertH2V1ToRgbPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<ToRgb, 2, 1>(c, dst, stride, rect);
}
void convertH2V2ToRgbPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<ToRgb, 2, 2>(c, dst, stride, rect);
}
void convertH1V1ToBgrPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<ToBgr, 1, 1>(c, dst, stride, rect);
}
void convertH2V1ToBgrPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<ToBgr, 2, 1>(c, dst, stride, rect);
}
void convertH2V2ToBgrPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect) {
  convertPartial<ToBgr, 2, 2>(c, dst, stride, rect);
}
void convertH1V1ToRgbxPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride,
                              const PixelRect& rect) {
  convertPartial<ToRgbx, 1, 1>(c, dst, stride, rect);
}
void convertH2V1ToRgbxPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride,
                              const PixelRect& rect) {
  convertPartial<ToRgbx, 2, 1>(c, dst, stride, rect);
}
void convertH2V2ToRgbxPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride,
                              const PixelRect& rect) {
  convertPartial<ToRgbx, 2, 2>(c, dst, stride, rect);
}
void convertH1V1YcckToCmykPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride,
                                  const PixelRect& rect) {
  convertPartial<YcckToCmyk, 1, 1>(c, dst, stride, rect);
}
void convertH2V1YcckToCmykPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride,
                                  const PixelRect& rect) {
  convertPartial<YcckToCmyk, 2, 1>(c, dst, stride, rect);
}
void convertH2V2YcckToCmykPartial(const int16_t* const* c, uint8_t* dst, ptrdiff_t stride,
                                  const PixelRect& rect) {
  convertPartial<YcckToCmyk, 2, 2>(c, dst, stride, rect);
}
