#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (into build-fuzz/), seeds their corpora from
# generated clips and option texts, and runs each target for a bounded time.
#
#   tests/fuzz/run.sh [SECONDS_PER_TARGET] [TARGET ...]
#
# SECONDS_PER_TARGET defaults to 60 (what CI runs); give more for a longer search, e.g.
# tests/fuzz/run.sh 3600 convert. Targets: option, probe, convert (default all three).
# The corpora grow in build-fuzz/corpus/ between runs; a crash leaves its input in
# build-fuzz/artifacts/ and ends the script with a failure. Keep each crasher as a regression
# case (a unit test, or for option texts a file in tests/fuzz/regressions/option/).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(option probe convert)

build=build-fuzz
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DDZ_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
fi
cmake --build "$build" -j "$(nproc)" --target fuzz-seeds "${targets[@]/%/_fuzzer}"

seeds=$build/seeds
if [ ! -f "$seeds/complete" ]; then
    rm -rf "$seeds"
    ASAN_OPTIONS=detect_leaks=0 "$build/fuzz/fuzz-seeds" "$seeds"
    touch "$seeds/complete"
fi
mkdir -p "$build/artifacts"

# The libraries' own leaks at exit are not this program's to mend; the ones of the targets'
# code show up as growth within a run, which -rss_limit_mb catches.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    case "$target" in
        option) seedFolder=$seeds/options maxLength=1024 ;;
        *) seedFolder=$seeds/media maxLength=65536 ;;
    esac
    echo "== $target: $seconds s"
    if ! "$build/fuzz/${target}_fuzzer" "$corpus" "$seedFolder" \
        -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len="$maxLength" \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        >"$build/$target.log" 2>&1; then
        failed=1
        echo "$target found a fault: $(ls -t "$build/artifacts/$target-"* 2>/dev/null | head -n 1)"
        grep -E "ERROR|SUMMARY|runtime error" "$build/$target.log" | head -n 20 || true
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$target.log" || true
done
exit "$failed"
