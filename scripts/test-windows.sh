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
cli=$build/src/cli/tunesift-cli.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frame=$'\xff\xfb\x90\x00'
mkdir -p "$work/A" "$work/B"
long=$work/B/$(printf 'very long folder name %.0s' {1..7})x/$(printf 'deeper still %.0s' {1..8})x
mkdir -p "$long"
for d in "$work/A" "$long"; do
  { printf '%s' "$frame"; head -c 2000 /dev/zero; } >"$d/Café Noir.mp3"
done
{ printf '%s' "$frame"; head -c 2500 /dev/zero; } >"$work/A/Long Winding Road.mp3"
{ printf '%s' "$frame"; head -c 2600 /dev/zero; } >"$long/The Long and Winding Road.mp3"
echo "a path of ${#long} characters"

run_cli() { "$wine" "$cli" "$@" 2>"$work/stderr"; }
expect() {
  if [ "$1" != "$2" ]; then
    printf 'test-windows: %s\n  expected: %q\n  got:      %q\n' "$3" "$2" "$1" >&2
    cat "$work/stderr" >&2
    failed=1
  else
    echo "ok: $3"
  fi
}

a=$(winpath "$work/A")
b=$(winpath "$work/B")
# winepath cuts long paths short: the long folder is written out by hand.
deep=$b\\${long#"$work/B/"}
deep=${deep//\//\\}
rows=$(run_cli --exact-filename "$a" "$b")
# tsv writes each backslash of a path as two, as JSON does.
expect "$rows" "${a//\\/\\\\}\\\\Café Noir.mp3	2 KB	00:00	128	Name	light blue
${deep//\\/\\\\}\\\\Café Noir.mp3	2 KB	00:00	128	Name	light blue" "exact filename, UTF-8 names, long path"
rows=$(run_cli --similar-filename --format jsonl "$a" "$b")
expect "$rows" "{\"path\":\"${a//\\/\\\\}\\\\Long Winding Road.mp3\",\"size\":2503,\"sizeText\":\"2 KB\",\"length\":\"00:00\",\"bitrate\":128,\"type\":\"Close\",\"group\":\"light green\"}
{\"path\":\"${deep//\\/\\\\}\\\\The Long and Winding Road.mp3\",\"size\":2603,\"sizeText\":\"3 KB\",\"length\":\"00:00\",\"bitrate\":128,\"type\":\"Close\",\"group\":\"light green\"}" "similar filename as JSON lines"
rows=$(run_cli --exact-audio "$a" "$b")
expect "$rows" "${a//\\/\\\\}\\\\Café Noir.mp3	2 KB	00:00	128	Audio	light teal
${deep//\\/\\\\}\\\\Café Noir.mp3	2 KB	00:00	128	Audio	light teal" "exact audio"
run_cli --id3v2-titles --exact-tag "$a" >/dev/null && status=0 || status=$?
expect "$status" "2" "no ID3v2 titles without TagLib"
run_cli --similar-audio "$a" >/dev/null && status=0 || status=$?
expect "$status" "2" "no Similar Audio without the decoder"
rows=$(run_cli --catalogue-only "$a" "$b")
expect "$rows" "4" "catalogue only"
run_cli --exact-tag "$a" >/dev/null && status=0 || status=$?
expect "$status $(tr -d '\r' <"$work/stderr")" "0 No dupes: No duplicate MP3s found." "no dupes"
run_cli --bogus "$a" >/dev/null && status=0 || status=$?
expect "$status" "2" "usage error"

if [ "$failed" -ne 0 ]; then
  echo "test-windows: FAILED" >&2
  exit 1
fi
echo "test-windows: all passed"
