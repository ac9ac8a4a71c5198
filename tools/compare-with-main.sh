#!/bin/bash
# Runs the same picture jobs with two builds of daziziz-cli and compares what they write: the
# packets' timestamps and sizes (ffprobe), then the files byte for byte, then the decoded
# pictures (framemd5), and where those differ the PSNR of the new output against the old one.
# The new build runs each job in both modes (pipelined and the one loop).
#
#   tools/compare-with-main.sh OLD_CLI NEW_CLI [WORK_DIR] [DRAWBOX_HOOK]
#
# The inputs are made with ffmpeg in WORK_DIR (default: a temporary folder). DRAWBOX_HOOK is the
# drawbox frame-hook module (default: the new build's framehooks/drawbox.so). Exit status 0 when
# every job matches (identical, or timestamps equal and PSNR at least 50 dB, or a difference
# listed as known below, with its reason). ONLY=REGEX in the
# environment runs the jobs whose names match it.
set -u
old=$(realpath "$1")
new=$(realpath "$2")
work=${3:-$(mktemp -d)}
hook=${4:-$(dirname "$new")/framehooks/drawbox.so}
mkdir -p "$work"
cd "$work" || exit 2

make() { [ -s "$1" ] || ffmpeg -v error -y "${@:2}" "$1" || exit 2; }
# 2 s of a moving picture, 25 per second; a display matrix turning it a quarter; interlaced
# fields; HDR (PQ) in 10 bits; a stream whose picture size changes half-way; full-range YUV.
make plain.avi -f lavfi -i testsrc2=s=320x240:r=25:d=2 -c:v mpeg4 -q:v 2
make upright.mp4 -f lavfi -i testsrc2=s=320x240:r=25:d=2 -c:v mpeg4 -q:v 2
# The muxer writes the display matrix from the tag when the stream is copied.
make turned.mp4 -i upright.mp4 -c copy -metadata:s:v:0 rotate=90
make fields.avi -f lavfi -i "testsrc2=s=320x240:r=50:d=2,interlace" -c:v mpeg4 -q:v 2
make hdr.mkv -f lavfi -i testsrc2=s=320x240:r=25:d=1 -pix_fmt yuv420p10le -c:v ffv1 \
    -color_trc smpte2084 -color_primaries bt2020 -colorspace bt2020nc
make big.ts -f lavfi -i testsrc2=s=320x240:r=25:d=1 -c:v mpeg2video -q:v 2
make small.ts -f lavfi -i testsrc2=s=160x120:r=25:d=1 -c:v mpeg2video -q:v 2
[ -s changing.ts ] || cat big.ts small.ts > changing.ts
make full.mp4 -f lavfi -i testsrc2=s=320x240:r=25:d=1 -pix_fmt yuvj420p -c:v mjpeg -q:v 2

