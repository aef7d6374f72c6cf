#!/usr/bin/env python3
"""Exit 0 when two Windows programs are the same build: the same machine and
every section but the resources byte for byte. The packaging tool gives the
uninstaller it adds the product's icon, which rewrites only its resources."""
import struct
import sys


def sections(path):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        raise ValueError(f"{path}: not a Windows program")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: not a Windows program")
    machine, count = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    out = {"machine": machine}
    for i in range(count):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0")
        raw_size, raw_at = struct.unpack_from("<II", data, at + 16)
        if name != b".rsrc":
            out[name] = data[raw_at:raw_at + raw_size]
    return out


if __name__ == "__main__":
    try:
        sys.exit(0 if sections(sys.argv[1]) == sections(sys.argv[2]) else 1)
    except (OSError, ValueError, struct.error) as e:
        print(e, file=sys.stderr)
        sys.exit(2)
