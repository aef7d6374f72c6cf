#include "CloseProgramsFrm_win.h"

#include <algorithm>
#include <memory>

#include "ControlIds.h"

namespace {
constexpr int kModalEnd = 3;  // the toolkit's Abort

TFormSpec CloseProgramsFormSpec(const TCloseProgramsTexts& texts)
{
    TFormSpec desc = BaseDialogFormSpec(ZO_CLOSEPROGRAMSFORM_CLASS);
    desc.caption = texts.Caption;
    desc.clientWidth = 475;
    desc.clientHeight = 250;
    return desc;
}
}  // namespace

TCloseProgramsForm::TCloseProgramsForm(TCustomForm* owner, bool stillRunning, const TCloseProgramsTexts& texts)
    : TBaseDialogForm(owner, CloseProgramsFormSpec(texts),
                      {stillRunning ? texts.Wait : texts.CloseAndContinue, texts.Cancel, WideString()})
{
    static const TFontSpec buttonFont{TFontRole::Text, 12, false, false};
    lblInfo = AddControl({.kind = TControlKind::Label, .id = idCloseLblInfo, .name = "lblInfo",
                          .parent = pnlBkClient, .height = 36,
                          .text = stillRunning ? texts.StillRunning : texts.Running,
                          .align = TAlign::Top});
    // The explanation wraps onto a second line.
    LONG style = GetWindowLongW(lblInfo->Handle(), GWL_STYLE);
    SetWindowLongW(lblInfo->Handle(), GWL_STYLE, (style & ~SS_TYPEMASK) | SS_LEFT | SS_EDITCONTROL);
    memPrograms = AddControl({.kind = TControlKind::Memo, .id = idCloseMemPrograms, .name = "memPrograms",
                              .parent = pnlBkClient, .align = TAlign::Client});
    btnEndPrograms = AddControl({.kind = TControlKind::Button, .id = idBtnEndPrograms, .name = "btnEndPrograms",
                                 .parent = pnlButtons, .top = 8, .width = 75, .height = 25,
                                 .text = texts.End, .font = &buttonFont, .visible = stillRunning,
                                 .fitText = true, .anchors = akTop | akRight, .modalResult = kModalEnd});

    // The first button is wider than the strip's others.
    if (!stillRunning) btnOk->SetBounds(btnOk->Left(), btnOk->Top(), std::max(110, btnOk->Width()), btnOk->Height());
    LayOutTexts();
    if (owner) {
        LRESULT icon = SendMessageW(owner->Handle(), WM_GETICON, ICON_SMALL, 0);
        if (icon) SendMessageW(Handle(), WM_SETICON, ICON_SMALL, icon);
    }
}

void TCloseProgramsForm::LayOutTexts()
{
    if (!btnEndPrograms) return;  // made after the base's first layout
    btnCancel->SetLeft(ClientWidth() - btnCancel->Width() - 8);
    int left = btnCancel->Left();
    if (btnEndPrograms->Visible()) {
        btnEndPrograms->SetLeft(left - btnEndPrograms->Width() - 8);
        left = btnEndPrograms->Left();
    }
    btnOk->SetLeft(left - btnOk->Width() - 8);
}

TCloseChoice ShowClosePrograms(TCustomForm* owner, const std::vector<WideString>& programs, bool stillRunning,
                               const TCloseProgramsTexts& texts)
{
    auto form = std::make_unique<TCloseProgramsForm>(owner, stillRunning, texts);
    WideString list;
    for (const WideString& program : programs) list += (list.empty() ? u"" : u"\r\n") + program;
    form->memPrograms->SetText(list);
    switch (form->ShowModal()) {
    case kModalOk:
        return stillRunning ? TCloseChoice::Wait : TCloseChoice::Close;
    case kModalEnd:
        return TCloseChoice::End;
    default:
        return TCloseChoice::Cancel;
    }
}
