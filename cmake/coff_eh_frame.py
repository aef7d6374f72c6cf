"""Drops the DWARF unwind entries (FDEs) of removed functions from 32-bit COFF objects.

GCC's i686 objects hold the unwind entries of all their non-inline functions in one
.eh_frame section, which the PE linker script keeps whole, and each entry refers to
its function: so every function of every object the link pulls in stays. The link
launcher learns which code sections nothing reaches and has this module rewrite the
objects (in copies of their archives) without those entries.

The rewrite is done in place, inside each section's own bytes: the kept records move
up, each FDE's CIE pointer (its distance back to its CIE) is recomputed, relocations
follow their records, and the section's size and relocation count shrink. Nothing else
in the file moves, so archive offsets and symbol indexes stay valid. An object this
module does not fully understand is left as it is (its entries stay, which is safe).
"""
import bisect
import re
import shutil
import struct
import subprocess

import pe_image

FILE_HEADER = 20
SECTION_HEADER = 40
SYMBOL = 18
RELOCATION = 10
NRELOC_OVFL = 0x01000000
STATIC = 3


class Unsupported(Exception):
    pass


def _section_name(data, base, raw, strings_at):
    if raw.startswith(b"/") and raw[1:2] != b"/":
        offset = int(raw[1:].rstrip(b"\0").decode())
        end = data.index(b"\0", strings_at + offset)
        return data[strings_at + offset:end].decode("latin-1")
    if raw.startswith(b"//"):
        raise Unsupported("base64 section name")
    return raw.rstrip(b"\0").decode("latin-1")


class CoffObject:
    """The parts of a COFF object (at `base` inside `data`) this module reads or writes."""

    def __init__(self, data, base, size, machine=0x14C):
        self.data, self.base, self.size = data, base, size
        found, count, _, symbols_at, symbols, optional, _ = struct.unpack_from("<HHIIIHH", data, base)
        if found != machine:
            raise Unsupported("an object for another machine")
        self.symbols_at, self.symbols = base + symbols_at, symbols
        if symbols_at + symbols * SYMBOL > size:
            raise Unsupported("symbol table outside the object")
        strings_at = self.symbols_at + symbols * SYMBOL
        self.sections = []
        for i in range(count):
            at = base + FILE_HEADER + optional + SECTION_HEADER * i
            name = _section_name(data, base, bytes(data[at:at + 8]), strings_at)
            size_, raw_at, relocs_at = struct.unpack_from("<III", data, at + 16)
            nrelocs = struct.unpack_from("<H", data, at + 32)[0]
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append(dict(header=at, name=name, size=size_, raw=base + raw_at,
                                      relocs=base + relocs_at, nrelocs=nrelocs, flags=flags))

    def symbol(self, index):
        if index >= self.symbols:
            raise Unsupported("relocation names no symbol")
        at = self.symbols_at + SYMBOL * index
        value, section, _, storage, aux = struct.unpack_from("<IhHBB", self.data, at + 8)
        return at, value, section, storage, aux

    def relocations(self, s):
        if s["flags"] & NRELOC_OVFL:
            raise Unsupported("relocation count overflow")
        return [struct.unpack_from("<IIH", self.data, s["relocs"] + RELOCATION * i) for i in range(s["nrelocs"])]


def _records(data, start, size):
    """(offset, length, is_cie) of each record of an .eh_frame section's bytes."""
    at, out = 0, []
    while at < size:
        if at + 8 > size:
            raise Unsupported("truncated record")
        length, ident = struct.unpack_from("<II", data, start + at)
        if length == 0 or length == 0xFFFFFFFF or at + 4 + length > size:
            raise Unsupported("terminator, 64-bit or overlong record")
        out.append((at, 4 + length, ident == 0))
        at += 4 + length
    return out


def is_frame_section(name):
    """The object's unwind sections: .eh_frame, and .eh_frame$f of each inline function f."""
    return name == ".eh_frame" or name.startswith(".eh_frame$")


