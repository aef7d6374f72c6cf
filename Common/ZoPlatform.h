// The narrow interface between the portable core and the operating system.
// ZoPlatform_win.cpp serves it on Windows, ZoPlatform_posix.cpp on Linux, where
// the folder values and the command line can be set by tests.
#pragma once

#include <cstdio>

#include "ZoTypes.h"

namespace ZoPlatform {

// The 8-bit system code page (ANSI). Linux: set by tests, default 1252.
WideString AnsiToWide(const AnsiString& bytes);
AnsiString WideToAnsi(const WideString& text);
void SetAnsiCodePage(unsigned codePage);  // Linux only; ignored on Windows

WideString GetEnv(const char* name);  // through the 8-bit environment interface
WideString SpecialFolderPath(int csidl);  // without trailing backslash; empty on failure
WideString ModuleFileName();             // the running program's file
WideString CommandLine();                // the process's wide command line
WideString TempPath();                   // the platform's temporary path, as it reports it
WideString LongPathName(const WideString& path);  // empty on failure
WideString NewGuid();                    // registry form, upper case, braces
// True on the thread that started the program (the one that ran the statics'
// initialisers); false on every thread it starts.
bool OnMainThread();
bool DirectoryExists(const WideString& path);
bool CreateDir(const WideString& path);
// Creates a file that did not exist, for writing, never through a link: a
// name already taken (by a file, a folder or a link, even a dangling one)
// sets taken and gives null, as does any other failure. The caller closes
// what it gets.
std::FILE* CreateNewFile(const WideString& path, bool& taken);
// Removes a file by its name: a link goes itself, never what it leads to; a
// folder stays. False when nothing was removed.
bool RemoveFileName(const WideString& path);

#ifndef _WIN32
// Test hooks for the values Windows would supply.
void SetSpecialFolder(int csidl, const WideString& path);
void SetModuleFileName(const WideString& path);
void SetCommandLine(const WideString& commandLine);
// Maps a Windows-style path onto the Linux file system (backslashes become slashes).
std::string NativePath(const WideString& path);
#endif

}  // namespace ZoPlatform
