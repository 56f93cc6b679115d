#!/bin/sh
# Regenerates the BMP fixtures with ImageMagick 6 (an independent writer) and, for each
# readable one, the pixels ImageMagick decodes from it as a PPM for the tests to compare.
set -eu
cd "$(dirname "$0")"
C=/usr/bin/convert
$C -size 13x5 pattern:checkerboard -type Bilevel BMP3:mono-13x5.bmp
$C -size 9x6 gradient:red-blue -type Palette BMP3:pal4-9x6.bmp
$C -size 41x3 plasma:fractal -seed 3 -colors 60 -type Palette -compress None BMP3:pal8-41x3.bmp
$C -size 9x6 plasma:fractal -seed 7 -type TrueColor BMP3:rgb24-9x6.bmp
$C -size 9x6 gradient:red-blue -type Palette -compress RLE BMP3:rle8-9x6.bmp
$C -size 9x6 gradient:red-blue -type TrueColor BMP:v5header-9x6.bmp
for f in mono-13x5 pal4-9x6 pal8-41x3 rgb24-9x6; do
  $C "$f.bmp" -depth 8 "ppm:$f.ppm"
done
