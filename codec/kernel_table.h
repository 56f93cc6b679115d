// The per-record table of kernel entry points, filled at jpegInit for the processor class found.
// Every inner loop of the decoder and encoder is reached only through it, so a processor-specific
// set can replace the portable one member by member (each variant gives bit-identical results).
#pragma once

#include <cstdint>

#include "codec/kernel_types.h"

// Processor classes; 0, 1 and 2 use the portable kernels.
enum class CpuClass : int32_t {
  Generic = 0,       // any other processor
  Family5 = 1,       // family 5 without MMX
  Family6 = 2,       // family 6 without a SIMD set the codec uses
  Family5Mmx = 3,    // family 5 with MMX
  Family6Mmx = 4,    // family 6 with MMX, without SSE
  Family6Sse = 5,    // family 6 with MMX and SSE
  Family15Sse2 = 6,  // family 15 with SSE2
};

inline constexpr int32_t kCpuClassCount = 7;

// 69 named members, in this order, then the internal kernels appended after them.
struct KernelTable {
  int32_t lastScanHeaderSize;  // 0: bytes of the last SOS segment read, marker included
  void* user32Module;          // 1..5: dynamically loaded system functions; null on this platform
  void* advapi32Module;
  void* regOpenKeyEx;
  void* regQueryValueEx;
  void* regCloseKey;
  FinishKernelsKernel finishKernels;  // 6: runs before every top-level and scan-level return
  ForwardDctKernel fdct0;             // 7
  ForwardDctKernel fdct1;             // 8
  InverseDctKernel idct0Full;         // 9
  InverseDctKernel idct0Half;         // 10
  InverseDctKernel idct0Quarter;      // 11
  InverseDctKernel idct0Eighth;       // 12
  InverseDctKernel idct1Full;         // 13
  InverseDctKernel idct1Half;         // 14
  InverseDctKernel idct1Quarter;      // 15
  InverseDctKernel idct1Eighth;       // 16
  ForwardDctKernel forwardDct;        // 17: null in every set; the encoder copies 7 or 8 here
  InverseDctKernel idctFull;          // 18..21: null in every set; each scan copies 9..12 or 13..16
  InverseDctKernel idctHalf;
  InverseDctKernel idctQuarter;
  InverseDctKernel idctEighth;
  InitOutputKernel initOutput;   // 22
  PutBytesKernel putBytes;       // 23
  ConvertMcuRoutine convertMcu;  // 24: null in every set; the encoder stores its converter here

  // 25..39: encoder colour conversion and downsampling, one whole tile each.
  EncodeConvertKernel levelShift1;
  EncodeConvertKernel convertRgbToH1V1;
  EncodeConvertKernel convertRgbToH2V1;
  EncodeConvertKernel convertRgbToH2V2;
  EncodeConvertKernel convertBgrToH1V1;
  EncodeConvertKernel convertBgrToH2V1;
  EncodeConvertKernel convertBgrToH2V2;
  EncodeConvertKernel levelShift3H1V1;
  EncodeConvertKernel levelShift3H2V1;
  EncodeConvertKernel levelShift3H2V2;
  EncodeConvertKernel unpackYCbCrH2V1;
  EncodeConvertKernel convertCmykToH1V1;
  EncodeConvertKernel convertCmykToH2V1K;
  EncodeConvertKernel convertCmykToH2V2K;
  EncodeConvertKernel levelShift4H1V1;

  StoreMcuRoutine storeMcu;  // 40: null in every set; the frame set-up stores the store routine

  // 41..59: decoder upsampling and colour conversion, one whole MCU each.
  ConvertMcuKernel copyGray;
  ConvertMcuKernel convertH1V1ToRgb;
  ConvertMcuKernel convertH2V1ToRgb;
  ConvertMcuKernel convertH2V2ToRgb;
  ConvertMcuKernel convertH1V1ToBgr;
  ConvertMcuKernel convertH2V1ToBgr;
  ConvertMcuKernel convertH2V2ToBgr;
  ConvertMcuKernel convertH1V1ToRgbx;
  ConvertMcuKernel convertH2V1ToRgbx;
  ConvertMcuKernel convertH2V2ToRgbx;
  ConvertMcuKernel copy3To3;
  ConvertMcuKernel upsampleH2V1Copy;
  ConvertMcuKernel upsampleH2V2Copy;
  ConvertMcuKernel copy3To4;
  ConvertMcuKernel packH2V1;
  ConvertMcuKernel convertH1V1YcckToCmyk;
  ConvertMcuKernel convertH2V1YcckToCmyk;
  ConvertMcuKernel convertH2V2YcckToCmyk;
  ConvertMcuKernel copy4To4;

  EncodeBlockKernel encodeBlock;                 // 60
  HuffmanDecodeBlockKernel huffmanDecodeBlock;   // 61
  HuffmanDecodeBlockKernel huffmanDecodeDcOnly;  // 62
  QuantizeKernel quantize0;                      // 63
  QuantizeKernel quantize1;                      // 64
  QuantizeKernel quantize;                       // 65: the encoder copies 63 or 64; sets preload 63
  DequantizeKernel dequantize0;                  // 66
  DequantizeKernel dequantize1;                  // 67
  DequantizeKernel dequantize;                   // 68: each scan copies 66 or 67; sets preload 66

  // Internal kernels without a named member, appended after the 69 named ones.
  FancyRowKernel upsampleFancyH2V1Row;      // one row of the interpolating upsampler, 2x1 chroma
  FancyRowKernel upsampleFancyH2V2Row;      // the same for 2x2 chroma
  KeepBlockSamplesKernel keepBlockSamples;  // a transformed block into the upsampler's rows
  EncodeConvertKernel convertRgbToGray;     // 8x8 RGB tile to one luma block
  EncodeConvertKernel convertBgrToGray;
  HuffmanDecodeMcuKernel huffmanDecodeMcu;  // the sequential decoder's blocks of one MCU, dequantised
  ConvertScaledMcuKernel convertScaledYcc;  // one whole YCbCr MCU at 1/2, 1/4 or 1/8 scale to RGB or BGR
  InverseDctToRowsKernel idct0FullToRows;   // 9 and 13 writing bytes straight into the upsampler's rows
  InverseDctToRowsKernel idct1FullToRows;
  EncodeMcuBlocksKernel encodeMcuBlocks;  // the baseline encoder's quantised blocks of one MCU
  ConvertMcuKernel copyGrayTo3;           // a grey block repeated into 3-byte pixels
};
