#include "tools/meshwick_jpeg_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
