// The uninstaller's one window, in the installer's look: icon, product title
// and version, the question and the install folder, and one large button that
// starts the removal; then progress, and a finished look with one button
// that closes it.
#pragma once

#include <memory>

#include "BaseFrm_win.h"
#include "UninstallSteps_win.h"
#include "ZoWinHandles_win.h"

class TSetupScript;

// Control IDs for the UI test driver: the installer's numbers where the role
// is the same (tests/wine/uninstall_window.sh).
enum TUninstallControlId : int {
    idUnTntPanel2 = 100,
    idUnImgBackground = 101,
    idUnLblAppTitle = 102,
    idUnLblVersion = 103,
    idUnImgMinimize = 104,
    idUnImgClose = 105,
    idUnImgIcon = 106,
    idUnBtnUninstall = 107,
    idUnPnlBottom = 108,
    idUnLblWait = 115,
    idUnPbProgress = 116,
    idUnLblDetail = 117,
    idUnBtnFinish = 118,
    idUnLblPrompt = 120,
    idUnLblFolder = 121,
    idUnMemLeftovers = 122,
};

#define ZO_UNINSTALLFORM_CLASS L"TUninstallForm"

enum class TUninstallState : uint8_t { Idle = 0, Uninstalling = 1, Finished = 2 };

// One base class only: the removal sees the window through a small view of its
// own (a second base would bring the runtime's multiple-inheritance casts).
class TUninstallForm : public TBaseForm {
public:
    // iconPng may be empty (a damaged "Uninstall.da2"): the window shows no icon.
    TUninstallForm(TSetupScript& script, TUninstallPlan plan, const TBytes& iconPng);
    ~TUninstallForm() override;

    TUninstallState uninstallState = TUninstallState::Idle;
    // ucCancelled until the removal has run, then ucRemoved or ucLeftovers.
    int ExitCode() const;
    bool Uninstalled() const { return uninstallState == TUninstallState::Finished; }

    TControl* TntPanel2;
    TControl* imgBackground;
    TControl* lblAppTitle;
    TControl* lblVersion;
    TControl* imgMinimize;
    TControl* imgClose;
    TControl* imgIcon;
    TControl* btnUninstall;
    TControl* pnlBottom;
    TControl* lblPrompt;
    TControl* lblFolder;
    TControl* lblWait;
    TControl* pbProgress;
    TControl* lblDetail;
    TControl* btnFinish;
    TControl* memLeftovers;  // the finished look's list of what stays

    void btnUninstallClick();
    void btnFinishClick();
    void imgCloseClick();
    void imgMinimizeClick();
    void DragWindow();

    // ---- What the removal shows (its TUninstallView forwards here)
    void SetStatus(const WideString& text);
    void SetDetail(const WideString& text);
    void SetProgressMax(int maximum);
    void StepProgress();
    void PumpMessages();
    TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning);

protected:
    bool CloseQuery() override;
    void FormShow() override;

private:
    void CreateControls();
    void ShowUninstallingLook();
    void ShowIdleLook();  // after a cancel in the running-programs dialog
    void ShowFinishedLook();

    TSetupScript& script_;
    TUninstallPlan plan_;
    TUninstallReport report_;
    TUniqueIcon windowIcon_;
};
