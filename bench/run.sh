#!/usr/bin/env bash
# The engine against the libraries' own command-line program: the same jobs with the same codecs,
# rates, sizes and codec thread counts, run alternately, several times each. Prints per job the
# median wall time, CPU time (user + system) and peak memory of both with their ratio, and the
# output size and frame count of both (a job that drops frames or misses its bit rate can look
# fast for that reason alone).
#
#   bench/run.sh [--runs N] [--threads "1 0"] [--jobs "mp4-mpeg4 probe ..."]
#                [--pipeline on|off|both] [--build DIR]
#
# --threads lists codec thread counts to measure at (0: one per core, both programs' default).
# --pipeline: our side runs with its stages on threads of their own (on), in one loop (off) or
# both ways (default), each with a row of its own; all of them take turns with the other
# program. A daziziz-cli whose run has no --pipeline runs at its default and the mode shows "-".
# --build names the build folder holding daziziz-cli and probe-bench (default build/, or
# $DZ_BENCH_BUILD); they are built there when missing. Inputs are generated once into
# bench/cache/ (the 1080p clip takes a minute); runs and the table go to bench/results/.
# Neither folder is committed; CI never runs this.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/median.sh
. "$here/median.sh"
root=$(dirname "$here")
build=${DZ_BENCH_BUILD:-$root/build}
runs=5
pipeline=both
threadCounts="1 0"
jobs="mp4-mpeg4 avi-mpeg4 mp4-x264 mp4-x264-crf mp4-x265 webm-av1 vob-ac3 flac-mp3 flv mkv-copy probe batch"
while (($#)); do
    case "$1" in
        --runs) runs=$2 ;;
        --threads) threadCounts=$2 ;;
        --jobs) jobs=$2 ;;
        --pipeline) pipeline=$2 ;;
        --build) build=$2 ;;
        *)
            echo "usage: bench/run.sh [--runs N] [--threads \"1 0\"] [--jobs \"NAME ...\"]" \
                "[--pipeline on|off|both] [--build DIR]" >&2
            exit 2
            ;;
    esac
    shift 2
done
[[ $pipeline =~ ^(on|off|both)$ ]] || {
    echo "--pipeline takes on, off or both" >&2
    exit 2
}
cache=$here/cache
results=$here/results/$(date +%Y%m%d-%H%M%S)
mkdir -p "$cache" "$results"

# ---- Tools: the peer programs and GNU time (peak memory), installed when missing.
missing=()
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || missing+=(ffmpeg)
[ -x /usr/bin/time ] || missing+=(time)
command -v cmake >/dev/null && command -v ninja >/dev/null || missing+=(cmake ninja-build)
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ! -x "$build/daziziz-cli" ] || [ ! -x "$build/probe-bench" ]; then
    [ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja
    cmake --build "$build" -j "$(nproc)" --target daziziz-cli probe-bench
fi
cli=$build/daziziz-cli
# Our side's programs: "pipe" (--pipeline on), "loop" (--pipeline off), or "ours" at the
# engine's default when run has no such option.
sides=(ours)
if "$cli" run --help 2>&1 | grep -q -- --pipeline; then
    case $pipeline in
        on) sides=(pipe) ;;
        off) sides=(loop) ;;
        both) sides=(pipe loop) ;;
    esac
elif [ "$pipeline" = off ]; then
    echo "this daziziz-cli's run has no --pipeline option" >&2
    exit 2
fi

