// Caller-facing interface of the Meshwick JPEG codec: the caller-owned record, its working
// state, the enumerations stored in them, the status codes and the six operations.
//
// Usage: zero a JPEG_CODEC_PROPERTIES, jpegInit, fill the public fields, any number of
// jpegRead / jpegWrite calls, jpegFree. All state lives in the record; the codec owns what
// jpegInit and the decoder allocate (kernel table, component table, scan records, coefficient
// buffers, the open file) until jpegFree.
#pragma once

#include <cstddef>
#include <cstdint>

struct KernelTable;
struct FrameGeometry;  // decoder-internal (codec/decode/frame_geometry.h)

// --- enumerations ---------------------------------------------------------------------------

// Even values use the file named by jpegFileName, odd values the memory buffer jpegBuffer.
enum class JpegIoMode : int32_t {
  FileReadParams = 0,
  BufferReadParams = 1,
  FileReadImage = 2,
  BufferReadImage = 3,
  FileReadTables = 4,
  BufferReadTables = 5,
  FileReadImageNoTables = 6,
  BufferReadImageNoTables = 7,
  FileWriteImage = 8,
  BufferWriteImage = 9,
  FileWriteTables = 10,
  BufferWriteTables = 11,
  FileWriteImageNoTables = 12,
  BufferWriteImageNoTables = 13,
  FileReadHalf = 14,
  BufferReadHalf = 15,
  FileReadQuarter = 16,
  BufferReadQuarter = 17,
  FileReadEighth = 18,
  BufferReadEighth = 19,
  FileReadThumbnail = 20,
  BufferReadThumbnail = 21,
};

// 0 success, 1 and 2 partial successes, negative values errors. jpegErrorString gives the text.
enum class JpegStatus : int32_t {
  Ok = 0,
  InterruptOk = 1,
  RoiOk = 2,
  ExceptionDetected = -1,
  InvalidEncoder = -2,
  UnsupportedSubsampling = -3,
  UnsupportedBytesPerPixel = -4,
  MemoryError = -5,
  BadHuffmanTable = -6,
  BadQuantTable = -7,
  InvalidProperties = -8,
  CloseFileError = -9,
  InvalidFileName = -10,
  EofError = -11,
  NotSupported = -12,
  NotJpeg = -13,
  ComponentError = -14,
  SofError = -15,
  DnlError = -16,
  NoHuffmanTable = -17,
  NoQuantTable = -18,
  NoFrame = -19,
  MultipleFrames = -20,
  DataError = -21,
  NoImage = -22,
  FileError = -23,
  InternalError = -24,
  BadRstMarker = -25,
  ThumbnailTooSmall = -26,
  ThumbnailWrongColor = -27,
  OutputBufferTooSmall = -28,
  UnsupportedFrame = -29,
  CommentBufferError = -30,
  Reserved = -99,
};

enum class JpegColor : int32_t {
  Rgb = 1,  // bytes R, G, B
  Bgr = 2,  // bytes B, G, R
  YCbCr = 3,
  Gray = 4,
  Cmyk = 5,
  Ycck = 6,
  Other = 255,  // no conversion; channels passed through
};

// Sampling factors (horizontal x vertical) of the components, first component first.
enum class JpegSubsampling : int32_t {
  H1V1 = 0,    // every component 1x1
  H2V2 = 1,    // 2x2, 1x1, 1x1
  H2V1 = 2,    // 2x1, 1x1, 1x1
  H2V2K = 3,   // 2x2, 1x1, 1x1, 2x2
  H2V1K = 4,   // 2x1, 1x1, 1x1, 2x1
  Other = 255  // any other layout (read side only)
};

// --- tables ---------------------------------------------------------------------------------

// One lookahead entry: the symbol of the code of length <= 8 that an 8-bit prefix starts with,
// and that length; both 0 when the code is longer than 8 bits.
struct HuffmanLookahead {
  uint16_t symbol;
  uint16_t length;
};

// A derived Huffman table. The decoder fills the decoding form (8-bit lookahead plus the
// canonical search arrays); the encoder fills the encoding form (code and length per symbol)
// of the same record. A record is used in one form at a time.
struct HuffmanTable {
  int32_t tableClass;  // 0 = DC, 1 = AC
  int32_t tableId;     // 0..3

