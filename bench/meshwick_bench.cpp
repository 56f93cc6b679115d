// Decode and encode throughput of the Meshwick codec beside libjpeg-turbo's TurboJPEG API, in the
// same run, on a generated photo-like picture (12 megapixels by default) at several qualities.
//
// Rows per quality: decode 4:2:0, 4:2:2, 4:4:4 and grey with both transforms, the interpolating
// upsampler (4:2:0, 4:2:2), progressive, a file with one restart interval per MCU row, 1/2, 1/4
// and 1/8 scale and a four-component (YCCK -> CMYK) file; encode 4:2:0, 4:2:2, 4:4:4 and grey
// with both transforms, progressive 4:2:0, 4:4:4 and grey, and 4:2:0 with restart intervals.
//
// Comparable settings: our dctVariant 1 (accurate fixed-point transform) against TJFLAG_ACCURATEDCT,
// our dctVariant 0 (AAN) against TJFLAG_FASTDCT; our default chroma upsampling replicates samples,
// so TurboJPEG gets TJFLAG_FASTUPSAMPLE, and our upsamplingMode 1 (triangle filter) runs against
// TurboJPEG without that flag. Both decode into a preallocated buffer; our timing includes the
// record's whole call sequence (jpegInit, parameters read, image read, jpegFree), as a caller pays
// it. TurboJPEG cannot write restart intervals, so the restart encode row compares our encoder
// writing them against TurboJPEG without them (our side does slightly more work). Progressive
// encoding: our per-scan optimal tables against TurboJPEG's progressive mode, which optimises its
// tables too.
//
// With --file PATH the rows run on that JPEG instead: the decode rows on the file itself, the
// encode rows on its pixels (as TurboJPEG decodes them) at its sampling.
//
// --cpu measures thread CPU time instead of wall time (for a machine other work shares).
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

struct Timing {
  double bestSeconds = 0;
  double medianSeconds = 0;
};

// Thread CPU time: on a shared machine the time this thread actually ran, which leaves out the
// stretches other processes held the processor (both codecs run in this one thread).
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

struct TjHandle {
  tjhandle handle;
  explicit TjHandle(tjhandle h) : handle(h) {}
  ~TjHandle() { tjDestroy(handle); }
  TjHandle(const TjHandle&) = delete;
  TjHandle& operator=(const TjHandle&) = delete;
};

// Pixels in one of the layouts both codecs take.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 3;
  JpegColor color = JpegColor::Bgr;
  int tjFormat = TJPF_BGR;
  std::vector<uint8_t> bytes;
};

// One way of writing a JPEG, in both codecs' terms.
struct Layout {
  const char* label;
  JpegSubsampling ours;
  int tjSampling;
};

const Layout k420{"4:2:0", JpegSubsampling::H2V2, TJSAMP_420};
const Layout k422{"4:2:2", JpegSubsampling::H2V1, TJSAMP_422};
const Layout k444{"4:4:4", JpegSubsampling::H1V1, TJSAMP_444};
const Layout kGrey{"grey", JpegSubsampling::H1V1, TJSAMP_GRAY};

// Each stream gets a handle of its own: libturbojpeg 2.1.5 carries state over between
// compressions on one handle (a sequential stream written after a progressive one made djpeg
// report "bad Huffman code", and a YCCK stream after three-component ones was called corrupt).
std::vector<uint8_t> tjEncode(const Pixels& pixels, int sampling, int quality, int flags) {
  const TjHandle handle(tjInitCompress());
  tjhandle tj = handle.handle;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj, pixels.bytes.data(), pixels.width, 0, pixels.height, pixels.tjFormat, &jpeg, &size,
                  sampling, quality, flags) != 0) {
    std::fprintf(stderr, "tjCompress2: %s\n", tjGetErrorStr2(tj));
    std::exit(1);
  }
  std::vector<uint8_t> out(jpeg, jpeg + size);
  tjFree(jpeg);
  return out;
}

