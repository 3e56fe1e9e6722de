#!/usr/bin/env python3
"""Writes the seed files of fuzz_zelfile into corpus/ (run from this folder)."""
import os
import struct


def text(s: bytes) -> bytes:
    return struct.pack('<I', len(s)) + s


def header(count: int, magic: bytes = b'ZEL1', file_id: bytes = b'') -> bytes:
    return magic + text(file_id) + text(b'0.0') + text(b'Kavrel') + text(b'0.0.0.2') + \
        struct.pack('<I', count)


def item(section: bytes, key: bytes, tag: int, value: bytes) -> bytes:
    return text(section) + text(key) + struct.pack('<i', tag) + text(value)


ONE = bytes([0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F])    # 1.0
FIFTY = bytes([0, 0, 0, 0, 0, 0, 0, 0xC8, 0x04, 0x40])  # 50.0

seeds = {
    'empty_list.zelfile': header(0),
    'one_float.zelfile': header(1) + item(b'Settings', b'RawGain', 12, ONE),
    'six_floats.zelfile': header(6) + b''.join(
        item(b'Settings', k, 12, v) for k, v in [
            (b'RawGain', ONE), (b'FilterGain', ONE), (b'PoleF0', FIFTY),
            (b'PoleBW', FIFTY), (b'ZeroF0', FIFTY), (b'ZeroBW', ONE)]),
    'unknown_tag.zelfile': header(2) + item(b'Other', b'Blob', 3, b'\x01\x02\x03') +
        item(b'Settings', b'polef0', 12, FIFTY),
    'short_float.zelfile': header(1) + item(b'Settings', b'RawGain', 12, b'\x00\x80'),
    'other_magic.zelfile': header(1, magic=b'XXXX', file_id=b'id') +
        item(b'S', b'K', 12, ONE),
    'truncated.zelfile': (header(1) + item(b'Settings', b'RawGain', 12, ONE))[:-3],
    'lying_count.zelfile': header(0x7FFFFFFF) + item(b'S', b'K', 12, ONE),
    'wrong_type_key.zelfile': header(2) + item(b'Settings', b'RawGain', 3, b'abcd') +
        item(b'Settings', b'PoleF0', 12, FIFTY),
}

os.makedirs('corpus', exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join('corpus', name), 'wb') as f:
        f.write(data)
