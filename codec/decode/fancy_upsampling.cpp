#include "codec/decode/fancy_upsampling.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

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

bool ringIsLive(const JPEG_PROPERTIES& state) {
  return state.upsamplingMode == 1 && state.upsamplingRows != nullptr;
}

uint8_t* ringBytes(const JPEG_PROPERTIES& state) {
  return reinterpret_cast<uint8_t*>(state.upsamplingRows);
}

// Ring row of component sample row `y` for bands of `bandHeight` rows.
size_t ringRow(int32_t y, int32_t bandHeight) {
  return size_t((y / bandHeight) % kRingBands) * size_t(bandHeight) + size_t(y % bandHeight);
}

// The scan's components in the MCU area: the frame's, or those of a scan that carries only some
// of them (one block each when it carries one), as the general routines read them.
struct McuComponents {
  int32_t count = 0;
  int32_t index[4] = {};
  int32_t blocksAcross[4] = {};
  int32_t blocksDown[4] = {};
};

McuComponents mcuComponents(const JPEG_PROPERTIES& state) {
  McuComponents mcu;
  const bool subset =
      state.nonInterleaved != 0 && state.scan != nullptr && state.scan->componentCount < state.componentCount;
  mcu.count = subset ? std::clamp(state.scan->componentCount, 0, 4) : std::clamp(state.componentCount, 0, 4);
  for (int32_t i = 0; i < mcu.count; ++i) {
    const int32_t index = subset ? state.scan->components[i].componentIndex : i;
    if (index < 0 || index >= state.componentCount) return McuComponents{};
    mcu.index[i] = index;
    mcu.blocksAcross[i] = mcu.count == 1 ? 1 : state.components[index].horizontalFactor;
    mcu.blocksDown[i] = mcu.count == 1 ? 1 : state.components[index].verticalFactor;
  }
  return mcu;
}

// Copies the transformed blocks of MCU (column, row) from the MCU area into the ring (the
// samples of each block, side 8 / scale, at the top left of its 8x8 area).
void keepMcuSamples(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t scale) {
  const RingLayout ring = ringLayout(*state, scale);
  const int32_t side = blockSideAt(scale);
  const McuComponents mcu = mcuComponents(*state);
  const int16_t* block = reinterpret_cast<const int16_t*>(state->scratch);
  for (int32_t i = 0; i < mcu.count; ++i) {
    const int32_t c = mcu.index[i];
    const int32_t bandHeight = mcu.blocksDown[i] * side;
    uint8_t* plane = ringBytes(*state) + ring.offset[c];
    for (int32_t by = 0; by < mcu.blocksDown[i]; ++by) {
      for (int32_t bx = 0; bx < mcu.blocksAcross[i]; ++bx, block += 64) {
        const int32_t x0 = (column * mcu.blocksAcross[i] + bx) * side;
        if (x0 + side > ring.width[c]) continue;
        for (int32_t sy = 0; sy < side; ++sy) {
          const int32_t y = row * bandHeight + by * side + sy;
          uint8_t* out = plane + ringRow(y, bandHeight) * size_t(ring.width[c]) + size_t(x0);
          for (int32_t sx = 0; sx < side; ++sx) out[sx] = static_cast<uint8_t>(block[8 * sy + sx]);
        }
      }
    }
  }
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
  return kernels != nullptr && isGeneralStoreRoutine(kernels->storeMcu);
}

JpegStatus startFancyUpsampling(JPEG_PROPERTIES* state, int32_t scale) {
  releaseBlocks(state->upsamplingRows);
  state->upsamplingRows = nullptr;
  if (!fancyUpsamplingApplies(*state, scale)) return JpegStatus::Ok;
  const size_t bytes = ringLayout(*state, scale).bytes;
  state->upsamplingRows = allocateBlocks((bytes + 127) / 128);
  return state->upsamplingRows != nullptr ? JpegStatus::Ok : JpegStatus::MemoryError;
}

void storeMcuUpsampled(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t columns, int32_t rows,
                       int32_t scale) {
  if (!ringIsLive(*state)) {
    storeAtScale(state, column, row, scale);
    return;
  }
  keepMcuSamples(state, column, row, scale);
  const int32_t lag = lagRows(*state);
  const int32_t shownRow = row - lag;
  const bool rowEnd = column + 1 == columns;
  if (shownRow >= 0) {
    if (column >= 1) storeAtScale(state, column - 1, shownRow, scale);
    if (rowEnd) storeAtScale(state, column, shownRow, scale);
  }
  if (rowEnd && row + 1 == rows && lag != 0) {
    for (int32_t c = 0; c < columns; ++c) storeAtScale(state, c, row, scale);
  }
}

