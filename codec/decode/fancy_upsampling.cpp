#include "codec/decode/fancy_upsampling.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>

#include "codec/decode/frame_geometry.h"
#include "codec/decode/output_hooks.h"
#include "codec/kernel_table.h"
#include "codec/kernels/ycc_terms.h"
#include "codec/record_memory.h"
#include "codec/validation.h"

namespace {

constexpr int32_t kRingBands = 3;  // previous, current and next MCU row

// Where each component's samples live in the ring: `width` samples per row, three bands of
// `factor V` x block side rows.
struct RingLayout {
  size_t offset[4] = {};
  int32_t width[4] = {};
  int32_t sampleWidth[4] = {};  // samples inside the image, for the border repetition
  int32_t sampleHeight[4] = {};
  size_t bytes = 0;
};

int32_t blockSideAt(int32_t scale) {
  return kBlockSide / scale;
}

RingLayout ringLayout(const JPEG_PROPERTIES& state, int32_t scale) {
  RingLayout ring;
  const int32_t side = blockSideAt(scale);
  const int64_t mcusPerRow = ceilDiv(state.imageWidth, int64_t{kBlockSide} * state.maxHorizontalFactor);
  for (int32_t i = 0; i < state.componentCount && i < 4; ++i) {
    const JpegComponent& c = state.components[i];
    ring.offset[i] = ring.bytes;
    ring.width[i] = static_cast<int32_t>(mcusPerRow * c.horizontalFactor * side);
    ring.sampleWidth[i] = static_cast<int32_t>(
        ceilDiv(int64_t{state.imageWidth} * c.horizontalFactor, int64_t{state.maxHorizontalFactor} * scale));
    ring.sampleHeight[i] = static_cast<int32_t>(
        ceilDiv(int64_t{state.imageHeight} * c.verticalFactor, int64_t{state.maxVerticalFactor} * scale));
    ring.bytes += size_t(ring.width[i]) * kRingBands * size_t(side) * size_t(c.verticalFactor);
  }
  return ring;
}

// MCUs [first, end) of MCU row `row` whose neighbours are known but which are not stored yet:
// the row store holds them back to write whole rows at once.
struct HeldBack {
  int32_t row = 0;
  int32_t first = 0;
  int32_t end = 0;
};

constexpr int32_t kMaxPlacedBlocks = 10;  // blocks of an interleaved MCU

// Where the blocks of the MCUs of one MCU row go in the ring, and the transforms writing them
// there: worked out once a row, as the lookups cost as much per MCU as the copy they replace.
struct RowPlacement {
  InverseDctKernel transform = nullptr;
  int32_t blocks = 0;
  int32_t row = -1;
  int32_t count = -1;                     // -1: the row's blocks take the copy
  uint8_t* first[kMaxPlacedBlocks] = {};  // the block's place in MCU column 0
  int32_t columnStep[kMaxPlacedBlocks] = {};
  int32_t stride[kMaxPlacedBlocks] = {};
  int32_t columns[kMaxPlacedBlocks] = {};  // MCU columns whose block lies inside the ring
  InverseDctToRowsKernel intoRows[kMaxPlacedBlocks] = {};
};

// The ring's geometry, fixed at the scan start, in front of its rows.
struct RingHeader {
  RingLayout layout;
  int32_t scale;
  HeldBack held;
  RowPlacement placement;
};

constexpr size_t kHeaderBytes = 512;  // keeps the rows 128-byte aligned
static_assert(sizeof(RingHeader) <= kHeaderBytes);

bool ringIsLive(const JPEG_PROPERTIES& state) {
  return state.upsamplingMode == 1 && state.upsamplingRows != nullptr;
}

const RingHeader& ringHeader(const JPEG_PROPERTIES& state) {
  return *std::launder(reinterpret_cast<const RingHeader*>(state.upsamplingRows));
}

// A live ring filled at the scale being decoded (a read resumed at another scale leaves it alone).
bool ringServes(const JPEG_PROPERTIES& state, int32_t scale) {
  return ringIsLive(state) && ringHeader(state).scale == scale;
}

RingHeader& mutableRingHeader(JPEG_PROPERTIES* state) {
  return *std::launder(reinterpret_cast<RingHeader*>(state->upsamplingRows));
}

uint8_t* ringBytes(const JPEG_PROPERTIES& state) {
  return reinterpret_cast<uint8_t*>(state.upsamplingRows) + kHeaderBytes;
}

// Bands are a block side (8, 4, 2, 1) times a factor of 1 or 2 high, so shifts and masks stand
// in for the divisions, which cost more than the rest of the row lookups together. `y` >= 0.
bool isPowerOfTwo(int32_t bandHeight) {
  // Not std::has_single_bit: without a popcount instruction in the baseline it is a library call.
  return bandHeight > 0 && (bandHeight & (bandHeight - 1)) == 0;
}

int32_t bandOf(int32_t y, int32_t bandHeight) {
  return isPowerOfTwo(bandHeight) ? y >> std::countr_zero(static_cast<uint32_t>(bandHeight)) : y / bandHeight;
}

int32_t rowInBand(int32_t y, int32_t bandHeight) {
  return isPowerOfTwo(bandHeight) ? y & (bandHeight - 1) : y % bandHeight;
}

// Ring row of component sample row `y` (>= 0) for bands of `bandHeight` rows.
size_t ringRow(int32_t y, int32_t bandHeight) {
  return size_t(bandOf(y, bandHeight) % kRingBands) * size_t(bandHeight) + size_t(rowInBand(y, bandHeight));
}

// The scan's components in the MCU area: the frame's, or those of a scan that carries only some
// of them (one block each when it carries one), as the general routines read them.
struct McuComponents {
  int32_t count = 0;
  int32_t index[4] = {};
  int32_t blocksAcross[4] = {};
  int32_t blocksDown[4] = {};
};

// Filled in place: returned by value, the partly written struct is copied with wide loads that
// wait for the narrow stores before them, which costs more than the rest of keepMcuSamples.
void describeMcuComponents(const JPEG_PROPERTIES& state, McuComponents* mcu) {
  const bool subset =
      state.nonInterleaved != 0 && state.scan != nullptr && state.scan->componentCount < state.componentCount;
  mcu->count = subset ? std::clamp(state.scan->componentCount, 0, 4) : std::clamp(state.componentCount, 0, 4);
  for (int32_t i = 0; i < mcu->count; ++i) {
    const int32_t index = subset ? state.scan->components[i].componentIndex : i;
    if (index < 0 || index >= state.componentCount) {
      mcu->count = 0;
      return;
    }
    mcu->index[i] = index;
    mcu->blocksAcross[i] = mcu->count == 1 ? 1 : state.components[index].horizontalFactor;
    mcu->blocksDown[i] = mcu->count == 1 ? 1 : state.components[index].verticalFactor;
  }
}

// Copies the transformed blocks of MCU (column, row) from the MCU area into the ring (the
// samples of each block, side 8 / scale, at the top left of its 8x8 area).
void keepMcuSamples(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  const RingHeader& header = ringHeader(*state);
  const RingLayout& ring = header.layout;
  const int32_t side = blockSideAt(header.scale);
  McuComponents mcu;
  describeMcuComponents(*state, &mcu);
  const KeepBlockSamplesKernel keepBlock = state->input.kernels->keepBlockSamples;
  const int16_t* block = reinterpret_cast<const int16_t*>(state->scratch);
  for (int32_t i = 0; i < mcu.count; ++i) {
    const int32_t c = mcu.index[i];
    const int32_t width = ring.width[c];
    const int32_t bandHeight = mcu.blocksDown[i] * side;
    uint8_t* band =
        ringBytes(*state) + ring.offset[c] + ringRow(row * bandHeight, bandHeight) * size_t(width);
    for (int32_t by = 0; by < mcu.blocksDown[i]; ++by) {
      for (int32_t bx = 0; bx < mcu.blocksAcross[i]; ++bx, block += 64) {
        const int32_t x0 = (column * mcu.blocksAcross[i] + bx) * side;
        if (x0 + side > width) continue;
        keepBlock(block, side, band + size_t(by * side) * size_t(width) + size_t(x0), width);
      }
    }
  }
}

// The row-writing twin of a full-size transform; null for any other transform.
InverseDctToRowsKernel transformIntoRows(const KernelTable& kernels, InverseDctKernel transform) {
  if (transform == kernels.idct1Full) return kernels.idct1FullToRows;
  if (transform == kernels.idct0Full) return kernels.idct0FullToRows;
  return nullptr;
}

void storeAtScale(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t scale) {
  if (scale == 1) {
    state->input.kernels->storeMcu(state, column, row);
  } else {
    storeScaledMcu(state, column, row, blockSideAt(scale));
  }
}

int32_t lagRows(const JPEG_PROPERTIES& state) {
  return state.maxVerticalFactor == 2 ? 1 : 0;
}

// Reads one component's samples from the ring with the image border repeated.
struct SampleSource {
  const uint8_t* plane;
  int32_t width;
  int32_t lastX;
  int32_t lastY;
  int32_t bandHeight;

