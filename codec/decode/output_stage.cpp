#include "codec/decode/output_stage.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/decode/fancy_upsampling.h"
#include "codec/decode/frame_geometry.h"
#include "codec/decode/output_hooks.h"
#include "codec/kernels/decode_kernels.h"
#include "codec/kernels/ycc_terms.h"
#include "codec/validation.h"

namespace {

// One YCbCr sample triple as three bytes in RGB or BGR order, by the in-place conversion's
// rounding (the general store's, which the whole-MCU kernels do not share).
inline void storeYccPixel(uint8_t* p, int32_t luma, int32_t cb, int32_t cr, bool bgr) {
  const uint8_t r = clampToByte(luma + chromaRed(cr));
  const uint8_t g = clampToByte(luma + chromaGreenInPlace(cb, cr));
  const uint8_t b = clampToByte(luma + chromaBlue(cb));
  p[0] = bgr ? b : r;
  p[1] = g;
  p[2] = bgr ? r : b;
}

constexpr int32_t kOutsideRegion = static_cast<int32_t>(JpegStatus::InvalidProperties);

// Expanded component planes: MCUs are at most 4 x 8 samples each way.
constexpr int32_t kPlaneStride = 32;
constexpr int32_t kPlaneSize = kPlaneStride * 32;

// --- frame description ----------------------------------------------------------------------

// Sampling factors as the output sees them. A one-component frame is stored block by block
// whatever factors its header gives (its scans are never interleaved), so it counts as 1x1.
using FrameFactors = CodedSampling;

FrameFactors frameFactors(const JPEG_PROPERTIES& state) {
  return codedSampling(state);
}

bool hasFactors(const FrameFactors& f, int32_t index, int32_t h, int32_t v) {
  return f.h[index] == h && f.v[index] == v;
}

JpegSubsampling layoutOf(const FrameFactors& f) {
  if (f.maxH == 1 && f.maxV == 1) return JpegSubsampling::H1V1;
  if (f.count != 3 && f.count != 4) return JpegSubsampling::Other;
  if (!hasFactors(f, 1, 1, 1) || !hasFactors(f, 2, 1, 1)) return JpegSubsampling::Other;
  if (f.count == 4 && !hasFactors(f, 3, f.h[0], f.v[0])) return JpegSubsampling::Other;
  if (hasFactors(f, 0, 2, 2)) return f.count == 3 ? JpegSubsampling::H2V2 : JpegSubsampling::H2V2K;
  if (hasFactors(f, 0, 2, 1)) return f.count == 3 ? JpegSubsampling::H2V1 : JpegSubsampling::H2V1K;
  return JpegSubsampling::Other;
}

bool ratiosAreIntegers(const FrameFactors& f) {
  for (int32_t i = 0; i < f.count; ++i) {
    if (f.maxH % f.h[i] != 0 || f.maxV % f.v[i] != 0) return false;
  }
  return true;
}

// The current scan carries only some of the frame's components (a sequential image stored
// component by component).
bool scanIsSubset(const JPEG_PROPERTIES& state) {
  return state.nonInterleaved != 0 && state.scan != nullptr &&
         state.scan->componentCount < state.componentCount;
}

bool isPackedPixel(const JPEG_PROPERTIES& state) {
  return state.pixelColor == JpegColor::YCbCr && state.pixelChannels == 2;
}

bool regionIsActive(const JPEG_PROPERTIES& state) {
  const int32_t* r = state.regionOfInterest;
  return state.regionIsProgress == 0 && (r[0] != 0 || r[1] != 0 || r[2] != 0 || r[3] != 0);
}

int64_t bufferRows(const JPEG_PROPERTIES& state) {
  const int64_t height = state.pixelHeight;
  return height < 0 ? -height : height;
}

// --- in-place colour conversion ---------------------------------------------------------------

// Reads Y, Cb, Cr from bytes 0..2 of each pixel inside `rect` (relative to `origin`) and
// writes the converted colour; rows from the last to the first.
void convertStoredPixels(const JPEG_PROPERTIES& state, uint8_t* origin, const PixelRect& rect,
                         bool finalPass) {
  const JpegColor pixel = state.pixelColor;
  if (pixel != JpegColor::Rgb && pixel != JpegColor::Bgr && pixel != JpegColor::Cmyk) return;
  const int32_t channels = state.pixelChannels;
  if (channels < 3) return;  // no Y, Cb, Cr to read
  const bool ycck = state.jpegColor == JpegColor::Ycck;
  const bool ycc = state.jpegColor == JpegColor::YCbCr;
  if (channels > 3 && !ycck && !ycc) return;
  const ptrdiff_t stride = state.lineStride;
  for (int32_t y = rect.bottom - 1; y >= rect.top; --y) {
    uint8_t* p = origin + y * stride + ptrdiff_t{rect.left} * channels;
    for (int32_t x = rect.left; x < rect.right; ++x, p += channels) {
      const int32_t luma = p[0], cb = p[1], cr = p[2];
      const uint8_t r = clampToByte(luma + chromaRed(cr));
      const uint8_t g = clampToByte(luma + chromaGreenInPlace(cb, cr));
      const uint8_t b = clampToByte(luma + chromaBlue(cb));
      if (channels == 3) {
        p[0] = pixel == JpegColor::Bgr ? b : r;
        p[1] = g;
        p[2] = pixel == JpegColor::Bgr ? r : b;
      } else if (ycck) {
        p[0] = static_cast<uint8_t>(255 - r);
        p[1] = static_cast<uint8_t>(255 - g);
        p[2] = static_cast<uint8_t>(255 - b);
      } else {
        p[0] = r;
        p[1] = g;
        p[2] = b;
        if (finalPass) p[3] = 255;
      }
    }
  }
}

// --- dedicated routines -----------------------------------------------------------------------

bool isWholeMcu(const PixelRect& r, int32_t width, int32_t height) {
  return r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
}

// Runs the partial kernel on each 8x8 quadrant the clip rectangle touches, with the quadrant's
// own luminance (and K) block and the chroma corner that serves it.
template <int32_t kWidth, int32_t kHeight>
void storeQuadrants(ConvertMcuPartialKernel partial, const int16_t* const* components, uint8_t* destination,
                    ptrdiff_t stride, int32_t channels, const PixelRect& clip) {
  for (int32_t qy = 0; qy < kHeight / 8; ++qy) {
    for (int32_t qx = 0; qx < kWidth / 8; ++qx) {
      const PixelRect local = {std::max(clip.left, 8 * qx) - 8 * qx, std::max(clip.top, 8 * qy) - 8 * qy,
                               std::min(clip.right, 8 * qx + 8) - 8 * qx,
                               std::min(clip.bottom, 8 * qy + 8) - 8 * qy};
      if (local.right <= local.left || local.bottom <= local.top) continue;
      const int32_t quadrant = qy * (kWidth / 8) + qx;
      const int32_t chromaOffset = (kHeight == 16 ? 32 * qy : 0) + (kWidth == 16 ? 4 * qx : 0);
      const int16_t* blocks[4] = {components[0] + 64 * quadrant, components[1] + chromaOffset,
                                  components[2] + chromaOffset, components[3] + 64 * quadrant};
      partial(blocks, destination + 8 * qx * channels + 8 * qy * stride, stride, local);
    }
  }
}

template <ConvertMcuKernel KernelTable::*kWhole, ConvertMcuPartialKernel kPartial, int32_t kWidth,
          int32_t kHeight>
int32_t storeDedicated(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  const McuPlacement placement = placeMcu(*state, column, row, kWidth, kHeight);
  if (placement.destination == nullptr) return placement.status;
  // McuSampleBuffer: the luminance blocks, Cb, Cr, then the K blocks.
  constexpr int32_t lumaBlocks = (kWidth / 8) * (kHeight / 8);
  const int16_t* first = reinterpret_cast<const int16_t*>(state->scratch);
  const int16_t* components[4] = {first, first + 64 * lumaBlocks, first + 64 * (lumaBlocks + 1),
                                  first + 64 * (lumaBlocks + 2)};
  if (isWholeMcu(placement.rect, kWidth, kHeight)) {
    (state->input.kernels->*kWhole)(components, placement.destination, state->lineStride);
  } else {
    storeQuadrants<kWidth, kHeight>(kPartial, components, placement.destination, state->lineStride,
                                    state->pixelChannels, placement.rect);
  }
  return 0;
}

struct DedicatedRoutine {
  ConvertMcuKernel KernelTable::*kernel;
  StoreMcuRoutine routine;
};

#define MESHWICK_DEDICATED(kernel, width, height)                                              \
  DedicatedRoutine {                                                                           \
    &KernelTable::kernel, storeDedicated<&KernelTable::kernel, kernel##Partial, width, height> \
  }

const DedicatedRoutine kDedicatedRoutines[] = {
    MESHWICK_DEDICATED(copyGray, 8, 8),
    MESHWICK_DEDICATED(convertH1V1ToRgb, 8, 8),
    MESHWICK_DEDICATED(convertH2V1ToRgb, 16, 8),
    MESHWICK_DEDICATED(convertH2V2ToRgb, 16, 16),
    MESHWICK_DEDICATED(convertH1V1ToBgr, 8, 8),
    MESHWICK_DEDICATED(convertH2V1ToBgr, 16, 8),
    MESHWICK_DEDICATED(convertH2V2ToBgr, 16, 16),
    MESHWICK_DEDICATED(convertH1V1ToRgbx, 8, 8),
    MESHWICK_DEDICATED(convertH2V1ToRgbx, 16, 8),
    MESHWICK_DEDICATED(convertH2V2ToRgbx, 16, 16),
    MESHWICK_DEDICATED(copy3To3, 8, 8),
    MESHWICK_DEDICATED(upsampleH2V1Copy, 16, 8),
    MESHWICK_DEDICATED(upsampleH2V2Copy, 16, 16),
    MESHWICK_DEDICATED(copy3To4, 8, 8),
    MESHWICK_DEDICATED(packH2V1, 16, 8),
    MESHWICK_DEDICATED(convertH1V1YcckToCmyk, 8, 8),
    MESHWICK_DEDICATED(convertH2V1YcckToCmyk, 16, 8),
    MESHWICK_DEDICATED(convertH2V2YcckToCmyk, 16, 16),
    MESHWICK_DEDICATED(copy4To4, 8, 8),
};

#undef MESHWICK_DEDICATED

// --- general routines -------------------------------------------------------------------------

// One component of the MCU as stored in the McuSampleBuffer.
struct ComponentSlot {
  const int16_t* firstBlock;
  int32_t frameIndex;
  int32_t blocksAcross;
  int32_t blocksDown;
  int32_t samples;  // per block side: the block size, or twice it for a larger transform
  int32_t spanH;    // pixels one block covers
  int32_t spanV;
};

struct GeneralMcu {
  int32_t width = 0;
  int32_t height = 0;
  int32_t count = 0;
  bool allComponents = false;
  ComponentSlot slots[4] = {};
};

// The MCU of the current scan at block size n: all frame components (interleaved), or the
// scan's own components when it carries only some of them.
GeneralMcu describeMcu(const JPEG_PROPERTIES& state, int32_t n) {
  const FrameFactors f = frameFactors(state);
  GeneralMcu mcu;
  int32_t indices[4] = {0, 1, 2, 3};
  int32_t count = f.count;
  if (scanIsSubset(state)) {
    count = std::clamp(state.scan->componentCount, 0, 4);
    for (int32_t i = 0; i < count; ++i) {
      indices[i] = state.scan->components[i].componentIndex;
      if (indices[i] < 0 || indices[i] >= f.count) return mcu;
    }
  }
  if (count == 0) return mcu;
  const bool single = count == 1;
  mcu.width = single ? n * f.maxH / f.h[indices[0]] : n * f.maxH;
  mcu.height = single ? n * f.maxV / f.v[indices[0]] : n * f.maxV;
  mcu.count = count;
  mcu.allComponents = count == f.count;
  // In scaled decoding of a square-sampled frame the one-block components took the next larger
  // transform (the choice the scan decoder makes).
  const bool square = n < 8 && hasSquareSampling(&state);
  const int16_t* block = reinterpret_cast<const int16_t*>(state.scratch);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t index = indices[i];
    const JpegComponent& header = state.components[index];
    ComponentSlot& slot = mcu.slots[i];
    slot.firstBlock = block;
    slot.frameIndex = index;
    slot.blocksAcross = single ? 1 : f.h[index];
    slot.blocksDown = single ? 1 : f.v[index];
    slot.samples = square && header.horizontalFactor * header.verticalFactor == 1 ? 2 * n : n;
    slot.spanH = mcu.width / slot.blocksAcross;
    slot.spanV = mcu.height / slot.blocksDown;
    block += 64 * slot.blocksAcross * slot.blocksDown;
  }
  return mcu;
}

