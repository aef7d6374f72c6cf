// The command lines of the installer and the uninstaller. One argument
// "/Silent" or "/Auto" (any letter case) chooses the mode, as it always did.
// Beside it a deployment tool may give switches, each at most once, in any
// order and letter case; a line with anything else (an unknown word, a switch
// twice, a switch without its mode, an empty value) is no deployment line and
// the program shows its window, as for any other line. /LANG=TAG alone (or
// beside the scope switch) is a line too: the window, in that language.
// A new switch is one row in the table of SetupCommandLine.cpp and one field here.
#pragma once

#include <optional>
#include <vector>

#include "ZoTypes.h"

enum class TRunMode : uint8_t { Window, Silent, Auto };

struct TSetupCommandLine {
    TRunMode mode = TRunMode::Window;
    std::optional<WideString> installDir;  // /DIR=PATH: the destination, checked as a typed one
    std::optional<WideString> logPath;     // /LOG=PATH: the log's file instead of one in %TEMP%
    bool noRun = false;                    // /NORUN: nothing started at the end
    bool noRestart = false;                // /NORESTART: accepted; nothing here restarts the machine
    std::optional<WideString> language;    // /LANG=TAG: the language spoken, over the project's
};

// args: the arguments after the program's own name (SplitCommandLine's, element 0 dropped).
TSetupCommandLine ParseSetupCommandLine(const std::vector<WideString>& args);
// The uninstaller's: "/SILENT", alone or with /LOG=PATH; the mode is Window or Silent.
// Both take /LANG=TAG.
TSetupCommandLine ParseUninstallCommandLine(const std::vector<WideString>& args);
// This process's arguments, as ArgAt counts them.
std::vector<WideString> ProcessArguments();

// Opens the run's log: the /LOG file when the line names one, else a new one
// named after product and role in tempDir. A /LOG file that cannot be made
// costs the run nothing: the log goes to tempDir and says so.
void OpenRunLog(const TSetupCommandLine& line, const WideString& tempDir, const WideString& product,
                const WideString& role);
