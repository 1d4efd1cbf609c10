#!/usr/bin/env bash
# Sets up this machine, builds Tunesift and starts it. Folders given are put into its folder list.
# Without a display the same search runs headless: tunesift-cli with all five criteria.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tunesift tunesift-cli >&2

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display found; running tunesift-cli with all five criteria instead." >&2
  if [ $# -eq 0 ]; then
    echo "run: give the folders to search, e.g. scripts/run.sh ~/Music" >&2
    exit 2
  fi
  exec "$root/build/release/src/cli/tunesift-cli" --exact-filename --exact-filesize \
    --similar-filename --exact-tag --similar-tag -- "$@"
fi
exec "$root/build/release/src/app/tunesift" "$@"