// One row of `count` samples, each written `repeat` times. The common ratios 1 and 2 get their
// own loops: a fill call per sample costs more than the sample.
void copySamplesRepeated(const int16_t* samples, int32_t count, int32_t repeat, uint8_t* out) {
  if (repeat == 1) {
    for (int32_t sx = 0; sx < count; ++sx) out[sx] = static_cast<uint8_t>(samples[sx]);
  } else if (repeat == 2) {
    for (int32_t sx = 0; sx < count; ++sx) out[2 * sx] = out[2 * sx + 1] = static_cast<uint8_t>(samples[sx]);
  } else {
    for (int32_t sx = 0; sx < count; ++sx)
      std::fill_n(out + sx * repeat, repeat, static_cast<uint8_t>(samples[sx]));
  }
}

// Replicates each sample over the pixels it covers (integer ratios, checked at frame set-up).
void expandReplicated(const ComponentSlot& slot, uint8_t* plane) {
  const int32_t repeatH = std::max(slot.spanH / slot.samples, 1);
  const int32_t repeatV = std::max(slot.spanV / slot.samples, 1);
  for (int32_t by = 0; by < slot.blocksDown; ++by) {
    for (int32_t bx = 0; bx < slot.blocksAcross; ++bx) {
      const int16_t* block = slot.firstBlock + 64 * (by * slot.blocksAcross + bx);
      for (int32_t sy = 0; sy < slot.samples; ++sy) {
        for (int32_t ry = 0; ry < repeatV; ++ry) {
          uint8_t* out = plane + (by * slot.spanV + sy * repeatV + ry) * kPlaneStride + bx * slot.spanH;
          copySamplesRepeated(block + 8 * sy, slot.samples, repeatH, out);
        }
      }
    }
  }
}

