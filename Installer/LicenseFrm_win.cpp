#include "LicenseFrm_win.h"

#include <memory>

#include "ControlIds.h"
#include "Texts.h"

namespace {
TFormSpec LicenseFormSpec()
{
    TFormSpec desc = BaseFormSpec(ZO_LICENSEFORM_CLASS);
    desc.caption = Text(TTextId::LicenseAgreement);
    desc.border = TBorderStyle::Sizeable;
    desc.minimizeBox = false;
    desc.maximizeBox = true;
    desc.clientWidth = 784;
    desc.clientHeight = 461;
    return desc;
}
}  // namespace

TLicenseForm::TLicenseForm(TCustomForm* owner) : TBaseForm(owner, LicenseFormSpec())
{
    memLicense = AddControl({.kind = TControlKind::Memo, .id = idMemLicense, .name = "memLicense",
                             .align = TAlign::Client});
    // The owner's icon (the product's) in the caption.
    if (owner) {
        LRESULT icon = SendMessageW(owner->Handle(), WM_GETICON, ICON_SMALL, 0);
        if (icon) SendMessageW(Handle(), WM_SETICON, ICON_SMALL, icon);
    }
}

void TLicenseForm::ShowLicense(TCustomForm* owner, const WideString& text)
{
    auto form = std::make_unique<TLicenseForm>(owner);
    form->memLicense->SetText(text);
    form->ShowModal();
}