// What one of our decodes produces: the mode picks the scale, the rest the output pixels.
struct DecodeTarget {
  int width = 0;
  int height = 0;
  int channels = 3;
  JpegColor color = JpegColor::Bgr;
  JpegIoMode mode = JpegIoMode::BufferReadImage;
};

// The application's call sequence: zeroed record, jpegInit, parameters read, image read, jpegFree.
bool ourDecode(std::vector<uint8_t>& jpeg, std::vector<uint8_t>& out, int dctVariant, int upsamplingMode,
               const DecodeTarget& target) {
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

struct EncodeSettings {
  int quality = 90;
  int dctVariant = 1;
  bool progressive = false;
  int restartInterval = 0;
};

bool ourEncode(const Pixels& in, const Layout& layout, const EncodeSettings& settings,
               std::vector<uint8_t>& out, int32_t* written = nullptr) {
  auto record = std::make_unique<JPEG_CODEC_PROPERTIES>();
  if (jpegInit(record.get()) != JpegStatus::Ok) return false;
  const bool grey = in.channels == 1;
  record->pixelData = const_cast<uint8_t*>(in.bytes.data());
  record->pixelWidth = in.width;
  record->pixelHeight = in.height;
  record->pixelChannels = in.channels;
  record->pixelColor = in.color;
  record->jpegBuffer = out.data();
  record->jpegBufferSize = static_cast<int32_t>(out.size());
  record->jpegWidth = in.width;
  record->jpegHeight = in.height;
  record->jpegChannels = grey ? 1 : 3;
  record->jpegColor = grey ? JpegColor::Gray : JpegColor::YCbCr;
  record->jpegSubsampling = layout.ours;
  record->quality = settings.quality;
  record->state.dctVariant = settings.dctVariant;
  record->state.progressive = settings.progressive ? 1 : 0;
  record->state.restartInterval = settings.restartInterval;
  const bool ok = jpegWrite(record.get(), JpegIoMode::BufferWriteImage) == JpegStatus::Ok;
  if (written != nullptr) *written = record->jpegBufferSize;
  return jpegFree(record.get()) == JpegStatus::Ok && ok;
}

// Largest per-byte difference between two decodes: a sanity check that both did the same work.
int maxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int most = 0;
  for (size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(a[i] - b[i]));
  return most;
}

Pixels bgrFromRgb(int width, int height, const std::vector<uint8_t>& rgb) {
  Pixels bgr{width, height, 3, JpegColor::Bgr, TJPF_BGR, std::vector<uint8_t>(rgb.size())};
  for (size_t i = 0; i < rgb.size(); i += 3)
    bgr.bytes[i] = rgb[i + 2], bgr.bytes[i + 1] = rgb[i + 1], bgr.bytes[i + 2] = rgb[i];
  return bgr;
}

Pixels greyFromBgr(const Pixels& bgr) {
  Pixels grey{bgr.width,       bgr.height, 1,
              JpegColor::Gray, TJPF_GRAY,  std::vector<uint8_t>(bgr.bytes.size() / 3)};
  for (size_t i = 0; i < grey.bytes.size(); ++i) {
    const uint8_t* p = &bgr.bytes[3 * i];
    grey.bytes[i] = static_cast<uint8_t>((29 * p[0] + 150 * p[1] + 77 * p[2] + 128) >> 8);
  }
  return grey;
}

// Plain (uninverted) CMYK with grey component replacement, as a print pipeline would hand over.
Pixels cmykFromBgr(const Pixels& bgr) {
  Pixels cmyk{bgr.width,       bgr.height, 4,
              JpegColor::Cmyk, TJPF_CMYK,  std::vector<uint8_t>(bgr.bytes.size() / 3 * 4)};
  for (size_t i = 0; i < bgr.bytes.size() / 3; ++i) {
    const uint8_t* p = &bgr.bytes[3 * i];
    const int c = 255 - p[2], m = 255 - p[1], y = 255 - p[0], k = std::min({c, m, y});
    uint8_t* q = &cmyk.bytes[4 * i];
    q[0] = static_cast<uint8_t>(c - k), q[1] = static_cast<uint8_t>(m - k),
    q[2] = static_cast<uint8_t>(y - k);
    q[3] = static_cast<uint8_t>(k);
  }
  return cmyk;
}