// Expansion of one component into its plane of the MCU's size. With upsamplingMode 1 the decoder
// keeps a ring of neighbouring MCU rows and the plane comes from there (triangle filter for 2:1
// ratios); otherwise samples are replicated.
void expandComponent(const JPEG_PROPERTIES& state, const ComponentSlot& slot, int32_t column, int32_t row,
                     uint8_t* plane) {
  const FancyComponent fancy = {slot.frameIndex, slot.blocksAcross, slot.blocksDown,
                                slot.samples,    slot.spanH,        slot.spanV};
  if (expandFromRing(state, fancy, column, row, plane, kPlaneStride)) return;
  expandReplicated(slot, plane);
}

// Channel placement rules of the general routines.
struct ChannelRules {
  int32_t channelOf[4];   // -1: not stored
  bool grayToAllColours;  // channels 1 and 2 repeat channel 0
  bool opaqueFourth;      // channel 3 gets 255
};

ChannelRules channelRules(const JPEG_PROPERTIES& state) {
  const int32_t channels = state.pixelChannels;
  ChannelRules rules{{-1, -1, -1, -1}, false, false};
  const bool reversed =
      state.pixelColor == JpegColor::Bgr && state.jpegColor == JpegColor::Rgb && channels >= 3;
  const bool gray = state.jpegColor == JpegColor::Gray;
  for (int32_t i = 0; i < 4; ++i) {
    const int32_t channel = reversed && i < 3 ? 2 - i : i;
    if (channel < channels && (!gray || i == 0)) rules.channelOf[i] = channel;
  }
  rules.grayToAllColours = gray && (channels == 3 || channels == 4);
  const bool threeColour = state.jpegColor == JpegColor::Rgb || state.jpegColor == JpegColor::YCbCr;
  rules.opaqueFourth =
      channels == 4 &&
      ((gray) || (state.componentCount == 3 && threeColour && state.pixelColor == JpegColor::Cmyk));
  return rules;
}

void writeChannels(const JPEG_PROPERTIES& state, const GeneralMcu& mcu, const uint8_t (*planes)[kPlaneSize],
                   uint8_t* destination, const PixelRect& rect) {
  const ChannelRules rules = channelRules(state);
  const int32_t channels = state.pixelChannels;
  const ptrdiff_t stride = state.lineStride;
  for (int32_t i = 0; i < mcu.count; ++i) {
    const int32_t channel = rules.channelOf[mcu.slots[i].frameIndex];
    if (channel < 0) continue;
    const bool repeatGray = rules.grayToAllColours && mcu.slots[i].frameIndex == 0;
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      uint8_t* p = destination + y * stride + ptrdiff_t{rect.left} * channels;
      const uint8_t* source = planes[i] + y * kPlaneStride;
      for (int32_t x = rect.left; x < rect.right; ++x, p += channels) {
        p[channel] = source[x];
        if (repeatGray) p[1] = p[2] = source[x];
      }
    }
  }
  if (!rules.opaqueFourth) return;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    uint8_t* p = destination + y * stride + ptrdiff_t{rect.left} * channels;
    for (int32_t x = rect.left; x < rect.right; ++x, p += channels) p[3] = 255;
  }
}

// Packed 4:2:2: Y in byte 0 of every pixel, Cb in byte 1 of even pixels, Cr in byte 1 of odd ones
// (image columns).
void writePacked(const JPEG_PROPERTIES& state, const GeneralMcu& mcu, const uint8_t (*planes)[kPlaneSize],
                 uint8_t* destination, const PixelRect& rect, int64_t firstImageColumn) {
  const ptrdiff_t stride = state.lineStride;
  for (int32_t i = 0; i < mcu.count; ++i) {
    const int32_t component = mcu.slots[i].frameIndex;
    if (component > 2) continue;
    for (int32_t y = rect.top; y < rect.bottom; ++y) {
      uint8_t* out = destination + y * stride;
      const uint8_t* source = planes[i] + y * kPlaneStride;
      for (int32_t x = rect.left; x < rect.right; ++x) {
        const bool even = ((firstImageColumn + x) & 1) == 0;
        if (component == 0) {
          out[2 * x] = source[x];
        } else if (even == (component == 1)) {
          out[2 * x + 1] = source[x];
        }
      }
    }
  }
}

