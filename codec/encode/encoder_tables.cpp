#include "codec/encode/encoder_tables.h"

namespace {

constexpr int32_t kMaxQuantTables = 4;
constexpr int32_t kMaxHuffmanPairs = 4;
constexpr int32_t kMaxTableId = 3;
constexpr int32_t kMaxListedCodes = 258;

// The record's descriptors hold writable addresses; the codec only ever reads through them.
uint8_t* asDescriptor(const uint8_t* table) {
  return const_cast<uint8_t*>(table);
}

bool huffmanTablesSupplied(const JPEG_PROPERTIES* state) {
  if (state->huffmanTablesSupplied == 0) return false;
  for (const HuffmanSpec& descriptor : state->huffmanSpecs) {
    if (descriptor.counts != nullptr && descriptor.values != nullptr) return true;
  }
  return false;
}

void installDefaultQuantTables(JPEG_PROPERTIES* state) {
  state->quantTablesRead = 2;
  state->quantTableCount = 2;
  state->quantSpecs[0] = {asDescriptor(kLuminanceQuantTable.data()), 0};
  state->quantSpecs[1] = {asDescriptor(kChrominanceQuantTable.data()), 1};
  state->quantSpecs[2] = {nullptr, 0};
  state->quantSpecs[3] = {nullptr, 0};
}

void installDefaultHuffmanTables(JPEG_PROPERTIES* state) {
  state->dcTablesRead = 2;
  state->acTablesRead = 2;
  state->huffmanTableCount = 2;
  state->huffmanSpecs[0] = {asDescriptor(kDcLuminanceCounts.data()), asDescriptor(kDcLuminanceSymbols.data()),
                            0, 0};
  state->huffmanSpecs[1] = {asDescriptor(kAcLuminanceCounts.data()), asDescriptor(kAcLuminanceSymbols.data()),
                            1, 0};
  state->huffmanSpecs[2] = {asDescriptor(kDcChrominanceCounts.data()),
                            asDescriptor(kDcChrominanceSymbols.data()), 0, 1};
  state->huffmanSpecs[3] = {asDescriptor(kAcChrominanceCounts.data()),
                            asDescriptor(kAcChrominanceSymbols.data()), 1, 1};
  for (int i = 4; i < 8; ++i) state->huffmanSpecs[i] = {nullptr, nullptr, 0, 0};
  constexpr int32_t kDefaultSelectors[4] = {0, 1, 1, 1};
  for (int i = 0; i < 4; ++i) {
    state->dcSelectors[i] = kDefaultSelectors[i];
    state->acSelectors[i] = kDefaultSelectors[i];
  }
}

bool hasZeroStep(const uint8_t* steps) {
  for (int k = 0; k < 64; ++k) {
    if (steps[k] == 0) return true;
  }
  return false;
}

int32_t listedCodes(const uint8_t* counts) {
  int32_t total = 0;
  for (int i = 0; i < 16; ++i) total += counts[i];
  return total;
}

}  // namespace

bool quantTablesSupplied(const JPEG_PROPERTIES* state) {
  if (state->quantTablesSupplied == 0) return false;
  for (const QuantSpec& descriptor : state->quantSpecs) {
    if (descriptor.values != nullptr) return true;
  }
  return false;
}

JpegStatus setupEncoderTables(JPEG_PROPERTIES* state) {
  if (!quantTablesSupplied(state)) installDefaultQuantTables(state);
  if (!huffmanTablesSupplied(state)) installDefaultHuffmanTables(state);
  return JpegStatus::Ok;
}

JpegStatus checkEncoderTables(const JPEG_PROPERTIES* state, bool writesTableSegments) {
  if (state->quantTableCount > kMaxQuantTables) return JpegStatus::InvalidProperties;
  for (int j = 0; j < state->quantTableCount; ++j) {
    const QuantSpec& descriptor = state->quantSpecs[j];
    if (descriptor.values == nullptr) {
      if (writesTableSegments) return JpegStatus::BadQuantTable;
      continue;
    }
    if (descriptor.tableId < 0 || descriptor.tableId > kMaxTableId || hasZeroStep(descriptor.values)) {
      return JpegStatus::BadQuantTable;
    }
  }
  if (state->huffmanTableCount > kMaxHuffmanPairs) return JpegStatus::InvalidProperties;
  for (int j = 0; j < 2 * state->huffmanTableCount; ++j) {
    // The even descriptor of a pair is coded as DC and the odd one as AC: the DHT must say so.
    const HuffmanSpec& descriptor = state->huffmanSpecs[j];
    if (descriptor.counts == nullptr || descriptor.values == nullptr || descriptor.tableId < 0 || descriptor.tableId > kMaxTableId ||
        descriptor.tableClass != j % 2 || listedCodes(descriptor.counts) > kMaxListedCodes) {
      return JpegStatus::BadHuffmanTable;
    }
  }
  return JpegStatus::Ok;
}

void scaleQuantTable(int32_t quality, const uint8_t* base, int16_t* table) {
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  const int32_t scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  for (int i = 0; i < 64; ++i) {
    const int32_t step = (base[i] * scale + 50) / 100;
    table[i] = static_cast<int16_t>(step <= 0 ? 1 : step > 255 ? 255 : step);
  }
}

void prepareQuantTable(int16_t* table) {
  if (table[63] < 2) table[63] = 2;
  int16_t multipliers[64];
  for (int k = 0; k < 64; ++k) {
    const int32_t step = table[k] < 1 ? 1 : table[k];
    multipliers[kEncodeZigzagToNatural[k]] = static_cast<int16_t>(((step >> 1) + aanScale[k]) / step);
  }
  for (int i = 0; i < 64; ++i) table[i] = multipliers[i];
}

JpegStatus prepareForVariant(int32_t dctVariant, int16_t* table) {
  switch (dctVariant) {
    case 0:
      prepareQuantTable(table);
      return JpegStatus::Ok;
    case 1:
      prepareQuantReciprocals(table);
      return JpegStatus::Ok;
    default:
      return JpegStatus::InvalidProperties;
  }
}
