// The dialog that names the product's running programs before the installer
// writes its files or the uninstaller removes them: close them and go on, or
// cancel; asked again about those that did not close: wait longer, end them,
// or cancel. The default button is the first.
#pragma once

#include <vector>

#include "BaseDialogFrm_win.h"
#include "ZoClosePrograms.h"

class TCloseProgramsForm : public TBaseDialogForm {
public:
    TCloseProgramsForm(TCustomForm* owner, bool stillRunning, const TCloseProgramsTexts& texts);

    TControl* lblInfo = nullptr;
    TControl* memPrograms = nullptr;
    TControl* btnEndPrograms = nullptr;  // only when asked again

protected:
    // Right to left: Cancel, then (asked again) End, then the first button,
    // each as wide as its text needs.
    void LayOutTexts() override;
};

// Shows the dialog modally over owner; closing it another way is Cancel.
TCloseChoice ShowClosePrograms(TCustomForm* owner, const std::vector<WideString>& programs, bool stillRunning,
                               const TCloseProgramsTexts& texts);
