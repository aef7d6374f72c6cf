#include "BaseFrm_win.h"

#include "ZoVclUtils_win.h"

TFormSpec BaseFormSpec(const wchar_t* className)
{
    TFormSpec desc;
    desc.className = className;
    desc.caption = u"BaseForm";
    desc.clientWidth = 588;
    desc.clientHeight = 369;
    desc.font = TFontSpec{TFontRole::Text, 12, false, false};
    desc.color = GetSysColor(COLOR_BTNFACE);
    desc.keyPreview = true;
    desc.screenSnap = true;
    return desc;
}

TBaseForm::TBaseForm(TCustomForm* owner, const TFormSpec& desc) : TCustomForm(owner, desc)
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
