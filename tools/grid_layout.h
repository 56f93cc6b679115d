// Where each picture of a batch grid goes, and whether the whole grid can be made at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace grid {

struct CellSize {
  int width = 0;
  int height = 0;
};

struct Layout {
  int columns = 0;
  int rows = 0;
  CellSize cell;

  std::int64_t Width() const { return std::int64_t{columns} * cell.width; }
  std::int64_t Height() const { return std::int64_t{rows} * cell.height; }
  int ColumnOf(std::size_t index) const {
    return static_cast<int>(index % static_cast<std::size_t>(columns));
  }
  int RowOf(std::size_t index) const { return static_cast<int>(index / static_cast<std::size_t>(columns)); }
};

// The smallest N with N x N >= count (1 for no pictures): a grid as square as the count allows.
int DefaultColumns(std::size_t count);

// Pictures in reading order, `columns` to a row (0: DefaultColumns).
Layout MakeLayout(std::size_t count, int columns, CellSize cell);

// Why the composite of this layout cannot be made (pixel memory above the bitmap limit, a side
// beyond what a JPEG stream can hold); nullopt when it can.
std::optional<std::string> CompositeProblem(const Layout& layout, bool jpeg);

// "WxH" (or "WXH") with decimal sides; nullopt when the text is not of that form. Zero sides
// are returned as they are, for the caller to name.
std::optional<CellSize> ParseCellSize(std::string_view text);

}  // namespace grid
