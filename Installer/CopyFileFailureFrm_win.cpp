#include "CopyFileFailureFrm_win.h"

#include <memory>

#include "BaseDialogFrm_win.h"
#include "InstallView.h"
#include "ZoSysUtils.h"

namespace {
TFormSpec CopyFileFailureFormSpec()
{
    // A dialog frame; its button strip is its own.
    TFormSpec desc = BaseDialogFormSpec(ZO_COPYFILEFAILUREFORM_CLASS);
    desc.caption = u"复制文件失败";
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
    auto button = [&](int id, const char* name, int left, const char16_t* text, bool isDefault, bool isCancel,
                      int modalResult) {
        return AddControl({.kind = TControlKind::Button, .id = id, .name = name, .parent = pnlButtons, .left = left,
                           .top = 8, .width = 100, .height = 25, .text = text, .defaultButton = isDefault,
                           .cancelButton = isCancel, .modalResult = modalResult});
    };
    // Made in tab order: Retry, Abort, Ignore.
    btnRetry = button(idBtnRetry, "btnRetry", 9, u"重试", true, false, mrRetry);
    btnAbort = button(idBtnAbort, "btnAbort", 233, u"退出安装", false, false, mrAbort);
    btnIgnore = button(idBtnIgnore, "btnIgnore", 121, u"忽略", false, true, mrIgnore);
    pnlClient = AddControl({.kind = TControlKind::Panel, .id = idCopyPnlClient, .name = "pnlClient",
                            .align = TAlign::Client, .innerBorder = 32});
    lblInfo = AddControl({.kind = TControlKind::Label, .id = idLblInfo, .name = "lblInfo", .parent = pnlClient,
                          .align = TAlign::Client});
    // Long paths wrap onto further lines.
    LONG style = GetWindowLongW(lblInfo->Handle(), GWL_STYLE);
    SetWindowLongW(lblInfo->Handle(), GWL_STYLE, (style & ~SS_TYPEMASK) | SS_LEFT | SS_EDITCONTROL);
}

int ShowCopyFileFailure(TCustomForm* owner, const WideString& fileName, const WideString& reason)
{
    auto form = std::make_unique<TCopyFileFailureForm>(owner);
    form->FileName = fileName;
    form->Reason = reason;
    form->lblInfo->SetText(FormatText(u"文件：%s\r\n\r\n失败原因：%s", {fileName, reason}));
    return form->ShowModal();
}
