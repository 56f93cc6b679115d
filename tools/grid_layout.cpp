#include "tools/grid_layout.h"

#include "platform/bitmap.h"

#include <charconv>
#include <climits>

namespace grid {

namespace {

// A JPEG frame header stores each side in 16 bits.
constexpr std::int64_t kMaxJpegSide = 65535;

std::string MiB(std::uint64_t bytes) {
  return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

std::optional<int> ParseSide(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0)
    return std::nullopt;
  return value;
}

}  // namespace

int DefaultColumns(std::size_t count) {
  int n = 1;
  while (static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n) < count) ++n;
  return n;
}

Layout MakeLayout(std::size_t count, int columns, CellSize cell) {
  Layout layout;
  layout.columns = columns > 0 ? columns : DefaultColumns(count);
  const std::size_t perRow = static_cast<std::size_t>(layout.columns);
  const std::size_t rows = count == 0 ? 1 : (count + perRow - 1) / perRow;
  layout.rows = rows > INT_MAX ? INT_MAX : static_cast<int>(rows);
  layout.cell = cell;
  return layout;
}

std::optional<std::string> CompositeProblem(const Layout& layout, bool jpeg) {
  const std::int64_t width = layout.Width();
  const std::int64_t height = layout.Height();
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (width <= 0 || height <= 0) return "the grid of " + size + " pixels is empty";
  if (width > INT_MAX || height > INT_MAX ||
      static_cast<std::uint64_t>(platform::DibStride(width, 24)) >
          platform::BitmapByteLimit() / static_cast<std::uint64_t>(height))
    return "the grid of " + size + " pixels is larger than the bitmap limit of " +
           MiB(platform::BitmapByteLimit());
  if (jpeg && (width > kMaxJpegSide || height > kMaxJpegSide))
    return "the grid of " + size + " pixels is larger than a JPEG picture can be (65535 pixels a side)";
  return std::nullopt;
}

std::optional<CellSize> ParseCellSize(std::string_view text) {
  const std::size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return std::nullopt;
  const auto width = ParseSide(text.substr(0, x));
  const auto height = ParseSide(text.substr(x + 1));
  if (!width || !height) return std::nullopt;
  return CellSize{*width, *height};
}

}  // namespace grid
