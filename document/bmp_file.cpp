// BMP files. Reading goes through the shared reader (document/bmp/), which checks the whole
// file before the section is made; writing produces the 14-byte file header, the 40-byte
// information header and 24-bit rows, bottom row first.
#include "document/bmp_file.h"

#include "document/picture_dib.h"

#include <QFile>

#include <algorithm>
#include <memory>
#include <new>

namespace {

constexpr std::uint16_t kSignature = 0x4D42;  // "BM"
constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;

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

 private:
  std::FILE* m_file;
};

// The whole file is read before it is checked, so its length is bounded first. A picture the
// section can hold is not this long as a file: 32-bit masked rows take 4/3 of their 24-bit
// section, run-length streams written a pixel or two per run up to four times the 4-bit rows
// they make.
std::uint64_t MaxFileBytes() {
  const std::uint64_t limit = std::min(platform::BitmapByteLimit(), std::uint64_t{1} << 60);
  return limit * 4 + (std::uint64_t{1} << 20);
}

struct FileBytes {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
  std::span<const std::uint8_t> span() const { return {data.get(), size}; }
};

bmp::Status ReadWholeFile(const QString& path, FileBytes* bytes) {
  File file(std::fopen(QFile::encodeName(path).constData(), "rb"));
  if (!file.get() || std::fseek(file.get(), 0, SEEK_END) != 0) return bmp::Status::Unreadable;
  const long size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return bmp::Status::Unreadable;
  if (static_cast<std::uint64_t>(size) > MaxFileBytes()) return bmp::Status::TooLarge;
  bytes->size = static_cast<std::size_t>(size);
  bytes->data.reset(new (std::nothrow) std::uint8_t[bytes->size + 1]);
  if (!bytes->data) return bmp::Status::TooLarge;
  if (std::fread(bytes->data.get(), 1, bytes->size, file.get()) != bytes->size)
    return bmp::Status::Unreadable;
  return bmp::Status::Ok;
}

void SetColourTable(const CPictureDib& picture, const bmp::Layout& layout) {
  if (layout.colourCount == 0) return;
  platform::RgbQuad colours[platform::kColorTableEntries] = {};
  for (int i = 0; i < layout.colourCount; ++i) {
    const bmp::Colour& c = layout.palette[static_cast<std::size_t>(i)];
    colours[i] = {c.blue, c.green, c.red, 0};
  }
  platform::DrawingContext* dc = picture.BorrowDC();
  platform::SetDIBColorTable(*dc, 0, static_cast<unsigned>(layout.colourCount), colours);
  picture.ReturnDC();
}

}  // namespace

bmp::Status LoadBmpFile(const QString& path, CPictureDib& picture) {
  FileBytes file;
  bmp::Status status = ReadWholeFile(path, &file);
  if (status != bmp::Status::Ok) return status;
  bmp::Layout layout;
  status = bmp::Inspect(file.span(), platform::BitmapByteLimit(), &layout);
  if (status != bmp::Status::Ok) return status;
  // A top-down section: the reader puts each file row where it belongs in the picture.
  if (!picture.Create(layout.width, layout.height, layout.bitsPerPixel)) return bmp::Status::TooLarge;
  SetColourTable(picture, layout);
  bmp::Decode(file.span(), layout, picture.Row(0), picture.RowStep());
  return bmp::Status::Ok;
}

HRESULT CPictureDib::LoadBmp(const QString& path) {
  return LoadBmpFile(path, *this) == bmp::Status::Ok ? S_OK : E_FAIL;
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