  const uint8_t* row(int32_t y) const {
    return plane + ringRow(std::clamp(y, 0, lastY), bandHeight) * size_t(width);
  }
  int32_t at(const uint8_t* samples, int32_t x) const { return samples[std::clamp(x, 0, lastX)]; }
};

// Widest output row of one component in one MCU: 4 blocks across of a 2:1 component.
constexpr int32_t kMaxPairs = 4 * kBlockSide;

// Samples x0 - 1 .. x0 + count of a row into values[0 .. count + 1], the border repeated, so
// that the filters below read their neighbours without a check each.
template <typename Sample>
void gatherWithBorder(const SampleSource& source, const uint8_t* samples, int32_t x0, int32_t count,
                      Sample* values) {
  if (x0 >= 1 && x0 + count <= source.lastX) {
    for (int32_t i = 0; i < count + 2; ++i) values[i] = samples[x0 - 1 + i];
    return;
  }
  for (int32_t i = 0; i < count + 2; ++i) values[i] = static_cast<Sample>(source.at(samples, x0 - 1 + i));
}

// H2V1: left output (3s[k] + s[k-1] + 1) >> 2, right output (3s[k] + s[k+1] + 2) >> 2.
void filterHorizontal(const SampleSource& source, int32_t x0, int32_t y, uint8_t* out, int32_t outWidth) {
  const int32_t pairs = std::min(outWidth / 2, kMaxPairs);
  int32_t s[kMaxPairs + 2];
  gatherWithBorder(source, source.row(y), x0, pairs, s);
  for (int32_t i = 0; i < pairs; ++i) {
    out[2 * i] = static_cast<uint8_t>((3 * s[i + 1] + s[i] + 1) >> 2);
    out[2 * i + 1] = static_cast<uint8_t>((3 * s[i + 1] + s[i + 2] + 2) >> 2);
  }
}

// H2V2: (9n + 3h + 3v + d + 8) >> 4 for the left output of a pair, + 7 for the right one, taken
// as column sums t = 3·near + far: left (3t[k] + t[k-1] + 8) >> 4, right (3t[k] + t[k+1] + 7) >> 4.
void filterBoth(const SampleSource& source, int32_t x0, int32_t y, bool lower, uint8_t* out,
                int32_t outWidth) {
  const int32_t pairs = std::min(outWidth / 2, kMaxPairs);
  int32_t near[kMaxPairs + 2];
  int32_t far[kMaxPairs + 2];
  gatherWithBorder(source, source.row(y), x0, pairs, near);
  gatherWithBorder(source, source.row(lower ? y + 1 : y - 1), x0, pairs, far);
  int32_t t[kMaxPairs + 2];
  for (int32_t i = 0; i < pairs + 2; ++i) t[i] = 3 * near[i] + far[i];
  for (int32_t i = 0; i < pairs; ++i) {
    out[2 * i] = static_cast<uint8_t>((3 * t[i + 1] + t[i] + 8) >> 4);
    out[2 * i + 1] = static_cast<uint8_t>((3 * t[i + 1] + t[i + 2] + 7) >> 4);
  }
}

// Ratio 1 across: the samples themselves (a vertical 2:1 ratio alone repeats rows).
void copyAcross(const SampleSource& source, int32_t x0, int32_t y, uint8_t* out, int32_t outWidth) {
  const uint8_t* samples = source.row(y);
  if (x0 + outWidth - 1 <= source.lastX) {
    std::memcpy(out, samples + x0, size_t(outWidth));
    return;
  }
  for (int32_t x = 0; x < outWidth; ++x) out[x] = static_cast<uint8_t>(source.at(samples, x0 + x));
}

}  // namespace

