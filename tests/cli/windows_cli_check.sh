#!/usr/bin/env bash
# Searches of tunesift-cli.exe under Wine: names outside ASCII, a path longer than MAX_PATH, both
# output formats, the exit codes. scripts/test-windows.sh builds the program and runs this.
# Usage: WINE=wine64 WINEPREFIX=... tests/cli/windows_cli_check.sh PATH/tunesift-cli.exe
set -euo pipefail
cli=$1
wine=${WINE:-wine64}

winpath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

failed=0
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
    printf 'windows_cli_check: %s\n  expected: %q\n  got:      %q\n' "$3" "$2" "$1" >&2
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

exit "$failed"
