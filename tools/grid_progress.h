// The one updating line a batch shows on a terminal: pictures done of total, percentage, time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace grid {

// "7/12 pictures  58%  1.2 s"
std::string FormatProgress(std::size_t done, std::size_t total, double seconds);

class ProgressLine {
 public:
  // Shows nothing unless enabled (standard error a terminal and not asked to be quiet).
  ProgressLine(std::FILE* stream, bool enabled, std::size_t total);
  void Update(std::size_t done);
  // Ends the line so later messages start on a line of their own.
  void Finish();

 private:
  std::FILE* m_stream;
  bool m_enabled;
  bool m_shown = false;
  std::size_t m_total;
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace grid