// Three YCbCr planes straight to 3-byte RGB or BGR pixels: the same values as writeChannels
// followed by convertStoredPixels, in one pass over the pixels.
bool convertsInOnePass(const JPEG_PROPERTIES& state, const GeneralMcu& mcu) {
  if (state.pixelChannels != 3 || (state.pixelColor != JpegColor::Rgb && state.pixelColor != JpegColor::Bgr))
    return false;
  if (mcu.count != 3 || !mcu.allComponents) return false;
  const ChannelRules rules = channelRules(state);
  if (rules.grayToAllColours || rules.opaqueFourth) return false;
  for (int32_t i = 0; i < 3; ++i) {
    if (mcu.slots[i].frameIndex != i || rules.channelOf[i] != i) return false;
  }
  return true;
}

// Three YCbCr components to RGB or BGR (as convertsInOnePass), or to R, G, B, 255 (CMYK pixels
// of four bytes: what writeChannels and the in-place conversion give), which the interpolating
// upsampler can write straight from its ring.
bool convertsStraightFromRing(const JPEG_PROPERTIES& state, const GeneralMcu& mcu, FancyPixels* pixels) {
  if (convertsInOnePass(state, mcu)) {
    *pixels = state.pixelColor == JpegColor::Bgr ? FancyPixels::Bgr : FancyPixels::Rgb;
    return true;
  }
  if (state.pixelChannels != 4 || state.pixelColor != JpegColor::Cmyk || state.jpegColor != JpegColor::YCbCr)
    return false;
  if (mcu.count != 3 || !mcu.allComponents) return false;
  const ChannelRules rules = channelRules(state);
  if (rules.grayToAllColours || !rules.opaqueFourth) return false;
  for (int32_t i = 0; i < 3; ++i) {
    if (mcu.slots[i].frameIndex != i || rules.channelOf[i] != i) return false;
  }
  *pixels = FancyPixels::Rgbx;
  return true;
}

void writeConvertedYcc(const JPEG_PROPERTIES& state, const uint8_t (*planes)[kPlaneSize],
                       uint8_t* destination, const PixelRect& rect) {
  const ptrdiff_t stride = state.lineStride;
  const bool bgr = state.pixelColor == JpegColor::Bgr;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    uint8_t* p = destination + y * stride + ptrdiff_t{rect.left} * 3;
    const uint8_t* lumaRow = planes[0] + y * kPlaneStride;
    const uint8_t* cbRow = planes[1] + y * kPlaneStride;
    const uint8_t* crRow = planes[2] + y * kPlaneStride;
    for (int32_t x = rect.left; x < rect.right; ++x, p += 3) {
      const int32_t luma = lumaRow[x], cb = cbRow[x], cr = crRow[x];
      storeYccPixel(p, luma, cb, cr, bgr);
    }
  }
}

// A grey component repeated into three colour channels (and 255 in a fourth), straight from
// the transformed block when each sample is one pixel: what expandReplicated and writeChannels
// give, without the plane.
bool repeatsGreyDirectly(const GeneralMcu& mcu, const ChannelRules& rules) {
  if (mcu.count != 1 || mcu.slots[0].frameIndex != 0 || !rules.grayToAllColours) return false;
  const ComponentSlot& slot = mcu.slots[0];
  return slot.blocksAcross == 1 && slot.blocksDown == 1 && slot.spanH == slot.samples &&
         slot.spanV == slot.samples;
}

// One row of kSide (1, 2, 4 or 8) grey samples as 3-byte pixels: overlapping 4-byte stores, each
// pixel's fourth byte rewritten by the next one; the last store ends at the row's last byte.
template <int32_t kSide>
void writeGreyRowTriple(const int16_t* samples, uint8_t* p) {
  if constexpr (kSide == 1) {
    const uint8_t value = static_cast<uint8_t>(samples[0]);
    p[0] = p[1] = p[2] = value;
  } else {
    uint32_t pixel[kSide];
    for (int32_t x = 0; x < kSide; ++x) pixel[x] = uint32_t{static_cast<uint8_t>(samples[x])} * 0x010101u;
    for (int32_t x = 0; x < kSide - 1; ++x) std::memcpy(p + 3 * x, &pixel[x], 4);
    const uint32_t tail = pixel[kSide - 1] << 8 | (pixel[kSide - 2] & 0xffu);
    std::memcpy(p + 3 * kSide - 4, &tail, 4);
  }
}

// One row of kSide grey samples as grey, grey, grey, 255 pixels.
template <int32_t kSide>
void writeGreyRowOpaque(const int16_t* samples, uint8_t* p) {
  uint32_t pixels[kSide];
  for (int32_t x = 0; x < kSide; ++x)
    pixels[x] = uint32_t{static_cast<uint8_t>(samples[x])} * 0x010101u | 0xff000000u;
  std::memcpy(p, pixels, sizeof(pixels));
}

// Whole block rows take the word-sized stores (little-endian byte order); edge rows and other
// pixel sizes go pixel by pixel.
bool greyRowsAreWhole(int32_t channels, bool opaque, int32_t side, const PixelRect& rect) {
  if constexpr (std::endian::native != std::endian::little) return false;
  return rect.left == 0 && rect.right == side && (channels == 3 || (channels == 4 && opaque));
}

template <int32_t kSide>
void writeWholeGreyRows(const int16_t* block, int32_t channels, ptrdiff_t stride, uint8_t* destination,
                        const PixelRect& rect) {
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    if (channels == 3) {
      writeGreyRowTriple<kSide>(block + 8 * y, destination + y * stride);
    } else {
      writeGreyRowOpaque<kSide>(block + 8 * y, destination + y * stride);
    }
  }
}

