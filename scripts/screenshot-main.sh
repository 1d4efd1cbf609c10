#!/usr/bin/env bash
# Screenshots of the main window on a virtual X server, written to screenshots/:
#   main-idle.png     the window after start-up, four folders from the command line in the list,
#                     folder B protected (its padlock icon)
#   main-scanning.png during the scan, held by the "Skip" message for a name that is not UTF-8
#   main-running.png  after the scan, held by the large-catalogue question (Stop button shown)
#   main-results.png  after answering Yes: the results window in the main window's place
#   main-maximised.png a second start, maximised on a 1280 x 1024 screen, with the folder list
#                     kept from the first and a folder that is gone (shown greyed)
# The window captions are printed as well. A window manager (openbox) frames the windows.
# Usage: scripts/screenshot-main.sh [build-dir]   (default build/release; needs the tunesift target)
# Settings go to a temporary folder; the user's own settings are never touched.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/xsession.sh"
exe=$(tunesift_program screenshot-main "${1:-${TUNESIFT_BUILD_DIR:-$root/build/release}}" src/app/tunesift)
out=$root/screenshots
mkdir -p "$out"

work=$(mktemp -d)
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  xsession_stop
  rm -rf "$work"
}
trap cleanup EXIT

# 20,001 small MP3 files in three folders; the names in A and B repeat each other.
python3 - "$work/music" <<'PY'
import os, sys
root = sys.argv[1]
frame = bytes([0xFF, 0xFB, 0x90, 0x00]) + bytes(413)
counts = {"A": 6667, "B": 6667, "C": 6667}
for folder, count in counts.items():
    os.makedirs(os.path.join(root, folder), exist_ok=True)
    for i in range(count):
        name = f"Song {i:05d}.mp3" if folder != "C" else f"Track {i:05d}.mp3"
        with open(os.path.join(root, folder, name), "wb") as f:
            f.write(frame)
os.makedirs(os.path.join(root.encode(), b"odd", b"bad\xff"), exist_ok=True)
PY

export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/Quorvane"
printf '[Tunesift]\nExactFilename=1\nProtectedFolders=%s\n' "$work/music/B" \
  >"$XDG_CONFIG_HOME/Quorvane/Tunesift.conf"

xsession_start --wm

export QT_QPA_PLATFORM=xcb
"$exe" "$work/music/A" "$work/music/B" "$work/music/C" "$work/music/odd" &
app_pid=$!

# Waits for a window whose name matches; prints its id.
wait_window() {
  for _ in $(seq 300); do
    local id
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "screenshot-main: no window named '$1' appeared" >&2
  return 1
}

main_id=$(wait_window '^Tunesift 7\.0$')
sleep 1
import -window root "$out/main-idle.png"
echo "idle caption: $(xdotool getwindowname "$main_id")"

# The find button lies at 5520,120 twips and is 1695 by 1095 twips: its centre at 96 DPI.
xdotool mousemove --window "$main_id" 424 44 click 1
wait_window '^Skip$' >/dev/null
sleep 0.5
import -window root "$out/main-scanning.png"
echo "caption during the scan: $(xdotool getwindowname "$main_id")"
xdotool key Return

wait_window "^Question$" >/dev/null
sleep 0.5
import -window root "$out/main-running.png"
echo "caption during the question: $(xdotool getwindowname "$main_id")"

xdotool key Return
# The results window carries the same caption as the main window at start-up.
for _ in $(seq 300); do
  results_id=$(xdotool search --onlyvisible --name '^Tunesift 7\.0$' 2>/dev/null | grep -vx "$main_id" | head -n1 || true)
  [ -n "$results_id" ] && break
  sleep 0.1
done
sleep 1
import -window root "$out/main-results.png"
echo "windows now: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|')"

# A second start on a larger screen, maximised: the list comes back from the settings, the
# folder removed meanwhile greyed.
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=
xsession_stop
rm -rf "$work/music/C"
sed -i 's/^WindowState=.*/WindowState=2/' "$XDG_CONFIG_HOME/Quorvane/Tunesift.conf"
grep -q '^WindowState=' "$XDG_CONFIG_HOME/Quorvane/Tunesift.conf" ||
  printf 'WindowState=2\n' >>"$XDG_CONFIG_HOME/Quorvane/Tunesift.conf"
XSESSION_SCREEN=1280x1024x24 xsession_start --wm
"$exe" &
app_pid=$!
wait_window '^Tunesift 7\.0$' >/dev/null
sleep 1
import -window root "$out/main-maximised.png"

echo "screenshots in $out"
