#!/usr/bin/env bash
# Fails when the files under codec/ include one another in a circle. A header and its source
# (same path, .h and .cpp) count as one unit, so "a.cpp includes b.h, b.cpp includes a.h" is a
# circle too. Run by CTest (codec.IncludeCycles); prints the units of a circle it finds.
# Usage: scripts/check-include-cycles.sh [SOURCE_ROOT]   (default: the checkout holding this script)
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"

# One "unit included-unit" pair per project include; every unit also pairs with itself so that
# tsort sees it.
edges() {
  local file unit include target
  find codec -name '*.h' -o -name '*.cpp' | sort | while read -r file; do
    unit="${file%.*}"
    echo "$unit $unit"
    sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+)".*/\1/p' "$file" | while read -r include; do
      target="$include"
      [[ -f "$target" ]] || target="$(dirname "$file")/$include"
      [[ -f "$target" ]] || continue
      [[ "${target%.*}" == "$unit" ]] || echo "$unit ${target%.*}"
    done
  done
}

if ! report=$(edges | tsort 2>&1 >/dev/null); then
  echo "codec/ has an include cycle:" >&2
  sed -nE 's/^tsort: (codec\/.*)$/  \1/p' <<<"$report" >&2
  exit 1
fi
echo "codec/: no include cycles"
