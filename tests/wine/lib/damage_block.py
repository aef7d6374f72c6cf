#!/usr/bin/env python3
"""Damages the file-data block of a full installer in place, as a bad download
or a bad disk would: flips COUNT bytes of its index (`index`) or in the middle
of its images (`image`).

    damage_block.py SETUP.exe index|image [COUNT]
"""
import struct
import sys

FILE_DATA = "{24B4534B-E580-4F42-BEAB-A2818FDE92C0}"
RT_RCDATA = 10

path, part = sys.argv[1], sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 64
data = bytearray(open(path, "rb").read())

pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
optional = pe + 24
directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
table = optional + optional_size
spans = []
for i in range(sections):
    _, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
    spans.append((va, max(vsize, raw_size), raw))


def offset_of(rva):
    for va, size, raw in spans:
        if va <= rva < va + size:
            return rva - va + raw
    raise SystemExit("RVA %#x lies in no section" % rva)


base = offset_of(rsrc_rva)


def entries(directory):
    named, ids = struct.unpack_from("<HH", data, base + directory + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
        if name & 0x80000000:
            at = base + (name & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, at)[0]
            name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        yield name, target


def find(directory, wanted):
    for name, target in entries(directory):
        if (name.upper() if isinstance(name, str) else name) == wanted:
            return target
    raise SystemExit("no resource %r" % (wanted,))


names = find(0, RT_RCDATA) & 0x7FFFFFFF
languages = find(names, FILE_DATA) & 0x7FFFFFFF
entry = next(entries(languages))[1]
rva, size = struct.unpack_from("<II", data, base + entry)
start = offset_of(rva)
index_length = struct.unpack_from("<i", data, start + size - 4)[0]
if part == "index":
    at = start + size - 4 - index_length + min(16, index_length // 2)
else:
    at = start + (size - 4 - index_length) // 2
for i in range(at, at + count):
    data[i] ^= 0xFF
open(path, "wb").write(data)
print("flipped %d bytes of the %s at file offset %d" % (count, part, at))
