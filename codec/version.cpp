#include "codec/jpeg.h"

namespace {

constexpr JpegVersion kVersion = {
    1, 51, 12, "libmeshwick_codec.a", "1.51.12", "[1.51.12.44]", "May 30 2001", "Microsoft*", 1000,
};

}  // namespace

const JpegVersion* jpegGetVersion() {
  return &kVersion;
}
