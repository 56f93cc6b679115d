// Stand-in until the encoder's command arrives.
#include <cstdio>

#include "tools/meshwick_jpeg_commands.h"

int runEncodeCommand(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "encode: not available\n");
  return 2;
}
