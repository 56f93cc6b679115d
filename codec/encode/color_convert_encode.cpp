#include "codec/encode/color_convert_encode.h"

#include "codec/kernel_table.h"

namespace {

// --- colour formulas ------------------------------------------------------------------------
// R, G, B are bytes or sums of up to four bytes (0..1020): every product below stays under
// 2^18, far from the 32-bit limit. The results are already level-shifted: luma minus 128
// (32640 = 128 * 255), chroma differences centred on 0.

int16_t lumaOf(int32_t r, int32_t g, int32_t b) {
  return static_cast<int16_t>((77 * r + 150 * g + 29 * b - 32640) >> 8);
}

// Chroma of one pixel (shift 8) or of the sum of two (shift 9) or four (shift 10) pixels.
int16_t cbOf(int32_t r, int32_t g, int32_t b, int shift = 8) {
  return static_cast<int16_t>((128 * b - 43 * r - 85 * g + (1 << (shift - 1))) >> shift);
}

int16_t crOf(int32_t r, int32_t g, int32_t b, int shift = 8) {
  return static_cast<int16_t>((128 * r - 107 * g - 21 * b + (1 << (shift - 1))) >> shift);
}

// --- pixel formats of the whole-tile kernels ------------------------------------------------

template <int ROffset, int GOffset, int BOffset, int Bytes>
struct RgbFormat {
  static constexpr int kBytes = Bytes;
  static constexpr bool kHasBlack = false;
  static int32_t r(const uint8_t* p) { return p[ROffset]; }
  static int32_t g(const uint8_t* p) { return p[GOffset]; }
  static int32_t b(const uint8_t* p) { return p[BOffset]; }
  static int16_t black(const uint8_t*) { return 0; }
};
using Rgb3 = RgbFormat<0, 1, 2, 3>;
using Bgr3 = RgbFormat<2, 1, 0, 3>;

// CMYK goes to YCCK through R = 255 - C, G = 255 - M, B = 255 - Y; the 255s cancel in the
// chroma sums (128 - 43 - 85 = 128 - 107 - 21 = 0), so this equals the direct CMY formulas.
struct CmykFormat {
  static constexpr int kBytes = 4;
  static constexpr bool kHasBlack = true;
  static int32_t r(const uint8_t* p) { return 255 - p[0]; }
  static int32_t g(const uint8_t* p) { return 255 - p[1]; }
  static int32_t b(const uint8_t* p) { return 255 - p[2]; }
  static int16_t black(const uint8_t* p) { return static_cast<int16_t>(p[3] - 128); }
};

// One 8x8 tile, every component at full resolution. blocks: Y, Cb, Cr[, K].
template <typename Format>
void convertTileH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = src + y * stride;
    for (int x = 0; x < 8; ++x, p += Format::kBytes) {
      const int32_t r = Format::r(p), g = Format::g(p), b = Format::b(p);
      const int i = y * 8 + x;
      blocks[0][i] = lumaOf(r, g, b);
      blocks[1][i] = cbOf(r, g, b);
      blocks[2][i] = crOf(r, g, b);
      if constexpr (Format::kHasBlack) blocks[3][i] = Format::black(p);
    }
  }
}

// One 16x8 band: luma (and black) into the left and right blocks, chroma from the sums of
// 2x1 pixels (Rows = 1, eight chroma rows) or 2x2 pixels (Rows = 2, four chroma rows starting
// at `chromaRow`).
template <typename Format, int Rows>
void convertBand(const uint8_t* src, ptrdiff_t stride, int16_t* left, int16_t* right, int16_t* cb,
                 int16_t* cr, int16_t* blackLeft, int16_t* blackRight, int chromaRow) {
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = src + y * stride;
    for (int x = 0; x < 16; ++x, p += Format::kBytes) {
      int16_t* luma = x < 8 ? left : right;
      luma[y * 8 + (x & 7)] = lumaOf(Format::r(p), Format::g(p), Format::b(p));
      if constexpr (Format::kHasBlack) (x < 8 ? blackLeft : blackRight)[y * 8 + (x & 7)] = Format::black(p);
    }
  }
  constexpr int kShift = Rows == 1 ? 9 : 10;
  for (int cy = 0; cy < 8 / Rows; ++cy) {
    for (int cx = 0; cx < 8; ++cx) {
      int32_t r = 0, g = 0, b = 0;
      for (int dy = 0; dy < Rows; ++dy) {
        const uint8_t* p = src + (cy * Rows + dy) * stride + cx * 2 * Format::kBytes;
        r += Format::r(p) + Format::r(p + Format::kBytes);
        g += Format::g(p) + Format::g(p + Format::kBytes);
        b += Format::b(p) + Format::b(p + Format::kBytes);
      }
      const int i = (chromaRow + cy) * 8 + cx;
      cb[i] = cbOf(r, g, b, kShift);
      cr[i] = crOf(r, g, b, kShift);
    }
  }
}

