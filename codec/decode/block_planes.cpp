#include "codec/decode/block_planes.h"

#include <cstddef>
#include <cstring>

#include "codec/kernel_table.h"

namespace {

constexpr int32_t kBlockValues = 64;

int32_t ceilDiv(int64_t value, int64_t divisor) {
  return static_cast<int32_t>((value + divisor - 1) / divisor);
}

// Sampling factors as the blocks are coded: a one-component frame is never interleaved, so
// whatever its header says, its MCU is one block.
struct CodedFactors {
  int32_t h;
  int32_t v;
  int32_t maxH;
  int32_t maxV;
};

CodedFactors codedFactors(const JPEG_PROPERTIES& state, int32_t component) {
  if (state.componentCount == 1) return {1, 1, 1, 1};
  const JpegComponent& c = state.components[component];
  return {c.horizontalFactor, c.verticalFactor, state.maxHorizontalFactor, state.maxVerticalFactor};
}

bool hasComponent(const JPEG_PROPERTIES& state, int32_t component) {
  return state.components != nullptr && component >= 0 && component < state.componentCount && component < 4;
}

// Block (blockColumn, blockRow) of a plane: 8 rows of 8 values, `width` values apart.
void copyBlock(const int16_t* block, int16_t* plane, int32_t width, int32_t blockColumn, int32_t blockRow) {
  int16_t* out =
      plane + (static_cast<ptrdiff_t>(blockRow) * 8 * width + static_cast<ptrdiff_t>(blockColumn) * 8);
  for (int32_t y = 0; y < 8; ++y, out += width) std::memcpy(out, block + 8 * y, 8 * sizeof(int16_t));
}

bool storesSamples(const JPEG_PROPERTIES& state) {
  return state.blockPlanes->mode != 0;
}

}  // namespace

BlockPlaneSize blockPlaneSize(const JPEG_PROPERTIES& state, int32_t component) {
  if (!hasComponent(state, component) || state.imageWidth < 1 || state.imageHeight < 1) return {0, 0};
  const CodedFactors f = codedFactors(state, component);
  const int32_t mcusPerRow = ceilDiv(state.imageWidth, 8 * f.maxH);
  const int32_t mcuRows = ceilDiv(state.imageHeight, 8 * f.maxV);
  return {mcusPerRow * f.h * 8, mcuRows * f.v * 8};
}

void storeMcuInPlanes(const JPEG_PROPERTIES& state, const ScanRecord& scan, int32_t column, int32_t row) {
  const JpegBlockPlanes* planes = state.blockPlanes;
  const int16_t* block = reinterpret_cast<const int16_t*>(state.scratch);
  const bool single = scan.componentCount == 1;
  for (int32_t i = 0; i < scan.componentCount; ++i) {
    const int32_t component = scan.components[i].componentIndex;
    const CodedFactors f = codedFactors(state, component);
    // In a one-component scan an MCU is one block of the component's own grid.
    const int32_t across = single ? 1 : f.h;
    const int32_t down = single ? 1 : f.v;
    int16_t* plane = hasComponent(state, component) ? planes->planes[component] : nullptr;
    const int32_t width = blockPlaneSize(state, component).width;
    for (int32_t y = 0; y < down; ++y) {
      for (int32_t x = 0; x < across; ++x, block += kBlockValues) {
        if (plane != nullptr) copyBlock(block, plane, width, column * across + x, row * down + y);
      }
    }
  }
}

void fillPlanesFromCoefficients(const JPEG_PROPERTIES& state, const McuRange& range) {
  if (state.blockPlanes == nullptr || state.coefficientBuffer == nullptr || state.componentCount < 1 ||
      state.componentCount > 4) {
    return;
  }
  int32_t firstBlock[4] = {};
  int32_t blocksPerMcu = 0;
  for (int32_t c = 0; c < state.componentCount; ++c) {
    const CodedFactors f = codedFactors(state, c);
    firstBlock[c] = blocksPerMcu;
    blocksPerMcu += f.h * f.v;
  }
  const CodedFactors frame = codedFactors(state, 0);
  const int32_t mcusPerRow = ceilDiv(state.imageWidth, 8 * frame.maxH);
  const int32_t mcuRows = ceilDiv(state.imageHeight, 8 * frame.maxV);
  // The buffer must be the one sized for this frame.
  if (int64_t{blocksPerMcu} * mcusPerRow * mcuRows != state.coefficientBufferBlocks) return;

  const KernelTable* kernels = state.input.kernels;
  const bool samples = storesSamples(state);
  alignas(32) int16_t block[kBlockValues];
  for (int32_t row = range.firstRow; row < range.endRow && row < mcuRows; ++row) {
    for (int32_t column = range.firstColumn; column < range.endColumn && column < mcusPerRow; ++column) {
      const int16_t* mcu = state.coefficientBuffer +
                           (static_cast<size_t>(row) * mcusPerRow + column) * blocksPerMcu * kBlockValues;
      for (int32_t c = 0; c < state.componentCount; ++c) {
        int16_t* plane = state.blockPlanes->planes[c];
        if (plane == nullptr) continue;
        const CodedFactors f = codedFactors(state, c);
        const int32_t width = blockPlaneSize(state, c).width;
        const int16_t* quant = state.quantTables[state.components[c].quantSelector & 3].storage;
        for (int32_t y = 0; y < f.v; ++y) {
          for (int32_t x = 0; x < f.h; ++x) {
            std::memcpy(block, mcu + (firstBlock[c] + y * f.h + x) * kBlockValues, sizeof block);
            if (samples) {
              kernels->dequantize(block, quant);
              kernels->idctFull(block);
            }
            copyBlock(block, plane, width, column * f.h + x, row * f.v + y);
          }
        }
      }
    }
  }
}
