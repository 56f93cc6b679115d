// BMP files: a 14-byte file header, an information header (12 bytes in the old core form,
// 40 to 124 bytes otherwise), optional bit-field masks and colour table, then rows padded to
// four bytes or a run-length stream. All numbers are little-endian.
#include "document/bmp/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace bmp {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kHeaderSizeField = 4;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::size_t kMaxColours = 256;

// Compression field values.
constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::uint32_t kCompressionRle4 = 2;
constexpr std::uint32_t kCompressionBitFields = 3;
constexpr std::uint32_t kCompressionAlphaBitFields = 6;

// Run-length escapes, the second byte after a zero count.
constexpr std::uint8_t kEndOfLine = 0;
constexpr std::uint8_t kEndOfBitmap = 1;
constexpr std::uint8_t kDelta = 2;

// Callers check that the bytes exist before reading them.
std::uint32_t Get16(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint32_t>(d[at] | (d[at + 1] << 8));
}
std::uint32_t Get32(std::span<const std::uint8_t> d, std::size_t at) {
  return Get16(d, at) | (Get16(d, at + 2) << 16);
}

// The fields of either information-header form that the rest of the reader needs.
struct InfoHeader {
  std::uint32_t size = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;  // negative: rows stored top-down
  int bitsPerPixel = 0;
  std::uint32_t compression = kCompressionNone;
  std::uint32_t coloursUsed = 0;
};

bool IsCore(const InfoHeader& h) {
  return h.size == kCoreHeaderSize;
}

bool IsKnownHeaderSize(std::uint32_t size) {
  switch (size) {
    case kCoreHeaderSize:
    case kInfoHeaderSize:
    case 52:   // with red, green and blue masks
    case 56:   // and an alpha mask
    case 108:  // and colour-space fields
    case 124:  // and an ICC profile reference
      return true;
    default:
      return false;
  }
}

Status ReadInfoHeader(std::span<const std::uint8_t> file, InfoHeader* h) {
  if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') return Status::NotBmp;
  if (file.size() < kFileHeaderSize + kHeaderSizeField) return Status::TruncatedHeader;
  h->size = Get32(file, kFileHeaderSize);
  if (!IsKnownHeaderSize(h->size)) return Status::UnsupportedHeader;
  if (file.size() - kFileHeaderSize < h->size) return Status::TruncatedHeader;
  if (IsCore(*h)) {
    h->width = Get16(file, 18);
    h->height = Get16(file, 20);
    h->bitsPerPixel = static_cast<int>(Get16(file, 24));
    return Status::Ok;
  }
  h->width = static_cast<std::int32_t>(Get32(file, 18));
  h->height = static_cast<std::int32_t>(Get32(file, 22));
  h->bitsPerPixel = static_cast<int>(Get16(file, 28));
  h->compression = Get32(file, 30);
  h->coloursUsed = Get32(file, 46);
  return Status::Ok;
}

bool IsKnownDepth(const InfoHeader& h) {
  switch (h.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 24:
      return true;
    case 16:
    case 32:
      return !IsCore(h);
    default:
      return false;
  }
}

bool UsesBitFields(const InfoHeader& h) {
  return h.compression == kCompressionBitFields || h.compression == kCompressionAlphaBitFields;
}

// Compression only where the format defines it: run-length for 8 and 4 bits, masks for 16 and 32.
Status ChooseEncoding(const InfoHeader& h, Layout* layout) {
  if (!IsKnownDepth(h)) return Status::UnsupportedDepth;
  const int bits = h.bitsPerPixel;
  if (h.compression == kCompressionNone) {
    layout->encoding = Encoding::Rows;
  } else if (h.compression == kCompressionRle8 && bits == 8) {
    layout->encoding = Encoding::RunLength8;
  } else if (h.compression == kCompressionRle4 && bits == 4) {
    layout->encoding = Encoding::RunLength4;
  } else if (UsesBitFields(h) && (bits == 16 || bits == 32)) {
    layout->encoding = Encoding::BitFields;
  } else {
    return Status::UnsupportedCompression;
  }
  layout->fileBitsPerPixel = bits;
  return Status::Ok;
}

Status DescribeMask(std::uint32_t mask, int fileBits, ChannelMask* channel) {
  if (mask == 0) return Status::BadBitFields;
  if (fileBits == 16 && mask > 0xFFFFu) return Status::BadBitFields;
  const int shift = std::countr_zero(mask);
  const std::uint32_t run = mask >> shift;
  if ((run & (run + 1)) != 0) return Status::BadBitFields;  // more than one run of ones
  *channel = {mask, shift, std::popcount(mask)};
  return Status::Ok;
}