// blocks: Y0, Y1, Cb, Cr[, K0, K1].
template <typename Format>
void convertTileH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  int16_t* const* black = Format::kHasBlack ? blocks + 4 : blocks;
  convertBand<Format, 1>(src, stride, blocks[0], blocks[1], blocks[2], blocks[3], black[0], black[1], 0);
}

// blocks: Y0..Y3, Cb, Cr[, K0..K3]; the tile is coded as two 16x8 halves.
template <typename Format>
void convertTileH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  int16_t* const* black = Format::kHasBlack ? blocks + 6 : blocks;
  convertBand<Format, 2>(src, stride, blocks[0], blocks[1], blocks[4], blocks[5], black[0], black[1], 0);
  convertBand<Format, 2>(src + 8 * stride, stride, blocks[2], blocks[3], blocks[4], blocks[5], black[2],
                         black[3], 4);
}

// One 8x8 tile to its luma block.
template <typename Format>
void convertTileToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = src + y * stride;
    for (int x = 0; x < 8; ++x, p += Format::kBytes)
      blocks[0][y * 8 + x] = lumaOf(Format::r(p), Format::g(p), Format::b(p));
  }
}

// Level shift of N interleaved bytes per pixel into N full-resolution blocks.
template <int Components>
void levelShiftTileH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = src + y * stride;
    for (int x = 0; x < 8; ++x, p += Components) {
      for (int c = 0; c < Components; ++c) blocks[c][y * 8 + x] = static_cast<int16_t>(p[c] - 128);
    }
  }
}

// Three bytes per pixel, first component full resolution, the other two averaged over 2x1
// (Rows = 1) or 2x2 (Rows = 2) raw bytes before the level shift.
template <int Rows>
void levelShiftTile3H2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8 * Rows; ++y) {
    const uint8_t* p = src + y * stride;
    for (int x = 0; x < 16; ++x, p += 3) {
      const int quarter = (y >= 8 ? 2 : 0) + (x >= 8 ? 1 : 0);
      blocks[quarter][(y & 7) * 8 + (x & 7)] = static_cast<int16_t>(p[0] - 128);
    }
  }
  constexpr int kCount = 2 * Rows;
  int16_t* cb = blocks[Rows == 1 ? 2 : 4];
  int16_t* cr = blocks[Rows == 1 ? 3 : 5];
  for (int cy = 0; cy < 8; ++cy) {
    for (int cx = 0; cx < 8; ++cx) {
      int32_t sumCb = 0, sumCr = 0;
      for (int dy = 0; dy < Rows; ++dy) {
        const uint8_t* p = src + (cy * Rows + dy) * stride + cx * 6;
        sumCb += p[1] + p[4];
        sumCr += p[2] + p[5];
      }
      cb[cy * 8 + cx] = static_cast<int16_t>((sumCb + kCount / 2) / kCount - 128);
      cr[cy * 8 + cx] = static_cast<int16_t>((sumCr + kCount / 2) / kCount - 128);
    }
  }
}

}  // namespace

