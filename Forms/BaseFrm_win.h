// The base of every window of the installer: Tahoma 12, centred on the
// screen, double-buffered painting, a repaint after Alt and Tab, and the modal
// show over the owner's top-level window only.
#pragma once

#include "ZoForms_win.h"

// The base design: caption "BaseForm", client 588 x 369, button-face colour.
TFormSpec BaseFormSpec(const wchar_t* className = L"TBaseForm");

class TBaseForm : public TCustomForm {
public:
    TBaseForm(TCustomForm* owner, const TFormSpec& desc);

    // Over the owner when there is one (TZoVclfn::ShowModalOver), else the
    // toolkit's modal show.
    int ShowModal() override;
    // Alt held or Tab pressed: the whole window repaints.
    void KeyDown(WORD key, bool alt) override;
};
