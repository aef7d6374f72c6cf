#!/usr/bin/env python3
"""Runs a command and samples one process of it every 10 ms: wall time, peak
private (anonymous) and peak resident memory, CPU time. Prints one line:

    wall-ms peak-private-KB peak-resident-KB cpu-ms bits exit-code

    sample_process.py EXE -- COMMAND...   the process running the Windows program EXE
    sample_process.py - -- COMMAND...     the command's own process (a Linux program)

Under Wine the process `wine X.exe` starts is not always the program: with
wine32 present, /usr/bin/wine is the 32-bit loader, which runs a 64-bit program
through start.exe in a new process that is no child of it. So the program is
found by its command line (Wine gives it the Windows one) among the processes
of this Wine prefix, whichever loader runs it; bits is that loader's
("-" for a Linux program).
"""
import os
import subprocess
import sys
import time


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def runs_exe(pid, exe, prefix):
    cmdline = read(f"/proc/{pid}/cmdline")
    if not cmdline:
        return False
    first = cmdline.split(b"\0")[0].decode("utf-8", "replace")
    if first.replace("\\", "/").rsplit("/", 1)[-1].lower() != exe.lower():
        return False
    # Another work tree may run the same benchmark in its own prefix.
    environ = read(f"/proc/{pid}/environ") or b""
    return f"WINEPREFIX={prefix}".encode() in environ.split(b"\0")


def find(exe, prefix, launched):
    for name in [str(launched)] + os.listdir("/proc"):
        if name.isdigit() and runs_exe(name, exe, prefix):
            return int(name)
    return None


def sample(pid):
    """(private KB, peak resident KB, cpu ticks), or None once the process is gone."""
    status, stat = read(f"/proc/{pid}/status"), read(f"/proc/{pid}/stat")
    if status is None or stat is None:
        return None
    fields = {}
    for line in status.decode().splitlines():
        key, _, value = line.partition(":")
        fields[key] = value.split()
    # The command name in stat may hold blanks; the fields after it do not.
    rest = stat.decode().rsplit(")", 1)[1].split()
    anon = int(fields.get("RssAnon", ["0"])[0])
    hwm = int(fields.get("VmHWM", ["0"])[0])
    return anon, hwm, int(rest[11]) + int(rest[12])


def bits(pid):
    try:
        loader = os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return "?"
    return "64" if "64" in loader else "32"


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.exit(__doc__)
    exe, command = sys.argv[1], sys.argv[3:]
    prefix = os.environ.get("WINEPREFIX", "")
    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    target = child.pid if exe == "-" else None
    anon = hwm = cpu = 0
    kind = "-" if exe == "-" else "?"
    # Until the command has ended and so has the program (which may outlive its launcher).
    while True:
        done = child.poll() is not None
        if target is None:
            target = find(exe, prefix, child.pid)
        s = sample(target) if target is not None else None
        if s is not None:
            anon, hwm, cpu = max(anon, s[0]), max(hwm, s[1]), s[2]
            if kind == "?":
                kind = bits(target)
        elif done:
            break
        time.sleep(0.01)
    wall = (time.monotonic() - start) * 1000
    if target is None:
        print("warning: no process ran " + exe, file=sys.stderr)
    print(f"{wall:.0f} {anon} {hwm} {cpu * 1000 // os.sysconf('SC_CLK_TCK')} {kind} {child.returncode}")


if __name__ == "__main__":
    main()
