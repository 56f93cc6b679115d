#include "codec/file_io.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Handles are descriptor + 1 so that a zeroed record holds "no file".
int descriptorOf(JpegFileHandle file) {
  return static_cast<int>(file - 1);
}

}  // namespace

JpegFileHandle fileOpen(const char* name, FileAccess access) {
  if (name == nullptr) return 0;
  const int flags = access == FileAccess::Read ? O_RDONLY : (O_RDWR | O_CREAT | O_TRUNC);
  const int descriptor = ::open(name, flags | O_CLOEXEC, 0644);
  if (descriptor < 0) return 0;
  return static_cast<JpegFileHandle>(descriptor) + 1;
}

bool fileClose(JpegFileHandle file) {
  if (file <= 0) return false;
  return ::close(descriptorOf(file)) == 0;
}

bool fileRead(JpegFileHandle file, uint8_t* buffer, int32_t count, int32_t* countRead) {
  *countRead = 0;
  if (file <= 0 || count < 0) return false;
  for (;;) {
    const ssize_t got = ::read(descriptorOf(file), buffer, static_cast<size_t>(count));
    if (got >= 0) {
      *countRead = static_cast<int32_t>(got);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

bool fileWrite(JpegFileHandle file, const uint8_t* buffer, int32_t count, int32_t* countWritten) {
  *countWritten = 0;
  if (file <= 0 || count < 0) return false;
  int32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(descriptorOf(file), buffer + done, static_cast<size_t>(count - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      *countWritten = done;
      return false;
    }
    if (put == 0) break;
    done += static_cast<int32_t>(put);
  }
  *countWritten = done;
  return true;
}

bool fileSeek(JpegFileHandle file, int64_t distance, SeekOrigin origin) {
  if (file <= 0) return false;
  const int whence = origin == SeekOrigin::Start ? SEEK_SET : SEEK_CUR;
  return ::lseek(descriptorOf(file), static_cast<off_t>(distance), whence) != static_cast<off_t>(-1);
}
