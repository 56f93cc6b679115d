#include "codec/encode/progressive_scan.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/encode/huffman_encode.h"
#include "codec/encode/output_writer.h"
#include "codec/int_math.h"
#include "codec/kernel_table.h"
#include "codec/kernels/quantize.h"
#include "codec/marker_codes.h"

namespace {

constexpr int32_t kZeroRunLength = 0xF0;
constexpr int32_t kMaxScanComponents = 4;
constexpr int32_t kBitsPerPut = 16;
constexpr int32_t kBlocksAhead = 8;

// The low `count` (0..16) bits.
constexpr uint32_t lowBits(int32_t count) {
  return (uint32_t{1} << count) - 1u;
}

// Bit k set where flags[k] (0 or 1) is 1: eight flags at a time, each byte's flag carried by
// one product into the top byte.
uint64_t packFlags(const uint8_t* flags) {
  uint64_t mask = 0;
  for (int32_t group = 0; group < 8; ++group) {
    uint64_t word = 0;
    for (int32_t b = 0; b < 8; ++b) word |= uint64_t{flags[group * 8 + b]} << (8 * b);
    mask |= (word * 0x0102040810204080u) >> 56 << (8 * group);
  }
  return mask;
}

bool isDcScan(const ScanRecord& scan) {
  return scan.spectralStart == 0 && scan.spectralEnd == 0;
}

// --- sinks: what a symbol decision turns into -------------------------------------------------

// Every sink takes a Huffman symbol together with the extra bits that follow it (`value` holds
// only the low `count` bits), bare bit fields and restart markers.

// The statistics pass: counts symbols, drops bits and markers.
class CountingSink {
 public:
  CountingSink(const JPEG_PROPERTIES* state, const ScanRecord& scan, SymbolFrequencies* frequencies)
      : frequencies_(frequencies) {
    for (int32_t j = 0; j < scan.componentCount; ++j) {
      const int32_t index = scan.components[j].componentIndex;
      dcTable_[j] = state->dcSelectors[index];
      acTable_[j] = state->acSelectors[index];
    }
  }
  // DC symbols are their bit count.
  JpegStatus dcCoded(int32_t j, uint32_t, int32_t count) {
    ++frequencies_->table[dcTable_[j]][count & 0xFF];
    return JpegStatus::Ok;
  }
  JpegStatus acCoded(int32_t symbol, uint32_t, int32_t) {
    ++frequencies_->table[acTable_[0]][symbol & 0xFF];
    return JpegStatus::Ok;
  }
  JpegStatus bits(uint32_t, int32_t) { return JpegStatus::Ok; }
  JpegStatus restartMarker(int32_t) { return JpegStatus::Ok; }

 private:
  SymbolFrequencies* frequencies_;
  int32_t dcTable_[kMaxScanComponents] = {};
  int32_t acTable_[kMaxScanComponents] = {};
};

// Entry layout: bits 30-31 the kind, bits 16-20 the extra bit count (at most 16), bits 0-15
// their value; a DC symbol keeps its scan component in bits 21-22, an AC symbol the symbol in
// bits 21-28; a marker keeps n alone.
namespace entry {
constexpr uint32_t kDcSymbol = 0u << 30;
constexpr uint32_t kAcSymbol = 1u << 30;
constexpr uint32_t kBits = 2u << 30;
constexpr uint32_t kMarker = 3u << 30;
constexpr uint32_t kKind = 3u << 30;

constexpr uint32_t bitField(uint32_t value, int32_t count) {
  return static_cast<uint32_t>(count) << 16 | (value & 0xFFFF);
}
constexpr int32_t countOf(uint32_t entry) {
  return static_cast<int32_t>(entry >> 16 & 0x1F);
}
constexpr uint32_t valueOf(uint32_t entry) {
  return entry & 0xFFFF;
}
constexpr int32_t symbolOf(uint32_t entry) {
  return static_cast<int32_t>(entry >> 21 & 0xFF);
}
}  // namespace entry

// The statistics pass that also keeps its decisions.
class RecordingSink {
 public:
  RecordingSink(const JPEG_PROPERTIES* state, const ScanRecord& scan, SymbolFrequencies* frequencies,
                ScanRecording* recording)
      : counter_(state, scan, frequencies), recording_(recording) {}
  JpegStatus dcCoded(int32_t j, uint32_t value, int32_t count) {
    recording_->keep(entry::kDcSymbol | static_cast<uint32_t>(j) << 21 | entry::bitField(value, count));
    return counter_.dcCoded(j, value, count);
  }
  JpegStatus acCoded(int32_t symbol, uint32_t value, int32_t count) {
    recording_->keep(entry::kAcSymbol | (static_cast<uint32_t>(symbol) & 0xFF) << 21 |
                     entry::bitField(value, count));
    return counter_.acCoded(symbol, value, count);
  }
  JpegStatus bits(uint32_t value, int32_t count) {
    recording_->keep(entry::kBits | entry::bitField(value, count));
    return JpegStatus::Ok;
  }
  JpegStatus restartMarker(int32_t n) {
    recording_->keep(entry::kMarker | static_cast<uint32_t>(n));
    return JpegStatus::Ok;
  }

