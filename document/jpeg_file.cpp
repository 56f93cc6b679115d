// JPEG pictures go through the project's codec; the record lives only for one call.
#include "codec/jpeg.h"
#include "document/jpeg_reduced.h"
#include "document/picture_convert.h"
#include "document/picture_dib.h"

#include <QFile>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

// The record is tens of kilobytes, too much for the stack of a UI handler; value
// initialisation clears it as the codec expects.
class CodecRecord {
 public:
  CodecRecord() : m_record(std::make_unique<JPEG_CODEC_PROPERTIES>()) {
    // jpegInit rewrites the codec's process-wide processor record and service pointers
    // without locking; pictures read on several threads must not do that at once.
    static std::mutex initLock;
    const std::lock_guard lock(initLock);
    m_initialised = jpegInit(m_record.get()) == JpegStatus::Ok;
  }
  ~CodecRecord() {
    if (m_initialised) jpegFree(m_record.get());
  }
  CodecRecord(const CodecRecord&) = delete;
  CodecRecord& operator=(const CodecRecord&) = delete;

  bool initialised() const { return m_initialised; }
  JPEG_CODEC_PROPERTIES* operator->() { return m_record.get(); }
  JPEG_CODEC_PROPERTIES* get() { return m_record.get(); }

 private:
  std::unique_ptr<JPEG_CODEC_PROPERTIES> m_record;
  bool m_initialised = false;
};

int PadBytes(int width, int channels) {
  const std::int64_t row = std::int64_t{width} * channels;
  return static_cast<int>((row + 3) / 4 * 4 - row);
}

// Output colour by the number of components in the file: grey and YCbCr become B, G, R;
// four components come out as four channels for CmykToBgr. Other counts cannot be shown.
bool ChooseOutput(JPEG_CODEC_PROPERTIES& r) {
  switch (r.jpegChannels) {
    case 1:
      r.jpegColor = JpegColor::Gray;
      r.pixelChannels = 3;
      r.pixelColor = JpegColor::Bgr;
      return true;
    case 3:
      r.jpegColor = JpegColor::YCbCr;
      r.pixelChannels = 3;
      r.pixelColor = JpegColor::Bgr;
      return true;
    case 4:
      r.jpegColor = JpegColor::Ycck;
      r.pixelChannels = 4;
      r.pixelColor = JpegColor::Cmyk;
      return true;
    default:
      return false;
  }
}

// What a failed read says to the user. A stream cut short shows up as a missing end marker
// whatever status the decoder stopped with.
PictureProblem ProblemOf(JpegStatus status, const QString& path) {
  switch (status) {
    case JpegStatus::MemoryError:
      return PictureProblem::TooLarge;
    case JpegStatus::UnsupportedSubsampling:
    case JpegStatus::UnsupportedBytesPerPixel:
    case JpegStatus::NotSupported:
    case JpegStatus::UnsupportedFrame:
      return PictureProblem::UnsupportedKind;
    default:
      break;
  }
  if (!JpegEndsWithEoi(path)) return PictureProblem::Truncated;
  switch (status) {
    case JpegStatus::EofError:
    case JpegStatus::FileError:
    case JpegStatus::NoFrame:
    case JpegStatus::NoImage:
      return PictureProblem::Truncated;
    default:
      return PictureProblem::Damaged;
  }
}

bool FitsByteLimit(int width, int height, int channels) {
  const auto bytes = static_cast<std::uint64_t>(platform::DibStride(width, channels * 8)) *
                     static_cast<std::uint64_t>(height);
  // Four-channel pictures become three-channel ones when placed, so that copy counts too.
  const auto placed =
      static_cast<std::uint64_t>(platform::DibStride(width, 24)) * static_cast<std::uint64_t>(height);
  return std::max(bytes, placed) <= platform::BitmapByteLimit();
}

int ScaledSide(int side, int scale) {
  return static_cast<int>((std::int64_t{side} + scale - 1) / scale);
}

JpegIoMode FileReadMode(int scale) {
  switch (scale) {
    case 2:
      return JpegIoMode::FileReadHalf;
    case 4:
      return JpegIoMode::FileReadQuarter;
    case 8:
      return JpegIoMode::FileReadEighth;
    default:
      return JpegIoMode::FileReadImage;
  }
}

