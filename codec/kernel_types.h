// Signatures of every kernel reached through the KernelTable.
// Kernels take only the data they transform; their contracts are written here once.
#pragma once

#include <cstddef>
#include <cstdint>

struct JPEG_PROPERTIES;
struct ByteInput;
struct HuffmanTable;

// 64 signed 16-bit values of one 8x8 block in natural row-major order: coefficients
// before a transform, samples after it. Every transform and (de)quantiser works in place.
using CoefficientBlock = int16_t[64];

// Rectangle local to one MCU or one 8x8 quadrant; right and bottom are exclusive.
struct PixelRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// --- decoder side -------------------------------------------------------------------------

// Dequantise in place with a 64-entry natural-order table (variant 0: AAN-prescaled steps).
using DequantizeKernel = void (*)(int16_t* block, const int16_t* table);

// Inverse transform in place; the samples 0..255 land in the top-left NxN corner (N = 8, 4,
// 2 or 1 by kernel), row stride stays 8.
using InverseDctKernel = void (*)(int16_t* block);

// Whole-MCU upsampling/colour conversion: `components` holds the address of the first block
// of each component in the McuSampleBuffer (frame order), `dst` the MCU's top-left pixel,
// `stride` the signed line stride in bytes.
using ConvertMcuKernel = void (*)(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride);

// One whole YCbCr MCU decoded at a reduced scale, as the converter reads it: `side` samples per
// luminance block side (4, 2 or 1), lumaAcross x lumaDown luminance blocks, and chroma samples
// each covering chromaRepeat pixels across (rows of 8 samples in every block).
struct ScaledMcuShape {
  int32_t side;
  int32_t lumaAcross;
  int32_t lumaDown;
  int32_t chromaRepeat;
  int32_t bgr;  // 1: B, G, R byte order; 0: R, G, B
};

// Converts such an MCU to 3-byte pixels (`components`: first Y block, Cb, Cr) with the rounding of
// the in-place conversion; each sample is read as its low byte.
using ConvertScaledMcuKernel = void (*)(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                                        const ScaledMcuShape* shape);

// Partial counterpart: same arithmetic, writes only the pixels inside `rect`.
using ConvertMcuPartialKernel = void (*)(const int16_t* const* components, uint8_t* dst, ptrdiff_t stride,
                                         const PixelRect& rect);

// Turns the decoded MCU at (column, row) into pixels. Returns 0, or a negative status when
// the MCU lies outside the region of interest (the decoder ignores it).
using StoreMcuRoutine = int32_t (*)(JPEG_PROPERTIES* state, int32_t column, int32_t row);

// Pixel layouts the interpolating row kernels write: three bytes R, G, B or B, G, R, or four
// bytes R, G, B, 255.
enum class FancyPixels : int32_t { Rgb, Bgr, Rgbx };

// The samples behind one output row of the interpolating upsampler. `luma` holds one sample per
// pixel. cb[0] and cr[0] point at the chroma sample serving pixels 0 and 1 in the chroma row
// nearest to the output row, cb[1] and cr[1] at the same column of the other row the vertical
// filter takes (read by the H2V2 kernels only). Each chroma row is read from index -1 to
// (width + 1) / 2: the caller supplies the neighbours, repeated at the image edge.
struct FancyRowSources {
  const uint8_t* luma;
  const uint8_t* cb[2];
  const uint8_t* cr[2];
};

// Triangle-filters the chroma of one row to full width (H2V1: across; H2V2: across and down)
// and converts `width` pixels with the rounding of the in-place conversion (gP), to `out`.
using FancyRowKernel = void (*)(const FancyRowSources& rows, int32_t width, FancyPixels pixels, uint8_t* out);

// Cuts the side x side samples at the top left of a transformed block (row stride 8) to their
// low bytes, into rows `stride` bytes apart (side 8, 4, 2 or 1).
using KeepBlockSamplesKernel = void (*)(const int16_t* block, int32_t side, uint8_t* out, ptrdiff_t stride);

