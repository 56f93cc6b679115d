#include "codec/encode/progressive_scan.h"

#include <bit>
#include <cstdlib>
#include <cstring>

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

bool isDcScan(const ScanRecord& scan) {
  return scan.spectralStart == 0 && scan.spectralEnd == 0;
}

// --- sinks: what a symbol decision turns into -------------------------------------------------

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
  JpegStatus dcSymbol(int32_t j, int32_t symbol) {
    ++frequencies_->table[dcTable_[j]][symbol & 0xFF];
    return JpegStatus::Ok;
  }
  JpegStatus acSymbol(int32_t symbol) {
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

// The statistics pass that also keeps its decisions. Entry layout: bits 30-31 the kind; a DC
// symbol keeps the scan component in bits 8-9 and the symbol in bits 0-7, an AC symbol the
// symbol, raw bits their count (at most 16) in bits 16-20 and value in bits 0-15, a marker n.
class RecordingSink {
 public:
  static constexpr uint32_t kDcSymbol = 0u << 30;
  static constexpr uint32_t kAcSymbol = 1u << 30;
  static constexpr uint32_t kBits = 2u << 30;
  static constexpr uint32_t kMarker = 3u << 30;

  RecordingSink(const JPEG_PROPERTIES* state, const ScanRecord& scan, SymbolFrequencies* frequencies,
                ScanRecording* recording)
      : counter_(state, scan, frequencies), recording_(recording) {}
  JpegStatus dcSymbol(int32_t j, int32_t symbol) {
    keep(kDcSymbol | static_cast<uint32_t>(j) << 8 | (static_cast<uint32_t>(symbol) & 0xFF));
    return counter_.dcSymbol(j, symbol);
  }
  JpegStatus acSymbol(int32_t symbol) {
    keep(kAcSymbol | (static_cast<uint32_t>(symbol) & 0xFF));
    return counter_.acSymbol(symbol);
  }
  JpegStatus bits(uint32_t value, int32_t count) {
    keep(kBits | static_cast<uint32_t>(count) << 16 | (value & 0xFFFF));
    return JpegStatus::Ok;
  }
  JpegStatus restartMarker(int32_t n) {
    keep(kMarker | static_cast<uint32_t>(n));
    return JpegStatus::Ok;
  }

 private:
  void keep(uint32_t entry) {
    if (recording_->count < recording_->capacity) {
      recording_->entries[recording_->count++] = entry;
    } else {
      recording_->complete = false;
    }
  }
  CountingSink counter_;
  ScanRecording* recording_;
};

// Hands a kept scan to a sink as the walk would have.
template <typename Sink>
JpegStatus replayScan(const ScanRecording& recording, Sink& sink) {
  for (size_t i = 0; i < recording.count; ++i) {
    const uint32_t entry = recording.entries[i];
    JpegStatus status = JpegStatus::Ok;
    switch (entry & RecordingSink::kMarker) {
      case RecordingSink::kDcSymbol:
        status = sink.dcSymbol(static_cast<int32_t>(entry >> 8 & 3), static_cast<int32_t>(entry & 0xFF));
        break;
      case RecordingSink::kAcSymbol:
        status = sink.acSymbol(static_cast<int32_t>(entry & 0xFF));
        break;
      case RecordingSink::kBits:
        status = sink.bits(entry & 0xFFFF, static_cast<int32_t>(entry >> 16 & 0x1F));
        break;
      default:
        status = sink.restartMarker(static_cast<int32_t>(entry & 7));
        break;
    }
    if (status != JpegStatus::Ok) return status;
  }
  return JpegStatus::Ok;
}

// The writing pass: bits gather in a word (output_writer.h) that goes out eight bytes at a time;
// a marker first hands the writer back its pending byte.
template <JpegStatus (*EmitByte)(ByteInput*, uint8_t)>
class WritingSink {
 public:
  WritingSink(ByteInput* writer, const ScanRecord& scan) : writer_(writer), bits_(writer) {
    for (int32_t j = 0; j < scan.componentCount; ++j) dcTable_[j] = scan.components[j].dcTable;
    acTable_ = scan.components[0].acTable;
  }
  JpegStatus dcSymbol(int32_t j, int32_t symbol) { return put(dcTable_[j], symbol); }
  JpegStatus acSymbol(int32_t symbol) { return put(acTable_, symbol); }
  JpegStatus bits(uint32_t value, int32_t count) {
    return bits_.put(value & ((uint64_t{1} << count) - 1u), count);
  }
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

 private:
  // Coefficients of 8-bit samples never reach category 16; the mask only keeps an index.
  JpegStatus put(const HuffmanTable* table, int32_t symbol) {
    return bits_.put(table->code[symbol & 0xFF], table->codeLength[symbol & 0xFF]);
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
    JpegStatus status = sink_.acSymbol(n << 4);
    if (status == JpegStatus::Ok && n > 0) status = sink_.bits(static_cast<uint32_t>(run_), n);
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
    JpegStatus status = sink_.dcSymbol(j, category);
    if (status == JpegStatus::Ok && category > 0) {
      status = sink_.bits(static_cast<uint32_t>(difference < 0 ? difference - 1 : difference), category);
    }
    return status;
  }

  JpegStatus codeDcRefinement(const int16_t* block) {
    return sink_.bits(static_cast<uint32_t>(block[0] >> low_) & 1u, 1);
  }

  // The band's magnitudes |c| >> Al in zig-zag order, a bit per nonzero one so the coding
  // loops visit only those, and the last position whose magnitude is 1.
  struct Band {
    int32_t magnitude[64];
    uint64_t nonzero;
    int32_t lastOne;
  };

  void readBand(const int16_t* block, Band* band) const {
    // The block comes in whole, in order, before the zig-zag reads: it lies in a buffer far
    // larger than the caches, and sequential wide loads keep the memory system busy.
    int16_t local[64];
    std::memcpy(local, block, sizeof(local));
    // Each position's bit enters at the top and moves down one place per coefficient after it,
    // so the loop shifts by constants only; the last shift puts bit k at k.
    uint64_t nonzero = 0;
    int32_t lastOne = -1;
    for (int32_t k = start_; k <= end_; ++k) {
      const int32_t magnitude = std::abs(int32_t{local[kEncodeZigzagToNatural[k]]}) >> low_;
      band->magnitude[k] = magnitude;
      nonzero = nonzero >> 1 | uint64_t{magnitude != 0} << 63;
      lastOne = magnitude == 1 ? k : lastOne;
    }
    band->nonzero = nonzero >> (63 - end_);
    band->lastOne = lastOne;
  }

  JpegStatus codeAcFirst(const int16_t* block) {
    Band band;
    readBand(block, &band);
    int32_t previous = start_ - 1;
    for (uint64_t rest = band.nonzero; rest != 0; rest &= rest - 1) {
      const int32_t k = std::countr_zero(rest);
      int32_t zeros = k - previous - 1;
      previous = k;
      JpegStatus status = emitEndOfBandRun();
      for (; zeros > 15 && status == JpegStatus::Ok; zeros -= 16) status = sink_.acSymbol(kZeroRunLength);
      const int32_t magnitude = band.magnitude[k];
      const int32_t category = sizeCategory(static_cast<uint32_t>(magnitude));
      const bool negative = block[kEncodeZigzagToNatural[k]] < 0;
      if (status == JpegStatus::Ok) status = sink_.acSymbol(zeros * 16 + category);
      if (status == JpegStatus::Ok)
        status = sink_.bits(static_cast<uint32_t>(negative ? ~magnitude : magnitude), category);
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
    Band band;
    readBand(block, &band);
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
        if (status == JpegStatus::Ok) status = sink_.acSymbol(kZeroRunLength);
        if (status == JpegStatus::Ok) status = emitBlockCorrectionBits();
      }
      if (status != JpegStatus::Ok) break;
      if (band.magnitude[k] > 1) {
        correction_.bits[blockStart_ + blockCount_++] = static_cast<uint8_t>(band.magnitude[k] & 1);
        continue;
      }
      const bool negative = block[kEncodeZigzagToNatural[k]] < 0;
      status = emitEndOfBandRun();
      if (status == JpegStatus::Ok) status = sink_.acSymbol(zeros * 16 + 1);
      if (status == JpegStatus::Ok) status = sink_.bits(negative ? 0u : 1u, 1);
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
  const JpegStatus status = recording != nullptr && recording->complete
                                ? replayScan(*recording, sink)
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
  recording->count = 0;
  recording->complete = true;
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
