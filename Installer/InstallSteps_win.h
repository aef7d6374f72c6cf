// The install steps: everything btnInstallClick does between the installing
// look and the finished look, on the UI thread, talking to the front end only
// through TInstallView.
//
// For the main window:
//   - ValidateInstallDir(edtDestDir text, view) is step 1; on false stay idle
//     (focus edtDestDir for TDirCheck::Empty; with "/Auto" restore the idle look).
//     With "/Silent" a failed check has already ended the process.
//   - After the download (online mode), construct a TInstallSequence over the
//     script, the resource module and the icon's PNG bytes, and call Run():
//     steps 5 to 17. Run calls view.ShowFinished() for the finished look. When
//     an error ends the sequence, Run has already reported it (silent: one line
//     and exit code ecInstallFailed; window: ShowInfo with the message) and
//     returns false: let the user close the window then.
//   - The run-and-exit message handler calls LaunchRunEntries(script).
//   - TInstallView::SetProgressMax also sets the position to 0.
//   - TInstallView::ShowCopyFileFailure: ::ShowCopyFileFailure(this, path,
//     reason) of CopyFileFailureFrm_win.h (CopyFileFailureFrm_win.cpp joins
//     the installer's sources). It is never called with "/Silent".
#pragma once

#include <windows.h>

#include <functional>
#include <span>
#include <vector>

#include "FileDataClasses.h"
#include "InstallPlan.h"
#include "InstallView.h"
#include "PackageResources_win.h"
#include "SetupExitCodes.h"
#include "SetupFn.h"
#include "ZoSafeFiles_win.h"
#include "ZoTypes.h"

class TSetupScript;
class TSetupFile;

ZO_DECLARE_ERROR(ERegistryException, Exception);
ZO_DECLARE_ERROR(EOleSysError, Exception);

enum class TDirCheck { Ok, Empty, CannotCreate, NotWritable };

// Checks and prepares the destination; on Ok, InstallDir holds it with a
// trailing backslash. A relative destination is taken below the current
// folder and made absolute, so everything registered later names a real path.
// A folder it creates for a machine-wide install outside Program Files gets
// Program Files' protection; machineScope false (an install for the user
// alone) leaves it to inherit from its parent. created (when given) receives
// the folders the check made, deepest first.
TDirCheck ValidateInstallDir(const WideString& destText, TInstallView& view, bool machineScope = true,
                             std::vector<WideString>* created = nullptr);

// An encoded file image as it lies in the package (empty: an empty file).
using TFileImage = std::span<const uint8_t>;

class TInstallSequence {
public:
    TInstallSequence(TSetupScript& script, TPackageResources resourceModule, TInstallView& view, TBytes iconPng);
    TInstallSequence(const TInstallSequence&) = delete;
    TInstallSequence& operator=(const TInstallSequence&) = delete;

    // Steps 5 to 17; false when an error ended the sequence (already reported)
    // or the person cancelled in the running-programs dialog (Cancelled():
    // nothing was changed; the window goes back to its idle look).
    // The package is known to be whole before the earlier version goes: its
    // index reads and every file entry has its image; when an earlier
    // version's uninstaller is to run, every image is decoded once too. An
    // error after the first file leaves what was written registered.
    bool Run();
    bool Cancelled() const { return cancelled_; }

    // Finds every entry's image in the package; with checkImages, decodes
    // each one as well. Raises EPackageError for a damaged package.
    void LoadPackage(bool checkImages);
    // An earlier installation's quiet uninstaller is registered and there.
    bool EarlierVersionToRemove();
    // After a stop part-way: the data files and the registration for what was
    // written (Uninstall.exe written first when it was still missing), so
    // that it can be uninstalled. Nothing when nothing was written.
    void LeaveWhatWasWritten();
    // The files written so far, and the data files.
    std::vector<WideString> WrittenPaths();

    // Returns how many earlier uninstallers ran. One whose program is gone
    // (its folder was deleted) is not waited for.
    int UninstallPreviousVersion();
    // Asks the programs running from the product's files to close (the window
    // asks the person first); false when the person cancelled. Runs before the
    // earlier version's uninstaller, so cancelling leaves it untouched.
    bool CloseRunningPrograms();
    void InstallFiles();
    // Writes one file with its times; on failure the copy-failure dialog
    // decides (retry, ignore, or end the process with 0). Silent: a few
    // retries, then one line and ecFileNotWritten.
    void WriteInstalledFile(const TSetupFile& entry, TFileImage content, const WideString& path);
    void WriteRegistryEntries();
    void CreateShortcuts();
    void WriteUninstallData();
    void RegisterUninstall();
    void RunWaitEntries();
    void VisitGotoUrl();

    // The pause after an old uninstaller.
    DWORD uninstallPauseMs = 2000;
    // How long the programs asked to close are waited for, in all, before
    // they are named again (window) or ended ("/Silent").
    DWORD programCloseWaitMs = kProgramCloseWaitMs;
    // Without a person: attempts at one file, and the pause between them.
    int silentWriteAttempts = 4;
    DWORD silentRetryPauseMs = 1000;
    // The request of a gumSilent completion visit: a TZoHttp GET through the
    // process-wide proxy, 5000 ms to connect, 10000 ms for each read, the
    // answer discarded; errors are swallowed.
    std::function<void(const WideString& url)> silentVisit;
    // "/NORUN": the browser visit is left out (TInstallPlan::LeaveOutStarts).
    bool noRun = false;

private:
    const TInstallPlan& CurrentPlan();
    // Writes one file from its image: an existing one through a whole
    // temporary file beside it, a new one directly.
    void WriteFileFromImage(const TSetupFile& entry, TFileImage content, const WideString& path,
                            const TFolderChain& held);
    void WriteDataFiles(const TSetupScript& script, const TInstallPlan& plan);

    TSetupScript& script_;
    TPackageResources module_;
    TInstallView& view_;
    TBytes iconPng_;
    TInstallPlan plan_;
    bool running_ = false;  // plan_ holds the plan of the run

    std::span<const uint8_t> block_;
    TFileDataList index_;
    std::vector<TFileImage> images_;     // per planned file; empty: an empty file
    TBytes written_;                     // per planned file: 1 once written
    int valuesWritten_ = 0, shortcutsWritten_ = 0;
    bool packageLoaded_ = false;
    bool machineChanged_ = false;        // an earlier version removed, or something written
    bool cancelled_ = false;
};

// The plan of an installation by the running installer, dated today.
TInstallPlan MakeInstallPlan(const TSetupScript& script);

// Starts the run entries that are not waited for; the installer's last act.
// With noRun ("/NORUN") it only logs what it leaves out.
void LaunchRunEntries(const TSetupScript& script, bool noRun);

WideString AppendChannelCode(const WideString& url);  // for the running program
// The registry views an earlier installation may have registered in, in the
// order they are searched: the 32-bit one first (where the 32-bit installers
// register), then the 64-bit one, whichever of the two this program is. On
// 32-bit Windows both name the one registry.
inline constexpr REGSAM kRegistryViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
