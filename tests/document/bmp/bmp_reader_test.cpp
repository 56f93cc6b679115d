// The shared BMP reader on its own: every kind of the committed fixtures against the pixels
// beside it, run-length streams pixel by pixel, and hostile files that must give a status.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "document/bmp/bmp_reader.h"
#include "fuzz/bmp_read_harness.h"
#include "tests/document/bmp/bmp_builder.h"
#include "tests/document/bmp/bmp_fixtures.h"

namespace {

namespace fs = std::filesystem;
using bmp::Status;
using test::Bytes;

constexpr std::uint64_t kLimit = std::uint64_t{1} << 30;
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 64;

std::string DataPath(const std::string& name) {
  return std::string(MESHWICK_TEST_DATA) + "/" + name;
}

// A decoded picture in a buffer with guard bytes on both sides, so a write outside the rows shows.
struct Decoded {
  bmp::Layout layout;
  Bytes buffer;
  bool bottomUp = false;

  std::uint8_t* Row(int y) {
    const auto stride = static_cast<std::ptrdiff_t>(layout.stride);
    const int memoryRow = bottomUp ? layout.height - 1 - y : y;
    return buffer.data() + kGuardBytes + memoryRow * stride;
  }
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < kGuardBytes; ++i)
      if (buffer[i] != kGuard || buffer[buffer.size() - 1 - i] != kGuard) return false;
    return true;
  }
  // Pixel (x, y) as 0xRRGGBB.
  std::uint32_t Rgb(int x, int y) {
    Bytes bgr(3 * static_cast<std::size_t>(layout.width));
    bmp::ExpandRowToBgr(layout, Row(y), bgr.data());
    const std::size_t i = 3 * static_cast<std::size_t>(x);
    return static_cast<std::uint32_t>(bgr[i + 2] << 16 | bgr[i + 1] << 8 | bgr[i]);
  }
};

Status InspectAndDecode(const Bytes& file, Decoded* out, bool bottomUp = false,
                        std::uint64_t limit = kLimit) {
  const Status status = bmp::Inspect(file, limit, &out->layout);
  if (status != Status::Ok) return status;
  const auto rowBytes =
      static_cast<std::size_t>(out->layout.stride) * static_cast<std::size_t>(out->layout.height);
  out->buffer.assign(rowBytes + 2 * kGuardBytes, kGuard);
  out->bottomUp = bottomUp;
  const auto stride = static_cast<std::ptrdiff_t>(out->layout.stride);
  bmp::Decode(file, out->layout, out->Row(0), bottomUp ? -stride : stride);
  return status;
}

// --- every kind against its expected pixels ------------------------------------------------------

TEST(BmpReader, ReadsEveryKindAsItsExpectedPixelsInEitherRowOrder) {
  for (const test::BmpFixture& f : test::kBmpFixtures) {
    const std::string base = std::string("bmp/") + f.name;
    const Bytes file = test::ReadBytes(DataPath(base + ".bmp"));
    const test::Ppm expected = test::ReadPpm(DataPath(base + ".ppm"));
    for (const bool bottomUp : {false, true}) {
      SCOPED_TRACE(std::string(f.name) + (bottomUp ? " into bottom-up rows" : ""));
      Decoded d;
      ASSERT_EQ(InspectAndDecode(file, &d, bottomUp), Status::Ok);
      EXPECT_EQ(d.layout.bitsPerPixel, f.decodedBits);
      ASSERT_EQ(d.layout.width, expected.width);
      ASSERT_EQ(d.layout.height, expected.height);
      EXPECT_TRUE(d.GuardsIntact());
      for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x) ASSERT_EQ(d.Rgb(x, y), expected.At(x, y)) << x << "," << y;
    }
  }
}

TEST(BmpReader, KeepsPlainRowsAsTheFileHoldsThem) {
  // 32-bit rows keep their fourth byte; 16-bit 5-5-5 masks keep the 16-bit layout.
  Decoded d;
  ASSERT_EQ(InspectAndDecode(test::ReadBytes(DataPath("bmp/argb32-v5header-9x6.bmp")), &d), Status::Ok);
  const Bytes file = test::ReadBytes(DataPath("bmp/argb32-v5header-9x6.bmp"));
  const std::size_t lastFileRow = test::Get32(file, 10) + 5 * 36;  // the top image row
  EXPECT_EQ(std::memcmp(d.Row(0), file.data() + lastFileRow, 36), 0);
}

// --- run-length streams ---------------------------------------------------------------------------

Bytes RunLengthFile(int width, int height, int bits, const Bytes& stream) {
  test::BmpSpec s;
  s.width = width;
  s.height = height;
  s.bits = bits;
  s.compression = bits == 8 ? 1 : 2;
  for (std::uint32_t i = 0; i < 16; ++i) s.palette.push_back(i * 0x111111u);
  s.clrUsed = 16;
  s.stream = stream;
  return test::MakeBmp(s);
}

