#!/usr/bin/env bash
# Fit to size over clip lengths and targets: grainy 640x360 clips of 10 s, 60 s and 5 min (H.264
# + AAC, and the same without sound; made once by ffmpeg into bench/cache/), each fitted at 1, 5
# and 25 MB through "MP4 - H.264 + AAC" by daziziz-cli. Prints one line per job: the result's bytes, its share of the
# target (it must be at most 1 and, unless the log says why, at least 0.9), the passes run and
# the wall time (only indicative on a busy machine). A target the encoders cannot reach is
# refused before any pass with the least target that works.
#
#   bench/fit-size.sh [--build DIR] [--clips "10 60 300"] [--targets "1 5 25"] [--sound "yes no"]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${DZ_BENCH_BUILD:-$root/build}
clips="10 60 300"
targets="1 5 25"
sounds="yes no"
while (($#)); do
    case "$1" in
        --build) build=$2 ;;
        --clips) clips=$2 ;;
        --targets) targets=$2 ;;
        --sound) sounds=$2 ;;
        *)
            echo "usage: bench/fit-size.sh [--build DIR] [--clips \"SECONDS ...\"] [--targets \"MB ...\"]" >&2
            exit 2
            ;;
    esac
    shift 2
done
cli=$build/daziziz-cli
[ -x "$cli" ] || cmake --build "$build" --target daziziz-cli
command -v ffmpeg >/dev/null || { echo "bench/fit-size.sh needs ffmpeg (apt-get install ffmpeg)" >&2; exit 1; }
cache=$here/cache
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-21s %7s %12s %7s %7s %9s  %s\n' clip target bytes ratio passes seconds note
for seconds in $clips; do
  for sound in $sounds; do
    clip=$cache/fit-grain-640x360-${seconds}s.mp4
    [ "$sound" = no ] && clip=$cache/fit-grain-640x360-${seconds}s-silent.mp4
    if [ ! -s "$clip" ]; then
        audio=(-f lavfi -i "sine=f=440:d=$seconds" -c:a aac -b:a 128k -shortest)
        [ "$sound" = no ] && audio=()
        ffmpeg -v error -y -f lavfi -i "testsrc2=s=640x360:r=25:d=$seconds,noise=alls=12:allf=t+u" \
            "${audio[@]}" -c:v libx264 -preset ultrafast -crf 20 "$clip.part.mp4"
        mv "$clip.part.mp4" "$clip"
    fi
    for mb in $targets; do
        out=$work/out-$seconds-$mb
        mkdir -p "$out"
        start=$(date +%s.%N)
        log=$("$cli" convert --profile "MP4 - H.264 + AAC" --fit-size "${mb}MB" -v \
            --output-folder "$out" "$clip" 2>&1 || true)
        end=$(date +%s.%N)
        result=$(find "$out" -maxdepth 1 -name '*.mp4' -printf '%s\n' | head -n 1)
        passes=$(printf '%s\n' "$log" | sed -n 's/.*after \([0-9]*\) pass.*/\1/p' | tail -n 1)
        note=$(printf '%s\n' "$log" | grep -o 'needs at least [0-9.]* MB' | head -n 1 || true)
        [ -n "$note" ] && note="refused before any pass: $note"
        [ -n "$note" ] || note=$(printf '%s\n' "$log" | grep -o 'below 90%\|Fail: .*' | head -n 1 || true)
        target=$((mb * 1000000))
        if [ -n "$result" ]; then
            ratio=$(awk -v r="$result" -v t="$target" 'BEGIN { printf "%.3f", r / t }')
        else
            result=-
            ratio=-
            passes=0
        fi
        label="${seconds}s-640x360"
        [ "$sound" = no ] && label="$label-silent"
        printf '%-21s %5sMB %12s %7s %7s %9.1f  %s\n' "$label" "$mb" "$result" "$ratio" \
            "${passes:-?}" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$note"
        rm -rf "$out"
    done
  done
done