void writeGreyRepeated(const JPEG_PROPERTIES& state, const ComponentSlot& slot, const ChannelRules& rules,
                       uint8_t* destination, const PixelRect& rect) {
  const int32_t channels = state.pixelChannels;
  const ptrdiff_t stride = state.lineStride;
  const bool opaque = rules.opaqueFourth && channels >= 4;
  if (greyRowsAreWhole(channels, opaque, slot.samples, rect)) {
    switch (slot.samples) {
      case 1:
        return writeWholeGreyRows<1>(slot.firstBlock, channels, stride, destination, rect);
      case 2:
        return writeWholeGreyRows<2>(slot.firstBlock, channels, stride, destination, rect);
      case 4:
        return writeWholeGreyRows<4>(slot.firstBlock, channels, stride, destination, rect);
      case 8:
        if (channels == 3 && rect.top == 0 && rect.bottom == 8) {
          return state.input.kernels->copyGrayTo3(&slot.firstBlock, destination, stride);
        }
        return writeWholeGreyRows<8>(slot.firstBlock, channels, stride, destination, rect);
      default:
        break;
    }
  }
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    uint8_t* p = destination + y * stride + ptrdiff_t{rect.left} * channels;
    const int16_t* samples = slot.firstBlock + 8 * y;
    for (int32_t x = rect.left; x < rect.right; ++x, p += channels) {
      const uint8_t value = static_cast<uint8_t>(samples[x]);
      p[0] = p[1] = p[2] = value;
      if (opaque) p[3] = 255;
    }
  }
}

// Every sample of every component is one pixel, a power-of-two block side: square-sampled
// frames at reduced scales, whose one-block components took the larger transform. Without the
// interpolation ring the pixels can then be converted straight from the transformed blocks.
bool samplesArePixels(const JPEG_PROPERTIES& state, const GeneralMcu& mcu) {
  if (state.upsamplingMode == 1 && state.upsamplingRows != nullptr) return false;
  for (int32_t i = 0; i < mcu.count; ++i) {
    const ComponentSlot& slot = mcu.slots[i];
    if (slot.spanH != slot.samples || slot.spanV != slot.samples) return false;
    if (!std::has_single_bit(static_cast<uint32_t>(slot.samples)) || slot.samples > 8) return false;
  }
  return true;
}

// One pixel row of a component whose samples are pixels: the sample row of each block across.
struct SampleRow {
  const int16_t* blocks[4];
  int32_t shift;  // log2 of the block side
  int32_t mask;

  int32_t at(int32_t x) const { return blocks[x >> shift][x & mask]; }
};

SampleRow sampleRow(const ComponentSlot& slot, int32_t y) {
  SampleRow row{};
  row.shift = std::countr_zero(static_cast<uint32_t>(slot.samples));
  row.mask = slot.samples - 1;
  const int32_t blockRow = y >> row.shift;
  const int16_t* first = slot.firstBlock + 64 * blockRow * slot.blocksAcross + 8 * (y & row.mask);
  for (int32_t bx = 0; bx < slot.blocksAcross && bx < 4; ++bx) row.blocks[bx] = first + 64 * bx;
  return row;
}

// writeConvertedYcc's conversion, reading the samples from the blocks instead of the planes.
void writeConvertedYccFromBlocks(const JPEG_PROPERTIES& state, const GeneralMcu& mcu, uint8_t* destination,
                                 const PixelRect& rect) {
  const ptrdiff_t stride = state.lineStride;
  const bool bgr = state.pixelColor == JpegColor::Bgr;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    uint8_t* p = destination + y * stride + ptrdiff_t{rect.left} * 3;
    const SampleRow lumaRow = sampleRow(mcu.slots[0], y);
    const SampleRow cbRow = sampleRow(mcu.slots[1], y);
    const SampleRow crRow = sampleRow(mcu.slots[2], y);
    for (int32_t x = rect.left; x < rect.right; ++x, p += 3) {
      const int32_t luma = static_cast<uint8_t>(lumaRow.at(x));
      const int32_t cb = static_cast<uint8_t>(cbRow.at(x));
      const int32_t cr = static_cast<uint8_t>(crRow.at(x));
      storeYccPixel(p, luma, cb, cr, bgr);
    }
  }
}

// A one-component grey frame into 3- or 4-byte pixels: each MCU is one block, repeated into the
// colour channels.
bool isGreyIntoColours(const JPEG_PROPERTIES& state) {
  return state.componentCount == 1 && state.jpegColor == JpegColor::Gray && !scanIsSubset(state) &&
         (state.pixelChannels == 3 || state.pixelChannels == 4);
}

enum class Placement { Channels, Packed };

int32_t storeGeneral(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t blockSize,
                     Placement placement, bool convert) {
  const GeneralMcu mcu = describeMcu(*state, blockSize);
  if (mcu.count == 0) return 0;
  const McuPlacement where = placeMcu(*state, column, row, mcu.width, mcu.height);
  if (where.destination == nullptr) return where.status;
  if (placement == Placement::Channels && !convert) {
    const ChannelRules rules = channelRules(*state);
    if (repeatsGreyDirectly(mcu, rules)) {
      writeGreyRepeated(*state, mcu.slots[0], rules, where.destination, where.rect);
      return 0;
    }
  }
  FancyPixels fancy = FancyPixels::Rgb;
  if (convert && placement == Placement::Channels && convertsStraightFromRing(*state, mcu, &fancy) &&
      storeFancyYccDirect(*state, column, row, fancy, where.destination, state->lineStride, where.rect)) {
    return 0;
  }
  if (convert && placement == Placement::Channels && convertsInOnePass(*state, mcu) &&
      samplesArePixels(*state, mcu)) {
    writeConvertedYccFromBlocks(*state, mcu, where.destination, where.rect);
    return 0;
  }
  uint8_t planes[4][kPlaneSize];
  for (int32_t i = 0; i < mcu.count; ++i) expandComponent(*state, mcu.slots[i], column, row, planes[i]);
  if (placement == Placement::Packed) {
    writePacked(*state, mcu, planes, where.destination, where.rect, int64_t{column} * mcu.width);
  } else if (convert && convertsInOnePass(*state, mcu)) {
    writeConvertedYcc(*state, planes, where.destination, where.rect);
    return 0;
  } else {
    writeChannels(*state, mcu, planes, where.destination, where.rect);
  }
  if (convert && mcu.allComponents) convertStoredPixels(*state, where.destination, where.rect, false);
  return 0;
}

// --- reduced-scale stores ------------------------------------------------------------------------