// Palette index of each pixel, top row first, read through the expanded colours.
std::vector<int> Indices(Decoded& d) {
  std::vector<int> out;
  for (int y = 0; y < d.layout.height; ++y)
    for (int x = 0; x < d.layout.width; ++x) out.push_back(static_cast<int>((d.Rgb(x, y) & 0xFF) / 0x11));
  return out;
}

TEST(BmpReader, RunLengthStreamsPutEveryPixelInsideThePicture) {
  struct Case {
    const char* what;
    int bits;
    Bytes stream;
    std::vector<int> expected;  // 4 x 2 picture, top row first
  } cases[] = {
      {"runs and a literal, bottom row first",
       8,
       {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 4, 9, 0, 1},
       {9, 9, 9, 9, 5, 5, 1, 2}},
      {"a run past the row end is cut there", 8, {200, 7, 0, 0, 1, 3, 0, 1}, {3, 0, 0, 0, 7, 7, 7, 7}},
      {"a literal past the row end is cut there",
       8,
       {0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0, 1},
       {0, 0, 0, 0, 1, 2, 3, 4}},
      {"a delta moves right and up", 8, {0, 2, 3, 1, 1, 8, 0, 1}, {0, 0, 0, 8, 0, 0, 0, 0}},
      {"a delta past the last row ends the picture", 8, {1, 4, 0, 2, 0, 9, 5, 5}, {0, 0, 0, 0, 4, 0, 0, 0}},
      {"a delta past the row end drops what follows on that row",
       8,
       {0, 2, 9, 0, 3, 6, 0, 0, 1, 7, 0, 1},
       {7, 0, 0, 0, 0, 0, 0, 0}},
      {"end of bitmap leaves the rest at index 0", 8, {4, 3, 0, 1}, {0, 0, 0, 0, 3, 3, 3, 3}},
      {"data ending after the last row needs no end of bitmap",
       8,
       {4, 1, 0, 0, 4, 2, 0, 0},
       {2, 2, 2, 2, 1, 1, 1, 1}},
      {"four-bit runs alternate their two indices",
       4,
       {3, 0x12, 0, 0, 4, 0x30, 0, 1},
       {3, 0, 3, 0, 1, 2, 1, 0}},
      {"four-bit literals, odd count, padded",
       4,
       {0, 3, 0x45, 0x60, 0, 0, 0, 5, 0x78, 0x9A, 0xB0, 0, 0, 1},
       {7, 8, 9, 10, 4, 5, 6, 0}},
      {"a four-bit run past the row end", 4, {9, 0xF1, 0, 1}, {0, 0, 0, 0, 15, 1, 15, 1}},
  };
  for (const Case& c : cases) {
    for (const bool bottomUp : {false, true}) {
      SCOPED_TRACE(c.what);
      Decoded d;
      ASSERT_EQ(InspectAndDecode(RunLengthFile(4, 2, c.bits, c.stream), &d, bottomUp), Status::Ok);
      EXPECT_EQ(Indices(d), c.expected);
      EXPECT_TRUE(d.GuardsIntact());
    }
  }
}

TEST(BmpReader, TopDownRunLengthStreamsStartAtTheTopRow) {
  Decoded d;
  ASSERT_EQ(InspectAndDecode(RunLengthFile(4, -2, 8, {4, 1, 0, 0, 4, 2, 0, 1}), &d), Status::Ok);
  EXPECT_EQ(Indices(d), (std::vector<int>{1, 1, 1, 1, 2, 2, 2, 2}));
}

TEST(BmpReader, DecodingOverOldContentsClearsWhatTheStreamLeaves) {
  const Bytes file = RunLengthFile(4, 2, 8, {1, 5, 0, 1});
  Decoded d;
  ASSERT_EQ(bmp::Inspect(file, kLimit, &d.layout), Status::Ok);
  d.buffer.assign(static_cast<std::size_t>(d.layout.stride) * 2 + 2 * kGuardBytes, kGuard);
  bmp::Decode(file, d.layout, d.Row(0), d.layout.stride);
  EXPECT_EQ(Indices(d), (std::vector<int>{0, 0, 0, 0, 5, 0, 0, 0}));
  EXPECT_TRUE(d.GuardsIntact());
}

// --- hostile files --------------------------------------------------------------------------------

Bytes Valid24() {
  return test::MakeBmp24(4, 4, [](int x, int y) { return static_cast<std::uint32_t>(x * 0x10203 + y); });
}

Bytes Valid8() {
  test::BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.bits = 8;
  s.palette = {0x102030, 0x405060};
  s.clrUsed = 2;
  s.rows = {{0, 1, 0}, {1, 0, 1}};
  return test::MakeBmp(s);
}

