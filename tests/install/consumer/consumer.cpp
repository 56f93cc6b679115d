// A program outside the tree that uses the installed codec: decodes the JPEG file named on the
// command line and checks the size it reports against the expected one.
#include <meshwick/jpeg.h>
#include <meshwick/jpeg_region.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: consumer FILE.jpg WIDTH HEIGHT\n");
    return 2;
  }
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(record.get()) != JpegStatus::Ok) return 1;
  record->jpegFileName = argv[1];
  JpegStatus status = jpegRead(record.get(), JpegIoMode::FileReadParams);
  if (status == JpegStatus::Ok &&
      (record->jpegWidth != std::atoi(argv[2]) || record->jpegHeight != std::atoi(argv[3]))) {
    std::fprintf(stderr, "size %d x %d\n", record->jpegWidth, record->jpegHeight);
    status = JpegStatus::InternalError;
  }
  std::vector<unsigned char> pixels;
  if (status == JpegStatus::Ok) {
    pixels.resize(static_cast<size_t>(record->jpegWidth) * record->jpegHeight * 3);
    record->pixelData = pixels.data();
    record->pixelWidth = record->jpegWidth;
    record->pixelHeight = record->jpegHeight;
    status = jpegRead(record.get(), JpegIoMode::FileReadImage);
  }
  if (status == JpegStatus::Ok) clearRegionRead(record.get());
  std::printf("%s\n", jpegErrorString(status));
  jpegFree(record.get());
  return status == JpegStatus::Ok ? 0 : 1;
}
