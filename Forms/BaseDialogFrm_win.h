// The base of the OK/Cancel dialogs: a button strip at the bottom (OK and
// Cancel at the right edge, Enter = OK, Esc = Cancel) and a client panel with
// an 8-pixel border for the dialog's own content.
#pragma once

#include "BaseFrm_win.h"

// Dialog border, caption "BaseDialogForm", client 475 x 340.
TFormSpec BaseDialogFormSpec(const wchar_t* className = L"TBaseDialogForm");

class TBaseDialogForm : public TBaseForm {
public:
    TBaseDialogForm(TCustomForm* owner, const TFormSpec& desc);

    TControl* pnlButtons;
    TControl* bvlButtons;
    TControl* btnOk;
    TControl* btnCancel;
    TControl* btnApply;
    TControl* pnlBkClient;  // the subclass's content goes here
};