box="$hook|-x|8|-y|8|-w|64|-h|32|-c|255,128,128"
# name | input | options before the output (rawvideo shows every picture as it was made)
jobs=(
  "crop|plain.avi|-croptop 8 -cropbottom 16 -cropleft 24 -cropright 8 -vcodec rawvideo"
  "pad|plain.avi|-padtop 16 -padbottom 16 -padleft 8 -padright 24 -vcodec rawvideo"
  "letterbox|plain.avi|-s 320x180 -padtop 30 -padbottom 30 -vcodec rawvideo"
  "padcolour|plain.avi|-padtop 16 -padleft 16 -padcolor 3381759 -vcodec rawvideo"
  "pad10bit|plain.avi|-padtop 16 -padright 16 -padcolor 3381759 -pix_fmt yuv420p10le -vcodec rawvideo"
  "padgrey|plain.avi|-padbottom 16 -padcolor 8421504 -pix_fmt gray -vcodec rawvideo"
  "padnv12|plain.avi|-padtop 16 -padleft 16 -padcolor 3381759 -pix_fmt nv12 -vcodec rawvideo"
  "padnv12black|plain.avi|-padtop 16 -padleft 16 -pix_fmt nv12 -vcodec rawvideo"
  "padyuyv|plain.avi|-s 240x180 -padtop 16 -padcolor 3381759 -pix_fmt yuyv422 -vcodec rawvideo"
  "padrgb|plain.avi|-padtop 16 -padright 16 -padcolor 3381759 -pix_fmt rgb24 -vcodec rawvideo"
  "scale|plain.avi|-s 176x144 -vcodec rawvideo"
  "scalelanczos|plain.avi|-s 480x360 -sws_flags lanczos -vcodec rawvideo"
  "cropscalepad|plain.avi|-cropleft 32 -cropright 32 -s 240x160 -padtop 16 -padbottom 16 -vcodec rawvideo"
  "deinterlace|fields.avi|-deinterlace -vcodec rawvideo"
  "deinterlacescale|fields.avi|-deinterlace -s 160x120 -vcodec rawvideo"
  "rotation|turned.mp4|-vcodec rawvideo"
  "rotationcroppad|turned.mp4|-croptop 16 -cropleft 8 -padbottom 16 -padright 8 -s 216x312 -vcodec rawvideo"
  "tonemap|hdr.mkv|-vcodec mpeg4 -qscale 2"
  "tonemapscalepad|hdr.mkv|-s 240x160 -padtop 10 -padbottom 10 -vhook $box -vcodec rawvideo"
  "rate15|plain.avi|-r 15 -vcodec rawvideo"
  "rate50|plain.avi|-r 50 -vcodec rawvideo"
  "pixfmt422|plain.avi|-pix_fmt yuv422p -vcodec rawvideo"
  "pixfmtrgb|plain.avi|-pix_fmt bgr24 -s 160x120 -vcodec rawvideo"
  "fullrange|full.mp4|-s 160x120 -pix_fmt yuv420p -vcodec rawvideo"
  "changing|changing.ts|-vcodec rawvideo"
  "changingcrop|changing.ts|-croptop 8 -padleft 8 -s 200x150 -vcodec rawvideo"
  "hook|plain.avi|-vhook $box -vcodec rawvideo"
  "hookdeinterlacecroppad|fields.avi|-deinterlace -vhook $box -croptop 16 -padtop 16 -s 240x180 -vcodec rawvideo"
  "mpeg4|plain.avi|-cropleft 16 -padright 16 -s 240x176 -r 20 -vcodec mpeg4 -qscale 3"
)

# Differences that are meant: the job's name and why.
declare -A known=(
  [fullrange]="the old scaler took a full-range picture for a changed one and converted its range twice"
)

packets() {
  ffprobe -v error -select_streams v -show_entries packet=pts,dts,duration,size,flags \
    -of csv "$1"
}
failed=0
printf '%-24s %-9s %-9s %-10s %s\n' job mode packets identical pictures
for job in "${jobs[@]}"; do
  IFS='|' read -r name input options <<<"${job/$box/BOX}"
  options=${options/BOX/$box}
  [[ "$name" =~ ${ONLY:-.} ]] || continue
  ext=nut
  [ "$name" = tonemap ] || [ "$name" = mpeg4 ] && ext=avi
  # shellcheck disable=SC2086
  "$old" run --threads 1 -i "$input" $options -an -y "$name-old.$ext" >"$name-old.log" 2>&1
  for mode in on off; do
    out="$name-new-$mode.$ext"
    # shellcheck disable=SC2086
    "$new" run --threads 1 --pipeline $mode -i "$input" $options -an -y "$out" \
      >"$name-new-$mode.log" 2>&1
    same_packets=no
    [ -s "$out" ] && [ "$(packets "$out")" = "$(packets "$name-old.$ext")" ] && same_packets=yes
    identical=no
    cmp -s "$out" "$name-old.$ext" && identical=yes
    pictures=same
    if [ "$identical" = no ]; then
      if [ "$(ffmpeg -v error -i "$out" -f framemd5 - | grep -v '^#')" != \
           "$(ffmpeg -v error -i "$name-old.$ext" -f framemd5 - | grep -v '^#')" ]; then
        psnr=$(ffmpeg -v info -i "$out" -i "$name-old.$ext" -lavfi psnr -f null - 2>&1 |
               sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' | tail -1)
        pictures="psnr=${psnr:-none}"
        if [ -n "${known[$name]:-}" ]; then
          pictures="$pictures (known: ${known[$name]})"
        else
          case "$psnr" in inf) ;; "" ) failed=1 ;;
            *) awk -v p="$psnr" 'BEGIN { exit !(p < 50) }' && failed=1 ;; esac
        fi
      fi
    fi
    [ "$same_packets" = yes ] || failed=1
    printf '%-24s %-9s %-9s %-10s %s\n' "$name" "$mode" "$same_packets" "$identical" "$pictures"
  done
done
echo "outputs and logs in $work"
exit $failed