Bytes Masked(int bits, std::vector<std::uint32_t> masks, std::uint32_t headerSize = 40) {
  test::BmpSpec s;
  s.width = 2;
  s.height = 2;
  s.bits = bits;
  s.compression = 3;
  s.headerSize = headerSize;
  s.masks = std::move(masks);
  return test::MakeBmp(s);
}

// A copy of `file` with one little-endian field changed, or cut to `size` bytes.
Bytes With32(Bytes file, std::size_t at, std::uint32_t value) {
  test::Put32(file, at, value);
  return file;
}
Bytes With16(Bytes file, std::size_t at, std::uint32_t value) {
  test::Put16(file, at, value);
  return file;
}
Bytes Cut(Bytes file, std::size_t size) {
  file.resize(size);
  return file;
}

TEST(BmpReader, HostileFilesGiveTheirStatus) {
  const Bytes v24 = Valid24(), v8 = Valid8(), rle = RunLengthFile(4, 2, 8, {0, 1});
  const struct Case {
    const char* what;
    Bytes file;
    Status expected;
  } cases[] = {
      {"empty", {}, Status::NotBmp},
      {"one byte", {'B'}, Status::NotBmp},
      {"JPEG start", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16}, Status::NotBmp},
      {"signature only", {'B', 'M'}, Status::TruncatedHeader},
      {"cut inside the header size", Cut(v24, 16), Status::TruncatedHeader},
      {"information header cut short", Cut(v24, 40), Status::TruncatedHeader},
      {"124-byte header running past the file", With32(Cut(v24, 100), 14, 124), Status::TruncatedHeader},
      {"masks missing after a 40-byte header", Cut(Masked(16, {0xF800, 0x07E0, 0x001F}), 60),
       Status::TruncatedHeader},
      {"header size 64", With32(v24, 14, 64), Status::UnsupportedHeader},
      {"header size 0", With32(v24, 14, 0), Status::UnsupportedHeader},
      {"header size huge", With32(v24, 14, 0xFFFFFFF0u), Status::UnsupportedHeader},
      {"zero width", With32(v24, 18, 0), Status::BadSize},
      {"negative width", With32(v24, 18, 0xFFFFFFFCu), Status::BadSize},
      {"zero height", With32(v24, 22, 0), Status::BadSize},
      {"most negative height", With32(v24, 22, 0x80000000u), Status::BadSize},
      {"largest width and height", With32(With32(v24, 18, 0x7FFFFFFFu), 22, 0x7FFFFFFFu), Status::TooLarge},
      {"largest top-down height", With32(v24, 22, 0x80000001u), Status::TooLarge},
      {"65536 square", With32(With32(v24, 18, 65536), 22, 65536), Status::TooLarge},
      {"depth 0", With16(v24, 28, 0), Status::UnsupportedDepth},
      {"depth 2", With16(v24, 28, 2), Status::UnsupportedDepth},
      {"depth 64", With16(v24, 28, 64), Status::UnsupportedDepth},
      {"run-length 8 on 24 bits", With32(v24, 30, 1), Status::UnsupportedCompression},
      {"run-length 4 on 8 bits", With32(v8, 30, 2), Status::UnsupportedCompression},
      {"masks on 24 bits", With32(v24, 30, 3), Status::UnsupportedCompression},
      {"JPEG inside", With32(v24, 30, 4), Status::UnsupportedCompression},
      {"PNG inside", With32(v24, 30, 5), Status::UnsupportedCompression},
      {"compression 7", With32(v24, 30, 7), Status::UnsupportedCompression},
      {"colours used 257", With32(v8, 46, 257), Status::BadColourTable},
      {"colours used huge", With32(v24, 46, 0xFFFFFFFFu), Status::BadColourTable},
      {"colour table past the file", With32(v8, 46, 256), Status::BadColourTable},
      {"full table assumed but absent", With32(v8, 46, 0), Status::BadColourTable},
      {"zero red mask", Masked(16, {0, 0x07E0, 0x001F}), Status::BadBitFields},
      {"zero blue mask in a 124-byte header", Masked(32, {0xFF0000, 0xFF00, 0}, 124), Status::BadBitFields},
      {"overlapping masks", Masked(16, {0xF800, 0x0FE0, 0x001F}), Status::BadBitFields},
      {"mask of two runs", Masked(32, {0xF0F00000, 0xFF00, 0xFF}), Status::BadBitFields},
      {"16-bit mask above 16 bits", Masked(16, {0x1F0000, 0x07E0, 0x001F}), Status::BadBitFields},
      {"pixel offset past the end", With32(v24, 10, 0xFFFFFFF0u), Status::TruncatedPixels},
      {"last row one byte short", Cut(v24, v24.size() - 1), Status::TruncatedPixels},
      {"rows missing for a large picture", With32(With32(v24, 18, 8000), 22, 8000), Status::TruncatedPixels},
      {"run-length stream empty", Cut(rle, rle.size() - 2), Status::TruncatedPixels},
      {"run-length stream of one byte", RunLengthFile(4, 2, 8, {4}), Status::TruncatedPixels},
      {"run-length stream ending inside the picture", RunLengthFile(4, 2, 8, {4, 1, 0, 0}),
       Status::TruncatedPixels},
      {"literal longer than the data", RunLengthFile(4, 2, 8, {0, 200, 1, 2, 3}), Status::TruncatedPixels},
      {"literal padding missing", RunLengthFile(4, 2, 8, {0, 3, 1, 2, 3}), Status::TruncatedPixels},
      {"four-bit literal longer than the data", RunLengthFile(4, 2, 4, {0, 9, 0x12, 0x34}),
       Status::TruncatedPixels},
      {"delta without its bytes", RunLengthFile(4, 2, 8, {0, 2, 1}), Status::TruncatedPixels},
      {"huge picture, stream ending early",
       RunLengthFile(30000, 30000, 8, {255, 1, 255, 1, 0, 0, 0, 2, 255, 255}), Status::TruncatedPixels},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bmp::Layout layout;
    EXPECT_EQ(bmp::Inspect(c.file, kLimit, &layout), c.expected);
    EXPECT_NE(std::string(bmp::StatusText(c.expected)), "");
  }
}

