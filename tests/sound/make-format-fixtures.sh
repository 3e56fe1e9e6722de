#!/usr/bin/env bash
# Makes the files of other formats in fixtures/formats/: the known 16-bit stereo content of the
# wave fixtures (300 frames at 44100 Hz, written by python3) in every lossless container sox
# writes, and RF64/BW64 built by hand (sox writes neither); a 24-bit stereo file whose low bytes
# exercise the rounding, as a wave file and as FLAC; a half-second stereo tone as the source of
# the lossy files (Ogg Vorbis by sox, Opus by opusenc, MP3 by lame); and broken files beside them.
# Needs sox, opusenc and lame (scripts/install-deps.sh). Usage: tests/sound/make-format-fixtures.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/fixtures/formats"
mkdir -p "$out"
rm -f "$out"/*
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 - "$out" "$tmp" <<'PY'
import math, struct, sys, os
out, tmp = sys.argv[1], sys.argv[2]
FRAMES = 300

def content(channel, i):
    """The known 16-bit content, as in make-fixtures.sh."""
    head = [-32768, 32767, 0, -1, 1, 256, -256]
    if i < len(head):
        return head[(i + channel) % len(head)]
    if channel % 2 == 0:
        return (i * 40503 + channel * 7919) % 65536 - 32768
    return (i * i * 37 + 11 * i + channel) % 65536 - 32768

def wave(bits, channels, rate, samples):
    width = bits // 8
    data = b"".join(v.to_bytes(width, "little", signed=True) for v in samples)
    block = channels * width
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * block, block, bits)
    return fmt, data

def riff(fmt, data):
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
        struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body

def rf64(tag, fmt, data):
    """An RF64 (or BW64) file: the sizes live in the ds64 chunk, the 32-bit fields say -1."""
    frames = len(data) // 4
    ds64 = struct.pack("<QQQI", 4 + 8 + 28 + 8 + len(fmt) + 8 + len(data), len(data), frames, 0)
    body = b"WAVE" + b"ds64" + struct.pack("<I", len(ds64)) + ds64 + b"fmt " + \
        struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF) + data
    return tag + struct.pack("<I", 0xFFFFFFFF) + body

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)

stereo = [content(c, i) for i in range(FRAMES) for c in range(2)]
fmt16, data16 = wave(16, 2, 44100, stereo)
write(os.path.join(tmp, "source-pcm16-stereo.wav"), riff(fmt16, data16))
write(os.path.join(out, "pcm16-stereo.rf64"), rf64(b"RF64", fmt16, data16))
write(os.path.join(out, "pcm16-stereo-bw64.wav"), rf64(b"BW64", fmt16, data16))

# 24-bit: the content in the top bytes and low bytes that round up, down and to even (0x80).
low = [0x00, 0x80, 0x7F, 0x81, 0xFF, 0x01, 0x80, 0x40]
wide = []
for i in range(FRAMES):
    for c in range(2):
        v = content(c, i) * 256 + low[(i * 3 + c) % len(low)]
        wide.append(max(-0x800000, min(0x7FFFFF, v)))
fmt24, data24 = wave(24, 2, 44100, wide)
write(os.path.join(out, "pcm24-stereo.wav"), riff(fmt24, data24))

# The lossy source: 440 Hz left, 660 Hz right, half of full scale, 0.5 s at 48000 Hz.
tone = []
for i in range(24000):
    for f in (440.0, 660.0):
        tone.append(int(round(16384 * math.sin(2 * math.pi * f * i / 48000))))
fmtTone, dataTone = wave(16, 2, 48000, tone)
write(os.path.join(out, "tone-stereo.wav"), riff(fmtTone, dataTone))

# Broken: text named as FLAC, and a file that claims to be FLAC but holds nothing after its tag.
write(os.path.join(out, "not-sound.flac"), b"This is text, not a FLAC stream.\n")
write(os.path.join(out, "tag-only.flac"), b"fLaC")
PY

src="$tmp/source-pcm16-stereo.wav"
sox "$src" -D "$out/pcm16-stereo.flac"
sox "$src" -D "$out/pcm16-stereo.aiff"
sox "$src" -D -t aifc "$out/pcm16-stereo.aifc"
sox "$src" -D "$out/pcm16-stereo.caf"
sox "$src" -D "$out/pcm16-stereo.w64"
sox "$out/pcm24-stereo.wav" -D -b 24 "$out/pcm24-stereo.flac"
sox "$out/tone-stereo.wav" -D -C 5 "$out/tone-stereo.ogg"
opusenc --quiet --bitrate 128 "$out/tone-stereo.wav" "$out/tone-stereo.opus"
lame --quiet -b 192 "$out/tone-stereo.wav" "$out/tone-stereo.mp3"
# A FLAC file of the tone cut off in the middle of its audio frames.
sox "$out/tone-stereo.wav" -D "$tmp/tone-stereo.flac"
size=$(stat -c %s "$tmp/tone-stereo.flac")
head -c $((size * 2 / 3)) "$tmp/tone-stereo.flac" >"$out/tone-cut-off.flac"
# The lossy files cut off too (MP3 also inside its first frame), with Ogg pages small enough that
# whole ones of sound are left: Vorbis from the tone repeated to 2 s, Opus in pages of 100 ms.
sox "$out/tone-stereo.wav" -D -C 5 "$tmp/tone-long.ogg" repeat 3
opusenc --quiet --bitrate 128 --max-delay 100 "$out/tone-stereo.wav" "$tmp/tone-paged.opus"
for f in "$tmp/tone-long.ogg" "$tmp/tone-paged.opus" "$out/tone-stereo.mp3"; do
    size=$(stat -c %s "$f")
    head -c $((size * 4 / 5)) "$f" >"$out/tone-cut-off.${f##*.}"
done
head -c 600 "$out/tone-stereo.mp3" >"$out/tone-first-frame-cut.mp3"
# The Ogg Vorbis tone with the granule position of its last page set to 0.
"$here/ogg-last-granule-zero.py" "$out/tone-stereo.ogg" "$out/tone-granule-zero.ogg"
ls -l "$out" | awk 'NR > 1 { total += $5 } END { print NR - 1 " fixtures, " total " bytes" }'
