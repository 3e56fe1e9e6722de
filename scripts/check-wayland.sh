#!/usr/bin/env bash
# Runs the program as a native Wayland client under weston's headless backend:
# `scripts/check-wayland.sh [build/app/kavrel] [SHOT.png]`. It starts the program with a demo
# sound and --play on a private PulseAudio server, checks that the window is a Wayland client of
# weston, that a stream plays into the server, takes a screenshot when SHOT.png is given and
# weston's screenshooter works, then closes the program with SIGTERM (as the desktop's logout
# does) and checks that it exits 0. Needs weston (apt-get install weston), qt6-wayland and sox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
program=$(realpath "${1:-build/app/kavrel}")
shot=${2:-}
for tool in weston pactl sox; do
    command -v "$tool" >/dev/null || { echo "check-wayland: needs $tool" >&2; exit 2; }
done
[ -x "$program" ] || { echo "check-wayland: no program at $program" >&2; exit 2; }

eval "$(scripts/pulse-test-server.sh start)"
work=$(mktemp -d /tmp/kavrel-wayland.XXXXXX)
weston_pid=""
kavrel_pid=""
cleanup() {
    [ -n "$kavrel_pid" ] && kill "$kavrel_pid" 2>/dev/null || true
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null || true
    scripts/pulse-test-server.sh stop || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "check-wayland: FAIL: $*" >&2
    tail -n 20 "$work/weston.log" "$work/kavrel.log" >&2 || true
    exit 1
}

# weston in the pulse server's private runtime folder; --debug allows its screenshooter.
weston --backend=headless-backend.so --use-pixman --width=1280 --height=720 \
    --socket=kavrel-wayland --idle-time=0 --debug --log="$work/weston.log" &
weston_pid=$!
for _ in $(seq 1 100); do
    [ -S "$XDG_RUNTIME_DIR/kavrel-wayland" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/kavrel-wayland" ] || fail "weston did not start"

bash scripts/make-demo.sh "$work/demo.wav"
export HOME="$work" XDG_CONFIG_HOME="$work/config"
(
    unset DISPLAY
    export WAYLAND_DISPLAY=kavrel-wayland QT_QPA_PLATFORM=wayland
    exec "$program" --play "$work/demo.wav"
) >"$work/kavrel.log" 2>&1 &
kavrel_pid=$!

# Playing: a stream of the program's on the test server.
playing=0
for _ in $(seq 1 100); do
    kill -0 "$kavrel_pid" 2>/dev/null || fail "the program exited early"
    if pactl list sink-inputs 2>/dev/null | grep -q 'application.process.id = "'"$kavrel_pid"'"'; then
        playing=1
        break
    fi
    sleep 0.1
done
[ "$playing" = 1 ] || fail "no stream of the program on the sound server"
echo "check-wayland: the program plays into the test server"

# A native client: with DISPLAY unset and the wayland platform asked for, a Qt without its
# Wayland plugin would have exited at once.
if [ -n "$shot" ]; then
    sleep 1
    if (cd "$work" && WAYLAND_DISPLAY=kavrel-wayland timeout 10 weston-screenshooter) \
        >/dev/null 2>&1; then
        taken=$(ls -t "$work"/wayland-screenshot-*.png 2>/dev/null | head -n 1)
        if [ -n "$taken" ]; then
            cp "$taken" "$shot"
            echo "check-wayland: screenshot $shot"
        fi
    else
        echo "check-wayland: weston could not take a screenshot" >&2
    fi
fi

kill -TERM "$kavrel_pid"
code=0
wait "$kavrel_pid" || code=$?
kavrel_pid=""
[ "$code" = 0 ] || fail "the program exited $code after SIGTERM"
echo "check-wayland: PASS (started, opened, played and closed as a Wayland client)"
