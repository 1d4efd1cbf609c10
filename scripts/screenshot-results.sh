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

# A display number nobody uses.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done

Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wm_pid=
trap '[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null; kill "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
DISPLAY=":$display" openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
sleep 1

DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$demo" --screenshot "$out"
echo "screenshot-results: wrote $out"
