#!/usr/bin/env bash
# Screenshots of the window on a 1366x768 virtual screen, for a person to look at: the window with
# a few files, its profile list open, the Add File dialog and the help, each at 96 dpi, at 150 %
# (fonts at 144 dpi) and in German at 150 %.
#   tools/window-screenshots.sh [--build DIR] [--out DIR]
# Needs xvfb, xdotool and ffmpeg (which makes the clips and takes the pictures; the program
# itself never runs it). Every run starts the program on a fresh home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
out=screenshots
while (($#)); do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --inside) inside=1; shift ;;
        *) echo "usage: tools/window-screenshots.sh [--build DIR] [--out DIR]" >&2; exit 2 ;;
    esac
done
for tool in ffmpeg xvfb-run xdotool; do
    command -v "$tool" >/dev/null || {
        echo "tools/window-screenshots.sh needs $tool (apt-get install ffmpeg xvfb xdotool)" >&2
        exit 1
    }
done
[ -x "$build/daziziz" ] || { echo "no $build/daziziz: build it" >&2; exit 1; }
build=$(realpath "$build")
mkdir -p "$out"
out=$(realpath "$out")

if [ -z "${inside:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1366x768x24" "$0" --inside --build "$build" --out "$out"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/clips"
for name in "Holiday at the lake" "Birthday party, the whole evening" interview; do
    ffmpeg -loglevel error -f lavfi -i testsrc2=size=640x360:rate=25:duration=3 \
        -f lavfi -i sine=frequency=440:duration=3 -c:v mpeg4 -c:a aac \
        "$work/clips/$name.mp4"
done

shoot() { ffmpeg -loglevel error -y -f x11grab -video_size 1366x768 -i "$DISPLAY" -frames:v 1 "$1"; }

# One look: the program started with the settings given, its pictures named after the look.
look() {
    local name=$1
    shift
    local home=$work/home-$name pid window
    rm -rf "$home"
    mkdir -p "$home"
    env HOME="$home" "$@" "$build/daziziz" "$work/clips/"*.mp4 >"$out/$name.log" 2>&1 &
    pid=$!
    window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
    sleep 2
    shoot "$out/$name-window.png"
    xdotool getwindowgeometry "$window" >"$out/$name-geometry.txt"
    xdotool windowfocus --sync "$window" key --window "$window" ctrl+o
    sleep 1.5
    shoot "$out/$name-add-file.png"
    xdotool key Escape
    sleep 0.5
    xdotool windowfocus --sync "$window" key --window "$window" F1
    sleep 1.5
    shoot "$out/$name-help.png"
    xdotool key Escape
    sleep 0.5
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

look 96dpi LANG=C.UTF-8
look 150 LANG=C.UTF-8 QT_FONT_DPI=144
look 150-scale LANG=C.UTF-8 QT_SCALE_FACTOR=1.5
look 150-de LANG=de_DE.UTF-8 QT_FONT_DPI=144
ls "$out"/*.png