 private:
  CountingSink counter_;
  ScanRecording* recording_;
};

// The writing pass: bits gather in a word (output_writer.h) that goes out eight bytes at a time;
// a marker first hands the writer back its pending byte.
template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
class WritingSink {
 public:
  WritingSink(ByteInput* writer, const ScanRecord& scan) : writer_(writer), bits_(writer) {
    for (int32_t j = 0; j < scan.componentCount; ++j) dcTable_[j] = scan.components[j].dcTable;
    acTable_ = scan.components[0].acTable;
  }
  JpegStatus dcCoded(int32_t j, uint32_t value, int32_t count) {
    return put(dcTable_[j], count, value, count);
  }
  JpegStatus acCoded(int32_t symbol, uint32_t value, int32_t count) {
    return put(acTable_, symbol, value, count);
  }
  JpegStatus bits(uint32_t value, int32_t count) { return bits_.put(value, count); }
  JpegStatus restartMarker(int32_t n) {
    JpegStatus status = bits_.finish();
    if (status != JpegStatus::Ok) return status;
    const uint8_t marker[2] = {0xFF, static_cast<uint8_t>(markers::kRst0 + n)};
    status = static_cast<JpegStatus>(writer_->kernels->putBytes(marker, 2, writer_));
    bits_.load();
    return status;
  }
  // Leaves the last incomplete byte pending in the writer, as putBits would.
  JpegStatus finish() { return bits_.finish(); }

  // Writes kept entries as the walk would have handed them over.
  JpegStatus replay(const uint32_t* entries, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const uint32_t kept = entries[i];
      const int32_t bitCount = entry::countOf(kept);
      const uint32_t value = entry::valueOf(kept);
      JpegStatus status;
      switch (kept & entry::kKind) {
        case entry::kDcSymbol:
          status = put(dcTable_[kept >> 21 & 3], bitCount, value, bitCount);
          break;
        case entry::kAcSymbol:
          status = put(acTable_, entry::symbolOf(kept), value, bitCount);
          break;
        case entry::kBits:
          status = bits_.put(value, bitCount);
          break;
        default:
          status = restartMarker(static_cast<int32_t>(kept & 7));
          break;
      }
      if (status != JpegStatus::Ok) return status;
    }
    return JpegStatus::Ok;
  }

 private:
  // Coefficients of 8-bit samples never reach category 16; the mask only keeps an index. The
  // code and its extra bits (16 + 16 at most) go in as one field.
  JpegStatus put(const HuffmanTable* table, int32_t symbol, uint32_t value, int32_t count) {
    const uint64_t code = table->code[symbol & 0xFF];
    return bits_.put(code << count | value, table->codeLength[symbol & 0xFF] + count);
  }
  ByteInput* writer_;
  WordBits<EmitByte> bits_;
  const HuffmanTable* dcTable_[kMaxScanComponents] = {};
  const HuffmanTable* acTable_ = nullptr;
};

// --- symbol decisions -----------------------------------------------------------------------

// Codes blocks of one scan into a sink. Tracks the DC predictors, the end-of-band run and the
// correction bits, which outlive single blocks.
template <typename Sink>
class ScanCoder {
 public:
  ScanCoder(Sink& sink, const ScanRecord& scan, CorrectionBits& correction, int32_t& endOfBandRun)
      : sink_(sink),
        start_(scan.spectralStart),
        end_(scan.spectralEnd),
        low_(scan.approxLow),
        refining_(scan.approxHigh != 0),
        correction_(correction),
        run_(endOfBandRun) {
    correction_.buffered = 0;
    run_ = 0;
  }

  JpegStatus codeBlock(const int16_t* block, int32_t j) {
    if (end_ == 0) return refining_ ? codeDcRefinement(block) : codeDcFirst(block, j);
    return refining_ ? codeAcRefinement(block) : codeAcFirst(block);
  }

