// One scan of a progressive stream (ITU T.81 G.1.2, Huffman coding): the walk over the
// coefficient buffer, and the symbol decisions of the four scan kinds (DC first, DC
// refinement, AC first, AC refinement) with end-of-band runs and correction bits. The same
// walk serves the statistics pass, which counts symbols, and the pass that writes them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/encode/optimal_huffman.h"
#include "codec/jpeg.h"

inline constexpr int32_t kMaxEndOfBandRun = 32767;
inline constexpr int32_t kCorrectionBitCapacity = 1000;
// A block adds at most 63 correction bits: past this many the run is emitted before the
// buffer could overflow.
inline constexpr int32_t kMaxBufferedCorrectionBits = kCorrectionBitCapacity - 63;

// Where the blocks of each component lie in the coefficient buffer, and the block grid a
// single-component scan walks. Each block holds its 64 coefficients in zig-zag order.
struct CoefficientLayout {
  const int16_t* buffer;
  int32_t blocksPerMcu;
  int32_t mcusPerRow;
  int32_t mcuRows;
  int32_t restartInterval;     // MCUs of the scan (blocks in single-component scans), 0 = none
  int32_t componentOffset[4];  // first block of the component within an MCU
  int32_t horizontalFactor[4];
  int32_t verticalFactor[4];
  int32_t blockColumns[4];  // blocks of the component's own grid that hold image data
  int32_t blockRows[4];
};

// Copies `blocks` blocks of coefficients in natural order into zig-zag order.
void storeZigzagBlocks(const int16_t* natural, int32_t blocks, int16_t* zigzag);

// The layout of `state`'s frame over `buffer`.
CoefficientLayout coefficientLayout(const JPEG_PROPERTIES* state, const int16_t* buffer);

// Symbol counts per Huffman table identifier; a DC scan counts in the tables of its
// components' DC selectors, an AC scan in the table of its component's AC selector.
struct SymbolFrequencies {
  uint32_t table[4][kFrequencySymbols];
};

// Refinement bits waiting for the end-of-band run they belong to, one bit per byte.
struct CorrectionBits {
  uint8_t bits[kCorrectionBitCapacity];
  int32_t buffered;
};

// The statistics pass's decisions kept for the writing pass, so that it need not read the
// band again: one 32-bit entry per symbol with its extra bits, bit field or marker, in order.
// The entries live in chunks taken as the scan needs them and kept for the next scan; a scan
// that would pass `limit` entries, or finds no memory for a chunk, is not kept (`complete()`
// false) and the writing pass walks the coefficients itself.
class ScanRecording {
 public:
  static constexpr size_t kChunkEntries = size_t{1} << 18;

  explicit ScanRecording(size_t limit = SIZE_MAX, size_t chunkEntries = kChunkEntries)
      : limit_(limit), chunkEntries_(chunkEntries > 0 ? chunkEntries : 1) {}
  ~ScanRecording();
  ScanRecording(const ScanRecording&) = delete;
  ScanRecording& operator=(const ScanRecording&) = delete;

  // Empties the recording for a new scan, keeping its chunks.
  void start();
  // Drops what was kept: the writing pass then walks the coefficients.
  void abandon() { complete_ = false; }

  void keep(uint32_t entry) {
    if (cursor_ == end_ && !nextChunk()) return;
    *cursor_++ = entry;
  }

  bool complete() const { return complete_; }
  size_t count() const;

  // Hands every kept run of entries to `visit`, first to last, until one fails.
  template <typename Visit>
  JpegStatus forEachRun(Visit&& visit) const {
    for (const Chunk* chunk = first_; chunk != nullptr; chunk = chunk->next) {
      const bool last = chunk == current_;
      const size_t count = last ? static_cast<size_t>(cursor_ - chunk->entries) : chunkEntries_;
      const JpegStatus status = visit(static_cast<const uint32_t*>(chunk->entries), count);
      if (last || status != JpegStatus::Ok) return status;
    }
    return JpegStatus::Ok;
  }

 private:
  struct Chunk {
    Chunk* next;
    uint32_t* entries;
  };
  // Moves the cursor into the next chunk, taking one when there is none; false (and the
  // recording incomplete) past the limit or without memory.
  bool nextChunk();
  Chunk* newChunk() const;

  size_t limit_;
  size_t chunkEntries_;
  Chunk* first_ = nullptr;
  Chunk* current_ = nullptr;
  uint32_t* cursor_ = nullptr;
  uint32_t* end_ = nullptr;
  size_t chunksBefore_ = 0;  // full chunks before current_
  bool complete_ = false;
};

// The statistics pass: every symbol the scan will write, counted per table. The scan's
// table identifiers come from its ScanComponent entries' selectors in `state` (0..3, checked
// by the caller).
// With `recording`, the decisions are kept there too.
void countScanSymbols(const JPEG_PROPERTIES* state, const CoefficientLayout& layout, const ScanRecord* scan,
                      SymbolFrequencies* frequencies, ScanRecording* recording = nullptr);

// Writes the scan's entropy-coded data with the encoding tables of its ScanComponent entries
// (DC scans: dcTable of every component, none for refinement; AC scans: acTable), restart
// markers every restartInterval units, then pads the last byte with 1-bits.
// A complete `recording` of the scan's statistics pass is written as kept instead.
JpegStatus encodeScan(ByteInput* writer, const CoefficientLayout& layout, const ScanRecord* scan,
                      CorrectionBits* correction, const ScanRecording* recording = nullptr);