bool fancyUpsamplingApplies(const JPEG_PROPERTIES& state, int32_t scale) {
  if (state.upsamplingMode != 1 || state.blockPlanes != nullptr) return false;
  if (scale != 1 && scale != 2 && scale != 4 && scale != 8) return false;
  if (state.components == nullptr || state.componentCount < 2 || state.componentCount > 4) return false;
  if (state.maxHorizontalFactor != 2 || state.maxVerticalFactor < 1 || state.maxVerticalFactor > 2)
    return false;
  if (scale != 1 && hasSquareSampling(&state)) return false;
  const KernelTable* kernels = state.input.kernels;
  return kernels != nullptr && isGeneralStoreRoutine(kernels->storeMcu) &&
         kernels->keepBlockSamples != nullptr && kernels->upsampleFancyH2V1Row != nullptr &&
         kernels->upsampleFancyH2V2Row != nullptr;
}

JpegStatus startFancyUpsampling(JPEG_PROPERTIES* state, int32_t scale) {
  releaseBlocks(state->upsamplingRows);
  state->upsamplingRows = nullptr;
  if (!fancyUpsamplingApplies(*state, scale)) return JpegStatus::Ok;
  const RingLayout layout = ringLayout(*state, scale);
  state->upsamplingRows = allocateBlocks((kHeaderBytes + layout.bytes + 127) / 128);
  if (state->upsamplingRows == nullptr) return JpegStatus::MemoryError;
  new (state->upsamplingRows) RingHeader{layout, scale, HeldBack{}, RowPlacement{}};
  return JpegStatus::Ok;
}

