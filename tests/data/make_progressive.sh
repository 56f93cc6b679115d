#!/usr/bin/env bash
# Adds the progressive decoder's test files to tests/data/jpeg/, beside those of make_corpus.sh
# (run that first: this script starts from its sources and sequential files).
# Needs python3, cjpeg and jpegtran (libjpeg-turbo-progs).
#
# Every *_progressive*.jpg here has a sequential twin holding the same quantised coefficients
# (jpegtran rewrites the entropy coding losslessly), named in tests/codec/progressive_test.cpp;
# the incomplete ones (*_dconly_*, *_noaclast_*) have it only for their DC.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/sources"
out="$here/jpeg"
splice() { python3 "$here/splice_jpeg.py" "$@"; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
p97="$src/photo_97x61.ppm"

# cjpeg's own progressive script (4:2:0, quality 90) and a successive-approximation script given
# to cjpeg; the sequential twins are jpegtran's re-encoding of the same coefficients.
cjpeg -quality 90 -sample 2x2 -progressive "$p97" >"$out/p97_420_cjpeg_progressive.jpg"
jpegtran "$out/p97_420_cjpeg_progressive.jpg" >"$out/p97_420_cjpeg_sequential.jpg"
cat >"$work/approximation.txt" <<'EOF'
0,1,2: 0-0, 0, 3;
0: 1-1, 0, 0;
0: 2-63, 0, 4;
1: 1-63, 0, 3;
2: 1-63, 0, 3;
0,1,2: 0-0, 3, 2;
0: 2-63, 4, 3;
0: 2-63, 3, 2;
0,2: 0-0, 2, 1;
1: 0-0, 2, 1;
0: 2-63, 2, 1;
1: 1-63, 3, 2;
2: 1-63, 3, 2;
1: 1-63, 2, 1;
1: 1-63, 1, 0;
0,1,2: 0-0, 1, 0;
0: 2-63, 1, 0;
2: 1-63, 2, 1;
2: 1-63, 1, 0;
EOF
cjpeg -quality 85 -sample 2x2 -scans "$work/approximation.txt" "$src/photo_17x9.ppm" >"$out/t17x9_420_scans_progressive.jpg"
jpegtran "$out/t17x9_420_scans_progressive.jpg" >"$out/t17x9_420_scans_sequential.jpg"
cjpeg -quality 85 -sample 2x2 -scans "$work/approximation.txt" "$p97" >"$out/p97_420_scans_progressive.jpg"
jpegtran "$out/p97_420_scans_progressive.jpg" >"$out/p97_420_scans_sequential.jpg"

# Sampling factors on three levels (Y 4x1, Cb 2x1, Cr 1x1): the components' block counts are not
# whole MCUs.
cjpeg -quality 85 -sample 4x1,2x1,1x1 "$p97" >"$out/p97_h4h2h1_sequential.jpg"
jpegtran -progressive "$out/p97_h4h2h1_sequential.jpg" >"$out/p97_h4h2h1_progressive.jpg"

# More odd sizes and layouts.
jpegtran -progressive "$out/t17x9_444.jpg" >"$out/t17x9_444_progressive.jpg"
jpegtran -progressive "$out/t17x9_422.jpg" >"$out/t17x9_422_progressive.jpg"
jpegtran -progressive "$out/t1x1_grey.jpg" >"$out/t1x1_grey_progressive.jpg"

# Restart intervals inside progressive scans: every 2 MCUs in grey, one MCU row in 4:4:4, and
# RST markers numbered out of sequence.
jpegtran -progressive -restart 2B "$out/p97_grey.jpg" >"$out/p97_grey_rst2_progressive.jpg"
jpegtran -progressive -restart 1 "$out/p97_444.jpg" >"$out/p97_444_rst1row_progressive.jpg"
splice shuffle-rst "$out/p97_420_rst5_progressive.jpg" "$out/p97_420_rst5_progressive_shuffled.jpg"

# A DC scan of two components that are not neighbours in the frame.
printf '0,2: 0-0, 0, 0;\n1: 0-0, 0, 0;\n0: 1-63, 0, 0;\n2: 1-63, 0, 0;\n1: 1-63, 0, 0;\n' >"$work/apart.txt"
jpegtran -scans "$work/apart.txt" "$out/p97_420.jpg" >"$out/p97_420_apart_progressive.jpg"

# A baseline frame marker (SOF0) over progressive scans: the scans decide, not the marker.
python3 - "$out/p97_420_progressive.jpg" "$out/p97_420_sof0_progressive.jpg" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(b"\xff\xc2")
data[at + 1] = 0xC0
open(sys.argv[2], "wb").write(data)
EOF

# Incomplete progressive images (allowed: not every bit of every coefficient must be sent):
# DC only, and a last AC band left at Al = 1. Their DC is complete, so at 1/8 scale they equal
# their sequential twins.
printf '0: 0-0, 0, 0;\n' >"$work/dconly_grey.txt"
jpegtran -scans "$work/dconly_grey.txt" "$out/p97_grey.jpg" >"$out/p97_grey_dconly_progressive.jpg"
printf '0,1,2: 0-0, 0, 0;\n' >"$work/dconly.txt"
jpegtran -scans "$work/dconly.txt" "$out/p97_444.jpg" >"$out/p97_444_dconly_progressive.jpg"
printf '0,1,2: 0-0, 0, 0;\n0: 1-63, 0, 0;\n1: 1-63, 0, 0;\n2: 1-63, 0, 1;\n' >"$work/noaclast.txt"
jpegtran -scans "$work/noaclast.txt" "$out/p97_444.jpg" >"$out/p97_444_noaclast_progressive.jpg"

# Tables apart from the image: the tables-only stream, then the image without its header tables
# (the Huffman tables between the scans stay in it).
splice tables-only "$out/p97_420_progressive_sa.jpg" "$out/p97_420_progressive_sa_tables.jpg"
splice abbreviated "$out/p97_420_progressive_sa.jpg" "$out/p97_420_progressive_sa_abbreviated.jpg"

echo "progressive files: $(ls "$out"/*progressive*.jpg | wc -l)"
