#!/usr/bin/env python3
"""Writes the packaging benchmark's payload: a few hundred files of about
150 MB in nested folders, mixed as a product is: text (sources, logs,
documents), structured binary (tables of records, program-like data) and
random bytes (already compressed media), plus a few large files. The same
bytes on every run (seeded).

    pack_payload.py OUT_DIR [--total-mb 150] [--files 300]
"""
import argparse
import os
import random
import struct

WORDS = (b"setup install product folder registry shortcut version window module "
         b"resource package stream record index value data return static const "
         b"void int if else for while \xe5\xae\x89\xe8\xa3\x85 \xe7\xa8\x8b\xe5\xba\x8f "
         b"\xe6\x96\x87\xe4\xbb\xb6 \xe7\x94\xa8\xe6\x88\xb7").split()


def text_base(rng, size):
    out = bytearray()
    while len(out) < size:
        indent = b"    " * rng.randint(0, 3)
        line = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12)))
        out += indent + line + b" %d;\r\n" % rng.randint(0, 99999)
    return bytes(out[:size])


def binary_base(rng, size):
    # Records of a table: ids counting up, small enums, floats, short names.
    out = bytearray()
    i = 0
    while len(out) < size:
        out += struct.pack("<IHHf8s", i, i % 17, rng.randint(0, 3), i * 0.25,
                           rng.choice(WORDS)[:8].ljust(8, b"\0"))
        i += 1
    return bytes(out[:size])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--total-mb", type=int, default=150)
    ap.add_argument("--files", type=int, default=300)
    args = ap.parse_args()
    rng = random.Random(20260601)
    total = args.total_mb << 20
    bases = {"txt": text_base(rng, 4 << 20), "dat": binary_base(rng, 4 << 20)}

    # Three large files take a fifth of the payload; the rest spread log-uniformly.
    sizes = [total // 15] * 3
    rest = total - sum(sizes)
    weights = [2 ** rng.uniform(12, 22) for _ in range(args.files - 3)]
    scale = rest / sum(weights)
    sizes += [max(1, int(w * scale)) for w in weights]
    kinds = ["txt", "dat", "bin"]

    for n, size in enumerate(sizes):
        kind = kinds[n % 3]
        folder = os.path.join(args.out, "part%d" % (n % 7), "sub%d" % (n % 3))
        os.makedirs(folder, exist_ok=True)
        if kind == "bin":
            data = rng.randbytes(size)
        else:
            base = bases[kind]
            start = rng.randrange(0, len(base) // 2)
            data = bytearray()
            while len(data) < size:
                data += base[start:start + min(len(base) - start, size - len(data))]
                start = 0
            # A little noise every 4 KiB, so no two files are the same.
            for at in range(0, size, 4096):
                data[at:at + 8] = rng.randbytes(min(8, size - at))
            data = bytes(data[:size])
        with open(os.path.join(folder, "file%03d.%s" % (n, kind)), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
