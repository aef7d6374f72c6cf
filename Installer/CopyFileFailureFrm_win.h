// The window that reports a product file that could not be written and lets
// the user retry, skip the file, or quit the installer.
#pragma once

#include "BaseFrm_win.h"

// Control IDs of this window (kept apart from the other windows' ranges).
enum TCopyFileFailureId : int {
    idCopyPnlButtons = 400,
    idCopyBvlButtons = 401,
    idBtnRetry = 402,
    idBtnIgnore = 403,
    idBtnAbort = 404,
    idCopyPnlClient = 405,
    idLblInfo = 406,
};
#define ZO_COPYFILEFAILUREFORM_CLASS L"TCopyFileFailureForm"

class TCopyFileFailureForm : public TBaseForm {
public:
    explicit TCopyFileFailureForm(TCustomForm* owner);
    void LayOutTexts() override;

    WideString FileName;  // the target path
    WideString Reason;    // the error's message

    TControl* pnlButtons = nullptr;
    TControl* bvlButtons = nullptr;
    TControl* btnRetry = nullptr;   // default button: Enter
    TControl* btnAbort = nullptr;
    TControl* btnIgnore = nullptr;  // cancel button: Esc
    TControl* pnlClient = nullptr;
    TControl* lblInfo = nullptr;
};

// Shows the window modally over owner; the modal result: 4 Retry, 5 Ignore,
// 3 Abort, or 2 when it was closed another way.
int ShowCopyFileFailure(TCustomForm* owner, const WideString& fileName, const WideString& reason);
