// The PPM, PGM and PAM readers of meshwick-jpeg encode driven by arbitrary bytes: the libFuzzer
// target's body, also run by the unit tests over fuzz/regressions/pnm/. The input is copied into
// a vector of exactly its size, as the tool holds a file; every raster byte of an accepted
// picture is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pnm_reader.h"

namespace fuzzing {

inline std::uint32_t runPnmReadHarness(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || data[0] != 'P') return 0;
  tool_files::Bytes bytes(data, data + size);
  pnm::InputPicture picture;
  std::string problem;
  switch (data[1]) {
    case '5':
    case '6':
      problem = pnm::readPpmOrPgm(&bytes, data[1] == '5', &picture);
      break;
    case '7':
      problem = pnm::readPam(&bytes, &picture);
      break;
    default:
      return 0;
  }
  if (!problem.empty()) return 0;
  const std::size_t rowBytes =
      static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.channels);
  const std::size_t step = rowBytes + static_cast<std::size_t>(picture.padBytes);
  std::uint32_t digest = 0;
  const std::uint8_t* rows = picture.rows();
  for (std::size_t y = 0; y < static_cast<std::size_t>(picture.height); ++y)
    for (std::size_t i = 0; i < rowBytes; ++i) digest = digest * 31 + rows[y * step + i];
  return digest;
}

}  // namespace fuzzing
