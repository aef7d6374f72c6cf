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

The i686 script keeps the DWARF unwind data the same way (KEEP(*(.eh_frame*))), but
there an object's entries share one .eh_frame section, which no script can split.
So the second link runs over copies of the inputs whose objects no longer hold the
entries of the removed functions (coff_eh_frame.py rewrites them); entries whose
functions the kept entries' personality routines and handler tables bring back are
restored and the link repeated, until no dropped entry's function is in the output
(read from the link map). Every entry of the result must describe its code. The same
links keep only the delay-import stubs the program refers to (see with_stub_list). Last,
the image's .eh_frame keeps each distinct CIE once (coff_eh_frame.compact_image_frames):
every inline function's entry comes with a CIE of its own, which the PE linker never merges;
a function whose code holds no call instruction loses its entry, since no return address
ever points into it; and an entry's instructions for the code after its function's last call
(the epilogues), which the unwinder never reads, go (calls read from the toolchain's objdump;
both checked). On x86-64 the functions whose unwind information is alike share one copy of it
(pe_image.share_unwind_info), and the links read copies of the program's own objects whose
one-function code sections end with their functions instead of the assembler's 16-byte
padding (coff_text.py).

Any other command (one without --gc-sections) runs unchanged.

    pe-gc-link.py COMPILER ARGS...      (the CXX_LINKER_LAUNCHER of a target)
