#!/usr/bin/env bash
# A private PipeWire (pipewire, wireplumber, pipewire-pulse, with a private session bus) with one
# null sink, for the tests of the real sound path, as the sound server of current desktops runs.
# Same interface as pulse-test-server.sh: everything lives in its own runtime folder, the graph
# runs at 44100 Hz, and the PulseAudio socket is where the PulseAudio server's would be.
#   eval "$(scripts/pipewire-test-server.sh start)" # exports XDG_RUNTIME_DIR and PULSE_SERVER
#   scripts/pipewire-test-server.sh stop            # stops what start started (by PID)
# The sink is "kavreltest" (44100 Hz, 2 channels); record it from "kavreltest.monitor". The PID
# of the process that serves the PulseAudio socket is in $dir/pulse/pid.
# The graph runs in quanta of 2048 frames: shorter ones break up when the machine is busy (the
# test server has no realtime priority). A recording of the monitor arrives up to one quantum
# after the sound was played, which start exports as KAVREL_TEST_MONITOR_LAG_MS.
# KAVREL_TEST_PIPEWIRE_QUANTUM=N forces another quantum, as a user's setting can.
set -euo pipefail

cmd=${1:-}
case "$cmd" in
start)
    quantum=${KAVREL_TEST_PIPEWIRE_QUANTUM:-2048}
    case "$quantum" in
    '' | *[!0-9]*) echo "pipewire-test-server: KAVREL_TEST_PIPEWIRE_QUANTUM is not a number" >&2; exit 2 ;;
    esac
    dir=$(mktemp -d /tmp/kavrel-pipewire.XXXXXX)
    chmod 700 "$dir"
    mkdir -p "$dir/config/pipewire/pipewire.conf.d" "$dir/pulse" "$dir/state" "$dir/data"
    export XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state"
    export XDG_DATA_HOME="$dir/data" PIPEWIRE_RUNTIME_DIR="$dir" PULSE_RUNTIME_PATH="$dir/pulse"
    unset PULSE_SERVER PIPEWIRE_REMOTE
    cat >"$dir/config/pipewire/pipewire.conf.d/kavrel-test.conf" <<CONF
context.properties = {
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
    default.clock.quantum = $quantum
    default.clock.min-quantum = $quantum
    default.clock.max-quantum = $quantum
}
CONF
    fail() {
        echo "pipewire-test-server: $*" >&2
        tail -n 20 "$dir"/*.log >&2 || true
        "$0" stop "$dir" || true
        exit 1
    }
    # Any other step that fails stops what was started too: nothing is left running.
    trap 'fail "a step failed at line $LINENO"' ERR
    # Each program is started alone, its output in a log, its PID kept for stop.
    launch() {
        local name=$1
        shift
        "$@" </dev/null >"$dir/$name.log" 2>&1 &
        echo $! >"$dir/$name.pid"
    }
    dbus-daemon --session --address="unix:path=$dir/bus" --nofork --nopidfile \
        </dev/null >"$dir/dbus.log" 2>&1 &
    echo $! >"$dir/dbus.pid"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
    for _ in $(seq 1 100); do [ -S "$dir/bus" ] && break; sleep 0.05; done
    [ -S "$dir/bus" ] || fail "the session bus did not start"
    launch pipewire pipewire
    for _ in $(seq 1 100); do [ -S "$dir/pipewire-0" ] && break; sleep 0.05; done
    [ -S "$dir/pipewire-0" ] || fail "pipewire did not start"
    launch wireplumber wireplumber
    launch pipewire-pulse pipewire-pulse
    export PULSE_SERVER="unix:$dir/pulse/native"
    for _ in $(seq 1 100); do
        if pactl info >/dev/null 2>&1; then break; fi
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 || fail "pipewire-pulse did not answer"
    # pipewire-pulse writes its PID where PulseAudio's would be, as it starts; should it not
    # have, ours goes there, replacing nothing it may be writing.
    if [ ! -s "$dir/pulse/pid" ]; then
        cp "$dir/pipewire-pulse.pid" "$dir/pulse/pid.new"
        mv -f "$dir/pulse/pid.new" "$dir/pulse/pid"
    fi
    pactl load-module module-null-sink sink_name=kavreltest rate=44100 channels=2 \
        >"$dir/module.id" || fail "no null sink"
    for _ in $(seq 1 100); do
        if pactl list short sinks 2>/dev/null | grep -q kavreltest; then break; fi
        sleep 0.1
    done
    # Listed is not yet ready to be the default on a busy machine ("Not supported"): try again.
    for _ in $(seq 1 50); do
        if pactl set-default-sink kavreltest 2>/dev/null; then break; fi
        sleep 0.1
    done
    pactl set-default-sink kavreltest || fail "the null sink did not appear"
    echo "export XDG_RUNTIME_DIR='$dir'; export PULSE_SERVER='unix:$dir/pulse/native'; export KAVREL_PULSE_DIR='$dir'; export KAVREL_TEST_MONITOR_LAG_MS=$(((quantum * 1000 + 44099) / 44100));"
    ;;
stop)
    dir=${2:-${KAVREL_PULSE_DIR:-}}
    [ -n "$dir" ] || { echo "pipewire-test-server: no server folder given" >&2; exit 2; }
    for name in pipewire-pulse wireplumber pipewire dbus; do
        [ -f "$dir/$name.pid" ] || continue
        pid=$(cat "$dir/$name.pid")
        kill -CONT "$pid" 2>/dev/null || true
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start|stop [DIR]" >&2
    exit 2
    ;;
esac
