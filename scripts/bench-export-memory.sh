#!/usr/bin/env bash
# Peak memory of `kavrel export` from a file, which reads the file twice in blocks and never holds
# it: 60 and 180 minutes of 44.1 kHz 16-bit stereo noise, an honest 10-minute FLAC, and two small
# FLAC files whose headers claim far more frames than they hold (16 KB claiming 2^34 frames; 64 KB
# of 8 channels claiming 10 x 2^30). Prints the peak resident size of each (/usr/bin/time -v) and
# fails when one is above the limit. Needs sox and about 2.6 GB in the temporary folder.
#
# Usage: scripts/bench-export-memory.sh [path/to/kavrel] [limit in MiB, default 64]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kavrel=${1:-$root/build/app/kavrel}
limit=${2:-64}
[ -x "$kavrel" ] || { echo "bench-export-memory: no program at $kavrel (build it first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "bench-export-memory: needs /usr/bin/time (GNU time)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sox -n -r 44100 -c 2 -b 16 "$work/m60.wav" synth 3600 whitenoise vol 0.5
sox "$work/m60.wav" "$work/m60.wav" "$work/m60.wav" "$work/m180.wav"
sox -n -r 44100 -c 2 -b 16 "$work/m10.wav" synth 600 pinknoise vol 0.5
sox "$work/m10.wav" "$work/m10.flac"
rm "$work/m10.wav"
"$root/fuzz/make-seeds.sh" --large "$work" >/dev/null

failed=0
printf '%-36s %10s %8s\n' "input" "peak MiB" "seconds"
for input in m60.wav m180.wav m10.flac "claims-2^34-16k.flac" "claims-10x2^30-8ch-64k.flac"; do
    /usr/bin/time -v -o "$work/time" "$kavrel" export "$work/$input" "$work/out.wav" 2>/dev/null
    kb=$(awk -F': ' '/Maximum resident/ { print $2 }' "$work/time")
    wall=$(awk -F': ' '/Elapsed/ { print $2 }' "$work/time")
    printf '%-36s %10.1f %8s\n' "$input" "$(echo "$kb / 1024" | bc -l)" "$wall"
    if [ "$kb" -gt $((limit * 1024)) ]; then failed=1; fi
    rm -f "$work/out.wav"
done
if [ $failed -ne 0 ]; then
    echo "bench-export-memory: above $limit MiB" >&2
    exit 1
fi
echo "bench-export-memory: all at most $limit MiB"
