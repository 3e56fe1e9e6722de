#!/usr/bin/env bash
# What is heard of `kavrel play`, against what it reports: for ramp files of several formats it
# records a private sound server's monitor and prints, per format, the latency from a block
# filled to its first value heard, the largest gap (the loop's seam included), the dropouts and
# the error of the reported heard position; then a region of the stereo ramp looped (`play
# --start --end`, the feed the window loops a region with), which must run on from its last frame
# to its first without a gap; then the stereo case again with both cores busy.
#   scripts/check-playback.sh [BUILD_DIR]      (default: build; needs kavrel and playback_check)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
kavrel=$build/app/kavrel
check=$build/bench/playback/playback_check
for tool in "$kavrel" "$check"; do
    [ -x "$tool" ] || { echo "check-playback: $tool is not built" >&2; exit 2; }
done

work=$(mktemp -d /tmp/kavrel-check.XXXXXX)
load_pids=()
cleanup() {
    for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    "$root/scripts/pulse-test-server.sh" stop || true
    rm -rf "$work"
}
eval "$("$root/scripts/pulse-test-server.sh" start)"
trap cleanup EXIT
# The stored settings must not change the level: a home of our own.
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

play_seconds=5
run_case() {
    local name=$1 rate=$2 chans=$3 start=${4:-} end=${5:-}
    local region=()
    [ -z "$start" ] || region=(--start "$start" --end "$end")
    local sink="check_${rate}_${chans}"
    # A sink of the file's own format, so that the server neither resamples nor remixes.
    pactl list short sinks | grep -q "	$sink	" ||
        pactl load-module module-null-sink "sink_name=$sink" norewinds=1 "rate=$rate" \
            "channels=$chans" >/dev/null
    pactl set-default-sink "$sink"
    "$check" gen "$work/$name.wav" "$rate" "$chans" 1.4
    "$check" record "$sink.monitor" "$rate" "$chans" $((play_seconds + 2)) "$work/$name.raw" \
        >"$work/$name.t0" &
    local recorder=$!
    sleep 0.5
    # The ramp reaches full scale: the overload notices are expected.
    "$kavrel" play "$work/$name.wav" --raw-gain 0 --seconds "$play_seconds" "${region[@]}" \
        --timing "$work/$name.timing" 2>"$work/$name.err" || { cat "$work/$name.err" >&2; exit 1; }
    wait "$recorder"
    local t0
    t0=$(awk '/^t0/ {print $2}' "$work/$name.t0")
    if [ -z "$start" ]; then
        echo "== $name: $chans channels at $rate Hz, ${play_seconds} s of a ramp of at most 1.4 s, looped"
        "$check" analyze "$work/$name.wav" "$work/$name.timing" "$work/$name.raw" "$t0"
    else
        echo "== $name: $chans channels at $rate Hz, ${play_seconds} s of the region $start ... $end s" \
            "of a ramp, looped"
        grep -v overload "$work/$name.err" || true
        "$check" analyze-region "$work/$name.wav" "$work/$name.timing" "$work/$name.raw" "$t0" \
            "$(awk -v s="$start" -v r="$rate" 'BEGIN {printf "%d", s * r + 0.5}')" \
            "$(awk -v s="$end" -v r="$rate" 'BEGIN {printf "%d", s * r + 0.5}')"
    fi
}

run_case stereo44 44100 2
run_case mono44 44100 1
run_case quad48 48000 4
run_case stereo96 96000 2
# A region of 0.3 s, its seam inside a block of the feed.
run_case region44 44100 2 0.25 0.55

# What the controls add to the sound: a 500 Hz tone through the main window while each slider is
# swept and "Use filter" toggled, recorded from the monitor and put through a notch at 500 Hz.
artifacts=$build/bench/playback/artifact_check
if [ -x "$artifacts" ]; then
    pactl list short sinks | grep -q "	artifacts	" ||
        pactl load-module module-null-sink sink_name=artifacts norewinds=1 rate=44100 \
            channels=2 >/dev/null
    pactl set-default-sink artifacts
    "$check" record artifacts.monitor 44100 2 30 "$work/artifacts.raw" >"$work/artifacts.t0" &
    recorder=$!
    sleep 0.5
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$artifacts" play "$work/artifacts.timing"
    wait "$recorder"
    echo "== control changes on a 500 Hz tone, 44100 Hz stereo"
    "$artifacts" analyze "$work/artifacts.raw" "$(awk '/^t0/ {print $2}' "$work/artifacts.t0")" \
        "$work/artifacts.timing" ||
        { echo "check-playback: a control change leaves a step over the goal" >&2; exit 1; }
