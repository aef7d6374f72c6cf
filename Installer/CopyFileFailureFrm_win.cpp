#include "CopyFileFailureFrm_win.h"

#include <algorithm>
#include <memory>

#include "BaseDialogFrm_win.h"
#include "InstallView.h"
#include "Texts.h"
#include "ZoSysUtils.h"

namespace {
TFormSpec CopyFileFailureFormSpec()
{
    // A dialog frame; its button strip is its own.
    TFormSpec desc = BaseDialogFormSpec(ZO_COPYFILEFAILUREFORM_CLASS);
    desc.caption = Text(TTextId::CopyFailedCaption);
    desc.clientWidth = 572;
    desc.clientHeight = 268;
    return desc;
}
}  // namespace

TCopyFileFailureForm::TCopyFileFailureForm(TCustomForm* owner) : TBaseForm(owner, CopyFileFailureFormSpec())
{
    pnlButtons = AddControl({.kind = TControlKind::Panel, .id = idCopyPnlButtons, .name = "pnlButtons",
                             .height = 41, .align = TAlign::Bottom});
    bvlButtons = AddControl({.kind = TControlKind::Bevel, .id = idCopyBvlButtons, .name = "bvlButtons",
                             .parent = pnlButtons, .height = 2, .align = TAlign::Top});
    auto button = [&](int id, const char* name, int left, const WideString& text, bool isDefault, bool isCancel,
                      int modalResult) {
        return AddControl({.kind = TControlKind::Button, .id = id, .name = name, .parent = pnlButtons, .left = left,
                           .top = 8, .width = 100, .height = 25, .text = text, .fitText = true, .defaultButton = isDefault,
                           .cancelButton = isCancel, .modalResult = modalResult});
    };
    // Made in tab order: Retry, Abort, Ignore.
    btnRetry = button(idBtnRetry, "btnRetry", 9, Text(TTextId::RetryButton), true, false, mrRetry);
    btnAbort = button(idBtnAbort, "btnAbort", 233, Text(TTextId::QuitSetupButton), false, false, mrAbort);
    btnIgnore = button(idBtnIgnore, "btnIgnore", 121, Text(TTextId::IgnoreButton), false, true, mrIgnore);
    pnlClient = AddControl({.kind = TControlKind::Panel, .id = idCopyPnlClient, .name = "pnlClient",
                            .align = TAlign::Client, .innerBorder = 32});
    lblInfo = AddControl({.kind = TControlKind::Label, .id = idLblInfo, .name = "lblInfo", .parent = pnlClient,
                          .align = TAlign::Client});
    LayOutTexts();
    // Long paths wrap onto further lines.
    LONG style = GetWindowLongW(lblInfo->Handle(), GWL_STYLE);
    SetWindowLongW(lblInfo->Handle(), GWL_STYLE, (style & ~SS_TYPEMASK) | SS_LEFT | SS_EDITCONTROL);
}

void TCopyFileFailureForm::LayOutTexts()
{
    if (!btnIgnore) return;
    // Retry, Ignore, Abort from the left, moved apart when their texts widened them.
    btnIgnore->SetLeft(std::max(121, btnRetry->Left() + btnRetry->Width() + 12));
    btnAbort->SetLeft(std::max(233, btnIgnore->Left() + btnIgnore->Width() + 12));
}

int ShowCopyFileFailure(TCustomForm* owner, const WideString& fileName, const WideString& reason)
{
    auto form = std::make_unique<TCopyFileFailureForm>(owner);
    form->FileName = fileName;
    form->Reason = reason;
    form->lblInfo->SetText(FormatText(TextView(TTextId::CopyFailureDetailFormat), {fileName, reason}));
    return form->ShowModal();
}
