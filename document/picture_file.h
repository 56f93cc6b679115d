#pragma once

#include <QString>

// JPEG exactly when the extension of the file name, upper-cased, is ".JPG" or ".JPEG";
// everything else, a missing extension included, is BMP. Dialog filters play no part.
// Saving follows this rule; reading goes by the file's content.
bool IsJpegPath(const QString& path);

enum class PictureKind { Unreadable, Jpeg, Bmp, Other };

// What the first bytes say: FF D8 starts a JPEG stream, "BM" a BMP file. Unreadable when
// the file cannot be opened.
PictureKind SniffPictureKind(const QString& path);

// Why a picture could not be placed, in the words the user is shown.
enum class PictureProblem { None, CannotOpen, NotJpegOrBmp, Truncated, Damaged, UnsupportedKind, TooLarge };

QString PictureProblemText(PictureProblem problem);

// Why a BMP file the reader refused was refused: cut short, too large for a bitmap, or a
// kind of BMP the reader does not take. Reads only the headers and the file's size.
PictureProblem DiagnoseBmp(const QString& path);

// Whether the bytes of a JPEG stream end with its EOI marker (trailing zero padding allowed).
bool JpegEndsWithEoi(const QString& path);
