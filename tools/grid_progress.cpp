#include "tools/grid_progress.h"

namespace grid {

std::string FormatProgress(std::size_t done, std::size_t total, double seconds) {
  const std::size_t percent = total == 0 ? 100 : done * 100 / total;
  char text[96];
  std::snprintf(text, sizeof text, "%zu/%zu pictures  %3zu%%  %.1f s", done, total, percent, seconds);
  return text;
}

ProgressLine::ProgressLine(std::FILE* stream, bool enabled, std::size_t total)
    : m_stream(stream), m_enabled(enabled), m_total(total), m_start(std::chrono::steady_clock::now()) {}

void ProgressLine::Update(std::size_t done) {
  if (!m_enabled) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
  // Carriage return and erase-to-end rewrite the line in place.
  std::fprintf(m_stream, "\r%s\033[K", FormatProgress(done, m_total, elapsed.count()).c_str());
  std::fflush(m_stream);
  m_shown = true;
}

void ProgressLine::Finish() {
  if (!m_shown) return;
  std::fputc('\n', m_stream);
  std::fflush(m_stream);
  m_shown = false;
}

}  // namespace grid
