#!/usr/bin/env bash
# Writes the seeds of the sound fuzzers (fuzz_wav, fuzz_wavfile, fuzz_export): a short sound in
# every format the program reads besides the wave files already there (FLAC, Ogg Vorbis, Opus,
# MP3, AIFF, AIFF-C, CAF, W64, RF64), and damaged ones: FLAC headers claiming far more frames
# than the file holds or none at all (as an encoder writing into a pipe leaves them), Ogg and MP3
# files cut off, and an Ogg Vorbis file whose last granule position is 0. Each is a few KB, under
# the fuzzers' input limit. Needs sox, opusenc and lame (scripts/install-deps.sh).
#
# Usage: fuzz/make-seeds.sh            (writes into fuzz/*/corpus)
#        fuzz/make-seeds.sh --large DIR (writes the two lying FLAC files of benchmark size:
#                                        16 KB claiming 2^34 frames, 64 KB of 8 channels
#                                        claiming 10 x 2^30)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# patch-flac IN OUT FRAMES [BYTES]: STREAMINFO's 36-bit frame count set to FRAMES, the file cut
# to BYTES when given.
patch_flac() {
    python3 - "$@" <<'PY'
import sys
src, dst, frames = sys.argv[1], sys.argv[2], int(sys.argv[3])
b = bytearray(open(src, "rb").read())
assert b[:4] == b"fLaC"
# After "fLaC" and the block header: block sizes (4 bytes), frame sizes (6), then 64 bits of
# rate (20), channels (3), bits (5) and the frame count (36).
v = int.from_bytes(b[18:26], "big")
b[18:26] = ((v & ~((1 << 36) - 1)) | frames).to_bytes(8, "big")
if len(sys.argv) > 4:
    b = b[:int(sys.argv[4])]
open(dst, "wb").write(b)
PY
}

if [ "${1:-}" = "--large" ]; then
    out=$2
    mkdir -p "$out"
    sox -n -r 44100 -c 2 -b 16 "$tmp/stereo.wav" synth 2 whitenoise vol 0.5
    sox "$tmp/stereo.wav" "$tmp/stereo.flac"
    patch_flac "$tmp/stereo.flac" "$out/claims-2^34-16k.flac" $((1 << 34)) 16384
    sox -n -r 44100 -c 8 -b 16 "$tmp/eight.wav" synth 2 whitenoise vol 0.5
    sox "$tmp/eight.wav" "$tmp/eight.flac"
    patch_flac "$tmp/eight.flac" "$out/claims-10x2^30-8ch-64k.flac" $((10 << 30)) 65536
    ls -l "$out"
    exit 0
fi

seeds="$tmp/seeds"
mkdir -p "$seeds"
sox -n -r 8000 -c 1 -b 16 "$tmp/mono.wav" synth 0.1 sine 440 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$tmp/stereo.wav" synth 0.05 sine 440 sine 660 vol 0.5
sox -n -r 8000 -c 8 -b 16 "$tmp/eight.wav" synth 0.1 sine 440 vol 0.5
sox -n -r 8000 -c 2 -b 16 "$tmp/long.wav" synth 0.6 sine 440 sine 660 vol 0.5