bool SameMasks(const Layout& layout, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return layout.masks[0].mask == red && layout.masks[1].mask == green && layout.masks[2].mask == blue;
}

// Masks follow a 40-byte header and sit inside the longer ones. Masks that describe the
// uncompressed 5-5-5 or 8-8-8 layout keep the file's rows as they are; others decode to 24 bits.
Status ReadMasks(std::span<const std::uint8_t> file, const InfoHeader& h, Layout* layout) {
  const std::size_t at = kFileHeaderSize + kInfoHeaderSize;
  if (file.size() < at + 12) return Status::TruncatedHeader;
  for (std::size_t c = 0; c < 3; ++c) {
    const Status status = DescribeMask(Get32(file, at + 4 * c), h.bitsPerPixel, &layout->masks[c]);
    if (status != Status::Ok) return status;
  }
  const std::uint32_t r = layout->masks[0].mask, g = layout->masks[1].mask, b = layout->masks[2].mask;
  if ((r & g) != 0 || (r & b) != 0 || (g & b) != 0) return Status::BadBitFields;
  if ((h.bitsPerPixel == 16 && SameMasks(*layout, 0x7C00, 0x03E0, 0x001F)) ||
      (h.bitsPerPixel == 32 && SameMasks(*layout, 0xFF0000, 0xFF00, 0xFF))) {
    layout->encoding = Encoding::Rows;
  }
  return Status::Ok;
}

std::size_t MaskBytesAfterHeader(const InfoHeader& h) {
  if (h.size != kInfoHeaderSize || !UsesBitFields(h)) return 0;
  return h.compression == kCompressionAlphaBitFields ? 16 : 12;
}

// The core form has three-byte entries and no colour count; its table is whatever of the
// full one fits before the rows.
Status ReadPalette(std::span<const std::uint8_t> file, const InfoHeader& h, Layout* layout) {
  if (h.coloursUsed > kMaxColours) return Status::BadColourTable;
  if (h.bitsPerPixel > 8) return Status::Ok;
  const std::size_t start = kFileHeaderSize + h.size + MaskBytesAfterHeader(h);
  const std::size_t entryBytes = IsCore(h) ? 3 : 4;
  std::size_t count = h.coloursUsed != 0 ? h.coloursUsed : std::size_t{1} << h.bitsPerPixel;
  if (IsCore(h) && layout->pixelOffset > start)
    count = std::min<std::uint64_t>(count, (layout->pixelOffset - start) / entryBytes);
  if (file.size() < start || (file.size() - start) / entryBytes < count) return Status::BadColourTable;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* e = file.data() + start + i * entryBytes;
    layout->palette[i] = {e[0], e[1], e[2], 0};
  }
  layout->colourCount = static_cast<int>(count);
  return Status::Ok;
}

int DecodedBitsPerPixel(const Layout& layout) {
  switch (layout.encoding) {
    case Encoding::RunLength8:
      return 8;
    case Encoding::RunLength4:
      return 4;
    case Encoding::BitFields:
      return 24;
    case Encoding::Rows:
      break;
  }
  return layout.fileBitsPerPixel;
}

std::int64_t Stride(std::int64_t width, int bits) {
  return (width * bits + 31) / 32 * 4;
}

Status SizeRows(const InfoHeader& h, std::uint64_t maxPixelBytes, Layout* layout) {
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return Status::BadSize;
  layout->width = static_cast<int>(h.width);
  layout->topDown = h.height < 0;
  layout->height = static_cast<int>(layout->topDown ? -h.height : h.height);
  layout->bitsPerPixel = DecodedBitsPerPixel(*layout);
  layout->stride = Stride(h.width, layout->bitsPerPixel);
  layout->fileStride = static_cast<std::uint64_t>(Stride(h.width, layout->fileBitsPerPixel));
  if (layout->stride > INT32_MAX) return Status::TooLarge;
  const std::uint64_t bytes =
      static_cast<std::uint64_t>(layout->stride) * static_cast<std::uint64_t>(layout->height);
  return bytes > maxPixelBytes ? Status::TooLarge : Status::Ok;
}

// --- run-length streams ------------------------------------------------------------------------

void SetIndex(std::uint8_t* row, std::int64_t x, int bits, std::uint8_t index) {
  if (bits == 8) {
    row[x] = index;
    return;
  }
  std::uint8_t& pair = row[x / 2];
  pair = (x & 1) != 0 ? static_cast<std::uint8_t>((pair & 0xF0) | (index & 0x0F))
                      : static_cast<std::uint8_t>((pair & 0x0F) | (index << 4));
}

