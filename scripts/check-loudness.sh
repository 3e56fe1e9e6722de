#!/usr/bin/env bash
# Compares `kavrel analyze`'s loudness with ffmpeg's ebur128 filter on five sounds of different
# formats made with sox (integrated within 0.1 LU, true peak within 0.2 dB). Needs sox, lame and
# ffmpeg; a check by hand, not part of the tests.
#   scripts/check-loudness.sh [path/to/kavrel]
set -euo pipefail
kavrel=${1:-build/app/kavrel}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sox -n -r 44100 -c 2 -b 16 "$dir/a.wav" synth 20 pinknoise vol 0.3
sox -n -r 48000 -c 1 -b 16 "$dir/b.flac" synth 15 sine 997 vol 0.5 : synth 10 whitenoise vol 0.05
sox -n -r 44100 -c 2 "$dir/c.ogg" synth 30 pinknoise vol 0.5 fade 0 30 5
sox -n -r 44100 -c 2 -b 16 "$dir/d.aiff" synth 12 sine 440 sine 3000 vol 0.7
sox -n -r 44100 -c 2 -b 16 "$dir/e.wav" synth 25 pinknoise vol 0.8
lame -S --preset standard "$dir/e.wav" "$dir/e.mp3" 2>/dev/null
status=0
for f in a.wav b.flac c.ogg d.aiff e.mp3; do
    ours=$("$kavrel" analyze "$dir/$f" | sed -n 's/^Loudness: \(\S*\) LUFS : Range: \(\S*\) LU : True peak: \(\S*\) dBTP.*/\1 \2 \3/p')
    theirs=$(ffmpeg -nostats -hide_banner -i "$dir/$f" -af ebur128=peak=true -f null - 2>&1 |
        awk '/^ +I:/ {i=$2} /^ +LRA:/ {r=$2} /^ +Peak:/ {p=$2} END {print i, r, p}')
    read -r oi or op <<<"$ours"
    read -r ti tr tp <<<"$theirs"
    verdict=$(awk -v a="$oi" -v b="$ti" -v c="$op" -v d="$tp" 'BEGIN {
        di = a - b; dp = c - d; if (di < 0) di = -di; if (dp < 0) dp = -dp;
        print (di <= 0.1 && dp <= 0.2) ? "ok" : "FAIL" }')
    printf '%-7s kavrel I=%s LRA=%s TP=%s   ffmpeg I=%s LRA=%s TP=%s   %s\n' \
        "$f" "$oi" "$or" "$op" "$ti" "$tr" "$tp" "$verdict"
    [ "$verdict" = ok ] || status=1
done
exit $status