// The buffers every row decodes into and encodes to, sized for the largest picture.
struct Buffers {
  std::vector<uint8_t> oursOut;
  std::vector<uint8_t> theirsOut;
  std::vector<uint8_t> encoded;
  explicit Buffers(size_t pixels) : oursOut(pixels * 4), theirsOut(pixels * 4), encoded(pixels * 4 + 65536) {}
};

// One decode row: a stream both codecs read, and how.
struct DecodeRow {
  std::string name;
  const std::vector<uint8_t>* jpeg;
  int width, height;  // of the full-size picture
  int dctVariant = 1;
  int upsamplingMode = 0;
  int scale = 1;
  bool fourComponents = false;
};

Case decodeCase(const DecodeRow& row, tjhandle tj, Buffers& buffers) {
  const JpegIoMode modes[] = {JpegIoMode::BufferReadImage, JpegIoMode::BufferReadHalf,
                              JpegIoMode::BufferReadQuarter, JpegIoMode::BufferReadEighth};
  const int modeIndex = row.scale == 1 ? 0 : row.scale == 2 ? 1 : row.scale == 4 ? 2 : 3;
  const DecodeTarget target{(row.width + row.scale - 1) / row.scale, (row.height + row.scale - 1) / row.scale,
                            row.fourComponents ? 4 : 3, row.fourComponents ? JpegColor::Cmyk : JpegColor::Bgr,
                            modes[modeIndex]};
  const int tjFormat = row.fourComponents ? TJPF_CMYK : TJPF_BGR;
  const int tjFlags = (row.dctVariant == 1 ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT) |
                      (row.upsamplingMode == 1 ? 0 : TJFLAG_FASTUPSAMPLE);
  auto* jpeg = const_cast<std::vector<uint8_t>*>(row.jpeg);
  return {row.name, row.width * static_cast<double>(row.height) / 1e6,
          [jpeg, row, target, &buffers] {
            return ourDecode(*jpeg, buffers.oursOut, row.dctVariant, row.upsamplingMode, target);
          },
          [jpeg, target, tjFormat, tjFlags, tj, &buffers] {
            if (tjDecompress2(tj, jpeg->data(), jpeg->size(), buffers.theirsOut.data(), target.width, 0,
                              target.height, tjFormat, tjFlags) == 0 ||
                tjGetErrorCode(tj) == TJERR_WARNING)
              return true;
            std::fprintf(stderr, "tjDecompress2: %s\n", tjGetErrorStr2(tj));
            return false;
          }};
}

// TurboJPEG's side of an encode row writes through a handle of its own (see tjEncode).
Case encodeCase(const std::string& name, const Pixels& pixels, const Layout& layout,
                const EncodeSettings& settings, Buffers& buffers) {
  const int flags = (settings.dctVariant == 1 ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT) | TJFLAG_NOREALLOC |
                    (settings.progressive ? TJFLAG_PROGRESSIVE : 0);
  auto handle = std::make_shared<TjHandle>(tjInitCompress());
  return {
      name, pixels.width * static_cast<double>(pixels.height) / 1e6,
      [&pixels, &layout, settings, &buffers] { return ourEncode(pixels, layout, settings, buffers.encoded); },
      [&pixels, &layout, settings, flags, handle, &buffers] {
        unsigned char* out = buffers.encoded.data();
        unsigned long size = buffers.encoded.size();
        return tjCompress2(handle->handle, pixels.bytes.data(), pixels.width, 0, pixels.height,
                           pixels.tjFormat, &out, &size, layout.tjSampling, settings.quality, flags) == 0;
      }};
}

