#!/usr/bin/env python3
"""Link launcher for the MinGW-w64 programs: makes --gc-sections remove unused code.

The x86-64 PE linker script of binutils keeps every unwind entry (KEEP(*(.pdata*))),
and each entry refers to its function, so every function of every object the link
pulls in stays, with everything it calls: one unused function that writes to a
std::ostream brings in all of the standard library's locale code. Unwind entries
must stay exactly with their functions, which a linker script cannot say. So the
program is linked twice:

  1. with the unwind entries no longer kept, which tells (--print-gc-sections)
     which functions nothing reaches;
  2. with the unwind entries of exactly those functions discarded.

Both links see the same roots, so both must drop the same code: the launcher checks
that, and checks that every unwind entry of the result describes code of the result.
Any other command (one without --gc-sections) runs unchanged.

    pe-gc-link.py COMPILER ARGS...      (the CXX_LINKER_LAUNCHER of a target)
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

KEEP_PDATA = "KEEP(*(.pdata*))"
REMOVED = re.compile(r"removing unused section '([^']*)' in file '([^']*)'")
CODE_SECTION = re.compile(r"^\.text(\$.+|\..+)?$")


class LinkError(Exception):
    pass


def run(cmd):
    """Runs a link; returns its standard output and error."""
    proc = subprocess.run(cmd, capture_output=True, text=True, errors="replace")
    return proc.returncode, proc.stdout, proc.stderr


def default_script(verbose_output):
    """The linker script ld uses for these options, as printed by --verbose."""
    parts = verbose_output.split("==================================================")
    if len(parts) < 3:
        raise LinkError("ld --verbose printed no linker script")
    return parts[1].strip("\n") + "\n"


def removed_code(stderr):
    """{input file: {code section names}} that --print-gc-sections reported removed."""
    removed = {}
    for line in stderr.splitlines():
        m = REMOVED.search(line)
        if not m:
            continue
        section = re.sub(r"\[.*\]$", "", m.group(1))  # "[comdat symbol]" suffix
        if CODE_SECTION.match(section):
            removed.setdefault(m.group(2), set()).add(section)
    return removed


def other_messages(stderr):
    return "".join(l + "\n" for l in stderr.splitlines() if not REMOVED.search(l))


def file_pattern(input_file):
    """A linker script file pattern for an input as ld names it: 'lib.a(member)' or a path."""
    safe = lambda s: re.sub(r"[^A-Za-z0-9_./-]", "?", s)
    m = re.match(r"^(.*)\(([^()]*)\)$", input_file)
    if m:
        return "*" + safe(os.path.basename(m.group(1))) + ":" + safe(m.group(2))
    return safe(input_file)


def discard_block(removed):
    """/DISCARD/ statements for the unwind data of the removed code sections.

    The assembler names a function's unwind sections after its code section:
    .text$f -> .pdata$f and .xdata$f, .text.unlikely.f -> .pdata.unlikely.f,
    and a plain .text (all functions of an object without function sections) -> .pdata."""
    lines = []
    for input_file in sorted(removed):
        names = []
        for section in sorted(removed[input_file]):
            suffix = CODE_SECTION.match(section).group(1) or ""
            names += [".pdata" + suffix, ".xdata" + suffix]
        lines.append("    %s(%s)" % (file_pattern(input_file), " ".join(names)))
    return "  /DISCARD/ :\n  {\n" + "\n".join(lines) + "\n  }\n"


def with_discards(script, block):
    head = "SECTIONS\n{\n"
    at = script.index(head) + len(head)
    return script[:at] + block + script[at:]


def check_unwind_table(path):
    """Every unwind entry must describe code of this image, in order, without overlap,
    and point at unwind information of a known version: an entry left behind for a
    removed function would not."""
    with open(path, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise LinkError("%s: not a PE image" % path)
    sections_count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        return  # only 64-bit images carry this table
    table_rva, table_size = struct.unpack_from("<II", image, optional + 112 + 3 * 8)
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        vsize, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        sections.append((rva, max(vsize, raw_size), raw_at, raw_size, flags))

    def section_of(rva):
        for s in sections:
            if s[0] <= rva < s[0] + s[1]:
                return s
        return None

    def file_offset(rva):
        s = section_of(rva)
        if s is None or rva - s[0] >= s[3]:
            return None
        return s[2] + rva - s[0]

    if table_size == 0:
        return
    at = file_offset(table_rva)
    if at is None:
        raise LinkError("%s: the unwind table lies outside the file" % path)
    previous_end = 0
    for i in range(table_size // 12):
        begin, end, unwind = struct.unpack_from("<III", image, at + 12 * i)
        code = section_of(begin)
        if code is None or not code[4] & 0x20000000 or end > code[0] + code[1]:
            raise LinkError("%s: unwind entry %d (0x%x-0x%x) is not code" % (path, i, begin, end))
        if begin >= end or begin < previous_end:
            raise LinkError("%s: unwind entry %d (0x%x-0x%x) out of order" % (path, i, begin, end))
        info = file_offset(unwind & ~1)
        if info is None or image[info] & 7 not in (1, 2):
            raise LinkError("%s: unwind entry %d has no unwind information" % (path, i))
        previous_end = end


def output_of(cmd):
    for i, arg in enumerate(cmd[:-1]):
        if arg == "-o":
            return cmd[i + 1]
    return None


def gc_link(cmd):
    output = output_of(cmd)
    if output is None or "-Wl,--gc-sections" not in cmd:
        return None
    work = tempfile.mkdtemp(prefix=".gc-link-", dir=os.path.dirname(os.path.abspath(output)))
    try:
        scratch = os.path.join(work, "first.exe")
        base = list(cmd)
        base[base.index("-o") + 1] = scratch

        rc, out, err = run(cmd + ["-Wl,--verbose"])
        if rc != 0:
            sys.stderr.write(err)
            return rc
        script = default_script(out)
        if script.count(KEEP_PDATA) != 1:
            return None  # a linker that does not keep all unwind data needs no help
        first_script = os.path.join(work, "first.x")
        with open(first_script, "w") as f:
            f.write(script.replace(KEEP_PDATA, "*(.pdata*)"))

        # Unwind entries still reach the output (ld keeps .pdata when sweeping) but
        # no longer hold their functions; .xdata stays kept, so the personality
        # routines and the caught types they name count as used, as they will.
        rc, _, err = run(base + ["-Wl,-T," + first_script, "-Wl,--print-gc-sections"])
        if rc != 0:
            sys.stderr.write(other_messages(err))
            return rc
        removed = removed_code(err)

        final_script = os.path.join(work, "final.x")
        with open(final_script, "w") as f:
            f.write(with_discards(script.replace(KEEP_PDATA, "*(.pdata*)"), discard_block(removed)))
        rc, _, err = run(cmd + ["-Wl,-T," + final_script, "-Wl,--print-gc-sections"])
        sys.stderr.write(other_messages(err))
        if rc != 0:
            return rc
        if removed_code(err) != removed:
            raise LinkError("the two links of %s removed different code" % output)
        check_unwind_table(output)
        return 0
    except LinkError:
        if os.path.exists(output):
            os.remove(output)
        raise
    finally:
        for name in os.listdir(work):
            os.remove(os.path.join(work, name))
        os.rmdir(work)


def main(argv):
    cmd = argv[1:]
    if not cmd:
        sys.stderr.write(__doc__)
        return 2
    try:
        rc = gc_link(cmd)
    except LinkError as e:
        sys.stderr.write("pe-gc-link: %s\n" % e)
        return 1
    if rc is None:
        return subprocess.call(cmd)
    return rc


if __name__ == "__main__":
    sys.exit(main(sys.argv))
