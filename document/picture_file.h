#pragma once

#include "document/bmp/bmp_reader.h"

#include <QString>
#include <QStringList>

// JPEG exactly when the extension of the file name, upper-cased, is ".JPG" or ".JPEG";
// everything else, a missing extension included, is BMP. Dialog filters play no part.
// Saving follows this rule; reading goes by the file's content.
bool IsJpegPath(const QString& path);

// The filters of the dialogs that choose pictures to place.
QStringList PictureFileFilters();

enum class PictureKind { Unreadable, Jpeg, Bmp, Other };

// What the first bytes say: FF D8 starts a JPEG stream, "BM" a BMP file. Unreadable when
// the file cannot be opened.
PictureKind SniffPictureKind(const QString& path);

// Why a picture could not be placed, in the words the user is shown.
enum class PictureProblem { None, CannotOpen, NotJpegOrBmp, Truncated, Damaged, UnsupportedKind, TooLarge };

QString PictureProblemText(PictureProblem problem);

// What the user is told when the BMP reader refuses a file.
PictureProblem BmpProblem(bmp::Status status);

// Whether the bytes of a JPEG stream end with its EOI marker (trailing zero padding allowed).
bool JpegEndsWithEoi(const QString& path);
