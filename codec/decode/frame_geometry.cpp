#include "codec/decode/frame_geometry.h"

#include <algorithm>

namespace {

constexpr int32_t kMaxFactor = 4;

bool factorsInRange(const JpegComponent& component) {
  return component.horizontalFactor >= 1 && component.horizontalFactor <= kMaxFactor &&
         component.verticalFactor >= 1 && component.verticalFactor <= kMaxFactor;
}

}  // namespace

CodedSampling codedSampling(const JPEG_PROPERTIES& state) {
  CodedSampling sampling;
  sampling.count = std::clamp(state.componentCount, 0, 4);
  if (sampling.count < 2 || state.components == nullptr) return sampling;
  for (int32_t i = 0; i < sampling.count; ++i) {
    sampling.h[i] = std::max(state.components[i].horizontalFactor, 1);
    sampling.v[i] = std::max(state.components[i].verticalFactor, 1);
    sampling.maxH = std::max(sampling.maxH, sampling.h[i]);
    sampling.maxV = std::max(sampling.maxV, sampling.v[i]);
  }
  return sampling;
}

bool hasSquareSampling(const JPEG_PROPERTIES* state) {
  // A one-component frame is coded 1x1 whatever its header says.
  if (state->componentCount < 2) return false;
  if (state->maxHorizontalFactor == 1 && state->maxVerticalFactor == 1) return false;
  for (int32_t i = 0; i < state->componentCount; ++i) {
    const JpegComponent& component = state->components[i];
    if (component.horizontalFactor != component.verticalFactor) return false;
    if (component.horizontalFactor != 1 && component.horizontalFactor != 2) return false;
  }
  return true;
}

bool hasUsableFrame(const JPEG_PROPERTIES& state) {
  if (state.components == nullptr || state.componentCount < 1 || state.componentCount > 4 ||
      state.imageWidth < 1 || state.imageHeight < 1) {
    return false;
  }
  return std::all_of(state.components, state.components + state.componentCount, factorsInRange);
}

FrameGeometry describeFrame(const JPEG_PROPERTIES& state) {
  FrameGeometry frame;
  if (!hasUsableFrame(state)) return frame;
  const CodedSampling sampling = codedSampling(state);
  frame.componentCount = sampling.count;
  frame.maxH = sampling.maxH;
  frame.maxV = sampling.maxV;
  frame.mcuWidth = kBlockSide * sampling.maxH;
  frame.mcuHeight = kBlockSide * sampling.maxV;
  frame.mcusPerRow = static_cast<int32_t>(ceilDiv(state.imageWidth, frame.mcuWidth));
  frame.mcuRows = static_cast<int32_t>(ceilDiv(state.imageHeight, frame.mcuHeight));
  frame.squareSampling = hasSquareSampling(&state);
  for (int32_t c = 0; c < frame.componentCount; ++c) {
    ComponentGeometry& component = frame.components[c];
    component.h = sampling.h[c];
    component.v = sampling.v[c];
    component.firstBlock = frame.blocksPerMcu;
    frame.blocksPerMcu += component.h * component.v;
    const int64_t width = ceilDiv(int64_t{state.imageWidth} * component.h, sampling.maxH);
    const int64_t height = ceilDiv(int64_t{state.imageHeight} * component.v, sampling.maxV);
    component.blockColumns = static_cast<int32_t>(ceilDiv(width, kBlockSide));
    component.blockRows = static_cast<int32_t>(ceilDiv(height, kBlockSide));
    component.blockWidth = frame.mcuWidth / component.h;
    component.blockHeight = frame.mcuHeight / component.v;
    const JpegComponent& header = state.components[c];
    component.oneBlock = header.horizontalFactor * header.verticalFactor == 1;
  }
  return frame;
}

const FrameGeometry& frameGeometry(const JPEG_PROPERTIES& state) {
  static const FrameGeometry kNoFrame;
  return state.frameGeometry != nullptr ? *state.frameGeometry : kNoFrame;
}

void storeFrameGeometry(JPEG_PROPERTIES* state) {
  if (state->frameGeometry != nullptr) *state->frameGeometry = describeFrame(*state);
}
