#!/usr/bin/env bash
# Runs the sound tests N times on each test sound server (PulseAudio, PipeWire, and PipeWire at a
# graph quantum of 8192 frames) and `kavrel play` of a 1-second file N times on each, then the
# freeze series (the frozen-server tests alone, N times, on PipeWire: pipewire-pulse, then
# pipewire, stopped for 1 s and for 2 s mid-play), and prints the failures and crashes per test.
# Not part of CI: it takes a minute or two per run and server. Needs a build in build/ (or BUILD).
#   scripts/soak-sound.sh 20
#   KAVREL_SOAK_SERIES="pipewire-8192 freeze" scripts/soak-sound.sh 20   # some of the series
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-10}
build=${BUILD:-build}
[ -x "$build/tests/audio/test_audio_sound" ] && [ -x "$build/app/kavrel" ] ||
    { echo "soak-sound: build first (missing $build/tests/audio/test_audio_sound or $build/app/kavrel)" >&2; exit 2; }

work=$(mktemp -d /tmp/kavrel-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/one-second.wav" synth 1 sine 440 gain -6 2>/dev/null ||
    { echo "soak-sound: sox could not make the test file" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen KAVREL_TEST_PULSE=1
export XDG_CONFIG_HOME="$work/config"

total_bad=0
for series in ${KAVREL_SOAK_SERIES:-pulse pipewire pipewire-8192 freeze}; do
    # A series runs on a server, at a quantum, the sound tests or only the frozen-server ones.
    server=${series%%-*}
    quantum=
    tests=(-L sound)
    play=yes
    case $series in
    pipewire-*) quantum=${series#pipewire-} ;;
    freeze) server=pipewire tests=(-L sound -R FrozenWhilePlaying) play= ;;
    esac
    export KAVREL_TEST_PIPEWIRE_QUANTUM=$quantum
    [ -n "$quantum" ] || unset KAVREL_TEST_PIPEWIRE_QUANTUM
    script="$root/scripts/$server-test-server.sh"
    results="$work/$series.results"
    : >"$results"
    env_line=$("$script" start) || { echo "soak-sound: the $series server did not start" >&2; exit 1; }
    (
        eval "$env_line"
        export KAVREL_TEST_SERVER_SCRIPT="$script"
        for i in $(seq 1 "$runs"); do
            log="$work/$series-$i.log"
            ctest --test-dir "$build" "${tests[@]}" --timeout 300 --output-on-failure >"$log" 2>&1
            # One line per test: its outcome, from ctest's summary lines.
            sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) \.*\**\(.*\)$/\1 \2/p' "$log" |
                awk '{ print $1, $2 }' >>"$results"
            [ -n "$play" ] || { printf '%s run %d/%d done\n' "$series" "$i" "$runs" >&2; continue; }
            out=$(timeout 60 "$build/app/kavrel" play "$work/one-second.wav" 2>&1)
            code=$?
            case $code in
            0) echo "kavrel-play Passed" >>"$results" ;;
            1) echo "kavrel-play Failed" >>"$results"; echo "kavrel play: $out" >>"$log" ;;
            *) echo "kavrel-play Crash(exit=$code)" >>"$results"; echo "kavrel play: $out" >>"$log" ;;
            esac
            printf '%s run %d/%d done\n' "$series" "$i" "$runs" >&2
        done
    )
    eval "$env_line"
    "$script" stop "$KAVREL_PULSE_DIR" || true
    unset XDG_RUNTIME_DIR PULSE_SERVER KAVREL_PULSE_DIR KAVREL_TEST_MONITOR_LAG_MS

    echo "== $series: $runs runs"
    # ctest reports a crash as an exception (SEGFAULT, Child aborted ...), a failure as Failed.
    awk '{
        n[$1]++
        if ($2 == "Passed" || $2 == "Skipped" || $2 == "Not") ok[$1]++
        else if ($2 == "Failed") fail[$1]++
        else crash[$1]++
    } END {
        for (t in n) printf "%-90s runs %3d  failures %3d  crashes %3d\n", t, n[t], fail[t] + 0, crash[t] + 0
    }' "$results" | sort
    bad=$(awk '$2 != "Passed" && $2 != "Skipped" && $2 != "Not"' "$results" | wc -l)
    echo "$series: $bad failures and crashes in all"
    total_bad=$((total_bad + bad))
    if [ "$bad" -gt 0 ]; then
        grep -l -E "Failed|\*\*\*|kavrel play:" "$work/$series"-*.log | while read -r f; do
            echo "--- $f"
            grep -E -B2 -A12 "Failure|\*\*\*Exception|kavrel play:" "$f" | head -60
        done
    fi
done
[ "$total_bad" -eq 0 ]
