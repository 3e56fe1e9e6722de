#!/usr/bin/env bash
# What playing costs: the window (`kavrel --play FILE`, offscreen) and `kavrel play FILE`, each
# playing a 60 s tone into a private sound server while its processor time and its wake-ups (the
# context switches of all its threads) are read from /proc over SECONDS (default 20) s, after a
# settling second. Prints ms of CPU per second and wake-ups per second, median of RUNS (default 3).
# paplay, the sound server's own plain client, plays the same tone as a yardstick: what this
# machine charges any program for waking to feed the server (1 ms/s and 20 wake-ups/s where the
# goals were set; a virtual machine whose caches are cold after every sleep charges several times
# that, and the window's figures grow with it).
#   scripts/bench-play-cost.sh [BUILD_DIR] [SECONDS] [RUNS] [pulse|pipewire]
# Goals: at most 10 ms of CPU and 150 wake-ups a second for the window.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
runs=${3:-3}
server=${4:-pulse}
kavrel=$build/app/kavrel
[ -x "$kavrel" ] || { echo "bench-play-cost: $kavrel is not built" >&2; exit 2; }

work=$(mktemp -d /tmp/kavrel-cost.XXXXXX)
pid=
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    "$root/scripts/$server-test-server.sh" stop || true
    rm -rf "$work"
}
eval "$("$root/scripts/$server-test-server.sh" start)"
trap cleanup EXIT
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 60 sine 500 vol 0.25

ticks=$(getconf CLK_TCK)
# Processor time of the process (all threads), in ms: the scheduler's own sum where the kernel
# shows it, exact to the nanosecond; else utime and stime, which the kernel samples at its tick
# and which for a process of many short wake-ups are only right on average.
cpu_of() {
    if [ -r "/proc/$1/sched" ]; then
        cat /proc/"$1"/task/*/sched 2>/dev/null |
            awk '/^se.sum_exec_runtime/ { ms += $3 } END { printf "%.3f\n", ms }'
    else
        awk -v t="$ticks" '{ printf "%.3f\n", ($14 + $15) * 1000 / t }' "/proc/$1/stat"
    fi
}
# Context switches of all its threads: each is a wake-up or a preemption.
switches_of() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}

measure() {
    local name=$1
    shift
    local cpu=() wakeups=()
    for _ in $(seq 1 "$runs"); do
        "$@" >/dev/null 2>&1 &
        pid=$!
        sleep 2
        local c0 s0 c1 s1
        c0=$(cpu_of "$pid")
        s0=$(switches_of "$pid")
        sleep "$seconds"
        c1=$(cpu_of "$pid")
        s1=$(switches_of "$pid")
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        pid=
        cpu+=("$(awk -v a="$c0" -v b="$c1" -v s="$seconds" 'BEGIN { printf "%.1f", (b - a) / s }')")
        wakeups+=("$(awk -v d=$((s1 - s0)) -v s="$seconds" 'BEGIN { printf "%.0f", d / s }')")
    done
    printf '%-22s CPU %6s ms/s   wake-ups %5s /s   (runs: %s ms/s; %s /s; %s)\n' "$name" \
        "$(printf '%s\n' "${cpu[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')" \
        "$(printf '%s\n' "${wakeups[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')" \
        "${cpu[*]}" "${wakeups[*]}" "$(uptime | sed 's/.*load/load/')"
}

echo "== playing a 60 s tone on $server, ${seconds} s measured, median of $runs"
measure "window (--play)" "$kavrel" --play "$work/tone.wav"
measure "kavrel play" "$kavrel" play "$work/tone.wav"
if command -v paplay >/dev/null; then
    measure "paplay (yardstick)" paplay "$work/tone.wav"
fi
