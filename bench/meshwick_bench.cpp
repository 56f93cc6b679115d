// Decode and encode throughput of the Meshwick codec beside libjpeg-turbo's TurboJPEG API, in the
// same run, on a generated photo-like 2400x1600 picture (4:2:0 and 4:4:4 at quality 90, and grey).
//
// Comparable settings: our dctVariant 1 (accurate fixed-point transform) against TJFLAG_ACCURATEDCT,
// our dctVariant 0 (AAN) against TJFLAG_FASTDCT; our default chroma upsampling replicates samples,
// so TurboJPEG gets TJFLAG_FASTUPSAMPLE, and our upsamplingMode 1 (triangle filter) runs against
// TurboJPEG without that flag. Both decode to 3-byte BGR into a preallocated buffer; our
// timing includes the record's whole call sequence (jpegInit, parameters read, image read,
// jpegFree), as a caller pays it.
//
// With --file PATH the decode rows run on that JPEG instead (accurate, fast, interpolating, and the
// 1/2, 1/4 and 1/8 scales against TurboJPEG's scaled decode; four-component files decode to CMYK).
//
// --cpu measures thread CPU time instead of wall time (for a machine other work shares).
//
// Usage: meshwick_bench [--seconds S] [--only TEXT] [--file PATH] [--cpu]
#include <time.h>
#include <turbojpeg.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/photo_source.h"
#include "codec/jpeg.h"

namespace {

constexpr int kWidth = 2400;
constexpr int kHeight = 1600;
constexpr int kQuality = 90;

struct Timing {
  double bestSeconds = 0;
  double medianSeconds = 0;
};

// Thread CPU time: on a shared machine the time this thread actually ran, which leaves out the
// stretches other processes held the processor (both decoders run in this one thread).
double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool gCpuClock = false;

double nowSeconds() {
  if (gCpuClock) return threadSeconds();
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs `work` until `seconds` have passed (at least three times) and keeps each run's duration.
Timing measure(const std::function<bool()>& work, double seconds) {
  std::vector<double> runs;
  const double start = nowSeconds();
  while (runs.size() < 3 || nowSeconds() - start < seconds) {
    const double before = nowSeconds();
    if (!work()) return {};
    runs.push_back(nowSeconds() - before);
  }
  std::sort(runs.begin(), runs.end());
  return {runs.front(), runs[runs.size() / 2]};
}

struct Case {
  std::string name;
  double megapixels;
  std::function<bool()> ours;
  std::function<bool()> theirs;
};

// --- TurboJPEG side -------------------------------------------------------------------------

struct TjHandle {
  tjhandle handle;
  explicit TjHandle(tjhandle h) : handle(h) {}
  ~TjHandle() { tjDestroy(handle); }
  TjHandle(const TjHandle&) = delete;
  TjHandle& operator=(const TjHandle&) = delete;
};

std::vector<uint8_t> tjEncode(tjhandle tj, const std::vector<uint8_t>& pixels, int pixelFormat, int sampling,
                              int flags) {
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj, pixels.data(), kWidth, 0, kHeight, pixelFormat, &jpeg, &size, sampling, kQuality,
                  flags) != 0) {
    std::fprintf(stderr, "tjCompress2: %s\n", tjGetErrorStr2(tj));
    std::exit(1);
  }
  std::vector<uint8_t> out(jpeg, jpeg + size);
  tjFree(jpeg);
  return out;
}

// --- our side -------------------------------------------------------------------------------

// What one of our decodes produces: the mode picks the scale, the rest the output pixels.
struct DecodeTarget {
  int width = kWidth;
  int height = kHeight;
  int channels = 3;
  JpegColor color = JpegColor::Bgr;
  JpegIoMode mode = JpegIoMode::BufferReadImage;
};

// The application's call sequence: zeroed record, jpegInit, parameters read, image read, jpegFree.
bool ourDecode(std::vector<uint8_t>& jpeg, std::vector<uint8_t>& out, int dctVariant, int upsamplingMode = 0,
               const DecodeTarget& target = {}) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(record.get()) != JpegStatus::Ok) return false;
  record->jpegBuffer = jpeg.data();
  record->jpegBufferSize = static_cast<int32_t>(jpeg.size());
  record->state.dctVariant = dctVariant;
  record->state.upsamplingMode = upsamplingMode;
  bool ok = jpegRead(record.get(), JpegIoMode::BufferReadParams) == JpegStatus::Ok;
  if (ok) {
    record->pixelData = out.data();
    record->pixelWidth = target.width;
    record->pixelHeight = target.height;
    record->pixelChannels = target.channels;
    record->pixelColor = target.color;
    ok = jpegRead(record.get(), target.mode) == JpegStatus::Ok;
  }
  return jpegFree(record.get()) == JpegStatus::Ok && ok;
}

