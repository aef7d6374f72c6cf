// Builds the full installer, and on request the online installer, from a
// project: a setup script whose file entries name files on this machine.
#pragma once

#include <functional>
#include <vector>

#include "PackageFormat.h"
#include "SetupProject.h"
#include "ZoTypes.h"


// The installer's and uninstaller's bitness. 32-bit is the default: earlier
// installations registered themselves in the 32-bit registry view, and a
// 32-bit program runs on every Windows the installer targets.
enum class TTargetArch { Default, X86, X64 };

struct TBuildOptions {
    WideString ProjectFile;
    WideString OutputDir;  // empty: the project's folder
    // empty: the first of StubCandidates() of the wanted bitness; a stub given
    // here decides the bitness itself (and must match Arch when that is set).
    WideString StubFile;
    TTargetArch Arch = TTargetArch::Default;
    // Places Uninstall.exe in the install folder ({app}) unless the file list
    // already carries one, so every installation can be uninstalled.
    bool AddUninstaller = false;
    // empty: the first of UninstallerCandidates() with the stub's bitness
    WideString UninstallerFile;
    WideString ToolFolder;  // where the stub and uninstaller are looked for; empty: the tool's
    unsigned Threads = 0;  // 0: one per core
    // Variables set from the command line: they replace the project's values.
    std::vector<std::pair<WideString, WideString>> Variables;
    // Plain bytes done and in all, while the product files are compressed.
    std::function<void(uint64_t done, uint64_t total)> Progress;
};

struct TBuildResult {
    WideString FullSetup;   // the files written
    WideString OnlineSetup; // empty unless BuildMiniSetup
    uint64_t Files = 0;     // product file entries, empty files included
    uint64_t BytesIn = 0;   // their plain bytes
    uint64_t FullBytes = 0, OnlineBytes = 0;
    // What builds but will not work as meant, one line each (a program to run
    // that the package does not install).
    std::vector<WideString> Warnings;
    TTargetArch Arch = TTargetArch::Default;  // the stub's: X86 or X64
};

class TProjectBuilder {
public:
    // Everything is checked before the first output byte; a failure raises an
    // Exception whose message names the file at fault, and leaves no output.
    static TBuildResult Build(const TBuildOptions& options);

    // The project loaded with its variables applied to every item, its GUID
    // checked, and each file entry expanded into one entry per real file
    // (sorted, ResID, FileBytes and LastWriteDate filled in). files receives
    // the source of each entry of the new file list, in order.
    static std::unique_ptr<TSetupScript> LoadProject(
        const WideString& projectFile, std::vector<WideString>* files = nullptr,
        const std::vector<std::pair<WideString, WideString>>& variables = {});

    // Where the installer stub is looked for when --stub is not given: beside
    // the tool (also in its x86 and x64 folders), then in the build tree's
    // Windows builds (build/win32 and build/win). Only those of the wanted
    // bitness count. toolFolder: the tool's own when empty.
    static std::vector<WideString> StubCandidates(const WideString& toolFolder = WideString());
    // Where Uninstall.exe is looked for, in the same places.
    static std::vector<WideString> UninstallerCandidates(const WideString& toolFolder = WideString());
    // The bitness of a PE program; Default when the file is no PE image of
    // x86 or x86-64 code.
    static TTargetArch ArchOf(const WideString& file);
};

// "32-bit x86" or "64-bit x64", for messages and the summary.
const char* ArchText(TTargetArch arch);

// A resource name the installer can find with an 8-bit name on any code page.
bool IsUsableResourceName(const WideString& name);
// Windows wildcard match without regard to case; "*.*" matches every name.
bool MatchesMask(const WideString& name, const WideString& mask);
