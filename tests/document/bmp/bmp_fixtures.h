// The committed BMP fixtures (tests/data/bmp/NAME.bmp beside NAME.ppm) and the depth each
// decodes to: palette kinds keep their depth (run-length 8 and 4 too), 5-5-5 and plain 32-bit
// rows stay as they are, other masks become 24-bit.
#pragma once

namespace test {

struct BmpFixture {
  const char* name;
  int decodedBits;
};

// ImageMagick's files (its PPM beside them) and make_kinds.py's (PPM from the same description).
inline constexpr BmpFixture kBmpFixtures[] = {
    {"mono-13x5", 1},
    {"pal4-9x6", 4},
    {"pal8-41x3", 8},
    {"rgb24-9x6", 24},
    {"rle8-9x6", 8},
    {"v5header-9x6", 24},
    {"rle8-default-20x7", 8},
    {"v5header-pal4-9x6", 4},
    {"rgb565-v5header-9x6", 24},
    {"rgb555-v5header-9x6", 16},
    {"argb32-v5header-9x6", 32},
    {"core-pal4-9x6", 4},
    {"core-rgb24-9x6", 24},
    {"rle4-13x7", 4},
    {"rle8-delta-11x6", 8},
    {"rle8-topdown-11x6", 8},
    {"topdown-mono-13x3", 1},
    {"topdown-pal4-7x3", 4},
    {"topdown-pal8-7x3", 8},
    {"topdown-rgb24-7x3", 24},
    {"v4header-rgb24-7x3", 24},
    {"rgb32-7x3", 32},
    {"rgb555-7x3", 16},
    {"rgb565-info40-7x3", 24},
    {"rgb444-v5header-5x3", 24},
    {"bgr101010-v3header-5x3", 24},
    {"core-pal8-5x3", 8},
};

}  // namespace test
