// The base of the OK/Cancel dialogs: a button strip at the bottom (OK and
// Cancel at the right edge, Enter = OK, Esc = Cancel) and a client panel with
// an 8-pixel border for the dialog's own content.
#pragma once

#include "BaseFrm_win.h"

// Dialog border, caption "BaseDialogForm", client 475 x 340.
TFormSpec BaseDialogFormSpec(const wchar_t* className = L"TBaseDialogForm");

// The strip's three texts, in the program's language.
struct TDialogButtonTexts {
    WideString ok = u"OK", cancel = u"Cancel", apply = u"Apply";
};

class TBaseDialogForm : public TBaseForm {
public:
    TBaseDialogForm(TCustomForm* owner, const TFormSpec& desc, const TDialogButtonTexts& texts = {});

    TControl* pnlButtons;
    TControl* bvlButtons;
    TControl* btnOk;
    TControl* btnCancel;
    TControl* btnApply;
    TControl* pnlBkClient;  // the subclass's content goes here

protected:
    // OK and Cancel stay at the right edge, however wide their texts made them.
    void LayOutTexts() override;
};
