#!/usr/bin/env bash
# Rebuilds the committed JPEG test corpus under tests/data/ from photo-like sources. It overwrites
# its own files only; make_progressive.sh adds more files from these afterwards.
# Needs python3, cjpeg and jpegtran (libjpeg-turbo-progs) and ImageMagick's convert (CMYK/YCCK only).
# The outputs are committed: tests pin checksums of their decoded pixels, so rerun this only on
# purpose and regenerate tests/data/checksums.txt afterwards.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/sources"
out="$here/jpeg"
splice() { python3 "$here/splice_jpeg.py" "$@"; }
mkdir -p "$src" "$out"

python3 "$here/make_sources.py" "$src"
p97="$src/photo_97x61.ppm"
p256="$src/photo_256x192.ppm"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Sequential Huffman files, one per sampling layout (97x61: neither side a multiple of any MCU).
cjpeg -grayscale -quality 85 "$p97" >"$out/p97_grey.jpg"
cjpeg -quality 85 "$src/photo_97x61.pgm" >"$out/p97_pgm.jpg"
for layout in 444:1x1 422:2x1 420:2x2 440:1x2 411:4x1; do
  cjpeg -quality 85 -sample "${layout#*:}" "$p97" >"$out/p97_${layout%%:*}.jpg"
done
cjpeg -quality 100 -sample 1x1 "$p97" >"$out/p97_444_q100.jpg"
cjpeg -quality 20 -sample 2x2 -optimize "$p97" >"$out/p97_420_q20_optimized.jpg"
cjpeg -quality 90 -sample 2x2 "$p256" >"$out/p256_420.jpg"
cjpeg -quality 100 -sample 2x2 "$p256" >"$out/p256_420_q100.jpg"
cjpeg -quality 75 -sample 1x1 "$p256" >"$out/p256_444.jpg"
cjpeg -quality 75 -sample 2x1 -optimize "$p256" >"$out/p256_422_optimized.jpg"
cjpeg -grayscale -quality 90 "$p256" >"$out/p256_grey.jpg"

# Tiny and odd sizes.
cjpeg -quality 90 -sample 2x2 "$src/photo_1x1.ppm" >"$out/t1x1_420.jpg"
cjpeg -grayscale -quality 90 "$src/photo_1x1.ppm" >"$out/t1x1_grey.jpg"
for layout in 444:1x1 422:2x1 420:2x2; do
  cjpeg -quality 90 -sample "${layout#*:}" "$src/photo_17x9.ppm" >"$out/t17x9_${layout%%:*}.jpg"
done

# Restart intervals: one MCU row, and counts that do not divide a row.
cjpeg -quality 85 -sample 2x2 -restart 1 "$p97" >"$out/p97_420_rst1row.jpg"
cjpeg -quality 85 -sample 2x2 -restart 5B "$p97" >"$out/p97_420_rst5.jpg"
cjpeg -quality 85 -sample 2x1 -restart 3B "$p97" >"$out/p97_422_rst3.jpg"
cjpeg -grayscale -quality 85 -restart 7B "$p97" >"$out/p97_grey_rst7.jpg"
splice shuffle-rst "$out/p97_420_rst5.jpg" "$out/p97_420_rst5_shuffled.jpg"
splice fill-bytes "$out/p97_420_rst5.jpg" "$out/p97_420_rst5_fillbytes.jpg"

# Extended sequential (SOF1) with 16-bit quantisation tables: steps above 255 at high frequencies.
cat >"$work/q16.txt" <<'EOF'
  4   3   3   4   6  10  13  16
  3   3   4   5   7  14  15  14
  4   4   5   7  10  14  17  14
  4   5   6   8  13  22 300  16
  5   6  10  14  17  27 310 400
  6   9  14 260 270 300 320 420
 12  16  20 280 290 330 340 500
 18  22  24 300 320 350 400 999
  5   5   7  13  27  27  27  27
  5   6   7  18  27  27  27  27
  7   7  15  27  27  27  27 270
 13  18  27  27  27  27 270 280
 27  27  27  27  27 280 290 300
 27  27  27  27 280 290 300 310
 27  27  27 270 280 300 310 320
 27  27 270 280 290 300 320 1000
EOF
cjpeg -qtables "$work/q16.txt" -quality 50 -sample 2x2 "$p97" >"$out/p97_420_sof1_q16.jpg" 2>/dev/null

