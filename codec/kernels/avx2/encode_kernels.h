// AVX2 twins of portable encoder kernels (codec/kernels/forward_dct.h, quantize.h,
// codec/encode/color_convert_encode.h, huffman_encode.h): same contracts, bit-identical results on every
// input. Built on x86-64 only, with -mavx2; called only where the processor runs AVX2.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_types.h"

namespace avx2 {

void fdct0(int16_t* block);
void fdct1(int16_t* block);

void quantize0(int16_t* block, const int16_t* reciprocals);
void quantize1(int16_t* block, const int16_t* reciprocals);

void convertRgbToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertRgbToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertRgbToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertBgrToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertBgrToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertBgrToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertRgbToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertBgrToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);

int32_t encodeMcuBlocks(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                        const int16_t* blocks);

}  // namespace avx2
