#!/usr/bin/env python3
"""Writes the install benchmark's payload: a few hundred files of about 150 MB
in total, in nested folders, half of them compressible text and half binary
noise, the same bytes on every run.

    install_payload.py OUT_DIR [--total-mb 150] [--files 320]
"""
import argparse
import os
import random

WORDS = (b"setup install product folder registry shortcut version window "
         b"module resource package zlib stream record index value data "
         b"\xe5\xae\x89\xe8\xa3\x85 \xe7\xa8\x8b\xe5\xba\x8f \xe6\x96\x87\xe4\xbb\xb6 ").split()


def text_bytes(rng, size):
    out = bytearray()
    while len(out) < size:
        line = b" ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        out += line + b" %d\r\n" % rng.randint(0, 1 << 30)
    return bytes(out[:size])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--total-mb", type=int, default=150)
    ap.add_argument("--files", type=int, default=320)
    args = ap.parse_args()

    rng = random.Random(20240601)
    # Log-uniform weights give many small files and a few large ones, as products have.
    # One empty file, and one large file that sets the memory bound apart from the rest.
    large = min(24, args.total_mb // 4) * 1024 * 1024
    weights = [2 ** rng.uniform(0, 13) for _ in range(args.files - 2)]
    scale = (args.total_mb * 1024 * 1024 - large) / sum(weights)
    sizes = [0, large] + [max(1, int(w * scale)) for w in weights]

    folders = ["", "bin", "lib", "lib/plugins", "share/doc", "share/locale/zh_CN", "data/a/b/c"]
    total = 0
    for i, size in enumerate(sizes):
        folder = folders[i % len(folders)]
        ext = ".dat" if i % 2 else ".txt"
        path = os.path.join(args.out, folder, "file%03d%s" % (i, ext))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = rng.randbytes(size) if i % 2 else text_bytes(rng, size)
        with open(path, "wb") as f:
            f.write(data)
        total += size
    print("payload: %d files, %.1f MB, largest %.1f MB in %s"
          % (len(sizes), total / 1048576, max(sizes) / 1048576, args.out))


if __name__ == "__main__":
    main()