void levelShift1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  levelShiftTileH1V1<1>(src, stride, blocks);
}
void convertRgbToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH1V1<Rgb3>(src, stride, blocks);
}
void convertRgbToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH2V1<Rgb3>(src, stride, blocks);
}
void convertRgbToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH2V2<Rgb3>(src, stride, blocks);
}
void convertBgrToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH1V1<Bgr3>(src, stride, blocks);
}
void convertBgrToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH2V1<Bgr3>(src, stride, blocks);
}
void convertBgrToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH2V2<Bgr3>(src, stride, blocks);
}
void levelShift3H1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  levelShiftTileH1V1<3>(src, stride, blocks);
}
void levelShift3H2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  levelShiftTile3H2<1>(src, stride, blocks);
}
void levelShift3H2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  levelShiftTile3H2<2>(src, stride, blocks);
}
void unpackYCbCrH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = src + y * stride;
    for (int pair = 0; pair < 8; ++pair, p += 4) {
      int16_t* luma = pair < 4 ? blocks[0] : blocks[1];
      const int x = (pair & 3) * 2;
      luma[y * 8 + x] = static_cast<int16_t>(p[0] - 128);
      luma[y * 8 + x + 1] = static_cast<int16_t>(p[2] - 128);
      blocks[2][y * 8 + pair] = static_cast<int16_t>(p[1] - 128);
      blocks[3][y * 8 + pair] = static_cast<int16_t>(p[3] - 128);
    }
  }
}
void convertCmykToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH1V1<CmykFormat>(src, stride, blocks);
}
void convertCmykToH2V1K(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH2V1<CmykFormat>(src, stride, blocks);
}
void convertCmykToH2V2K(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileH2V2<CmykFormat>(src, stride, blocks);
}
void levelShift4H1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  levelShiftTileH1V1<4>(src, stride, blocks);
}
void convertRgbToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileToGray<Rgb3>(src, stride, blocks);
}
void convertBgrToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks) {
  convertTileToGray<Bgr3>(src, stride, blocks);
}

