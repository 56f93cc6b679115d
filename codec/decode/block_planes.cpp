#include "codec/decode/block_planes.h"

#include <cstddef>
#include <cstring>

#include "codec/decode/frame_geometry.h"
#include "codec/kernel_table.h"

namespace {

bool hasComponent(const JPEG_PROPERTIES& state, int32_t component) {
  return state.components != nullptr && component >= 0 && component < state.componentCount && component < 4;
}

// The plane width of component c: its blocks across every frame MCU.
int32_t planeWidth(const FrameGeometry& frame, int32_t c) {
  return frame.mcusPerRow * frame.components[c].h * kBlockSide;
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
  const FrameGeometry frame = describeFrame(state);
  if (frame.componentCount != state.componentCount) return {0, 0};
  const ComponentGeometry& c = frame.components[component];
  return {planeWidth(frame, component), frame.mcuRows * c.v * kBlockSide};
}

void storeMcuInPlanes(const JPEG_PROPERTIES& state, const ScanRecord& scan, int32_t column, int32_t row) {
  const JpegBlockPlanes* planes = state.blockPlanes;
  const FrameGeometry& frame = frameGeometry(state);
  const int16_t* block = reinterpret_cast<const int16_t*>(state.scratch);
  const bool single = scan.componentCount == 1;
  for (int32_t i = 0; i < scan.componentCount; ++i) {
    const int32_t component = scan.components[i].componentIndex;
    if (!hasComponent(state, component)) return;
    const ComponentGeometry& c = frame.components[component];
    // In a one-component scan an MCU is one block of the component's own grid.
    const int32_t across = single ? 1 : c.h;
    const int32_t down = single ? 1 : c.v;
    int16_t* plane = planes->planes[component];
    const int32_t width = planeWidth(frame, component);
    for (int32_t y = 0; y < down; ++y) {
      for (int32_t x = 0; x < across; ++x, block += kBlockValues) {
        if (plane != nullptr) copyBlock(block, plane, width, column * across + x, row * down + y);
      }
    }
  }
}

void fillPlanesFromCoefficients(const JPEG_PROPERTIES& state, const McuRange& range) {
  if (state.blockPlanes == nullptr || state.coefficientBuffer == nullptr) return;
  const FrameGeometry& frame = frameGeometry(state);
  // The buffer must be the one sized for this frame.
  if (frame.componentCount != state.componentCount ||
      frame.coefficientBlocks() != static_cast<size_t>(state.coefficientBufferBlocks)) {
    return;
  }
  const KernelTable* kernels = state.input.kernels;
  const bool samples = storesSamples(state);
  alignas(32) int16_t block[kBlockValues];
  for (int32_t row = range.firstRow; row < range.endRow && row < frame.mcuRows; ++row) {
    for (int32_t column = range.firstColumn; column < range.endColumn && column < frame.mcusPerRow;
         ++column) {
      const int16_t* mcu = state.coefficientBuffer + frame.mcuIndex(column, row) *
                                                         static_cast<size_t>(frame.blocksPerMcu) *
                                                         kBlockValues;
      for (int32_t c = 0; c < frame.componentCount; ++c) {
        int16_t* plane = state.blockPlanes->planes[c];
        if (plane == nullptr) continue;
        const ComponentGeometry& g = frame.components[c];
        const int32_t width = planeWidth(frame, c);
        const int16_t* quant = state.quantTables[state.components[c].quantSelector & 3].storage;
        for (int32_t y = 0; y < g.v; ++y) {
          for (int32_t x = 0; x < g.h; ++x) {
            std::memcpy(block, mcu + (g.firstBlock + y * g.h + x) * kBlockValues, sizeof block);
            if (samples) {
              kernels->dequantize(block, quant);
              kernels->idctFull(block);
            }
            copyBlock(block, plane, width, column * g.h + x, row * g.v + y);
          }
        }
      }
    }
  }
}
