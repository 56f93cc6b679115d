#include "document/picture_file.h"
#include "document/picture_dib.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

QString Extension(const QString& path) {
  const qsizetype slash = path.lastIndexOf('/');
  const qsizetype dot = path.lastIndexOf('.');
  if (dot < 0 || dot < slash) return {};
  return path.mid(dot);
}

// Permissions for the new file: those of the file it replaces, or what a plain create would give.
mode_t NewFileMode(const QByteArray& target) {
  struct stat existing {};
  if (::stat(target.constData(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool IsJpegPath(const QString& path) {
  QString extension = Extension(path);
  for (QChar& c : extension)
    if (c >= 'a' && c <= 'z') c = QChar(c.unicode() - 'a' + 'A');
  return extension == ".JPG" || extension == ".JPEG";
}

PictureKind SniffPictureKind(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return PictureKind::Unreadable;
  const QByteArray start = file.read(2);
  if (start == QByteArray("\xFF\xD8", 2)) return PictureKind::Jpeg;
  if (start == "BM") return PictureKind::Bmp;
  return PictureKind::Other;
}

QString PictureProblemText(PictureProblem problem) {
  switch (problem) {
    case PictureProblem::None:
      return {};
    case PictureProblem::CannotOpen:
      return "无法打开文件";
    case PictureProblem::NotJpegOrBmp:
      return "不是 JPEG 或 BMP 图片";
    case PictureProblem::Truncated:
      return "文件不完整（已被截断）";
    case PictureProblem::Damaged:
      return "图片数据已损坏";
    case PictureProblem::UnsupportedKind:
      return "不支持这种图片";
    case PictureProblem::TooLarge:
      return "图片太大";
  }
  return {};
}

namespace {

std::uint32_t Le32(const QByteArray& b, int at) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(b.constData()) + at;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const QByteArray& b, int at) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(b.constData()) + at;
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Width, height and depth from an information header of 40 bytes or more, or from the old
// 12-byte core header with its 16-bit sizes.
struct BmpGeometry {
  std::int64_t width = 0;
  std::int64_t height = 0;  // positive
  int bits = 0;
  std::uint32_t compression = 0;
};

constexpr int kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kBitFields = 3;

std::optional<BmpGeometry> ReadBmpGeometry(const QByteArray& head, std::uint32_t headerSize) {
  BmpGeometry g;
  if (headerSize == kCoreHeaderSize) {
    g.width = Le16(head, kFileHeaderSize + 4);
    g.height = Le16(head, kFileHeaderSize + 6);
    g.bits = Le16(head, kFileHeaderSize + 10);
    return g;
  }
  if (headerSize < 40) return std::nullopt;
  g.width = static_cast<std::int32_t>(Le32(head, kFileHeaderSize + 4));
  g.height = std::abs(std::int64_t{static_cast<std::int32_t>(Le32(head, kFileHeaderSize + 8))});
  g.bits = Le16(head, kFileHeaderSize + 14);
  g.compression = Le32(head, kFileHeaderSize + 16);
  return g;
}

}  // namespace

PictureProblem DiagnoseBmp(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return PictureProblem::CannotOpen;
  const qint64 fileSize = file.size();
  const QByteArray head = file.read(kFileHeaderSize + 40);
  if (head.size() < kFileHeaderSize + 4) return PictureProblem::Truncated;
  const std::uint32_t headerSize = Le32(head, kFileHeaderSize);
  if (fileSize < kFileHeaderSize + std::int64_t{headerSize}) return PictureProblem::Truncated;
  const auto geometry = ReadBmpGeometry(head, headerSize);
  if (!geometry || geometry->width <= 0 || geometry->height <= 0) return PictureProblem::UnsupportedKind;
  // Every picture is placed as 24 bits per pixel, whatever its depth in the file.
  const auto placedBytes = static_cast<std::uint64_t>(platform::DibStride(geometry->width, 24)) *
                           static_cast<std::uint64_t>(geometry->height);
  if (placedBytes > platform::BitmapByteLimit()) return PictureProblem::TooLarge;
  const bool plainRows =
      geometry->compression == platform::kCompressionNone || geometry->compression == kBitFields;
  if (plainRows && geometry->bits > 0 && geometry->bits <= 32) {
    const std::uint64_t rows =
        static_cast<std::uint64_t>(platform::DibStride(geometry->width, geometry->bits)) *
        static_cast<std::uint64_t>(geometry->height);
    if (std::uint64_t{Le32(head, 10)} + rows > static_cast<std::uint64_t>(fileSize))
      return PictureProblem::Truncated;
  }
  return PictureProblem::UnsupportedKind;
}

bool JpegEndsWithEoi(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  constexpr qint64 kTail = 4096;
  const qint64 size = file.size();
  if (!file.seek(std::max<qint64>(0, size - kTail))) return false;
  QByteArray tail = file.readAll();
  while (!tail.isEmpty() && tail.back() == '\0') tail.chop(1);
  return tail.endsWith(QByteArray("\xFF\xD9", 2));
}

HRESULT CPictureDib::LoadFile(const QString& path, PictureProblem* problem) {
  Release();
  PictureProblem found = PictureProblem::None;
  HRESULT status = E_FAIL;
  switch (SniffPictureKind(path)) {
    case PictureKind::Unreadable:
      found = PictureProblem::CannotOpen;
      break;
    case PictureKind::Other:
      found = PictureProblem::NotJpegOrBmp;
      break;
    case PictureKind::Jpeg:
      status = LoadJpeg(path, found);
      break;
    case PictureKind::Bmp:
      status = LoadBmp(path);
      if (status != S_OK) found = DiagnoseBmp(path);
      break;
  }
  if (problem) *problem = status == S_OK ? PictureProblem::None : found;
  return status;
}

HRESULT CPictureDib::SaveFile(const QString& path) const {
  if (!m_bitmap || m_bitsPerPixel != 24) return E_FAIL;
  const QFileInfo info(path);
  const QByteArray target = QFile::encodeName(path);
  QByteArray temporary = QFile::encodeName(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return E_FAIL;

  HRESULT status = ::fchmod(fd, NewFileMode(target)) == 0 ? S_OK : E_FAIL;
  if (IsJpegPath(path)) {
    ::close(fd);
    if (status == S_OK) status = WriteJpeg(QFile::decodeName(temporary));
  } else if (std::FILE* file = ::fdopen(fd, "wb")) {
    if (status == S_OK) status = WriteBmp(file);
    if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) status = E_FAIL;
    if (std::fclose(file) != 0) status = E_FAIL;
  } else {
    ::close(fd);
    status = E_FAIL;
  }

  if (status == S_OK && std::rename(temporary.constData(), target.constData()) != 0) status = E_FAIL;
  if (status != S_OK) ::unlink(temporary.constData());
  return status;
}