# ---- Inputs, each written under a temporary name first so a broken run leaves none behind.
make_input() {
    local name=$1
    shift
    [ -s "$cache/$name" ] && return
    echo "generating $cache/$name"
    ffmpeg -v error -nostdin -y "$@" "$cache/partial-$name"
    mv "$cache/partial-$name" "$cache/$name"
}
# Only what the chosen jobs read is generated.
wants() { [[ " $jobs " == *" $1 "* ]]; }
needsLong=""
for job in $jobs; do [ "$job" = probe ] || [ "$job" = batch ] || needsLong=yes; done
if [ -n "$needsLong" ]; then
    # A moving test picture with some grain (so the codecs have real work), a tone per channel.
    make_input h264-1080p30.mp4 \
        -f lavfi -i "testsrc2=size=1920x1080:rate=30,noise=alls=6:allf=t" \
        -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=48000" \
        -t 20 -c:v libx264 -preset medium -b:v 6M -pix_fmt yuv420p -c:a aac -b:a 160k
    make_input mpeg2-720p25.mpg \
        -f lavfi -i "testsrc2=size=1280x720:rate=25,noise=alls=6:allf=t" \
        -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*550*t):s=48000" \
        -t 20 -c:v mpeg2video -b:v 8M -maxrate 9M -bufsize 1835k -c:a mp2 -b:a 192k -f mpeg
    make_input audio-120s.flac \
        -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)+0.05*(random(0)-0.5)|0.3*sin(2*PI*660*t)+0.05*(random(1)-0.5):s=44100" \
        -t 120 -c:a flac -sample_fmt s16
    # Its first 10 s, for the slow encoders of today's profiles (packets copied, nothing decoded).
    make_input h264-1080p30-10s.mp4 -i "$cache/h264-1080p30.mp4" -t 10 -c copy
fi
# 24 short clips for the batch job: several files at once against one after another.
batchClips=()
mkdir -p "$cache/batch"
wants batch && for i in $(seq -w 1 24); do
    clip=$cache/batch/clip-$i.mp4
    if [ ! -s "$clip" ]; then
        ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=640x360:rate=25,noise=alls=6:allf=t" \
            -f lavfi -i "aevalsrc=0.3*sin(2*PI*(400+10*$i)*t):s=48000" -t 4 \
            -c:v libx264 -preset fast -b:v 1500k -pix_fmt yuv420p -c:a aac -b:a 128k \
            "$cache/batch/partial.mp4"
        mv "$cache/batch/partial.mp4" "$clip"
    fi
    batchClips+=("$clip")
done
batchList=$results/batch-clips.txt
printf '%s\n' "${batchClips[@]}" >"$batchList"

clips=$cache/clips
clipList=$results/clips.txt
if wants probe; then
    "$build/probe-bench" --cache "$clips" --files 200 --rounds 1 --list "$clipList" >/dev/null
fi

# ---- Jobs: name, input, the engine's options, the other program's options, output extension.
declare -A input ours theirs extension
add_job() { input[$1]=$2 ours[$1]=$3 theirs[$1]=$4 extension[$1]=$5; }
add_job mp4-mpeg4 h264-1080p30.mp4 \
    "-vcodec mpeg4 -vb 1200k -s 320x240 -acodec aac -ab 128k" \
    "-c:v mpeg4 -b:v 1200k -s 320x240 -c:a aac -b:a 128k" mp4
add_job avi-mpeg4 h264-1080p30.mp4 \
    "-vcodec mpeg4 -vb 4000k -acodec libmp3lame -ab 128k" \
    "-c:v mpeg4 -b:v 4000k -c:a libmp3lame -b:a 128k" avi
add_job mp4-x264 h264-1080p30.mp4 \
    "-vcodec libx264 -s 1280x720 -vb 2000k -acodec aac -ab 128k" \
    "-c:v libx264 -s 1280x720 -b:v 2000k -c:a aac -b:a 128k" mp4
# Today's encoders at constant quality, with the speeds and options today's profiles give them,
# on the first 10 s of the clip (x265 and SVT-AV1 take long on a small machine).
add_job mp4-x264-crf h264-1080p30-10s.mp4 \
    "-vcodec libx264 -s 1280x720 -crf 23 -preset faster -vb 0 -acodec aac -ab 128k -movflags +faststart" \
    "-c:v libx264 -s 1280x720 -crf 23 -preset faster -b:v 0 -c:a aac -b:a 128k -movflags +faststart" mp4
add_job mp4-x265 h264-1080p30-10s.mp4 \
    "-vcodec libx265 -s 1280x720 -crf 26 -preset veryfast -vb 0 -vtag hvc1 -acodec aac -ab 128k" \
    "-c:v libx265 -s 1280x720 -crf 26 -preset veryfast -b:v 0 -tag:v hvc1 -c:a aac -b:a 128k" mp4
add_job webm-av1 h264-1080p30-10s.mp4 \
    "-vcodec libsvtav1 -s 1280x720 -crf 35 -preset 8 -vb 0 -acodec libopus -ab 96k" \
    "-c:v libsvtav1 -s 1280x720 -crf 35 -preset 8 -b:v 0 -c:a libopus -b:a 96k" webm
