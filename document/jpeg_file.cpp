#include "document/picture_dib.h"

// JPEG pictures go through the project's codec.
HRESULT CPictureDib::LoadJpeg(const QString&) {
  return E_FAIL;
}

HRESULT CPictureDib::WriteJpeg(const QString&) const {
  return E_FAIL;
}
