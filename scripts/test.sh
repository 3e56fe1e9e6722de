#!/usr/bin/env bash
# Builds Kavrel and runs every test: the whole suite (unit, gui, sound on PulseAudio), the sound
# tests again on PipeWire, the playback-start and frozen-server tests on a PipeWire that runs long
# quanta, then the whole suite again under AddressSanitizer +
# UndefinedBehaviorSanitizer, and each fuzzer for a fixed number of runs.
# Installs what it needs first. Set CI=true to turn warnings into errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
jobs=${KAVREL_JOBS:-$(nproc)}

step() { printf '\n== %s\n' "$*"; }

step "build (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVREL_TESTS=ON -DKAVREL_BENCH=ON -DKAVREL_GUI=ON \
    -DKAVREL_WERROR=$werror >/dev/null
cmake --build build -j "$jobs"

step "data safety: kills and a full disk during an export"
scripts/check-data-safety.sh build/app/kavrel

step "start the test sound server"
eval "$(scripts/pulse-test-server.sh start)"
trap 'scripts/pulse-test-server.sh stop || true' EXIT

export QT_QPA_PLATFORM=offscreen
export KAVREL_TEST_PULSE=1

# Tests of the sound label share the one server, so they never run at the same time.
run_ctest() {
    local dir=$1
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

step "tests (sound on PulseAudio)"
run_ctest build

step "sound tests on PipeWire"
(
    eval "$(scripts/pipewire-test-server.sh start)"
    trap 'scripts/pipewire-test-server.sh stop || true' EXIT
    export KAVREL_TEST_SERVER_SCRIPT="$root/scripts/pipewire-test-server.sh"
    ctest --test-dir build --output-on-failure --timeout 300 -L sound
)

step "playback start and frozen server on PipeWire at a quantum of 8192 frames"
(
    export KAVREL_TEST_PIPEWIRE_QUANTUM=8192
    eval "$(scripts/pipewire-test-server.sh start)"
    trap 'scripts/pipewire-test-server.sh stop || true' EXIT
    export KAVREL_TEST_SERVER_SCRIPT="$root/scripts/pipewire-test-server.sh"
    build/tests/audio/test_audio_sound --gtest_filter='*ShortRingStarts*:*FrozenWhilePlaying*'
)

step "build with AddressSanitizer + UndefinedBehaviorSanitizer (clang, with fuzzers)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DKAVREL_SANITIZE=ON -DKAVREL_FUZZ=ON -DKAVREL_TESTS=ON -DKAVREL_BENCH=OFF -DKAVREL_GUI=ON -DKAVREL_WERROR=$werror >/dev/null
cmake --build build-asan -j "$jobs"

step "tests under the sanitizers"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Leaks are checked where only our code runs; the window system and sound server libraries keep
# caches for the process's lifetime that LeakSanitizer would report.
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 -L unit
ASAN_OPTIONS=detect_leaks=0 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 -LE unit

step "fuzzers (fixed number of runs)"
# Inputs up to 10 KB: a sound of every format fits, an Ogg Vorbis setup header (4 KB and more)
# among them. Runs are set so that each fuzzer takes a minute or less: those that decode, write
# or read files for each input run fewer times.
runs_of() {
    case $1 in
    fuzz_export | fuzz_wavfile | fuzz_flacwriter) echo 2000 ;;
    fuzz_wav | fuzz_ini) echo 5000 ;;
    *) echo 20000 ;;
    esac
}
shopt -s nullglob
fuzzers=(build-asan/fuzz/*/fuzz_*)
for f in "${fuzzers[@]}"; do
    [ -f "$f" ] && [ -x "$f" ] || continue
    name=$(basename "$f")
    seeds="fuzz/${name#fuzz_}/corpus"
    work=$(mktemp -d)
    [ -d "$seeds" ] && cp -r "$seeds/." "$work/"
    runs=$(runs_of "$name")
    echo "$name: $runs runs"
    ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan-suppressions.txt" \
        "$f" -runs="$runs" -max_len=10240 -seed=1 "$work" 2>"$work.log" \
        || { tail -50 "$work.log"; exit 1; }
    rm -rf "$work" "$work.log"
done

echo
echo "all tests passed"