def prune_object(data, base, size, removed_sections):
    """Drops, in the object at data[base:base+size], the FDEs that describe a code section
    named in removed_sections (a name that occurs once in the object only), and the CIEs
    no kept FDE uses. Returns the names of the sections whose entries it dropped."""
    obj = CoffObject(data, base, size)
    names = [s["name"] for s in obj.sections]
    # A symbol other than the section's own pointing into the section would move.
    for i in range(obj.symbols):
        _, value, section, storage, _ = obj.symbol(i)
        if 0 < section <= len(names) and is_frame_section(names[section - 1]) and (value != 0 or storage != STATIC):
            raise Unsupported("a symbol inside an unwind section")
    dropped = set()
    for index, name in enumerate(names):
        if is_frame_section(name):
            dropped |= _prune_section(obj, index, names, removed_sections)
    return dropped


def _prune_section(obj, index, names, removed_sections):
    data, s = obj.data, obj.sections[index]
    relocs = obj.relocations(s)
    records = _records(data, s["raw"], s["size"])
    by_offset = {}
    for r in relocs:
        by_offset.setdefault(r[0], []).append(r)
    dropped, kept_fdes = set(), []
    for offset, length, is_cie in records:
        if is_cie:
            continue
        begin = by_offset.get(offset + 8, [])
        if len(begin) != 1:
            raise Unsupported("an FDE without one relocation of its start")
        target = obj.symbol(begin[0][1])[2]
        name = names[target - 1] if 0 < target <= len(names) else None
        if name in removed_sections and names.count(name) == 1:
            dropped.add(name)
        else:
            kept_fdes.append(offset)
    if not dropped:
        return set()
    covered = sum(len([r for r in relocs if o <= r[0] < o + n]) for o, n, _ in records)
    if covered != len(relocs):
        raise Unsupported("a relocation outside every record")

    old = bytes(data[s["raw"]:s["raw"] + s["size"]])
    used_cies = {o + 4 - struct.unpack_from("<I", old, o + 4)[0] for o in kept_fdes}
    new, new_relocs, new_at = bytearray(), [], {}
    for offset, length, is_cie in records:
        if offset not in used_cies and offset not in kept_fdes:
            continue
        new_at[offset] = len(new)
        record = bytearray(old[offset:offset + length])
        if not is_cie:
            cie = offset + 4 - struct.unpack_from("<I", record, 4)[0]
            if cie not in new_at:
                raise Unsupported("an FDE whose CIE is not an earlier record")
            struct.pack_into("<I", record, 4, len(new) + 4 - new_at[cie])
        for r in relocs:
            if offset <= r[0] < offset + length:
                new_relocs.append((r[0] - offset + len(new), r[1], r[2]))
        new += record
    data[s["raw"]:s["raw"] + s["size"]] = bytes(new) + bytes(s["size"] - len(new))
    for i, r in enumerate(new_relocs):
        struct.pack_into("<IIH", data, s["relocs"] + RELOCATION * i, *r)
    end = s["relocs"] + RELOCATION * len(new_relocs)
    data[end:s["relocs"] + RELOCATION * len(relocs)] = bytes(RELOCATION * (len(relocs) - len(new_relocs)))
    struct.pack_into("<I", data, s["header"] + 16, len(new))
    struct.pack_into("<H", data, s["header"] + 32, len(new_relocs))
    # The section symbol's auxiliary record repeats the size and relocation count.
    for i in range(obj.symbols):
        at, _, section, storage, aux = obj.symbol(i)
        if section == index + 1 and storage == STATIC and aux >= 1:
            struct.pack_into("<IH", data, at + SYMBOL, len(new), len(new_relocs))
    return dropped


