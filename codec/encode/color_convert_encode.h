// Encoder colour conversion and downsampling: one MCU of the caller's pixels into
// level-shifted 8x8 blocks of the JPEG components, in the scratch area of the record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/jpeg.h"

// Whole-tile kernels (KernelTable members 25..39 and the appended grey converters). Each reads one tile at
// `src` with the signed line stride `stride` and writes level-shifted samples (-128..128) into the blocks
// listed in scratch order. Y0..Y3 (K0..K3) are the top-left, top-right, bottom-left and
// bottom-right quarters of a 16x16 tile; Y0, Y1 the halves of a 16x8 tile. Chroma of
// subsampled layouts is converted once from the summed RGB (or CMY) values it covers.
void levelShift1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);       // 8x8: 1 block
void convertRgbToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);  // 8x8: Y Cb Cr
void convertRgbToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);  // 16x8: Y0 Y1 Cb Cr
void convertRgbToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);  // 16x16: Y0..Y3 Cb Cr
void convertBgrToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);  // as Rgb, bytes B G R
void convertBgrToH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void convertBgrToH2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);
void levelShift3H1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);    // 8x8: 3 blocks
void levelShift3H2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);    // 16x8: 4 blocks
void levelShift3H2V2(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);    // 16x16: 6 blocks
void unpackYCbCrH2V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);    // packed Y Cb Y Cr
void convertCmykToH1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);  // 8x8: Y Cb Cr K
void convertCmykToH2V1K(const uint8_t* src, ptrdiff_t stride,
                        int16_t* const* blocks);  // 16x8: Y0 Y1 Cb Cr K0 K1
void convertCmykToH2V2K(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);  // 16x16: + K0..K3
void levelShift4H1V1(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);     // 8x8: 4 blocks
void convertRgbToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);    // 8x8: Y only
void convertBgrToGray(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);

// Layout codes stored in the output-conversion selector of `state` (0 where none applies).
enum class EncodeLayoutCode : int32_t {
  None = 0,
  RgbH1V1 = 1,
  BgrH1V1 = 2,
  RgbH2V2 = 3,
  BgrH2V2 = 4,
  RgbH2V1 = 5,
  BgrH2V1 = 6,
  CmykH1V1 = 10,
  CmykH2V2K = 11,
  CmykH2V1K = 12,
  Shift4H1V1 = 14,
  Shift3H1V1 = 15,
  Shift3H2V2 = 16,
  Shift3H2V1 = 17,
  PackedH2V1 = 18,
  Shift1 = 20,
};

// Chooses the convertMcu routine for the write's layouts (frame geometry, colour-conversion
// and sampling flags already set in `state`) and stores the layout code. ComponentError when
// conversion and sampling are both needed with a component count outside 1..255;
// InvalidProperties for a non-interleaved write of several components (each scan of this
// encoder holds every component) or pixels no routine can read.
JpegStatus chooseMcuConverter(JPEG_PROPERTIES* state);
