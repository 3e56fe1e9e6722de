#!/usr/bin/env bash
# Compares reading a 10-minute 16-bit stereo wave file (106 MB, in the page cache) by kavrel with
# `sox IN -t raw /dev/null` on the same file: both as whole processes, best of 7 runs each, and
# then kavrel's in-process read benchmark. Usage: scripts/bench-read-vs-sox.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cd "$root"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target kavrel bench_sound >/dev/null

tmp=$(mktemp -d /tmp/kavrel-bench-read.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
in="$tmp/ten-minutes.wav"
sox -n -r 44100 -b 16 -c 2 "$in" synth 600 whitenoise gain -3 2>/dev/null
bytes=$(stat -c %s "$in")
cat "$in" >/dev/null  # into the page cache

# Best wall time of 7 runs of a command, in milliseconds.
best_ms() {
    local best=""
    for _ in 1 2 3 4 5 6 7; do
        local t0 t1
        t0=$(date +%s%N)
        "$@" >/dev/null
        t1=$(date +%s%N)
        local ms=$(( (t1 - t0) / 1000000 ))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best"
}

report() {
    local name=$1 ms=$2
    awk -v n="$name" -v ms="$ms" -v b="$bytes" \
        'BEGIN { printf "%-34s %6d ms  %7.0f MB/s\n", n, ms, (ms > 0 ? b / 1e6 / (ms / 1000) : 0) }'
}

echo "file: $bytes bytes, 10 minutes, 44100 Hz, 16-bit stereo"
report "sox IN -t raw /dev/null" "$(best_ms sox "$in" -t raw /dev/null)"
report "kavrel info IN" "$(best_ms "$build/app/kavrel" info "$in")"
echo
"$build/bench/sound/bench_sound" --benchmark_filter='Read|Decode|Memcpy' --benchmark_min_time=1
