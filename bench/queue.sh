#!/usr/bin/env bash
# A queue of short clips converted one at a time against two at a time: twelve 6 s 1280x720
# H.264 + AAC clips (made once by ffmpeg into bench/cache/queue/) through one profile with
# `daziziz-cli convert --jobs 1` and `--jobs 2`, the ways taking turns, several runs each.
# Prints per way the median wall time, CPU time (user + system) and peak memory, and the speed-up
# (median wall time of --jobs 1 over this way's, in the same pipeline mode), marked "!" where
# --jobs 2 is under 1.25x. When `convert` takes --pipeline, both ways run at convert's own
# choice (no option) and again with --pipeline on and off. After every run each output must be there with the input's
# frame count (ffprobe); a failed conversion or a wrong count makes the exit status 1.
# Outputs go to a temporary folder, removed at the end; the runs and the table are kept in
# bench/results/queue-<date-time>/.
#
#   bench/queue.sh [--runs N] [--clips N] [--seconds S] [--profile NAME]
#                  [--pipeline default|on|off|both|all] [--build DIR]
#
# Defaults: 3 runs, 12 clips of 6 s, "MP4 - MPEG4", all of convert's own choice, on and off when
# supported (both: on and off), build/ (or $DZ_BENCH_BUILD).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${DZ_BENCH_BUILD:-$(dirname "$here")/build}
pipeline=all
# shellcheck source=bench/queue-clips.sh
. "$here/queue-clips.sh"
while (($#)); do
    case "$1" in
        --pipeline) pipeline=${2:-} ;;
        *)
            queue_option "$1" "${2:-}" || {
                echo "usage: bench/queue.sh [--runs N] [--clips N] [--seconds S] [--profile NAME]" \
                    "[--pipeline default|on|off|both|all] [--build DIR]" >&2
                exit 2
            }
            ;;
    esac
    shift $(($# > 1 ? 2 : 1))
done
[[ $pipeline =~ ^(default|on|off|both|all)$ ]] || {
    echo "--pipeline takes default, on, off, both or all" >&2
    exit 2
}
cli=$build/daziziz-cli
[ -x "$cli" ] || { echo "no $cli: build it (cmake --build $build --target daziziz-cli)" >&2; exit 1; }
for tool in ffmpeg ffprobe /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench/queue.sh needs $tool (apt-get install ffmpeg time)" >&2; exit 1; }
done

# ---- The ways to measure: a name (jobs, then the mode or "-") and its extra options.
modes=(-)
note="convert has no --pipeline here: only its own choice ran"
if "$cli" convert --help 2>&1 | grep -q -- --pipeline; then
    note=""
    case $pipeline in
        default) modes=(-) ;;
        on) modes=(on) ;;
        off) modes=(off) ;;
        both) modes=(on off) ;;
        all) modes=(- on off) ;;
    esac
elif [ "$pipeline" != default ] && [ "$pipeline" != all ]; then
    echo "this daziziz-cli's convert has no --pipeline option" >&2
    exit 2
fi
ways=()
for mode in "${modes[@]}"; do ways+=("1 $mode" "2 $mode"); done

# ---- The clips.
make_queue_clips "$count" "$seconds" "$here/cache/queue"

results=$here/results/queue-$(date +%Y%m%d-%H%M%S)
mkdir -p "$results"
raw=$results/raw.txt # one line per run: jobs mode wall cpu peak-kB
: >"$raw"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
faults=0

# One conversion of the whole queue under GNU time, then every output checked.
run_way() {
    local jobs=$1 mode=$2 log=$results/jobs$1-$2.log
    local options=(--profile "$profile" --output-folder "$out" --jobs "$jobs")
    [ "$mode" = - ] || options+=(--pipeline "$mode")
    rm -rf "${out:?}"/*
    if ! /usr/bin/time -f "%e %U %S %M" -o "$results/timing" "$cli" convert "${options[@]}" \
        "${clips[@]}" >"$log" 2>&1; then
        echo "  --jobs $jobs (pipeline ${mode/#-/default}) failed; its output is in $log" >&2
        tail -n 5 "$log" >&2
        faults=$((faults + 1))
        return
    fi
    tail -n 1 "$results/timing" | awk -v j="$jobs" -v m="$mode" \
        '{ printf "%s %s %s %.2f %s\n", j, m, $1, $2 + $3, $4 }' >>"$raw"
    check_queue_outputs "--jobs $jobs (pipeline ${mode/#-/default})" "$out" ||
        faults=$((faults + $?))
}

echo "== $count clips of ${seconds}s 1280x720 through \"$profile\", $runs runs"
for ((r = 0; r < runs; ++r)); do
    # Each run starts with the next way, so none always finds the warmest caches.
    for ((k = 0; k < ${#ways[@]}; ++k)); do
        # shellcheck disable=SC2086 # "jobs mode" splits into its two words
        run_way ${ways[(r + k) % ${#ways[@]}]}
    done
done

{
    printf "%-36s %8s %8s %8s %9s\n" "$count clips, $runs runs, medians" "wall s" "CPU s" "peak MB" speed-up
    awk -v profile="$profile" "$awk_median"'
        { key = $1 " " $2; wall[key] = wall[key] " " $3; cpu[key] = cpu[key] " " $4; mem[key] = mem[key] " " $5 }
        END {
            split("- on off", order, " ")
            for (m = 1; m <= 3; ++m)
                for (j = 1; j <= 2; ++j) {
                    key = j " " order[m]
                    if (!(key in wall)) continue
                    name = "convert --jobs " j (order[m] == "-" ? "" : " --pipeline " order[m])
                    w = median(wall[key])
                    one = (1 " " order[m]) in wall ? median(wall[1 " " order[m]]) : 0
                    up = one > 0 ? sprintf("%8.2fx%s", one / w, j == 2 && one / w < 1.25 ? "!" : " ") : "-"
                    printf "%-36s %8.2f %8.2f %8.1f %9s\n", name, w, median(cpu[key]),
                        median(mem[key]) / 1024, up
                }
            print "profile \"" profile "\"; speed-up: --jobs 1 wall / this wall, same mode;"
            print "goal: --jobs 2 at least 1.25x (\"!\": missed)"
        }' "$raw"
    [ -z "$note" ] || echo "$note"
} | tee "$results/table.txt"
((faults == 0)) || { echo "$faults failed conversions or wrong frame counts" >&2; exit 1; }