// A full-size inverse transform whose eight rows of samples go as bytes into rows `stride` bytes
// apart at `out` (the bytes keepBlockSamples makes of the in-place transform); the block is
// left spent. Saves the round trip through the block when the samples are wanted as bytes.
using InverseDctToRowsKernel = void (*)(int16_t* block, uint8_t* out, ptrdiff_t stride);

// Huffman-decodes one block (DC difference added to *predictor) into a cleared natural-order
// block. Returns 0 (a marker met ends the block quietly) or a negative status.
using HuffmanDecodeBlockKernel = int32_t (*)(ByteInput* input, const HuffmanTable* dcTable,
                                             const HuffmanTable* acTable, int32_t* predictor, int16_t* block);

// One scan component as the MCU entropy decoder sees it.
struct McuEntropyComponent {
  const HuffmanTable* dcTable;
  const HuffmanTable* acTable;
  const int16_t* dequantTable;  // natural order, in the form of McuEntropyPlan::dequantVariant
  int32_t* predictor;
  int32_t blockCount;  // blocks per MCU
  int32_t dcOnly;      // 1: the AC codes are consumed without being stored (1/8-scale blocks)
};

// The blocks of one MCU, components in scan order.
struct McuEntropyPlan {
  int32_t componentCount;
  int32_t dequantVariant;  // 0: as dequantize0, 1: as dequantize1
  McuEntropyComponent components[4];
};

// Huffman-decodes and dequantises the blocks of one MCU into consecutive blocks from `blocks`:
// the same blocks, predictors and reader state as huffmanDecodeBlock (huffmanDecodeDcOnly for a
// dcOnly component) followed by the plan's dequantiser on each block. Returns 0 or a negative
// status (the blocks after a failing one are left as they were).
using HuffmanDecodeMcuKernel = int32_t (*)(ByteInput* input, const McuEntropyPlan* plan, int16_t* blocks);

// --- encoder side -------------------------------------------------------------------------

// Forward transform in place on level-shifted samples.
using ForwardDctKernel = void (*)(int16_t* block);

// Quantise in place with a prepared reciprocal table (variant 0 reads it signed, variant 1
// unsigned).
using QuantizeKernel = void (*)(int16_t* block, const int16_t* reciprocals);

// Converts the MCU at (column, row) of the caller's pixels into the scratch area's blocks.
using ConvertMcuRoutine = int32_t (*)(JPEG_PROPERTIES* state, int32_t column, int32_t row);

// Converts one whole tile starting at `src` into level-shifted blocks, in scratch order.
using EncodeConvertKernel = void (*)(const uint8_t* src, ptrdiff_t stride, int16_t* const* blocks);

// Starts the encoder's output in a memory area (ignored in file modes, which use the file buffer).
using InitOutputKernel = void (*)(ByteInput* writer, uint8_t* buffer, uint32_t size);

// Emits the pending bits (1-padded) then `count` raw bytes. Returns 0, -23 or -28.
using PutBytesKernel = int32_t (*)(const uint8_t* bytes, int32_t count, ByteInput* writer);

// Huffman-encodes one quantised natural-order block; *lastDc carries the DC predictor.
using EncodeBlockKernel = int32_t (*)(ByteInput* writer, const HuffmanTable* dcTable,
                                      const HuffmanTable* acTable, int32_t* lastDc, const int16_t* block);

// The tables and DC predictor of one block of an MCU.
struct McuBlockCoding {
  const HuffmanTable* dcTable;
  const HuffmanTable* acTable;
  int32_t* lastDc;
};

// Huffman-encodes `count` consecutive quantised blocks, block b with coding[b]: the bytes and
// writer state `count` encodeBlock calls would give.
using EncodeMcuBlocksKernel = int32_t (*)(ByteInput* writer, const McuBlockCoding* coding, int32_t count,
                                          const int16_t* blocks);

// Runs before every return of the top-level and scan-level operations.
using FinishKernelsKernel = void (*)();