def archive_members(data):
    """{member name: (offset, size)} of a GNU/COFF archive; names found twice are left out."""
    if data[:8] != b"!<arch>\n":
        raise Unsupported("not a regular archive")
    at, long_names, members, seen = 8, b"", {}, set()
    while at + 60 <= len(data):
        name = bytes(data[at:at + 16]).rstrip(b" ")
        size = int(bytes(data[at + 48:at + 58]).strip())
        body = at + 60
        if name == b"//":
            long_names = bytes(data[body:body + size])
        elif name not in (b"/", b"/SYM64/", b"/<ECSYMBOLS>/"):
            if name.startswith(b"/") and name[1:].isdigit():
                start = int(name[1:])
                name = long_names[start:long_names.index(b"\n", start)]
            name = name.rstrip(b"/").decode("latin-1")
            if name in seen:
                members.pop(name, None)
            else:
                members[name] = (body, size)
            seen.add(name)
        at = body + size + (size & 1)
    return members


def prune_file(source, target, removed):
    """Copies the archive or object `source` to `target` with the unwind entries of the
    removed code dropped. removed: {member name or None for a plain object: {sections}}.
    Returns {member name or None: {sections whose entries were dropped}}."""
    shutil.copyfile(source, target)
    with open(target, "rb") as f:
        data = bytearray(f.read())
    dropped = {}
    if data[:8] == b"!<arch>\n":
        members = archive_members(data)
        places = {m: members[m] for m in removed if m in members}
    else:
        places = {None: (0, len(data))} if None in removed else {}
    for member, (at, size) in places.items():
        saved = bytes(data[at:at + size])
        try:
            done = prune_object(data, at, size, removed[member])
        except (Unsupported, struct.error, ValueError, IndexError):
            data[at:at + size] = saved
            continue
        if done:
            dropped[member] = done
    with open(target, "wb") as f:
        f.write(data)
    return dropped


def split_input(input_file):
    """'path/lib.a(member)' -> (path/lib.a, member); 'path/x.obj' -> (path/x.obj, None)."""
    if input_file.endswith(")") and "(" in input_file:
        at = input_file.rindex("(", 0, input_file.rindex(")"))
        return input_file[:at], input_file[at + 1:-1]
    return input_file, None


