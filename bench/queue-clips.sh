# shellcheck shell=bash disable=SC2034 # the variables set here are the sourcing scripts'
# Sourced by bench/queue.sh and bench/window-queue.sh: their common options, the queue's clips,
# the check of what a queue gave, and (from median.sh) the median of the table. Needs ffmpeg and ffprobe.

# The options both take, with their defaults; queue_option sets one and fails for another name.
runs=3
count=12
seconds=6
profile="MP4 - MPEG4"
queue_option() {
    case "$1" in
        --runs | --clips | --seconds) [[ $2 =~ ^[1-9][0-9]*$ ]] || return 1 ;;&
        --runs) runs=$2 ;;
        --clips) count=$2 ;;
        --seconds) seconds=$2 ;;
        --profile) profile=$2 ;;
        --build) build=$2 ;;
        *) return 1 ;;
    esac
}

# shellcheck source=bench/median.sh
. "$(dirname "${BASH_SOURCE[0]}")/median.sh"

# Fills `clips` with $1 clips of $2 s, 1280x720 25 fps H.264 + AAC 48 kHz, each made once into
# $3 (under a temporary name first, so a broken run leaves none behind), and `expected` with
# each clip's video frame count.
make_queue_clips() {
    local count=$1 seconds=$2 cache=$3 n i clip
    mkdir -p "$cache"
    clips=()
    for ((n = 1; n <= count; ++n)); do
        i=$(printf %02d "$n")
        clip=$cache/clip-$i-720p-${seconds}s.mp4
        if [ ! -s "$clip" ]; then
            echo "generating $clip"
            ffmpeg -v error -nostdin -y -f lavfi -i "testsrc2=size=1280x720:rate=25,noise=alls=6:allf=t" \
                -f lavfi -i "aevalsrc=0.3*sin(2*PI*(400+10*$n)*t):s=48000" -t "$seconds" \
                -c:v libx264 -preset fast -b:v 3M -pix_fmt yuv420p -c:a aac -b:a 128k "$cache/partial.mp4"
            mv "$cache/partial.mp4" "$clip"
        fi
        clips+=("$clip")
    done
    declare -gA expected=()
    for clip in "${clips[@]}"; do expected[$clip]=$(video_packets "$clip"); done
}

video_packets() {
    ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
        -of default=nw=1:nk=1 "$1" | head -n 1
}

# Prints a line for every clip whose output in folder $2 is missing or lacks the clip's frame
# count; $1 names the way in those lines. Returns the number of such clips.
check_queue_outputs() {
    local way=$1 folder=$2 clip name output frames bad=0
    for clip in "${clips[@]}"; do
        name=${clip##*/}
        output=$(find "$folder" -maxdepth 1 -name "${name%.*}.*" -print -quit)
        frames=""
        [ -z "$output" ] || frames=$(video_packets "$output")
        if [ "$frames" != "${expected[$clip]}" ]; then
            echo "  $way: $name gave ${frames:-no output}, not ${expected[$clip]} frames" >&2
            bad=$((bad + 1))
        fi
    done
    return "$bad"
}
