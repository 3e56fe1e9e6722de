#!/usr/bin/env bash
# What is heard of `kavrel play`, against what it reports: for ramp files of several formats it
# records a private sound server's monitor and prints, per format, the latency from a block
# filled to its first value heard, the largest gap (the loop's seam included), the dropouts and
# the error of the reported heard position; then the stereo case again with both cores busy.
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
    local name=$1 rate=$2 chans=$3
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
    "$kavrel" play "$work/$name.wav" --raw-gain 0 --seconds "$play_seconds" \
        --timing "$work/$name.timing" 2>"$work/$name.err" || { cat "$work/$name.err" >&2; exit 1; }
    wait "$recorder"
    echo "== $name: $chans channels at $rate Hz, ${play_seconds} s of a ramp of at most 1.4 s, looped"
    "$check" analyze "$work/$name.wav" "$work/$name.timing" "$work/$name.raw" \
        "$(awk '/^t0/ {print $2}' "$work/$name.t0")"
}

run_case stereo44 44100 2
run_case mono44 44100 1
run_case quad48 48000 4
run_case stereo96 96000 2

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