// Puts run-length pixels into the rows, dropping those outside the picture; without rows it
// only follows the stream, which is how Inspect checks it.
class IndexWriter {
 public:
  IndexWriter(const Layout& layout, std::uint8_t* topRow, std::ptrdiff_t rowStep)
      : m_layout(layout), m_topRow(topRow), m_rowStep(rowStep) {}

  // Pixels x .. x + n - 1 of file row `fileRow` take indexAt(0 .. n - 1).
  template <typename IndexAt>
  void Put(std::int64_t x, std::int64_t fileRow, std::int64_t n, IndexAt indexAt) {
    if (!m_topRow || fileRow >= m_layout.height || x >= m_layout.width) return;
    const std::int64_t y = m_layout.topDown ? fileRow : m_layout.height - 1 - fileRow;
    std::uint8_t* row = m_topRow + y * m_rowStep;
    const std::int64_t count = std::min<std::int64_t>(n, m_layout.width - x);
    for (std::int64_t i = 0; i < count; ++i) SetIndex(row, x + i, m_layout.bitsPerPixel, indexAt(i));
  }

 private:
  const Layout& m_layout;
  std::uint8_t* m_topRow;
  std::ptrdiff_t m_rowStep;
};

// Follows the stream to its end-of-bitmap, to the end of the data after the last row, or to a
// delta or end of line that leaves the picture. Every step consumes bytes, so a stream of n
// bytes takes at most n / 2 steps whatever sizes it claims.
Status WalkRunLength(std::span<const std::uint8_t> file, const Layout& layout, IndexWriter& out) {
  const bool nibbles = layout.encoding == Encoding::RunLength4;
  std::size_t at = static_cast<std::size_t>(layout.pixelOffset);
  std::int64_t x = 0;
  std::int64_t row = 0;
  while (row < layout.height) {
    if (file.size() - at < 2) return Status::TruncatedPixels;
    const std::uint8_t count = file[at];
    const std::uint8_t second = file[at + 1];
    at += 2;
    if (count > 0) {
      const auto hi = static_cast<std::uint8_t>(second >> 4), lo = static_cast<std::uint8_t>(second & 0x0F);
      if (nibbles)
        out.Put(x, row, count, [&](std::int64_t i) { return (i & 1) != 0 ? lo : hi; });
      else
        out.Put(x, row, count, [&](std::int64_t) { return second; });
      x += count;
    } else if (second == kEndOfLine) {
      x = 0;
      ++row;
    } else if (second == kEndOfBitmap) {
      return Status::Ok;
    } else if (second == kDelta) {
      if (file.size() - at < 2) return Status::TruncatedPixels;
      x += file[at];
      row += file[at + 1];
      at += 2;
    } else {
      // Literal pixels, their bytes padded to a multiple of two.
      const std::size_t bytes = nibbles ? (second + 1u) / 2 : second;
      const std::size_t padded = bytes + (bytes & 1);
      if (file.size() - at < padded) return Status::TruncatedPixels;
      const std::uint8_t* data = file.data() + at;
      if (nibbles)
        out.Put(x, row, second, [&](std::int64_t i) {
          return static_cast<std::uint8_t>((i & 1) != 0 ? data[i / 2] & 0x0F : data[i / 2] >> 4);
        });
      else
        out.Put(x, row, second, [&](std::int64_t i) { return data[i]; });
      x += second;
      at += padded;
    }
  }
  return Status::Ok;
}

Status CheckPixelData(std::span<const std::uint8_t> file, const Layout& layout) {
  if (layout.pixelOffset > file.size()) return Status::TruncatedPixels;
  if (layout.encoding == Encoding::RunLength8 || layout.encoding == Encoding::RunLength4) {
    IndexWriter walkOnly(layout, nullptr, 0);
    return WalkRunLength(file, layout, walkOnly);
  }
  const std::uint64_t available = file.size() - layout.pixelOffset;
  return available / layout.fileStride < static_cast<std::uint64_t>(layout.height) ? Status::TruncatedPixels
                                                                                   : Status::Ok;
}

// --- uncompressed rows -------------------------------------------------------------------------

// An n-bit channel value widened to 8 bits by repeating its bits, so full scale stays full.
std::uint8_t WidenChannel(std::uint32_t value, int bits) {
  if (bits >= 8) return static_cast<std::uint8_t>(value >> (bits - 8));
  std::uint32_t wide = 0;
  int filled = 0;
  while (filled < 8) {
    wide = (wide << bits) | value;
    filled += bits;
  }
  return static_cast<std::uint8_t>(wide >> (filled - 8));
}