  // A pending end-of-band run: symbol n * 16 with n = floor(log2 L), the low n bits of L, then
  // the correction bits of the blocks in the run.
  JpegStatus emitEndOfBandRun() {
    if (run_ == 0) return JpegStatus::Ok;
    const int32_t n = std::bit_width(static_cast<uint32_t>(run_)) - 1;
    JpegStatus status = sink_.acCoded(n << 4, static_cast<uint32_t>(run_) & lowBits(n), n);
    if (status == JpegStatus::Ok) status = emitCorrectionBits(0, correction_.buffered);
    run_ = 0;
    correction_.buffered = 0;
    return status;
  }

  void resetPredictors() {
    for (int32_t& dc : lastDc_) dc = 0;
  }

 private:
  JpegStatus codeDcFirst(const int16_t* block, int32_t j) {
    const int32_t value = block[0] >> low_;
    const int32_t difference = value - lastDc_[j];
    lastDc_[j] = value;
    const int32_t category = sizeCategory(static_cast<uint32_t>(std::abs(difference)));
    return sink_.dcCoded(
        j, static_cast<uint32_t>(difference < 0 ? difference - 1 : difference) & lowBits(category), category);
  }

  JpegStatus codeDcRefinement(const int16_t* block) {
    return sink_.bits(static_cast<uint32_t>(block[0] >> low_) & 1u, 1);
  }

  // The block's magnitudes |c| >> Al, a bit per position of the band whose magnitude is
  // nonzero, so the coding loops visit only those, and the last position whose magnitude is 1.
  struct Band {
    uint16_t magnitude[64];
    uint64_t nonzero;
    int32_t lastOne;
  };

  // Blocks lie in zig-zag order: whole-block loops the compiler turns into vector code, then
  // the flags gathered into masks eight at a time.
  // Only refinement scans ask for the last magnitude-1 position.
  template <bool kFindLastOne>
  void readBand(const int16_t* block, Band* band) const {
    uint8_t nonzero[64];
    uint8_t one[64];
    for (int32_t k = 0; k < 64; ++k) {
      const auto magnitude = static_cast<uint16_t>(std::abs(int32_t{block[k]}) >> low_);
      band->magnitude[k] = magnitude;
      nonzero[k] = magnitude != 0;
      if constexpr (kFindLastOne) one[k] = magnitude == 1;
    }
    const uint64_t inBand = (~uint64_t{0} >> (63 - end_)) & (~uint64_t{0} << start_);
    band->nonzero = packFlags(nonzero) & inBand;
    band->lastOne = -1;
    if constexpr (kFindLastOne) {
      const uint64_t ones = packFlags(one) & inBand;
      if (ones != 0) band->lastOne = 63 - std::countl_zero(ones);
    }
  }

  // Most blocks of the higher bands hold nothing at the scan's precision: one pass over the
  // band tells, before the block is read in full.
  bool bandIsEmpty(const int16_t* block) const {
    uint32_t any = 0;
    for (int32_t k = start_; k <= end_; ++k) any |= static_cast<uint32_t>(std::abs(int32_t{block[k]}));
    return (any >> low_) == 0;
  }

  // A block with nothing to send joins the end-of-band run.
  JpegStatus extendEndOfBandRun() {
    if (++run_ == kMaxEndOfBandRun || correction_.buffered > kMaxBufferedCorrectionBits)
      return emitEndOfBandRun();
    return JpegStatus::Ok;
  }

  JpegStatus codeAcFirst(const int16_t* block) {
    if (bandIsEmpty(block)) return extendEndOfBandRun();
    Band band;
    readBand<false>(block, &band);
    int32_t previous = start_ - 1;
    for (uint64_t rest = band.nonzero; rest != 0; rest &= rest - 1) {
      const int32_t k = std::countr_zero(rest);
      int32_t zeros = k - previous - 1;
      previous = k;
      JpegStatus status = emitEndOfBandRun();
      for (; zeros > 15 && status == JpegStatus::Ok; zeros -= 16)
        status = sink_.acCoded(kZeroRunLength, 0, 0);
      const int32_t magnitude = band.magnitude[k];
      const int32_t category = sizeCategory(static_cast<uint32_t>(magnitude));
      const bool negative = block[k] < 0;
      if (status == JpegStatus::Ok) {
        const uint32_t bits = static_cast<uint32_t>(negative ? ~magnitude : magnitude) & lowBits(category);
        status = sink_.acCoded(zeros * 16 + category, bits, category);
      }
      if (status != JpegStatus::Ok) return status;
    }
    if (previous < end_ && ++run_ == kMaxEndOfBandRun) return emitEndOfBandRun();
    return JpegStatus::Ok;
  }

