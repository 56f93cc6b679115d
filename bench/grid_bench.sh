#!/usr/bin/env bash
# meshwick-grid beside libvips (thumbnail + arrayjoin) and ImageMagick (montage): twelve
# 2400x1600 quality-90 4:2:0 photo-like JPEGs into a 4x3 grid of 600x400 cells, written as a
# quality-100 4:2:0 JPEG. Prints wall time and peak memory (largest resident set of any process
# of the run) of each, best and median of the runs, and the ratios.
#
# Usage: bench/grid_bench.sh [RUNS]   (default 5)
# Environment: MESHWICK_GRID (default build-release/tools/meshwick-grid), GRID_BENCH_DIR (where
# the photos are made once and kept; default /tmp/meshwick-grid-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
tool=${MESHWICK_GRID:-build-release/tools/meshwick-grid}
work=${GRID_BENCH_DIR:-/tmp/meshwick-grid-bench}
if [[ ! -x $tool ]]; then
  echo "no $tool: build it first (cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release" \
    "-DMESHWICK_TESTS=OFF && cmake --build build-release --target meshwick-grid)" >&2
  exit 2
fi
command -v convert >/dev/null || { echo "ImageMagick is needed to make the photos" >&2; exit 2; }
mkdir -p "$work/photos" "$work/out"

# Plasma fractals with grain: smooth gradients, busy texture and no flat areas, about 1.5 bits
# per pixel at quality 90 like a camera picture scaled down.
photos=()
for i in $(seq 1 12); do
  photo="$work/photos/photo$i.jpg"
  if [[ ! -s $photo ]]; then
    convert -seed "$i" -size 2400x1600 plasma:fractal -blur 0x1 -attenuate 0.4 +noise Gaussian \
      -quality 90 -sampling-factor 2x2 "$photo"
  fi
  photos+=("$photo")
done

# One timed run: "wall_seconds cpu_seconds peak_kib" (CPU: user + system of every process).
measure() {
  local log="$work/time.log"
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>&1
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, a, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + a[i] }
    /User time \(seconds\)/ { cpu += $2 }
    /System time \(seconds\)/ { cpu += $2 }
    /Maximum resident set size/ { peak = $2 }
    END { printf "%.3f %.2f %d\n", wall, cpu, peak }' "$log"
}

meshwick_cmd=("$tool" --quiet --columns 4 --cell 600x400 -o "$work/out/meshwick.jpg" "${photos[@]}")
# vips thumbnail shrinks on load like meshwick-grid; arrayjoin assembles the sheet.
vips_cmd=(bash -c '
  out=$1; shift
  thumbs=()
  for i in $(seq 1 $#); do
    vips thumbnail "${!i}" "$out/thumb$i.v" 600 --height 400 --size force
    thumbs+=("$out/thumb$i.v")
  done
  vips arrayjoin "${thumbs[*]}" "$out/vips.jpg[Q=100,subsample-mode=on]" --across 4
  rm -f "${thumbs[@]}"' _ "$work/out" "${photos[@]}")
montage_cmd=(montage "${photos[@]}" -tile 4x3 -geometry '600x400!+0+0' -quality 100 -sampling-factor 2x2
  "$work/out/montage.jpg")

# Runs a contender RUNS times; prints its line and leaves "best median peak" in $result.
bench() {
  local name=$1 times=() cpus=() peaks=() wall cpu peak
  shift
  for _ in $(seq 1 "$runs"); do
    read -r wall cpu peak < <(measure "$@")
    times+=("$wall")
    cpus+=("$cpu")
    peaks+=("$peak")
  done
  local best median cpu_median
  best=$(printf '%s\n' "${times[@]}" | sort -g | head -1)
  median=$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  cpu_median=$(printf '%s\n' "${cpus[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  peak=$(printf '%s\n' "${peaks[@]}" | sort -g | tail -1)
  printf '%-13s best %7.3f s  median %7.3f s  CPU (median) %6.2f s  peak %6.1f MiB\n' "$name" "$best" "$median" \
    "$cpu_median" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
  result="$best $median $peak $cpu_median"
}

# A peer's time over meshwick-grid's: best, median and CPU, against the goal.
ratios() {
  awk -v n="$1" -v b="$2" -v m="$3" -v c="$4" -v g="$5" -v mb="$mw_best" -v mm="$mw_median" -v mc="$mw_cpu" \
    'BEGIN { printf "  %s / meshwick-grid: %.1fx wall (best), %.1fx wall (median), %.1fx CPU; goal %dx wall\n", n, b / mb, m / mm, c / mc, g }'
}

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "load: $(uptime)"
echo "photos: ${#photos[@]} x $(identify -format '%wx%h q%Q\n' "${photos[0]}") in $work/photos, $runs runs each"
echo "meshwick-grid: $tool ($(nproc) processors)"

bench meshwick-grid "${meshwick_cmd[@]}"
read -r mw_best mw_median mw_peak mw_cpu <<<"$result"
have_vips=0 have_montage=0
command -v vips >/dev/null && have_vips=1
command -v montage >/dev/null && have_montage=1
if ((have_vips)); then
  bench libvips "${vips_cmd[@]}"
  read -r vips_best vips_median _ vips_cpu <<<"$result"
  ratios libvips "$vips_best" "$vips_median" "$vips_cpu" 5
else
  echo "libvips: vips not installed, skipped"
fi
if ((have_montage)); then
  bench montage "${montage_cmd[@]}"
  read -r mont_best mont_median _ mont_cpu <<<"$result"
  ratios montage "$mont_best" "$mont_median" "$mont_cpu" 15
else
  echo "montage: ImageMagick not installed, skipped"
fi
awk -v p="$mw_peak" 'BEGIN { printf "meshwick-grid peak %.1f MiB; goal <= 100 MiB\n", p / 1024 }'
echo "load after: $(uptime)"