bool lastStoredMcu(const JPEG_PROPERTIES& state, int32_t column, int32_t row, int32_t columns,
                   int32_t* storedColumn, int32_t* storedRow) {
  int32_t c = column;
  int32_t r = row;
  if (ringServes(state, scaleOfMode(state.ioMode))) {
    r -= lagRows(state);
    if (column + 1 != columns) --c;
    if (c < 0) {
      c = columns - 1;
      --r;
    }
  }
  if (r < 0) return false;
  *storedColumn = c;
  *storedRow = r;
  return true;
}

bool expandFromRing(const JPEG_PROPERTIES& state, const FancyComponent& component, int32_t column,
                    int32_t row, uint8_t* plane, int32_t planeStride) {
  const int32_t scale = scaleOfMode(state.ioMode);
  if (!ringServes(state, scale)) return false;
  const int32_t c = component.frameIndex;
  if (c < 0 || c >= state.componentCount || c >= 4) return false;
  const int32_t side = blockSideAt(scale);
  if (component.samples != side) return false;
  const RingLayout& ring = ringHeader(state).layout;
  const int32_t bandHeight = component.blocksDown * side;
  const SampleSource source = {ringBytes(state) + ring.offset[c], ring.width[c], ring.sampleWidth[c] - 1,
                               ring.sampleHeight[c] - 1, bandHeight};
  const int32_t ratioH = component.spanH / side;
  const int32_t ratioV = component.spanV / side;
  const int32_t x0 = column * component.blocksAcross * side;
  const int32_t y0 = row * bandHeight;
  const int32_t outWidth = component.blocksAcross * component.spanH;
  const int32_t outHeight = component.blocksDown * component.spanV;
  for (int32_t y = 0; y < outHeight; ++y) {
    uint8_t* out = plane + size_t(y) * size_t(planeStride);
    const int32_t sampleRow = y0 + (ratioV == 2 ? y / 2 : y);
    if (ratioH == 2 && ratioV == 2) {
      filterBoth(source, x0, sampleRow, (y & 1) != 0, out, outWidth);
    } else if (ratioH == 2) {
      filterHorizontal(source, x0, sampleRow, out, outWidth);
    } else {
      copyAcross(source, x0, sampleRow, out, outWidth);
    }
  }
  return true;
}

namespace {

bool isFancyYccLayout(const JPEG_PROPERTIES& state) {
  if (state.componentCount != 3 || state.components == nullptr) return false;
  const JpegComponent* c = state.components;
  return c[0].horizontalFactor == 2 && c[0].verticalFactor == state.maxVerticalFactor &&
         c[1].horizontalFactor == 1 && c[1].verticalFactor == 1 && c[2].horizontalFactor == 1 &&
         c[2].verticalFactor == 1;
}

SampleSource ringSource(const JPEG_PROPERTIES& state, const RingLayout& ring, int32_t c, int32_t bandHeight) {
  return {ringBytes(state) + ring.offset[c], ring.width[c], ring.sampleWidth[c] - 1, ring.sampleHeight[c] - 1,
          bandHeight};
}

constexpr int32_t kMaxMcuWidth = 2 * kBlockSide;
constexpr int32_t kMaxMcuHeight = 2 * kBlockSide;
constexpr int32_t kMaxChromaRows = kBlockSide + 2;

// Copies of the rows next to the image edge with the border samples repeated, laid out as the
// row kernels read them (chroma from index -1).
struct BorderRows {
  uint8_t luma[kMaxMcuWidth];
  uint8_t chroma[4][kMaxMcuWidth / 2 + 2];

