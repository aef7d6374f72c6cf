#!/usr/bin/env python3
"""Checks on the link probe (link_probe.cpp) and the launcher's own safety net.

    link_check.py PROBE.exe LAUNCHER.py
"""
import importlib.util
import os
import struct
import sys
import tempfile

failures = 0


def check(ok, what):
    global failures
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok:
        failures += 1


def load_launcher(path):
    found = importlib.util.spec_from_file_location("pe_gc_link", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def unwind_table_offset(image):
    """File offset and entry count of the exception table."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections_count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    rva, size = struct.unpack_from("<II", image, optional + 112 + 3 * 8)
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        vsize, srva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        if srva <= rva < srva + vsize:
            return raw_at + rva - srva, size // 12
    raise ValueError("no exception table")


def rejects(launcher, image, what):
    """The launcher's check must refuse this damaged copy of the probe."""
    with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
        f.write(image)
    try:
        launcher.check_unwind_table(f.name)
        check(False, "the unwind check refuses " + what)
    except launcher.LinkError:
        check(True, "the unwind check refuses " + what)
    finally:
        os.remove(f.name)


def check_frames(launcher, probe, image):
    """The 32-bit probe: its DWARF unwind entries describe its code, and a damaged one is refused."""
    frames = launcher.coff_eh_frame
    try:
        count = frames.check_image_frames(probe)
        check(count > 10, "the probe's %d unwind entries describe its code" % count)
    except ValueError as e:
        check(False, "the probe's unwind entries describe its code: %s" % e)
    _, sections = frames.image_code_ranges(image)
    raw_at, raw_size = next((s[3], s[4]) for s in sections if s[0] in (b".eh_fram", b".eh_frame"))
    # Every inline function brings a CIE of its own (hundreds); the launcher keeps each kind once.
    cies, at = 0, raw_at
    while at + 8 <= raw_at + raw_size and struct.unpack_from("<I", image, at)[0]:
        length, ident = struct.unpack_from("<II", image, at)
        cies += ident == 0
        at += 4 + length
    check(cies <= 4, "the probe's unwind entries share %d CIEs" % cies)
    # A function that calls nothing is never unwound through: no entry (but crt2's,
    # which the unwinder never reads and the launcher leaves alone).
    image_obj = launcher.pe_image.Image(image)
    h = image_obj.section(b".eh_fram", b".eh_frame")
    vsize, rva, raw_size, raw_at = image_obj.header(h)
    entries = frames.frames_by_function(image, raw_at, raw_at + min(vsize, raw_size), rva,
                                        lambda a: struct.unpack_from("<I", image, image_obj.offset(a, 4))[0])
    code = frames._instructions(probe, "i686-w64-mingw32-objdump", frames.image_code_ranges(image)[0])
    leaves = len(frames.call_free_functions(entries, code))
    check(leaves <= 4, "%d of the probe's %d unwind entries are for functions that call nothing" % (leaves, len(entries)))
    # Nor does any entry (but crt2's) describe code past its function's last call, which
    # no unwinding reads.
    limits = frames.last_returns(entries, code)
    unread = sum(1 for begin, limit in limits.items()
                 if frames._program_before(entries[begin][3], begin, limit, 1).ljust(len(entries[begin][3]), b"\0")
                 != entries[begin][3])
    check(len(limits) > 100 and unread <= 4,
          "%d of the probe's %d entries of calling functions describe code after the last call" % (unread, len(limits)))
    length = struct.unpack_from("<I", image, raw_at)[0]  # the first CIE; an FDE follows
    damaged = bytearray(image)
    struct.pack_into("<i", damaged, raw_at + 4 + length + 8, 0x40000000)  # its start: no code
    with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
        f.write(damaged)
    try:
        frames.check_image_frames(f.name)
        check(False, "the unwind check refuses an entry for code that is not there")
    except ValueError:
        check(True, "the unwind check refuses an entry for code that is not there")
    finally:
        os.remove(f.name)


def main(probe, launcher_path):
    with open(probe, "rb") as f:
        image = f.read()
    launcher = load_launcher(launcher_path)

    check(b"link probe: used code kept" in image, "code that runs stays")
    check(b"link probe: unused code kept" not in image, "code nothing calls is removed")
    # With the stream code an unused function reaches, the probe is about 800 KB.
    check(len(image) < 512 * 1024, "the stream code only unused code reaches is removed (%d bytes)" % len(image))

    if struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 24)[0] == 0x10B:
        check_frames(launcher, probe, image)
        print("%d failures" % failures)
        return 1 if failures else 0
    try:
        launcher.check_unwind_table(probe)
        check(True, "the probe's unwind table describes its code")
    except launcher.LinkError as e:
        check(False, "the probe's unwind table describes its code: %s" % e)

    at, count = unwind_table_offset(image)
    check(count > 10, "the probe has unwind entries")
    # Most functions' unwind information is alike: the launcher keeps one copy of each.
    shared = len({struct.unpack_from("<I", image, at + 12 * i + 8)[0] for i in range(count)})
    check(shared < count // 2, "the probe's %d unwind entries share %d blocks of unwind information" % (count, shared))
    # The probe's own functions (not the toolchain's, some of which sit at odd addresses
    # of their own) follow each other without the 16-byte padding.
    begins = [struct.unpack_from("<I", image, at + 12 * i)[0] for i in range(count)]
    check(sum(b % 16 != 0 for b in begins) >= 5,
          "%d of the probe's %d functions start between 16-byte boundaries" % (sum(b % 16 != 0 for b in begins), count))
    damaged = bytearray(image)
    struct.pack_into("<II", damaged, at + 12 * (count // 2), 0, 0)  # a removed function's entry
    rejects(launcher, bytes(damaged), "an entry for code that is not there")
    damaged = bytearray(image)
    first = bytes(damaged[at:at + 12])
    damaged[at:at + 12] = damaged[at + 12:at + 24]
    damaged[at + 12:at + 24] = first
    rejects(launcher, bytes(damaged), "entries out of order")
    damaged = bytearray(image)
    begin, end, unwind = struct.unpack_from("<III", damaged, at)
    struct.pack_into("<III", damaged, at, begin, end, begin)  # unwind data pointing into code
    rejects(launcher, bytes(damaged), "an entry without unwind information")

    print("%d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
