// Kernels of the interpolating upsampler (upsamplingMode 1): the copy of transformed blocks into
// its rows, and the triangle filter fused with the YCbCr conversion, one output row per call
// (contracts at KeepBlockSamplesKernel and FancyRowKernel). The SSE2 twins give the portable
// results on every input, and so do the AVX2 ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_types.h"

void upsampleFancyH2V1Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);
void upsampleFancyH2V2Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);
void keepBlockSamples(const int16_t* block, int32_t side, uint8_t* out, ptrdiff_t stride);

#if defined(__SSE2__)
namespace sse2 {
void upsampleFancyH2V1Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);
void upsampleFancyH2V2Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);
void keepBlockSamples(const int16_t* block, int32_t side, uint8_t* out, ptrdiff_t stride);
}  // namespace sse2
#endif

#if defined(MESHWICK_HAS_AVX2_KERNELS)
namespace avx2 {
void upsampleFancyH2V1Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);
void upsampleFancyH2V2Row(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);
}  // namespace avx2
#endif
