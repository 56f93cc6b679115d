#include "document/picture_file.h"
#include "document/picture_dib.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

HRESULT CPictureDib::LoadFile(const QString& path) {
  Release();
  return IsJpegPath(path) ? LoadJpeg(path) : LoadBmp(path);
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
