// Shared pieces of the install-step tests: a front end that records what the
// steps tell it, a package module built in a temporary folder, and registry
// helpers.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FileDataClasses.h"
#include "InstallSteps_win.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

// What EndProcess throws in the tests; deliberately not a std::exception, so
// the sequence's own error handling lets it through.
struct TProcessEnded {
    int code;
};

class TFakeView : public TInstallView {
public:
    bool silent = false;
    std::vector<WideString> statuses, details, infos;
    int progressMax = -1;
    int position = 0;
    int pumps = 0;
    bool finished = false;
    struct TFailure {
        WideString path, reason;
    };
    std::vector<TFailure> failures;
    // Answers the copy-failure dialog (4 Retry, 5 Ignore, 3 Abort).
    std::function<int(const WideString& path)> onCopyFailure = [](const WideString&) { return int(mrAbort); };
    // Answers the running-programs dialog: close them, then end what stays.
    struct TCloseAsk {
        std::vector<WideString> programs;
        bool stillRunning;
    };
    std::vector<TCloseAsk> closeAsks;
    std::function<TCloseChoice(bool stillRunning)> onClosePrograms = [](bool stillRunning) {
        return stillRunning ? TCloseChoice::End : TCloseChoice::Close;
    };

    bool Silent() const override { return silent; }
    void* OwnerWindow() const override { return nullptr; }
    void SetStatus(const WideString& text) override { statuses.push_back(text); }
    void SetDetail(const WideString& text) override { details.push_back(text); }
    void SetProgressMax(int maximum) override
    {
        progressMax = maximum;
        position = 0;
    }
    void StepProgress() override { ++position; }
    void ProgressToMax() override { position = progressMax; }
    void PumpMessages() override { ++pumps; }
    void ShowInfo(const WideString& text) override { infos.push_back(text); }
    int ShowCopyFileFailure(const WideString& path, const WideString& reason) override
    {
        failures.push_back({path, reason});
        return onCopyFailure(path);
    }
    TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning) override
    {
        closeAsks.push_back({programs, stillRunning});
        return onClosePrograms(stillRunning);
    }
    void ShowFinished() override { finished = true; }
    [[noreturn]] void EndProcess(int exitCode) override { throw TProcessEnded{exitCode}; }
};

// A resource module whose FileDataResource holds the files added to it.
class TTestPackage {
public:
    TTestPackage();
    ~TTestPackage();
    TTestPackage(const TTestPackage&) = delete;
    TTestPackage& operator=(const TTestPackage&) = delete;

    // Encodes the bytes into the block; returns the key for ResID.
    WideString AddFile(const std::string& bytes);
    // Appends bytes as they are (a damaged image, say).
    WideString AddRawImage(const std::string& encoded);
    // Finishes the block (or takes the given one) and opens the module.
    HMODULE Module();
    HMODULE ModuleWithBlock(const TBytes& block);

private:
    TTempFolder folder_;
    TMemoryStream block_;
    std::unique_ptr<TFileDataBlockWriter> writer_;
    TUniqueModule module_;
};

// Adds a file entry for bytes added to the package.
TSetupFile* AddFileEntry(TSetupScript& script, TTestPackage& package, const WideString& destDir,
                         const WideString& sourceMask, const std::string& bytes, double lastWriteDate = 0);

// Writes what the process prints on standard output into a file while alive.
class TCapturedOutput {
public:
    TCapturedOutput();
    ~TCapturedOutput();
    TCapturedOutput(const TCapturedOutput&) = delete;
    TCapturedOutput& operator=(const TCapturedOutput&) = delete;
    std::string Text() const;  // as written (the ANSI code page)

private:
    TTempFolder folder_;
    HANDLE previous_;
    TUniqueFile file_;
};

struct TRegValue {
    bool exists = false;
    DWORD type = 0;
    WideString text;
    DWORD number = 0;
};
TRegValue ReadRegValue(HKEY root, const WideString& key, const WideString& name);
std::vector<WideString> RegValueNames(HKEY root, const WideString& key);
bool RegKeyExists(HKEY root, const WideString& key);
void DeleteRegTree(HKEY root, const WideString& key);

// Deletes a registry key and everything below it when the test ends.
class TRegCleanup {
public:
    TRegCleanup(HKEY root, WideString key) : root_(root), key_(std::move(key)) { DeleteRegTree(root_, key_); }
    ~TRegCleanup() { DeleteRegTree(root_, key_); }
    TRegCleanup(const TRegCleanup&) = delete;
    TRegCleanup& operator=(const TRegCleanup&) = delete;

private:
    HKEY root_;
    WideString key_;
};

// Local date-time of a file's last write, and of its creation.
double FileWriteTime(const WideString& path);
double FileCreationTime(const WideString& path);

// The folder of the test program, with a trailing backslash.
WideString TestProgramDir();
// The helper program, copied to path (so it runs under another name).
void CopyHelper(const WideString& path);

std::string Narrow(const WideString& s);  // ASCII and UTF-8 for messages
WideString Wide(const std::string& s);
