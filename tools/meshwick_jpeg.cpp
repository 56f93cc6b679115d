// meshwick-jpeg: command-line front end to the codec.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argv;
  if (argc < 2) {
    std::fprintf(stderr, "usage: meshwick-jpeg info|decode|encode ...\n");
    return 2;
  }
  return 2;
}