namespace {

// --- the MCU frame shared by every routine --------------------------------------------------

constexpr int kMaxTile = 16;       // MCU footprint: factors are 1 or 2 in every layout
constexpr int kMaxComponents = 4;  // component table size
constexpr int kMaxMcuBlocks = 10;  // 2x2 + 1 + 1 + 2x2

// Bytes one pixel takes in the caller's buffer.
int32_t bytesPerPixel(const JPEG_PROPERTIES* state) {
  return state->pixelSubsampling == 2 ? 2 : state->pixelChannels;
}

struct McuTile {
  const uint8_t* source;  // top-left pixel
  int32_t width;
  int32_t height;
  int32_t validColumns;
  int32_t validRows;
  bool whole() const { return validColumns == width && validRows == height; }
};

// Locates the MCU's pixels and advances the running pixel address to the next MCU in raster
// order. The JPEG image size decides where the edge cuts a tile: the buffer is at least as
// large (checked before encoding), and a larger buffer is read as its top-left part.
McuTile locateTile(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  McuTile tile{};
  tile.width = state->mcuWidth;
  tile.height = state->mcuHeight;
  const ptrdiff_t stride = state->lineStride;
  const ptrdiff_t pixelBytes = bytesPerPixel(state);
  tile.source = state->pixelData + static_cast<ptrdiff_t>(row) * tile.height * stride +
                static_cast<ptrdiff_t>(column) * tile.width * pixelBytes;
  const int32_t columnsLeft = state->imageWidth - column * tile.width;
  const int32_t rowsLeft = state->imageHeight - row * tile.height;
  tile.validColumns = columnsLeft < tile.width ? columnsLeft : tile.width;
  tile.validRows = rowsLeft < tile.height ? rowsLeft : tile.height;

  // Kept as an address value only: past the last MCU it points outside the buffer.
  const uintptr_t next =
      column == state->mcusPerRow - 1
          ? reinterpret_cast<uintptr_t>(state->pixelData) +
                static_cast<uintptr_t>((static_cast<ptrdiff_t>(row) + 1) * tile.height * stride)
          : reinterpret_cast<uintptr_t>(tile.source) + static_cast<uintptr_t>(tile.width * pixelBytes);
  state->input.currentRow = reinterpret_cast<uint8_t*>(next);
  return tile;
}

// The MCU's output blocks, in scratch order.
struct McuBlocks {
  int16_t* block[kMaxMcuBlocks];
};

McuBlocks scratchBlocks(JPEG_PROPERTIES* state) {
  McuBlocks blocks{};
  int16_t* first = reinterpret_cast<int16_t*>(state->scratch);
  for (int i = 0; i < kMaxMcuBlocks; ++i) blocks.block[i] = first + i * 64;
  return blocks;
}

// --- per-pixel conversion into full-resolution planes (edge tiles and general routines) ----

enum class PixelKind { RgbToYcc, RgbToGray, CmykToYcck, Copy, Packed422 };

// How each JPEG component is made from one pixel. For Copy, offsets[i] is the byte that
// component i takes, or -1 for a constant level-shifted 0 (chroma of gray pixels).
struct PixelReader {
  PixelKind kind;
  int32_t components;
  int32_t bytesPerPixel;
  int32_t offsets[kMaxComponents];
};

PixelReader pixelReaderFor(const JPEG_PROPERTIES* state) {
  PixelReader reader{};
  reader.components = state->jpegChannels;
  reader.bytesPerPixel = bytesPerPixel(state);
  const bool bgr = state->pixelColor == JpegColor::Bgr;
  if (state->colorConversionNeeded != 0) {
    reader.kind = state->pixelColor == JpegColor::Cmyk ? PixelKind::CmykToYcck
                  : reader.components == 1             ? PixelKind::RgbToGray
                                                       : PixelKind::RgbToYcc;
    reader.offsets[0] = bgr ? 2 : 0;  // R
    reader.offsets[1] = 1;            // G
    reader.offsets[2] = bgr ? 0 : 2;  // B
    reader.offsets[3] = 3;
    return reader;
  }
  if (state->pixelSubsampling == 2) {
    reader.kind = PixelKind::Packed422;
    return reader;
  }
  reader.kind = PixelKind::Copy;
  const bool swap = bgr && state->jpegColor == JpegColor::Rgb;
  const bool grayToColor = state->pixelColor == JpegColor::Gray;
  for (int i = 0; i < kMaxComponents; ++i) {
    int32_t offset = swap && i < 3 ? 2 - i : i;
    if ((grayToColor && i > 0) || offset >= state->pixelChannels) offset = -1;
    reader.offsets[i] = offset;
  }
  return reader;
}

struct McuPlanes {
  int16_t sample[kMaxComponents][kMaxTile * kMaxTile];
};

void readPixelRow(const PixelReader& reader, const uint8_t* line, int32_t count, int16_t* const* out) {
  const int32_t step = reader.bytesPerPixel;
  const int32_t* o = reader.offsets;
  switch (reader.kind) {
    case PixelKind::RgbToYcc:
      for (int32_t x = 0; x < count; ++x, line += step) {
        const int32_t r = line[o[0]], g = line[o[1]], b = line[o[2]];
        out[0][x] = lumaOf(r, g, b);
        out[1][x] = cbOf(r, g, b);
        out[2][x] = crOf(r, g, b);
      }
      break;
    case PixelKind::RgbToGray:
      for (int32_t x = 0; x < count; ++x, line += step)
        out[0][x] = lumaOf(line[o[0]], line[o[1]], line[o[2]]);
      break;
    case PixelKind::CmykToYcck:
      for (int32_t x = 0; x < count; ++x, line += step) {
        const int32_t r = 255 - line[0], g = 255 - line[1], b = 255 - line[2];
        out[0][x] = lumaOf(r, g, b);
        out[1][x] = cbOf(r, g, b);
        out[2][x] = crOf(r, g, b);
        out[3][x] = static_cast<int16_t>(line[3] - 128);
      }
      break;
    case PixelKind::Copy:
      for (int32_t c = 0; c < reader.components; ++c) {
        const uint8_t* p = line;
        for (int32_t x = 0; x < count; ++x, p += step) {
          out[c][x] = static_cast<int16_t>(o[c] < 0 ? 0 : p[o[c]] - 128);
        }
      }
      break;
    case PixelKind::Packed422:
      for (int32_t x = 0; x < count; ++x) {
        const uint8_t* pair = line + (x & ~1) * 2;
        out[0][x] = static_cast<int16_t>(line[x * 2] - 128);
        out[1][x] = static_cast<int16_t>(pair[1] - 128);
        out[2][x] = static_cast<int16_t>(pair[3] - 128);
      }
      break;
  }
}

// Converts the valid part of the tile, then repeats each row's last valid sample to the
// right and the last valid row downwards.
void gatherPlanes(const JPEG_PROPERTIES* state, const McuTile& tile, McuPlanes& planes) {
  const PixelReader reader = pixelReaderFor(state);
  const int32_t width = tile.width;
  for (int32_t y = 0; y < tile.validRows; ++y) {
    int16_t* rows[kMaxComponents];
    for (int c = 0; c < kMaxComponents; ++c) rows[c] = planes.sample[c] + y * width;
    readPixelRow(reader, tile.source + y * static_cast<ptrdiff_t>(state->lineStride), tile.validColumns,
                 rows);
  }
  for (int32_t c = 0; c < reader.components; ++c) {
    int16_t* plane = planes.sample[c];
    for (int32_t y = 0; y < tile.validRows; ++y) {
      int16_t* line = plane + y * width;
      for (int32_t x = tile.validColumns; x < width; ++x) line[x] = line[tile.validColumns - 1];
    }
    const int16_t* last = plane + (tile.validRows - 1) * width;
    for (int32_t y = tile.validRows; y < tile.height; ++y) {
      for (int32_t x = 0; x < width; ++x) plane[y * width + x] = last[x];
    }
  }
}

// floor((sum + count / 2) / count): the averaging form, also for negative level-shifted sums.
int16_t averageOf(int32_t sum, int32_t count) {
  const int32_t biased = sum + count / 2;
  const int32_t quotient = biased / count;
  return static_cast<int16_t>(quotient * count > biased ? quotient - 1 : quotient);
}

// Each component's v x h blocks in raster order; a subsampled sample is the mean of the
// (maxH / h) x (maxV / v) plane samples it covers.
void downsamplePlanes(const JPEG_PROPERTIES* state, const McuTile& tile, const McuPlanes& planes) {
  int16_t* out = reinterpret_cast<int16_t*>(state->scratch);
  const bool single = state->jpegChannels == 1;
  for (int32_t c = 0; c < state->jpegChannels; ++c) {
    const JpegComponent& component = state->components[c];
    const int32_t h = single ? 1 : component.horizontalFactor;
    const int32_t v = single ? 1 : component.verticalFactor;
    const int32_t sx = tile.width / (8 * h);
    const int32_t sy = tile.height / (8 * v);
    const int16_t* plane = planes.sample[c];
    for (int32_t by = 0; by < v; ++by) {
      for (int32_t bx = 0; bx < h; ++bx, out += 64) {
        for (int32_t j = 0; j < 8; ++j) {
          for (int32_t i = 0; i < 8; ++i) {
            int32_t sum = 0;
            for (int32_t dy = 0; dy < sy; ++dy) {
              const int16_t* line = plane + ((by * 8 + j) * sy + dy) * tile.width + (bx * 8 + i) * sx;
              for (int32_t dx = 0; dx < sx; ++dx) sum += line[dx];
            }
            out[j * 8 + i] = averageOf(sum, sx * sy);
          }
        }
      }
    }
  }
}

void convertThroughPlanes(JPEG_PROPERTIES* state, const McuTile& tile) {
  McuPlanes planes;
  gatherPlanes(state, tile, planes);
  downsamplePlanes(state, tile, planes);
}

// --- the routines stored in convertMcu ------------------------------------------------------

// Whole tiles through the layout's kernel slot, partial tiles through the planes.
template <EncodeConvertKernel KernelTable::*Kernel>
int32_t convertMcuWithKernel(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  const McuTile tile = locateTile(state, column, row);
  if (tile.whole()) {
    const McuBlocks blocks = scratchBlocks(state);
    (state->input.kernels->*Kernel)(tile.source, state->lineStride, blocks.block);
  } else {
    convertThroughPlanes(state, tile);
  }
  return 0;
}

// The general converter, the no-conversion resampler and copier, and RGB to gray: every
// tile goes through the planes.
int32_t convertMcuGeneral(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  const McuTile tile = locateTile(state, column, row);
  convertThroughPlanes(state, tile);
  return 0;
}

// RGB or BGR pixels to one grey component: a whole 8 x 8 tile goes straight into its block
// with the planes' luma formula (their averaging of one sample is the sample), 3-byte pixels
// through the grey kernels; edge tiles, and any other reader or tile size, through the planes.
int32_t convertMcuToGray(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  const McuTile tile = locateTile(state, column, row);
  const PixelReader reader = pixelReaderFor(state);
  if (!tile.whole() || reader.kind != PixelKind::RgbToGray || tile.width != 8 || tile.height != 8) {
    convertThroughPlanes(state, tile);
    return 0;
  }
  if (reader.bytesPerPixel == 3) {
    const McuBlocks blocks = scratchBlocks(state);
    const KernelTable* kernels = state->input.kernels;
    const EncodeConvertKernel kernel =
        reader.offsets[0] == 0 ? kernels->convertRgbToGray : kernels->convertBgrToGray;
    kernel(tile.source, state->lineStride, blocks.block);
    return 0;
  }
  int16_t* out = reinterpret_cast<int16_t*>(state->scratch);
  const int32_t* o = reader.offsets;
  for (int32_t y = 0; y < 8; ++y, out += 8) {
    const uint8_t* line = tile.source + y * static_cast<ptrdiff_t>(state->lineStride);
    for (int32_t x = 0; x < 8; ++x, line += reader.bytesPerPixel)
      out[x] = lumaOf(line[o[0]], line[o[1]], line[o[2]]);
  }
  return 0;
}

// --- the choice -----------------------------------------------------------------------------

bool hasFactors(const JPEG_PROPERTIES* state, int32_t index, int32_t h, int32_t v) {
  return state->components[index].horizontalFactor == h && state->components[index].verticalFactor == v;
}

// Component 0 is h x v, components 1 and 2 are 1 x 1.
bool isLayout(const JPEG_PROPERTIES* state, int32_t h, int32_t v) {
  return state->jpegChannels >= 3 && hasFactors(state, 0, h, v) && hasFactors(state, 1, 1, 1) &&
         hasFactors(state, 2, 1, 1);
}

struct Choice {
  ConvertMcuRoutine routine;
  EncodeLayoutCode code;
};

constexpr Choice kGeneral{convertMcuGeneral, EncodeLayoutCode::None};

Choice chooseWithConversionAndSampling(const JPEG_PROPERTIES* state) {
  const int32_t bytes = state->pixelChannels;
  const JpegColor pixels = state->pixelColor;
  const bool h2v2 = isLayout(state, 2, 2);
  const bool h2v1 = isLayout(state, 2, 1);
  if (state->jpegChannels == 3 && bytes == 3 && pixels == JpegColor::Rgb) {
    if (h2v2) return {convertMcuWithKernel<&KernelTable::convertRgbToH2V2>, EncodeLayoutCode::RgbH2V2};
    if (h2v1) return {convertMcuWithKernel<&KernelTable::convertRgbToH2V1>, EncodeLayoutCode::RgbH2V1};
  }
  if (state->jpegChannels == 3 && bytes == 3 && pixels == JpegColor::Bgr) {
    if (h2v2) return {convertMcuWithKernel<&KernelTable::convertBgrToH2V2>, EncodeLayoutCode::BgrH2V2};
    if (h2v1) return {convertMcuWithKernel<&KernelTable::convertBgrToH2V1>, EncodeLayoutCode::BgrH2V1};
  }
  if (state->jpegChannels == 4 && bytes == 4 && pixels == JpegColor::Cmyk) {
    if (h2v2 && hasFactors(state, 3, 2, 2)) {
      return {convertMcuWithKernel<&KernelTable::convertCmykToH2V2K>, EncodeLayoutCode::CmykH2V2K};
    }
    if (h2v1 && hasFactors(state, 3, 2, 1)) {
      return {convertMcuWithKernel<&KernelTable::convertCmykToH2V1K>, EncodeLayoutCode::CmykH2V1K};
    }
  }
  return kGeneral;
}

Choice chooseWithConversion(const JPEG_PROPERTIES* state) {
  const int32_t bytes = state->pixelChannels;
  const JpegColor pixels = state->pixelColor;
  if (state->jpegChannels == 3 && bytes == 3 && pixels == JpegColor::Rgb) {
    return {convertMcuWithKernel<&KernelTable::convertRgbToH1V1>, EncodeLayoutCode::RgbH1V1};
  }
  if (state->jpegChannels == 3 && bytes == 3 && pixels == JpegColor::Bgr) {
    return {convertMcuWithKernel<&KernelTable::convertBgrToH1V1>, EncodeLayoutCode::BgrH1V1};
  }
  if (state->jpegChannels == 4 && bytes == 4 && pixels == JpegColor::Cmyk) {
    return {convertMcuWithKernel<&KernelTable::convertCmykToH1V1>, EncodeLayoutCode::CmykH1V1};
  }
  // RGB or BGR to gray: 3-byte pixels in 8 x 8 tiles straight through the grey kernels, without
  // asking per MCU; anything else through convertMcuToGray.
  const bool grayTiles =
      state->jpegChannels == 1 && bytes == 3 && state->mcuWidth == 8 && state->mcuHeight == 8;
  if (grayTiles && pixels == JpegColor::Rgb) {
    return {convertMcuWithKernel<&KernelTable::convertRgbToGray>, EncodeLayoutCode::None};
  }
  if (grayTiles && pixels == JpegColor::Bgr) {
    return {convertMcuWithKernel<&KernelTable::convertBgrToGray>, EncodeLayoutCode::None};
  }
  if (state->jpegChannels == 1) return {convertMcuToGray, EncodeLayoutCode::None};
  return kGeneral;  // 4-byte RGB
}

Choice chooseWithSampling(const JPEG_PROPERTIES* state) {
  if (state->pixelSubsampling == 2) {
    if (isLayout(state, 2, 1) && state->jpegChannels == 3) {
      return {convertMcuWithKernel<&KernelTable::unpackYCbCrH2V1>, EncodeLayoutCode::PackedH2V1};
    }
    return kGeneral;
  }
  if (state->jpegChannels == 3 && state->pixelChannels == 3 && state->pixelColor != JpegColor::Bgr) {
    if (isLayout(state, 2, 2)) {
      return {convertMcuWithKernel<&KernelTable::levelShift3H2V2>, EncodeLayoutCode::Shift3H2V2};
    }
    if (isLayout(state, 2, 1)) {
      return {convertMcuWithKernel<&KernelTable::levelShift3H2V1>, EncodeLayoutCode::Shift3H2V1};
    }
  }
  return kGeneral;
}

Choice chooseWithoutConversion(const JPEG_PROPERTIES* state) {
  const int32_t n = state->jpegChannels;
  const int32_t bytes = state->pixelChannels;
  if (state->pixelSubsampling == 2) return kGeneral;
  if (n == 1 && bytes == 1 && state->pixelColor == JpegColor::Gray && state->jpegColor == JpegColor::Gray) {
    return {convertMcuWithKernel<&KernelTable::levelShift1>, EncodeLayoutCode::Shift1};
  }
  if (n == 3 && bytes == 3 && state->pixelColor != JpegColor::Bgr) {
    return {convertMcuWithKernel<&KernelTable::levelShift3H1V1>, EncodeLayoutCode::Shift3H1V1};
  }
  if (n == 4 && bytes == 4) {
    return {convertMcuWithKernel<&KernelTable::levelShift4H1V1>, EncodeLayoutCode::Shift4H1V1};
  }
  return kGeneral;
}

}  // namespace

