// Builds the full installer, and on request the online installer, from a
// project: a setup script whose file entries name files on this machine.
#pragma once

#include <functional>
#include <vector>

#include "PackageFormat.h"
#include "SetupProject.h"
#include "ZoTypes.h"


struct TBuildOptions {
    WideString ProjectFile;
    WideString OutputDir;  // empty: the project's folder
    WideString StubFile;   // empty: DefaultStubFile()
    // Places Uninstall.exe in the install folder ({app}) unless the file list
    // already carries one, so every installation can be uninstalled.
    bool AddUninstaller = false;
    WideString UninstallerFile;  // empty: the first of UninstallerCandidates() that exists
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
    // the tool, then in the build tree's Windows build.
    static std::vector<WideString> StubCandidates();
    // Where Uninstall.exe is looked for: beside the tool, then in the build tree.
    static std::vector<WideString> UninstallerCandidates();
};

// A resource name the installer can find with an 8-bit name on any code page.
bool IsUsableResourceName(const WideString& name);
// Windows wildcard match without regard to case; "*.*" matches every name.
bool MatchesMask(const WideString& name, const WideString& mask);
