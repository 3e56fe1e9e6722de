#!/usr/bin/env bash
# A private PulseAudio server with one null sink, for the tests of the real sound path. It lives in
# its own runtime folder, so nothing ever plays through a developer's speakers.
#   eval "$(scripts/pulse-test-server.sh start)"   # exports XDG_RUNTIME_DIR and PULSE_SERVER
#   scripts/pulse-test-server.sh stop               # stops the server started above (by PID)
# The sink is "kavreltest" (44100 Hz, 2 channels); record it from "kavreltest.monitor".
set -euo pipefail

cmd=${1:-}
case "$cmd" in
start)
    dir=$(mktemp -d /tmp/kavrel-pulse.XXXXXX)
    chmod 700 "$dir"
    export XDG_RUNTIME_DIR="$dir"
    # A step that fails stops the server it may have started: nothing is left running.
    trap 'echo "pulse-test-server: a step failed at line $LINENO" >&2; tail -n 20 "$dir/pa.log" >&2 || true; KAVREL_PULSE_DIR="$dir" "$0" stop || true; exit 1' ERR
    # norewinds=1: without it the first milliseconds of each stream are missing from the monitor.
    pulseaudio -D -n --exit-idle-time=-1 --system=false --disallow-exit --disable-shm=true \
        --load="module-null-sink sink_name=kavreltest norewinds=1 rate=44100 channels=2" \
        --load="module-native-protocol-unix socket=$dir/pulse/native" \
        --log-target="file:$dir/pa.log" >&2
    for _ in $(seq 1 100); do
        if pactl info >/dev/null 2>&1; then break; fi
        sleep 0.1
    done
    pactl info >/dev/null
    pactl set-default-sink kavreltest
    echo "export XDG_RUNTIME_DIR='$dir'; export PULSE_SERVER='unix:$dir/pulse/native'; export KAVREL_PULSE_DIR='$dir';"
    ;;
stop)
    dir=${KAVREL_PULSE_DIR:-${2:-}}
    [ -n "$dir" ] || { echo "pulse-test-server: no server folder given" >&2; exit 2; }
    if [ -f "$dir/pulse/pid" ]; then
        pid=$(cat "$dir/pulse/pid")
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|stop [DIR]" >&2
    exit 2
    ;;
esac