# Colour spaces: RGB (Adobe transform 0), YCbCr tagged by Adobe transform 1 only, no APP0 at all,
# and four-component CMYK (Adobe transform 0) and YCCK (transform 2) in three layouts.
cjpeg -rgb -quality 90 "$p97" >"$out/p97_rgb.jpg"
splice adobe-transform "$out/p97_444.jpg" "$out/p97_444_adobe1.jpg" 1
splice strip-app0 "$out/p97_420.jpg" "$out/p97_420_noapp0.jpg"
convert "$p97" -colorspace CMYK -quality 90 "$out/p97_ycck.jpg"
# convert writes CMYK as YCCK; retagging it as transform 0 gives a valid CMYK stream (odd colours).
splice adobe-transform "$out/p97_ycck.jpg" "$out/p97_cmyk.jpg" 0
convert "$p97" -colorspace CMYK -sampling-factor 2x2,1x1,1x1,2x2 -quality 90 "$out/p97_ycck_h2v2.jpg"
convert "$p97" -colorspace CMYK -sampling-factor 2x1,1x1,1x1,2x1 -quality 90 "$out/p97_ycck_h2v1.jpg"

# Thumbnails in JFIF and JFXX APP0 segments; the .thumb.ppm next to each is what a thumbnail read gives.
splice thumb-jfif "$out/p97_420.jpg" "$out/p97_thumb_jfif.jpg" "$p97" 8 6 "$out/p97_thumb_jfif.thumb.ppm"
splice thumb-jfxx-rgb "$out/p97_420.jpg" "$out/p97_thumb_jfxx_rgb.jpg" "$p97" 10 7 "$out/p97_thumb_jfxx_rgb.thumb.ppm"
splice thumb-jfxx-pal "$out/p97_420.jpg" "$out/p97_thumb_jfxx_pal.jpg" "$p97" 12 8 "$out/p97_thumb_jfxx_pal.thumb.ppm"
splice thumb-jfxx-jpeg "$out/p97_420.jpg" "$out/p97_thumb_jfxx_jpeg.jpg"

# Damaged or unusual framing.
splice garbage "$out/p97_420.jpg" "$out/p97_420_garbage.jpg"
splice truncate "$out/p97_420.jpg" "$out/p97_420_truncated.jpg" 60
splice tables-only "$out/p97_420.jpg" "$out/p97_420_tables.jpg"
splice abbreviated "$out/p97_420.jpg" "$out/p97_420_abbreviated.jpg"
splice tables-then-image "$out/p97_420.jpg" "$out/p97_420_tables_then_image.jpg"
wrjpgcom -comment "Meshwick corpus: a COM segment before the frame." "$out/p97_420.jpg" >"$out/p97_420_comment.jpg"

# Sequential, one scan per component (stored component by component, converted at the end).
printf '0;\n1;\n2;\n' >"$work/noninterleaved.txt"
jpegtran -scans "$work/noninterleaved.txt" "$out/p97_420.jpg" >"$out/p97_420_noninterleaved.jpg"
jpegtran -scans "$work/noninterleaved.txt" "$out/p97_444.jpg" >"$out/p97_444_noninterleaved.jpg"

# Arithmetic coding: not supported, must be refused.
cjpeg -arithmetic -quality 85 -sample 2x2 "$p97" >"$out/p97_420_arithmetic.jpg"

# Progressive twins: the same quantised coefficients as the sequential files, rearranged losslessly.
cat >"$work/successive.txt" <<'EOF'
0: 0-0, 0, 2;
1,2: 0-0, 0, 1;
0: 1-2, 0, 3;
0: 3-63, 0, 3;
1: 1-63, 0, 2;
2: 1-63, 0, 0;
0: 0-0, 2, 1;
0: 1-63, 3, 2;
0: 1-63, 2, 1;
1,2: 0-0, 1, 0;
0: 0-0, 1, 0;
1: 1-63, 2, 1;
1: 1-63, 1, 0;
0: 1-63, 1, 0;
EOF
for name in p97_grey p97_444 p97_422 p97_420 p97_440 p97_411 p256_420 t17x9_420 t1x1_420; do
  jpegtran -progressive "$out/$name.jpg" >"$out/${name}_progressive.jpg"
done
jpegtran -progressive -restart 5B "$out/p97_420_rst5.jpg" >"$out/p97_420_rst5_progressive.jpg"
for name in p97_444 p97_420 p256_420; do
  jpegtran -scans "$work/successive.txt" "$out/$name.jpg" >"$out/${name}_progressive_sa.jpg"
done
printf '0: 0-0, 0, 2;\n0: 1-9, 0, 0;\n0: 10-63, 0, 2;\n0: 0-0, 2, 1;\n0: 10-63, 2, 1;\n0: 0-0, 1, 0;\n0: 10-63, 1, 0;\n' >"$work/grey_sa.txt"
jpegtran -scans "$work/grey_sa.txt" "$out/p97_grey.jpg" >"$out/p97_grey_progressive_sa.jpg"

echo "corpus: $(ls "$out"/*.jpg | wc -l) JPEG files, $(du -sh "$here" | cut -f1) in tests/data"
