// Where the programs load system DLLs from. An installer is usually started
// from a Downloads folder that holds whatever a web page saved there; Windows
// looks for a DLL beside the program (and in the current folder) before the
// system folder, so a planted "secur32.dll" would run inside an elevated
// installer. The programs call RestrictDllSearch first thing; the DLLs outside
// the system's KnownDLLs are delay-imported (cmake/delay-import.py), and each
// is loaded by its full path in the system folder when first called.
#pragma once

#include <windows.h>

#include "ZoTypes.h"

// Later LoadLibrary calls of this process, ours and the system DLLs', search
// the system folder only (SetDefaultDllDirectories); where that is missing
// (Windows 7 without KB2533623), at least not the current folder.
void RestrictDllSearch();

// The full path of a file in the system folder ("C:\Windows\system32\NAME",
// which the system redirects to SysWOW64 for a 32-bit program on 64-bit
// Windows); empty when the folder is unknown. Start system programs and load system DLLs
// by this path, never by a bare name.
WideString SystemFilePath(const WideString& name);
