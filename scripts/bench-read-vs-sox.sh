#!/usr/bin/env bash
# Compares full reads of files in the page cache: `kavrel analyze` (every sample decoded and
# summed) against `sox IN -t raw /dev/null` and against `cat IN`, on 10 minutes of 44.1 kHz 16-bit
# stereo (106 MB) and of 96 kHz 24-bit 8-channel sound (1.4 GB); then the window's open of the
# 8-channel file (bench_open_file: the read and the plots' summaries, as the window does them),
# and kavrel's in-process read benchmark. Medians of paired runs under /usr/bin/time -v (see
# scripts/bench-lib.sh).
#   scripts/bench-read-vs-sox.sh [BUILD_DIR]
#   KAVREL_BENCH_RUNS=5            pairs per comparison
#   KAVREL_BENCH_SIMD="avx2 base"  adds rows for the reads limited to these vector paths
#   KAVREL_BENCH_FILES=dir         keeps the generated files there for the next run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cd "$root"
source scripts/bench-lib.sh

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target kavrel bench_sound bench_open_file >/dev/null
kavrel=$build/app/kavrel
open=$build/bench/app_view/bench_open_file
runs=${KAVREL_BENCH_RUNS:-5}

work=$(mktemp -d /tmp/kavrel-bench-read.XXXXXX)
trap 'rm -rf "$work"' EXIT
files=${KAVREL_BENCH_FILES:-$work}
mkdir -p "$files"

stereo=$files/read-10min-stereo16.wav
[ -s "$stereo" ] || sox -n -r 44100 -b 16 -c 2 "$stereo" synth 600 whitenoise gain -3 2>/dev/null
wide=$files/wide-10min-96k-24bit-8ch.wav
if [ ! -s "$wide" ]; then
    echo "making 10 minutes of 8 channels (96000 Hz, 24 bit)..." >&2
    sox -n -r 96000 -b 24 -c 8 "$wide" synth 600 pinknoise sine 440 brownnoise sine 1000 \
        whitenoise sine 50 pinknoise sine 3000 gain -6 2>/dev/null
fi

rows=()
for f in "$stereo" "$wide"; do
    label=$(basename "$f" .wav)
    cat "$f" >/dev/null # into the page cache
    for simd in "" ${KAVREL_BENCH_SIMD:-}; do
        name="analyze-$label-${simd:-own}"
        run="KAVREL_SIMD=$simd exec '$kavrel' analyze '$f'"
        bench_pair "$name" "$run" "cat-$name" "exec cat '$f'"
        rows+=("$(bench_row "analyze / cat ${simd:+($simd) }$label" "$name" "cat-$name" "<= 3")")
        bench_pair "$name-2" "$run" "sox-$name" "exec sox '$f' -t raw /dev/null"
        rows+=("$(bench_row "analyze / sox ${simd:+($simd) }$label" "$name-2" "sox-$name" "")")
    done
done
for simd in "" ${KAVREL_BENCH_SIMD:-}; do
    name="open-${simd:-own}"
    bench_pair "$name" "KAVREL_SIMD=$simd exec '$open' '$wide'" "cat-$name" "exec cat '$wide'"
    rows+=("$(bench_row "window's open / cat ${simd:+($simd) }8ch" "$name" "cat-$name" \
        "open <= 1.5 s wall")")
done

echo "processor: $(lscpu | sed -n 's/^Model name: *//p'), $(grep -o 'avx[0-9a-z_]*' /proc/cpuinfo | sort -u | tr '\n' ' ')"
echo "load: $(uptime)"
echo "files: $(stat -c '%n %s bytes' "$stereo" "$wide" | tr '\n' ';')"
echo
bench_header kavrel other
printf '%s\n' "${rows[@]}"
echo
"$build/bench/sound/bench_sound" --benchmark_filter='Read|Decode|Memcpy' --benchmark_min_time=1
