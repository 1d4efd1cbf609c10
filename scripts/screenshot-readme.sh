#!/usr/bin/env bash
# The README's pictures, taken on a virtual X server with openbox framing the windows:
#   docs/main-window.png     the main window with three folders listed and three criteria ticked
#   docs/results-window.png  the results window of the demo rows, every colour family shown
#                            (Close Audio included)
# Each is cut to its window and reduced to 256 colours to stay small.
# Usage: scripts/screenshot-readme.sh [build-dir]   (default build/release; needs the tunesift and
# tunesift-results-demo targets). Settings go to a temporary folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/xsession.sh"
build=${1:-${TUNESIFT_BUILD_DIR:-$root/build/release}}
app=$(tunesift_program screenshot-readme "$build" src/app/tunesift)
demo=$(tunesift_program screenshot-readme "$build" tests/ui/results/tunesift-results-demo)

work=$(mktemp -d)
# The folders show in the picture: /tmp/Music reads better than a temporary name, where it is free.
music=$work/Music
[ -e /tmp/Music ] || music=/tmp/Music
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  xsession_stop
  [ "$music" = /tmp/Music ] && rm -rf "$music"
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$root/docs" "$music/Rock" "$music/Jazz" "$music/Incoming"
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
mkdir -p "$XDG_CONFIG_HOME/Quorvane"
printf '[Tunesift]\nExactFilename=1\nExactAudio=1\nSimilarAudio=1\n' \
  >"$XDG_CONFIG_HOME/Quorvane/Tunesift.conf"

xsession_start --wm
export QT_QPA_PLATFORM=xcb

"$app" "$music/Rock" "$music/Jazz" "$music/Incoming" &
app_pid=$!
for _ in $(seq 300); do
  xdotool search --onlyvisible --name '^Tunesift 7\.0$' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
import -window root "$work/main.png"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=

"$demo" --height 720 --screenshot "$work/results.png"

# The screen around the windows is black: -trim cuts it away.
for shot in main results; do
  convert "$work/$shot.png" -trim +repage -colors 256 "png8:$root/docs/$shot-window.png"
  echo "screenshot-readme: wrote docs/$shot-window.png ($(stat -c %s "$root/docs/$shot-window.png") bytes)"
done
