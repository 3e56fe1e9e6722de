#!/usr/bin/env bash
# Checks that an export never leaves a damaged target or a stray file behind. Kills `kavrel
# export` of a long generated file at several points of its work with SIGINT, SIGTERM and SIGKILL
# (and, with the named temporary file the program falls back to on file systems without unnamed
# files, with SIGINT, SIGTERM and SIGHUP), then exports onto a full small file system (a tmpfs
# mounted for the purpose; needs root, skipped with a message otherwise). After each, the target
# must be the old file or the complete new one, and the folder must hold nothing else.
#
# Usage: scripts/check-data-safety.sh [path/to/kavrel] [minutes of sound, default 10]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kavrel=${1:-$root/build/app/kavrel}
minutes=${2:-10}
[ -x "$kavrel" ] || { echo "check-data-safety: no program at $kavrel (build it first)" >&2; exit 2; }
command -v sox >/dev/null || { echo "check-data-safety: needs sox (scripts/install-deps.sh)" >&2; exit 2; }

work=$(mktemp -d)
mounted=""
cleanup() {
    if [ -n "$mounted" ]; then umount "$mounted" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
checks=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

src="$work/source"
mkdir -p "$src"
sox -n -r 44100 -c 2 -b 16 "$src/long.wav" synth "$((minutes * 60))" whitenoise vol 0.5
sox -n -r 8000 -c 1 -b 16 "$src/old.wav" synth 1 sine 440
old_sum=$(sha256sum <"$src/old.wav" | cut -d' ' -f1)

# The complete new file, and how long the export takes.
start=$(date +%s%N)
"$kavrel" export "$src/long.wav" "$src/new.wav"
took_ms=$(( ($(date +%s%N) - start) / 1000000 ))
new_sum=$(sha256sum <"$src/new.wav" | cut -d' ' -f1)
echo "check-data-safety: a whole export of $minutes minutes of stereo takes ${took_ms} ms"

# Checks that folder $1 holds only target.wav, which is the old or the complete new file.
check_folder() {
    local folder=$1 what=$2
    checks=$((checks + 1))
    local entries
    entries=$(ls -A "$folder")
    if [ "$entries" != "target.wav" ]; then
        fail "$what: the folder holds: $(echo $entries)"
        return
    fi
    local sum
    sum=$(sha256sum <"$folder/target.wav" | cut -d' ' -f1)
    if [ "$sum" != "$old_sum" ] && [ "$sum" != "$new_sum" ]; then
        fail "$what: the target is neither the old nor the complete new file"
    fi
}

# Exports into a fresh folder holding the old target and kills the export after $2 ms.
kill_at() {
    local signal=$1 delay_ms=$2 named=$3
    local folder="$work/out"
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$src/old.wav" "$folder/target.wav"
    KAVREL_SAFE_WRITE_NAMED=$named "$kavrel" export "$src/long.wav" "$folder/target.wav" \
        2>/dev/null &
    local pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill "-$signal" "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    check_folder "$folder" "SIG$signal after ${delay_ms} ms$([ "$named" = 1 ] && echo ' (named temporary)')"
}

for fraction in 5 30 60 90; do
    delay=$((took_ms * fraction / 100))
    for signal in INT TERM KILL; do
        kill_at "$signal" "$delay" 0
    done
    # The named temporary of the fallback cannot outlive SIGKILL's lack of warning; the other
    # signals remove it.
    for signal in INT TERM HUP; do
        kill_at "$signal" "$delay" 1
    done
done

# A full file system: the export fails with a message and the old file stays.
if [ "$(id -u)" -eq 0 ]; then
    full="$work/full"
    mkdir -p "$full"
    size_kb=$(( $(stat -c %s "$src/new.wav") / 2048 ))
    if mount -t tmpfs -o "size=${size_kb}k" tmpfs "$full" 2>/dev/null; then
        mounted=$full
        for named in 0 1; do
            rm -rf "${full:?}"/*
            cp "$src/old.wav" "$full/target.wav"
            checks=$((checks + 1))
            if KAVREL_SAFE_WRITE_NAMED=$named "$kavrel" export "$src/long.wav" "$full/target.wav" \
                2>"$work/full.err"; then
                fail "export onto a full file system reported success"
            elif ! grep -q "target.wav" "$work/full.err"; then
                fail "the message for a full file system does not name the file: $(cat "$work/full.err")"
            fi
            check_folder "$full" "full file system$([ "$named" = 1 ] && echo ' (named temporary)')"
        done
        umount "$full"
        mounted=""
    else
        echo "check-data-safety: full file system skipped: cannot mount a tmpfs here"
    fi
else
    echo "check-data-safety: full file system skipped: mounting a small file system needs root"
fi

if [ "$failures" -ne 0 ]; then
    echo "check-data-safety: $failures of $checks checks failed" >&2
    exit 1
fi
echo "check-data-safety: all $checks checks passed"