  // Decoding form.
  HuffmanLookahead lookahead[256];
  uint16_t values[257];   // symbols in code order
  uint16_t minCode[17];   // [l]: first code of length l
  int32_t maxCode[18];    // [l]: last code of length l, -1 when none; [17] = -1
  uint16_t valuePtr[17];  // [l]: index in values of the first symbol of length l

  // Encoding form.
  int32_t codeLength[256];  // per symbol, 0 = no code
  uint16_t code[256];       // per symbol, right-aligned

  // Decoding form, the block decoders' own: for every 10-bit prefix that holds a whole code and
  // its extra bits, the packed entry of decode/huffman_table.h (kEntrySizeZero); 0 for any other
  // prefix (and in a table never derived).
  uint32_t valueLookahead[1024];
};

// A table as carried in a DHT segment: 16 code-length counts and the symbol values.
struct HuffmanSpec {
  uint8_t* counts;  // 16 entries, codes of length 1..16
  uint8_t* values;  // up to 256 symbols
  int32_t tableClass;
  int32_t tableId;
};

// A caller-supplied quantisation table: 64 steps in zig-zag order.
struct QuantSpec {
  uint8_t* values;
  int32_t tableId;
};

// Dequantisation (read side) or working/prepared quantisation (write side) table.
// `values` points at `storage`; entries 64..79 are padding the kernels may read.
struct QuantTable {
  int32_t precision;  // Pq as read
  int32_t tableId;
  int16_t* values;
  alignas(8) int16_t storage[80];
  int32_t dequantForm;  // read side: the form prepareDequantTable left the table in
};

// One frame component (four of them in the component table).
struct JpegComponent {
  int32_t componentId;
  int32_t horizontalFactor;
  int32_t verticalFactor;
  int32_t quantSelector;
};

// One component of a scan being read or written.
struct ScanComponent {
  int32_t componentIndex;  // index in the frame's component table
  int32_t horizontalFactor;
  int32_t verticalFactor;
  HuffmanTable* dcTable;
  HuffmanTable* acTable;
  QuantTable* quantTable;  // read side
};

// One scan being read or written; kept in `state` while a call is interrupted.
struct ScanRecord {
  int32_t componentCount;
  int32_t spectralStart;    // Ss
  int32_t spectralEnd;      // Se
  int32_t approxHigh;       // Ah
  int32_t approxLow;        // Al
  int32_t restartInterval;  // read side: the interval in force for this scan
  int32_t restartCounter;   // write side: MCUs since the counter last wrapped
  int32_t resumeColumn;
  int32_t resumeRow;
  int32_t lastDc[4];  // DC predictor of each scan component
  ScanComponent* components;
};

// Optional caller planes (reachable through useStateAsIs). `mode` nonzero: the planes hold
// samples 0..255; zero: quantised coefficients. Plane of component c: (MCUs per row * h * 8)
// values wide, (MCU rows * v * 8) rows high; block (x, y) of MCU (col, row) starts at row
// (row * v + y) * 8, column (col * h + x) * 8.
struct JpegBlockPlanes {
  int32_t mode;
  int16_t* planes[4];
};

// --- byte input / output --------------------------------------------------------------------

inline constexpr int32_t kJpegFileBufferSize = 4096;

// The decoder's byte and bit input; on the write side the encoder's output writer.
// Write-side meaning of the shared members: `bits` low byte = pending byte, `bitCount` = free
// bits of the pending byte (8 = empty), `consumed` = bytes produced, `available` = bytes left,
// `currentRow` = running pixel address of the next MCU.
struct ByteInput {
  uint64_t bits;  // 64-bit accumulator, newest byte in the lowest bits
  KernelTable* kernels;
  int32_t bitCount;    // valid bits in the accumulator
  uint8_t* current;    // next unread byte
  uint8_t* start;      // first byte of the memory buffer (memory modes)
  uint8_t* end;        // one past the last available byte
  uint32_t consumed;   // bytes taken since the reset
  uint32_t size;       // size of the memory buffer
  uint32_t available;  // bytes between current and end
  int32_t eobRun;      // progressive end-of-band run
  uint8_t* currentRow;
  uint8_t pendingMarker;  // marker met by the bit reader, 0 = none
  int32_t cpuClass;
  int32_t componentsDone;
  intptr_t file;  // 0 = no file; otherwise the open file's handle (codec/file_io.h)
  uint8_t fileBuffer[kJpegFileBufferSize];
};

