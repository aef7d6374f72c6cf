"""Rewrites of a linked PE image's unwind data, done by the link launcher.

A section given shorter contents keeps its place in memory (the loader zero-fills
the rest of it); the later sections' file data moves up, and the header checksum is
recomputed. Nothing here changes an address the program uses.
"""
import bisect
import struct


def leb128(data, at, signed=False):
    """The LEB128 number at `at` and where it ends."""
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return (value - (1 << shift) if signed and byte & 0x40 else value), at


class Image:
    def __init__(self, data):
        self.data = bytearray(data)
        d = self.data
        self.pe = struct.unpack_from("<I", d, 0x3C)[0]
        self.optional = self.pe + 24
        self.magic = struct.unpack_from("<H", d, self.optional)[0]
        count = struct.unpack_from("<H", d, self.pe + 6)[0]
        optional_size = struct.unpack_from("<H", d, self.pe + 20)[0]
        self.headers = [self.optional + optional_size + 40 * i for i in range(count)]
        self.directories = self.optional + (96 if self.magic == 0x10B else 112)

    def name(self, h):
        return bytes(self.data[h:h + 8]).rstrip(b"\0")

    def header(self, h):
        """(virtual size, rva, raw size, raw offset) of a section."""
        return struct.unpack_from("<IIII", self.data, h + 8)

    def section(self, *names):
        found = [h for h in self.headers if self.name(h) in names]
        return found[0] if len(found) == 1 else None

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def offset(self, rva, size=1):
        """The file offset of `size` bytes at an address, None where no file data holds them."""
        for h in self.headers:
            vsize, at_rva, raw_size, raw_at = self.header(h)
            if at_rva <= rva and rva + size <= at_rva + min(vsize, raw_size):
                return raw_at + rva - at_rva
        return None

    def relocated(self, rva, end):
        """True when a base relocation falls in [rva, end)."""
        table_rva, table_size = self.directory(5)
        at = self.offset(table_rva, table_size) if table_size else None
        if at is None:
            return bool(table_size)
        stop = at + table_size
        while at + 8 <= stop:
            page, size = struct.unpack_from("<II", self.data, at)
            if size < 8:
                break
            for i in range((size - 8) // 2):
                entry = struct.unpack_from("<H", self.data, at + 8 + 2 * i)[0]
                if entry >> 12 and rva <= page + (entry & 0xFFF) < end:
                    return True
            at += size
        return False

    def replace(self, h, contents):
        """Gives section `h` these contents, shorter than its file data; returns the bytes
        the file loses (0, and nothing changed, where data outside the sections would move)."""
        d = self.data
        symbols_at = struct.unpack_from("<I", d, self.pe + 12)[0]
        if symbols_at or any(self.directory(4)) or any(self.directory(6)):
            return 0  # a symbol table, a signature or debug data lies at a file offset
        file_align = struct.unpack_from("<I", d, self.optional + 36)[0]
        vsize, rva, raw_size, raw_at = self.header(h)
        new_raw = -(-len(contents) // file_align) * file_align
        saved = raw_size - new_raw
        if saved <= 0 or len(contents) > vsize:
            return 0
        d[raw_at:] = contents + bytes(new_raw - len(contents)) + d[raw_at + raw_size:]
        struct.pack_into("<II", d, h + 8, len(contents), rva)
        struct.pack_into("<I", d, h + 16, new_raw)
        for other in self.headers:
            at = struct.unpack_from("<I", d, other + 20)[0]
            if at > raw_at:
                struct.pack_into("<I", d, other + 20, at - saved)
        initialized = struct.unpack_from("<I", d, self.optional + 8)[0]
        struct.pack_into("<I", d, self.optional + 8, max(0, initialized - saved))
        if struct.unpack_from("<I", d, self.optional + 64)[0]:
            struct.pack_into("<I", d, self.optional + 64, checksum(d, self.optional + 64))
        return saved


def checksum(image, field_at):
    """The PE header checksum of `image`, its own field counted as zero."""
    data = bytearray(image)
    data[field_at:field_at + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def _lsda_pointers(block, at):
    """Offsets in `block` of the PC-relative type pointers of the GCC exception table that
    starts at `at`, and where the table ends; None for a table this does not understand."""
    try:
        if block[at] != 0xFF:  # landing pads relative to the function's start
            return None
        ttype_enc = block[at + 1]
        at += 2
        base = None
        if ttype_enc != 0xFF:
            if ttype_enc & 0x0F != 0x0B:  # signed 4 bytes
                return None
            offset, at = leb128(block, at)
            base = at + offset
        if block[at] != 0x01:  # call sites in ULEB128
            return None
        length, at = leb128(block, at + 1)
        table, end_calls = at, at + length
        actions = set()
        while at < end_calls:
            for _ in range(3):
                _, at = leb128(block, at)
            action, at = leb128(block, at)
            if action:
                actions.add(end_calls + action - 1)
        if at != end_calls:
            return None
        types, end = 0, end_calls
        seen = set()
        pending = sorted(actions)
        while pending:
            record = pending.pop()
            if record in seen:
                continue
            seen.add(record)
            kind, next_at = leb128(block, record, signed=True)
            displacement, after = leb128(block, next_at, signed=True)
            end = max(end, after)
            if kind < 0:
                return None  # a dynamic throw() list: C++20 code has none
            types = max(types, kind)
            if displacement:
                pending.append(next_at + displacement)
        if types:
            if base is None or base - 4 * types < end:
                return None
            end = base
        elif base is not None:
            end = max(end, base)
        if end > len(block) or table > end:
            return None
        pcrel = ttype_enc & 0x70 == 0x10
        if types and not pcrel:
            return None  # absolute pointers would carry base relocations
        return [base - 4 * i for i in range(1, types + 1)], end
    except IndexError:
        return None


def _leaf(block):
    """True for unwind information without codes, frame register or handler."""
    return block[0] >> 3 == 0 and block[2] == 0 and block[3] == 0


def unwind_by_function(image):
    """What the system's unwinder learns about each function of a 64-bit image, by the
    function's start: its end, its unwind codes, and any handler with its data (GCC's
    exception tables with their type pointers read as the addresses they name, padding
    left out); None where the table cannot be read."""
    d = image.data
    x = image.section(b".xdata")
    table_rva, table_size = image.directory(3)
    table = image.offset(table_rva, table_size) if table_size else None
    if x is None or table is None:
        return None
    vsize, rva, raw_size, raw_at = image.header(x)
    end_rva = rva + min(vsize, raw_size)
    entries = [struct.unpack_from("<III", d, table + 12 * i) for i in range(table_size // 12)]
    starts = sorted({e[2] for e in entries})
    found = {}
    for begin, end, start in entries:
        if not rva <= start < end_rva:
            return None
        following = bisect.bisect_right(starts, start)
        stop = starts[following] if following < len(starts) else end_rva
        block = bytearray(d[raw_at + start - rva:raw_at + stop - rva])
        if _leaf(block):
            continue  # unwound as a leaf function, with an entry or without
        info = 4 + 2 * ((block[2] + 1) & ~1)
        handler = None
        if block[0] >> 3 & 3:
            pointers = _lsda_pointers(block, info + 4)
            for at in pointers[0] if pointers else []:
                value = struct.unpack_from("<i", block, at)[0]
                struct.pack_into("<I", block, at, (start + at + value) & 0xFFFFFFFF if value else 0)
            handler = bytes(block[info:]).rstrip(b"\0")
        found[begin] = (end, bytes(block[:info]), handler)
    return found


def share_unwind_info(path):
    """Rewrites a 64-bit image's .xdata so that functions with the same unwind information
    share one copy (GCC emits one per function, and most are alike); functions whose
    information says nothing lose their entry. A block with a handler moves whole: its GCC
    exception table's type pointers are PC-relative and are re-aimed, and blocks alike once
    those are read as the addresses they name are shared; handler data this does not
    understand leaves the image as it was. Returns the bytes saved."""
    with open(path, "rb") as f:
        image = Image(f.read())
    if image.magic != 0x20B:
        return 0
    d = image.data
    x = image.section(b".xdata")
    table_rva, table_size = image.directory(3)
    table = image.offset(table_rva, table_size) if table_size else None
    if x is None or table is None:
        return 0
    vsize, rva, raw_size, raw_at = image.header(x)
    end_rva = rva + min(vsize, raw_size)
    if image.relocated(rva, end_rva):
        return 0
    entries = [table + 12 * i for i in range(table_size // 12)]
    starts = sorted({struct.unpack_from("<I", d, e + 8)[0] for e in entries})
    if not starts or starts[0] < rva or starts[-1] >= end_rva:
        return 0
    # The blocks lie back to back: each runs to the next one's start.
    handlers = {}
    blocks = []
    for i, start in enumerate(starts):
        stop = starts[i + 1] if i + 1 < len(starts) else end_rva
        block = bytes(d[raw_at + start - rva:raw_at + stop - rva])
        if len(block) < 4 or block[0] & 7 != 1:
            return 0
        flags, codes = block[0] >> 3, block[2]
        info = 4 + 2 * ((codes + 1) & ~1)
        if flags & 4 or info > len(block):
            return 0  # chained information names another entry
        if flags & 3:
            if info + 4 > len(block):
                return 0
            handlers.setdefault(struct.unpack_from("<I", block, info)[0], []).append(len(blocks))
        elif block[info:].strip(b"\0"):
            return 0  # more than unwind codes and padding
        blocks.append((start, flags, info, block))
    # Handler data: GCC's exception tables (moved with their type pointers re-aimed), or a
    # scope table of image addresses (moved as it is).
    pointers = {}
    for handler, users in handlers.items():
        for i in users:
            start, flags, info, block = blocks[i]
            found = _lsda_pointers(block, info + 4)
            if found is not None and not block[found[1]:].strip(b"\0"):
                pointers[i] = found[0]
                continue
            count = struct.unpack_from("<I", block, info + 4)[0] if info + 8 <= len(block) else -1
            if count < 0 or info + 8 + 16 * count > len(block) or block[info + 8 + 16 * count:].strip(b"\0"):
                return 0
            pointers[i] = []
    out = bytearray()
    kept, moved = {}, {}
    for i, (start, flags, info, block) in enumerate(blocks):
        if _leaf(block):
            moved[start] = None
            continue
        if not flags & 3:
            key = block[:info]
            if key not in kept:
                kept[key] = rva + len(out)
                out += key
            moved[start] = kept[key]
            continue
        # Alike blocks with a handler are shared too: alike means the same bytes with
        # the type pointers naming the same addresses (landing pads are offsets into
        # whichever function uses the block).
        key = bytearray(block)
        for at in pointers[i]:
            value = struct.unpack_from("<i", key, at)[0]
            if value:
                struct.pack_into("<I", key, at, (start + at + value) & 0xFFFFFFFF)
        key = bytes(key)
        if key in kept:
            moved[start] = kept[key]
            continue
        new = rva + len(out)
        block = bytearray(block)
        for at in pointers[i]:
            value = struct.unpack_from("<i", block, at)[0]
            if value:
                struct.pack_into("<i", block, at, value + start - new)
        kept[key] = moved[start] = new
        out += block
    before = unwind_by_function(image)
    # A function whose information holds no codes and no handler changes no register and
    # no stack: Windows unwinds one without an entry the same way (as a leaf function), so
    # its entry goes.
    pdata = image.section(b".pdata")
    if pdata is None or image.header(pdata)[1] != table_rva:
        return 0
    table_bytes = bytearray()
    for e in entries:
        begin, end, start = struct.unpack_from("<III", d, e)
        if moved[start] is not None:
            table_bytes += struct.pack("<III", begin, end, moved[start])
    d[table:table + table_size] = table_bytes + bytes(table_size - len(table_bytes))
    struct.pack_into("<I", d, image.directories + 8 * 3 + 4, len(table_bytes))
    saved = image.replace(pdata, bytes(table_bytes))  # 0 where the file cannot shrink
    saved += image.replace(x, bytes(out))
    if saved and unwind_by_function(image) != before:
        raise ValueError("%s: the unwind information changed in the rewrite" % path)
    if saved:
        with open(path, "wb") as f:
            f.write(d)
    return saved