const char* variantName(int dctVariant) {
  return dctVariant == 1 ? "accurate" : "fast";
}

// The streams of one quality of the generated picture; they must outlive the cases that read them.
struct QualityStreams {
  int quality = 90;
  std::vector<uint8_t> sequential[4];  // k420, k422, k444, kGrey
  std::vector<uint8_t> progressive;
  std::vector<uint8_t> restart;
  std::vector<uint8_t> cmyk;
};

// Our encoder writes the restart file: TurboJPEG's API has no restart interval setting.
std::vector<uint8_t> restartStream(const Pixels& bgr, int quality, Buffers& buffers) {
  const EncodeSettings settings{quality, 1, false, (bgr.width + 15) / 16};
  int32_t size = 0;
  if (!ourEncode(bgr, k420, settings, buffers.encoded, &size)) {
    std::fprintf(stderr, "could not write the restart stream\n");
    std::exit(1);
  }
  return {buffers.encoded.begin(), buffers.encoded.begin() + size};
}

void addGeneratedCases(std::vector<Case>& cases, const QualityStreams& s, const Pixels& bgr,
                       const Pixels& grey, tjhandle decompressor, Buffers& buffers) {
  const std::string q = " q" + std::to_string(s.quality);
  const Layout* layouts[] = {&k420, &k422, &k444, &kGrey};
  const int w = bgr.width, h = bgr.height;
  for (int i = 0; i < 4; ++i)
    for (int variant : {1, 0})
      cases.push_back(
          decodeCase({std::string("decode ") + layouts[i]->label + q + " " + variantName(variant) + " -> BGR",
                      &s.sequential[i], w, h, variant},
                     decompressor, buffers));
  for (int i = 0; i < 2; ++i)
    cases.push_back(decodeCase({std::string("decode ") + layouts[i]->label + q + " accurate fancy -> BGR",
                                &s.sequential[i], w, h, 1, 1},
                               decompressor, buffers));
  cases.push_back(decodeCase({"decode 4:2:0" + q + " progressive accurate -> BGR", &s.progressive, w, h},
                             decompressor, buffers));
  cases.push_back(
      decodeCase({"decode 4:2:0" + q + " restart accurate -> BGR", &s.restart, w, h}, decompressor, buffers));
  for (int scale : {2, 4, 8})
    cases.push_back(decodeCase({"decode 4:2:0" + q + " 1/" + std::to_string(scale) + " accurate -> BGR",
                                &s.sequential[0], w, h, 1, 0, scale},
                               decompressor, buffers));
  cases.push_back(decodeCase({"decode 4:2:0 CMYK" + q + " accurate -> CMYK", &s.cmyk, w, h, 1, 0, 1, true},
                             decompressor, buffers));

  for (int i = 0; i < 4; ++i) {
    const Pixels& source = i == 3 ? grey : bgr;
    for (int variant : {1, 0})
      cases.push_back(encodeCase(std::string("encode ") + layouts[i]->label + q + " " + variantName(variant),
                                 source, *layouts[i], {s.quality, variant}, buffers));
  }
  for (int i : {0, 2, 3})
    cases.push_back(encodeCase(std::string("encode ") + layouts[i]->label + q + " accurate progressive",
                               i == 3 ? grey : bgr, *layouts[i], {s.quality, 1, true}, buffers));
  cases.push_back(encodeCase("encode 4:2:0" + q + " accurate restart", bgr, k420,
                             {s.quality, 1, false, (w + 15) / 16}, buffers));
}

void printHeader(const std::string& what, double seconds) {
  std::printf("Meshwick codec vs TurboJPEG (libturbojpeg %s), %s, %.1f s per measurement\n",
              MESHWICK_TURBOJPEG_VERSION, what.c_str(), seconds);
  std::printf("%-46s %12s %12s %8s (best run; median in brackets; %s time)\n", "case", "ours MP/s", "TJ MP/s",
              "ratio", gCpuClock ? "thread CPU" : "wall");
}

