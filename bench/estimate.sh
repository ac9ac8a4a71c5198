#!/usr/bin/env bash
# `daziziz-cli estimate` against the real conversion: six kinds of clip (talking head, sports-like
# motion, grain, screen recording, flat-colour animation, a 4K piece scaled down to 1080p), made
# once by ffmpeg into bench/cache/, each estimated and then converted through the H.264, H.265,
# VP9 and AV1 quality profiles and one bit-rate profile. Prints per job the estimated and real
# bytes and seconds and their ratios; "!" marks a size off by more than 15% or a time off by
# more than 30% (times only mean something on a machine that does nothing else meanwhile).
#
#   bench/estimate.sh [--build DIR] [--seconds 30] [--clips "talk motion ..."] [--profiles "..."]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${DZ_BENCH_BUILD:-$root/build}
seconds=30
clips="talk motion grain screen flat 4k"
profiles="MP4 - H.264 + AAC|MP4 - H.265 (HEVC) + AAC|WebM - VP9 + Opus|WebM - AV1 + Opus|MP4 - MPEG4 Video (*.mp4)"
while (($#)); do
    case "$1" in
        --build) build=$2 ;;
        --seconds) seconds=$2 ;;
        --clips) clips=$2 ;;
        --profiles) profiles=$2 ;;
        *)
            echo "usage: bench/estimate.sh [--build DIR] [--seconds N] [--clips \"NAME ...\"] [--profiles \"P|P...\"]" >&2
            exit 2
            ;;
    esac
    shift 2
done
cli=$build/daziziz-cli
[ -x "$cli" ] || cmake --build "$build" --target daziziz-cli
command -v ffmpeg >/dev/null || { echo "bench/estimate.sh needs ffmpeg (apt-get install ffmpeg)" >&2; exit 1; }
cache=$here/cache/estimate
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The picture of each kind of clip, as an ffmpeg source graph at the clip's own size.
source_of() {
    case "$1" in
        talk) echo "testsrc2=s=1280x720:r=30,hue=s=0.3,boxblur=4,noise=alls=3:allf=t" ;;
        motion) echo "mandelbrot=s=1280x720:r=60,rotate=a=t*2" ;;
        grain) echo "testsrc2=s=1280x720:r=25,noise=alls=20:allf=t+u" ;;
        screen) echo "smptebars=s=1920x1080:r=30,drawtext=text='%{pts}':fontsize=40:x=100+10*t:y=200:fontcolor=white" ;;
        flat) echo "life=s=640x360:r=25:mold=10:ratio=0.1:death_color=#203040:life_color=#e0c060,scale=1280x720:flags=neighbor" ;;
        4k) echo "testsrc2=s=3840x2160:r=30,noise=alls=4:allf=t" ;;
    esac
}

make_clip() {
    local name=$1 clip=$cache/$1-${seconds}s.mkv
    if [ ! -s "$clip" ]; then
        ffmpeg -v error -y -f lavfi -i "$(source_of "$name"),trim=duration=$seconds" \
            -f lavfi -i "sine=f=300:beep_factor=3:d=$seconds" -c:v libx264 -preset ultrafast -crf 14 \
            -c:a flac -shortest "$clip.part.mkv"
        mv "$clip.part.mkv" "$clip"
    fi
    echo "$clip"
}

printf '%-7s %-28s %12s %12s %6s %8s %8s %6s\n' clip profile est-bytes bytes ratio est-s s ratio
IFS='|' read -r -a profile_list <<<"$profiles"
for name in $clips; do
    clip=$(make_clip "$name")
    size=()
    [ "$name" = 4k ] && size=(--video-size 1080p)
    for profile in "${profile_list[@]}"; do
        line=$("$cli" estimate --profile "$profile" --reencode "${size[@]}" "$clip" 2>/dev/null || true)
        est_bytes=$(printf '%s\n' "$line" | cut -f2)
        est_seconds=$(printf '%s\n' "$line" | cut -f3)
        out=$work/out
        rm -rf "$out"
        mkdir -p "$out"
        start=$(date +%s.%N)
        "$cli" convert --profile "$profile" --reencode "${size[@]}" --output-folder "$out" "$clip" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        bytes=$(find "$out" -maxdepth 1 -type f -printf '%s\n' | head -n 1)
        wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
        awk -v c="$name" -v p="$profile" -v eb="${est_bytes:--}" -v b="${bytes:--}" -v es="${est_seconds:--}" -v s="$wall" 'BEGIN {
            rb = (eb + 0 > 0 && b + 0 > 0) ? eb / b : 0; rs = (es + 0 > 0 && s + 0 > 0) ? es / s : 0
            mb = (rb < 0.85 || rb > 1.15) ? "!" : " "; ms = (rs < 0.7 || rs > 1.3) ? "!" : " "
            printf "%-7s %-28.28s %12s %12s %5.2f%s %8s %8s %5.2f%s\n", c, p, eb, b, rb, mb, es, s, rs, ms }'
    done
done
