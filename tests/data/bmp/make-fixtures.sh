#!/bin/sh
# Regenerates the BMP fixtures. ImageMagick 6 (an independent writer) makes the kinds it writes,
# and for each one the pixels ImageMagick decodes from it as a PPM for the tests to compare.
# make_kinds.py writes the kinds ImageMagick cannot (run-length 4, deltas and early ends, top-down
# rows, plain 16/32-bit, other headers and masks) with the PPM computed from its own description.
# ImageMagick 6.9 decodes those to the same pixels except three ways, where we keep our own:
# it refuses an 8-bit run-length stream that ends the picture early (rle8-delta, rle8-topdown;
# the unset pixels are index 0 here), widens 4-bit masks by shifting (15 gives 240; repeating
# the bits gives 255, as for 5-bit masks) and scales 10-bit masks where we keep the top 8 bits.
set -eu
cd "$(dirname "$0")"
C=/usr/bin/convert
$C -size 13x5 pattern:checkerboard -type Bilevel BMP3:mono-13x5.bmp
$C -size 9x6 gradient:red-blue -type Palette BMP3:pal4-9x6.bmp
$C -seed 3 -size 41x3 plasma:fractal -colors 60 -type Palette -compress None BMP3:pal8-41x3.bmp
$C -seed 7 -size 9x6 plasma:fractal -type TrueColor BMP3:rgb24-9x6.bmp
$C -size 9x6 gradient:red-blue -type Palette -compress RLE BMP3:rle8-9x6.bmp
$C -size 9x6 gradient:red-blue -type TrueColor BMP:v5header-9x6.bmp
# ImageMagick's own defaults: an 8-bit palette as RLE8, up to 16 colours as 4 bits, 124-byte headers.
$C -seed 5 -size 20x7 plasma:fractal -colors 60 -type Palette BMP:rle8-default-20x7.bmp
$C -size 9x6 gradient:red-blue -type Palette BMP:v5header-pal4-9x6.bmp
$C -seed 7 -size 9x6 plasma:fractal -type TrueColor -define bmp:subtype=RGB565 BMP:rgb565-v5header-9x6.bmp
$C -seed 7 -size 9x6 plasma:fractal -type TrueColor -define bmp:subtype=RGB555 BMP:rgb555-v5header-9x6.bmp
$C -seed 7 -size 9x6 plasma:fractal -type TrueColorAlpha -channel A -fx 'i/w' BMP:argb32-v5header-9x6.bmp
# The 12-byte core header.
$C -size 9x6 gradient:red-blue -type Palette BMP2:core-pal4-9x6.bmp
$C -seed 7 -size 9x6 plasma:fractal -type TrueColor BMP2:core-rgb24-9x6.bmp
for f in mono-13x5 pal4-9x6 pal8-41x3 rgb24-9x6 rle8-9x6 v5header-9x6 rle8-default-20x7 v5header-pal4-9x6 \
  rgb565-v5header-9x6 rgb555-v5header-9x6 argb32-v5header-9x6 core-pal4-9x6 core-rgb24-9x6; do
  $C "$f.bmp" -alpha off -depth 8 "ppm:$f.ppm"
done
python3 make_kinds.py