// Measures one case and prints ours beside theirs; a decode row first compares the two outputs
// (both buffers cleared, so a smaller scaled picture leaves no stale bytes).
void runCase(const Case& c, double seconds, Buffers& buffers) {
  std::string note;
  if (c.name.rfind("decode", 0) == 0) {
    std::fill(buffers.oursOut.begin(), buffers.oursOut.end(), 0);
    std::fill(buffers.theirsOut.begin(), buffers.theirsOut.end(), 0);
    if (c.ours() && c.theirs())
      note = " max diff " + std::to_string(maxDifference(buffers.oursOut, buffers.theirsOut));
  }
  const Timing ours = measure(c.ours, seconds);
  const Timing theirs = measure(c.theirs, seconds);
  if (ours.bestSeconds == 0) {
    std::printf("%-46s %12s %12.1f %8s (ours failed)\n", c.name.c_str(), "n/a",
                c.megapixels / theirs.bestSeconds, "-");
    return;
  }
  std::printf("%-46s %5.1f [%5.1f] %5.1f [%5.1f] %5.2f [%4.2f]%s\n", c.name.c_str(),
              c.megapixels / ours.bestSeconds, c.megapixels / ours.medianSeconds,
              c.megapixels / theirs.bestSeconds, c.megapixels / theirs.medianSeconds,
              theirs.bestSeconds / ours.bestSeconds, theirs.medianSeconds / ours.medianSeconds, note.c_str());
  std::fflush(stdout);
}

bool selected(const Case& c, const std::string& only) {
  return only.empty() || c.name.find(only) != std::string::npos;
}

struct Options {
  double seconds = 1.0;
  std::string only;
  std::string file;
  int width = 4000;
  int height = 3000;
  std::vector<int> qualities{75, 90, 98};
};