def image_code_ranges(image):
    """[(rva, end)] of the executable sections and the image base, of a 32-bit PE image."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, symbols_at, symbols, optional_size = struct.unpack_from("<H4xIIH", image, pe + 6)
    optional = pe + 24
    image_base = struct.unpack_from("<I", image, optional + 28)[0]
    sections = []
    for i in range(count):
        at = optional + optional_size + 40 * i
        name = bytes(image[at:at + 8]).rstrip(b"\0")
        if name.startswith(b"/") and symbols_at:  # a long name, in the string table
            start = symbols_at + 18 * symbols + int(name[1:])
            name = bytes(image[start:image.index(b"\0", start)])
        vsize, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        sections.append((name, rva, vsize, raw_at, raw_size, flags))
    return image_base, sections


def check_image_frames(path):
    """Every FDE of a 32-bit image's .eh_frame must start inside executable code: an entry
    left behind for a removed function would point at nothing (or at address 0)."""
    with open(path, "rb") as f:
        image = f.read()
    image_base, sections = image_code_ranges(image)
    if struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 24)[0] != 0x10B:
        return 0
    frames = [s for s in sections if s[0] in (b".eh_fram", b".eh_frame")]  # stripped: 8 letters
    code = [(s[1], s[1] + s[2]) for s in sections if s[5] & 0x20000000]
    frames = [s for s in frames if not s[5] & 0x20000000 and s[4] >= 8]
    checked = 0
    for _, rva, vsize, raw_at, raw_size, _ in frames[:1]:
        at, end, encodings = raw_at, raw_at + min(vsize, raw_size), {}
        while at + 8 <= end:
            length, ident = struct.unpack_from("<II", image, at)
            if length == 0:
                break
            if ident == 0:
                encodings[at] = _cie_encoding(image, at + 8)
            else:
                cie = at + 4 - ident
                if cie not in encodings:
                    raise ValueError("%s: unwind entry at 0x%x names no CIE" % (path, rva + at - raw_at))
                value = struct.unpack_from("<i", image, at + 8)[0]
                enc = encodings[cie]
                if enc & 0x70 == 0x10:
                    begin = rva + (at + 8 - raw_at) + value
                elif enc & 0x70 == 0:
                    begin = (value & 0xFFFFFFFF) - image_base
                else:
                    raise ValueError("%s: unwind entry encoding 0x%x" % (path, enc))
                if not any(lo <= begin < hi for lo, hi in code):
                    raise ValueError("%s: unwind entry at 0x%x describes no code (0x%x)"
                                     % (path, rva + at - raw_at, begin & 0xFFFFFFFF))
                checked += 1
            at += 4 + length
    return checked


def _cie_encoding(image, at):
    """The pointer encoding (augmentation 'R') of the CIE whose version byte is at `at`."""
    at += 1
    end = image.index(b"\0", at)
    augmentation = image[at:end]
    at = end + 1
    _, at = pe_image.leb128(image, at)  # code alignment
    _, at = pe_image.leb128(image, at)  # data alignment (sleb, only skipped)
    at += 1                   # return address register (version 1)
    if not augmentation.startswith(b"z"):
        return 0
    _, at = pe_image.leb128(image, at)
    for c in augmentation[1:]:
        c = chr(c)
        if c == "R":
            return image[at]
        if c == "P":
            enc = image[at]
            at += 1 + {0x0: 4, 0x3: 4, 0xB: 4, 0x2: 2, 0xA: 2}[enc & 0x0F]
        elif c == "L":
            at += 1
    return 0


def _parse_cie(record, record_rva, read_word):
    """(what makes two CIEs alike, (personality field, its target) or None, LSDA encoding or
    None) of a CIE record whose every pointer is PC-relative; None for any other."""
    if record[8] != 1:
        return None
    a = 9
    e = record.index(b"\0", a)
    augmentation = bytes(record[a:e])
    a = e + 1
    if not augmentation.startswith(b"z"):
        return None
    _, a = pe_image.leb128(record, a)
    _, a = pe_image.leb128(record, a)
    a += 1
    _, a = pe_image.leb128(record, a)
    fde_enc, l_enc, personality = 0, None, None
    key = bytearray(record)
    for c in augmentation[1:]:
        c = chr(c)
        if c == "R":
            fde_enc = record[a]
            a += 1
        elif c == "L":
            l_enc = record[a]
            a += 1
        elif c == "P":
            enc = record[a]
            if enc & 0x7F != 0x1B:  # pc-relative, signed 4 bytes (maybe indirect)
                return None
            target = record_rva + a + 1 + struct.unpack_from("<i", record, a + 1)[0]
            # Indirect: the place holds the routine's address. Each object has a place
            # of its own, so two CIEs are alike when their places hold the same.
            same = read_word(target) if enc & 0x80 else target
            if same is None:
                return None
            struct.pack_into("<I", key, a + 1, same & 0xFFFFFFFF)
            personality = (a + 1, target)
            a += 5
        else:
            return None
    if fde_enc != 0x1B or (l_enc is not None and l_enc != 0x1B):
        return None
    return bytes(key[8:]), personality, l_enc


def _image_records(image, raw_at, end):
    """(file offset, CIE id, bytes) of each record of an image's .eh_frame up to the zero
    that ends it for the unwinder; None where a record is malformed."""
    out, at = [], raw_at
    while at + 8 <= end:
        length, ident = struct.unpack_from("<II", image, at)
        if length == 0:
            break
        if length == 0xFFFFFFFF or at + 4 + length > end:
            return None
        out.append((at, ident, image[at:at + 4 + length]))
        at += 4 + length
    return out


def frames_by_function(image, raw_at, end, rva, read_word):
    """What the unwinder learns about each function from an image's .eh_frame, by the
    function's address: its range, its CIE (personality read through its place), its
    LSDA's address and its instructions; None for records this does not understand."""
    found, cies = {}, {}
    records = _image_records(image, raw_at, end)
    if records is None:
        return None
    for at, ident, record in records:
        record = bytes(record)
        here = rva + (at - raw_at)
        if ident == 0:
            cies[at] = _parse_cie(record, here, read_word)
            if cies[at] is None:
                return None
        else:
            cie = cies.get(at + 4 - ident)
            if cie is None:
                return None
            begin = here + 8 + struct.unpack_from("<i", record, 8)[0]
            size, a = pe_image.leb128(record, 16)  # the augmentation data's length
            lsda = None
            if cie[2] is not None:
                value = struct.unpack_from("<i", record, a)[0]
                lsda = here + a + value if value else 0
            found[begin & 0xFFFFFFFF] = (record[12:16], cie[0], lsda, record[a + size:])
    return found