TEST(BmpReader, TheByteLimitCountsTheDecodedRows) {
  // 4 x 4 at 24 bits: rows of 12 bytes, 48 in all; 5-6-5 masks decode to 24 bits as well.
  Decoded d;
  EXPECT_EQ(InspectAndDecode(Valid24(), &d, false, 47), Status::TooLarge);
  EXPECT_EQ(InspectAndDecode(Valid24(), &d, false, 48), Status::Ok);
  const Bytes masked = Masked(16, {0xF800, 0x07E0, 0x001F});  // 2 x 2: 8-byte rows decoded
  EXPECT_EQ(InspectAndDecode(masked, &d, false, 15), Status::TooLarge);
  EXPECT_EQ(InspectAndDecode(masked, &d, false, 16), Status::Ok);
}

TEST(BmpReader, HugeRunLengthPicturesAreRefusedBeforeTheStreamIsFollowed) {
  // A few bytes describe 30000 x 30000 pixels ended early: the limit refuses it first.
  Decoded d;
  EXPECT_EQ(InspectAndDecode(RunLengthFile(30000, 30000, 8, {0, 1}), &d, false, 1 << 20), Status::TooLarge);
  ASSERT_EQ(InspectAndDecode(RunLengthFile(3000, 3000, 8, {0, 2, 255, 255, 0, 2, 255, 255, 2, 7, 0, 1}), &d),
            Status::Ok);
  EXPECT_TRUE(d.GuardsIntact());
}

TEST(BmpReader, CorePaletteIsWhatFitsBeforeTheRows) {
  // A 12-byte header, 8 bits, two three-byte entries, then the rows.
  Bytes b{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 12, 0, 0, 0,
          2,   0,   1, 0, 1, 0, 8, 0, 1, 2, 3,  4, 5, 6, 1,  0, 0, 0};
  Decoded d;
  ASSERT_EQ(InspectAndDecode(b, &d), Status::Ok);
  EXPECT_EQ(d.layout.colourCount, 2);
  EXPECT_EQ(d.Rgb(0, 0), 0x060504u);  // entries are blue, green, red
  EXPECT_EQ(d.Rgb(1, 0), 0x030201u);
  test::Put16(b, 24, 16);  // the core form has no 16-bit pixels
  EXPECT_EQ(bmp::Inspect(b, kLimit, &d.layout), Status::UnsupportedDepth);
}

// --- the fuzz target's inputs --------------------------------------------------------------------

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path());
  return files;
}

TEST(BmpReaderFuzzRegression, ReplaysKeptInputsAndTheFixtures) {
  std::vector<fs::path> inputs =
      FilesIn(fs::path(MESHWICK_TEST_DATA) / ".." / ".." / "fuzz" / "regressions" / "bmp");
  const std::vector<fs::path> fixtures = FilesIn(fs::path(MESHWICK_TEST_DATA) / "bmp");
  inputs.insert(inputs.end(), fixtures.begin(), fixtures.end());
  int decoded = 0;
  for (const fs::path& path : inputs) {
    SCOPED_TRACE(path.filename().string());
    const Bytes input = test::ReadBytes(path.string());
    decoded += fuzzing::runBmpReadHarness(input.data(), input.size()) != 0 ? 1 : 0;
  }
  EXPECT_GE(decoded, static_cast<int>(std::size(test::kBmpFixtures)) - 1);  // a picture may digest to 0
}

}  // namespace
