// Hand-built JPEG byte streams for the decoder's tests: segments, tables and entropy-coded bits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace stream_builder {

using Bytes = std::vector<uint8_t>;

// ITU T.81 Annex K tables (K.3 DC luminance, K.4 DC chrominance, K.5 AC luminance, K.6 AC
// chrominance) as code counts for lengths 1..16 and symbols in order.
inline const Bytes kDcLumaCounts = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
inline const Bytes kDcLumaValues = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline const Bytes kDcChromaCounts = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
inline const Bytes kDcChromaValues = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline const Bytes kAcLumaCounts = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
inline const Bytes kAcLumaValues = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33,
    0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34,
    0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55,
    0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76,
    0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5,
    0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
inline const Bytes kAcChromaCounts = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
inline const Bytes kAcChromaValues = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13,
    0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62,
    0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29,
    0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54,
    0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94,
    0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3,
    0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
    0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

inline void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// FF marker, 16-bit length (payload + 2), payload.
inline Bytes segment(uint8_t marker, const Bytes& payload) {
  Bytes out = {0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
               static_cast<uint8_t>((payload.size() + 2) & 0xFF)};
  append(out, payload);
  return out;
}

inline Bytes marker(uint8_t code) {
  return {0xFF, code};
}

// DQT with one 8-bit table of a constant step.
inline Bytes dqt8(uint8_t tableId, uint8_t step) {
  Bytes payload = {tableId};
  payload.insert(payload.end(), 64, step);
  return segment(0xDB, payload);
}

// DHT with one table.
inline Bytes dht(uint8_t tableClass, uint8_t tableId, const Bytes& counts, const Bytes& values) {
  Bytes payload = {static_cast<uint8_t>(tableClass << 4 | tableId)};
  append(payload, counts);
  append(payload, values);
  return segment(0xC4, payload);
}

struct FrameComponent {
  uint8_t id;
  uint8_t h;
  uint8_t v;
  uint8_t quantTable;
};

inline Bytes sof(uint8_t code, int width, int height, std::initializer_list<FrameComponent> components) {
  Bytes payload = {8,
                   static_cast<uint8_t>(height >> 8),
                   static_cast<uint8_t>(height),
                   static_cast<uint8_t>(width >> 8),
                   static_cast<uint8_t>(width),
                   static_cast<uint8_t>(components.size())};
  for (const FrameComponent& c : components) {
    payload.insert(payload.end(), {c.id, static_cast<uint8_t>(c.h << 4 | c.v), c.quantTable});
  }
  return segment(code, payload);
}

struct ScanEntry {
  uint8_t id;
  uint8_t dcTable;
  uint8_t acTable;
};

inline Bytes sos(std::initializer_list<ScanEntry> components, uint8_t ss = 0, uint8_t se = 63,
                 uint8_t ahAl = 0) {
  Bytes payload = {static_cast<uint8_t>(components.size())};
  for (const ScanEntry& c : components) {
    payload.insert(payload.end(), {c.id, static_cast<uint8_t>(c.dcTable << 4 | c.acTable)});
  }
  payload.insert(payload.end(), {ss, se, ahAl});
  return segment(0xDA, payload);
}

// JFIF APP0 with an optional RGB thumbnail.
inline Bytes jfif(uint8_t thumbWidth = 0, uint8_t thumbHeight = 0, const Bytes& rgb = {}) {
  Bytes payload = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, thumbWidth, thumbHeight};
  append(payload, rgb);
  return segment(0xE0, payload);
}

inline Bytes adobe(uint8_t transform) {
  return segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform});
}

// Entropy-coded bits, most significant first, with 0xFF stuffing and 1-padding.
class BitWriter {
 public:
  void put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      current_ = static_cast<uint8_t>(current_ << 1 | ((value >> i) & 1));
      if (++filled_ == 8) flushByte();
    }
  }
  Bytes finish() {
    while (filled_ != 0) put(1, 1);
    return bytes_;
  }

 private:
  void flushByte() {
    bytes_.push_back(current_);
    if (current_ == 0xFF) bytes_.push_back(0x00);
    current_ = 0;
    filled_ = 0;
  }
  Bytes bytes_;
  uint8_t current_ = 0;
  int filled_ = 0;
};

// DC table 0 (K.3) and AC table 0 (K.5).
inline Bytes standardTables() {
  Bytes out;
  append(out, dht(0, 0, kDcLumaCounts, kDcLumaValues));
  append(out, dht(1, 0, kAcLumaCounts, kAcLumaValues));
  return out;
}

// Bits of a value of category `size` (T.81 F.1.2.1): negative values as value + 2^size - 1.
inline void putMagnitudeBits(BitWriter& bits, int value, int size) {
  bits.put(static_cast<uint32_t>(value > 0 ? value : value + (1 << size) - 1), size);
}

inline int magnitudeCategory(int value) {
  int magnitude = value < 0 ? -value : value;
  int size = 0;
  for (; magnitude != 0; magnitude >>= 1) ++size;
  return size;
}

// One block under standardTables(): a DC difference of category 0..11 (K.3 codes 00, 010..110,
// then 1110, 11110, ...),
// AC values of magnitude 1 or 2 at zig-zag positions 1, 2, ... (K.5 codes 00 and 01), then EOB
// (1010).
inline void putStandardBlock(BitWriter& bits, int dcDifference, const std::vector<int>& ac = {}) {
  const int dcSize = magnitudeCategory(dcDifference);
  if (dcSize == 0) {
    bits.put(0, 2);
  } else if (dcSize <= 5) {
    bits.put(static_cast<uint32_t>(1 + dcSize), 3);
  } else {
    bits.put((1u << (dcSize - 2)) - 2, dcSize - 2);
  }
  if (dcSize != 0) putMagnitudeBits(bits, dcDifference, dcSize);
  for (const int value : ac) {
    const int size = magnitudeCategory(value);
    bits.put(static_cast<uint32_t>(size - 1), 2);
    putMagnitudeBits(bits, value, size);
  }
  bits.put(0b1010, 4);
}

// A baseline greyscale stream: `tables` (DQT and the like) after SOI, the standard Huffman
// tables, and every 8x8 block (raster order) given by blockOf(index) as its DC level and AC
// values. With a constant quantiser of 8, a DC-only block of level L decodes to the flat sample
// 128 + L.
template <typename BlockOf>
Bytes grayStream(int width, int height, const Bytes& tables, BlockOf blockOf) {
  Bytes out = marker(0xD8);
  append(out, tables);
  append(out, sof(0xC0, width, height, {{1, 1, 1, 0}}));
  append(out, standardTables());
  append(out, sos({{1, 0, 0}}));
  BitWriter bits;
  const int blocks = ((width + 7) / 8) * ((height + 7) / 8);
  int predictor = 0;
  for (int i = 0; i < blocks; ++i) {
    const auto [level, ac] = blockOf(i);
    putStandardBlock(bits, level - predictor, ac);
    predictor = level;
  }
  append(out, bits.finish());
  append(out, marker(0xD9));
  return out;
}

// A flat greyscale image of the sample 128 + level.
inline Bytes flatGrayStream(int width, int height, int level) {
  return grayStream(width, height, dqt8(0, 8), [level](int) { return std::pair{level, std::vector<int>{}}; });
}

}  // namespace stream_builder
