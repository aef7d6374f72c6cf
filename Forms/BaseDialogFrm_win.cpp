#include "BaseDialogFrm_win.h"

#include "ControlIds.h"

TFormSpec BaseDialogFormSpec(const wchar_t* className)
{
    TFormSpec desc = BaseFormSpec(className);
    desc.caption = u"BaseDialogForm";
    desc.border = TBorderStyle::Dialog;
    desc.minimizeBox = desc.maximizeBox = false;
    desc.clientWidth = 475;
    desc.clientHeight = 340;
    return desc;
}

TBaseDialogForm::TBaseDialogForm(TCustomForm* owner, const TFormSpec& desc, const TDialogButtonTexts& texts)
    : TBaseForm(owner, desc)
{
    static const TFontSpec buttonFont{TFontRole::Text, 12, false, false};
    pnlButtons = AddControl({.kind = TControlKind::Panel, .id = idPnlButtons, .name = "pnlButtons", .height = 41,
                             .align = TAlign::Bottom});
    bvlButtons = AddControl({.kind = TControlKind::Bevel, .id = idBvlButtons, .name = "bvlButtons",
                             .parent = pnlButtons, .height = 2, .align = TAlign::Top});
    auto button = [&](int id, const char* name, int left, const WideString& text, bool isDefault, bool isCancel,
                      int modalResult) {
        return AddControl({.kind = TControlKind::Button, .id = id, .name = name, .parent = pnlButtons,
                           .left = left, .top = 8, .width = 75, .height = 25, .text = text, .font = &buttonFont,
                           .fitText = true, .anchors = akTop | akRight, .defaultButton = isDefault,
                           .cancelButton = isCancel, .modalResult = modalResult});
    };
    // Enter presses OK, Esc presses Cancel.
    btnOk = button(idBtnOk, "btnOk", 232, texts.ok, true, false, kModalOk);
    btnCancel = button(idBtnCancel, "btnCancel", 312, texts.cancel, false, true, kModalCancel);
    btnApply = button(idBtnApply, "btnApply", 392, texts.apply, false, false, 0);
    pnlBkClient = AddControl({.kind = TControlKind::Panel, .id = idPnlBkClient, .name = "pnlBkClient",
                              .align = TAlign::Client, .innerBorder = 8});

    LayOutTexts();
    btnOk->Show();
    btnCancel->Show();
    btnApply->Hide();
}

void TBaseDialogForm::LayOutTexts()
{
    btnCancel->SetLeft(ClientWidth() - btnCancel->Width() - 8);
    btnOk->SetLeft(btnCancel->Left() - btnOk->Width() - 8);
}
