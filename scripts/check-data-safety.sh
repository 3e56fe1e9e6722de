#!/usr/bin/env bash
# Checks that an export never leaves a damaged target or a stray file behind. Kills `kavrel
# export` of a long generated file at several points of its work with SIGINT, SIGTERM and SIGKILL
# (also with the named temporary file the program falls back to on file systems without unnamed
# files), then exports onto a full small file system (a tmpfs mounted for the purpose; needs root,
# skipped with a message otherwise). After each, and after the next write into the folder (which
# removes what a killed writer left), the target must be the old file or the complete new one,
# and the folder must hold nothing else. A kill at the worst moment, between linking the complete
# file under its temporary name and renaming it over the target, comes from strace's fault
# injection (skipped with a message without strace). A writer that is stopped, not dead, keeps
# its temporary file through another's write.
# Then the settings: with no usable HOME or XDG_CONFIG_HOME, links another user planted in the
# shared temporary folder under the settings' names must not be followed (needs root to plant
# them as another user, skipped with a message otherwise), nor a planted link as export target.
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

# Writes once more into folder $1, as the next save there would, which removes what a killed
# writer left; the file it writes goes again.
next_write() {
    "$kavrel" convert "$src/old.wav" "$1/next.wav" 2>/dev/null
    rm -f "$1/next.wav"
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
    next_write "$folder"
    check_folder "$folder" "SIG$signal after ${delay_ms} ms$([ "$named" = 1 ] && echo ' (named temporary)')"
}

for fraction in 5 30 60 90; do
    delay=$((took_ms * fraction / 100))
    for signal in INT TERM KILL; do
        kill_at "$signal" "$delay" 0
    done
    # The named temporary outlives SIGKILL until the next write into the folder.
    for signal in INT TERM HUP KILL; do
        kill_at "$signal" "$delay" 1
    done
done

# A writer stopped half-way is alive: another write into its folder leaves its temporary file,
# and it finishes as if nothing had happened. It is stopped once its temporary file is seen (a
# try where the export was quicker than that is made again).
folder="$work/out"
stopped=""
for _ in $(seq 20); do
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$src/old.wav" "$folder/target.wav"
    KAVREL_SAFE_WRITE_NAMED=1 "$kavrel" export "$src/long.wav" "$folder/target.wav" 2>/dev/null &
    pid=$!
    while kill -0 "$pid" 2>/dev/null && [ -z "$(find "$folder" -name '.target.wav.kavrel-*')" ]; do
        sleep 0.002
    done
    kill -STOP "$pid" 2>/dev/null || true
    if [ -n "$(find "$folder" -name '.target.wav.kavrel-*')" ]; then
        stopped=$pid
        break
    fi
    kill -CONT "$pid" 2>/dev/null || true
    wait "$pid" || true
done
checks=$((checks + 1))
if [ -z "$stopped" ]; then
    fail "no export could be stopped while it wrote its temporary file"
else
    "$kavrel" convert "$src/old.wav" "$folder/next.wav" 2>/dev/null
    rm -f "$folder/next.wav"
    if [ -z "$(find "$folder" -name '.target.wav.kavrel-*')" ]; then
        fail "a stopped writer's temporary file was removed by another write"
    fi
    kill -CONT "$stopped"
    wait "$stopped" || fail "the stopped export failed after it went on"
    if [ "$(sha256sum <"$folder/target.wav" | cut -d' ' -f1)" != "$new_sum" ]; then
        fail "the stopped export did not finish its file"
    fi
    check_folder "$folder" "a writer stopped while another wrote"
fi

# SIGKILL at the worst moments, by strace's fault injection: between linking the complete file
# under its temporary name and renaming it over the target, and (named temporary) before the
# flush. The hidden copy must be there after the kill and gone after the next write.
if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
    for named in 0 1; do
        folder="$work/out"
        rm -rf "$folder"
        mkdir -p "$folder"
        cp "$src/old.wav" "$folder/target.wav"
        calls=rename,renameat,renameat2
        [ "$named" = 1 ] && calls=fsync
        (KAVREL_SAFE_WRITE_NAMED=$named strace -f -qq -o /dev/null -e "inject=$calls:signal=KILL" \
            "$kavrel" convert "$src/old.wav" "$folder/target.wav" || true) 2>/dev/null
        what="SIGKILL at $calls"
        [ "$named" = 1 ] && what="$what (named temporary)"
        checks=$((checks + 1))
        if [ -z "$(find "$folder" -name '.target.wav.kavrel-*')" ]; then
            fail "$what: no temporary file was left to clean up (did the injection hit?)"
        fi
        next_write "$folder"
        check_folder "$folder" "$what, then the next write"
    done
else
    echo "check-data-safety: kill between link and rename skipped: strace is missing or cannot trace here"
fi

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

# No usable HOME or XDG_CONFIG_HOME: links another user planted in the shared temporary folder
# under the names the settings once had there must not be followed, by the window or an export.
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
    shared="$work/shared"
    mkdir -p "$shared" "$work/victim"
    chmod 1777 "$shared"
    printf 'notes\n' >"$work/victim/notes.txt"
    notes_sum=$(sha256sum <"$work/victim/notes.txt" | cut -d' ' -f1)
    for name in Kavrel.ini Kavrel.zelfile Kavrelsettings.zelfile out.wav; do
        ln -s "$work/victim/notes.txt" "$shared/$name"
        chown -h nobody "$shared/$name"
    done
    checks=$((checks + 1))
    # Qt's own runtime folder would otherwise go into the temporary folder too.
    mkdir -m 700 "$work/runtime"
    env -u HOME -u XDG_CONFIG_HOME TMPDIR="$shared" XDG_RUNTIME_DIR="$work/runtime" \
        QT_QPA_PLATFORM=offscreen "$kavrel" 2>"$work/window.err" &
    pid=$!
    for _ in $(seq 200); do
        grep -q "settings are not saved" "$work/window.err" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if grep -q "settings are not saved" "$work/window.err"; then
        kill -TERM "$pid"
        wait "$pid" || fail "the window without a private folder did not end cleanly on SIGTERM"
    else
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        fail "the window without a private folder did not say that it saves nothing: $(cat "$work/window.err")"
    fi
    checks=$((checks + 1))
    if "$kavrel" convert "$src/old.wav" "$shared/out.wav" 2>/dev/null; then
        fail "an export followed another user's link in a shared folder"
    fi
    checks=$((checks + 1))
    if [ "$(sha256sum <"$work/victim/notes.txt" | cut -d' ' -f1)" != "$notes_sum" ]; then
        fail "another user's planted link was followed: the file it points to changed"
    fi
    if [ "$(ls -A "$shared" | wc -l)" -ne 4 ]; then
        fail "something was written into the shared folder: $(ls -A "$shared" | tr '\n' ' ')"
    fi
else
    echo "check-data-safety: planted links skipped: planting a link as another user needs root"
fi

if [ "$failures" -ne 0 ]; then
    echo "check-data-safety: $failures of $checks checks failed" >&2
    exit 1
fi
echo "check-data-safety: all $checks checks passed"