add_job vob-ac3 mpeg2-720p25.mpg "-target pal-dvd" "-target pal-dvd" vob
add_job flac-mp3 audio-120s.flac "-acodec libmp3lame -ab 192k" "-c:a libmp3lame -b:a 192k" mp3
add_job flv h264-1080p30.mp4 \
    "-vcodec flv -s 640x360 -vb 800k -acodec libmp3lame -ar 44100 -ab 128k" \
    "-c:v flv1 -s 640x360 -b:v 800k -c:a libmp3lame -ar 44100 -b:a 128k" flv
add_job mkv-copy mpeg2-720p25.mpg "-vcodec copy -acodec copy" "-c:v copy -c:a copy" mkv

raw=$results/raw.txt  # one line per run: job threads program wall cpu peak-kB
: >"$raw"

# Runs a command under GNU time and appends its line to the raw file; false when it failed.
measure() {
    local job=$1 threads=$2 program=$3 log=$4
    shift 4
    local timing=$results/timing
    if ! /usr/bin/time -f "%e %U %S %M" -o "$timing" "$@" >"$log" 2>&1; then
        echo "  $program failed on $job (threads $threads); its output is in $log" >&2
        tail -n 5 "$log" >&2
        return 1
    fi
    tail -n 1 "$timing" | awk -v j="$job" -v t="$threads" -v p="$program" \
        '{ printf "%s %s %s %s %.2f %s\n", j, t, p, $1, $2 + $3, $4 }' >>"$raw"
}

# Our side as "ours", "pipe" (--pipeline on) or "loop" (--pipeline off).
run_ours() {
    local job=$1 threads=$2 side=$3 output=$4
    local mode=()
    [ "$side" = pipe ] && mode=(--pipeline on)
    [ "$side" = loop ] && mode=(--pipeline off)
    rm -f "$output"
    # shellcheck disable=SC2086  # the option texts split into words on purpose
    measure "$job" "$threads" "$side" "$results/$job-$threads-$side.log" \
        "$cli" run --threads "$threads" "${mode[@]}" -i "$cache/${input[$job]}" ${ours[$job]} "$output"
}

run_theirs() {
    local job=$1 threads=$2 output=$3
    local threading=()
    ((threads == 0)) || threading=(-threads "$threads" -filter_threads "$threads")
    local decoding=()
    ((threads == 0)) || decoding=(-threads "$threads")
    rm -f "$output"
    # shellcheck disable=SC2086
    measure "$job" "$threads" ffmpeg "$results/$job-$threads-ffmpeg.log" \
        ffmpeg -nostdin -v error -y "${decoding[@]}" -i "$cache/${input[$job]}" \
        ${theirs[$job]} "${threading[@]}" "$output"
}

# Output facts: bytes and the frames (packets) of the first video stream, else the first audio.
output_facts() {
    local file=$1 frames
    [ -s "$file" ] || {
        echo "- -"
        return
    }
    frames=$(ffprobe -v error -count_packets -select_streams v:0 \
        -show_entries stream=nb_read_packets -of default=nw=1:nk=1 "$file" | head -n 1)
    [ -n "$frames" ] || frames=$(ffprobe -v error -count_packets -select_streams a:0 \
        -show_entries stream=nb_read_packets -of default=nw=1:nk=1 "$file" | head -n 1)
    echo "$(stat -c %s "$file") ${frames:--}"
}

