#include "codec/file_io.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int32_t kGatherBytes = 256 * 1024;

// Handles are descriptor + 1 so that a zeroed record holds "no file".
int descriptorOf(JpegFileHandle file) {
  return static_cast<int>(file - 1);
}

// Regular files opened for writing gather the encoder's small writes: the kernel takes one
// large write for a fraction of the cost of many page-sized ones. Devices and pipes (and a
// file whose buffer could not be had) get every write as it comes, so a failure shows at the
// write that meets it. A gathering belongs to one open descriptor, found by its number.
struct Gathering {
  int descriptor = -1;
  std::unique_ptr<uint8_t[]> bytes;
  int32_t used = 0;
};

std::mutex gatheringsLock;
std::vector<std::unique_ptr<Gathering>> gatherings;
// Lets reads skip the lock while no file gathers.
std::atomic<int32_t> gatheringCount{0};

Gathering* gatheringOf(JpegFileHandle file) {
  if (gatheringCount.load(std::memory_order_acquire) == 0) return nullptr;
  const std::lock_guard<std::mutex> lock(gatheringsLock);
  for (const std::unique_ptr<Gathering>& gathering : gatherings)
    if (gathering->descriptor == descriptorOf(file)) return gathering.get();
  return nullptr;
}

void startGathering(int descriptor) {
  auto gathering = std::unique_ptr<Gathering>(new (std::nothrow) Gathering);
  if (gathering == nullptr) return;
  gathering->bytes.reset(new (std::nothrow) uint8_t[kGatherBytes]);
  if (gathering->bytes == nullptr) return;
  gathering->descriptor = descriptor;
  const std::lock_guard<std::mutex> lock(gatheringsLock);
  gatherings.push_back(std::move(gathering));
  gatheringCount.fetch_add(1, std::memory_order_release);
}

void endGathering(const Gathering* gathering) {
  const std::lock_guard<std::mutex> lock(gatheringsLock);
  for (std::unique_ptr<Gathering>& entry : gatherings) {
    if (entry.get() != gathering) continue;
    entry = std::move(gatherings.back());
    gatherings.pop_back();
    gatheringCount.fetch_sub(1, std::memory_order_release);
    return;
  }
}

bool isRegularFile(int descriptor) {
  struct stat status {};
  return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

// Writes `count` bytes, resuming short writes; stops early when the file takes no more.
// False, with errno set, when a write fails.
bool writeAll(int descriptor, const uint8_t* bytes, int32_t count, int32_t* countWritten) {
  int32_t done = 0;
  bool ok = true;
  while (done < count) {
    const ssize_t put = ::write(descriptor, bytes + done, static_cast<size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) ok = false;
    if (put <= 0) break;
    done += static_cast<int32_t>(put);
  }
  *countWritten = done;
  return ok;
}

// Writes out what the file has gathered. False, with errno set, unless all of it went; the
// gathered bytes are dropped either way (a failed write is not retried).
bool flushGathered(Gathering* gathering) {
  if (gathering == nullptr || gathering->used == 0) return true;
  int32_t written = 0;
  const bool ok = writeAll(gathering->descriptor, gathering->bytes.get(), gathering->used, &written);
  const bool complete = written == gathering->used;
  gathering->used = 0;
  if (ok && !complete) errno = ENOSPC;  // the file took no more
  return ok && complete;
}

}  // namespace

JpegFileHandle fileOpen(const char* name, FileAccess access) {
  if (name == nullptr) return 0;
  const int flags = access == FileAccess::Read ? O_RDONLY : (O_RDWR | O_CREAT | O_TRUNC);
  const int descriptor = ::open(name, flags | O_CLOEXEC, 0644);
  if (descriptor < 0) return 0;
  if (access == FileAccess::ReadWrite && isRegularFile(descriptor)) startGathering(descriptor);
  return static_cast<JpegFileHandle>(descriptor) + 1;
}

bool fileClose(JpegFileHandle file) {
  if (file <= 0) return false;
  Gathering* gathering = gatheringOf(file);
  const bool flushed = flushGathered(gathering);
  const int flushErrno = errno;
  if (gathering != nullptr) endGathering(gathering);
  const bool closed = ::close(descriptorOf(file)) == 0;
  // The failed write's reason is the one to report.
  if (!flushed) errno = flushErrno;
  return flushed && closed;
}

bool fileRead(JpegFileHandle file, uint8_t* buffer, int32_t count, int32_t* countRead) {
  *countRead = 0;
  if (file <= 0 || count < 0) return false;
  if (!flushGathered(gatheringOf(file))) return false;
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
  Gathering* gathering = gatheringOf(file);
  if (gathering == nullptr) return writeAll(descriptorOf(file), buffer, count, countWritten);
  if (count > kGatherBytes - gathering->used && !flushGathered(gathering)) return false;
  if (count >= kGatherBytes) return writeAll(descriptorOf(file), buffer, count, countWritten);
  if (count == 0) return true;  // an empty write may come without a buffer
  std::memcpy(gathering->bytes.get() + gathering->used, buffer, static_cast<size_t>(count));
  gathering->used += count;
  *countWritten = count;
  return true;
}

bool fileSeek(JpegFileHandle file, int64_t distance, SeekOrigin origin) {
  if (file <= 0) return false;
  if (!flushGathered(gatheringOf(file))) return false;
  const int whence = origin == SeekOrigin::Start ? SEEK_SET : SEEK_CUR;
  return ::lseek(descriptorOf(file), static_cast<off_t>(distance), whence) != static_cast<off_t>(-1);
}
