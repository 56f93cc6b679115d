#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs the read target for SECONDS over seeds made
# from the committed corpus, then the write-then-read round trip, the BMP reader and the PPM/PGM/PAM
# readers for half as long each. A crash input is copied to fuzz/regressions/ (fuzz/regressions/bmp/
# and fuzz/regressions/pnm/ for the picture readers; give it a telling name and commit it: the unit
# tests replay every file there) and the script fails.
# Usage: scripts/fuzz-smoke.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:?usage: $0 SECONDS}"
build=build-fuzz
out="$build/fuzz-run"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMESHWICK_FUZZ=ON -DMESHWICK_APP=OFF -DMESHWICK_TESTS=OFF >/dev/null
cmake --build "$build" --target jpeg_read_fuzzer jpeg_round_trip_fuzzer bmp_read_fuzzer pnm_read_fuzzer -j2

# Seeds: every corpus file with option bytes appended (the harness reads its options from the
# last two bytes, a region from the two before), one suffix per operation and the interpolating,
# region and coefficient-plane options, plus the regression cases as they are.
rm -rf "$out/seeds" "$out/artifacts" "$out/bmp-artifacts" "$out/pnm-artifacts"
mkdir -p "$out/seeds" "$out/artifacts" "$out/corpus" "$out/bmp-artifacts" "$out/pnm-artifacts"
suffixes=('\x00\x08' '\x01\x89' '\x00\x31' '\x02\x1a' '\x00\x2b' '\x00\x0c' '\x00\x4d' '\x04\x0f' '\x1c\x0f'
  '\x00\x0e' '\x24\x00' '\x73\x35\x40\x00' '\x4a\x99\x61\x11' '\x80\x00' '\x88\x08' '\x2f\x52\xc0\x00')
for jpeg in tests/data/jpeg/*.jpg; do
  name=$(basename "$jpeg" .jpg)
  for i in "${!suffixes[@]}"; do
    { cat "$jpeg"; printf "${suffixes[$i]}"; } >"$out/seeds/$name-$i"
  done
done
cp fuzz/regressions/* "$out/seeds/" 2>/dev/null || true

status=0
"$build/fuzz/jpeg_read_fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
  -dict=fuzz/jpeg.dict -print_final_stats=1 -artifact_prefix="$out/artifacts/" \
  "$out/corpus" "$out/seeds" || status=$?
mkdir -p "$out/round-trip"
"$build/fuzz/jpeg_round_trip_fuzzer" -max_total_time="$((seconds / 2 + 1))" -max_len=8192 -timeout=20 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/artifacts/" "$out/round-trip" || status=$?

# The picture readers of the app and of meshwick-jpeg encode, seeded with the committed pictures.
mkdir -p "$out/bmp-corpus" "$out/pnm-corpus" "$out/pnm-seeds"
cp tests/data/sources/photo_17x9.ppm tests/data/sources/photo_1x1.ppm tests/data/sources/photo_97x61.pgm \
  "$out/pnm-seeds/"
printf 'P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n12345678' >"$out/pnm-seeds/cmyk.pam"
printf 'P7\nWIDTH 1\nHEIGHT 2\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\n# c\nENDHDR\nab' >"$out/pnm-seeds/gray.pam"
"$build/fuzz/bmp_read_fuzzer" -max_total_time="$((seconds / 2 + 1))" -max_len=16384 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$out/bmp-artifacts/" "$out/bmp-corpus" tests/data/bmp fuzz/regressions/bmp ||
  status=$?
"$build/fuzz/pnm_read_fuzzer" -max_total_time="$((seconds / 2 + 1))" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$out/pnm-artifacts/" "$out/pnm-corpus" "$out/pnm-seeds" fuzz/regressions/pnm ||
  status=$?

shopt -s nullglob
kept=0
for kind in "" bmp pnm; do
  for artifact in "$out/${kind:+$kind-}artifacts"/*; do
    cp "$artifact" "fuzz/regressions/$kind"
    echo "fuzz: kept $(basename "$artifact") in fuzz/regressions/$kind - rename it after the fault and commit it"
    kept=1
  done
done
((kept)) && exit 1
exit "$status"