  // Coefficients already nonzero before this scan (magnitude > 1) send one correction bit
  // each; it travels with the next symbol, or with the end-of-band run that ends the block.
  // Zero runs count only coefficients still zero, and are folded into the end of band after
  // the last newly nonzero coefficient.
  JpegStatus codeAcRefinement(const int16_t* block) {
    if (bandIsEmpty(block)) return extendEndOfBandRun();
    Band band;
    readBand<true>(block, &band);
    blockStart_ = correction_.buffered;
    blockCount_ = 0;
    int32_t zeros = 0;
    int32_t previous = start_ - 1;
    JpegStatus status = JpegStatus::Ok;
    for (uint64_t rest = band.nonzero; rest != 0 && status == JpegStatus::Ok; rest &= rest - 1) {
      const int32_t k = std::countr_zero(rest);
      zeros += k - previous - 1;
      previous = k;
      for (; zeros > 15 && k <= band.lastOne && status == JpegStatus::Ok; zeros -= 16) {
        status = emitEndOfBandRun();
        if (status == JpegStatus::Ok) status = sink_.acCoded(kZeroRunLength, 0, 0);
        if (status == JpegStatus::Ok) status = emitBlockCorrectionBits();
      }
      if (status != JpegStatus::Ok) break;
      if (band.magnitude[k] > 1) {
        correction_.bits[blockStart_ + blockCount_++] = static_cast<uint8_t>(band.magnitude[k] & 1);
        continue;
      }
      const bool negative = block[k] < 0;
      status = emitEndOfBandRun();
      if (status == JpegStatus::Ok) status = sink_.acCoded(zeros * 16 + 1, negative ? 0u : 1u, 1);
      if (status == JpegStatus::Ok) status = emitBlockCorrectionBits();
      zeros = 0;
    }
    zeros += end_ - previous;
    if (status != JpegStatus::Ok || (zeros == 0 && blockCount_ == 0)) return status;
    ++run_;
    correction_.buffered = blockStart_ + blockCount_;
    if (run_ == kMaxEndOfBandRun || correction_.buffered > kMaxBufferedCorrectionBits)
      return emitEndOfBandRun();
    return JpegStatus::Ok;
  }

  // This block's bits so far; the run's own bits have gone out just before.
  JpegStatus emitBlockCorrectionBits() {
    const JpegStatus status = emitCorrectionBits(blockStart_, blockCount_);
    blockStart_ = 0;
    blockCount_ = 0;
    return status;
  }

  JpegStatus emitCorrectionBits(int32_t first, int32_t count) {
    JpegStatus status = JpegStatus::Ok;
    for (int32_t i = 0; i < count && status == JpegStatus::Ok; i += kBitsPerPut) {
      const int32_t chunk = count - i < kBitsPerPut ? count - i : kBitsPerPut;
      uint32_t value = 0;
      for (int32_t b = 0; b < chunk; ++b) value = value << 1 | correction_.bits[first + i + b];
      status = sink_.bits(value, chunk);
    }
    return status;
  }

  Sink& sink_;
  int32_t start_;
  int32_t end_;
  int32_t low_;
  bool refining_;
  CorrectionBits& correction_;
  int32_t& run_;
  int32_t lastDc_[kMaxScanComponents] = {};
  int32_t blockStart_ = 0;
  int32_t blockCount_ = 0;
};

// --- the walk over the coefficient buffer -------------------------------------------------

// Before every restartInterval-th unit after the first: the pending run, RSTn, fresh
// predictors. A scan never ends with a marker.
template <typename Sink>
class RestartCounter {
 public:
  explicit RestartCounter(int32_t interval) : interval_(interval) {}
  JpegStatus beforeUnit(Sink& sink, ScanCoder<Sink>& coder) {
    if (interval_ == 0) return JpegStatus::Ok;
    if (unitsLeft_ == 0) {
      unitsLeft_ = interval_;
      if (started_) {
        JpegStatus status = coder.emitEndOfBandRun();
        if (status == JpegStatus::Ok) status = sink.restartMarker(next_);
        next_ = (next_ + 1) & 7;
        coder.resetPredictors();
        if (status != JpegStatus::Ok) return status;
      }
    }
    started_ = true;
    --unitsLeft_;
    return JpegStatus::Ok;
  }

