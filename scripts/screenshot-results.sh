#!/usr/bin/env bash
# Takes a screenshot of the results window with rows of all five colour families, under Xvfb with
# a window manager (openbox), as a user sees it.
# Usage: scripts/screenshot-results.sh [build-dir]   (default: build/results)
# Writes screenshots/results-window.png.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/results}"
out="$root/screenshots/results-window.png"
mkdir -p "$root/screenshots"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTUNESIFT_BUILD_BENCH=OFF
fi
cmake --build "$build" -j2 --target tunesift-results-demo
demo="$(find "$build" -type f -name tunesift-results-demo -perm -u+x | head -n 1)"
if [ -z "$demo" ]; then
  echo "screenshot-results: tunesift-results-demo was not built" >&2
  exit 1
fi

. "$root/scripts/xsession.sh"
trap xsession_stop EXIT
xsession_start --wm
QT_QPA_PLATFORM=xcb "$demo" --screenshot "$out"
echo "screenshot-results: wrote $out"