  void gather(const SampleSource& source, const uint8_t* samples, int32_t x0, int32_t count,
              uint8_t* out) const {
    for (int32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(source.at(samples, x0 + i));
  }
};

// Rows first .. first + count - 1 of a source (clamped to the image), one pointer each. The
// rows of one band follow each other in the ring.
void listRows(const SampleSource& source, int32_t first, int32_t count, const uint8_t** rows) {
  const bool oneBand = first >= 0 && first + count - 1 <= source.lastY &&
                       rowInBand(first, source.bandHeight) + count <= source.bandHeight;
  if (oneBand) {
    const uint8_t* row = source.row(first);
    for (int32_t i = 0; i < count; ++i, row += source.width) rows[i] = row;
    return;
  }
  for (int32_t i = 0; i < count; ++i) rows[i] = source.row(first + i);
}

// The `count` chroma rows of an MCU from `first`, with the row above and the row below.
void listChromaRows(const SampleSource& source, int32_t first, int32_t count, const uint8_t** rows) {
  rows[0] = source.row(first - 1);
  listRows(source, first, count, rows + 1);
  rows[count + 1] = source.row(first + count);
}

// The three components' sources and where the MCU's rows start in them.
struct DirectMcu {
  SampleSource luma;
  SampleSource cb;
  SampleSource cr;
  int32_t lumaX;    // first luminance sample of the written columns
  int32_t chromaX;  // chroma sample serving them
  int32_t lumaY;    // first luminance row of the MCU
  int32_t chromaY;  // first chroma row of the MCU
  int32_t width;    // pixels written per row
  bool inside;      // every sample read lies inside the image across
  // The MCU's rows: luminance from row lumaY, chroma from row chromaY - 1 (the one above).
  const uint8_t* lumaRows[kMaxMcuHeight];
  const uint8_t* cbRows[kMaxChromaRows];
  const uint8_t* crRows[kMaxChromaRows];
};

DirectMcu describeDirectMcu(const JPEG_PROPERTIES& state, int32_t column, int32_t row, int32_t side,
                            const PixelRect& rect) {
  const int32_t factorV = state.maxVerticalFactor;
  const RingLayout& ring = ringHeader(state).layout;
  // Filled field by field: the row lists are written below, and clearing them first costs more
  // than the rest of the set-up.
  DirectMcu mcu;
  mcu.luma = ringSource(state, ring, 0, factorV * side);
  mcu.cb = ringSource(state, ring, 1, side);
  mcu.cr = ringSource(state, ring, 2, side);
  mcu.lumaX = column * 2 * side + rect.left;
  mcu.chromaX = column * side + rect.left / 2;
  mcu.lumaY = row * factorV * side;
  mcu.chromaY = row * side;
  mcu.width = rect.right - rect.left;
  const int32_t lastChroma = mcu.chromaX + (mcu.width + 1) / 2;
  mcu.inside = mcu.chromaX >= 1 && lastChroma <= std::min(mcu.cb.lastX, mcu.cr.lastX) &&
               mcu.lumaX + mcu.width - 1 <= mcu.luma.lastX;
  listRows(mcu.luma, mcu.lumaY, factorV * side, mcu.lumaRows);
  listChromaRows(mcu.cb, mcu.chromaY, side, mcu.cbRows);
  listChromaRows(mcu.cr, mcu.chromaY, side, mcu.crRows);
  return mcu;
}

// The sources of output row y (MCU-local): straight from the ring inside the image, else from
// copies with the border repeated.
FancyRowSources rowSources(const DirectMcu& mcu, int32_t y, bool vertical, BorderRows* border) {
  // Indices into cbRows and crRows, which start one row above the MCU.
  const int32_t nearRow = 1 + (vertical ? y / 2 : y);
  const int32_t farRow = vertical ? ((y & 1) != 0 ? nearRow + 1 : nearRow - 1) : nearRow;
  const uint8_t* luma = mcu.lumaRows[y];
  const uint8_t* chroma[4] = {mcu.cbRows[nearRow], mcu.cbRows[farRow], mcu.crRows[nearRow],
                              mcu.crRows[farRow]};
  if (mcu.inside) {
    return {luma + mcu.lumaX,
            {chroma[0] + mcu.chromaX, chroma[1] + mcu.chromaX},
            {chroma[2] + mcu.chromaX, chroma[3] + mcu.chromaX}};
  }
  const int32_t chromaCount = (mcu.width + 1) / 2 + 2;
  border->gather(mcu.luma, luma, mcu.lumaX, mcu.width, border->luma);
  for (int32_t i = 0; i < 4; ++i) {
    const SampleSource& source = i < 2 ? mcu.cb : mcu.cr;
    border->gather(source, chroma[i], mcu.chromaX - 1, chromaCount, border->chroma[i]);
  }
  return {border->luma,
          {border->chroma[0] + 1, border->chroma[1] + 1},
          {border->chroma[2] + 1, border->chroma[3] + 1}};
}

}  // namespace

bool storeFancyYccDirect(const JPEG_PROPERTIES& state, int32_t column, int32_t row, FancyPixels pixels,
                         uint8_t* destination, ptrdiff_t stride, const PixelRect& rect) {
  const int32_t scale = scaleOfMode(state.ioMode);
  if (!ringServes(state, scale) || !isFancyYccLayout(state) || state.input.kernels == nullptr) return false;
  const int32_t side = blockSideAt(scale);
  // A written area starting on an odd column begins inside a chroma pair: left to the planes.
  if ((rect.left & 1) != 0 || rect.right > 2 * side || rect.bottom > state.maxVerticalFactor * side)
    return false;
  const bool vertical = state.maxVerticalFactor == 2;
  const FancyRowKernel kernel =
      vertical ? state.input.kernels->upsampleFancyH2V2Row : state.input.kernels->upsampleFancyH2V1Row;
  if (kernel == nullptr) return false;
  const DirectMcu mcu = describeDirectMcu(state, column, row, side, rect);
  const ptrdiff_t pixelBytes = pixels == FancyPixels::Rgbx ? 4 : 3;
  BorderRows border;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    kernel(rowSources(mcu, y, vertical, &border), mcu.width, pixels,
           destination + y * stride + rect.left * pixelBytes);
  }
  return true;
}

