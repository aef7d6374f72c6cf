// Closing the running programs of a product before its files are written or
// removed. Processes are found by a snapshot and matched by the full path of
// their executable, never by a name alone, so a program of the same name in
// another folder is left alone; so are this process and other copies of this
// program (they wait for the product's lock). The program that started this
// one is treated like any other: an in-product update must not meet its own
// locked file.
//
// A program is asked to close the way Windows asks at shut-down, so that it can
// save its work: through the Restart Manager where it knows exactly these
// processes, else by WM_QUERYENDSESSION/WM_ENDSESSION to its top-level windows
// and WM_CLOSE to the visible ones (a console program through its console's
// window). Only what is still running after that is ended, when the person
// says so or when no one is there to ask.
#pragma once

#include <windows.h>

#include <vector>

#include "ZoClosePrograms.h"
#include "ZoFnRef.h"
#include "ZoTypes.h"
#include "ZoWinHandles_win.h"

struct TRunningProgram {
    TUniqueHandle Process;  // open for waiting and ending: the same process, whatever its id becomes
    DWORD Pid = 0;
    WideString Image;  // the full path of its executable
    WideString Title;  // the title of its first visible top-level window; empty without one
    // How it is listed: "Title (name.exe)", or the file name alone.
    WideString Shown() const;
};

// Asks the person about the programs (their Shown() texts): first whether to
// close them (Close or Cancel), then about those still running (Wait, End or
// Cancel). Empty: no one is there, so the rest is ended.
using TClosePrompt = TFnRef<TCloseChoice(const std::vector<WideString>& programs, bool stillRunning)>;

class TZoProcessfn {
public:
    TZoProcessfn() = delete;

    // The processes whose executable is one of the files (compared without
    // regard to letter case, short and long names alike), less this process and
    // other processes of this program's own file. Processes that cannot be
    // opened to be ended are not listed.
    static std::vector<TRunningProgram> ListRunningFrom(const std::vector<WideString>& files);
    static std::vector<DWORD> FindRunningFrom(const std::vector<WideString>& files);

    // Ends those processes at once and waits on each until it has gone, waitMs
    // at most in all. Returns how many were ended; nothing is waited for when none ran.
    static int EndRunningFrom(const std::vector<WideString>& files, DWORD waitMs);

    // Asks the programs running from files to close and waits for them, waitMs
    // at most in all, calling pump every 100 ms meanwhile. What still runs is
    // named to prompt again (Wait: another waitMs), or, without a prompt or
    // when it says End, ended and logged as such (texts' log lines). False when
    // the person cancelled: nothing was ended (what closed when asked stays closed).
    static bool CloseRunningFrom(const std::vector<WideString>& files, TClosePrompt prompt, DWORD waitMs,
                                 TFnRef<void()> pump, const TCloseProgramsTexts& texts);

    // The programs holding file, as the system can tell: the Restart
    // Manager's names, and the processes running from it. Empty when none is known.
    static std::vector<WideString> HoldersOf(const WideString& file);
};