else
    echo "check-playback: $artifacts is not built: no check of control changes" >&2
fi

# Both cores busy at normal priority.
for _ in 1 2; do
    (while :; do :; done) &
    load_pids+=($!)
done
run_case stereo44-busy 44100 2

# --- The ring against the server: PipeWire at several graph quanta, then PulseAudio, each a
# private server of its own. For each, a stereo ramp played for KAVREL_CHECK_SERIES_SECONDS
# (default 60) s: the time from Play to the first sound, dropouts and gaps, the latency from a
# change to its being heard (median, max), the ring in use and the underruns. The latency must
# stay within 150 ms up to a quantum of 2048 frames, within two quanta and 50 ms above.
# Recordings on PipeWire reach the monitor up to a quantum late (printed as the monitor's lag);
# the figures include it. Each case ends with the server's floor: the same figure for a plain
# client that makes each block just before the server takes it. KAVREL_CHECK_SERIES="256 8192 pulse" runs part of the series.
for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
load_pids=()
series_seconds=${KAVREL_CHECK_SERIES_SECONDS:-60}
reference_seconds=$((series_seconds < 20 ? series_seconds : 20))
series_failed=0
run_series_case() {
    local server=$1 quantum=${2:-} name="series-$1${2:+-$2}"
    (
        export KAVREL_TEST_PIPEWIRE_QUANTUM=$quantum
        eval "$("$root/scripts/$server-test-server.sh" start)"
        trap '"$root/scripts/$server-test-server.sh" stop || true' EXIT
        local limit=150
        if [ -n "$quantum" ] && [ "$quantum" -gt 2048 ]; then
            limit=$(((2 * quantum * 1000 + 44099) / 44100 + 50))
        fi
        "$check" gen "$work/$name.wav" 44100 2 1.4
        "$check" record kavreltest.monitor 44100 2 $((series_seconds + 3)) "$work/$name.raw" \
            >"$work/$name.t0" &
        local recorder=$!
        sleep 0.5
        local begin=$SECONDS
        timeout $((series_seconds + 20)) "$kavrel" play "$work/$name.wav" --raw-gain 0 \
            --seconds "$series_seconds" --timing "$work/$name.timing" 2>"$work/$name.err" ||
            { echo "== $name: kavrel play failed or hung"; cat "$work/$name.err"; exit 1; }
        wait "$recorder"
        echo "== $name: ${server}${quantum:+ at a quantum of $quantum frames}, ${series_seconds} s" \
            "(played for $((SECONDS - begin)) s; the monitor's lag: ${KAVREL_TEST_MONITOR_LAG_MS:-0} ms)"
        grep -v overload "$work/$name.err" || true
        local verdict=0
        "$check" analyze "$work/$name.wav" "$work/$name.timing" "$work/$name.raw" \
            "$(awk '/^t0/ {print $2}' "$work/$name.t0")" "$limit" || verdict=1
        # The server's own floor, measured the same way: the plainest client, which makes each
        # block just before a blocking write on the least buffer the server grants.
        "$check" record kavreltest.monitor 44100 2 $((reference_seconds + 3)) "$work/$name-ref.raw" \
            >"$work/$name-ref.t0" &
        recorder=$!
        sleep 0.5
        "$check" reference "$work/$name.wav" "$reference_seconds" "$work/$name-ref.timing"
        wait "$recorder"
        echo "-- the server's floor (a plain client, ${reference_seconds} s):" \
            "$("$check" analyze "$work/$name.wav" "$work/$name-ref.timing" "$work/$name-ref.raw" \
                "$(awk '/^t0/ {print $2}' "$work/$name-ref.t0")" "$limit" | grep change)"
        exit "$verdict"
    ) || series_failed=$((series_failed + 1))
}
for case in ${KAVREL_CHECK_SERIES:-256 1024 2048 4096 8192 pulse}; do
    if [ "$case" = pulse ]; then run_series_case pulse; else run_series_case pipewire "$case"; fi
done
echo "== series: $series_failed case(s) out of limits"
[ "$series_failed" -eq 0 ]