namespace {

// The three components' sources of one MCU row of a 2x1 or 2x2 YCbCr frame and how a run of its
// MCUs is written.
struct RowWriter {
  SampleSource luma;
  SampleSource cb;
  SampleSource cr;
  int32_t row;  // MCU row
  int32_t side;
  bool vertical;
  FancyRowKernel kernel;
  FancyPixels pixels;
  int32_t pixelBytes;
  ptrdiff_t stride;

  // Output row y (MCU-local) from sample 0 of each row: luminance, then the nearest chroma row
  // and the other one the vertical filter takes (the nearest again for H2V1).
  FancyRowSources rowStarts(int32_t y) const {
    const int32_t near = row * side + (vertical ? y / 2 : y);
    const int32_t far = vertical ? ((y & 1) != 0 ? near + 1 : near - 1) : near;
    return {luma.row(row * (vertical ? 2 : 1) * side + y),
            {cb.row(near), cb.row(far)},
            {cr.row(near), cr.row(far)}};
  }

  // Pixels [x, end) (x even) whose samples all lie inside the image across.
  void writeInside(const FancyRowSources& rows, int32_t x, int32_t end, uint8_t* out) const {
    if (end <= x) return;
    const int32_t k = x / 2;
    kernel({rows.luma + x, {rows.cb[0] + k, rows.cb[1] + k}, {rows.cr[0] + k, rows.cr[1] + k}}, end - x,
           pixels, out);
  }

  // Pixels [x, end) (x even) next to the image edge, from copies with the border repeated.
  void writeEdge(const FancyRowSources& rows, int32_t x, int32_t end, uint8_t* out) const {
    BorderRows border;
    for (; x < end; x += kMaxMcuWidth, out += kMaxMcuWidth * pixelBytes) {
      const int32_t count = std::min(end - x, kMaxMcuWidth);
      const int32_t chromaCount = (count + 1) / 2 + 2;
      border.gather(luma, rows.luma, x, count, border.luma);
      const uint8_t* chroma[4] = {rows.cb[0], rows.cb[1], rows.cr[0], rows.cr[1]};
      for (int32_t i = 0; i < 4; ++i)
        border.gather(i < 2 ? cb : cr, chroma[i], x / 2 - 1, chromaCount, border.chroma[i]);
      kernel({border.luma,
              {border.chroma[0] + 1, border.chroma[1] + 1},
              {border.chroma[2] + 1, border.chroma[3] + 1}},
             count, pixels, out);
    }
  }

