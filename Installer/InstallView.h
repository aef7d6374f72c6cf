// What the install steps need from their front end: the main window when a
// person is there, or the silent run that has no window. The steps never touch
// a control themselves; they talk to the front end through this interface.
#pragma once

#include <vector>

#include "SilentEnd.h"
#include "ZoClosePrograms.h"
#include "ZoTypes.h"

class TInstallView : public TSilentEnd {
public:

    // True with "/Silent": no person is there, so nothing may wait for one.
    virtual bool Silent() const = 0;
    // The owner window for dialogs (an HWND; null without a window).
    virtual void* OwnerWindow() const = 0;

    virtual void SetStatus(const WideString& text) = 0;  // lblWait
    virtual void SetDetail(const WideString& text) = 0;  // lblDetail, repainted at once
    virtual void SetProgressMax(int maximum) = 0;
    virtual void StepProgress() = 0;                      // position + 1
    virtual void ProgressToMax() = 0;
    // Lets the window process all pending messages once.
    virtual void PumpMessages() = 0;

    // The information box (caption the application title); silent: one line on standard output.
    virtual void ShowInfo(const WideString& text) = 0;
    // The copy-failure dialog; returns 4 (Retry), 5 (Ignore) or 3 (Abort).
    virtual int ShowCopyFileFailure(const WideString& path, const WideString& reason) = 0;
    // The running-programs dialog over the window: the programs as listed,
    // and whether they were asked already and are still running. Never
    // called with "/Silent" (the rest is ended without asking).
    virtual TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning) = 0;

    // The finished look ("安装完成", btnRunApp centred and focused) and
    // installState := Finished; called once the last install step has returned.
    virtual void ShowFinished() {}
};

// Modal results shared by the dialogs.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5 };
