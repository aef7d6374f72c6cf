#!/usr/bin/env python3
"""Draws the demo product's icon (256 x 256 RGBA PNG) into icon.png: a blue
rounded square with a white Z. Only the standard library: zlib and struct."""
import os
import struct
import zlib

SIZE = 256


def inside_rounded(x, y, r=48, m=8):
    lo, hi = m, SIZE - m
    if not (lo <= x < hi and lo <= y < hi):
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def on_z(x, y):
    if 64 <= x < 192 and (64 <= y < 92 or 164 <= y < 192):
        return True
    if 64 <= y < 192:
        # the diagonal from top right to bottom left, 30 pixels thick
        return abs((192 - x) - (y - 64)) < 20 and 64 <= x < 192
    return False


rows = []
for y in range(SIZE):
    row = bytearray([0])
    for x in range(SIZE):
        if not inside_rounded(x, y):
            row += bytes([0, 0, 0, 0])
        elif on_z(x, y):
            row += bytes([255, 255, 255, 255])
        else:
            row += bytes([30, 100 + y // 3, 230, 255])
    rows.append(bytes(row))


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
png += chunk(b"IEND", b"")
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "icon.png"), "wb") as f:
    f.write(png)
