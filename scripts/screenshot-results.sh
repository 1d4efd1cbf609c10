#!/usr/bin/env bash
# Takes screenshots of the results window with rows of every colour family, under Xvfb with
# openbox as the window manager: the window with its summary line, with the helpers' menu open and
# with a row's context menu open, and with the keep rules dialog; then the window at its least
# width and wide.
# Usage: scripts/screenshot-results.sh [build-dir]   (default: build/results)
# Writes screenshots/results-window.png, results-menu.png, results-rowmenu.png
# results-rules.png, results-narrow.png and results-wide.png.
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
for open in menu rowmenu rules; do
  shot="$root/screenshots/results-$open.png"
  QT_QPA_PLATFORM=xcb "$demo" --open "$open" --screenshot "$shot"
  echo "screenshot-results: wrote $shot"
done
for width in narrow:1 wide:1200; do
  shot="$root/screenshots/results-${width%%:*}.png"
  QT_QPA_PLATFORM=xcb "$demo" --width "${width#*:}" --screenshot "$shot"
  echo "screenshot-results: wrote $shot"
done
