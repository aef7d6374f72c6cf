// The user-agreement window: a plain resizable window that shows the
// agreement text read-only.
#pragma once

#include "BaseFrm_win.h"

class TLicenseForm : public TBaseForm {
public:
    explicit TLicenseForm(TCustomForm* owner);

    // Creates the window over owner, shows text modally, frees it.
    static void ShowLicense(TCustomForm* owner, const WideString& text);

    TControl* memLicense;
};