  // The rows `rect` covers of a run of MCUs from `firstColumn`, `destination` at its first
  // MCU's top-left pixel and `rect` local to it (reaching across the run).
  void write(int32_t firstColumn, uint8_t* destination, const PixelRect& rect) const {
    const int32_t start = firstColumn * 2 * side + rect.left;
    const int32_t end = start + rect.right - rect.left;
    // Pixels [inside, outside) read no sample beyond the image: the chroma pair before and after
    // theirs exists, and the kernels read chroma up to index (width + 1) / 2.
    const int32_t inside = std::min(std::max(start, 2), end);
    int32_t outside = std::min({end, luma.lastX + 1, 2 * std::min(cb.lastX, cr.lastX)});
    if (outside < end) outside &= ~1;
    outside = std::max(outside, inside);
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      const FancyRowSources rows = rowStarts(y);
      uint8_t* out = destination + y * stride + ptrdiff_t{rect.left} * pixelBytes;
      writeEdge(rows, start, inside, out);
      writeInside(rows, inside, outside, out + ptrdiff_t{inside - start} * pixelBytes);
      writeEdge(rows, outside, end, out + ptrdiff_t{outside - start} * pixelBytes);
    }
  }
};

// A run of MCUs whose written areas join up across one destination row band.
struct StraightRun {
  int32_t firstColumn = 0;
  uint8_t* destination = nullptr;
  PixelRect rect = {0, 0, 0, 0};

  bool joins(int32_t column, int32_t width, const PixelRect& next) const {
    return destination != nullptr && rect.right == (column - firstColumn) * width && next.left == 0 &&
           next.top == rect.top && next.bottom == rect.bottom;
  }
};

// The writer of MCU row `row` when every MCU of it converts straight from the ring; false when
// they take the general routines one by one.
bool straightRowWriter(const JPEG_PROPERTIES& state, int32_t row, int32_t scale, RowWriter* writer,
                       StraightFromRing* straight) {
  if (!ringServes(state, scaleOfMode(state.ioMode)) || ringHeader(state).scale != scale) return false;
  if (!isFancyYccLayout(state) || state.input.kernels == nullptr) return false;
  const int32_t side = blockSideAt(scale);
  if (!storesStraightFromRing(state, side, straight) || straight->width != 2 * side) return false;
  const bool vertical = state.maxVerticalFactor == 2;
  const FancyRowKernel kernel =
      vertical ? state.input.kernels->upsampleFancyH2V2Row : state.input.kernels->upsampleFancyH2V1Row;
  if (kernel == nullptr) return false;
  const RingLayout& ring = ringHeader(state).layout;
  *writer = {ringSource(state, ring, 0, (vertical ? 2 : 1) * side),
             ringSource(state, ring, 1, side),
             ringSource(state, ring, 2, side),
             row,
             side,
             vertical,
             kernel,
             straight->pixels,
             straight->pixels == FancyPixels::Rgbx ? 4 : 3,
             state.lineStride};
  return true;
}

// Stores MCUs [first, end) of MCU row `row`: the bytes storing them one by one gives, whole runs
// of them per kernel call where they convert straight from the ring.
void storeMcuRange(JPEG_PROPERTIES* state, int32_t row, int32_t first, int32_t end, int32_t scale) {
  RowWriter writer;
  StraightFromRing straight;
  if (!straightRowWriter(*state, row, scale, &writer, &straight)) {
    for (int32_t column = first; column < end; ++column) storeAtScale(state, column, row, scale);
    return;
  }
  StraightRun run;
  const auto finish = [&]() {
    if (run.destination != nullptr) writer.write(run.firstColumn, run.destination, run.rect);
    run = StraightRun{};
  };
  for (int32_t column = first; column < end; ++column) {
    PixelRect rect;
    uint8_t* const destination = placeStraightMcu(*state, straight, column, row, &rect);
    if (destination == nullptr) {
      finish();
    } else if ((rect.left & 1) != 0) {
      // Starts inside a chroma pair: the general routine takes it through the planes.
      finish();
      storeAtScale(state, column, row, scale);
    } else if (run.joins(column, straight.width, rect)) {
      run.rect.right = (column - run.firstColumn) * straight.width + rect.right;
    } else {
      finish();
      run = {column, destination, rect};
    }
  }
  finish();
}

// Adds MCUs [first, end) of MCU row `row` to those held back, storing the held ones first when
// the new ones do not continue them.
void holdBack(JPEG_PROPERTIES* state, int32_t row, int32_t first, int32_t end) {
  if (end <= first) return;
  HeldBack& held = mutableRingHeader(state).held;
  if (held.end > held.first && (held.row != row || held.end != first)) storeHeldBackMcus(state);
  if (held.end > held.first) {
    held.end = end;
  } else {
    held = {row, first, end};
  }
}

}  // namespace

