#!/usr/bin/env bash
# Whole-process speed and peak memory of meshwick-jpeg beside djpeg and cjpeg (libjpeg-turbo) on a
# generated photo-like picture of 4256x2832 (12 megapixels): decode 4:2:0, 4:4:4, grey,
# progressive and 1/4 scale, encode 4:2:0, 4:4:4 and grey (of the PPM, and of a PGM) at
# quality 90. The two programs run
# alternately; each row gives the best and median wall time (ms), the median processor time
# (user + system, ms) and the largest peak RSS (MiB) of each, and djpeg's/cjpeg's medians over
# ours, wall and processor (>= 1: ours is as fast or faster). On a machine other work shares,
# the processor-time ratio is the one to read: wall time then counts the waits for a core.
# Comparable settings: accurate integer transforms on both sides, replicated chroma upsampling
# (djpeg -nosmooth), no optimised tables.
#
# Usage: bench/tool_bench.sh [TOOL] [RUNS]   (TOOL: build-bench/tools/meshwick-jpeg, RUNS: 7)
set -euo pipefail
cd "$(dirname "$0")/.."
tool="${1:-build-bench/tools/meshwick-jpeg}"
runs="${2:-7}"
[[ -x "$tool" ]] || { echo "no tool at $tool (build it: cmake --build build-bench --target meshwick-jpeg)" >&2; exit 2; }
for program in djpeg cjpeg convert; do
  command -v "$program" >/dev/null || { echo "$program is missing (scripts/install-deps.sh test)" >&2; exit 2; }
done

work="${TMPDIR:-/tmp}/meshwick-tool-bench"
mkdir -p "$work"
photo="$work/photo.ppm"
if [[ ! -s "$photo" ]]; then
  # A built-in picture enlarged, with film-grain noise so that blocks carry detail.
  convert rose: -filter Lanczos -resize 4256x2832! -attenuate 0.6 +noise Gaussian -depth 8 "$photo"
  cjpeg -quality 90 -sample 2x2 -outfile "$work/420.jpg" "$photo"
  cjpeg -quality 90 -sample 1x1 -outfile "$work/444.jpg" "$photo"
  cjpeg -quality 90 -grayscale -outfile "$work/grey.jpg" "$photo"
  cjpeg -quality 90 -sample 2x2 -progressive -outfile "$work/progressive.jpg" "$photo"
fi
grey="$work/photo.pgm"
[[ -s "$grey" ]] || convert "$photo" "$grey"

# One run: prints "wall-ms peak-KiB cpu-ms".
measure() {
  local start end usage
  start=$(date +%s%N)
  /usr/bin/time -f "%M %U %S" -o "$work/usage" "$@" >/dev/null 2>&1
  usage=$(tail -1 "$work/usage")
  end=$(date +%s%N)
  awk -v wall=$(( (end - start) / 1000000 )) '{ printf "%d %d %d\n", wall, $1, ($2 + $3) * 1000 }' <<<"$usage"
}

# The median of a column of numbers.
median() {
  sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# Best and median wall time, largest RSS and median processor time of "ms kib cpu-ms" lines.
summarise() {
  local lines
  lines=$(cat)
  awk '{ if (best == "" || $1 < best) best = $1; if ($2 > rss) rss = $2 }
    END { printf "%d %.1f\n", best, rss / 1024 }' <<<"$lines" | {
    read -r best rss
    echo "$best $(awk '{ print $1 }' <<<"$lines" | median) $rss $(awk '{ print $3 }' <<<"$lines" | median)"
  }
}

row() {
  local name="$1" ours="$2" theirs="$3" i
  local -a ourRuns=() theirRuns=()
  for ((i = 0; i < runs; i++)); do
    ourRuns+=("$(eval "measure $ours")")
    theirRuns+=("$(eval "measure $theirs")")
  done
  read -r ob om orss ocpu <<<"$(printf '%s\n' "${ourRuns[@]}" | summarise)"
  read -r tb tm trss tcpu <<<"$(printf '%s\n' "${theirRuns[@]}" | summarise)"
  printf "| %-22s | %6d | %6d | %6d | %7.1f | %6d | %6d | %6d | %7.1f | %5.2f | %5.2f |\n" "$name" "$ob" "$om" \
    "$ocpu" "$orss" "$tb" "$tm" "$tcpu" "$trss" "$(awk -v t="$tm" -v o="$om" 'BEGIN { print (o > 0 ? t / o : 0) }')" \
    "$(awk -v t="$tcpu" -v o="$ocpu" 'BEGIN { print (o > 0 ? t / o : 0) }')"
}

out="$work/out"
echo "meshwick-jpeg: $tool; $(djpeg -version 2>&1 | head -1); runs: $runs; $(uptime)"
echo "| case                   | ours best ms | median | cpu ms | peak MiB | theirs best ms | median | cpu ms | peak MiB | theirs/ours wall | cpu |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
row "decode 4:2:0" "$tool decode $work/420.jpg $out.ppm" "djpeg -dct int -nosmooth -outfile $out.ppm $work/420.jpg"
row "decode 4:4:4" "$tool decode $work/444.jpg $out.ppm" "djpeg -dct int -nosmooth -outfile $out.ppm $work/444.jpg"
row "decode grey" "$tool decode $work/grey.jpg $out.pgm" "djpeg -dct int -outfile $out.pgm $work/grey.jpg"
row "decode progressive" "$tool decode $work/progressive.jpg $out.ppm" \
  "djpeg -dct int -nosmooth -outfile $out.ppm $work/progressive.jpg"
row "decode 4:2:0 1/4 scale" "$tool decode $work/420.jpg $out.ppm --scale 4" \
  "djpeg -dct int -nosmooth -scale 1/4 -outfile $out.ppm $work/420.jpg"
row "encode 4:2:0 q90" "$tool encode $photo $out.jpg --quality 90 --sampling 420" \
  "cjpeg -quality 90 -sample 2x2 -outfile $out.jpg $photo"
row "encode 4:4:4 q90" "$tool encode $photo $out.jpg --quality 90 --sampling 444" \
  "cjpeg -quality 90 -sample 1x1 -outfile $out.jpg $photo"
row "encode grey q90" "$tool encode $photo $out.jpg --quality 90 --gray" \
  "cjpeg -quality 90 -grayscale -outfile $out.jpg $photo"
row "encode PGM q90" "$tool encode $grey $out.jpg --quality 90" "cjpeg -quality 90 -outfile $out.jpg $grey"
rm -f "$out".*
