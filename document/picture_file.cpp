#include "document/picture_file.h"
#include "document/bmp_file.h"
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

QStringList PictureFileFilters() {
  return {"All Support Media Files (*.jpg *.jpeg *.bmp)", "JPEG Files (*.jpg *.jpeg)", "Bitmap Files (*.bmp)",
          "All Files (*.*)"};
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

PictureProblem BmpProblem(bmp::Status status) {
  switch (status) {
    case bmp::Status::Ok:
      return PictureProblem::None;
    case bmp::Status::Unreadable:
      return PictureProblem::CannotOpen;
    case bmp::Status::NotBmp:
      return PictureProblem::NotJpegOrBmp;
    case bmp::Status::TruncatedHeader:
    case bmp::Status::TruncatedPixels:
      return PictureProblem::Truncated;
    case bmp::Status::TooLarge:
      return PictureProblem::TooLarge;
    case bmp::Status::BadSize:
    case bmp::Status::BadColourTable:
    case bmp::Status::BadBitFields:
      return PictureProblem::Damaged;
    case bmp::Status::UnsupportedHeader:
    case bmp::Status::UnsupportedDepth:
    case bmp::Status::UnsupportedCompression:
      return PictureProblem::UnsupportedKind;
  }
  return PictureProblem::Damaged;
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
      found = BmpProblem(LoadBmpFile(path, *this));
      if (found == PictureProblem::None) status = S_OK;
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