void BitFieldRowToBgr(const Layout& layout, const std::uint8_t* in, std::uint8_t* bgr) {
  const std::size_t bytes = static_cast<std::size_t>(layout.fileBitsPerPixel / 8);
  for (int x = 0; x < layout.width; ++x, in += bytes, bgr += 3) {
    std::uint32_t pixel = 0;
    for (std::size_t i = bytes; i-- > 0;) pixel = pixel << 8 | in[i];
    for (int c = 0; c < 3; ++c) {
      const ChannelMask& m = layout.masks[static_cast<std::size_t>(c)];
      bgr[2 - c] = WidenChannel((pixel & m.mask) >> m.shift, m.bits);
    }
  }
}

std::uint8_t* RowAt(const Layout& layout, std::uint8_t* topRow, std::ptrdiff_t rowStep, int fileRow) {
  const int y = layout.topDown ? fileRow : layout.height - 1 - fileRow;
  return topRow + static_cast<std::ptrdiff_t>(y) * rowStep;
}

}  // namespace

const char* StatusText(Status status) {
  switch (status) {
    case Status::Ok:
      return "no error";
    case Status::Unreadable:
      return "the file cannot be read";
    case Status::NotBmp:
      return "not a BMP file";
    case Status::TruncatedHeader:
      return "the BMP header is cut short";
    case Status::UnsupportedHeader:
      return "unsupported BMP header size";
    case Status::BadSize:
      return "the BMP width or height is zero or negative";
    case Status::TooLarge:
      return "the picture is too large";
    case Status::UnsupportedDepth:
      return "unsupported bits per pixel";
    case Status::UnsupportedCompression:
      return "unsupported BMP compression";
    case Status::BadColourTable:
      return "the colour table is too long or cut short";
    case Status::BadBitFields:
      return "bad colour bit masks";
    case Status::TruncatedPixels:
      return "the pixel data is cut short";
  }
  return "unknown BMP status";
}

Status Inspect(std::span<const std::uint8_t> file, std::uint64_t maxPixelBytes, Layout* layout) {
  *layout = Layout{};
  InfoHeader h;
  Status status = ReadInfoHeader(file, &h);
  if (status != Status::Ok) return status;
  layout->pixelOffset = Get32(file, 10);
  status = ChooseEncoding(h, layout);
  if (status == Status::Ok && layout->encoding == Encoding::BitFields) status = ReadMasks(file, h, layout);
  if (status == Status::Ok) status = ReadPalette(file, h, layout);
  if (status == Status::Ok) status = SizeRows(h, maxPixelBytes, layout);
  if (status == Status::Ok) status = CheckPixelData(file, *layout);
  return status;
}

void Decode(std::span<const std::uint8_t> file, const Layout& layout, std::uint8_t* topRow,
            std::ptrdiff_t rowStep) {
  const auto stride = static_cast<std::size_t>(layout.stride);
  if (layout.encoding == Encoding::RunLength8 || layout.encoding == Encoding::RunLength4) {
    for (int y = 0; y < layout.height; ++y) std::memset(topRow + y * rowStep, 0, stride);
    IndexWriter out(layout, topRow, rowStep);
    WalkRunLength(file, layout, out);
    return;
  }
  const std::uint8_t* in = file.data() + layout.pixelOffset;
  for (int k = 0; k < layout.height; ++k, in += layout.fileStride) {
    std::uint8_t* row = RowAt(layout, topRow, rowStep, k);
    if (layout.encoding == Encoding::BitFields) {
      BitFieldRowToBgr(layout, in, row);
      std::memset(row + 3 * static_cast<std::size_t>(layout.width), 0,
                  stride - 3 * static_cast<std::size_t>(layout.width));
    } else {
      std::memcpy(row, in, stride);
    }
  }
}

void ExpandRowToBgr(const Layout& layout, const std::uint8_t* row, std::uint8_t* bgr) {
  const int bits = layout.bitsPerPixel;
  for (int x = 0; x < layout.width; ++x, bgr += 3) {
    if (bits <= 8) {
      const int perByte = 8 / bits;
      const int shift = 8 - bits * (x % perByte + 1);
      const Colour& c = layout.palette[(row[x / perByte] >> shift) & ((1 << bits) - 1)];
      bgr[0] = c.blue;
      bgr[1] = c.green;
      bgr[2] = c.red;
    } else if (bits == 16) {
      const std::uint32_t v = static_cast<std::uint32_t>(row[2 * x] | (row[2 * x + 1] << 8));
      bgr[0] = WidenChannel(v & 31u, 5);
      bgr[1] = WidenChannel((v >> 5) & 31u, 5);
      bgr[2] = WidenChannel((v >> 10) & 31u, 5);
    } else {
      std::memcpy(bgr, row + static_cast<std::ptrdiff_t>(x) * (bits / 8), 3);
    }
  }
}

}  // namespace bmp
