#!/usr/bin/env python3
"""Copies an Ogg file with the granule position of its last page set to 0 and the page's
checksum made right again. Usage: ogg-last-granule-zero.py IN OUT"""
import struct
import sys


def crc(data):
    c = 0
    for x in data:
        c ^= x << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7 if c & 0x80000000 else c << 1) & 0xFFFFFFFF
    return c


b = bytearray(open(sys.argv[1], "rb").read())
at = b.rfind(b"OggS")
b[at + 6:at + 14] = struct.pack("<q", 0)
b[at + 22:at + 26] = bytes(4)
b[at + 22:at + 26] = struct.pack("<I", crc(b[at:]))
open(sys.argv[2], "wb").write(b)
