// Windows process and shell utilities: running programs, the temporary folder,
// message boxes and opening documents and web addresses. Failures come back as
// results (exit code 1, an empty string, a shell value of 32 or less), never as
// messages or exceptions.
#pragma once

#include <windows.h>

#include "ZoTypes.h"

class TZoWinfn {
public:
    TZoWinfn() = delete;

    // Runs the command line (unchanged, no application name) in a new console
    // and waits without time limit. Returns the exit code, 1 if it cannot start.
    static int32_t RunAndWait(const WideString& commandLine);
    // Runs a console command line hidden and relays its output to our standard
    // output, one chunk per 300 ms at most, each without its last byte.
    static int32_t RunHidden(const WideString& commandLine);
    // ShellExecuteW; with bringToFront, lets the started program (found by its
    // executable name 300 ms later) take the foreground.
    static int32_t ShellRun(HWND owner, const WideString& verb, const WideString& file, const WideString& params,
                            const WideString& dir, int32_t showCmd, bool bringToFront);

    // The bring-to-front walk: the first process whose executable file name
    // equals the name part of file, ignoring case; 0 when none.
    static DWORD FindProcessByName(const WideString& file);

    // The temporary folder in its long form with a trailing backslash; empty on failure.
    static WideString GetTempDir();

    static int32_t ShowMessageBox(HWND owner, const WideString& text, const WideString& caption, UINT type);
    static int32_t ShowInfoBox(HWND owner, const WideString& text, const WideString& caption);

    // Out of memory ends the program with one line and exitCode, never a crash
    // text: a message box, or standard output when silent, and the log. Set at
    // the entry; from then on std::bad_alloc that no caller handles (through
    // std::terminate, a window's handler or the entry) comes to EndOutOfMemory.
    static void EndOnOutOfMemory(int exitCode, const WideString& text, bool silent);
    [[noreturn]] static void EndOutOfMemory();

    // Opens a document or address with its associated program.
    static int32_t ShellOpen(const WideString& target);
    // ShellOpen, falling back to "iexplore.exe" with the address.
    static void OpenUrl(const WideString& address);
};