// --- the working record ---------------------------------------------------------------------

// Bytes of the MCU scratch area: room for 64 blocks of 64 16-bit values (any sampling factors
// 1..4 with four components) plus per-component upsampling planes, and 32 bytes of alignment.
inline constexpr int32_t kJpegScratchBytes = 64 * 128 + 4 * 32 * 32 * 2 + 32;

struct JPEG_PROPERTIES {
  // 1. Call.
  int32_t ioMode;                     // JpegIoMode of the current call; -1 after jpegInit
  int32_t regionOfInterest[4];        // left, top, right, bottom in pixels; all 0 = whole image
  int32_t dctVariant;                 // 0 or 1 (default 1)
  int32_t outputConversion;           // output-conversion selector set by the frame set-up
  volatile int32_t interruptRequest;  // nonzero: stop after the current MCU, return 1

  // 2. Mirror of the public fields used during a call.
  uint8_t* pixelData;  // working address: row 0 of the image
  int32_t pixelWidth;
  int32_t pixelHeight;
  int32_t pixelPadBytes;
  int32_t pixelChannels;
  JpegColor pixelColor;
  int32_t pixelSubsampling;
  int32_t lineStride;  // signed: negative for bottom-up buffers
  const char* jpegFileName;
  uint8_t* jpegBuffer;
  int32_t jpegBufferSize;
  int32_t jpegWidth;
  int32_t jpegHeight;
  int32_t jpegChannels;
  JpegColor jpegColor;
  JpegSubsampling jpegSubsampling;
  int32_t thumbWidth;
  int32_t thumbHeight;
  int32_t colorConversionNeeded;
  int32_t samplingNeeded;
  int32_t quality;

  // 3. Scan geometry.
  int32_t nonInterleaved;  // current scan holds a single component
  int32_t mcusPerRow;
  int32_t mcuRows;

  // 4. Table counts and quantisation tables.
  int32_t quantTablesRead;    // saturating at 4
  int32_t quantTableCount;    // highest identifier read + 1; write side: tables to write
  int32_t acTablesRead;       // saturating at 4
  int32_t dcTablesRead;       // saturating at 4
  int32_t huffmanTableCount;  // highest identifier read + 1; write side: table pairs to write
  QuantTable quantTables[4];

  // 5. Derived Huffman tables by identifier.
  HuffmanTable acTables[4];
  HuffmanTable dcTables[4];

  // 6. Encoder table references and caller-supplied tables.
  int16_t* encoderQuantTables[4];  // prepared table of each quantisation selector
  HuffmanTable* encoderAcTables[4];
  HuffmanTable* encoderDcTables[4];
  int32_t quantTablesSupplied;
  int32_t huffmanTablesSupplied;
  QuantSpec quantSpecs[4];
  HuffmanSpec huffmanSpecs[8];  // index 2 * identifier + class on the read side

  // 7. Per-component table selectors (defaults 0, 1, 1, 1).
  int32_t dcSelectors[4];
  int32_t acSelectors[4];

  // 8. Frame header.
  int32_t precision;  // 8
  int32_t imageWidth;
  int32_t imageHeight;
  int32_t mcuHeight;  // pixels
  int32_t mcuWidth;   // pixels
  int32_t maxHorizontalFactor;
  int32_t maxVerticalFactor;
  int32_t componentCount;  // 4 after jpegInit
  int32_t frameMcusPerRow;
  int32_t totalMcus;
  JpegComponent* components;  // four entries, owned by the record

  // 9. Restart interval, progressive counters, frame and scan in progress.
  int32_t restartInterval;  // MCUs, 0 = none
  int32_t finishedDcCount;  // progressive: sum of Ns over DC scans with Al = 0
  int32_t finishedAcCount;  // progressive: AC scans with Se = 63 and Al = 0
  int32_t noFrameYet;
  ScanRecord* scan;  // scan in progress, null when none

  // 10. Byte input / output.
  ByteInput input;

