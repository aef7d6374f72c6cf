#!/usr/bin/env python3
"""Writes a square PNG of one colour: solid_png.py OUT SIZE RRGGBB (an icon for
a test project; the colour tells the projects' screenshots apart)."""
import struct
import sys
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


out, size, colour = sys.argv[1], int(sys.argv[2]), bytes.fromhex(sys.argv[3]) + b"\xff"
raw = b"".join(b"\0" + colour * size for _ in range(size))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) \
    + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(out, "wb").write(png)
