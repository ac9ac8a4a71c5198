#!/usr/bin/env bash
# The window's queue: the clips of bench/queue.sh converted by the desktop program with "Convert
# files at once" at 1 and at 2, the ways taking turns, several runs each, under a virtual X
# server and a session bus of their own. Each run starts the program on a fresh settings folder
# (the profile, the output folder and the files at once set there) with the clips named on its
# command line, waits until it has listed them, and sends Go Convert's shortcut (Ctrl+Return).
# The run ends when the program tells the desktop that the queue is over (its notification, as
# the session bus relays it). Prints per way the median wall time from the shortcut to that
# notification and the program's CPU time meanwhile, and the speed-up of two at a time (median
# wall time at 1 over at 2), marked "!" under 1.25. After every run each output must be there
# with its clip's frame count (ffprobe), and the notification must say that every conversion
# completed; else the exit status is 1. The runs and the table are kept in
# bench/results/window-queue-<date-time>/.
#
#   bench/window-queue.sh [--runs N] [--clips N] [--seconds S] [--profile NAME] [--build DIR]
#
# Defaults: 3 runs, 12 clips of 6 s, "MP4 - MPEG4", build/ (or $DZ_BENCH_BUILD).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${DZ_BENCH_BUILD:-$(dirname "$here")/build}
# shellcheck source=bench/queue-clips.sh
. "$here/queue-clips.sh"
if [ "${1:-}" = --inside ]; then
    inside=yes
    shift
fi
arguments=("$@")
while (($#)); do
    queue_option "$1" "${2:-}" || {
        echo "usage: bench/window-queue.sh [--runs N] [--clips N] [--seconds S]" \
            "[--profile NAME] [--build DIR]" >&2
        exit 2
    }
    shift $(($# > 1 ? 2 : 1))
done
for tool in ffmpeg ffprobe xvfb-run dbus-run-session dbus-monitor xdotool; do
    command -v "$tool" >/dev/null || {
        echo "bench/window-queue.sh needs $tool (apt-get install ffmpeg xvfb dbus xdotool)" >&2
        exit 1
    }
done
for program in daziziz daziziz-cli; do
    [ -x "$build/$program" ] || { echo "no $build/$program: build it (cmake --build $build)" >&2; exit 1; }
done

# ---- Outside: one X server and one session bus for every run.
if [ -z "${inside:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1366x768x24" \
        dbus-run-session -- "$0" --inside "${arguments[@]}"
fi

make_queue_clips "$count" "$seconds" "$here/cache/queue"
line=$("$build/daziziz-cli" profiles | awk -F '\t' -v name="$profile" \
    'index($2, name) == 1 { print $1; exit }')
[ -n "$line" ] || { echo "no profile \"$profile\"" >&2; exit 2; }

results=$here/results/window-queue-$(date +%Y%m%d-%H%M%S)
mkdir -p "$results"
raw=$results/raw.txt # one line per run: files-at-once wall cpu
: >"$raw"
work=$(mktemp -d)
notices=$results/notifications.txt
dbus-monitor --session "type=method_call,interface=org.freedesktop.Notifications,member=Notify" \
    >"$notices" 2>/dev/null &
monitor=$!
trap 'kill "$monitor" 2>/dev/null || true; rm -rf "$work"' EXIT
faults=0

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
notice_count() { grep -c '^method call' "$notices" || true; }

# Waits until the process has used no CPU for half a second: the files are listed and probed.
wait_until_idle() {
    local pid=$1 before after
    before=$(cpu_ticks "$pid")
    while sleep 0.5; do
        after=$(cpu_ticks "$pid")
        [ "$after" != "$before" ] || return 0
        before=$after
    done
}

run_way() {
    local parallel=$1 home=$work/home out=$work/out log=$results/window-$1.log
    rm -rf "$home" "$out"
    mkdir -p "$home/.config/Vavuror" "$out"
    printf '[General]\nComboOutputFormat=%s\nOutput%%20Folder=%s\nOverwrite=0\n\n[Window]\nParallelFiles=%s\n' \
        "$line" "$out" "$parallel" >"$home/.config/Vavuror/Daziziz Izaza Zivudadov.conf"
    HOME=$home "$build/daziziz" "${clips[@]}" >"$log" 2>&1 &
    local pid=$! window
    window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
    wait_until_idle "$pid"
    local seen start ticks
    seen=$(notice_count)
    ticks=$(cpu_ticks "$pid")
    start=$(date +%s.%N)
    xdotool windowfocus --sync "$window" key --window "$window" ctrl+Return
    local waited=0
    while [ "$(notice_count)" = "$seen" ]; do
        sleep 0.05
        if ((++waited > 6000)); then
            echo "  $parallel at once: no end after 300 s; the program's log is $log" >&2
            faults=$((faults + 1))
            kill "$pid"
            wait "$pid" 2>/dev/null || true
            return
        fi
    done
    ticks=$(($(cpu_ticks "$pid") - ticks))
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    # The notification's time and its body, the run's summary.
    local last end body
    last=$(grep -n '^method call' "$notices" | tail -n 1 | cut -d: -f1)
    end=$(sed -n "${last}p" "$notices" | sed -E 's/.* time=([0-9.]+) .*/\1/')
    # Its strings: the program, its icon, the caption and the body.
    for ((waited = 0; waited < 40; ++waited)); do
        body=$(tail -n +"$last" "$notices" | grep -m 4 '^   string' | sed -n 4p)
        [ -z "$body" ] || break
        sleep 0.05
    done
    [[ $body == *"All Conversions Completed"* ]] || {
        echo "  $parallel at once: the program ended with $body" >&2
        faults=$((faults + 1))
    }
    awk -v p="$parallel" -v s="$start" -v e="$end" -v t="$ticks" \
        'BEGIN { printf "%s %.2f %.2f\n", p, e - s, t / 100 }' >>"$raw"
    check_queue_outputs "$parallel at once" "$out" || faults=$((faults + $?))
}

echo "== $count clips of ${seconds}s 1280x720 through \"$profile\" in the window, $runs runs"
ways=(1 2)
for ((r = 0; r < runs; ++r)); do
    # Each run starts with the next way, so none always finds the warmest caches.
    for ((k = 0; k < ${#ways[@]}; ++k)); do run_way "${ways[(r + k) % ${#ways[@]}]}"; done
done

{
    printf "%-36s %8s %8s %9s\n" "$count clips, $runs runs, medians" "wall s" "CPU s" speed-up
    awk -v profile="$profile" "$awk_median"'
        { wall[$1] = wall[$1] " " $2; cpu[$1] = cpu[$1] " " $3 }
        END {
            for (p = 1; p <= 2; ++p) {
                if (!(p in wall)) continue
                w = median(wall[p])
                one = 1 in wall ? median(wall[1]) : 0
                up = one > 0 ? sprintf("%8.2fx%s", one / w, p == 2 && one / w < 1.25 ? "!" : " ") : "-"
                printf "%-36s %8.2f %8.2f %9s\n", "window, " p " at once", w, median(cpu[p]), up
            }
            print "profile \"" profile "\"; wall: Go Convert to the notification of the end;"
            print "speed-up: 1 at once / this; goal: 2 at once at least 1.25x (\"!\": missed)"
        }' "$raw"
} | tee "$results/table.txt"
((faults == 0)) || { echo "$faults failed runs or wrong outputs" >&2; exit 1; }
