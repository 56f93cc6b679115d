#include "tools/grid_compose.h"

#include "document/jpeg_reduced.h"
#include "document/picture_convert.h"
#include "document/picture_file.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace grid {

namespace {

// Why the file cannot be opened, in the system's words.
std::string OpenError(const QString& path) {
  errno = 0;
  std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
  if (file) {
    std::fclose(file);
    return "it cannot be opened";
  }
  return std::strerror(errno);
}

const char* const kNoMemory = "not enough memory for the picture (or above the bitmap limit)";

// The reasons the application gives for a picture it cannot place, in the tool's English.
std::string ProblemText(PictureProblem problem, const QString& path) {
  switch (problem) {
    case PictureProblem::CannotOpen:
      return OpenError(path);
    case PictureProblem::NotJpegOrBmp:
      return "neither a JPEG nor a BMP picture";
    case PictureProblem::Truncated:
      return "the file is cut short";
    case PictureProblem::Damaged:
      return "the picture data is damaged";
    case PictureProblem::UnsupportedKind:
      return "a kind of picture this program does not read";
    case PictureProblem::TooLarge:
      return "the picture is too large for a bitmap";
    case PictureProblem::None:
      break;
  }
  return "the picture cannot be read";
}

LoadedPicture Failed(std::string problem) {
  return LoadedPicture{nullptr, std::move(problem)};
}

// The application's steps after reading: every picture in the grid has 24 bits per pixel and
// the cell size.
LoadedPicture FitToCell(std::unique_ptr<CPictureDib> picture, CellSize cell) {
  if (picture->BitsPerPixel() != 24) picture = ConvertTo24Bit(*picture);
  if (picture && (picture->Width() != cell.width || picture->Height() != cell.height))
    picture = picture->Resample(cell.width, cell.height);
  if (!picture) return Failed(kNoMemory);
  return LoadedPicture{std::move(picture), {}};
}

LoadedPicture LoadReducedJpeg(const QString& path, CellSize cell) {
  ReducedJpeg jpeg = LoadJpegCovering(path, cell.width, cell.height);
  if (!jpeg.picture) return Failed(ProblemText(jpeg.problem, path));
  return FitToCell(std::move(jpeg.picture), cell);
}

}  // namespace

LoadedPicture LoadFullSize(const QString& path) {
  auto picture = std::make_unique<CPictureDib>();
  PictureProblem problem = PictureProblem::None;
  if (picture->LoadFile(path, &problem) != S_OK) return Failed(ProblemText(problem, path));
  if (picture->BitsPerPixel() != 24) picture = ConvertTo24Bit(*picture);
  if (!picture) return Failed(kNoMemory);
  return LoadedPicture{std::move(picture), {}};
}

LoadedPicture LoadForCell(const QString& path, CellSize cell, bool exact) {
  if (!exact && SniffPictureKind(path) == PictureKind::Jpeg) return LoadReducedJpeg(path, cell);
  LoadedPicture loaded = LoadFullSize(path);
  if (!loaded.picture) return loaded;
  return FitToCell(std::move(loaded.picture), cell);
}

std::unique_ptr<CPictureDib> MakeWhiteComposite(const Layout& layout) {
  if (CompositeProblem(layout, false)) return nullptr;
  auto composite = std::make_unique<CPictureDib>();
  if (!composite->Create(static_cast<int>(layout.Width()), static_cast<int>(layout.Height()), 24))
    return nullptr;
  const auto stride = static_cast<std::size_t>(composite->RowStep());
  for (int y = 0; y < composite->Height(); ++y) std::memset(composite->Row(y), 255, stride);
  return composite;
}

void CopyIntoCell(CPictureDib& composite, const Layout& layout, std::size_t index,
                  const CPictureDib& picture) {
  const auto cellBytes = static_cast<std::size_t>(3) * static_cast<std::size_t>(layout.cell.width);
  const std::size_t left = cellBytes * static_cast<std::size_t>(layout.ColumnOf(index));
  const int top = layout.RowOf(index) * layout.cell.height;
  for (int k = 0; k < layout.cell.height; ++k)
    std::memcpy(composite.Row(top + k) + left, picture.Row(k), cellBytes);
}

namespace {

// Work shared by the threads of one FillCells call.
class CellQueue {
 public:
  CellQueue(const std::vector<std::size_t>& todo, bool keepGoing) : m_todo(todo), m_keepGoing(keepGoing) {}

  // The next cell to fill, or false when there is none or a failure stops the batch.
  bool Next(std::size_t* index) {
    if (m_stopped.load()) return false;
    const std::size_t slot = m_next.fetch_add(1);
    if (slot >= m_todo.size()) return false;
    *index = m_todo[slot];
    return true;
  }

  void Finish(std::optional<CellFailure> failure) {
    {
      const std::lock_guard lock(m_mutex);
      if (failure) {
        m_failures.push_back(std::move(*failure));
        if (!m_keepGoing) m_stopped.store(true);
      }
      ++m_done;
    }
    m_changed.notify_one();
  }

  void WorkerExited() {
    {
      const std::lock_guard lock(m_mutex);
      ++m_exited;
    }
    m_changed.notify_one();
  }

  // Waits for a change or a short while; the cells done so far, and whether every worker is gone.
  std::pair<std::size_t, bool> Wait(int workers) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(200));
    return {m_done, m_exited == workers};
  }

  std::vector<CellFailure> TakeFailures() {
    const std::lock_guard lock(m_mutex);
    std::sort(m_failures.begin(), m_failures.end(),
              [](const CellFailure& a, const CellFailure& b) { return a.index < b.index; });
    return std::move(m_failures);
  }

 private:
  const std::vector<std::size_t>& m_todo;
  const bool m_keepGoing;
  std::atomic<std::size_t> m_next{0};
  std::atomic<bool> m_stopped{false};
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::size_t m_done = 0;
  int m_exited = 0;
  std::vector<CellFailure> m_failures;
};

}  // namespace

std::vector<CellFailure> FillCells(CPictureDib& composite, const Layout& layout,
                                   const std::vector<QString>& paths, const std::vector<std::size_t>& todo,
                                   const FillOptions& options,
                                   const std::function<void(std::size_t done)>& progress) {
  CellQueue queue(todo, options.keepGoing);
  const int workers = static_cast<int>(
      std::clamp<std::size_t>(todo.size(), 1, static_cast<std::size_t>(std::max(options.jobs, 1))));
  auto work = [&] {
    std::size_t index = 0;
    while (queue.Next(&index)) {
      LoadedPicture loaded = LoadForCell(paths[index], layout.cell, options.exact);
      if (loaded.picture) {
        CopyIntoCell(composite, layout, index, *loaded.picture);
        queue.Finish(std::nullopt);
      } else {
        queue.Finish(CellFailure{index, std::move(loaded.problem)});
      }
    }
    queue.WorkerExited();
  };

  std::vector<std::jthread> threads;
  threads.reserve(static_cast<std::size_t>(workers));
  for (int i = 0; i < workers; ++i) threads.emplace_back(work);
  for (;;) {
    const auto [done, allExited] = queue.Wait(workers);
    if (progress) progress(done);
    if (allExited) break;
  }
  threads.clear();
  return queue.TakeFailures();
}

}  // namespace grid
