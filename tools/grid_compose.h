// Pictures into the cells of one composite: read as the application reads them, brought to
// the cell size with the picture class's resampling, decoded and resampled on several threads.
#pragma once

#include "document/picture_dib.h"
#include "tools/grid_layout.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace grid {

// A picture ready for its cell, or why there is none.
struct LoadedPicture {
  std::unique_ptr<CPictureDib> picture;
  std::string problem;
};

// The picture at its own size and 24 bits per pixel, as the application places it before
// resampling; its size is the cell size when none is given.
LoadedPicture LoadFullSize(const QString& path);

// The picture at exactly the cell size. Exact: read at full size and resampled, as the
// application does. Otherwise a JPEG is decoded at the smallest reduced scale that still
// covers the cell and resampled from there.
LoadedPicture LoadForCell(const QString& path, CellSize cell, bool exact);

// A white 24-bit top-down composite of the layout (row padding white too, as the application
// fills it); null when its section cannot be made.
std::unique_ptr<CPictureDib> MakeWhiteComposite(const Layout& layout);

// Copies a cell-sized 24-bit picture into cell `index`. Cells share no byte, so threads
// may fill different cells at once.
void CopyIntoCell(CPictureDib& composite, const Layout& layout, std::size_t index,
                  const CPictureDib& picture);

struct CellFailure {
  std::size_t index = 0;
  std::string problem;
};

struct FillOptions {
  bool exact = false;
  bool keepGoing = false;  // after a picture fails, go on with the others
  int jobs = 1;
};

// Reads paths[i] for every i in `todo` into its cell on options.jobs threads, each picture
// copied in as soon as it is ready; at most options.jobs pictures are in memory at once.
// `progress(done)` is called on the calling thread, after each picture and now and then
// in between. Failures come back in reading order.
std::vector<CellFailure> FillCells(CPictureDib& composite, const Layout& layout,
                                   const std::vector<QString>& paths, const std::vector<std::size_t>& todo,
                                   const FillOptions& options,
                                   const std::function<void(std::size_t done)>& progress);

}  // namespace grid
