// Files for tests: whole-file reads and writes, and a temporary folder removed with its contents.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Empty when the file cannot be read: the caller's expectation on the contents then fails.
inline Bytes readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder under the system's temporary folder; `tag` names it for whoever finds a leftover.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "test") {
    std::string pattern = (fs::temp_directory_path() / ("meshwick_" + tag + "_XXXXXX")).string();
    dir_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return dir_; }
  fs::path file(const std::string& name) const { return dir_ / name; }

  // Runs `tool` (a command with its options) on `in`, its standard output kept as `name`.
  fs::path run(const std::string& tool, const fs::path& in, const std::string& name) const {
    const fs::path out = dir_ / name;
    const std::string command = tool + " '" + in.string() + "' > '" + out.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return out;
  }

 private:
  fs::path dir_;
};

}  // namespace test