// Reads the file into a new top-down section of the picture at 1/scale, the scale chosen by
// chooseScale(width, height) from the full size. On failure the picture may hold a section
// the caller releases.
template <typename ChooseScale>
PictureProblem ReadJpeg(const QString& path, CPictureDib& picture, ChooseScale chooseScale, int* scale) {
  CodecRecord r;
  if (!r.initialised()) return PictureProblem::Damaged;
  const QByteArray name = QFile::encodeName(path);
  r->jpegFileName = name.constData();
  const JpegStatus params = jpegRead(r.get(), JpegIoMode::FileReadParams);
  if (params != JpegStatus::Ok) return ProblemOf(params, path);
  if (r->jpegWidth <= 0 || r->jpegHeight <= 0) return ProblemOf(JpegStatus::NoFrame, path);
  if (!ChooseOutput(*r.get())) return PictureProblem::UnsupportedKind;

  *scale = chooseScale(r->jpegWidth, r->jpegHeight);
  const int width = ScaledSide(r->jpegWidth, *scale);
  const int height = ScaledSide(r->jpegHeight, *scale);
  r->pixelWidth = width;
  r->pixelHeight = height;
  r->pixelPadBytes = PadBytes(width, r->pixelChannels);
  if (!FitsByteLimit(width, height, r->pixelChannels) || !picture.Create(width, height, r->pixelChannels * 8))
    return PictureProblem::TooLarge;

  r->pixelData = picture.Row(0);
  const JpegStatus image = jpegRead(r.get(), FileReadMode(*scale));
  if (image != JpegStatus::Ok) return ProblemOf(image, path);
  if (r->pixelColor == JpegColor::Cmyk) CmykToBgr(picture.Row(0), width, height, picture.RowStep());
  return PictureProblem::None;
}

}  // namespace

HRESULT CPictureDib::LoadJpeg(const QString& path, PictureProblem& problem) {
  int scale = 1;
  const auto fullSize = [](int, int) { return 1; };
  problem = ReadJpeg(path, *this, fullSize, &scale);
  if (problem == PictureProblem::None) return S_OK;
  Release();
  return E_FAIL;
}

int CoveringJpegScale(int width, int height, int minWidth, int minHeight) {
  for (const int scale : {8, 4, 2})
    if (ScaledSide(width, scale) >= minWidth && ScaledSide(height, scale) >= minHeight) return scale;
  return 1;
}

ReducedJpeg LoadJpegCovering(const QString& path, int minWidth, int minHeight) {
  ReducedJpeg result;
  auto picture = std::make_unique<CPictureDib>();
  const auto covering = [&](int width, int height) {
    return CoveringJpegScale(width, height, minWidth, minHeight);
  };
  result.problem = ReadJpeg(path, *picture, covering, &result.scale);
  if (result.problem == PictureProblem::None) result.picture = std::move(picture);
  return result;
}

HRESULT CPictureDib::WriteJpeg(const QString& path) const {
  if (m_bitsPerPixel != 24 || m_rowStep <= 0) return E_FAIL;
  CodecRecord r;
  if (!r.initialised()) return E_FAIL;
  const QByteArray name = QFile::encodeName(path);
  // An empty comment text rather than none, so that no COM segment is written.
  std::uint8_t emptyComment[1] = {0};
  r->jpegHeight = m_height;
  r->pixelWidth = m_width;
  r->pixelHeight = m_height;
  r->pixelData = m_bits;
  r->jpegFileName = name.constData();
  r->jpegWidth = m_width;
  r->quality = 100;
  r->state.commentBuffer = emptyComment;
  r->state.commentLength = 0;
  r->pixelColor = JpegColor::Bgr;
  r->pixelChannels = 3;
  r->pixelPadBytes = PadBytes(m_width, 3);
  r->jpegColor = JpegColor::YCbCr;
  r->jpegChannels = 3;
  r->jpegSubsampling = JpegSubsampling::H2V2;
  return jpegWrite(r.get(), JpegIoMode::FileWriteImage) == JpegStatus::Ok ? S_OK : E_FAIL;
}
