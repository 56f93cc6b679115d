// SSE2 twins of portable decoder kernels (codec/kernels/decode_kernels.h): same contracts,
// bit-identical results. The build compiles them on x86-64 only and then defines
// MESHWICK_HAS_SSE2_KERNELS.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_types.h"

namespace sse2 {

void idct0Full(int16_t* block);
void idct1Full(int16_t* block);
void idct1Half(int16_t* block);
void idct1Quarter(int16_t* block);
void idct0FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride);
void idct1FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride);

void dequantize0(int16_t* block, const int16_t* table);
void dequantize1(int16_t* block, const int16_t* table);

void copyGrayTo3(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH1V1ToRgb(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V1ToRgb(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V2ToRgb(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH1V1ToBgr(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V1ToBgr(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V2ToBgr(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH1V1ToRgbx(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V1ToRgbx(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V2ToRgbx(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH1V1YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V1YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V2YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);

// The whole-MCU converter of reduced scales (the portable one for shapes without a twin here).
void convertScaledYcc(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                      const ScaledMcuShape* shape);

}  // namespace sse2
