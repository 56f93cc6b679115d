#!/usr/bin/env bash
# Peak memory of a whole-image decode against the pixel buffer it fills: for each JPEG,
# `meshwick-jpeg decode` runs under /usr/bin/time -v, and the peak resident size less that of
# decoding an 8x8 picture (the program, its libraries, the record) and less the pixel buffer
# (width x height x channels) is what the decoder itself used. A baseline (sequential) decode must
# stay within 2 MiB of that; a progressive one within 2 MiB plus its coefficient buffer (128 bytes
# per block of the padded frame). Prints one row per file; exits 1 when a file is over budget.
#
# Usage: bench/decode_memory.sh [TOOL] JPEG...   (TOOL: build-bench/tools/meshwick-jpeg)
#        e.g. bench/make-photo-jpegs.sh /tmp/photos && bench/decode_memory.sh "" /tmp/photos/*.jpg
set -euo pipefail
cd "$(dirname "$0")/.."
tool="${1:-build-bench/tools/meshwick-jpeg}"
[[ -n "$tool" ]] || tool=build-bench/tools/meshwick-jpeg
shift || true
[[ -x "$tool" ]] || { echo "no tool at $tool (cmake --build build-bench --target meshwick-jpeg)" >&2; exit 2; }
[[ $# -gt 0 ]] || { echo "usage: $0 [TOOL] JPEG..." >&2; exit 2; }
for program in /usr/bin/time identify convert; do
  command -v "$program" >/dev/null || { echo "$program is missing" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
budget=$((2 * 1024 * 1024))

# Peak resident bytes of decoding $1.
peak() {
  /usr/bin/time -v -o "$work/time.log" "$tool" decode "$1" "$work/out.pam" >/dev/null 2>&1
  awk -F: '/Maximum resident set size/ { print $2 * 1024 }' "$work/time.log"
}

convert -size 8x8 xc:gray "$work/tiny.ppm"
cjpeg -outfile "$work/tiny.jpg" "$work/tiny.ppm"
base=$(peak "$work/tiny.jpg")
awk -v b="$base" 'BEGIN { printf "peak of an 8x8 decode (subtracted below): %.2f MiB\n", b / 1048576 }'
printf '%-34s %9s %9s %9s %9s %9s %9s  %s\n' file width height peakMiB pixelsMiB extraMiB budgetMiB verdict
status=0
for jpeg in "$@"; do
  read -r width height channels interlace <<<"$(identify -format '%w %h %[channels] %[interlace]\n' "$jpeg" | head -1)"
  bytesPerPixel=3
  [[ "$channels" == gray* ]] && bytesPerPixel=1
  pixels=$((width * height * bytesPerPixel))
  allowed=$budget
  if [[ "$interlace" != None ]]; then
    # Progressive: the coefficient buffer of the padded frame (4:2:0 assumed for colour: 6 blocks
    # per 16x16 MCU; grey: 1 block per 8x8).
    if [[ $bytesPerPixel -eq 1 ]]; then blocks=$(((width + 7) / 8 * ((height + 7) / 8)));
    else blocks=$(((width + 15) / 16 * ((height + 15) / 16) * 6)); fi
    allowed=$((budget + blocks * 128))
  fi
  total=$(peak "$jpeg")
  extra=$((total - base - pixels))
  verdict=ok
  ((extra <= allowed)) || { verdict=OVER; status=1; }
  awk -v f="$(basename "$jpeg")" -v w="$width" -v h="$height" -v t="$total" -v p="$pixels" -v e="$extra" \
    -v a="$allowed" -v v="$verdict" 'BEGIN { printf "%-34s %9d %9d %9.2f %9.2f %9.2f %9.2f  %s\n", f, w, h,
      t / 1048576, p / 1048576, e / 1048576, a / 1048576, v }'
done
exit $status