struct EncodeInput {
  const std::vector<uint8_t>* pixels;
  JpegColor pixelColor;
  int pixelChannels;
  JpegColor jpegColor;
  int jpegChannels;
  JpegSubsampling sampling;
};

bool ourEncode(const EncodeInput& in, std::vector<uint8_t>& out, int dctVariant, bool progressive) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(record.get()) != JpegStatus::Ok) return false;
  record->pixelData = const_cast<uint8_t*>(in.pixels->data());
  record->pixelWidth = kWidth;
  record->pixelHeight = kHeight;
  record->pixelChannels = in.pixelChannels;
  record->pixelColor = in.pixelColor;
  record->jpegBuffer = out.data();
  record->jpegBufferSize = static_cast<int32_t>(out.size());
  record->jpegWidth = kWidth;
  record->jpegHeight = kHeight;
  record->jpegChannels = in.jpegChannels;
  record->jpegColor = in.jpegColor;
  record->jpegSubsampling = in.sampling;
  record->quality = kQuality;
  record->state.dctVariant = dctVariant;
  record->state.progressive = progressive ? 1 : 0;
  const bool ok = jpegWrite(record.get(), JpegIoMode::BufferWriteImage) == JpegStatus::Ok;
  return jpegFree(record.get()) == JpegStatus::Ok && ok;
}

// Largest per-byte difference between two decodes: a sanity check that both did the same work.
int maxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int most = 0;
  for (size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(a[i] - b[i]));
  return most;
}

std::vector<uint8_t> swapRedBlue(const std::vector<uint8_t>& rgb) {
  std::vector<uint8_t> bgr(rgb.size());
  for (size_t i = 0; i < rgb.size(); i += 3)
    bgr[i] = rgb[i + 2], bgr[i + 1] = rgb[i + 1], bgr[i + 2] = rgb[i];
  return bgr;
}

std::vector<uint8_t> luma(const std::vector<uint8_t>& rgb) {
  std::vector<uint8_t> grey(rgb.size() / 3);
  for (size_t i = 0; i < grey.size(); ++i) {
    grey[i] = static_cast<uint8_t>((77 * rgb[3 * i] + 150 * rgb[3 * i + 1] + 29 * rgb[3 * i + 2] + 128) >> 8);
  }
  return grey;
}

// Measures each case picked by `only` and prints ours beside theirs; decode rows first compare the
// two outputs (both buffers cleared, so a smaller scaled picture leaves no stale bytes).
void runCases(const std::vector<Case>& cases, double seconds, const std::string& only,
              std::vector<uint8_t>& oursOut, std::vector<uint8_t>& theirsOut) {
  std::printf("%-46s %12s %12s %8s (best run; median in brackets; %s time)\n", "case", "ours MP/s", "TJ MP/s",
              "ratio", gCpuClock ? "thread CPU" : "wall");
  for (const Case& c : cases) {
    if (!only.empty() && c.name.find(only) == std::string::npos) continue;
    std::string note;
    std::fill(oursOut.begin(), oursOut.end(), 0);
    std::fill(theirsOut.begin(), theirsOut.end(), 0);
    if (c.name.rfind("decode", 0) == 0 && c.ours() && c.theirs()) {
      note = " max diff " + std::to_string(maxDifference(oursOut, theirsOut));
    }
    const Timing ours = measure(c.ours, seconds);
    const Timing theirs = measure(c.theirs, seconds);
    if (ours.bestSeconds == 0) {
      std::printf("%-46s %12s %12.1f %8s (ours failed)\n", c.name.c_str(), "n/a",
                  c.megapixels / theirs.bestSeconds, "-");
      continue;
    }
    std::printf("%-46s %5.1f [%4.1f] %5.1f [%4.1f] %8.2f%s\n", c.name.c_str(),
                c.megapixels / ours.bestSeconds, c.megapixels / ours.medianSeconds,
                c.megapixels / theirs.bestSeconds, c.megapixels / theirs.medianSeconds,
                theirs.bestSeconds / ours.bestSeconds, note.c_str());
  }
}

