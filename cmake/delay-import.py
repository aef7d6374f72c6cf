#!/usr/bin/env python3
"""Makes a delay-import library of a system DLL from MinGW's import library.

A program linked against it does not load the DLL when it starts, but at the
first call of one of its functions, through LoadLibrary, which by then searches
only the system folder (the programs call SetDefaultDllDirectories first). A
DLL that is not one of the system's KnownDLLs would otherwise be looked for
beside the program first, where anyone can put a file of that name.

    delay-import.py NM DLLTOOL IMPORT_LIB DLL_NAME OUT.def OUT.a OUT-keep.ld

OUT-keep.ld is a linker script that names every function's stub as used. The
32-bit linker drops the stub of a function that code calls only through its
__imp_ pointer (as dllimport declarations do), although the delay-load table
still points at it, and the call then jumps to address 0; linking the script
keeps them. (The 64-bit linker keeps them by itself.)
"""
import subprocess
import sys


def exports(nm, import_lib):
    """The functions the import library names, as dlltool wants them in a .def
    (32-bit: with their @N stack size, which --kill-at drops from the DLL name)."""
    out = subprocess.run([nm, "-P", "--defined-only", import_lib], capture_output=True, text=True, check=True).stdout
    names = set()
    for line in out.splitlines():
        symbol = line.split(" ", 1)[0]
        if not symbol.startswith("__imp_"):
            continue
        name = symbol[len("__imp_"):]
        if "@" in name and name.startswith("_"):
            name = name[1:]  # the 32-bit C name's leading underscore
        names.add(name)
    if not names:
        raise SystemExit("delay-import: %s names no functions" % import_lib)
    return sorted(names)


def main(argv):
    if len(argv) != 8:
        sys.stderr.write(__doc__)
        return 2
    nm, dlltool, import_lib, dll, def_file, out, keep = argv[1:]
    names = exports(nm, import_lib)
    with open(def_file, "w") as f:
        f.write('LIBRARY "%s"\nEXPORTS\n' % dll)
        for name in names:
            f.write("    %s\n" % name)
    with open(keep, "w") as f:
        # The stubs' symbols: the 32-bit C names carry a leading underscore.
        stub = (lambda n: "_" + n) if any("@" in n for n in names) else (lambda n: n)
        f.write("EXTERN(%s)\n" % " ".join('"%s"' % stub(n) for n in names))
    return subprocess.call([dlltool, "--kill-at", "--input-def", def_file, "--dllname", dll,
                            "--output-delaylib", out])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
