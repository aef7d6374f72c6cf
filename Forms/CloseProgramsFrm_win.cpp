#include "CloseProgramsFrm_win.h"

#include <memory>

#include "ControlIds.h"

namespace {
constexpr int kModalEnd = 3;  // the toolkit's Abort

TFormSpec CloseProgramsFormSpec()
{
    TFormSpec desc = BaseDialogFormSpec(ZO_CLOSEPROGRAMSFORM_CLASS);
    desc.caption = CloseProgramsText::Caption;
    desc.clientWidth = 475;
    desc.clientHeight = 250;
    return desc;
}
}  // namespace

TCloseProgramsForm::TCloseProgramsForm(TCustomForm* owner, bool stillRunning)
    : TBaseDialogForm(owner, CloseProgramsFormSpec())
{
    static const TFontSpec buttonFont{u"Tahoma", 12, false, false};
    lblInfo = AddControl({.kind = TControlKind::Label, .id = idCloseLblInfo, .name = "lblInfo",
                          .parent = pnlBkClient, .height = 36,
                          .text = stillRunning ? CloseProgramsText::StillRunning : CloseProgramsText::Running,
                          .align = TAlign::Top});
    // The explanation wraps onto a second line.
    LONG style = GetWindowLongW(lblInfo->Handle(), GWL_STYLE);
    SetWindowLongW(lblInfo->Handle(), GWL_STYLE, (style & ~SS_TYPEMASK) | SS_LEFT | SS_EDITCONTROL);
    memPrograms = AddControl({.kind = TControlKind::Memo, .id = idCloseMemPrograms, .name = "memPrograms",
                              .parent = pnlBkClient, .align = TAlign::Client});
    btnEndPrograms = AddControl({.kind = TControlKind::Button, .id = idBtnEndPrograms, .name = "btnEndPrograms",
                                 .parent = pnlButtons, .top = 8, .width = 75, .height = 25,
                                 .text = CloseProgramsText::End, .font = &buttonFont, .visible = stillRunning,
                                 .anchors = akTop | akRight, .modalResult = kModalEnd});

    // Right to left: Cancel, then (asked again) End, then the first, wider button.
    btnCancel->SetText(CloseProgramsText::Cancel);
    btnCancel->SetLeft(ClientWidth() - btnCancel->Width() - 8);
    int left = btnCancel->Left();
    if (stillRunning) {
        btnEndPrograms->SetLeft(left - btnEndPrograms->Width() - 8);
        left = btnEndPrograms->Left();
    }
    btnOk->SetText(stillRunning ? CloseProgramsText::Wait : CloseProgramsText::CloseAndContinue);
    const int width = stillRunning ? 75 : 110;
    btnOk->SetBounds(left - width - 8, btnOk->Top(), width, btnOk->Height());
    if (owner) {
        LRESULT icon = SendMessageW(owner->Handle(), WM_GETICON, ICON_SMALL, 0);
        if (icon) SendMessageW(Handle(), WM_SETICON, ICON_SMALL, icon);
    }
}

TCloseChoice ShowClosePrograms(TCustomForm* owner, const std::vector<WideString>& programs, bool stillRunning)
{
    auto form = std::make_unique<TCloseProgramsForm>(owner, stillRunning);
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
