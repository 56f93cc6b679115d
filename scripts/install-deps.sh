#!/usr/bin/env bash
# Installs the Debian packages a make target needs, and only those that are missing.
# Usage: scripts/install-deps.sh build|test|ci|bench|gui
set -euo pipefail

build=(cmake ninja-build g++ pkg-config libcli11-dev qt6-base-dev qt6-translations-l10n fonts-wqy-microhei)
test=(libgtest-dev libjpeg-turbo-progs imagemagick)
fuzz=(clang libclang-rt-14-dev)
bench=(libturbojpeg0-dev)
gui=(xvfb xdotool python3)

case "${1:-build}" in
  build) wanted=("${build[@]}") ;;
  test) wanted=("${build[@]}" "${test[@]}") ;;
  ci) wanted=("${build[@]}" "${test[@]}" "${fuzz[@]}" "${bench[@]}") ;;
  bench) wanted=("${build[@]}" "${bench[@]}") ;;
  gui) wanted=("${build[@]}" "${test[@]}" "${gui[@]}") ;;
  *) echo "usage: $0 build|test|ci|bench|gui" >&2; exit 2 ;;
esac

missing=()
for pkg in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
