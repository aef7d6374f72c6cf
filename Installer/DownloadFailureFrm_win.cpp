#include "DownloadFailureFrm_win.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "Texts.h"
#include "DialogTexts_win.h"
#include "UserLaunch_win.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"

namespace {

TFormSpec DownloadFailureFormSpec()
{
    TFormSpec design = BaseDialogFormSpec(ZO_DOWNLOADFAILUREFORM_CLASS);
    design.caption = Text(TTextId::OnlineFailedCaption);
    design.clientWidth = 534;
    design.clientHeight = 261;
    return design;
}

// The clipboard for the span of one operation.
class TClipboardScope {
public:
    explicit TClipboardScope(HWND owner) : open_(OpenClipboard(owner) != 0) {}
    ~TClipboardScope()
    {
        if (open_) CloseClipboard();
    }
    TClipboardScope(const TClipboardScope&) = delete;
    TClipboardScope& operator=(const TClipboardScope&) = delete;
    bool Open() const { return open_; }

private:
    bool open_;
};

}  // namespace

TDownloadFailureForm::TDownloadFailureForm(TCustomForm* owner)
    : TBaseDialogForm(owner, DownloadFailureFormSpec(), DialogButtonTexts())
{
    static const TFontSpec buttonFont{TFontRole::Text, 12, false, false};
    auto line = [&](int id, const char* name, const WideString& text) {
        return AddControl({.kind = TControlKind::Label, .id = id, .name = name, .parent = pnlBkClient, .height = 30,
                           .text = text, .vcentre = true, .align = TAlign::Top});
    };
    lblFailure1 = line(idLblFailure1, "lblFailure1", Text(TTextId::OnlineFailedLine1));
    lblFailure2 = line(idLblFailure2, "lblFailure2",
                       Text(TTextId::OnlineFailedLine2));
    lblFailure3 = line(idLblFailure3, "lblFailure3", Text(TTextId::OnlineFailedLine3));
    // Aligned children take their places in the order they are made: the
    // strip claims the bottom before the address fills what is left.
    pnlUrlButtons = AddControl({.kind = TControlKind::Panel, .id = idPnlUrlButtons, .name = "pnlUrlButtons",
                                .parent = pnlBkClient, .height = 33, .align = TAlign::Bottom});
    btnBrowser = AddControl({.kind = TControlKind::Button, .id = idBtnBrowser, .name = "btnBrowser",
                             .parent = pnlUrlButtons, .left = 0, .top = 8, .width = 137, .height = 25,
                             .text = Text(TTextId::DownloadInBrowser), .font = &buttonFont, .fitText = true});
    btnCopy = AddControl({.kind = TControlKind::Button, .id = idBtnCopy, .name = "btnCopy", .parent = pnlUrlButtons,
                          .left = 144, .top = 8, .width = 121, .height = 25, .text = Text(TTextId::CopyToClipboard),
                          .font = &buttonFont, .fitText = true});
    memUrl = AddControl({.kind = TControlKind::Memo, .id = idMemUrl, .name = "memUrl", .parent = pnlBkClient,
                         .align = TAlign::Client});
    btnOk->SetText(Text(TTextId::QuitSetupButton));
    btnCancel->SetText(Text(TTextId::RetryButton));
    LayOutTexts();
    btnBrowser->OnClick = [this] { btnBrowserClick(); };
    btnCopy->OnClick = [this] { btnCopyClick(); };
}

void TDownloadFailureForm::LayOutTexts()
{
    TBaseDialogForm::LayOutTexts();
    if (btnCopy) btnCopy->SetLeft(std::max(144, btnBrowser->Left() + btnBrowser->Width() + 7));
}

bool TDownloadFailureForm::ShowDownloadFailure(TCustomForm* owner, const WideString& appTitle, const WideString& url)
{
    auto form = std::make_unique<TDownloadFailureForm>(owner);
    form->SetCaption(FormatText(TextView(TTextId::OnlineFailedCaptionFormat), {appTitle}));
    form->Url = url;
    form->memUrl->SetText(url);
    return form->ShowModal() == kModalOk;
}

void TDownloadFailureForm::btnBrowserClick() { OpenUrlAsUser(Url); }

bool TDownloadFailureForm::btnCopyClick()
{
    TClipboardScope clipboard(Handle());
    if (!clipboard.Open() || !EmptyClipboard()) return false;
    size_t bytes = (Url.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return false;
    if (void* p = GlobalLock(memory)) {
        std::memcpy(p, Url.c_str(), bytes);
        GlobalUnlock(memory);
        // The clipboard owns the memory once it is accepted.
        if (SetClipboardData(CF_UNICODETEXT, memory)) return true;
    }
    GlobalFree(memory);
    return false;
}
