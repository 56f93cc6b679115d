// The portable decoder kernels: dequantisation, inverse DCTs, and the MCU upsampling and colour
// conversion kernels with their partial counterparts. Processor-specific twins must give
// bit-identical results; fillKernelTable stores these in the portable set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_types.h"

// --- dequantisation tables ------------------------------------------------------------------

// Storage of one dequantisation table: entries 0..63 hold the converted table in natural order,
// entries 64..79 are zero.
inline constexpr int kDequantTableEntries = 80;

// P(u,v) = a(u)·a(v)/8 rounded to six decimals, a(0) = 1, a(k) = sqrt(2)·cos(k·pi/16); index 8u + v.
extern const double idctPrescale[64];

// Table forms: which dequantiser a converted table is meant for.
inline constexpr int32_t kDequantFormPrescaled = 0;  // variant 0, AAN factors folded in
inline constexpr int32_t kDequantFormPlain = 1;      // variant 1, plain steps

// Converts the 64 steps just read into entries 0..63 (zig-zag order, 8- or 16-bit precision; a
// 16-bit step above 32767 arrives as a negative int16_t and is read back as unsigned) and zeroes
// entries 64..79. dctVariant 1 only reorders; any other value pre-scales by q·P·2048 rounded.
// Pre-scaled entries are read back as unsigned 16-bit, so steps up to 65535 after scaling are
// exact. A table with a larger scaled step (e.g. step 134 or more at (1,1)) cannot be dequantised
// correctly by dequantize0; it is then left in plain form instead. Returns the form the table holds.
int32_t prepareDequantTable(int16_t* table, int32_t dctVariant);

// Brings the tables of one decode to a common form before the scan: the form of dctVariant (1 →
// plain, anything else → pre-scaled) when every table can hold it, else plain for all. Converts
// the tables whose form differs (both conversions are exact) and updates forms[]. Returns the
// dctVariant the decode must use (0 or 1) for its dequantiser and inverse transforms.
int32_t settleDequantVariant(int16_t* const* tables, int32_t* forms, int32_t count, int32_t dctVariant);

// --- dequantisation and inverse transforms (in place on one CoefficientBlock) -----------------

void dequantize0(int16_t* block, const int16_t* table);
void dequantize1(int16_t* block, const int16_t* table);

void idct0Full(int16_t* block);
void idct0Half(int16_t* block);
void idct0Quarter(int16_t* block);
void idct0Eighth(int16_t* block);
void idct1Full(int16_t* block);
void idct1Half(int16_t* block);
void idct1Quarter(int16_t* block);
void idct1Eighth(int16_t* block);

// idct0Full and idct1Full with their samples as bytes in rows (contract at InverseDctToRowsKernel).
void idct0FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride);
void idct1FullToRows(int16_t* block, uint8_t* out, ptrdiff_t stride);

// --- MCU conversion kernels -------------------------------------------------------------------
// Whole-MCU kernels convert an 8x8 (H1V1), 16x8 (H2V1) or 16x16 (H2V2) MCU. components[i] is the
// first block of component i; a component's blocks follow each other (raster order).
//
// Partial kernels convert one 8x8 quadrant and write only the pixels inside `rect` (quadrant-local,
// within 0..8): components[0] (and components[3] for YCCK) is the quadrant's own block, the chroma
// pointers are already advanced to the quadrant's chroma corner (column 4 for a right quadrant,
// row 4 for a lower one; row stride stays 8), dst is the quadrant's top-left pixel.

void copyGray(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
// A grey block as 3-byte pixels, the sample's low byte in all three.
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
void copy3To3(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void upsampleH2V1Copy(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void upsampleH2V2Copy(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void copy3To4(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void packH2V1(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH1V1YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V1YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void convertH2V2YcckToCmyk(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);
void copy4To4(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);

void copyGrayPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect);
void convertH1V1ToRgbPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void convertH2V1ToRgbPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void convertH2V2ToRgbPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void convertH1V1ToBgrPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void convertH2V1ToBgrPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void convertH2V2ToBgrPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void convertH1V1ToRgbxPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                              const PixelRect& rect);
void convertH2V1ToRgbxPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                              const PixelRect& rect);
void convertH2V2ToRgbxPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                              const PixelRect& rect);
void copy3To3Partial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect);
void upsampleH2V1CopyPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void upsampleH2V2CopyPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                             const PixelRect& rect);
void copy3To4Partial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect);
void packH2V1Partial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect);
void convertH1V1YcckToCmykPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                                  const PixelRect& rect);
void convertH2V1YcckToCmykPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                                  const PixelRect& rect);
void convertH2V2YcckToCmykPartial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                                  const PixelRect& rect);
void copy4To4Partial(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride, const PixelRect& rect);

// --- reduced-scale conversion -----------------------------------------------------------------

// ConvertScaledMcuKernel: pixel (x, y) takes luminance sample (x mod side, y mod side) of block
// (x / side, y / side) and chroma sample (x / chromaRepeat, y); side and chromaRepeat are powers
// of two.
void convertScaledYcc(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                      const ScaledMcuShape* shape);