// The shape of a whole YCbCr MCU that the reduced-scale converter writes as RGB or BGR: three
// components with 1x1 chroma, 4:2:0, 4:2:2 or 4:4:4, replicated chroma, every component in the
// scan. Anything else takes the general routine.
bool scaledConverterShape(const JPEG_PROPERTIES& state, int32_t side, ScaledMcuShape* shape) {
  if (state.colorConversionNeeded == 0 || state.upsamplingMode != 0 || state.componentCount != 3)
    return false;
  if (state.pixelChannels != 3 || (state.pixelColor != JpegColor::Rgb && state.pixelColor != JpegColor::Bgr))
    return false;
  if (state.jpegColor != JpegColor::YCbCr || scanIsSubset(state)) return false;
  const JpegComponent* c = state.components;
  for (int32_t i = 1; i < 3; ++i) {
    if (c[i].horizontalFactor != 1 || c[i].verticalFactor != 1) return false;
  }
  const int32_t h = c[0].horizontalFactor, v = c[0].verticalFactor;
  if (state.maxHorizontalFactor != h || state.maxVerticalFactor != v) return false;
  const bool square = h == v;  // 4:2:0 chroma took the transform one size larger
  if (h < 1 || h > 2 || v > h || v < 1) return false;
  *shape = {side, h, v, square ? 1 : 2, state.pixelColor == JpegColor::Bgr ? 1 : 0};
  return true;
}

// Whole MCUs through the converter kernel; edge and region-clipped MCUs take the general routine.
bool storeScaledConverted(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t side) {
  ScaledMcuShape shape{};
  if (!scaledConverterShape(*state, side, &shape)) return false;
  const int32_t width = side * shape.lumaAcross, height = side * shape.lumaDown;
  const McuPlacement where = placeMcu(*state, column, row, width, height);
  if (where.destination == nullptr) return true;
  if (!isWholeMcu(where.rect, width, height)) return false;
  const int16_t* first = reinterpret_cast<const int16_t*>(state->scratch);
  const int16_t* lumaEnd = first + 64 * shape.lumaAcross * shape.lumaDown;
  const int16_t* components[3] = {first, lumaEnd, lumaEnd + 64};
  state->input.kernels->convertScaledYcc(components, where.destination, state->lineStride, &shape);
  return true;
}

// --- choice of the store routine --------------------------------------------------------------

enum class PixelMatch { Any, Rgb, Bgr, NotBgr, Cmyk };

bool pixelMatches(PixelMatch match, JpegColor pixel) {
  switch (match) {
    case PixelMatch::Any:
      return true;
    case PixelMatch::Rgb:
      return pixel == JpegColor::Rgb;
    case PixelMatch::Bgr:
      return pixel == JpegColor::Bgr;
    case PixelMatch::NotBgr:
      return pixel != JpegColor::Bgr;
    case PixelMatch::Cmyk:
      return pixel == JpegColor::Cmyk;
  }
  return false;
}

// One row of the dedicated-routine table. Rows without a layout in the table take H1V1: their
// kernels have 8x8 MCUs with 1x1 chroma (reached with other layouts only for YCbCr pixels, which
// then go through the general routine).
struct DedicatedRow {
  bool conversion;
  bool sampling;
  int32_t components;
  int32_t channels;
  PixelMatch pixel;
  JpegSubsampling layout;
  ConvertMcuKernel KernelTable::*kernel;
  int32_t code;
};

constexpr DedicatedRow kDedicatedRows[] = {
    {true, true, 3, 3, PixelMatch::Rgb, JpegSubsampling::H2V2, &KernelTable::convertH2V2ToRgb, 3},
    {true, true, 3, 3, PixelMatch::Rgb, JpegSubsampling::H2V1, &KernelTable::convertH2V1ToRgb, 5},
    {true, true, 3, 3, PixelMatch::Bgr, JpegSubsampling::H2V2, &KernelTable::convertH2V2ToBgr, 4},
    {true, true, 3, 3, PixelMatch::Bgr, JpegSubsampling::H2V1, &KernelTable::convertH2V1ToBgr, 6},
    {true, true, 3, 4, PixelMatch::Cmyk, JpegSubsampling::H2V2, &KernelTable::convertH2V2ToRgbx, 8},
    {true, true, 3, 4, PixelMatch::Cmyk, JpegSubsampling::H2V1, &KernelTable::convertH2V1ToRgbx, 9},
    {true, true, 4, 4, PixelMatch::Cmyk, JpegSubsampling::H2V2K, &KernelTable::convertH2V2YcckToCmyk, 11},
    {true, true, 4, 4, PixelMatch::Cmyk, JpegSubsampling::H2V1K, &KernelTable::convertH2V1YcckToCmyk, 12},
    {true, false, 3, 3, PixelMatch::Rgb, JpegSubsampling::H1V1, &KernelTable::convertH1V1ToRgb, 1},
    {true, false, 3, 3, PixelMatch::Bgr, JpegSubsampling::H1V1, &KernelTable::convertH1V1ToBgr, 2},
    {true, false, 3, 4, PixelMatch::Cmyk, JpegSubsampling::H1V1, &KernelTable::convertH1V1ToRgbx, 7},
    {true, false, 4, 4, PixelMatch::Cmyk, JpegSubsampling::H1V1, &KernelTable::convertH1V1YcckToCmyk, 10},
    {false, true, 3, 3, PixelMatch::NotBgr, JpegSubsampling::H2V2, &KernelTable::upsampleH2V2Copy, 16},
    {false, true, 3, 3, PixelMatch::NotBgr, JpegSubsampling::H2V1, &KernelTable::upsampleH2V1Copy, 17},
    {false, false, 1, 1, PixelMatch::Any, JpegSubsampling::H1V1, &KernelTable::copyGray, kOutputCodeNone},
    {false, false, 3, 2, PixelMatch::Any, JpegSubsampling::H2V1, &KernelTable::packH2V1, 19},
    {false, false, 3, 3, PixelMatch::NotBgr, JpegSubsampling::H1V1, &KernelTable::copy3To3, 15},
    {false, false, 3, 4, PixelMatch::Cmyk, JpegSubsampling::H1V1, &KernelTable::copy3To4, 13},
    {false, false, 4, 4, PixelMatch::Any, JpegSubsampling::H1V1, &KernelTable::copy4To4, 14},
};

struct Choice {
  StoreMcuRoutine routine;
  int32_t code;
};

constexpr Choice kUnset = {nullptr, kOutputCodeNone};

struct PixelSide {
  bool conversion;
  bool sampling;
  int32_t components;
  int32_t channels;
  JpegColor pixel;
  JpegSubsampling layout;
  int32_t upsamplingMode;
};

bool rowMatchesIgnoringLayout(const DedicatedRow& row, const PixelSide& side) {
  return row.conversion == side.conversion && row.sampling == side.sampling &&
         row.components == side.components && row.channels == side.channels &&
         pixelMatches(row.pixel, side.pixel);
}