namespace {

// The storeMcuUpsampledByRows steps after MCU (column, row) is in the ring.
void holdBackKeptMcu(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t columns, int32_t rows) {
  const int32_t lag = lagRows(*state);
  const int32_t shownRow = row - lag;
  const bool rowEnd = column + 1 == columns;
  // The MCUs whose neighbours are now known: the one before, and at a row end this one too.
  if (shownRow >= 0) holdBack(state, shownRow, std::max(column - 1, 0), rowEnd ? columns : column);
  if (!rowEnd) return;
  storeHeldBackMcus(state);
  if (row + 1 == rows && lag != 0) {
    holdBack(state, row, 0, columns);
    storeHeldBackMcus(state);
  }
}

}  // namespace

void storeMcuUpsampledByRows(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t columns,
                             int32_t rows, int32_t scale) {
  if (!ringServes(*state, scale)) {
    storeAtScale(state, column, row, scale);
    return;
  }
  keepMcuSamples(state, column, row);
  holdBackKeptMcu(state, column, row, columns, rows);
}

namespace {

// Fills `placement` for MCU row `row` of `blocks` blocks taking `transform`; count -1 when the
// transform has no row-writing twin or the blocks are not the MCU's as the ring lays them out.
void placeRow(const JPEG_PROPERTIES& state, InverseDctKernel transform, int32_t blocks, int32_t row,
              RowPlacement* placement) {
  placement->transform = transform;
  placement->blocks = blocks;
  placement->row = row;
  placement->count = -1;
  const InverseDctToRowsKernel intoRows = transformIntoRows(*state.input.kernels, transform);
  if (intoRows == nullptr) return;
  McuComponents mcu;
  describeMcuComponents(state, &mcu);
  const RingLayout& ring = ringHeader(state).layout;
  int32_t index = 0;
  for (int32_t i = 0; i < mcu.count; ++i) {
    const int32_t c = mcu.index[i];
    const int32_t width = ring.width[c];
    const int32_t bandHeight = mcu.blocksDown[i] * kBlockSide;
    uint8_t* band = ringBytes(state) + ring.offset[c] + ringRow(row * bandHeight, bandHeight) * size_t(width);
    for (int32_t by = 0; by < mcu.blocksDown[i]; ++by) {
      for (int32_t bx = 0; bx < mcu.blocksAcross[i]; ++bx, ++index) {
        if (index >= kMaxPlacedBlocks) return;
        // Column k's block starts at sample (k·across + bx)·8 and must end inside the row.
        const int32_t spare = width / kBlockSide - bx;
        placement->first[index] = band + size_t(by * kBlockSide) * size_t(width) + size_t(bx * kBlockSide);
        placement->columnStep[index] = mcu.blocksAcross[i] * kBlockSide;
        placement->stride[index] = width;
        placement->columns[index] = spare >= 1 ? (spare - 1) / mcu.blocksAcross[i] + 1 : 0;
        placement->intoRows[index] = intoRows;
      }
    }
  }
  if (index == blocks) placement->count = index;
}

}  // namespace

bool ringTakesTransformedBlocks(JPEG_PROPERTIES* state, InverseDctKernel transform, int32_t blocks,
                                int32_t row, int32_t scale) {
  if (scale != 1 || !ringServes(*state, 1)) return false;
  RowPlacement& placement = mutableRingHeader(state).placement;
  if (placement.row != row || placement.transform != transform || placement.blocks != blocks)
    placeRow(*state, transform, blocks, row, &placement);
  return placement.count >= 0;
}

void transformIntoRingByRows(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t columns,
                             int32_t rows) {
  const RowPlacement& placement = ringHeader(*state).placement;
  int16_t* block = reinterpret_cast<int16_t*>(state->scratch);
  for (int32_t i = 0; i < placement.count; ++i, block += kBlockValues) {
    if (column < placement.columns[i])
      placement.intoRows[i](block, placement.first[i] + column * placement.columnStep[i],
                            placement.stride[i]);
  }
  holdBackKeptMcu(state, column, row, columns, rows);
}

void storeHeldBackMcus(JPEG_PROPERTIES* state) {
  if (!ringIsLive(*state)) return;
  HeldBack& held = mutableRingHeader(state).held;
  if (held.end <= held.first) return;
  const HeldBack range = held;
  held.first = held.end;
  storeMcuRange(state, range.row, range.first, range.end, ringHeader(*state).scale);
}
