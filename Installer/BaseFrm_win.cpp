#include "BaseFrm_win.h"

#include "ZoVclUtils_win.h"

TFormSpec BaseFormSpec(const wchar_t* className)
{
    TFormSpec spec;
    spec.className = className;
    spec.caption = u"BaseForm";
    spec.clientWidth = 588;
    spec.clientHeight = 369;
    spec.font = TFontSpec{u"Tahoma", 12, false, false};
    spec.color = GetSysColor(COLOR_BTNFACE);
    spec.keyPreview = true;
    spec.screenSnap = true;
    return spec;
}

TBaseForm::TBaseForm(TCustomForm* owner, const TFormSpec& spec) : TCustomForm(owner, spec)
{
    TZoVclfn::EnableDoubleBuffering(this);
}

int TBaseForm::ShowModal()
{
    if (Owner() && Owner()->Handle()) return TZoVclfn::ShowModalOver(this, Owner()->Handle());
    return TCustomForm::ShowModal();
}

void TBaseForm::KeyDown(WORD key, bool alt)
{
    if (alt || key == VK_TAB) TZoVclfn::InvalidateAll(this);
}
