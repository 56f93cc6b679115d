#include "codec/kernels/fancy_upsample.h"

#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/ycc_terms.h"

namespace {

// H2V1: left output of a pair (3s[k] + s[k-1] + 1) >> 2, right output (3s[k] + s[k+1] + 2) >> 2.
struct AcrossFilter {
  static int32_t at(const uint8_t* const* rows, int32_t x) {
    const int32_t k = x >> 1, odd = x & 1;
    const uint8_t* s = rows[0];
    return (3 * s[k] + s[odd != 0 ? k + 1 : k - 1] + 1 + odd) >> 2;
  }
};

// H2V2 from the column sums t = 3·near + far: left (3t[k] + t[k-1] + 8) >> 4, right
// (3t[k] + t[k+1] + 7) >> 4, i.e. (9n + 3h + 3v + d + 8 or 7) >> 4.
struct BothWaysFilter {
  static int32_t at(const uint8_t* const* rows, int32_t x) {
    const int32_t k = x >> 1, odd = x & 1;
    const int32_t side = odd != 0 ? k + 1 : k - 1;
    const int32_t centre = 3 * rows[0][k] + rows[1][k];
    const int32_t neighbour = 3 * rows[0][side] + rows[1][side];
    return (3 * centre + neighbour + 8 - odd) >> 4;
  }
};

template <typename Filter, FancyPixels kPixels>
void filterAndConvert(const FancyRowSources& rows, int32_t width, uint8_t* out) {
  constexpr int32_t bytes = kPixels == FancyPixels::Rgbx ? 4 : 3;
  for (int32_t x = 0; x < width; ++x, out += bytes) {
    const int32_t luma = rows.luma[x];
    const int32_t cb = Filter::at(rows.cb, x);
    const int32_t cr = Filter::at(rows.cr, x);
    const uint8_t r = clampToByte(luma + chromaRed(cr));
    const uint8_t g = clampToByte(luma + chromaGreenInPlace(cb, cr));
    const uint8_t b = clampToByte(luma + chromaBlue(cb));
    out[0] = kPixels == FancyPixels::Bgr ? b : r;
    out[1] = g;
    out[2] = kPixels == FancyPixels::Bgr ? r : b;
    if constexpr (kPixels == FancyPixels::Rgbx) out[3] = 255;
  }
}

template <typename Filter>
void filterRow(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  switch (pixels) {
    case FancyPixels::Rgb:
      return filterAndConvert<Filter, FancyPixels::Rgb>(rows, width, out);
    case FancyPixels::Bgr:
      return filterAndConvert<Filter, FancyPixels::Bgr>(rows, width, out);
    case FancyPixels::Rgbx:
      return filterAndConvert<Filter, FancyPixels::Rgbx>(rows, width, out);
  }
}

}  // namespace

void upsampleFancyH2V1Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  filterRow<AcrossFilter>(rows, width, pixels, out);
}

void upsampleFancyH2V2Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out) {
  filterRow<BothWaysFilter>(rows, width, pixels, out);
}

void keepBlockSamples(const int16_t* block, int32_t side, uint8_t* out, ptrdiff_t stride) {
  for (int32_t sy = 0; sy < side; ++sy, out += stride) {
    for (int32_t sx = 0; sx < side; ++sx) out[sx] = static_cast<uint8_t>(block[8 * sy + sx]);
  }
}

void idct0FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride) {
  idct0Full(block);
  keepBlockSamples(block, 8, out, stride);
}

void idct1FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride) {
  idct1Full(block);
  keepBlockSamples(block, 8, out, stride);
}