// With conversion and sampling: dedicated for the table's layouts with replication, else the
// converting general routine for the same components, channels and pixel colour.
Choice chooseConvertedSampled(const PixelSide& side) {
  bool knownPairing = false;
  for (const DedicatedRow& row : kDedicatedRows) {
    if (!rowMatchesIgnoringLayout(row, side)) continue;
    knownPairing = true;
    if (row.layout != side.layout) continue;
    if (side.upsamplingMode == 0) return {dedicatedStoreRoutine(row.kernel), row.code};
    if (side.upsamplingMode == 1) return {storeMcuGeneralConverted, kOutputCodeNone};
    return kUnset;
  }
  return knownPairing ? Choice{storeMcuGeneralConverted, kOutputCodeNone} : kUnset;
}

Choice chooseSampledOnly(const PixelSide& side) {
  for (const DedicatedRow& row : kDedicatedRows) {
    if (!rowMatchesIgnoringLayout(row, side) || row.layout != side.layout) continue;
    if (side.upsamplingMode == 0) return {dedicatedStoreRoutine(row.kernel), row.code};
    if (side.upsamplingMode == 1) return {storeMcuGeneral, kOutputCodeNone};
    return kUnset;
  }
  const int32_t n = side.components, ch = side.channels;
  if ((n == 3 && (ch == 1 || ch == 3 || ch == 4)) || (n == 4 && (ch == 3 || ch == 4))) {
    return {storeMcuGeneral, kOutputCodeNone};
  }
  return kUnset;
}

Choice chooseConvertedOnly(const PixelSide& side) {
  for (const DedicatedRow& row : kDedicatedRows) {
    if (rowMatchesIgnoringLayout(row, side) && row.layout == side.layout) {
      return {dedicatedStoreRoutine(row.kernel), row.code};
    }
  }
  return kUnset;
}

bool copiesThroughGeneralRoutine(const PixelSide& side) {
  const int32_t n = side.components, ch = side.channels;
  const bool bgr = side.pixel == JpegColor::Bgr, cmyk = side.pixel == JpegColor::Cmyk;
  return (n == 1 && ch > 1) || n == 2 || (n == 3 && ch == 1) || (n == 3 && ch == 3 && bgr) ||
         (n == 3 && ch == 4 && !cmyk) || (n == 4 && ch == 3);
}

// Neither conversion nor sampling. The layout is H1V1 unless the pixels are YCbCr, which keep
// their subsampled layout: those go through the general routine (the 8x8 kernels would misplace
// them), except packed H2V1.
Choice chooseCopy(const PixelSide& side) {
  const bool subsampled = side.layout != JpegSubsampling::H1V1;
  for (const DedicatedRow& row : kDedicatedRows) {
    if (!rowMatchesIgnoringLayout(row, side)) continue;
    if (row.layout == side.layout) return {dedicatedStoreRoutine(row.kernel), row.code};
    if (subsampled) return {storeMcuGeneral, kOutputCodeNone};
  }
  if (!copiesThroughGeneralRoutine(side)) return kUnset;
  return {subsampled ? storeMcuGeneral : storeMcuCopy, kOutputCodeNone};
}

Choice chooseStoreRoutine(const JPEG_PROPERTIES& state, const FrameFactors& f) {
  if (scanIsSubset(state) && state.progressive == 0) {
    return {isPackedPixel(state) ? storeScanPacked : storeMcuGeneral, kOutputCodeNone};
  }
  const PixelSide side = {state.colorConversionNeeded != 0,
                          state.samplingNeeded != 0,
                          f.count,
                          state.pixelChannels,
                          state.pixelColor,
                          layoutOf(f),
                          state.upsamplingMode};
  if (side.conversion && side.sampling) return chooseConvertedSampled(side);
  if (side.sampling) return chooseSampledOnly(side);
  if (side.conversion) return chooseConvertedOnly(side);
  return chooseCopy(side);
}

bool conversionNeeded(const JPEG_PROPERTIES& state) {
  const JpegColor jpeg = state.jpegColor, pixel = state.pixelColor;
  if (jpeg == JpegColor::Rgb || jpeg == JpegColor::Gray || jpeg == JpegColor::Cmyk ||
      jpeg == JpegColor::Other) {
    return false;
  }
  return pixel != JpegColor::YCbCr && pixel != JpegColor::Gray;
}

bool samplingNeeded(const JPEG_PROPERTIES& state, const FrameFactors& f) {
  if (state.pixelColor == JpegColor::YCbCr) return false;
  return f.maxH != 1 || f.maxV != 1;
}

void setMcuGeometry(JPEG_PROPERTIES* state, const FrameFactors& f) {
  const bool singleComponentScan = f.count == 1 || (scanIsSubset(*state) && state->scan->componentCount == 1);
  state->mcuWidth = singleComponentScan ? 8 : 8 * f.maxH;
  state->mcuHeight = singleComponentScan ? 8 : 8 * f.maxV;
  state->mcusPerRow = static_cast<int32_t>(ceilDiv(state->imageWidth, 8 * f.maxH));
  state->mcuRows = static_cast<int32_t>(ceilDiv(state->imageHeight, 8 * f.maxV));
}

}  // namespace

// --- public entry points ------------------------------------------------------------------------

McuPlacement placeMcu(const JPEG_PROPERTIES& state, int32_t column, int32_t row, int32_t width,
                      int32_t height) {
  const int64_t x0 = int64_t{column} * width;
  const int64_t y0 = int64_t{row} * height;
  const int64_t bufferWidth = state.pixelWidth;
  const int64_t rows = bufferRows(state);
  int64_t left = 0, top = 0, right = 0, bottom = 0, dx = x0, dy = y0;
  if (!regionIsActive(state)) {
    right = std::min<int64_t>(width, bufferWidth - x0);
    bottom = std::min<int64_t>(height, rows - y0);
  } else {
    const int64_t l = state.regionOfInterest[0], t = state.regionOfInterest[1];
    const int64_t r = state.regionOfInterest[2], b = state.regionOfInterest[3];
    if (x0 >= r || x0 + width < l || y0 >= b || y0 + height < t)
      return {kOutsideRegion, nullptr, {0, 0, 0, 0}};
    dx = x0 - l;
    dy = y0 - t;
    left = std::max<int64_t>(l - x0, 0);
    top = std::max<int64_t>(t - y0, 0);
    right = std::min({int64_t{width}, r - x0, bufferWidth + l - x0});
    bottom = std::min({int64_t{height}, b - y0, rows + t - y0});
  }
  if (right <= left || bottom <= top) return {0, nullptr, {0, 0, 0, 0}};
  const ptrdiff_t offset = static_cast<ptrdiff_t>(dx * state.pixelChannels + dy * state.lineStride);
  return {0,
          state.pixelData + offset,
          {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
           static_cast<int32_t>(bottom)}};
}

