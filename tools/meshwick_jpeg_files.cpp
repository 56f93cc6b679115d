#include "tools/meshwick_jpeg_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

namespace tool_files {

std::string readProblem(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errnoText("cannot open");
  struct stat status {};
  std::string problem;
  if (::fstat(descriptor, &status) != 0)
    problem = errnoText("cannot read");
  else if (S_ISDIR(status.st_mode))
    problem = std::strerror(EISDIR);
  ::close(descriptor);
  return problem;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

std::string errnoText(const char* fallback) {
  return errno != 0 ? std::strerror(errno) : fallback;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    const char c = tail[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != suffix[i]) return false;
  }
  return true;
}

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;

bool isRestartMarker(uint8_t code) {
  return code >= 0xD0 && code <= 0xD7;
}

// Where the coded data starting at `position` ends: at the first marker that is neither a
// stuffed zero nor a restart marker. `size` when the bytes end first.
size_t endOfCodedData(const uint8_t* bytes, size_t size, size_t position) {
  while (position < size) {
    const auto* prefix =
        static_cast<const uint8_t*>(std::memchr(bytes + position, kMarkerPrefix, size - position));
    if (prefix == nullptr || prefix + 1 >= bytes + size) return size;
    const size_t at = static_cast<size_t>(prefix - bytes);
    const uint8_t code = bytes[at + 1];
    if (code == 0x00 || isRestartMarker(code))
      position = at + 2;
    else if (code == kMarkerPrefix)
      position = at + 1;
    else
      return at;
  }
  return size;
}

}  // namespace

bool endsBeforeTheImageDoes(const uint8_t* bytes, size_t size) {
  constexpr uint8_t kStartOfImage = 0xD8, kEndOfImage = 0xD9, kStartOfScan = 0xDA;
  // Bytes before the first start of image, and between segments, are skipped as the codec does.
  const uint8_t startOfImage[] = {kMarkerPrefix, kStartOfImage};
  const uint8_t* first = std::search(bytes, bytes + size, std::begin(startOfImage), std::end(startOfImage));
  if (first == bytes + size) return false;
  size_t position = static_cast<size_t>(first - bytes) + 2;
  bool scanSeen = false;
  while (position < size) {
    const auto* prefix =
        static_cast<const uint8_t*>(std::memchr(bytes + position, kMarkerPrefix, size - position));
    if (prefix == nullptr) break;
    position = static_cast<size_t>(prefix - bytes);
    while (position < size && bytes[position] == kMarkerPrefix) ++position;
    if (position == size) break;
    const uint8_t code = bytes[position++];
    // A tables-only stream may come first; its end is not the image's.
    if (code == kEndOfImage && (scanSeen || position == size)) return false;
    if (code == kEndOfImage || code == kStartOfImage || isRestartMarker(code) || code == 0x01) continue;
    if (size - position < 2) break;
    const size_t length = static_cast<size_t>(bytes[position]) << 8 | bytes[position + 1];
    if (length < 2) return false;
    if (size - position < length) break;
    position += length;
    if (code == kStartOfScan) {
      scanSeen = true;
      position = endOfCodedData(bytes, size, position);
    }
  }
  return true;
}

std::string writeAll(int descriptor, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    errno = 0;
    const ssize_t written = ::write(descriptor, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return errnoText("the write failed");
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return {};
}

}  // namespace tool_files

namespace tool_files {

MappedOutput::~MappedOutput() {
  finish();
}

std::string MappedOutput::create(const std::string& path, size_t size) {
  errno = 0;
  descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor_ < 0) return errnoText("cannot create the file");
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor_);
    descriptor_ = -1;
    return kNotRegular;
  }
  created_ = true;
  const int reserved = ::posix_fallocate(descriptor_, 0, static_cast<off_t>(size));
  if (reserved != 0) return std::strerror(reserved);
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor_, 0);
  if (mapping == MAP_FAILED) return errnoText("cannot map the file");
  data_ = static_cast<uint8_t*>(mapping);
  size_ = size;
  created_ = true;
  return {};
}

