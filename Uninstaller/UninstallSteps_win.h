// The uninstall steps, on the UI thread, talking to their front end (the
// window, or nothing with "/SILENT") through TUninstallView. Every step goes
// on after an item it cannot remove: the report lists what stays.
#pragma once

#include <windows.h>

#include <vector>

#include "UninstallPlan.h"
#include "ZoClosePrograms.h"
#include "ZoTypes.h"

class TSetupScript;

// Uninstall.exe's exit codes; the README's table lists them.
enum TUninstallExitCode : int {
    ucRemoved = 0,    // uninstalled, nothing left behind
    ucCancelled = 1,  // the window was closed without uninstalling
    ucBadData = 2,    // "Uninstall.da1" missing, unreadable or damaged: nothing was removed
    ucLeftovers = 3,  // uninstalled, but some items stay (outside the install folder, in use, no rights)
    ucSetupRunning = 4,  // another installer or uninstaller of the product runs: nothing was removed
    // An installation for every user, and the administrator's rights were
    // refused at the prompt: nothing was removed.
    ucElevationRefused = 5,
};

class TUninstallView {
public:
    virtual ~TUninstallView() = default;
    virtual void SetStatus(const WideString& text) = 0;
    virtual void SetDetail(const WideString& text) = 0;
    virtual void SetProgressMax(int maximum) = 0;  // and the position to 0
    virtual void StepProgress() = 0;
    virtual void PumpMessages() = 0;
    // False without a person ("/SILENT"): programs that do not close when
    // asked are ended without a question.
    virtual bool CanAsk() const = 0;
    // The running-programs dialog: the programs as listed, and whether they
    // were asked already and are still running.
    virtual TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning) = 0;
};

// "/SILENT": no one is there to see anything.
class TQuietUninstallView : public TUninstallView {
public:
    void SetStatus(const WideString&) override {}
    void SetDetail(const WideString&) override {}
    void SetProgressMax(int) override {}
    void StepProgress() override {}
    void PumpMessages() override {}
    bool CanAsk() const override { return false; }
    TCloseChoice AskToClosePrograms(const std::vector<WideString>&, bool) override { return TCloseChoice::End; }
};

struct TUninstallReport {
    // Files, shortcuts, registry values and keys that stay: first what the
    // script names outside the install folder (TUninstallPlan::Outside), then
    // what could not be removed.
    std::vector<WideString> Leftovers;
    int Outside = 0;           // of them, left because they lie outside
    int RemovedAtRestart = 0;  // of them, marked for deletion when Windows next starts (in use)
    // The person cancelled in the running-programs dialog: nothing was removed.
    bool Cancelled = false;
    bool Complete() const { return Leftovers.empty(); }
};

class TUninstallSequence {
public:
    TUninstallSequence(TSetupScript& script, TUninstallPlan plan, TUninstallView& view);
    TUninstallSequence(const TUninstallSequence&) = delete;
    TUninstallSequence& operator=(const TUninstallSequence&) = delete;

    // Every step in order; the registration and the data files go after the
    // product, so an uninstallation cut short can be run again. Cancelling in
    // the running-programs dialog stops before anything is removed.
    TUninstallReport Run();

    // The programs running from the files about to go are asked to close, as
    // the installer asks (ZoProcesses_win): never this program or another
    // copy of it. False when the person cancelled.
    bool CloseRunningPrograms();
    void RemoveFiles();
    void RemoveShortcuts();
    // The values, then the keys they leave empty.
    void RemoveRegistryValues();
    // "Uninstall.da1", "Uninstall.da2" and the "_mw" uninstall key.
    void RemoveRegistration();
    // Folders left empty. An empty one in use is reported and marked for the
    // restart; with items waiting for the restart, the folders that still
    // hold something are marked to go after them (if empty by then).
    void RemoveEmptyFolders();

    const TUninstallPlan& Plan() const { return plan_; }
    const TUninstallReport& Report() const { return report_; }

    // A file held by a program that was just ended may stay locked a moment.
    int deleteAttempts = 4;
    DWORD retryPauseMs = 500;
    // How long the programs asked to close are waited for, in all, before
    // they are named again (window) or ended ("/SILENT").
    DWORD programCloseWaitMs = kProgramCloseWaitMs;

private:
    bool MayDeleteAtRestart() const;
    // True when the file is gone (or was not there).
    bool RemoveFile(const WideString& path);

    TSetupScript& script_;
    TUninstallPlan plan_;
    TUninstallView& view_;
    TUninstallReport report_;
};

// One line per leftover, as "/SILENT" prints them and the window lists them:
// "已保留（不在安装目录中）：PATH" or "未能删除：PATH".
std::vector<WideString> LeftoverLines(const TUninstallReport& report);

// True when only the administrators, SYSTEM, TrustedInstaller and the user
// running the uninstaller can change "Uninstall.da1" and the folder it lies
// in (their owners and the write, delete and permission rights of their
// access lists); false also for a link in either place or a security
// descriptor that cannot be read. An installation made for the user alone
// has no one else to fear and need not ask.
bool UninstallDataTrusted(const WideString& installDir);

// The long form of the part of a normalised path that exists, the rest as
// written (TLongPathFn for TUninstallPlan::FromScript).
WideString LongFormOfPath(const WideString& path);