 private:
  int32_t interval_;
  int32_t unitsLeft_ = 0;
  int32_t next_ = 0;
  bool started_ = false;
};

const int16_t* blockAt(const CoefficientLayout& layout, int32_t mcu, int32_t blockInMcu) {
  return layout.buffer + (static_cast<ptrdiff_t>(mcu) * layout.blocksPerMcu + blockInMcu) * 64;
}

// Several components: MCU after MCU, each component's v rows of h blocks.
template <typename Sink>
JpegStatus walkInterleaved(const CoefficientLayout& layout, const ScanRecord& scan, Sink& sink,
                           ScanCoder<Sink>& coder) {
  RestartCounter<Sink> restarts(layout.restartInterval);
  const int32_t mcuCount = layout.mcusPerRow * layout.mcuRows;
  for (int32_t mcu = 0; mcu < mcuCount; ++mcu) {
    JpegStatus status = restarts.beforeUnit(sink, coder);
    for (int32_t j = 0; j < scan.componentCount && status == JpegStatus::Ok; ++j) {
      const int32_t c = scan.components[j].componentIndex;
      const int32_t blocks = layout.horizontalFactor[c] * layout.verticalFactor[c];
      for (int32_t b = 0; b < blocks && status == JpegStatus::Ok; ++b) {
        status = coder.codeBlock(blockAt(layout, mcu, layout.componentOffset[c] + b), j);
      }
    }
    if (status != JpegStatus::Ok) return status;
  }
  return JpegStatus::Ok;
}

// One component: its own block grid in raster order, blocks wholly outside the image skipped.
template <typename Sink>
JpegStatus walkSingleComponent(const CoefficientLayout& layout, const ScanRecord& scan, Sink& sink,
                               ScanCoder<Sink>& coder) {
  RestartCounter<Sink> restarts(layout.restartInterval);
  const int32_t c = scan.components[0].componentIndex;
  const int32_t h = layout.horizontalFactor[c];
  const int32_t v = layout.verticalFactor[c];
  const auto blockOf = [&](int32_t blockRow, int32_t blockColumn) {
    const int32_t mcu = blockRow / v * layout.mcusPerRow + blockColumn / h;
    return blockAt(layout, mcu, layout.componentOffset[c] + blockRow % v * h + blockColumn % h);
  };
  for (int32_t blockRow = 0; blockRow < layout.blockRows[c]; ++blockRow) {
    for (int32_t blockColumn = 0; blockColumn < layout.blockColumns[c]; ++blockColumn) {
      // The blocks of one component lie apart in the buffer, beyond what the processor
      // fetches ahead by itself: ask for a block a few steps ahead.
      if (blockColumn + kBlocksAhead < layout.blockColumns[c]) {
        const int16_t* ahead = blockOf(blockRow, blockColumn + kBlocksAhead);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 32);
      }
      JpegStatus status = restarts.beforeUnit(sink, coder);
      if (status == JpegStatus::Ok) status = coder.codeBlock(blockOf(blockRow, blockColumn), 0);
      if (status != JpegStatus::Ok) return status;
    }
  }
  return JpegStatus::Ok;
}

template <typename Sink>
JpegStatus codeScan(const CoefficientLayout& layout, const ScanRecord& scan, Sink& sink,
                    CorrectionBits& correction, int32_t& endOfBandRun) {
  ScanCoder<Sink> coder(sink, scan, correction, endOfBandRun);
  const JpegStatus status = scan.componentCount > 1 ? walkInterleaved(layout, scan, sink, coder)
                                                    : walkSingleComponent(layout, scan, sink, coder);
  if (status != JpegStatus::Ok || isDcScan(scan)) return status;
  return coder.emitEndOfBandRun();
}

template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
JpegStatus writeScanData(ByteInput* writer, const CoefficientLayout& layout, const ScanRecord& scan,
                         CorrectionBits& correction, const ScanRecording* recording) {
  WritingSink<EmitByte> sink(writer, scan);
  const JpegStatus status = recording != nullptr && recording->complete()
                                ? recording->forEachRun([&sink](const uint32_t* entries, size_t count) {
                                    return sink.replay(entries, count);
                                  })
                                : codeScan(layout, scan, sink, correction, writer->eobRun);
  if (status != JpegStatus::Ok) return status;
  return sink.finish();
}

}  // namespace

