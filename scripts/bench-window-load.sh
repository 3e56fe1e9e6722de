#!/usr/bin/env bash
# Opening a long stereo file (60 minutes by default) in the main window:
#  - with nothing playing, 5 pairs of opens, alone and with two busy loops at normal priority
#    beside it (goal: the busy median at most 1.5 x the other);
#  - while a tone plays, on the PulseAudio and on the PipeWire test server, the dropouts in a
#    recording of the output from the opening to a second after it (goal: none).
#   scripts/bench-window-load.sh [BUILD_DIR] [MINUTES] [TRIES]   (default: build, 60, 3; TRIES 0:
#   the opens with nothing playing only)
# Needs bench_window_load, playback_check and artifact_check built, and sox.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
minutes=${2:-60}
tries=${3:-3}
bench=$build/bench/windows/bench_window_load
record=$build/bench/playback/playback_check
analyze=$build/bench/playback/artifact_check
for tool in "$bench" "$record" "$analyze"; do
    [ -x "$tool" ] || { echo "bench-window-load: $tool is not built" >&2; exit 2; }
done

work=$(mktemp -d /tmp/kavrel-load.XXXXXX)
busy_pids=()
server_script=
stop_busy() {
    for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    busy_pids=()
}
cleanup() {
    stop_busy
    [ -z "$server_script" ] || "$server_script" stop || true
    rm -rf "$work"
}
trap cleanup EXIT
# The stored settings must not change the level: a home of our own.
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

sox -n -r 44100 -c 2 -b 16 "$work/long.wav" synth $((minutes * 60)) sine 500 vol 0.25
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine 500 vol 0.25

start_server() {
    server_script=$root/scripts/$1-test-server.sh
    eval "$("$server_script" start)"
}
stop_server() {
    "$server_script" stop
    server_script=
    unset PULSE_SERVER KAVREL_PULSE_DIR
}

start_server pulse
echo "== opening $minutes minutes with nothing playing: 5 pairs, alone and beside two busy loops"
quiet=()
busy=()
for pair in 1 2 3 4 5; do
    quiet+=("$("$bench" open "$work/long.wav" 1 | awk '/^median/ {print $2}')")
    for _ in 1 2; do
        (while :; do :; done) &
        busy_pids+=($!)
    done
    busy+=("$("$bench" open "$work/long.wav" 1 | awk '/^median/ {print $2}')")
    stop_busy
    echo "pair $pair: alone ${quiet[-1]} s, busy ${busy[-1]} s ($(uptime | sed 's/.*load/load/'))"
done
median() { printf '%s\n' "$@" | sort -g | sed -n 3p; }
awk -v q="$(median "${quiet[@]}")" -v b="$(median "${busy[@]}")" 'BEGIN {
    printf "medians: busy / alone = %.3f s / %.3f s = %.2f (goal: at most 1.5)\n", b, q, b / q }'

[ "$tries" -gt 0 ] || exit 0
for server in pulse pipewire; do
    [ -n "$server_script" ] || start_server "$server"
    echo "== opening $minutes minutes while a tone plays, on $server"
    for try in $(seq 1 "$tries"); do
        "$record" record kavreltest.monitor 44100 2 18 "$work/play.raw" >"$work/play.t0" &
        recorder=$!
        sleep 0.5
        "$bench" play "$work/tone.wav" "$work/long.wav" "$work/play.timing"
        wait "$recorder"
        printf 'try %d: ' "$try"
        "$analyze" analyze "$work/play.raw" "$(awk '/^t0/ {print $2}' "$work/play.t0")" \
            "$work/play.timing" || true
    done
    stop_server
done
