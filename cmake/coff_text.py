"""Trims the code sections of COFF objects to their functions' own bytes.

The assembler gives every x86-64 code section a 16-byte alignment (i386: 4) and fills its
end with no-ops up to it; with a section for each function, that is 8 bytes (1.5) a
function on average. A function's unwind entry (x86-64: .pdata; i386: its FDE in
.eh_frame) gives its start and end in its section. A section that
holds one function, whose entry starts it, and whose bytes past the entry's end are the
assembler's no-op fill, is cut at that end and asks for 2-byte alignment: functions stay at
even addresses, since the C++ ABI marks pointers to virtual member functions with the low
bit. Nothing else in the object moves. An object this module does not fully understand is
left as it is, which is always safe.
"""
import shutil
import struct

from coff_eh_frame import SYMBOL, STATIC, CoffObject, Unsupported, _records, archive_members, is_frame_section

AMD64, I386 = 0x8664, 0x14C
ADDR64, ADDR32NB = 1, 3
REL32_I386 = 0x14
ALIGN_MASK, ALIGN_2 = 0x00F00000, 0x00200000
CODE = 0x00000020
NOP = 0x90


def _function_ranges(obj):
    """{code section number: [(begin, end)]} from the object's unwind entries."""
    data, ranges = obj.data, {}
    for s in obj.sections:
        if s["name"] != ".pdata" and not s["name"].startswith(".pdata$"):
            continue
        if s["size"] % 12:
            raise Unsupported("an unwind table of odd size")
        relocs = {}
        for r in obj.relocations(s):
            relocs.setdefault(r[0], []).append(r)
        for entry in range(0, s["size"], 12):
            ends = []
            for field in (entry, entry + 4):
                found = relocs.get(field, [])
                if len(found) != 1 or found[0][2] != ADDR32NB:
                    raise Unsupported("an unwind entry without its relocations")
                _, value, section, _, _ = obj.symbol(found[0][1])
                ends.append((section, value + struct.unpack_from("<I", data, s["raw"] + field)[0]))
            (section, begin), (section_end, end) = ends
            if section != section_end or section <= 0:
                raise Unsupported("an unwind entry across sections")
            ranges.setdefault(section, []).append((begin, end))
    return ranges


def _frame_ranges(obj):
    """{code section number: [(begin, end)]} from an i386 object's FDEs: the start is a
    PC-relative field (REL32, its stored value the offset plus 4), the length follows."""
    data, ranges = obj.data, {}
    for s in obj.sections:
        if not is_frame_section(s["name"]):
            continue
        relocs = {}
        for r in obj.relocations(s):
            relocs.setdefault(r[0], []).append(r)
        for offset, length, is_cie in _records(data, s["raw"], s["size"]):
            if is_cie:
                continue
            found = relocs.get(offset + 8, [])
            if len(found) != 1 or found[0][2] != REL32_I386 or length < 16:
                raise Unsupported("an FDE without its start's relocation")
            _, value, section, _, _ = obj.symbol(found[0][1])
            stored, extent = struct.unpack_from("<iI", data, s["raw"] + offset + 8)
            if section <= 0:
                raise Unsupported("an FDE for code elsewhere")
            begin = value + stored - 4
            ranges.setdefault(section, []).append((begin, begin + extent))
    return ranges


def trim_object(data, base, size):
    """Cuts, in the object at data[base:base+size], each one-function code section at its
    function's end (see the module's notes). Returns the bytes cut."""
    machine = struct.unpack_from("<H", data, base)[0]
    obj = CoffObject(data, base, size, machine=machine if machine in (AMD64, I386) else AMD64)
    ranges = _function_ranges(obj) if machine == AMD64 else _frame_ranges(obj)
    symbols = [obj.symbol(i) for i in range(obj.symbols)]
    cut = 0
    for number, s in enumerate(obj.sections, 1):
        if not s["flags"] & CODE or not s["name"].startswith(".text") or number not in ranges:
            continue
        if len(ranges[number]) != 1 or ranges[number][0][0] != 0:
            continue
        end = ranges[number][0][1]
        if not 0 < end < s["size"] or s["raw"] == base:
            continue
        if any(data[s["raw"] + i] != NOP for i in range(end, s["size"])):
            continue
        if any(r[0] + (8 if r[2] == ADDR64 else 4) > end for r in obj.relocations(s)):
            continue
        if any(section == number and value >= end for _, value, section, _, _ in symbols):
            continue
        struct.pack_into("<I", data, s["header"] + 16, end)
        struct.pack_into("<I", data, s["header"] + 36, (s["flags"] & ~ALIGN_MASK) | ALIGN_2)
        # The section symbol's auxiliary record repeats the size.
        for at, _, section, storage, aux in symbols:
            if section == number and storage == STATIC and aux >= 1:
                struct.pack_into("<I", data, at + SYMBOL, end)
        cut += s["size"] - end
    return cut


def trim_file(source, target):
    """Copies the archive or object `source` to `target` with its objects' code sections
    trimmed. Returns the bytes cut."""
    shutil.copyfile(source, target)
    with open(target, "rb") as f:
        data = bytearray(f.read())
    places = archive_members(data).values() if data[:8] == b"!<arch>\n" else [(0, len(data))]
    cut = 0
    for at, size in places:
        saved = bytes(data[at:at + size])
        try:
            cut += trim_object(data, at, size)
        except (Unsupported, struct.error, ValueError, IndexError):
            data[at:at + size] = saved
    with open(target, "wb") as f:
        f.write(data)
    return cut
