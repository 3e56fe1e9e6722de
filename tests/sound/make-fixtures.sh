#!/usr/bin/env bash
# Makes the wave files in fixtures/: good files of every encoding with known content (a 16-bit
# source written by python3, converted by sox), files that probe the conversion's rounding and
# saturation, and a family of broken files. The tests compare against the same content formula, so
# rerun this only when that formula changes. Usage: tests/sound/make-fixtures.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out="$here/fixtures"
mkdir -p "$out"
rm -f "$out"/*.wav

python3 - "$out" <<'PY'
import struct, sys, os
out = sys.argv[1]
FRAMES = 300

def content(channel, i):
    """The known 16-bit content: extremes first, then two integer-only patterns."""
    head = [-32768, 32767, 0, -1, 1, 256, -256]
    if i < len(head):
        return head[(i + channel) % len(head)]
    if channel % 2 == 0:
        return (i * 40503 + channel * 7919) % 65536 - 32768
    return (i * i * 37 + 11 * i + channel) % 65536 - 32768

def chunk(tag, body):
    pad = b"\0" if len(body) % 2 else b""
    return tag + struct.pack("<I", len(body)) + body + pad

def fmt(tag, channels, rate, bits, block=None, extra=b""):
    block = channels * ((bits + 7) // 8) if block is None else block
    body = struct.pack("<HHIIHH", tag, channels, rate, rate * block % 2**32, block % 2**16, bits)
    return chunk(b"fmt ", body + extra)

def riff(*chunks, size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body

def pcm16(channels, frames, value=content):
    return b"".join(struct.pack("<h", value(c, i)) for i in range(frames) for c in range(channels))

def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

# The 16-bit sources that sox converts to the other encodings; the 8-bit one has its low byte 0
# so that the conversion to 8 bits is exact.
write("source-pcm16-stereo.wav", riff(fmt(1, 2, 44100, 16), chunk(b"data", pcm16(2, FRAMES))))
write("source-pcm16-mono.wav", riff(fmt(1, 1, 8000, 16), chunk(b"data", pcm16(1, FRAMES))))
write("source-pcm16-4ch.wav", riff(fmt(1, 4, 48000, 16), chunk(b"data", pcm16(4, FRAMES))))
write("source-hi8-stereo.wav", riff(fmt(1, 2, 22050, 16),
      chunk(b"data", pcm16(2, FRAMES, lambda c, i: content(c, i) // 256 * 256))))

# Plain (not extensible) 24-bit and 32-bit PCM of the known content.
def wide(bytes_per, channels, frames):
    data = b""
    for i in range(frames):
        for c in range(channels):
            v = content(c, i) << (8 * (bytes_per - 2))
            data += v.to_bytes(bytes_per, "little", signed=True)
    return data
write("pcm24-stereo-plain.wav", riff(fmt(1, 2, 44100, 24), chunk(b"data", wide(3, 2, FRAMES))))
write("pcm32-stereo-plain.wav", riff(fmt(1, 2, 44100, 32), chunk(b"data", wide(4, 2, FRAMES))))

# Rounding and saturation: each 24-bit, 32-bit and float value with the 16-bit value expected
# (nearest, halves to even, saturating; NaN gives 0). The tests hold the same table.
r24 = [0x000080, 0x000180, 0x00017F, 0x000181, -0x000080, -0x000180, 0x7FFFFF, 0x7FFF80,
       0x7FFF7F, -0x800000]
write("round-pcm24-mono.wav", riff(fmt(1, 1, 8000, 24), chunk(b"data",
      b"".join(v.to_bytes(3, "little", signed=True) for v in r24))))
r32 = [0x00008000, 0x00018000, 0x00017FFF, 0x7FFFFFFF, 0x7FFF8000, -0x80000000, -0x00008000]
write("round-pcm32-mono.wav", riff(fmt(1, 1, 8000, 32), chunk(b"data",
      b"".join(v.to_bytes(4, "little", signed=True) for v in r32))))
rf = [0.5 / 32768, 1.5 / 32768, -0.5 / 32768, 1.0, 2.0, -1.0, -3.0, float("inf"),
      float("-inf"), float("nan"), 0.25, 32766.5 / 32768]
write("round-float32-mono.wav", riff(fmt(3, 1, 8000, 32), chunk(b"data",
      b"".join(struct.pack("<f", v) for v in rf))))
write("round-float64-mono.wav", riff(fmt(3, 1, 8000, 64), chunk(b"data",
      b"".join(struct.pack("<d", v) for v in rf))))

# Files that are odd but readable: the known 16-bit stereo content in each.
data = chunk(b"data", pcm16(2, FRAMES))
good_fmt = fmt(1, 2, 44100, 16)
write("list-before-data.wav", riff(good_fmt, chunk(b"LIST", b"INFOISFT\x06\0\0\0kavrel"), data))
write("list-after-data.wav", riff(good_fmt, data, chunk(b"LIST", b"INFOICMT\x05\0\0\0odd!\0\0")))
write("odd-chunk-before-data.wav", riff(good_fmt, chunk(b"odd ", b"abc"), data))
# The same without the pad byte, as some writers leave it out.
write("odd-chunk-without-pad.wav", riff(good_fmt, b"odd " + struct.pack("<I", 3) + b"abc", data))
write("junk-before-fmt.wav", riff(chunk(b"JUNK", b"\0" * 28), good_fmt, data))
write("long-fmt-chunk.wav", riff(fmt(1, 2, 44100, 16, extra=b"\x02\0xy\0"), data))
write("block-align-zero.wav", riff(fmt(1, 2, 44100, 16, block=0), data))
write("riff-size-zero.wav", riff(good_fmt, data, size=0))
ext_tail = bytes([0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
def extensible(sub, channels, bits, valid=None, tail=ext_tail):
    valid = bits if valid is None else valid
    extra = struct.pack("<HHI", 22, valid, 3) + struct.pack("<H", sub) + tail
    return fmt(0xFFFE, channels, 44100, bits, extra=extra)
write("extensible-pcm16-stereo.wav", riff(extensible(1, 2, 16), data))
# An odd-sized data chunk: the last, partial frame is dropped and the pad byte follows.
write("odd-data-size.wav", riff(good_fmt, chunk(b"data", pcm16(2, FRAMES) + b"\x01"),
      chunk(b"LIST", b"INFO")))

# Truncated: the data chunk states more than the file holds (299 whole frames and a part).
full = pcm16(2, FRAMES)
write("truncated-data.wav", riff(good_fmt, b"data" + struct.pack("<I", len(full))) + full[:-3])
write("huge-data-size.wav", riff(good_fmt, b"data" + struct.pack("<I", 0xFFFFFFF0)) + full[:40])
write("header-only.wav", riff(good_fmt, b"data" + struct.pack("<I", 4000)))
write("header-only-mono.wav", riff(fmt(1, 1, 8000, 16), b"data" + struct.pack("<I", 4000)))

# Broken: each must be refused with a message naming the file.
write("empty.wav", b"")
write("one-byte.wav", b"R")
write("riff-only.wav", b"RIFF\x04\0\0\0")
write("not-riff.wav", b"This is not a wave file at all, only text.\n")
write("rifx.wav", b"RIFX" + riff(good_fmt, data)[4:])
write("not-wave.wav", b"RIFF\x04\0\0\0AVI LIST\0\0\0\0")
write("no-fmt.wav", riff(data))
write("fmtx-tag.wav", riff(chunk(b"fmtx", good_fmt[8:]), data))
write("no-data.wav", riff(good_fmt, chunk(b"LIST", b"INFO")))
write("fmt-too-short.wav", riff(chunk(b"fmt ", struct.pack("<HHI", 1, 2, 44100)), data))
write("fmt-cut-off.wav", riff(b"fmt " + struct.pack("<I", 16) + b"\x01\0\x02\0"))
write("channels-zero.wav", riff(fmt(1, 0, 44100, 16, block=4), data))
write("channels-65535.wav", riff(fmt(1, 65535, 44100, 16), chunk(b"data", b"\0" * 64)))
write("bits-zero.wav", riff(fmt(1, 2, 44100, 0, block=4), data))
write("bits-48.wav", riff(fmt(1, 2, 44100, 48), data))
write("float-16bit.wav", riff(fmt(3, 2, 44100, 16), data))
write("huge-chunk-before-data.wav", riff(good_fmt, b"JUNK" + struct.pack("<I", 0xFFFFFFFE), data))
write("huge-fmt-size.wav", riff(b"fmt " + struct.pack("<I", 0xFFFFFFFF) + good_fmt[8:], data))
write("rate-too-high.wav", riff(fmt(1, 2, 0x80000000, 16), data))
write("rate-zero.wav", riff(fmt(1, 2, 0, 16), data))
write("rf64.wav", b"RF64" + riff(good_fmt, data)[4:])
write("bw64.wav", b"BW64" + riff(good_fmt, data)[4:])
write("format-tag-zero.wav", riff(fmt(0, 2, 44100, 16), data))
write("extensible-short.wav", riff(fmt(0xFFFE, 2, 44100, 16, extra=struct.pack("<H", 0)), data))
write("extensible-unknown-guid.wav", riff(extensible(1, 2, 16, tail=b"\x11" * 14), data))
write("extensible-alaw.wav", riff(extensible(6, 2, 8), data))
PY

# The encodings as sox writes them (sox uses WAVE_FORMAT_EXTENSIBLE above 16 bits or 2 channels).
sox "$out/source-hi8-stereo.wav" -D -e unsigned -b 8 "$out/pcm8-stereo.wav"
sox "$out/source-pcm16-stereo.wav" -D -b 16 "$out/pcm16-stereo.wav"
sox "$out/source-pcm16-mono.wav" -D -e signed -b 24 "$out/pcm24-mono.wav"
sox "$out/source-pcm16-stereo.wav" -D -e signed -b 24 "$out/pcm24-stereo.wav"
sox "$out/source-pcm16-stereo.wav" -D -e signed -b 32 "$out/pcm32-stereo.wav"
sox "$out/source-pcm16-stereo.wav" -D -e float -b 32 "$out/float32-stereo.wav"
sox "$out/source-pcm16-mono.wav" -D -e float -b 64 "$out/float64-mono.wav"
sox "$out/source-pcm16-4ch.wav" -D -b 16 "$out/pcm16-4ch.wav"
sox "$out/source-pcm16-stereo.wav" -D -e u-law "$out/mulaw-stereo.wav"
sox "$out/source-pcm16-stereo.wav" -D -e ms-adpcm "$out/adpcm-stereo.wav"
rm -f "$out/source-hi8-stereo.wav" "$out/source-pcm16-mono.wav" "$out/source-pcm16-4ch.wav"
rm -f "$out/source-pcm16-stereo.wav"
ls -l "$out" | awk 'NR > 1 { total += $5 } END { print NR - 1 " fixtures, " total " bytes" }'
