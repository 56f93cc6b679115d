#!/usr/bin/env bash
# Makes a 12-megapixel photo-like picture (fractal plasma blended with ImageMagick's built-in rose,
# plus sensor-like noise) and encodes it with cjpeg as 4:2:0 at quality 75, 90 and 98, and as
# 4:2:2 and 4:4:4 at quality 90, for `meshwick_bench --file`. Kept outside the checkout.
# Usage: bench/make-photo-jpegs.sh [DIRECTORY]   (default /tmp/meshwick-photos)
set -euo pipefail
dir="${1:-/tmp/meshwick-photos}"
mkdir -p "$dir"
convert -seed 7 -size 4000x3000 plasma:fractal \( rose: -resize '4000x3000!' \) -compose blend \
  -define compose:args=40 -composite -seed 3 -attenuate 0.4 +noise Gaussian "$dir/photo.ppm"
for quality in 75 90 98; do
  cjpeg -quality "$quality" -outfile "$dir/photo-420-q$quality.jpg" "$dir/photo.ppm"
done
cjpeg -quality 90 -sample 2x1 -outfile "$dir/photo-422-q90.jpg" "$dir/photo.ppm"
cjpeg -quality 90 -sample 1x1 -outfile "$dir/photo-444-q90.jpg" "$dir/photo.ppm"
cjpeg -quality 90 -grayscale -outfile "$dir/photo-grey-q90.jpg" "$dir/photo.ppm"
cjpeg -quality 90 -progressive -outfile "$dir/photo-420-q90-progressive.jpg" "$dir/photo.ppm"
cjpeg -quality 90 -restart 1 -outfile "$dir/photo-420-q90-restart.jpg" "$dir/photo.ppm"
rm "$dir/photo.ppm"
echo "$dir"