JpegStatus chooseMcuConverter(JPEG_PROPERTIES* state) {
  state->outputConversion = static_cast<int32_t>(EncodeLayoutCode::None);
  const int32_t n = state->jpegChannels;
  if (n < 1 || n > kMaxComponents) {
    return state->colorConversionNeeded != 0 && state->samplingNeeded != 0 ? JpegStatus::ComponentError
                                                                           : JpegStatus::InvalidProperties;
  }
  if (state->nonInterleaved != 0 && n != 1) return JpegStatus::InvalidProperties;
  if (state->mcuWidth > kMaxTile || state->mcuHeight > kMaxTile || state->pixelChannels < 1) {
    return JpegStatus::InvalidProperties;
  }
  const bool conversion = state->colorConversionNeeded != 0;
  const bool sampling = state->samplingNeeded != 0;
  const Choice choice = conversion && sampling ? chooseWithConversionAndSampling(state)
                        : conversion           ? chooseWithConversion(state)
                        : sampling             ? chooseWithSampling(state)
                                               : chooseWithoutConversion(state);
  // The per-pixel formulas read up to four bytes of each pixel (B, G, R at offsets 0..2, or
  // C, M, Y, K): refuse narrower pixels rather than read past them.
  const PixelReader reader = pixelReaderFor(state);
  const int32_t needed = reader.kind == PixelKind::CmykToYcck                                        ? 4
                         : reader.kind == PixelKind::RgbToYcc || reader.kind == PixelKind::RgbToGray ? 3
                                                                                                     : 1;
  if (reader.kind != PixelKind::Packed422 && state->pixelChannels < needed)
    return JpegStatus::InvalidProperties;
  state->input.kernels->convertMcu = choice.routine;
  state->outputConversion = static_cast<int32_t>(choice.code);
  return JpegStatus::Ok;
}