  // 11. Adobe, scratch, planes, progressive, upsampling, JFIF, comment.
  int32_t adobeSeen;
  int32_t adobeTransform;
  uint8_t* scratch;  // 32-byte-aligned address inside scratchStorage
  JpegBlockPlanes* blockPlanes;
  int32_t progressive;  // progressive scan count, 0 = sequential; write side: nonzero selects it
  int16_t* coefficientBuffer;
  int32_t coefficientBufferBlocks;  // blocks the buffer was sized for
  int32_t upsamplingMode;           // 0 replicate, 1 triangle filter
  int16_t* upsamplingRows;          // working rows of upsamplingMode 1
  int32_t adobeVersion;             // default 100
  int32_t adobeFlags0;
  int32_t adobeFlags1;
  int32_t jfifSeen;
  int32_t jfifVersion;  // default 0x0101
  int32_t densityUnit;
  int32_t xDensity;  // default 1
  int32_t yDensity;  // default 1
  uint8_t* commentBuffer;
  uint16_t commentLength;  // capacity on entry to a read, length of the comment after it

  // Working storage and bookkeeping beyond the groups above.
  ScanRecord* scanScript;  // encoder: progressive scan script during a write
  int32_t scanScriptCount;
  void* restartIndex;            // region decoding: restart positions
  int32_t definedQuantTables;    // read side: bit t = quantisation table t defined
  int32_t definedHuffmanTables;  // read side: bit t = DC table t, bit 4 + t = AC table t defined
  int32_t regionIsProgress;      // regionOfInterest holds an interrupted decode's progress
  int64_t inputBaseOffset;       // file offset at which the current read began
  int64_t lastScanStart;         // consumed-byte count at the last SOS marker of the read, -1 none
  int32_t frameMarker;           // marker code of the last frame header read (0xC0, 0xC1, 0xC2)
  FrameGeometry* frameGeometry;  // read side: derived from the last frame header; owned by the record
  uint8_t scratchStorage[kJpegScratchBytes];
};

// --- the caller's record --------------------------------------------------------------------

struct JPEG_CODEC_PROPERTIES {
  int32_t useStateAsIs;  // nonzero: skip validation and do not copy the fields below
  uint8_t* pixelData;    // first byte of the first row in memory
  int32_t pixelWidth;
  int32_t pixelHeight;  // negative: rows bottom-up in memory
  int32_t pixelPadBytes;
  int32_t pixelChannels;     // bytes per pixel (default 3)
  JpegColor pixelColor;      // default Bgr
  int32_t pixelSubsampling;  // 0, or 2 = packed YCbCr 4:2:2
  const char* jpegFileName;
  uint8_t* jpegBuffer;
  int32_t jpegBufferSize;  // after a write: bytes produced
  int32_t jpegWidth;
  int32_t jpegHeight;
  int32_t jpegChannels;             // default 3
  JpegColor jpegColor;              // default YCbCr
  JpegSubsampling jpegSubsampling;  // default H2V2
  int32_t thumbWidth;
  int32_t thumbHeight;
  int32_t colorConversionNeeded;  // default 1
  int32_t samplingNeeded;         // default 1
  int32_t quality;                // default 75
  JPEG_PROPERTIES state;
};

struct JpegVersion {
  int32_t major;
  int32_t minor;
  int32_t build;
  const char* libraryName;
  const char* version;
  const char* internalVersion;
  const char* buildDate;
  const char* buildTool;
  int32_t reservedValue;  // 1000
};

// --- operations -----------------------------------------------------------------------------

// Initialise a zeroed record. 0, or MemoryError (nothing stays allocated then).
JpegStatus jpegInit(JPEG_CODEC_PROPERTIES* properties);

// Decode according to a read mode (0..7, 14..21).
JpegStatus jpegRead(JPEG_CODEC_PROPERTIES* properties, JpegIoMode mode);

// Encode according to a write mode (8..13).
JpegStatus jpegWrite(JPEG_CODEC_PROPERTIES* properties, JpegIoMode mode);

// Release what the record owns; the record must be initialised again before reuse.
JpegStatus jpegFree(JPEG_CODEC_PROPERTIES* properties);

// Fixed English text of a status; "Unknown error code" for values without one.
const char* jpegErrorString(int32_t status);
inline const char* jpegErrorString(JpegStatus status) {
  return jpegErrorString(static_cast<int32_t>(status));
}

const JpegVersion* jpegGetVersion();