def _cfa_instructions(program, caf):
    """The instructions of a DWARF call frame program as (bytes, location advance), or
    None for a program with an instruction this does not know (or DW_CFA_set_loc)."""
    out, at = [], 0
    try:
        while at < len(program):
            op, first = program[at], at
            at += 1
            advance = 0
            if op >> 6 == 1:
                advance = (op & 0x3F) * caf
            elif op >> 6 == 2:
                _, at = pe_image.leb128(program, at)
            elif op >> 6 == 3 or op in (0x00, 0x0A, 0x0B):
                pass
            elif op in (0x02, 0x03, 0x04):
                size = {0x02: 1, 0x03: 2, 0x04: 4}[op]
                advance = int.from_bytes(program[at:at + size], "little") * caf
                at += size
            elif op in (0x06, 0x07, 0x08, 0x0D, 0x0E, 0x13, 0x2E):
                _, at = pe_image.leb128(program, at)
            elif op in (0x05, 0x09, 0x0C, 0x11, 0x12, 0x14, 0x15, 0x2F):
                _, at = pe_image.leb128(program, at)
                _, at = pe_image.leb128(program, at)
            elif op == 0x0F:
                size, at = pe_image.leb128(program, at)
                at += size
            elif op in (0x10, 0x16):
                _, at = pe_image.leb128(program, at)
                size, at = pe_image.leb128(program, at)
                at += size
            else:
                return None
            if at > len(program):
                return None
            out.append((bytes(program[first:at]), advance))
    except IndexError:
        return None
    return out


def _program_before(program, begin, limit, caf):
    """The instructions of a function's call frame program that the unwinder can read
    when every return address into the function is below `limit`: it runs a program only
    while the location is below the return address, so nothing from the first advance to
    `limit` or beyond is ever read (the epilogues after the last call). None where the
    program cannot be read; the program itself where nothing can go."""
    instructions = _cfa_instructions(program, caf)
    if instructions is None:
        return None
    loc, kept = begin, bytearray()
    for code, advance in instructions:
        if advance and loc + advance >= limit:
            return bytes(kept)
        loc += advance
        kept += code
    return bytes(program)


def _code_alignment(cie):
    """The code alignment factor of a CIE record."""
    end = cie.index(b"\0", 9)
    return pe_image.leb128(cie, end + 1)[0]


