#!/usr/bin/env bash
# Times kavrel's export and analysis against sox on the same generated 10-minute stereo file and
# prints the ratios, then the time to fill one 4096-value player block.
#   scripts/bench-vs-sox.sh            builds build/ (RelWithDebInfo) first
#   KAVREL_BUILD=dir scripts/bench-vs-sox.sh   uses an existing build folder as it is
# The sox export runs the same transfer function as kavrel's filter at the sliders' initial
# positions (gain -10 dB, pole and zero at 100 Hz with Q 1): numerator G·a0·b0·(1, b1, b2),
# denominator (1, -a1, -a2), then normalises to 32764 (gain -n -0.00106 dB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ -z "${KAVREL_BUILD:-}" ]; then
    bash scripts/install-deps.sh
    KAVREL_BUILD=build
    cmake -S . -B "$KAVREL_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$KAVREL_BUILD" -j "${KAVREL_JOBS:-2}" --target kavrel bench_app_core >/dev/null
fi
kavrel=$KAVREL_BUILD/app/kavrel
bench=$KAVREL_BUILD/bench/app_core/bench_app_core
runs=${KAVREL_BENCH_RUNS:-3}

work=$(mktemp -d /tmp/kavrel-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
in=$work/in.wav
echo "making a 10-minute stereo test file (44100 Hz, 16 bit)..."
sox -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth 600 pinknoise brownnoise gain -12
sox -n -r 44100 -b 16 -c 2 "$work/tones.wav" synth 600 sine 220 sine 330 gain -9
sox -m "$work/noise.wav" "$work/tones.wav" -b 16 "$in"
rm -f "$work/noise.wav" "$work/tones.wav"

# Section coefficients for fs 44100, as the filter section designs them.
read -r B0 B1 B2 A1 A2 < <(awk 'BEGIN {
    pi = atan2(0, -1); fs = 44100; g = exp(log(10) * -10 / 20)
    pf = 100; pbw = 100; zf = 100; zbw = 100
    a2 = -exp(-2 * pi * pbw / fs); a1 = 2 * exp(-pi * pbw / fs) * cos(2 * pi * pf / fs)
    a0 = 1 - a1 - a2
    b2 = exp(-2 * pi * zbw / fs); b1 = -2 * exp(-pi * zbw / fs) * cos(2 * pi * zf / fs)
    b0 = 1 / (1 + b1 + b2)
    k = g * a0 * b0
    printf "%.17g %.17g %.17g %.17g %.17g\n", k, k * b1, k * b2, -a1, -a2
}')

# Best of $runs runs of a command: "wall cpu" in seconds (cpu = user + system; on a busy machine
# it is the steadier of the two).
best_time() {
    local best_wall="" best_cpu=""
    for _ in $(seq 1 "$runs"); do
        local line
        line=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>"$work/stderr"; } 2>&1 ) \
            || { cat "$work/stderr" >&2; exit 1; }
        read -r best_wall best_cpu < <(awk -v l="$line" -v bw="$best_wall" -v bc="$best_cpu" 'BEGIN {
            split(l, t, " "); w = t[1]; c = t[2] + t[3]
            if (bw == "" || w < bw) bw = w
            if (bc == "" || c < bc) bc = c
            printf "%.3f %.3f\n", bw, bc }')
    done
    echo "$best_wall $best_cpu"
}

# Loads the file into the page cache, so that the first timed run does not pay for the disk.
cat "$in" >/dev/null

export XDG_CONFIG_HOME=$work/config # no stored settings: the sliders' initial positions
kx=$(best_time "$kavrel" export "$in" "$work/kavrel-out.wav")
sx=$(best_time sox "$in" -b 16 "$work/sox-out.wav" biquad "$B0" "$B1" "$B2" 1 "$A1" "$A2" gain -n -0.00106)
if grep -qi clip "$work/stderr"; then
    echo "note: sox reported clipping: $(cat "$work/stderr")"
fi
ka=$(best_time "$kavrel" analyze "$in")
sa=$(best_time sox "$in" -n stats)

echo
echo "levels of the two exports (they should agree to a few hundredths of a dB):"
echo "  kavrel: $("$kavrel" analyze "$work/kavrel-out.wav")"
echo "  sox:    $("$kavrel" analyze "$work/sox-out.wav")"
echo
row() {
    awk -v n="$1" -v k="$2" -v s="$3" -v aim="$4" 'BEGIN {
        split(k, kk, " "); split(s, ss, " ")
        printf "%-28s %7.3fs %7.3fs %7.3f   %7.3fs %7.3fs %7.3f   <= %s\n", n, kk[1], ss[1],
               kk[1] / ss[1], kk[2], ss[2], kk[2] / ss[2], aim }'
}
printf '%-28s %8s %8s %7s   %8s %8s %7s   %s\n' "" "kavrel" "sox" "ratio" "kavrel" "sox" "ratio" "aim"
printf '%-28s %26s   %26s\n' "" "--- wall clock ---" "--- cpu (user+sys) ---"
row "export (filter, normalise)" "$kx" "$sx" 0.25
row "analyze (levels)" "$ka" "$sa" 0.20
echo
echo "one player block of 4096 values (aim <= 50 us):"
"$bench" --benchmark_filter='BM_FillBlock' --benchmark_min_time=0.2 2>/dev/null | grep BM_