CoefficientLayout coefficientLayout(const JPEG_PROPERTIES* state, const int16_t* buffer) {
  CoefficientLayout layout{};
  layout.buffer = buffer;
  layout.mcusPerRow = state->mcusPerRow;
  layout.mcuRows = state->mcuRows;
  layout.restartInterval = state->restartInterval;
  for (int32_t c = 0; c < state->componentCount; ++c) {
    const JpegComponent& component = state->components[c];
    layout.componentOffset[c] = layout.blocksPerMcu;
    layout.horizontalFactor[c] = component.horizontalFactor;
    layout.verticalFactor[c] = component.verticalFactor;
    layout.blocksPerMcu += component.horizontalFactor * component.verticalFactor;
    // The component's sample grid is the image scaled by its factors, rounded up (T.81 A.1.1).
    const int64_t width =
        ceilDiv(int64_t{state->imageWidth} * component.horizontalFactor, state->maxHorizontalFactor);
    const int64_t height =
        ceilDiv(int64_t{state->imageHeight} * component.verticalFactor, state->maxVerticalFactor);
    layout.blockColumns[c] = static_cast<int32_t>(ceilDiv(width, 8));
    layout.blockRows[c] = static_cast<int32_t>(ceilDiv(height, 8));
  }
  return layout;
}

void countScanSymbols(const JPEG_PROPERTIES* state, const CoefficientLayout& layout, const ScanRecord* scan,
                      SymbolFrequencies* frequencies, ScanRecording* recording) {
  CorrectionBits correction;
  int32_t endOfBandRun = 0;
  if (recording == nullptr) {
    CountingSink sink(state, *scan, frequencies);
    codeScan(layout, *scan, sink, correction, endOfBandRun);
    return;
  }
  recording->start();
  RecordingSink sink(state, *scan, frequencies, recording);
  codeScan(layout, *scan, sink, correction, endOfBandRun);
}

JpegStatus encodeScan(ByteInput* writer, const CoefficientLayout& layout, const ScanRecord* scan,
                      CorrectionBits* correction, const ScanRecording* recording) {
  writer->bits = 0;
  writer->bitCount = 8;
  const JpegStatus status =
      writer->file != 0 ? writeScanData<emitByteToFile>(writer, layout, *scan, *correction, recording)
                        : writeScanData<emitByteToBuffer>(writer, layout, *scan, *correction, recording);
  if (status != JpegStatus::Ok) return status;
  return static_cast<JpegStatus>(writer->kernels->putBytes(nullptr, 0, writer));
}

ScanRecording::~ScanRecording() {
  while (first_ != nullptr) {
    Chunk* next = first_->next;
    delete[] first_->entries;
    delete first_;
    first_ = next;
  }
}

void ScanRecording::start() {
  current_ = first_;
  cursor_ = first_ != nullptr ? first_->entries : nullptr;
  end_ = first_ != nullptr ? first_->entries + std::min(limit_, chunkEntries_) : nullptr;
  chunksBefore_ = 0;
  complete_ = true;
}

ScanRecording::Chunk* ScanRecording::newChunk() const {
  Chunk* chunk = new (std::nothrow) Chunk{nullptr, nullptr};
  if (chunk == nullptr) return nullptr;
  chunk->entries = new (std::nothrow) uint32_t[chunkEntries_];
  if (chunk->entries != nullptr) return chunk;
  delete chunk;
  return nullptr;
}

bool ScanRecording::nextChunk() {
  const size_t kept = current_ != nullptr ? (chunksBefore_ + 1) * chunkEntries_ : 0;
  if (!complete_ || kept >= limit_) {
    complete_ = false;
    return false;
  }
  Chunk*& link = current_ != nullptr ? current_->next : first_;
  if (link == nullptr) link = newChunk();
  if (link == nullptr) {
    complete_ = false;
    return false;
  }
  if (current_ != nullptr) ++chunksBefore_;
  current_ = link;
  cursor_ = current_->entries;
  end_ = cursor_ + std::min(limit_ - kept, chunkEntries_);
  return true;
}

size_t ScanRecording::count() const {
  return current_ != nullptr
             ? chunksBefore_ * chunkEntries_ + static_cast<size_t>(cursor_ - current_->entries)
             : 0;
}

void storeZigzagBlocks(const int16_t* natural, int32_t blocks, int16_t* zigzag) {
  for (int32_t b = 0; b < blocks; ++b, natural += 64, zigzag += 64) {
    for (int32_t k = 0; k < 64; ++k) zigzag[k] = natural[kEncodeZigzagToNatural[k]];
  }
}