def _compact_records(image, raw_at, end, rva, read_word, dropped=frozenset(), start=0, limits=None):
    """The .eh_frame records of an image with each distinct CIE kept once: GCC gives every
    inline or template function (a COMDAT section of its own) a CIE of its own, and the
    PE linker, unlike the ELF one, never merges them. Every pointer in these records is
    PC-relative (checked), so each is re-aimed at its old target from its new place.
    The FDEs of the functions starting at an address of `dropped` are left out.
    The unwinder reads the records from `start` (an offset into the section) on: those
    before it stay as they are, where they are. Where `limits` gives a function's highest
    return address, its program keeps only what the unwinder can read (_program_before).
    Returns the new bytes, or None for records this does not understand."""
    out = bytearray()
    kept = {}      # canonical CIE -> its offset in out
    cie_at = {}    # old file offset of a CIE -> (its offset in out, whether its FDEs name an LSDA)
    records = _image_records(image, raw_at, end)
    if records is None:
        return None
    for at, ident, record in records:
        if at - raw_at < start:
            if at - raw_at + len(record) > start:
                return None
            if ident == 0:
                cie = _parse_cie(record, rva + (at - raw_at), read_word)
                if cie is None:
                    return None
                cie_at[at] = (len(out), cie[2] is not None, None)
            out += record
            continue
        if at - raw_at == start and len(out) != start:
            return None
        record = bytearray(record)
        if ident == 0:
            cie = _parse_cie(record, rva + (at - raw_at), read_word)
            if cie is None:
                return None
            personality, l_enc = cie[1], cie[2]
            key = cie[0]
            if key not in kept:
                kept[key] = len(out)
                if personality:
                    place = rva + len(out) + personality[0]
                    struct.pack_into("<i", record, personality[0], personality[1] - place)
                out += record
            cie_at[at] = (kept[key], l_enc is not None, _code_alignment(record))
        else:
            cie = at + 4 - ident
            if cie not in cie_at:
                return None
            new_cie, has_lsda, caf = cie_at[cie]
            begin = (rva + (at - raw_at) + 8 + struct.unpack_from("<i", record, 8)[0]) & 0xFFFFFFFF
            if begin in dropped:
                continue
            if limits and begin in limits and caf:
                size, a = pe_image.leb128(record, 16)
                program = _program_before(record[a + size:], begin, limits[begin], caf)
                if program is not None and len(program) < len(record) - a - size:
                    record = record[:a + size] + bytearray(program)
                    record += bytes(-len(record) % 4)  # records stay 4-byte aligned
                    struct.pack_into("<I", record, 0, len(record) - 4)
            here = len(out)
            struct.pack_into("<I", record, 4, here + 4 - new_cie)
            # Its function's start; then, after the augmentation data's length, its LSDA.
            fields = [8]
            if has_lsda:
                size, a = pe_image.leb128(record, 16)
                if size != 4 or a != 17:
                    return None
                fields.append(17)
            moved = (at - raw_at) - here
            for field in fields:
                value = struct.unpack_from("<i", record, field)[0]
                if value:  # zero is no pointer at all
                    struct.pack_into("<i", record, field, value + moved)
            out += record
    return bytes(out) + b"\0\0\0\0"


def _instructions(path, objdump, image_base):
    """(instruction starts, addresses of call instructions), as image RVAs, of a 32-bit
    image's executable code, from one linear disassembly; None where objdump fails."""
    done = subprocess.run([objdump, "-d", "-z", "--no-show-raw-insn", path],
                          capture_output=True, text=True, errors="replace")
    if done.returncode != 0:
        return None
    starts, calls, bad = [], set(), set()
    line_re = re.compile(r"^\s*([0-9a-f]+):\s+(\S.*)$")
    for line in done.stdout.splitlines():
        m = line_re.match(line)
        if not m:
            continue
        at, text = int(m.group(1), 16) - image_base, m.group(2)
        starts.append(at)
        # Anywhere in the line, so that a prefixed call ("bnd call") counts too.
        if "call" in text:
            calls.add(at)
        elif "(bad)" in text or text.startswith("."):
            bad.add(at)
    starts.sort()
    return starts, calls, bad


def call_free_functions(frames, code):
    """The start addresses, of the functions `frames` describes (start -> (range bytes,
    CIE, LSDA, instructions)), whose code calls nothing: no return address ever points
    into such a function, so no throw unwinds through it and its FDE is never read.
    `code` is _instructions' answer. A function counts only where the disassembly has an
    instruction starting at its first byte and one at its end (so every instruction in
    between was read in step), decoded all of it, and it names no LSDA."""
    starts, calls, bad = code
    boundary = set(starts)
    found = set()
    for begin, (size, _, lsda, _) in frames.items():
        end = begin + struct.unpack("<I", size)[0]
        if lsda or begin not in boundary or end not in boundary:
            continue
        lo, hi = bisect.bisect_left(starts, begin), bisect.bisect_left(starts, end)
        if any(a in calls or a in bad for a in starts[lo:hi]):
            continue
        found.add(begin)
    return found


def last_returns(frames, code):
    """By function start, the address after the last call instruction in the function
    (its highest return address), for the functions `frames` describes that call."""
    starts, calls, _ = code
    found = {}
    for begin, (size, _, _, _) in frames.items():
        end = begin + struct.unpack("<I", size)[0]
        lo, hi = bisect.bisect_left(starts, begin), bisect.bisect_left(starts, end)
        inside = [i for i in range(lo, hi) if starts[i] in calls]
        if inside and inside[-1] + 1 < len(starts):
            found[begin] = starts[inside[-1] + 1]
    return found


