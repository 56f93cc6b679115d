// Replays the fuzzer's kept inputs and runs its harness over the corpus with every operation,
// so the sanitizer build of the tests covers what the fuzz target covers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "fuzz/jpeg_read_harness.h"
#include "tests/support/test_files.h"

namespace {

namespace fs = std::filesystem;

using test::readBytes;

std::vector<fs::path> filesIn(const fs::path& dir, const char* extension) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && (extension == nullptr || entry.path().extension() == extension)) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegression, ReplaysKeptInputs) {
  const fs::path dir = fs::path(MESHWICK_TEST_DATA) / ".." / ".." / "fuzz" / "regressions";
  for (const fs::path& path : filesIn(dir, nullptr)) {
    if (path.extension() == ".md") continue;
    SCOPED_TRACE(path.filename().string());
    const std::vector<uint8_t> input = readBytes(path);
    fuzzing::runJpegReadHarness(input.data(), input.size());
  }
}

// Every corpus file through every operation of the harness, each with two of the pixel formats,
// alternating transform variant, bottom-up rows, padding, interrupt-and-resume, interpolating
// upsampling, region reads and coefficient planes.
TEST(FuzzRegression, CorpusThroughEveryHarnessOperation) {
  int file = 0;
  for (const fs::path& path : filesIn(fs::path(MESHWICK_TEST_DATA) / "jpeg", ".jpg")) {
    std::vector<uint8_t> input = readBytes(path);
    input.resize(input.size() + 4);
    for (int operation = 0; operation < 8; ++operation) {
      for (int k = 0; k < 2; ++k) {
        const int format = (operation * 3 + k * 5 + file) % 8;
        const int last = operation | ((operation + k) % 2) << 3 | format << 4 | (k << 7);
        const int fancy = (file + operation + k) % 3 == 0 ? 0x20 : 0;
        const int regions = (file + k) % 2 == 0 ? 0x40 : 0;
        const int planes = (file + operation) % 4 == 1 ? 0x80 : 0;
        const int before = ((file + operation) % 4) | ((operation + k) % 3 == 0 ? 4 : 0) |
                           (((file + k) % 4) << 3) | fancy | regions | planes;
        input[input.size() - 1] = static_cast<uint8_t>(last);
        input[input.size() - 2] = static_cast<uint8_t>(before);
        input[input.size() - 3] = static_cast<uint8_t>(file * 37 + operation * 11 + k);  // region placement
        input[input.size() - 4] = static_cast<uint8_t>(file * 53 + operation * 7);       // region extent
        SCOPED_TRACE(path.filename().string() + " options " + std::to_string(before) + "," +
                     std::to_string(last));
        fuzzing::runJpegReadHarness(input.data(), input.size());
      }
    }
    ++file;
  }
  EXPECT_GT(file, 50);
}

}  // namespace
