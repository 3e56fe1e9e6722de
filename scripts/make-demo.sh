#!/usr/bin/env bash
# Makes the demo sound: eight seconds of stereo, music-like tones over a little noise, different
# on the two channels, so both plots and the filter have something to show. Usage: make-demo.sh OUT
set -euo pipefail
out=${1:?usage: make-demo.sh OUT.wav}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Left: an A-minor arpeggio with a decaying envelope per note; right: a bass line and a fifth.
notes_l=(220 261.63 329.63 440 329.63 261.63 220 164.81)
notes_r=(110 110 130.81 146.83 110 98 110 82.41)
parts=()
for i in "${!notes_l[@]}"; do
    sox -n -r 44100 -b 16 -c 2 "$tmp/n$i.wav" synth 1 pluck "${notes_l[$i]}" sine "${notes_r[$i]}" \
        fade q 0.01 1 0.3 gain -6
    parts+=("$tmp/n$i.wav")
done
sox "${parts[@]}" "$tmp/tones.wav"
sox -n -r 44100 -b 16 -c 2 "$tmp/noise.wav" synth 8 pinknoise gain -30
sox -m "$tmp/tones.wav" "$tmp/noise.wav" -b 16 "$out" gain -n -3