bool lastStoredMcu(const JPEG_PROPERTIES& state, int32_t column, int32_t row, int32_t columns,
                   int32_t* storedColumn, int32_t* storedRow) {
  int32_t c = column;
  int32_t r = row;
  if (ringIsLive(state)) {
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
  if (!ringIsLive(state)) return false;
  const int32_t c = component.frameIndex;
  if (c < 0 || c >= state.componentCount || c >= 4) return false;
  const int32_t scale = scaleOfMode(state.ioMode);
  const int32_t side = blockSideAt(scale);
  if (component.samples != side) return false;
  const RingLayout ring = ringLayout(state, scale);
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

constexpr int32_t kMcuChroma = kBlockSide;     // chroma samples across one MCU
constexpr int32_t kMcuWidth = 2 * kBlockSide;  // pixels across one MCU

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

// One output row of a chroma component: filterBoth (2x2) or filterHorizontal (2x1) over samples
// x0 - 1 .. x0 + 8, all inside the image. Column sums are recomputed per output pair rather than
// kept in an array: the loop then stays in registers.
void filterChromaRow(const SampleSource& source, int32_t x0, int32_t sampleRow, int32_t outputRow,
                     bool vertical, uint8_t* out) {
  const uint8_t* near = source.row(sampleRow) + x0 - 1;
  if (vertical) {
    const uint8_t* far = source.row((outputRow & 1) != 0 ? sampleRow + 1 : sampleRow - 1) + x0 - 1;
    for (int32_t i = 0; i < kMcuChroma; ++i) {
      const int32_t left = 3 * near[i] + far[i];
      const int32_t centre = 3 * near[i + 1] + far[i + 1];
      const int32_t right = 3 * near[i + 2] + far[i + 2];
      out[2 * i] = static_cast<uint8_t>((3 * centre + left + 8) >> 4);
      out[2 * i + 1] = static_cast<uint8_t>((3 * centre + right + 7) >> 4);
    }
    return;
  }
  for (int32_t i = 0; i < kMcuChroma; ++i) {
    out[2 * i] = static_cast<uint8_t>((3 * near[i + 1] + near[i] + 1) >> 2);
    out[2 * i + 1] = static_cast<uint8_t>((3 * near[i + 1] + near[i + 2] + 2) >> 2);
  }
}

// Colour terms first over the whole row (a loop the compiler vectorises), then the 3-byte pixels.
void convertYccRow(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, bool bgr, uint8_t* out) {
  uint8_t red[kMcuWidth];
  uint8_t green[kMcuWidth];
  uint8_t blue[kMcuWidth];
  for (int32_t x = 0; x < kMcuWidth; ++x) {
    red[x] = clampToByte(luma[x] + chromaRed(cr[x]));
    green[x] = clampToByte(luma[x] + chromaGreenInPlace(cb[x], cr[x]));
    blue[x] = clampToByte(luma[x] + chromaBlue(cb[x]));
  }
  const uint8_t* first = bgr ? blue : red;
  const uint8_t* third = bgr ? red : blue;
  for (int32_t x = 0; x < kMcuWidth; ++x, out += 3) {
    out[0] = first[x];
    out[1] = green[x];
    out[2] = third[x];
  }
}

}  // namespace

bool storeFancyYccDirect(const JPEG_PROPERTIES& state, int32_t column, int32_t row, bool bgr,
                         uint8_t* destination, ptrdiff_t stride) {
  // Whole 8x8 blocks only: reduced scales take the general path.
  if (!ringIsLive(state) || !isFancyYccLayout(state) || scaleOfMode(state.ioMode) != 1) return false;
  const int32_t factorV = state.maxVerticalFactor;
  const RingLayout ring = ringLayout(state, 1);
  const SampleSource luma = ringSource(state, ring, 0, factorV * kBlockSide);
  const SampleSource cb = ringSource(state, ring, 1, kBlockSide);
  const SampleSource cr = ringSource(state, ring, 2, kBlockSide);
  const int32_t chromaX = column * kMcuChroma;
  const int32_t lumaX = column * kMcuWidth;
  // The border columns repeat samples: those MCUs take the general path.
  if (chromaX < 1 || chromaX + kMcuChroma > std::min(cb.lastX, cr.lastX) ||
      lumaX + kMcuWidth - 1 > luma.lastX)
    return false;
  const int32_t height = factorV * kBlockSide;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t cbRow[kMcuWidth];
    uint8_t crRow[kMcuWidth];
    const int32_t sampleRow = row * kBlockSide + (factorV == 2 ? y / 2 : y);
    filterChromaRow(cb, chromaX, sampleRow, y, factorV == 2, cbRow);
    filterChromaRow(cr, chromaX, sampleRow, y, factorV == 2, crRow);
    convertYccRow(luma.row(row * height + y) + lumaX, cbRow, crRow, bgr, destination + y * stride);
  }
  return true;
}