std::string MappedOutput::finish() {
  std::string problem;
  if (data_ != nullptr && ::munmap(data_, size_) != 0) problem = errnoText("cannot unmap the file");
  data_ = nullptr;
  if (descriptor_ >= 0 && ::close(descriptor_) != 0 && problem.empty())
    problem = errnoText("cannot close the file");
  descriptor_ = -1;
  return problem;
}

}  // namespace tool_files

namespace tool_files {

PopulatedMemory::~PopulatedMemory() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

bool PopulatedMemory::allocate(size_t size) {
  if (size == 0) size = 1;
  void* area =
      ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (area == MAP_FAILED) return false;
  data_ = static_cast<uint8_t*>(area);
  size_ = size;
  return true;
}

}  // namespace tool_files

namespace tool_files {

std::string readWholeFile(const std::string& path, Bytes* bytes, size_t limit) {
  errno = 0;
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errnoText("cannot open");
  struct stat status {};
  const bool sized = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  // A regular file is read into a buffer of its size; anything else grows as it comes.
  size_t capacity = sized ? static_cast<size_t>(status.st_size) + 1 : size_t{1} << 16;
  std::string problem;
  size_t used = 0;
  for (;;) {
    if (used > limit) {
      problem = "too large (more than " + std::to_string(limit) + " bytes)";
      break;
    }
    if (used == capacity) capacity *= 2;
    bytes->resize(std::min(capacity, limit + 1));
    errno = 0;
    const ssize_t count = ::read(descriptor, bytes->data() + used, bytes->size() - used);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      problem = errnoText("the read failed");
      break;
    }
    if (count == 0) break;
    used += static_cast<size_t>(count);
  }
  ::close(descriptor);
  bytes->resize(used);
  return problem;
}

}  // namespace tool_files

namespace tool_files {

MappedInput::~MappedInput() {
  if (data_ != nullptr) ::munmap(data_, reserved_);
}

std::string MappedInput::map(const std::string& path, size_t limit) {
  errno = 0;
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errnoText("cannot open");
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
    ::close(descriptor);
    return kNotMappable;
  }
  const auto size = static_cast<size_t>(status.st_size);
  if (size > limit) {
    ::close(descriptor);
    return "too large (more than " + std::to_string(limit) + " bytes)";
  }
  // Zero pages first, then the file over their start: the pages past the file stay zero.
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t reserved = (size + page - 1) / page * page + page;
  void* area = ::mmap(nullptr, reserved, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) {
    ::close(descriptor);
    return kNotMappable;
  }
  void* file = ::mmap(area, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, descriptor, 0);
  ::close(descriptor);
  if (file == MAP_FAILED) {
    ::munmap(area, reserved);
    return kNotMappable;
  }
  data_ = static_cast<uint8_t*>(file);
  size_ = size;
  reserved_ = reserved;
  return {};
}

namespace {

// What the bus-error handler says and removes; set by the live guard.
const char* guardProgram = nullptr;
const char* guardPath = nullptr;
const char* guardRemove = nullptr;
struct sigaction previousBusAction {};

void writeText(const char* text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void onBusError(int) {
  if (guardRemove != nullptr && guardRemove[0] != '\0') ::unlink(guardRemove);
  writeText(guardProgram);
  writeText(": ");
  writeText(guardPath);
  writeText(": the file shrank while it was read\n");
  ::_exit(1);
}

}  // namespace

ShrinkGuard::ShrinkGuard(const char* program, const std::string& path, const std::string& removeOnFailure) {
  guardProgram = program;
  guardPath = path.c_str();
  guardRemove = removeOnFailure.c_str();
  struct sigaction action {};
  action.sa_handler = onBusError;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previousBusAction);
}

ShrinkGuard::~ShrinkGuard() {
  ::sigaction(SIGBUS, &previousBusAction, nullptr);
  guardRemove = nullptr;
}

}  // namespace tool_files
