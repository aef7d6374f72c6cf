// The installer's one window: built from the setup script at start-up, driven
// by the user or by "/Silent" and "/Auto", and the front end of the install
// steps (through a TInstallView that forwards here: one base class only, so the
// program carries none of the runtime's multiple-inheritance casts).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "BaseFrm_win.h"
#include "InstallPlan.h"
#include "InstallView.h"
#include "PackageResources_win.h"
#include "SetupCommandLine.h"
#include "SetupExitCodes.h"
#include "SetupLock_win.h"
#include "ZoStream.h"
#include "ZoWinHandles_win.h"

class TSetupScript;
class TZoHttpProxy;

enum class TInstallState : uint8_t { Idle = 0, Installing = 1, Finished = 2 };

// The private message that starts the product and ends the installer.
constexpr UINT WM_RUN_AND_EXIT = WM_USER + 1;
// Posted to itself once the window is painted: what the first paint does not need.
constexpr UINT WM_AFTER_FIRST_PAINT = WM_USER + 2;

// The installer's arguments after its name, less a scope switch (/ALLUSERS,
// /CURRENTUSER); the choice that switch made. The deployment grammar reads the rest.
TScopeArgs InstallerScopeArgs();

class TMainForm : public TBaseForm {
public:
    TMainForm();
    ~TMainForm() override;

    // ---- Fields the install steps and the download share -------------------
    std::unique_ptr<TZoHttpProxy> proxySettings;
    TPackageModule resourceModule;
    TInstallState installState = TInstallState::Idle;
    bool autoMode = false;
    bool fullPackage = false;
    bool silentMode = false;
    TSetupCommandLine commandLine;  // the mode and the deployment switches
    // The process's exit code when the window closes: an error that ended the
    // install sequence is no success.
    int ExitCode() const;
    // Ends the process at once. An installation that never began (a failed or
    // abandoned download, a refused destination) takes back the folders its
    // destination check made; a downloaded package goes next, then its folder,
    // rather than in whatever order the system closes the handles.
    [[noreturn]] void EndProcess(int exitCode);
    WideString licenseText;
    std::unique_ptr<TSetupScript> script;
    WideString downloadedPackage;

    // The online mode's download of the full package and the proxy window live
    // in their own units, which plug in here.
    static std::function<bool(TMainForm&)> DownloadFullPackageHook;
    static std::function<void(TMainForm&)> ProxySettingsHook;

    // ---- Controls ---------------------------------------------------------
    TControl* TntPanel2 = nullptr;
    TControl* imgBackground = nullptr;
    TControl* lblAppTitle = nullptr;
    TControl* lblVersion = nullptr;
    TControl* imgMinimize = nullptr;
    TControl* imgClose = nullptr;
    TControl* imgIcon = nullptr;
    TControl* btnInstall = nullptr;
    TControl* pnlBottom = nullptr;
    TControl* lblDestDir = nullptr;
    TControl* edtDestDir = nullptr;
    TControl* btnDestDir = nullptr;
    TControl* cbLicense = nullptr;
    TControl* lblLicense = nullptr;
    TControl* lblProxy = nullptr;
    TControl* lblWait = nullptr;
    TControl* pbProgress = nullptr;
    TControl* lblDetail = nullptr;
    TControl* btnRunApp = nullptr;
    TControl* rbAllUsers = nullptr;
    TControl* rbCurrentUser = nullptr;

    // ---- Resources of the resource module -----------------------------------
    bool HasPackageResource(const AnsiString& name) const;
    bool ReadPackageResource(const WideString& name, TMemoryStream* target) const;
    void SelectInstallMode(TMemoryStream* target);

    // ---- Construction steps and handlers -----------------------------------
    void LoadIcon();
    void ApplyWindowIcon();
    void LoadLicenseText();
    void UpdateInstallButton();
    void ApplyCommandLine();
    void RestoreIdlePage();
    bool ValidateInstallDir();

    void btnInstallClick();
    void btnRunAppClick();
    void btnDestDirClick();
    void cbLicenseClick();
    void lblLicenseClick();
    void lblProxyClick();
    void rbScopeClick();
    void imgCloseClick();
    void imgMinimizeClick();
    void DragWindow();
    void TntFormShow();

    // ---- What the install steps show (their TInstallView forwards here) ----
    bool Silent() const { return silentMode; }
    void* OwnerWindow() const { return silentMode ? nullptr : Handle(); }
    void SetStatus(const WideString& text);
    void SetDetail(const WideString& text);
    void SetProgressMax(int maximum);
    void StepProgress();
    void ProgressToMax();
    void PumpMessages();
    void ShowInfo(const WideString& text);
    int ShowCopyFileFailure(const WideString& path, const WideString& reason);
    TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning);
    void ShowFinished();


    // The icon as the package holds it (a PNG), for the uninstaller's copy.
    const TBytes& IconPng() const { return iconPng_; }

protected:
    bool CloseQuery() override;
    bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    void FormShow() override { TntFormShow(); }
    void LayOutTexts() override;

private:
    void CreateControls();
    void CreateBusyControls();
    void ShowInstallingLook();
    void ReadEarlierInstallLocation();
    // The scope at start-up (the project's, the switch's); the either
    // choice's buttons shown and set.
    void ChooseScope();
    void ApplyScope(bool perUser);
    // An either installer chose every user without the rights: its elevated
    // copy does the work. False when that was refused (back to the window).
    bool NeedsElevation() const;
    bool HandOverToElevatedCopy();
    void RunAndExit();
    void RemoveUnusedFolders();

    TBytes iconPng_;
    TUniqueIcon windowIcon_;  // the product icon on the taskbar and in Alt+Tab
    // An error ended the install sequence: the window may be closed again.
    bool sequenceFailed_ = false;
    // The install steps began: what the destination check made is the installation's now.
    bool sequenceStarted_ = false;
    std::vector<WideString> createdFolders_;  // deepest first
    // Held from start-up to the end: one setup of the product at a time.
    TSetupLock setupLock_;
    TSetupLock::TScope lockScope_ = TSetupLock::TScope::Machine;  // of the lock taken
    TScopeArgs scopeArgs_;
    bool elevated_ = false;
};
