// File helpers shared by the meshwick-jpeg commands: why a path cannot be used, and extensions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tool_files {

// Why `path` cannot be read as a file: empty when it opens, else the system's reason
// ("No such file or directory", "Is a directory", ...).
std::string readProblem(const std::string& path);

// The text of the current errno, or `fallback` when errno is 0.
std::string errnoText(const char* fallback);

// Whether `text` ends in `suffix` (ASCII letters compared without case; `suffix` lower case).
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

// Writes all `size` bytes to `descriptor`, resuming short writes. Empty or the reason.
std::string writeAll(int descriptor, const uint8_t* bytes, size_t size);

}  // namespace tool_files