def _reads_alike(before, after, begin, limit, caf=1):
    """Whether the unwinder reads the same from two call frame programs of one function:
    the same instructions, except that after may end, padded with no-ops, where before
    goes on only at or past `limit`, the function's highest return address."""
    if before == after:
        return True
    if limit is None:
        return False
    old = _cfa_instructions(before, caf)
    new = _cfa_instructions(after, caf)
    if old is None or new is None:
        return False
    while new and new[-1][0] == b"\0":
        new.pop()
    if old[:len(new)] != new:
        return False
    rest = old[len(new):]
    loc = begin + sum(advance for _, advance in new)
    return not rest or all(code == b"\0" for code, _ in rest) or (rest[0][1] and loc + rest[0][1] >= limit)


def _calls_covered(frames, calls):
    """The call instructions lying inside some function `frames` describes."""
    ranges = sorted((b, b + struct.unpack("<I", v[0])[0]) for b, v in frames.items())
    firsts = [r[0] for r in ranges]
    covered = set()
    for at in calls:
        i = bisect.bisect_right(firsts, at) - 1
        if i >= 0 and ranges[i][0] <= at < ranges[i][1]:
            covered.add(at)
    return covered


def compact_image_frames(path, objdump=None, unwinder_start=None):
    """Rewrites a linked 32-bit image's .eh_frame with each distinct CIE once (see
    _compact_records) and, given the toolchain's objdump and the address where the
    unwinder starts reading (the start of crtbegin's records, which it registers), without
    the FDEs of functions that call nothing (call_free_functions); the records before that
    address stay as they are. The section keeps its place in memory.
    Returns the bytes saved (0 where the image is left as it was)."""
    with open(path, "rb") as f:
        image = pe_image.Image(f.read())
    if image.magic != 0x10B:
        return 0
    h = image.section(b".eh_fram", b".eh_frame")
    if h is None:
        return 0
    vsize, rva, raw_size, raw_at = image.header(h)

    def read_word(at_rva):
        """The 4 bytes at an address of the image, None where no file data holds them."""
        at = image.offset(at_rva, 4)
        return None if at is None else struct.unpack_from("<I", image.data, at)[0]

    end = raw_at + min(vsize, raw_size)
    before = frames_by_function(image.data, raw_at, end, rva, read_word)
    if before is None:
        return 0
    image_base = image_code_ranges(image.data)[0]
    start = 0 if unwinder_start is None else unwinder_start - image_base - rva
    if not 0 <= start < end - raw_at:
        return 0
    code = _instructions(path, objdump, image_base) if objdump and unwinder_start is not None else None
    dropped = call_free_functions(before, code) if code else set()
    if dropped and start:
        unread = frames_by_function(image.data, raw_at, raw_at + start, rva, read_word)
        if unread is None:
            return 0
        dropped -= unread.keys()
    limits = last_returns(before, code) if code else None
    records = _compact_records(image.data, raw_at, end, rva, read_word, dropped, start, limits)
    if records is None:
        return 0
    saved = image.replace(h, records)
    if saved:
        after = frames_by_function(image.data, raw_at, raw_at + len(records), rva, read_word)
        expected = {k: v for k, v in before.items() if k not in dropped}
        if after is None or after.keys() != expected.keys() or any(
                after[k][:3] != v[:3] or not _reads_alike(v[3], after[k][3], k, (limits or {}).get(k))
                for k, v in expected.items()):
            raise ValueError("%s: the unwind entries changed in the rewrite" % path)
        # Every call made from a function with an entry is still made from one.
        if code and _calls_covered(after, code[1]) != _calls_covered(before, code[1]):
            raise ValueError("%s: a function that calls lost its unwind entry" % path)
    if saved:
        with open(path, "wb") as f:
            f.write(image.data)
    return saved
