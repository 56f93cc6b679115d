// File helpers shared by the meshwick-jpeg commands: why a path cannot be used, and extensions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/uninitialised_bytes.h"

namespace tool_files {

// Why `path` cannot be read as a file: empty when it opens, else the system's reason
// ("No such file or directory", "Is a directory", ...).
std::string readProblem(const std::string& path);

// Whether `a` and `b` name one existing file (a link, or the same path spelt twice).
bool sameFile(const std::string& a, const std::string& b);

// The text of the current errno, or `fallback` when errno is 0.
std::string errnoText(const char* fallback);

// Whether `text` ends in `suffix` (ASCII letters compared without case; `suffix` lower case).
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

// Writes all `size` bytes to `descriptor`, resuming short writes. Empty or the reason.
std::string writeAll(int descriptor, const uint8_t* bytes, size_t size);

// Whether JPEG bytes end before the end-of-image marker of their image. The codec decodes a
// cut stream in memory from zero bits, so a tool reading from memory asks this itself to say
// what a read of the file says. Bytes the walk cannot follow are left to the codec to judge.
bool endsBeforeTheImageDoes(const uint8_t* bytes, size_t size);

}  // namespace tool_files

namespace tool_files {

// An output file of known size written through a shared mapping, so that the codec decodes
// straight into the file's pages: no second whole-image buffer and no copy. The space is
// reserved first, so a full disk is an error here rather than a fault on a later store.
class MappedOutput {
 public:
  MappedOutput() = default;
  MappedOutput(const MappedOutput&) = delete;
  MappedOutput& operator=(const MappedOutput&) = delete;
  ~MappedOutput();

  // Creates `path` with `size` bytes and maps them. Empty on success, else the reason; an
  // output that is no regular file (a device, a pipe) is not mapped and reports "not regular".
  std::string create(const std::string& path, size_t size);
  uint8_t* data() const { return data_; }
  // Whether create() made and mapped the file (also after finish()).
  bool created() const { return created_; }
  // Unmaps and closes; empty on success, else the reason.
  std::string finish();

  static constexpr const char* kNotRegular = "not regular";

 private:
  int descriptor_ = -1;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool created_ = false;
};

}  // namespace tool_files

namespace tool_files {

// Memory for a picture, its pages mapped in one call rather than faulted in one at a time as
// the codec first stores into each.
class PopulatedMemory {
 public:
  PopulatedMemory() = default;
  PopulatedMemory(const PopulatedMemory&) = delete;
  PopulatedMemory& operator=(const PopulatedMemory&) = delete;
  ~PopulatedMemory();

  // False when the memory cannot be had.
  bool allocate(size_t size);
  uint8_t* data() const { return data_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tool_files

namespace tool_files {

// Reads the whole of `path` into `bytes` with as few reads as its size allows. Empty on
// success, else the reason; files above `limit` bytes are refused.
std::string readWholeFile(const std::string& path, Bytes* bytes, size_t limit);

// A regular input file mapped read-only: the page cache's pages serve as the picture, so a
// large file is neither copied nor held twice. The mapping is filled at once (fewer faults)
// and followed by at least one zero page, so that a whole-vector load that starts inside the
// file never meets an unmapped page.
class MappedInput {
 public:
  MappedInput() = default;
  MappedInput(const MappedInput&) = delete;
  MappedInput& operator=(const MappedInput&) = delete;
  ~MappedInput();

  // Maps `path`. Empty on success, else the reason; kNotMappable for a file that is no
  // regular file or is empty (read it instead). Files above `limit` bytes are refused.
  std::string map(const std::string& path, size_t limit);
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  static constexpr const char* kNotMappable = "not mappable";

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t reserved_ = 0;
};

// While alive, a bus error (a mapped input cut short by another program) ends the process
// with exit status 1 and "PROGRAM: PATH: the file shrank while it was read" instead of a crash,
// after removing `removeOnFailure` (the half-written output), when not empty. The strings
// must outlive the guard.
class ShrinkGuard {
 public:
  ShrinkGuard(const char* program, const std::string& path, const std::string& removeOnFailure);
  ShrinkGuard(const ShrinkGuard&) = delete;
  ShrinkGuard& operator=(const ShrinkGuard&) = delete;
  ~ShrinkGuard();
};

}  // namespace tool_files
