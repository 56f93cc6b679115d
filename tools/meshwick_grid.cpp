// meshwick-grid: pictures into one grid picture from the command line, as the application
// composes and saves it, on every core. Exit status 0 done, 1 a picture or the output
// failed, 2 a usage error.
#include "document/picture_dib.h"
#include "document/picture_file.h"
#include "tools/grid_compose.h"
#include "tools/grid_layout.h"
#include "tools/grid_progress.h"

#include <CLI/CLI.hpp>
#include <QFile>
#include <QString>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kMaxJobs = 256;

struct Options {
  std::vector<std::string> pictures;
  std::string output;
  int columns = 0;
  std::string cell;
  bool exact = false;
  bool quiet = false;
  bool skipBad = false;
  int jobs = 0;
};

int DefaultJobs() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min<unsigned>(n, kMaxJobs));
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "meshwick-grid: %s\nRun 'meshwick-grid --help' for the options.\n", message.c_str());
  return kExitUsage;
}

void DescribeOptions(CLI::App& app, Options& o) {
  app.add_option("-o,--output", o.output, "Grid picture to write: .jpg/.jpeg for JPEG, anything else BMP")
      ->required();
  app.add_option("--columns", o.columns, "Cells per row (default: the smallest N with N x N >= the count)")
      ->check(CLI::Range(1, 1 << 20));
  app.add_option("--cell", o.cell, "Cell size WxH in pixels (default: the first picture's size)");
  app.add_flag("--exact", o.exact, "Decode at full size, byte for byte what the application saves");
  app.add_option("--jobs", o.jobs, "Pictures decoded at once (default: the processor count)")
      ->check(CLI::Range(1, kMaxJobs));
  app.add_flag("--quiet", o.quiet, "No progress line");
  app.add_flag("--skip-bad", o.skipBad, "Leave the cell of an unreadable picture white and go on");
  app.add_option("PICTURE", o.pictures, "JPEG or BMP pictures, in reading order");
}

// Options as given, or the exit status when the command line ends the run (help or an error).
std::optional<Options> ParseCommandLine(int argc, char** argv, int* exitCode) {
  CLI::App app("Composes pictures into one grid picture, as Meshwick saves a grid.", "meshwick-grid");
  Options options;
  DescribeOptions(app, options);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    *exitCode = app.exit(help);
    return std::nullopt;
  } catch (const CLI::ParseError& error) {
    *exitCode = UsageError(error.what());
    return std::nullopt;
  }
  return options;
}

std::optional<grid::CellSize> CellFromOption(const std::string& text, int* exitCode) {
  const auto cell = grid::ParseCellSize(text);
  if (!cell) {
    *exitCode = UsageError("--cell takes WxH, for example 600x400, not '" + text + "'");
    return std::nullopt;
  }
  if (cell->width <= 0 || cell->height <= 0) {
    *exitCode = UsageError("the cell size " + text + " is empty: both sides must be at least 1 pixel");
    return std::nullopt;
  }
  return cell;
}

QString PathOf(const std::string& argument) {
  return QFile::decodeName(QByteArray::fromStdString(argument));
}

void ReportPicture(const char* what, const std::string& path, const std::string& problem) {
  std::fprintf(stderr, "meshwick-grid: %s%s: %s\n", what, path.c_str(), problem.c_str());
}

struct Batch {
  Options options;
  std::vector<QString> paths;
  std::vector<grid::CellFailure> failures;
  std::unique_ptr<CPictureDib> first;  // the picture that gave the cell size, at its own size
  std::size_t firstIndex = 0;
};

// Without --cell the first readable picture gives the cell size, as the first picture placed
// in the application does. False when it fails and bad pictures are not skipped.
bool ReadFirstPicture(Batch& batch) {
  for (std::size_t i = 0; i < batch.paths.size(); ++i) {
    grid::LoadedPicture loaded = grid::LoadFullSize(batch.paths[i]);
    if (loaded.picture) {
      batch.first = std::move(loaded.picture);
      batch.firstIndex = i;
      return true;
    }
    batch.failures.push_back({i, loaded.problem});
    if (!batch.options.skipBad) return false;
  }
  return false;
}

// Reports every picture that could not be read; true when the grid is still to be written.
bool ReportFailures(const Batch& batch) {
  for (const grid::CellFailure& failure : batch.failures)
    ReportPicture(batch.options.skipBad ? "warning: skipped " : "cannot read ",
                  batch.options.pictures[failure.index], failure.problem);
  return batch.failures.empty() || batch.options.skipBad;
}

int WriteGrid(const CPictureDib& composite, const std::string& output) {
  errno = 0;
  if (composite.SaveFile(PathOf(output)) == S_OK) return kExitOk;
  const std::string reason = errno != 0 ? std::strerror(errno) : "the picture could not be written";
  std::fprintf(stderr, "meshwick-grid: cannot write %s: %s\n", output.c_str(), reason.c_str());
  return kExitFailure;
}

int Run(Batch& batch, std::optional<grid::CellSize> cell) {
  const Options& o = batch.options;
  if (!cell) {
    if (!ReadFirstPicture(batch)) {
      ReportFailures(batch);
      if (o.skipBad) std::fprintf(stderr, "meshwick-grid: none of the pictures could be read\n");
      return kExitFailure;
    }
    cell = grid::CellSize{batch.first->Width(), batch.first->Height()};
  }
  const grid::Layout layout = grid::MakeLayout(batch.paths.size(), o.columns, *cell);
  if (const auto problem = grid::CompositeProblem(layout, IsJpegPath(PathOf(o.output))))
    return UsageError(*problem);
  const auto composite = grid::MakeWhiteComposite(layout);
  if (!composite) {
    std::fprintf(stderr, "meshwick-grid: not enough memory for the grid picture\n");
    return kExitFailure;
  }

  std::vector<std::size_t> todo;
  for (std::size_t i = batch.first ? batch.firstIndex + 1 : 0; i < batch.paths.size(); ++i) todo.push_back(i);
  if (batch.first) {
    grid::CopyIntoCell(*composite, layout, batch.firstIndex, *batch.first);
    batch.first.reset();
  }
  const std::size_t alreadyDone = batch.paths.size() - todo.size();
  grid::ProgressLine line(stderr, !o.quiet && ::isatty(STDERR_FILENO) != 0, batch.paths.size());
  line.Update(alreadyDone);
  const grid::FillOptions fill{o.exact, o.skipBad, o.jobs > 0 ? o.jobs : DefaultJobs()};
  auto failures = grid::FillCells(*composite, layout, batch.paths, todo, fill,
                                  [&](std::size_t done) { line.Update(alreadyDone + done); });
  line.Finish();
  batch.failures.insert(batch.failures.end(), failures.begin(), failures.end());
  if (!ReportFailures(batch)) return kExitFailure;
  if (batch.failures.size() == batch.paths.size()) {
    std::fprintf(stderr, "meshwick-grid: none of the pictures could be read\n");
    return kExitFailure;
  }
  return WriteGrid(*composite, o.output);
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = kExitOk;
  auto options = ParseCommandLine(argc, argv, &exitCode);
  if (!options) return exitCode;
  if (options->pictures.empty()) return UsageError("no pictures given");
  std::optional<grid::CellSize> cell;
  if (!options->cell.empty()) {
    cell = CellFromOption(options->cell, &exitCode);
    if (!cell) return exitCode;
  }

  Batch batch;
  batch.options = std::move(*options);
  for (const std::string& picture : batch.options.pictures) batch.paths.push_back(PathOf(picture));
  return Run(batch, cell);
}