sox "$tmp/mono.wav" "$seeds/mono.flac"
sox "$tmp/eight.wav" "$seeds/eight-channels.flac"
sox "$tmp/mono.wav" -C -1 "$seeds/vorbis-mono.ogg"
sox "$tmp/stereo.wav" -C -1 "$seeds/vorbis-stereo-44k.ogg"
opusenc --quiet --bitrate 16 --max-delay 20 "$tmp/mono.wav" "$seeds/opus-mono.opus"
lame --quiet -b 32 "$tmp/mono.wav" "$seeds/mpeg-mono.mp3"
sox "$tmp/mono.wav" "$seeds/mono.aiff"
sox "$tmp/mono.wav" -t aifc "$seeds/mono.aifc"
sox "$tmp/mono.wav" "$seeds/mono.caf"
sox "$tmp/mono.wav" "$seeds/mono.w64"
sox "$tmp/mono.wav" -e floating-point "$seeds/float-mono.caf"
python3 - "$tmp/mono.wav" "$seeds/mono.rf64" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
fmt_at = b.find(b"fmt ")
data_at = b.find(b"data")
fmt = b[fmt_at:data_at]
data = b[data_at + 8:]
ds64 = struct.pack("<QQQI", 4 + 36 + len(fmt) + 8 + len(data), len(data), len(data) // 2, 0)
body = b"WAVE" + b"ds64" + struct.pack("<I", len(ds64)) + ds64 + fmt + b"data" + \
    struct.pack("<I", 0xFFFFFFFF) + data
open(sys.argv[2], "wb").write(b"RF64" + struct.pack("<I", 0xFFFFFFFF) + body)
PY

# Damaged: lengths that lie or are missing.
patch_flac "$seeds/mono.flac" "$seeds/flac-claims-2^34.flac" $((1 << 34))
patch_flac "$seeds/eight-channels.flac" "$seeds/flac-8ch-claims-10x2^30.flac" $((10 << 30))
sox "$tmp/mono.wav" -t raw - | sox -t raw -r 8000 -e signed -b 16 -c 1 - -t flac - |
    cat >"$seeds/flac-from-pipe.flac"
# Cut off, with whole Ogg pages of sound left before the cut (a Vorbis page holds about 4 KB).
sox -n -r 44100 -c 1 -b 16 "$tmp/noise.wav" synth 1 whitenoise vol 0.5
sox "$tmp/noise.wav" -C -1 "$tmp/long.ogg"
opusenc --quiet --bitrate 16 --max-delay 20 "$tmp/long.wav" "$tmp/long.opus"
lame --quiet -b 32 "$tmp/long.wav" "$tmp/long.mp3"
for f in "$tmp/long.ogg" "$tmp/long.opus" "$tmp/long.mp3"; do
    size=$(stat -c %s "$f")
    head -c $((size * 19 / 20)) "$f" >"$seeds/cut-off.${f##*.}"
done
head -c 300 "$tmp/long.mp3" >"$seeds/cut-in-first-frame.mp3"
"$here/../tests/sound/ogg-last-granule-zero.py" "$tmp/long.ogg" "$seeds/vorbis-last-granule-zero.ogg"

# The FLAC writer's input: channel count, rate choice and stream block size (two bytes), then
# 16-bit samples; the ini store's: ini files as the window and QSettings write them.
python3 - "$tmp/flacwriter" "$tmp/ini" <<'PY'
import os, random, struct, sys
random.seed(1)
os.makedirs(sys.argv[1]); os.makedirs(sys.argv[2])
def samples(n):
    return b"".join(struct.pack("<h", random.randint(-32768, 32767)) for _ in range(n))
flac = {
    "stereo-44k.bin": bytes([1, 3, 0, 64]) + samples(2 * 300),
    "mono-8k-one-frame-blocks.bin": bytes([0, 1, 0, 0]) + samples(50),
    "eight-channels.bin": bytes([7, 4, 1, 0]) + samples(8 * 40),
    "nine-channels-refused.bin": bytes([8, 3, 0, 10]) + samples(9 * 10),
    "rate-too-high-refused.bin": bytes([1, 8, 0, 10]) + samples(20),
    "no-frames.bin": bytes([1, 3, 0, 1]),
}
ini = {
    "recent-files.ini": b'[General]\nx=1\n\n[RecentFiles]\nnToUse=9\n'
        b'1="/a b/c=d;e.wav"\n2=/plain/take.wav\n3="/q\\"uote\\\\back.wav"\n'
        b'4=@String(/s.wav)\n5="@@at.wav"\n6=/caf\xc3\xa9.wav ; comment\n%U00E9=7\n',
    "window-places.ini": b'[Form18]\ngeometry=@ByteArray(\\x1\\xd9\\xd0\\xcb)\n'
        b'[Output]\nsink="alsa_output.pci-0000_00_1f.3.analog-stereo"\n',
    "sections.ini": b'[a%2Fb]\nk=v\n[a/b/c]\n;note\n#note\nkey = "  spaced  "\n'
        b'[General]\n@Invalid=@Invalid()\nesc="\\x41\\t\\0"\n',
}
for folder, files in ((sys.argv[1], flac), (sys.argv[2], ini)):
    for name, data in files.items():
        open(os.path.join(folder, name), "wb").write(data)
PY
for fuzzer in flacwriter ini; do
    mkdir -p "$here/$fuzzer/corpus"
    cp "$tmp/$fuzzer"/* "$here/$fuzzer/corpus/"
done

for fuzzer in wav wavfile export; do
    mkdir -p "$here/$fuzzer/corpus"
    cp "$seeds"/* "$here/$fuzzer/corpus/"
done
ls -l "$seeds" | awk 'NR > 1 { n++; total += $5; if ($5 > max) max = $5 }
    END { print n " seeds, " total " bytes, the largest " max }'
