#include "DownloadFailureFrm_win.h"

#include <cstring>
#include <memory>

#include "UserLaunch_win.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"

namespace {

TFormSpec DownloadFailureFormSpec()
{
    TFormSpec design = BaseDialogFormSpec(ZO_DOWNLOADFAILUREFORM_CLASS);
    design.caption = u"在线安装失败";
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

TDownloadFailureForm::TDownloadFailureForm(TCustomForm* owner) : TBaseDialogForm(owner, DownloadFailureFormSpec())
{
    static const TFontSpec buttonFont{u"Tahoma", 12, false, false};
    auto line = [&](int id, const char* name, const char16_t* text) {
        return AddControl({.kind = TControlKind::Label, .id = id, .name = name, .parent = pnlBkClient, .height = 30,
                           .text = text, .vcentre = true, .align = TAlign::Top});
    };
    lblFailure1 = line(idLblFailure1, "lblFailure1", u"您的电脑可能没有连接到互联网，在线安装失败。");
    lblFailure2 = line(idLblFailure2, "lblFailure2",
                       u"如果您是通过代理服务器上网的，您可以点击【重试】按钮返回到首页设置代理服务器。");
    lblFailure3 = line(idLblFailure3, "lblFailure3", u"您还可以使用以下地址下载离线安装包，然后运行离线安装包进行安装。");
    // Aligned children take their places in the order they are made: the
    // strip claims the bottom before the address fills what is left.
    pnlUrlButtons = AddControl({.kind = TControlKind::Panel, .id = idPnlUrlButtons, .name = "pnlUrlButtons",
                                .parent = pnlBkClient, .height = 33, .align = TAlign::Bottom});
    btnBrowser = AddControl({.kind = TControlKind::Button, .id = idBtnBrowser, .name = "btnBrowser",
                             .parent = pnlUrlButtons, .left = 0, .top = 8, .width = 137, .height = 25,
                             .text = u"使用浏览器下载", .font = &buttonFont});
    btnCopy = AddControl({.kind = TControlKind::Button, .id = idBtnCopy, .name = "btnCopy", .parent = pnlUrlButtons,
                          .left = 144, .top = 8, .width = 121, .height = 25, .text = u"复制到剪贴板",
                          .font = &buttonFont});
    memUrl = AddControl({.kind = TControlKind::Memo, .id = idMemUrl, .name = "memUrl", .parent = pnlBkClient,
                         .align = TAlign::Client});
    btnOk->SetText(u"退出安装");
    btnCancel->SetText(u"重试");
    btnBrowser->OnClick = [this] { btnBrowserClick(); };
    btnCopy->OnClick = [this] { btnCopyClick(); };
}

bool TDownloadFailureForm::ShowDownloadFailure(TCustomForm* owner, const WideString& appTitle, const WideString& url)
{
    auto form = std::make_unique<TDownloadFailureForm>(owner);
    form->SetCaption(FormatText(u"%s 在线安装失败", {appTitle}));
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