"""
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import coff_eh_frame  # noqa: E402
import coff_text  # noqa: E402
import pe_image  # noqa: E402

KEEP_PDATA = "KEEP(*(.pdata*))"
KEEP_EH_FRAME = "KEEP(*(.eh_frame*))"
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


def expanded(cmd):
    """The command with its @response files read in."""
    args = []
    for arg in cmd:
        if arg.startswith("@") and os.path.isfile(arg[1:]):
            with open(arg[1:]) as f:
                args += shlex.split(f.read())
        else:
            args.append(arg)
    return args


MAPPED = re.compile(r"^ (\.text\S*)\s*\n?\s+0x[0-9a-f]+\s+0x[0-9a-f]+ (\S.*)$", re.M)


def placed_code(map_file):
    """{input file: {code section names}} that a link map shows in the output."""
    with open(map_file, errors="replace") as f:
        text = f.read()
    at = text.find("\nLinker script and memory map")
    if at < 0:
        raise LinkError("the link map has no memory map")
    placed = {}
    for m in MAPPED.finditer(text, at):
        placed.setdefault(m.group(2).strip(), set()).add(m.group(1))
    return placed


def without(removed, kept):
    out = {}
    for name, sections in removed.items():
        left = sections - kept.get(name, set())
        if left:
            out[name] = left
    return out


class FramePruner:
    """Copies of the link's inputs whose objects' .eh_frame no longer describe removed
    code (i686: one unwind section an object, kept whole by the linker script)."""

    def __init__(self, cmd, work):
        self.cmd, self.work = expanded(cmd), work
        self.copies = os.path.join(work, "copies")
        self.search = os.path.join(self.copies, "lib")
        self.renamed = {}  # copy -> the input it stands for

    def original(self, removed):
        """removed, with the copies' names as the originals'."""
        out = {}
        for name, sections in removed.items():
            path, member = coff_eh_frame.split_input(name)
            path = self.renamed.get(path, path)
            out.setdefault(path + ("(%s)" % member if member is not None else ""), set()).update(sections)
        return out

    def command(self, removed):
        """The link command over copies without the unwind entries of `removed`, and
        {copy's input name: sections} for the discard block."""
        by_path = {}
        for name, sections in removed.items():
            path, member = coff_eh_frame.split_input(name)
            by_path.setdefault(path, {}).setdefault(member, set()).update(sections)
        args, searched = list(self.cmd), False
        self.renamed.clear()
        shutil.rmtree(self.copies, ignore_errors=True)  # the last round's copies
        copies = {}
        for n, (path, members) in enumerate(sorted(by_path.items())):
            named = [i for i, a in enumerate(args) if not a.startswith("-") and i > 0
                     and os.path.abspath(a) == os.path.abspath(path)]
            base = os.path.basename(path)
            if named:
                target = os.path.join(self.copies, str(n), base)
            elif os.path.isabs(path) and base.startswith("lib") and base.endswith(".a") \
                    and not os.path.exists(os.path.join(self.search, base)):
                target = os.path.join(self.search, base)  # found through -l: shadowed by -L
            else:
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if not coff_eh_frame.prune_file(path, target, members):
                os.remove(target)
                continue
            for i in named:
                args[i] = target
            searched |= not named
            self.renamed[target] = path
            copies[path] = target
        if searched:
            args.insert(1, "-L" + self.search)
        renamed = {}
        for name, sections in removed.items():
            path, member = coff_eh_frame.split_input(name)
            path = copies.get(path, path)
            renamed[path + ("(%s)" % member if member is not None else "")] = sections
        return args, renamed


def check_delay_stubs(map_file, output):
    """Every delay-import member of the link must have come in by its stub's name, which
    the stub list names: one that came in by its __imp_ pointer alone would lose its stub
    (the first call would jump to address 0)."""
    for symbol in included_delay_members(map_file):
        if symbol.startswith("__imp_"):
            raise LinkError("%s: the delay-import stub of %s is not kept" % (output, symbol))


def included_delay_members(map_file):
    """The symbols by which the 32-bit link took each member of a delay-import library
    (the map prints them without the leading underscore of the 32-bit C names)."""
    with open(map_file, errors="replace") as f:
        text = f.read()
    text = text[:text.find("\nLinker script and memory map")]
    return ["_" + m.group(1) for m in INCLUDED.finditer(text)]


STUB_LIST = re.compile(r"-keep\.ld$")
INCLUDED = re.compile(r"^\S+_delay\.a\([^()]*\)\s*\n\s+\S.*\((\S+)\)$", re.M)


def without_stub_lists(args):
    """The command without cmake/delay-import.py's lists of every delay-import stub,
    and where the first stood (None: there are none)."""
    at = next((i for i, a in enumerate(args) if STUB_LIST.search(a)), None)
    return [a for a in args if not STUB_LIST.search(a)], at


def with_stub_list(args, at, path, first_map):
    """The command with one list of the stubs the program refers to, as the first link's
    map shows the delay-import members it took: the 32-bit linker drops a stub that is
    called only through its __imp_ pointer, so each must be named, but only those."""
    stubs = sorted({s[len("__imp_"):] if s.startswith("__imp_") else s for s in included_delay_members(first_map)})
    if not stubs:
        return args
    with open(path, "w") as f:
        f.write("EXTERN(%s)\n" % " ".join('"%s"' % s for s in stubs))
    return args[:at] + [path] + args[at:]


def frames_link(cmd, work, script, removed, output):
    """The final i686 link: the objects' unwind entries of removed code dropped. A kept
    entry's personality routine and handler table bring some code back; that code gets
    its entries back and the link is repeated, until no dropped entry's code is placed.
    (The removal report is no measure here: it lists an inline function's duplicate
    copies in one link and not in the other.)"""
    pruner = FramePruner(cmd, work)
    final_script, map_file = os.path.join(work, "final.x"), os.path.join(work, "final.map")
    for _ in range(8):
        args, renamed = pruner.command(removed)
        with open(final_script, "w") as f:
            f.write(with_discards(script, discard_block(renamed)))
        rc, _, err = run(args + ["-Wl,-T," + final_script, "-Wl,--print-gc-sections", "-Wl,-Map," + map_file])
        if rc != 0:
            sys.stderr.write(other_messages(err))
            return rc
        placed = pruner.original(placed_code(map_file))
        if not placed:
            raise LinkError("the link map of %s shows no code" % output)
        left = without(removed, placed)
        if left == removed:
            sys.stderr.write(other_messages(err))
            check_delay_stubs(map_file, output)
            keep_map(map_file, output)
            try:
                coff_eh_frame.check_image_frames(output)
                if coff_eh_frame.compact_image_frames(output, tool_path(cmd, "objdump"), unwinder_start(map_file)):
                    coff_eh_frame.check_image_frames(output)
            except ValueError as e:
                raise LinkError(str(e))
            return 0
        removed = left
    raise LinkError("the unwind entries of %s did not settle" % output)


def trimmed_inputs(cmd, work):
    """The command with the objects and archives it names (the program's own, not the
    toolchain's) replaced by copies whose code sections end with their functions
    (coff_text.py)."""
    args, copies = expanded(cmd), {}
    for i, arg in enumerate(args):
        if i == 0 or arg.startswith("-") or not arg.endswith((".a", ".obj", ".o")) or not os.path.isfile(arg):
            continue
        source = os.path.abspath(arg)
        if source.startswith("/usr/"):
            continue
        if source not in copies:
            copies[source] = os.path.join(work, "trimmed", str(len(copies)), os.path.basename(arg))
            os.makedirs(os.path.dirname(copies[source]))
            coff_text.trim_file(source, copies[source])
        args[i] = copies[source]
    return args


def tool_path(cmd, name):
    """The binutils program `name` of the compiler driver that runs the link, or None."""
    done = subprocess.run([cmd[0], "-print-prog-name=" + name], capture_output=True, text=True)
    path = done.stdout.strip()
    return path if done.returncode == 0 and os.path.isabs(path) and os.path.exists(path) else None


def unwinder_start(map_file):
    """The address of crtbegin's unwind records, from a link map: the program registers
    its records with the unwinder from there (those of the objects before it, crt2's,
    the unwinder never reads). None where the map does not show it."""
    with open(map_file, errors="replace") as f:
        for line in f:
            m = re.match(r"^ \.eh_frame\s+0x([0-9a-f]+)\s+0x[0-9a-f]+\s+(\S+)$", line)
            if m and os.path.basename(m.group(2)) == "crtbegin.o":
                return int(m.group(1), 16)
    return None


def keep_map(map_file, output):
    """With ZO_LINK_MAP set, the final link's map lands beside the program (OUTPUT.map):
    where the bytes go."""
    if os.environ.get("ZO_LINK_MAP"):
        shutil.copyfile(map_file, output + ".map")


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
        # i686 objects keep their unwind entries in one .eh_frame each (DWARF, not .pdata).
        frames = "pei-i386" in script and script.count(KEEP_EH_FRAME) == 1
        if "pei-x86-64" in script or "pei-i386" in script:
            cmd = trimmed_inputs(cmd, work)
            base = list(cmd)
            base[base.index("-o") + 1] = scratch
        first_script = os.path.join(work, "first.x")
        with open(first_script, "w") as f:
            first = script.replace(KEEP_PDATA, "*(.pdata*)")
            f.write(first.replace(KEEP_EH_FRAME, "*(.eh_frame*)") if frames else first)

        # Unwind entries still reach the output (ld keeps .pdata when sweeping) but
        # no longer hold their functions; .xdata stays kept, so the personality
        # routines and the caught types they name count as used, as they will.
        if frames:
            cmd, keeps = without_stub_lists(expanded(cmd))
            base = list(cmd)
            base[base.index("-o") + 1] = scratch
        first_map = os.path.join(work, "first.map")
        rc, _, err = run(base + ["-Wl,-T," + first_script, "-Wl,--print-gc-sections", "-Wl,-Map," + first_map])
        if rc != 0:
            sys.stderr.write(other_messages(err))
            return rc
        removed = removed_code(err)
        if frames:
            if keeps is not None:
                cmd = with_stub_list(cmd, keeps, os.path.join(work, "delay-stubs.ld"), first_map)
            return frames_link(cmd, work, script.replace(KEEP_PDATA, "*(.pdata*)"), removed, output)

        final_script = os.path.join(work, "final.x")
        with open(final_script, "w") as f:
            f.write(with_discards(script.replace(KEEP_PDATA, "*(.pdata*)"), discard_block(removed)))
        map_file = os.path.join(work, "final.map")
        rc, _, err = run(cmd + ["-Wl,-T," + final_script, "-Wl,--print-gc-sections", "-Wl,-Map," + map_file])
        sys.stderr.write(other_messages(err))
        if rc != 0:
            return rc
        if removed_code(err) != removed:
            raise LinkError("the two links of %s removed different code" % output)
        check_unwind_table(output)
        try:
            if pe_image.share_unwind_info(output):
                check_unwind_table(output)
        except ValueError as e:
            raise LinkError(str(e))
        keep_map(map_file, output)
        return 0
    except LinkError:
        if os.path.exists(output):
            os.remove(output)
        raise
    finally:
        shutil.rmtree(work, ignore_errors=True)


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
