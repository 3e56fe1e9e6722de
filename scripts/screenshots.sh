#!/usr/bin/env bash
# Screenshots of the windows on an X server without a screen (Xvfb) under openbox, at several
# screen sizes, scale factors and palettes: `scripts/screenshots.sh OUTDIR [build/app/kavrel]`.
# For each case two pictures: the main window with the demo sound, and Filter controls over it.
# Needs Xvfb, openbox, xwd and ImageMagick's convert, and xdotool to raise Filter controls (not in
# install-deps: tools for looking).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:?usage: screenshots.sh OUTDIR [PROGRAM]}")
program=$(realpath "${2:-$root/build/app/kavrel}")
for tool in Xvfb openbox xwd convert sox; do
    command -v "$tool" >/dev/null || { echo "screenshots: needs $tool" >&2; exit 2; }
done
mkdir -p "$out"
work=$(mktemp -d /tmp/kavrel-shots.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
bash "$root/scripts/make-demo.sh" "$work/demo.wav"

# shot NAME WIDTH HEIGHT SCALE PALETTE CONTROLS(0/1) [SOUND [MAIN_WIDTH]]
shot() {
    local name=$1 width=$2 height=$3 scale=$4 palette=$5 controls=$6 display=:$((RANDOM % 400 + 100))
    local sound=${7:-$work/demo.wav} mainWidth=${8:-}
    Xvfb "$display" -screen 0 "${width}x${height}x24" -nolisten tcp >/dev/null 2>&1 &
    local xvfb=$!
    pids+=("$xvfb")
    sleep 1
    DISPLAY=$display openbox >/dev/null 2>&1 &
    local wm=$!
    pids+=("$wm")
    sleep 0.5
    local config=$work/config-$name
    mkdir -p "$config/MorvaneData/Kavrel/0.0.0.2"
    printf '[Windows]\nFilterControlsVisible=%s\nFilterControlsLeft=%s\nFilterControlsTop=20\n' \
        "$controls" "$((width / 8))" >"$config/MorvaneData/Kavrel/0.0.0.2/Kavrel.ini"
    local args=()
    [ "$palette" = default ] || args=(--palette "$palette")
    DISPLAY=$display QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale XDG_CONFIG_HOME=$config \
        "$program" "${args[@]}" "$sound" >/dev/null 2>&1 &
    local app=$!
    pids+=("$app")
    sleep 3
    if [ -n "$mainWidth" ] && command -v xdotool >/dev/null; then
        DISPLAY=$display xdotool search --sync --name ' - Kavrel$' windowsize "$mainWidth" 420 \
            windowmove 0 0 >/dev/null 2>&1 || true
        sleep 1
    fi
    # Filter controls in front of the main window, where xdotool is there to raise it.
    if [ "$controls" = 1 ] && command -v xdotool >/dev/null; then
        DISPLAY=$display xdotool search --sync --name '^Filter controls$' windowactivate \
            >/dev/null 2>&1 || true
        sleep 0.5
    fi
    xwd -root -display "$display" -silent >"$work/$name.xwd"
    convert "xwd:$work/$name.xwd" "png:$out/$name.png"
    kill "$app" "$wm" "$xvfb" 2>/dev/null || true
    wait "$app" "$wm" "$xvfb" 2>/dev/null || true
    echo "$out/$name.png"
}

for scale in 1 1.5 2; do
    shot "main-1600x1000-scale$scale" 1600 1000 "$scale" default 0
    shot "controls-1600x1000-scale$scale" 1600 1000 "$scale" default 1
done
shot main-1280x720-scale1 1280 720 1 default 0
shot controls-1280x720-scale1 1280 720 1 default 1
shot main-1600x1000-dark 1600 1000 1 dark 0
shot controls-1600x1000-dark 1600 1000 1 dark 1
# The time axis of a 12 s sound in a 1500 pixels wide window: labels must not run together.
sox -n -r 44100 -b 16 -c 2 "$work/twelve.wav" synth 12 sine 220 sine 110 gain -6
shot main-12s-1500px 1600 1000 1 default 0 "$work/twelve.wav" 1500
