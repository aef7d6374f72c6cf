// The window that reports a failed download of the full package: it shows the
// address so the user can fetch the full installer another way, and offers to
// go back to the first page ("重试") or to quit the installer ("退出安装").
#pragma once

#include "BaseDialogFrm_win.h"

// Control IDs of this window (OK and Cancel keep the base dialog's).
enum TDownloadFailureId : int {
    idLblFailure1 = 500,
    idLblFailure2 = 501,
    idLblFailure3 = 502,
    idMemUrl = 503,
    idPnlUrlButtons = 504,
    idBtnBrowser = 505,
    idBtnCopy = 506,
};
#define ZO_DOWNLOADFAILUREFORM_CLASS L"TDownloadFailureForm"

class TDownloadFailureForm : public TBaseDialogForm {
public:
    explicit TDownloadFailureForm(TCustomForm* owner);

    // Creates the window over owner, shows it modally and frees it; true when
    // the user chose "退出安装".
    static bool ShowDownloadFailure(TCustomForm* owner, const WideString& appTitle, const WideString& url);

    WideString Url;  // the download address

    TControl* lblFailure1 = nullptr;
    TControl* lblFailure2 = nullptr;
    TControl* lblFailure3 = nullptr;
    TControl* memUrl = nullptr;
    TControl* pnlUrlButtons = nullptr;  // the strip below the address
    TControl* btnBrowser = nullptr;
    TControl* btnCopy = nullptr;

    void btnBrowserClick();
    // Puts Url on the clipboard as Unicode text; false when the clipboard is busy.
    bool btnCopyClick();

protected:
    void LayOutTexts() override;
};