bool storesStraightFromRing(const JPEG_PROPERTIES& state, int32_t blockSize, StraightFromRing* store) {
  // The choices storeMcuGeneralConverted and storeScaledMcu make before storeFancyYccDirect.
  const bool converted = blockSize == 8 ? state.input.kernels->storeMcu == storeMcuGeneralConverted
                                        : !isPackedPixel(state) && state.colorConversionNeeded != 0;
  if (!converted) return false;
  const GeneralMcu mcu = describeMcu(state, blockSize);
  if (mcu.count == 0 || !convertsStraightFromRing(state, mcu, &store->pixels)) return false;
  store->width = mcu.width;
  store->height = mcu.height;
  return true;
}

uint8_t* placeStraightMcu(const JPEG_PROPERTIES& state, const StraightFromRing& store, int32_t column,
                          int32_t row, PixelRect* rect) {
  const McuPlacement where = placeMcu(state, column, row, store.width, store.height);
  // Field by field: the compiler would otherwise gather the four values on the stack and copy
  // them with one wide load, which waits for the narrow stores and stalls every MCU.
  rect->left = where.rect.left;
  rect->top = where.rect.top;
  rect->right = where.rect.right;
  rect->bottom = where.rect.bottom;
  return where.destination;
}

bool isGeneralStoreRoutine(StoreMcuRoutine routine) {
  return routine == storeMcuGeneral || routine == storeMcuGeneralConverted || routine == storeScanPacked;
}

// What the general routine does for a grey frame's MCU of side n (a one-component MCU is one
// block, each sample one pixel), without describing the MCU each time.
int32_t storeGreyBlock(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t side) {
  const McuPlacement where = placeMcu(*state, column, row, side, side);
  if (where.destination == nullptr) return where.status;
  const ComponentSlot slot = {reinterpret_cast<const int16_t*>(state->scratch), 0, 1, 1, side, side, side};
  writeGreyRepeated(*state, slot, channelRules(*state), where.destination, where.rect);
  return 0;
}

int32_t storeMcuCopy(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  if (!isGreyIntoColours(*state)) return storeGeneral(state, column, row, 8, Placement::Channels, false);
  return storeGreyBlock(state, column, row, 8);
}

int32_t storeMcuGeneral(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  return storeGeneral(state, column, row, 8, Placement::Channels, false);
}

int32_t storeMcuGeneralConverted(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  return storeGeneral(state, column, row, 8, Placement::Channels, true);
}

int32_t storeScanPacked(JPEG_PROPERTIES* state, int32_t column, int32_t row) {
  return storeGeneral(state, column, row, 8, Placement::Packed, false);
}

StoreMcuRoutine dedicatedStoreRoutine(ConvertMcuKernel KernelTable::*kernel) {
  for (const DedicatedRoutine& entry : kDedicatedRoutines) {
    if (entry.kernel == kernel) return entry.routine;
  }
  return nullptr;
}

void storeScaledMcu(JPEG_PROPERTIES* state, int32_t column, int32_t row, int32_t blockSize) {
  if (blockSize != 1 && blockSize != 2 && blockSize != 4) return;
  if (storeScaledConverted(state, column, row, blockSize)) return;
  if (isGreyIntoColours(*state) && state->colorConversionNeeded == 0) {
    storeGreyBlock(state, column, row, blockSize);
    return;
  }
  const Placement placement = isPackedPixel(*state) ? Placement::Packed : Placement::Channels;
  storeGeneral(state, column, row, blockSize, placement, state->colorConversionNeeded != 0);
}

void runFinalConversion(JPEG_PROPERTIES* state) {
  if (state->colorConversionNeeded == 0 || state->pixelData == nullptr || state->blockPlanes != nullptr)
    return;
  int64_t width = std::max(state->pixelWidth, 0);
  int64_t height = bufferRows(*state);
  if (regionIsActive(*state)) {
    const int32_t* r = state->regionOfInterest;
    width = std::clamp<int64_t>(int64_t{r[2]} - r[0], 0, width);
    height = std::clamp<int64_t>(int64_t{r[3]} - r[1], 0, height);
  }
  const PixelRect all = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  convertStoredPixels(*state, state->pixelData, all, true);
}

JpegStatus runFrameSetUp(JPEG_PROPERTIES* state) {
  KernelTable* kernels = state->input.kernels;
  if (kernels == nullptr) return JpegStatus::InternalError;
  // Nothing a previous frame chose survives a failed set-up.
  kernels->storeMcu = nullptr;
  state->outputConversion = kOutputCodeNone;
  if (state->componentCount < 1 || state->componentCount > 4) return JpegStatus::ComponentError;
  const FrameFactors f = frameFactors(*state);
  if (!ratiosAreIntegers(f)) return JpegStatus::UnsupportedSubsampling;
  state->colorConversionNeeded = conversionNeeded(*state) ? 1 : 0;
  state->samplingNeeded = samplingNeeded(*state, f) ? 1 : 0;
  setMcuGeometry(state, f);

  if (state->pixelChannels < 1) return JpegStatus::InvalidProperties;
  if (f.count == 3 && state->jpegColor == JpegColor::YCbCr && state->pixelColor == JpegColor::YCbCr &&
      layoutOf(f) != JpegSubsampling::H2V1) {
    return JpegStatus::InvalidProperties;
  }
  const Choice choice = chooseStoreRoutine(*state, f);
  kernels->storeMcu = choice.routine;
  state->outputConversion = choice.code;
  // Reads into block planes store no pixels.
  if (choice.routine == nullptr && isImageReadMode(state->ioMode) && state->blockPlanes == nullptr) {
    return JpegStatus::InvalidProperties;
  }
  return JpegStatus::Ok;
}
