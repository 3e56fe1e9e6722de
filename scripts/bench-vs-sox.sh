#!/usr/bin/env bash
# Times kavrel's export (filter, normalise, dither) against sox doing the same on generated files
# in the page cache: 10 and 60 minutes of 44.1 kHz 16-bit stereo and 10 minutes of 96 kHz 24-bit
# 8-channel sound; then the analysis of the stereo file, and the time to fill one 4096-value
# player block. Medians of paired runs under /usr/bin/time -v (see scripts/bench-lib.sh).
#   scripts/bench-vs-sox.sh            builds build/ (RelWithDebInfo) first
#   KAVREL_BUILD=dir                   uses an existing build folder as it is
#   KAVREL_BENCH_RUNS=5                pairs per comparison
#   KAVREL_BENCH_MINUTES="10 60"       lengths of the stereo files
#   KAVREL_BENCH_WIDE=1                0 leaves the 8-channel file out
#   KAVREL_BENCH_SIMD="avx2 base"      adds rows for the export limited to these vector paths
#                                      (KAVREL_SIMD); the first row is the processor's own
#   KAVREL_BENCH_FILES=dir             keeps the generated files there for the next run
# The sox export runs the same transfer function as kavrel's filter at the sliders' initial
# positions (gain -10 dB, pole and zero at 100 Hz with Q 1): numerator G·a0·b0·(1, b1, b2),
# denominator (1, -a1, -a2), then normalises to 32764 (gain -n -0.00106 dB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/bench-lib.sh

if [ -z "${KAVREL_BUILD:-}" ]; then
    bash scripts/install-deps.sh
    KAVREL_BUILD=build
    cmake -S . -B "$KAVREL_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$KAVREL_BUILD" -j "${KAVREL_JOBS:-2}" --target kavrel bench_app_core >/dev/null
fi
kavrel=$(cd "$KAVREL_BUILD" && pwd)/app/kavrel
bench=$KAVREL_BUILD/bench/app_core/bench_app_core
runs=${KAVREL_BENCH_RUNS:-5}
minutes=${KAVREL_BENCH_MINUTES:-10 60}

work=$(mktemp -d /tmp/kavrel-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
files=${KAVREL_BENCH_FILES:-$work}
mkdir -p "$files"
export XDG_CONFIG_HOME=$work/config # no stored settings: the sliders' initial positions

stereo_file() {
    local f=$files/stereo-$1min.wav
    if [ ! -s "$f" ]; then
        echo "making $1 minutes of stereo (44100 Hz, 16 bit)..." >&2
        local s=$(($1 * 60))
        sox -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth $s pinknoise brownnoise gain -12
        sox -n -r 44100 -b 16 -c 2 "$work/tones.wav" synth $s sine 220 sine 330 gain -9
        sox -m "$work/noise.wav" "$work/tones.wav" -b 16 "$f"
        rm -f "$work/noise.wav" "$work/tones.wav"
    fi
    echo "$f"
}

wide_file() {
    local f=$files/wide-10min-96k-24bit-8ch.wav
    if [ ! -s "$f" ]; then
        echo "making 10 minutes of 8 channels (96000 Hz, 24 bit)..." >&2
        sox -n -r 96000 -b 24 -c 8 "$f" synth 600 pinknoise sine 440 brownnoise sine 1000 \
            whitenoise sine 50 pinknoise sine 3000 gain -6 2>/dev/null
    fi
    echo "$f"
}

# The sox effect arguments for the section at the sample rate $1.
sox_filter() {
    awk -v fs="$1" 'BEGIN {
        pi = atan2(0, -1); g = exp(log(10) * -10 / 20)
        pf = 100; pbw = 100; zf = 100; zbw = 100
        a2 = -exp(-2 * pi * pbw / fs); a1 = 2 * exp(-pi * pbw / fs) * cos(2 * pi * pf / fs)
        a0 = 1 - a1 - a2
        b2 = exp(-2 * pi * zbw / fs); b1 = -2 * exp(-pi * zbw / fs) * cos(2 * pi * zf / fs)
        b0 = 1 / (1 + b1 + b2)
        k = g * a0 * b0
        printf "biquad %.17g %.17g %.17g 1 %.17g %.17g gain -n -0.00106\n", k, k * b1, k * b2, -a1, -a2
    }'
}

# Export rows for the file $2 (label $1): the processor's own path and each KAVREL_BENCH_SIMD one.
export_rows() {
    local label=$1 in=$2 rate
    rate=$(soxi -r "$in")
    cat "$in" >/dev/null # into the page cache
    local sx="exec sox '$in' -b 16 '$work/sox-out.wav' $(sox_filter "$rate")"
    for simd in "" ${KAVREL_BENCH_SIMD:-}; do
        local name="export-$label-${simd:-own}"
        bench_pair "$name" "KAVREL_SIMD=$simd exec '$kavrel' export '$in' '$work/kavrel-out.wav'" \
            "sox-$name" "$sx"
        rows+=("$(bench_row "export $label${simd:+ ($simd)}" "$name" "sox-$name" \
            "<= 0.25 wall, 0.3 cpu")")
    done
    levels+=("$label kavrel: $("$kavrel" analyze "$work/kavrel-out.wav")")
    levels+=("$label sox:    $("$kavrel" analyze "$work/sox-out.wav")")
    if grep -qi clip "$work/stderr"; then
        levels+=("$label note: sox reported clipping: $(cat "$work/stderr")")
    fi
}

rows=()
levels=()
first=""
for m in $minutes; do
    f=$(stereo_file "$m")
    first=${first:-$f}
    export_rows "${m}min-stereo" "$f"
done
if [ "${KAVREL_BENCH_WIDE:-1}" != 0 ]; then
    export_rows "10min-8ch-24bit" "$(wide_file)"
fi
if [ -n "$first" ]; then
    bench_pair analyze "exec '$kavrel' analyze '$first'" sox-analyze "exec sox '$first' -n stats"
    rows+=("$(bench_row "analyze $(basename "$first" .wav)" analyze sox-analyze "<= 0.20")")
fi

echo
echo "processor: $(lscpu | sed -n 's/^Model name: *//p'), $(grep -o 'avx[0-9a-z_]*' /proc/cpuinfo | sort -u | tr '\n' ' ')"
echo "load: $(uptime)"
echo
echo "levels of the exports (they should agree to a few hundredths of a dB):"
printf '  %s\n' "${levels[@]}"
echo
bench_header kavrel sox
printf '%s\n' "${rows[@]}"
echo
echo "one player block of 4096 values (aim <= 50 us):"
"$bench" --benchmark_filter='BM_FillBlock' --benchmark_min_time=0.2 2>/dev/null | grep BM_
