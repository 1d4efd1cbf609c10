#!/usr/bin/env bash
# Builds the Debian package of Tunesift with CPack: build/package/tunesift_VERSION_ARCH.deb.
# Its dependencies come from the shared libraries the programs actually link (dpkg-shlibdeps).
#
# Usage: scripts/package.sh [--check]
#   --check  then installs the package with apt-get, checks that tunesift-cli runs from PATH,
#            that its manual page, menu entry and icon are in place and that tunesift opens its
#            window under Xvfb (screenshots/installed.png), and removes the package again,
#            checking that none of its files are left. Needs root (or sudo); refuses to run
#            when a tunesift package is installed already.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

check=false
case "${1:-}" in
"") ;;
--check) check=true ;;
*)
  echo "usage: scripts/package.sh [--check]" >&2
  exit 2
  ;;
esac

bash scripts/setup.sh dpkg-dev file
build=build/package
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNESIFT_BUILD_TESTS=OFF \
  -DTUNESIFT_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tunesift_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tunesift_*.deb)
echo "== $deb"
dpkg-deb --field "$deb"
dpkg-deb --contents "$deb" | awk '{print $NF}'

if ! $check; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi
if dpkg-query -W -f='${Status}' tunesift 2>/dev/null | grep -q installed; then
  echo "package: a tunesift package is installed already; remove it first" >&2
  exit 1
fi

echo "== installing"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$root/$deb" >/dev/null
mapfile -t files < <(dpkg-query -L tunesift | while read -r f; do [ -f "$f" ] && echo "$f"; done)

xvfb_pid=
app_pid=
work=$(mktemp -d)
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
  if dpkg-query -W -f='${Status}' tunesift 2>/dev/null | grep -q installed; then
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tunesift >/dev/null
  fi
}
trap cleanup EXIT

echo "== checks"
[ "$(command -v tunesift-cli)" = /usr/bin/tunesift-cli ]
tunesift-cli --help | head -n1
mkdir -p "$work/music/a" "$work/music/b"
head -c 5000 /dev/zero >"$work/music/a/song.mp3"
cp "$work/music/a/song.mp3" "$work/music/b/song.mp3"
rows=$(tunesift-cli --exact-filename "$work/music/a" "$work/music/b" | wc -l)
[ "$rows" -eq 2 ]
man -w tunesift-cli
desktop-file-validate /usr/share/applications/com.quorvane.tunesift.desktop
test -f /usr/share/icons/hicolor/scalable/apps/com.quorvane.tunesift.svg
test -f /usr/share/icons/hicolor/48x48/apps/com.quorvane.tunesift.png
bash -c 'source /usr/share/bash-completion/completions/tunesift-cli && complete -p tunesift-cli'

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
openbox >/dev/null 2>&1 &
# A window mapped while openbox is still starting can stay unmapped: wait until it manages.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
mkdir -m 700 "$work/runtime"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
tunesift "$work/music" >"$work/tunesift.log" 2>&1 &
app_pid=$!
window=
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name '^Tunesift' 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
if [ -z "$window" ]; then
  state=running
  kill -0 "$app_pid" 2>/dev/null || state="ended"
  echo "package: the installed tunesift opened no window (process $state); its output:" >&2
  cat "$work/tunesift.log" >&2
  exit 1
fi
sleep 1
mkdir -p screenshots
import -window root screenshots/installed.png
echo "window: $(xdotool getwindowname "$window"), screenshot in screenshots/installed.png"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=

echo "== removing"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tunesift >/dev/null
left=0
for f in "${files[@]}"; do
  if [ -e "$f" ]; then
    echo "package: left behind: $f" >&2
    left=1
  fi
done
[ "$left" -eq 0 ]
! command -v tunesift-cli >/dev/null
echo "package: installed, checked and removed cleanly (${#files[@]} files)"
