#!/bin/sh
# Probe rate in one process, and for comparison the libraries' own probe program run once per
# file over the same clips.
#
#   bench/probe.sh [BUILD_FOLDER] [FILES] [ROUNDS]
#
# BUILD_FOLDER defaults to build/ next to this script's folder; it must hold probe-bench.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
files=${2:-200}
rounds=${3:-5}
cache=${PROBE_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/daziziz-probe-bench}
list=$(mktemp)
trap 'rm -f "$list"' EXIT

if [ ! -x "$build/probe-bench" ]; then
    echo "no $build/probe-bench: build it with cmake --build $build --target probe-bench" >&2
    exit 1
fi

echo "== probe-bench: $files files, $rounds rounds, one process"
"$build/probe-bench" --cache "$cache" --files "$files" --rounds "$rounds" --list "$list"

if ! command -v ffprobe >/dev/null 2>&1; then
    echo "== ffprobe not installed: no comparison"
    exit 0
fi

echo "== ffprobe: one process per file, same $files files"
# One ffprobe run per file, as a list of files is probed without this program.
each='while IFS= read -r f; do ffprobe -v error -show_format -show_streams "$f" >/dev/null; done <"$0"'

if command -v hyperfine >/dev/null 2>&1; then
    hyperfine --warmup 1 --runs 3 "sh -c '$each' '$list'"
    exit 0
fi
start=$(date +%s.%N)
if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "elapsed %e s, user %U s, system %S s" sh -c "$each" "$list"
else
    sh -c "$each" "$list"
fi
end=$(date +%s.%N)
awk -v n="$files" -v s="$start" -v e="$end" \
    'BEGIN { printf "ffprobe files per second: %.0f\n", n / (e - s) }'
