// One picture as a bitmap section: its format header, the address of its top image row,
// a signed row step and a drawing context borrowed from DcCache while it is blitted.
#pragma once

#include "document/picture_file.h"
#include "platform/bitmap.h"
#include "platform/drawing.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

class CPictureDib {
 public:
  CPictureDib() = default;
  CPictureDib(const CPictureDib&) = delete;
  CPictureDib& operator=(const CPictureDib&) = delete;
  virtual ~CPictureDib();

  // A new uncompressed section; a positive height gives top-down rows. Any section held
  // before is released. False when the section cannot be made.
  bool Create(int width, int height, int bitsPerPixel);
  // Takes over a section made elsewhere; m_header must already describe it.
  void AttachBitmap(std::unique_ptr<platform::Bitmap> section, bool bottomUp);
  // Hands the section to the caller; m_header stays for the caller to free.
  std::unique_ptr<platform::Bitmap> DetachBitmap();

  // Nesting borrow of a memory context with the bitmap selected; blitting from it leaves
  // the picture as it is, so a const picture can lend one.
  platform::DrawingContext* BorrowDC() const;
  void ReturnDC() const;

  // Bilinear resampling with 8-bit fixed-point weights; null when the new section cannot
  // be made or the depth is not whole bytes per pixel (8, 24, 32).
  std::unique_ptr<CPictureDib> Resample(int newWidth, int newHeight) const;

  // Reads a JPEG or BMP file, told apart by its first bytes, releasing what the picture
  // held first. On failure *problem, when given, says why.
  HRESULT LoadFile(const QString& path, PictureProblem* problem = nullptr);
  // Writes the 24-bit picture as BMP or JPEG (by extension). The file is written beside the
  // target under a temporary name and renamed over it, so a failed write leaves any
  // existing file as it was.
  HRESULT SaveFile(const QString& path) const;

  bool HasBitmap() const { return m_bitmap != nullptr; }
  const platform::Bitmap* Bitmap() const { return m_bitmap.get(); }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int RowStep() const { return m_rowStep; }
  int BitsPerPixel() const { return m_bitsPerPixel; }
  // Image row y counted from the top.
  std::uint8_t* Row(int y) { return m_bits + static_cast<std::ptrdiff_t>(y) * m_rowStep; }
  const std::uint8_t* Row(int y) const { return m_bits + static_cast<std::ptrdiff_t>(y) * m_rowStep; }
  const platform::BitmapInfo* Header() const { return m_header.get(); }
  int DcUseCount() const { return m_dcUseCount; }

 private:
  void Release();
  void DeriveRowAddressing(bool bottomUp);
  HRESULT LoadBmp(const QString& path);
  HRESULT LoadJpeg(const QString& path, PictureProblem& problem);
  HRESULT WriteBmp(std::FILE* file) const;
  HRESULT WriteJpeg(const QString& path) const;

  std::unique_ptr<platform::Bitmap> m_bitmap;
  std::uint8_t* m_bits = nullptr;
  std::unique_ptr<platform::BitmapInfo> m_header;
  int m_width = 0;
  int m_height = 0;
  int m_rowStep = 0;
  int m_bitsPerPixel = 0;
  mutable platform::DrawingContext* m_dc = nullptr;
  mutable int m_dcUseCount = 0;
  mutable platform::Bitmap* m_previousObject = nullptr;
};
