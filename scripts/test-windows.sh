#!/usr/bin/env bash
# Cross-builds the engine, tunesift-cli and the engine's tests for 64-bit Windows with MinGW-w64
# and runs them under Wine: every engine test, then a few searches of tunesift-cli.exe (names
# outside ASCII, a path longer than MAX_PATH, both output formats, the exit codes).
# The Qt program is not built: Debian has no Qt for MinGW.
# Usage: scripts/test-windows.sh   (build output in build/windows, Wine's prefix in there too)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/setup.sh g++-mingw-w64-x86-64-posix wine64 googletest

build=$root/build/windows
mkdir -p "$build/icu-headers" "$build/xxhash-headers"
# ICU is not built for MinGW; the engine takes only its header-only UTF-8 macros there. xxHash
# is compiled in from its header. Debian has no SQLite or TagLib for MinGW: this build keeps no
# cache and reads no ID3v2 titles (the tests of those skip, the option is refused).
ln -sfn /usr/include/unicode "$build/icu-headers/unicode"
ln -sfn /usr/include/xxhash.h "$build/xxhash-headers/xxhash.h"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTUNESIFT_BUILD_GUI=OFF -DTUNESIFT_BUILD_BENCH=OFF \
  -DTUNESIFT_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DTUNESIFT_ICU_INCLUDE_DIR="$build/icu-headers" -DXXHASH_INCLUDE_DIR="$build/xxhash-headers" \
  -DTUNESIFT_WITH_SQLITE=OFF -DTUNESIFT_WITH_TAGLIB=OFF \
  -DTUNESIFT_WITH_AUDIO_PRINTS=OFF "${launcher[@]}" >/dev/null
tests=(mp3_test search_units_test)
cmake --build "$build" -j "$(nproc)" --target tunesift-cli "${tests[@]}"

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot --init >/dev/null 2>&1
# Long paths need no registry switch under Wine; on Windows 10 and later the programs declare
# themselves long-path aware and the system must allow it (LongPathsEnabled).

winpath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

failed=0
echo "== engine tests under Wine"
for t in "${tests[@]}"; do
  exe=$(find "$build/tests" -name "$t.exe" | head -n1)
  if ! TUNESIFT_SOURCE_DIR="$(winpath "$root")" "$wine" "$exe" --gtest_brief=1; then
    echo "test-windows: $t failed" >&2
    failed=1
  fi
done

echo "== tunesift-cli.exe under Wine"
if ! WINE=$wine bash tests/cli/windows_cli_check.sh "$build/src/cli/tunesift-cli.exe"; then
  failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "test-windows: FAILED" >&2
  exit 1
fi
echo "test-windows: all passed"
