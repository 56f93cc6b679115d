// BMP files: a 14-byte file header, the 40-byte information header, an optional colour
// table and uncompressed rows padded to four bytes. All numbers are little-endian.
#include "document/picture_dib.h"

#include <QFile>

#include <array>
#include <climits>
#include <cstring>

namespace {

constexpr std::uint16_t kSignature = 0x4D42;  // "BM"
constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
// A picture whose rows would need more memory than this is refused before anything is
// allocated for it, whatever its header claims.
constexpr std::uint64_t kMaxPixelBytes = std::uint64_t{1} << 30;

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

class File {
 public:
  explicit File(std::FILE* f) : m_file(f) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (m_file) std::fclose(m_file);
  }
  std::FILE* get() const { return m_file; }
  bool Read(void* buffer, std::size_t bytes) { return std::fread(buffer, 1, bytes, m_file) == bytes; }

 private:
  std::FILE* m_file;
};

struct BmpLayout {
  platform::BitmapInfoHeader header;
  std::uint32_t pixelOffset;
  int height;  // positive
  bool topDown;
  std::int64_t stride;
  int colours;
};

bool IsReadableDepth(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

platform::BitmapInfoHeader ParseInfoHeader(const std::uint8_t* p) {
  platform::BitmapInfoHeader h{};
  h.size = U32(p);
  h.width = static_cast<std::int32_t>(U32(p + 4));
  h.height = static_cast<std::int32_t>(U32(p + 8));
  h.planes = U16(p + 12);
  h.bitCount = U16(p + 14);
  h.compression = U32(p + 16);
  h.sizeImage = U32(p + 20);
  h.xPelsPerMeter = static_cast<std::int32_t>(U32(p + 24));
  h.yPelsPerMeter = static_cast<std::int32_t>(U32(p + 28));
  h.clrUsed = U32(p + 32);
  h.clrImportant = U32(p + 36);
  return h;
}

// Checks every field the reader relies on before any arithmetic or allocation uses it:
// uncompressed rows only (run-length and bit-field files are refused), at most 256 colours,
// sizes in range, and all rows inside the file.
bool DescribeRows(const platform::BitmapInfoHeader& h, std::uint32_t pixelOffset, std::int64_t fileSize,
                  BmpLayout& out) {
  if (h.size != kInfoHeaderSize || h.compression != platform::kCompressionNone) return false;
  if (!IsReadableDepth(h.bitCount) || h.clrUsed > platform::kColorTableEntries) return false;
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return false;
  out.header = h;
  out.pixelOffset = pixelOffset;
  out.topDown = h.height < 0;
  out.height = out.topDown ? -h.height : h.height;
  out.stride = platform::DibStride(h.width, h.bitCount);
  const auto rowBytes = static_cast<std::uint64_t>(out.stride) * static_cast<std::uint64_t>(out.height);
  if (rowBytes > kMaxPixelBytes) return false;
  if (static_cast<std::uint64_t>(pixelOffset) + rowBytes > static_cast<std::uint64_t>(fileSize)) return false;
  out.colours = h.clrUsed != 0 ? static_cast<int>(h.clrUsed) : (h.bitCount <= 8 ? 1 << h.bitCount : 0);
  return true;
}

std::int64_t FileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return size;
}

}  // namespace

HRESULT CPictureDib::LoadBmp(const QString& path) {
  File file(std::fopen(QFile::encodeName(path).constData(), "rb"));
  if (!file.get()) return E_FAIL;
  const std::int64_t fileSize = FileSize(file.get());
  if (fileSize < 0) return E_FAIL;

  std::uint8_t headers[kFileHeaderSize + kInfoHeaderSize];
  if (!file.Read(headers, sizeof headers) || U16(headers) != kSignature) return E_FAIL;
  BmpLayout layout{};
  if (!DescribeRows(ParseInfoHeader(headers + kFileHeaderSize), U32(headers + 10), fileSize, layout))
    return E_FAIL;

  // The section is always top-down; the file's own row order decides where each row goes.
  m_header.reset(new (std::nothrow) platform::BitmapInfo{});
  if (!m_header) return E_FAIL;
  platform::BitmapInfoHeader& h = m_header->header;
  h.size = kInfoHeaderSize;
  h.width = layout.header.width;
  h.height = -layout.height;
  h.planes = 1;
  h.bitCount = layout.header.bitCount;
  h.compression = platform::kCompressionNone;
  auto section = platform::CreateDIBSection(*m_header, nullptr);
  if (!section) {
    m_header.reset();
    return E_FAIL;
  }
  AttachBitmap(std::move(section), false);
  h.height = m_height;

  std::array<platform::RgbQuad, platform::kColorTableEntries> colours{};
  const auto colourBytes = static_cast<std::size_t>(layout.colours) * sizeof(platform::RgbQuad);
  if (colourBytes > 0 && !file.Read(colours.data(), colourBytes)) {
    Release();
    return E_FAIL;
  }
  if (layout.colours > 0 && m_bitsPerPixel <= 8) {
    platform::DrawingContext* dc = BorrowDC();
    platform::SetDIBColorTable(*dc, 0, static_cast<unsigned>(layout.colours), colours.data());
    ReturnDC();
  }

  if (std::fseek(file.get(), static_cast<long>(layout.pixelOffset), SEEK_SET) != 0) {
    Release();
    return E_FAIL;
  }
  const auto stride = static_cast<std::size_t>(layout.stride);
  for (int k = 0; k < m_height; ++k) {
    const int y = layout.topDown ? k : m_height - 1 - k;
    if (!file.Read(Row(y), stride)) {
      Release();
      return E_FAIL;
    }
  }
  return S_OK;
}

HRESULT CPictureDib::WriteBmp(std::FILE* file) const {
  const std::uint32_t stride = static_cast<std::uint32_t>(m_rowStep < 0 ? -m_rowStep : m_rowStep);
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(stride) * static_cast<std::uint32_t>(m_height);
  const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize;
  if (rowBytes + offset > UINT32_MAX) return E_FAIL;

  std::uint8_t headers[kFileHeaderSize + kInfoHeaderSize] = {};
  Put16(headers, kSignature);
  Put32(headers + 2, static_cast<std::uint32_t>(offset + rowBytes));
  Put32(headers + 10, offset);
  std::uint8_t* info = headers + kFileHeaderSize;
  Put32(info, kInfoHeaderSize);
  Put32(info + 4, static_cast<std::uint32_t>(m_width));
  Put32(info + 8, static_cast<std::uint32_t>(m_height));
  Put16(info + 12, 1);
  Put16(info + 14, static_cast<std::uint32_t>(m_bitsPerPixel));
  if (std::fwrite(headers, 1, sizeof headers, file) != sizeof headers) return E_FAIL;
  for (int y = m_height - 1; y >= 0; --y) {
    if (std::fwrite(Row(y), 1, stride, file) != stride) return E_FAIL;
  }
  return S_OK;
}
