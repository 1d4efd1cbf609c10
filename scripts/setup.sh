#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the GUI checks need.
# Idempotent: when every package is already present it only checks and returns.
# Packages named as arguments are installed as well (the benchmarks name their extra tools).
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libgl-dev qt6-multimedia-dev
  libicu-dev libtag1-dev libxxhash-dev libsqlite3-dev libmpg123-dev libchromaprint-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  lame id3v2 ffmpeg eyed3 python3-mutagen
  xvfb xauth x11-apps xdotool openbox imagemagick fonts-liberation fonts-dejavu-core
  desktop-file-utils appstream
  time
  libfuse3-dev fuse3
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