int runGenerated(const Options& options) {
  const Pixels bgr =
      bgrFromRgb(options.width, options.height, bench::photoRgb(options.width, options.height));
  const Pixels grey = greyFromBgr(bgr);
  const Pixels cmyk = cmykFromBgr(bgr);
  TjHandle decompressor(tjInitDecompress());
  Buffers buffers(static_cast<size_t>(bgr.width) * bgr.height);
  printHeader(std::to_string(bgr.width) + "x" + std::to_string(bgr.height) + " photo-like picture",
              options.seconds);
  for (int quality : options.qualities) {
    // Built per quality and dropped after it, so the run holds one quality's streams at a time.
    QualityStreams streams;
    streams.quality = quality;
    const Layout* layouts[] = {&k420, &k422, &k444, &kGrey};
    for (int i = 0; i < 4; ++i)
      streams.sequential[i] =
          tjEncode(i == 3 ? grey : bgr, layouts[i]->tjSampling, quality, TJFLAG_ACCURATEDCT);
    streams.progressive = tjEncode(bgr, TJSAMP_420, quality, TJFLAG_ACCURATEDCT | TJFLAG_PROGRESSIVE);
    streams.restart = restartStream(bgr, quality, buffers);
    streams.cmyk = tjEncode(cmyk, TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
    std::vector<Case> cases;
    addGeneratedCases(cases, streams, bgr, grey, decompressor.handle, buffers);
    for (const Case& c : cases)
      if (selected(c, options.only)) runCase(c, options.seconds, buffers);
  }
  return 0;
}

// Which of our layouts a TurboJPEG sampling code is, or null for one we do not encode.
const Layout* layoutOf(int tjSampling) {
  for (const Layout* layout : {&k420, &k422, &k444, &kGrey})
    if (layout->tjSampling == tjSampling) return layout;
  return nullptr;
}

int runFile(const Options& options) {
  std::ifstream stream(options.file, std::ios::binary);
  const std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  TjHandle decompressor(tjInitDecompress());
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (jpeg.empty() || tjDecompressHeader3(decompressor.handle, jpeg.data(), jpeg.size(), &width, &height,
                                          &subsampling, &colorspace) != 0) {
    std::fprintf(stderr, "%s: not a JPEG TurboJPEG can read\n", options.file.c_str());
    return 1;
  }
  const bool fourComponents = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
  const char* const samplingNames[] = {"4:4:4", "4:2:2", "4:2:0", "grey", "4:4:0", "4:1:1"};
  const std::string label =
      std::string(subsampling >= 0 && subsampling < 6 ? samplingNames[subsampling] : "?") +
      (fourComponents ? " CMYK" : "");
  const std::string arrow = fourComponents ? " -> CMYK" : " -> BGR";
  Buffers buffers(static_cast<size_t>(width) * height);

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
  for (const Row& row : rows)
    cases.push_back(decodeCase({"decode " + label + " " + row.name + arrow, &jpeg, width, height,
                                row.dctVariant, row.upsamplingMode, row.scale, fourComponents},
                               decompressor.handle, buffers));

  // The encode rows start from the file's own pixels.
  const Layout* layout = fourComponents ? nullptr : layoutOf(subsampling);
  Pixels pixels;
  if (layout != nullptr) {
    const bool grey = layout == &kGrey;
    pixels = {width,
              height,
              grey ? 1 : 3,
              grey ? JpegColor::Gray : JpegColor::Bgr,
              grey ? TJPF_GRAY : TJPF_BGR,
              std::vector<uint8_t>(static_cast<size_t>(width) * height * (grey ? 1 : 3))};
    if (tjDecompress2(decompressor.handle, jpeg.data(), jpeg.size(), pixels.bytes.data(), width, 0, height,
                      pixels.tjFormat, TJFLAG_ACCURATEDCT) != 0)
      layout = nullptr;
  }
  if (layout != nullptr) {
    for (int quality : options.qualities) {
      const std::string name = std::string("encode ") + layout->label + " q" + std::to_string(quality);
      for (int variant : {1, 0})
        cases.push_back(
            encodeCase(name + " " + variantName(variant), pixels, *layout, {quality, variant}, buffers));
      cases.push_back(
          encodeCase(name + " accurate progressive", pixels, *layout, {quality, 1, true}, buffers));
    }
  }
  printHeader(options.file + ": " + std::to_string(width) + "x" + std::to_string(height) + " " + label,
              options.seconds);
  for (const Case& c : cases)
    if (selected(c, options.only)) runCase(c, options.seconds, buffers);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string size = "4000x3000";
  CLI::App app{"Meshwick codec throughput beside TurboJPEG"};
  app.add_option("--seconds", options.seconds, "time per measurement")->check(CLI::PositiveNumber);
  app.add_option("--only", options.only, "run only the cases whose name contains TEXT");
  app.add_option("--file", options.file, "run the decode rows on this JPEG and the encode rows on its pixels")
      ->check(CLI::ExistingFile);
  app.add_option("--size", size, "generated picture's size, WIDTHxHEIGHT")->capture_default_str();
  app.add_option("--quality", options.qualities, "qualities of the generated streams and of the encode rows")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  app.add_flag("--cpu", gCpuClock, "measure thread CPU time instead of wall time");
  CLI11_PARSE(app, argc, argv);
  char separator = 0;
  if (std::sscanf(size.c_str(), "%d%c%d", &options.width, &separator, &options.height) != 3 ||
      separator != 'x' || options.width < 16 || options.height < 16 || options.width > 30000 ||
      options.height > 30000) {
    std::fprintf(stderr, "--size: expected WIDTHxHEIGHT between 16 and 30000, got %s\n", size.c_str());
    return 2;
  }
  return options.file.empty() ? runGenerated(options) : runFile(options);
}
