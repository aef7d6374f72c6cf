// Ending the running programs of a product before its files are written or
// removed. Processes are found by a snapshot and matched by the full path of
// their executable, never by a name alone, so a program of the same name in
// another folder is left alone; so are this process, the one that started it
// (an upgrading installer waits for us, and may share a product file's name)
// and other copies of this program (they wait for the product's lock).
#pragma once

#include <windows.h>

#include <vector>

#include "ZoTypes.h"

class TZoProcessfn {
public:
    TZoProcessfn() = delete;

    // The processes whose executable is one of the files (compared without
    // regard to letter case, short and long names alike), less this process, its
    // parent and other processes of this program's own file. Processes that cannot be opened to be ended are not listed.
    static std::vector<DWORD> FindRunningFrom(const std::vector<WideString>& files);

    // Ends those processes and waits on each until it has gone, waitMs at most
    // in all. Returns how many were ended; nothing is waited for when none ran.
    static int EndRunningFrom(const std::vector<WideString>& files, DWORD waitMs);
};