// The decode rows on a JPEG from disk. MP/s counts the full-size picture's pixels at every scale,
// as the work starts from the same stream.
int runFileCases(const std::string& path, double seconds, const std::string& only) {
  std::ifstream stream(path, std::ios::binary);
  std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  TjHandle decompressor(tjInitDecompress());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (jpeg.empty() || tjDecompressHeader3(decompressor.handle, jpeg.data(), jpeg.size(), &width, &height,
                                          &subsampling, &colorspace) != 0) {
    std::fprintf(stderr, "%s: not a JPEG TurboJPEG can read\n", path.c_str());
    return 1;
  }
  const bool fourComponents = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
  const int channels = fourComponents ? 4 : 3;
  const JpegColor color = fourComponents ? JpegColor::Cmyk : JpegColor::Bgr;
  const int tjFormat = fourComponents ? TJPF_CMYK : TJPF_BGR;
  const char* const samplingNames[] = {"4:4:4", "4:2:2", "4:2:0", "grey", "4:4:0", "4:1:1"};
  const std::string label =
      std::string(subsampling >= 0 && subsampling < 6 ? samplingNames[subsampling] : "?") +
      (fourComponents ? " CMYK" : "");
  std::vector<uint8_t> oursOut(static_cast<size_t>(width) * height * channels);
  std::vector<uint8_t> theirsOut(oursOut.size());
  const double megapixels = width * static_cast<double>(height) / 1e6;

  struct Row {
    std::string name;
    int dctVariant;
    int upsamplingMode;
    int scale;
  };
  std::vector<Row> rows = {{"accurate", 1, 0, 1},
                           {"fast", 0, 0, 1},
                           {"1/2 accurate", 1, 0, 2},
                           {"1/4 accurate", 1, 0, 4},
                           {"1/8 accurate", 1, 0, 8}};
  if (subsampling == TJSAMP_420 || subsampling == TJSAMP_422)
    rows.insert(rows.begin() + 2, {"accurate fancy", 1, 1, 1});
  std::vector<Case> cases;
  for (const Row& row : rows) {
    const JpegIoMode modes[] = {JpegIoMode::BufferReadImage, JpegIoMode::BufferReadHalf,
                                JpegIoMode::BufferReadQuarter, JpegIoMode::BufferReadEighth};
    const int modeIndex = row.scale == 1 ? 0 : row.scale == 2 ? 1 : row.scale == 4 ? 2 : 3;
    const DecodeTarget target{(width + row.scale - 1) / row.scale, (height + row.scale - 1) / row.scale,
                              channels, color, modes[modeIndex]};
    const int tjFlags = (row.dctVariant == 1 ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT) |
                        (row.upsamplingMode == 1 ? 0 : TJFLAG_FASTUPSAMPLE);
    cases.push_back(
        {"decode " + label + " " + row.name + (fourComponents ? " -> CMYK" : " -> BGR"), megapixels,
         [&, row, target] { return ourDecode(jpeg, oursOut, row.dctVariant, row.upsamplingMode, target); },
         [&, target, tjFlags] {
           return tjDecompress2(decompressor.handle, jpeg.data(), jpeg.size(), theirsOut.data(), target.width,
                                0, target.height, tjFormat, tjFlags) == 0;
         }});
  }
  std::printf("Meshwick codec vs TurboJPEG (libturbojpeg %s), %s: %dx%d %s, %.1f s per measurement\n",
              MESHWICK_TURBOJPEG_VERSION, path.c_str(), width, height, label.c_str(), seconds);
  runCases(cases, seconds, only, oursOut, theirsOut);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 1.0;
  std::string only;
  std::string file;
  CLI::App app{"Meshwick codec throughput beside TurboJPEG"};
  app.add_option("--seconds", seconds, "time per measurement")->check(CLI::PositiveNumber);
  app.add_option("--only", only, "run only the cases whose name contains TEXT");
  app.add_option("--file", file, "run the decode rows on this JPEG")->check(CLI::ExistingFile);
  app.add_flag("--cpu", gCpuClock, "measure thread CPU time instead of wall time");
  CLI11_PARSE(app, argc, argv);
  if (!file.empty()) return runFileCases(file, seconds, only);

  const std::vector<uint8_t> rgb = bench::photoRgb(kWidth, kHeight);
  const std::vector<uint8_t> bgr = swapRedBlue(rgb);
  const std::vector<uint8_t> grey = luma(rgb);
  TjHandle compressor(tjInitCompress());
  TjHandle decompressor(tjInitDecompress());

  struct Source {
    const char* label;
    std::vector<uint8_t> jpeg;
    EncodeInput encode;
    int tjPixelFormat;
    int tjSampling;
  };
  std::vector<Source> sources = {
      {"4:2:0 q90",
       {},
       {&bgr, JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H2V2},
       TJPF_BGR,
       TJSAMP_420},
      {"4:4:4 q90",
       {},
       {&bgr, JpegColor::Bgr, 3, JpegColor::YCbCr, 3, JpegSubsampling::H1V1},
       TJPF_BGR,
       TJSAMP_444},
      {"grey q90",
       {},
       {&grey, JpegColor::Gray, 1, JpegColor::Gray, 1, JpegSubsampling::H1V1},
       TJPF_GRAY,
       TJSAMP_GRAY},
  };
  for (Source& s : sources) {
    s.jpeg = tjEncode(compressor.handle, *s.encode.pixels, s.tjPixelFormat, s.tjSampling, TJFLAG_ACCURATEDCT);
  }

  std::vector<uint8_t> oursOut(static_cast<size_t>(kWidth) * kHeight * 3);
  std::vector<uint8_t> theirsOut(oursOut.size());
  std::vector<uint8_t> encoded(static_cast<size_t>(kWidth) * kHeight * 4 + 65536);
  const double megapixels = kWidth * kHeight / 1e6;

  std::vector<Case> cases;
  for (Source& s : sources) {
    for (int variant : {1, 0}) {
      const int tjFlags = (variant == 1 ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT) | TJFLAG_FASTUPSAMPLE;
      cases.push_back({std::string("decode ") + s.label + (variant == 1 ? " accurate" : " fast") + " -> BGR",
                       megapixels, [&, variant] { return ourDecode(s.jpeg, oursOut, variant); },
                       [&, tjFlags] {
                         return tjDecompress2(decompressor.handle, s.jpeg.data(), s.jpeg.size(),
                                              theirsOut.data(), kWidth, 0, kHeight, TJPF_BGR, tjFlags) == 0;
                       }});
    }
  }
  // Interpolating chroma upsampling on the 4:2:0 picture.
  Source& subsampled = sources[0];
  cases.push_back({"decode 4:2:0 q90 accurate fancy -> BGR", megapixels,
                   [&] { return ourDecode(subsampled.jpeg, oursOut, 1, 1); },
                   [&] {
                     return tjDecompress2(decompressor.handle, subsampled.jpeg.data(), subsampled.jpeg.size(),
                                          theirsOut.data(), kWidth, 0, kHeight, TJPF_BGR,
                                          TJFLAG_ACCURATEDCT) == 0;
                   }});
  // Progressive decode: the 4:2:0 picture with the default progressive script (the one cjpeg
  // -progressive writes).
  std::vector<uint8_t> progressive =
      tjEncode(compressor.handle, bgr, TJPF_BGR, TJSAMP_420, TJFLAG_ACCURATEDCT | TJFLAG_PROGRESSIVE);
  cases.push_back({"decode 4:2:0 q90 progressive accurate -> BGR", megapixels,
                   [&] { return ourDecode(progressive, oursOut, 1); },
                   [&] {
                     return tjDecompress2(decompressor.handle, progressive.data(), progressive.size(),
                                          theirsOut.data(), kWidth, 0, kHeight, TJPF_BGR,
                                          TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE) == 0;
                   }});
  // Encode: the same pictures back to JPEG at quality 90 (our default dctVariant 1 against
  // TurboJPEG's accurate forward DCT). Progressive: our per-scan optimal tables against
  // TurboJPEG's progressive mode, which optimises its tables too.
  for (Source& s : sources) {
    for (bool progressive : {false, true}) {
      const int flags = TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC | (progressive ? TJFLAG_PROGRESSIVE : 0);
      cases.push_back({std::string("encode ") + s.label + " accurate" + (progressive ? " progressive" : ""),
                       megapixels, [&, progressive] { return ourEncode(s.encode, encoded, 1, progressive); },
                       [&, flags] {
                         unsigned char* out = encoded.data();
                         unsigned long size = encoded.size();
                         return tjCompress2(compressor.handle, s.encode.pixels->data(), kWidth, 0, kHeight,
                                            s.tjPixelFormat, &out, &size, s.tjSampling, kQuality, flags) == 0;
                       }});
    }
  }

  std::printf(
      "Meshwick codec vs TurboJPEG (libturbojpeg %s), %dx%d photo-like picture, %.1f s per measurement\n",
      MESHWICK_TURBOJPEG_VERSION, kWidth, kHeight, seconds);
  runCases(cases, seconds, only, oursOut, theirsOut);
  return 0;
}