declare -A facts
probeRate=""
batchDone=""
for job in $jobs; do
    if [ "$job" = batch ]; then
        # The profile "MP4 - MPEG4" at its defaults: MPEG-4 Part 2 at 1200 kbit/s, the input's
        # size and rate, AAC 128 kbit/s 44.1 kHz stereo; both programs one codec thread per core.
        echo "== batch: 24 clips, convert --jobs 1 and --jobs 2 against ffmpeg once per file"
        batchOut=$results/batch-out
        mkdir -p "$batchOut"
        # shellcheck disable=SC2016 # expanded by that shell
        each='while IFS= read -r f; do n=${f##*/}; ffmpeg -nostdin -v error -y -i "$f" -c:v mpeg4 -b:v 1200k -c:a aac -b:a 128k -ar 44100 -ac 2 "$1/${n%.*}.mp4" || exit 1; done <"$0"'
        programs=(jobs1 jobs2 ffmpeg)
        for ((r = 0; r < runs; ++r)); do
            # Each run starts with the next program, so none always finds the warmest caches.
            for ((k = 0; k < 3; ++k)); do
                program=${programs[(r + k) % 3]}
                rm -f "$batchOut"/*
                if [ "$program" = ffmpeg ]; then
                    measure batch - ffmpeg "$results/batch-ffmpeg.log" \
                        sh -c "$each" "$batchList" "$batchOut" || break
                else
                    measure batch - "$program" "$results/batch-$program.log" \
                        "$cli" convert --profile "MP4 - MPEG4" --output-folder "$batchOut" \
                        --jobs "${program#jobs}" "${batchClips[@]}" || break
                fi
            done
        done
        rm -rf "$batchOut"
        batchDone=yes
        continue
    fi
    if [ "$job" = probe ]; then
        echo "== probe: 200 clips, our probe in one process against ffprobe once per file"
        # shellcheck disable=SC2016
        each='while IFS= read -r f; do ffprobe -v error -show_format -show_streams "$f" >/dev/null; done <"$0"'
        for ((r = 1; r <= runs; ++r)); do
            # Alternate which program goes first, so neither always finds warmer caches.
            if ((r % 2)); then
                measure probe - ours "$results/probe-ours.log" \
                    "$build/probe-bench" --cache "$clips" --files 200 --rounds 1
                measure probe - ffmpeg "$results/probe-ffprobe.log" sh -c "$each" "$clipList"
            else
                measure probe - ffmpeg "$results/probe-ffprobe.log" sh -c "$each" "$clipList"
                measure probe - ours "$results/probe-ours.log" \
                    "$build/probe-bench" --cache "$clips" --files 200 --rounds 1
            fi
        done
        probeRate=$("$build/probe-bench" --cache "$clips" --files 200 --rounds 5 |
            awk '/files per second/ { print $4 }')
        continue
    fi
    [ -n "${input[$job]:-}" ] || {
        echo "unknown job $job" >&2
        exit 2
    }
    for threads in $threadCounts; do
        echo "== $job, codec threads $threads (0: one per core)"
        programs=("${sides[@]}" ffmpeg)
        for ((r = 0; r < runs; ++r)); do
            # Each run starts with the next program, so none always finds the warmest caches.
            for ((k = 0; k < ${#programs[@]}; ++k)); do
                program=${programs[(r + k) % ${#programs[@]}]}
                output=$results/$job-$threads-$program.${extension[$job]}
                if [ "$program" = ffmpeg ]; then
                    run_theirs "$job" "$threads" "$output" || break 2
                else
                    run_ours "$job" "$threads" "$program" "$output" || break 2
                fi
            done
        done
        for program in "${programs[@]}"; do
            output=$results/$job-$threads-$program.${extension[$job]}
            facts[$job-$threads-$program]=$(output_facts "$output")
            rm -f "$output"
        done
    done
done

# ---- The table: a row per job, thread count and our side, medians, ratios ours / theirs, a "!"
# where a target is missed: wall time at most 0.90 on the decode-bound jobs and 1.0 on mp4-x264
# and flac-mp3 for our default side at the other program's default threads (0), else 1.05; CPU
# 1.05; peak memory 1.2; sizes within 1 %; frame counts equal. The last column: wall time of the
# pipeline over the one loop.
wall_limit() {
    local job=$1 threads=$2 side=$3
    if [ "$side" = loop ] || [ "$threads" != 0 ]; then
        echo 1.05
        return
    fi
    case $job in
        mp4-mpeg4 | avi-mpeg4 | flv) echo 0.90 ;;
        mp4-x264 | flac-mp3) echo 1.00 ;;
        *) echo 1.05 ;;
    esac
}
table=$results/table.txt
{
    printf "%-12s %3s %4s | %22s | %22s | %20s | %24s | %14s | %s\n" job thr side \
        "wall s ours ffmpeg" "CPU s ours ffmpeg" "peak MB ours ffmpeg" "size kB ours ffmpeg" \
        "frames" "pipe/loop"
    for job in $jobs; do
        [ "$job" = batch ] && continue
        list=$threadCounts
        rowSides=("${sides[@]}")
        if [ "$job" = probe ]; then
            list=-
            rowSides=(ours)
        fi
        for threads in $list; do
            read -r theirsSize theirsFrames <<<"${facts[$job-$threads-ffmpeg]:-- -}"
            for side in "${rowSides[@]}"; do
                read -r oursSize oursFrames <<<"${facts[$job-$threads-$side]:-- -}"
                awk -v j="$job" -v t="$threads" -v p="$side" -v os="$oursSize" -v of="$oursFrames" \
                    -v ts="$theirsSize" -v tf="$theirsFrames" \
                    -v wl="$(wall_limit "$job" "$threads" "$side")" "$awk_median"'
                    function cell(a, b, limit, format,    ratio) {
                        if (a < 0 || b <= 0) return sprintf("%22s", "-")
                        ratio = a / b
                        return sprintf(format " " format " %5.2f%s", a, b, ratio,
                                       ratio > limit ? "!" : " ")
                    }
                    function kb(bytes) { return bytes == "-" ? "-" : sprintf("%d", bytes / 1024) }
                    function sizes(    ratio) {
                        if (os == "-" || ts == "-" || ts == 0) return sprintf("%24s", "-")
                        ratio = os / ts
                        return sprintf("%8s %8s %5.3f%s", kb(os), kb(ts), ratio,
                                       ratio > 1.01 || ratio < 0.99 ? "!" : " ")
                    }
                    $1 == j && $2 == t {
                        wall[$3] = wall[$3] " " $4; cpu[$3] = cpu[$3] " " $5; mem[$3] = mem[$3] " " $6
                    }
                    END {
                        pipeOverLoop = ""
                        if (p == "pipe" && ("loop" in wall) && median(wall["loop"]) > 0)
                            pipeOverLoop = sprintf("%5.2f", median(wall["pipe"]) / median(wall["loop"]))
                        printf "%-12s %3s %4s | %s | %s | %s | %s | %6s %6s%s | %s\n", j, t, p,
                            cell(median(wall[p]), median(wall["ffmpeg"]), wl, "%7.2f"),
                            cell(median(cpu[p]), median(cpu["ffmpeg"]), 1.05, "%7.2f"),
                            cell(median(mem[p]) / 1024, median(mem["ffmpeg"]) / 1024, 1.2, "%6.1f"),
                            sizes(), of, tf, of == tf ? " " : "!", pipeOverLoop
                    }' "$raw"
            done
        done
    done
    echo "runs per program: $runs, medians; ratio = ours / ffmpeg; side: pipe (--pipeline on),"
    echo "loop (--pipeline off), ours (run has no --pipeline: the engine's default; one loop n/a)."
    echo "\"!\" over the target: wall 0.90 (mp4-mpeg4, avi-mpeg4, flv) and 1.0 (mp4-x264, flac-mp3)"
    echo "for the default side at thr 0, else 1.05; CPU 1.05; peak memory 1.2; sizes within 1 %;"
    echo "frame counts equal. probe row: ffprobe run once per file."
    [ -z "$probeRate" ] || echo "probe rate in one process: $probeRate files per second (target 500)"
    if [ -n "$batchDone" ]; then
        # Throughput of the batch: files per second from the median wall time of each way.
        awk -v n=${#batchClips[@]} "$awk_median"'
            $1 == "batch" { wall[$3] = wall[$3] " " $4 }
            END {
                printf "\n%-34s %8s %10s %14s\n", "batch of " n " clips", "wall s", "files/s", "vs --jobs 1"
                one = median(wall["jobs1"])
                split("jobs1 jobs2 ffmpeg", order, " ")
                names["jobs1"] = "daziziz-cli convert --jobs 1"
                names["jobs2"] = "daziziz-cli convert --jobs 2"
                names["ffmpeg"] = "ffmpeg once per file, in turn"
                for (i = 1; i <= 3; ++i) {
                    p = order[i]
                    if (wall[p] == "") continue
                    w = median(wall[p])
                    mark = (p == "jobs2" && one / w < 1.25) ? "!" : " "
                    printf "%-34s %8.2f %10.2f %13.2fx%s\n", names[p], w, n / w, one / w, mark
                }
                print "goal: --jobs 2 at least 1.25x the rate of --jobs 1 (\"!\": missed)"
            }' "$raw"
    fi
} | tee "$table"
echo "raw runs: $raw"
