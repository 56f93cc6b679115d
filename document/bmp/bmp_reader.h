// BMP reading without Qt, shared by the document and meshwick-jpeg. The whole file is handed
// over as bytes; Inspect checks it completely (headers, colour table, masks, every row or the
// whole run-length stream) before the caller allocates anything, so Decode cannot fail.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace bmp {

enum class Status {
  Ok,
  Unreadable,              // the file could not be read (callers that open files report it)
  NotBmp,                  // no "BM" signature
  TruncatedHeader,         // file header, information header or bit-field masks cut short
  UnsupportedHeader,       // information header of another size than 12, 40, 52, 56, 108, 124
  BadSize,                 // zero or negative width, zero height, or a size no row can hold
  TooLarge,                // the decoded rows would need more than the caller's byte limit
  UnsupportedDepth,        // bits per pixel other than 1, 4, 8, 16, 24, 32 (12-byte header: 1, 4, 8, 24)
  UnsupportedCompression,  // compression unknown or not meant for the depth (RLE8 on 24 bits, JPEG, PNG)
  BadColourTable,          // more than 256 colours, or the table runs past the file
  BadBitFields,            // a colour mask that is zero, not one run of bits, too wide or overlapping
  TruncatedPixels,         // rows or run-length data end before the picture does
};

// A short English reason, without a trailing full stop.
const char* StatusText(Status status);

// One colour-table entry in the file's order.
struct Colour {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  std::uint8_t reserved = 0;
};

enum class Encoding { Rows, BitFields, RunLength8, RunLength4 };

struct ChannelMask {
  std::uint32_t mask = 0;
  int shift = 0;  // of the lowest mask bit
  int bits = 0;   // width of the run of mask bits
};

// What Inspect found. The decoded rows are laid out as a bitmap section of `bitsPerPixel`
// holds them: 1, 4 and 8 bits index `palette`, 16 bits are 5-5-5, 24 bits B, G, R, 32 bits
// B, G, R and a byte that means nothing. Files whose pixels fit none of these (bit fields
// other than 5-5-5 or 8-8-8) decode to 24 bits. Run-length pixels the stream never sets
// stay index 0.
struct Layout {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  std::int64_t stride = 0;  // bytes per decoded row, a multiple of four
  int colourCount = 0;      // table entries the file gives; the rest of `palette` is zero
  std::array<Colour, 256> palette{};

  // How the file holds them; Decode's business.
  Encoding encoding = Encoding::Rows;
  int fileBitsPerPixel = 0;
  bool topDown = false;
  std::uint64_t pixelOffset = 0;
  std::uint64_t fileStride = 0;
  std::array<ChannelMask, 3> masks{};  // red, green, blue
};

// Checks the whole file. `maxPixelBytes` bounds stride x height of the decoded rows.
Status Inspect(std::span<const std::uint8_t> file, std::uint64_t maxPixelBytes, Layout* layout);

// Writes the picture Inspect accepted: image row y (counted from the top) goes to
// topRow + y * rowStep, `layout.stride` bytes of it.
void Decode(std::span<const std::uint8_t> file, const Layout& layout, std::uint8_t* topRow,
            std::ptrdiff_t rowStep);

// One decoded row as B, G, R triplets, width x 3 bytes.
void ExpandRowToBgr(const Layout& layout, const std::uint8_t* row, std::uint8_t* bgr);

}  // namespace bmp
