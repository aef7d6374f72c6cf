#include "ProxySettingsFrm_win.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "Texts.h"
#include "DialogTexts_win.h"
#include "ZoIndyUtils.h"
#include "ZoSysUtils.h"
#include "ZoVclUtils_win.h"

namespace {

constexpr int kMaxPort = 65535;

TFormSpec ProxySettingsFormSpec()
{
    TFormSpec design = BaseDialogFormSpec(ZO_PROXYSETTINGSFORM_CLASS);
    design.caption = Text(TTextId::ProxySettings);
    design.clientWidth = 430;
    design.clientHeight = 304;
    return design;
}

}  // namespace

TIndyProxySettingsForm::TIndyProxySettingsForm(TCustomForm* owner)
    : TBaseDialogForm(owner, ProxySettingsFormSpec(), DialogButtonTexts())
{
    // Positions are within the area above the button strip, which pnlBkClient fills.
    auto radio = [&](int id, const char* name, int top, int width, const WideString& text) {
        return AddControl({.kind = TControlKind::RadioButton, .id = id, .name = name, .parent = pnlBkClient,
                           .left = 40, .top = top, .width = width, .height = 16, .text = text, .fitText = true});
    };
    auto label = [&](int id, const char* name, int left, int top, int width, const WideString& text) {
        return AddControl({.kind = TControlKind::Label, .id = id, .name = name, .parent = pnlBkClient, .left = left,
                           .top = top, .width = width, .height = 14, .text = text});
    };
    auto edit = [&](int id, const char* name, int top, int width, TControlKind kind = TControlKind::Edit) {
        return AddControl({.kind = kind, .id = id, .name = name, .parent = pnlBkClient, .left = 136, .top = top,
                           .width = width, .height = 22, .border = true});
    };
    // Made in tab order.
    rbNoProxy = radio(idRbNoProxy, "rbNoProxy", 40, 114, Text(TTextId::NoProxy));
    rbUseProxy = radio(idRbUseProxy, "rbUseProxy", 72, 162, Text(TTextId::UseProxy));
    edtProxyAddress = edit(idEdtProxyAddress, "edtProxyAddress", 102, 201);
    edtProxyPort = edit(idEdtProxyPort, "edtProxyPort", 131, 121, TControlKind::SpinEdit);
    edtProxyUser = edit(idEdtProxyUser, "edtProxyUser", 160, 201);
    edtProxyPassword = edit(idEdtProxyPassword, "edtProxyPassword", 190, 201);
    lblProxyAddress = label(idLblProxyAddress, "lblProxyAddress", 64, 106, 72, Text(TTextId::ProxyAddress));
    lblProxyPort = label(idLblProxyPort, "lblProxyPort", 100, 135, 36, Text(TTextId::ProxyPort));
    lblProxyUser = label(idLblProxyUser, "lblProxyUser", 88, 164, 48, Text(TTextId::ProxyUser));
    lblProxyPassword = label(idLblProxyPassword, "lblProxyPassword", 100, 194, 36, Text(TTextId::ProxyPassword));
    LayOutTexts();
    edtProxyPort->SetSpinRange(0, kMaxPort);
    rbNoProxy->SetChecked(true);

    rbNoProxy->OnClick = [this] { rbNoProxyClick(); };
    rbUseProxy->OnClick = [this] { rbUseProxyClick(); };
    btnOk->OnClick = [this] { btnOkClick(); };
    UpdateControls();
}

void TIndyProxySettingsForm::LayOutTexts()
{
    TBaseDialogForm::LayOutTexts();
    if (!lblProxyPassword) return;  // made after the base's first layout
    // Each caption ends where its box begins; one its text outgrew keeps a gap before it.
    for (TControl* c : {lblProxyAddress, lblProxyPort, lblProxyUser, lblProxyPassword}) {
        const int text = c->TextWidth();
        const int width = text <= c->Width() ? c->Width() : text + 4;
        c->SetBounds(edtProxyAddress->Left() - width, c->Top(), width, c->Height());
    }
}

bool TIndyProxySettingsForm::EditProxySettings(TCustomForm* owner, TZoHttpProxy& proxy)
{
    auto form = std::make_unique<TIndyProxySettingsForm>(owner);
    form->LoadFromProxy(proxy);
    if (form->ShowModal() != kModalOk) return false;
    form->SaveToProxy(proxy);
    return true;
}

void TIndyProxySettingsForm::LoadFromProxy(const TZoHttpProxy& proxy)
{
    rbNoProxy->SetChecked(!proxy.Checked);
    rbUseProxy->SetChecked(proxy.Checked);
    edtProxyAddress->SetText(proxy.Address);
    edtProxyPort->SetText(IntToStr(proxy.Port));
    edtProxyUser->SetText(proxy.UserName);
    edtProxyPassword->SetText(proxy.Password);
    UpdateControls();
}

void TIndyProxySettingsForm::SaveToProxy(TZoHttpProxy& proxy) const
{
    proxy.Checked = rbUseProxy->Checked();
    proxy.Address = Trim(edtProxyAddress->Text());
    proxy.Port = PortValue();
    // Credentials are kept exactly as typed: blanks may belong to them.
    proxy.UserName = edtProxyUser->Text();
    proxy.Password = edtProxyPassword->Text();
}

void TIndyProxySettingsForm::UpdateControls()
{
    bool use = rbUseProxy->Checked();
    for (TControl* c : {lblProxyAddress, edtProxyAddress, lblProxyPort, edtProxyPort, lblProxyUser, edtProxyUser,
                        lblProxyPassword, edtProxyPassword})
        c->SetEnabled(use);
}

bool TIndyProxySettingsForm::ValidateInput()
{
    if (!rbUseProxy->Checked()) return true;
    if (!Trim(edtProxyAddress->Text()).empty()) return true;
    TZoVclfn::ShowInfo(Handle(), Text(TTextId::ProxyAddressEmpty));
    edtProxyAddress->SetFocus();
    return false;
}

int TIndyProxySettingsForm::PortValue() const
{
    std::optional<int64_t> value = TryStrToInt64(Trim(edtProxyPort->Text()));
    return value ? static_cast<int>(std::clamp<int64_t>(*value, 0, kMaxPort)) : 0;
}

void TIndyProxySettingsForm::btnOkClick()
{
    // The OK button carries no decision of its own: only valid input closes.
    SetModalResult(0);
    if (ValidateInput()) SetModalResult(kModalOk);
}
