#include "UninstallFrm_win.h"

#include "CloseProgramsFrm_win.h"
#include "SetupProject.h"
#include "Texts.h"
#include "ZoGraphics_win.h"
#include "ZoSkin_win.h"
#include "ZoSysUtils.h"

namespace {

TFormSpec UninstallFormSpec(const WideString& title)
{
    TFormSpec desc = BaseFormSpec(ZO_UNINSTALLFORM_CLASS);
    desc.caption = FormatText(TextView(TTextId::UninstallTitleFormat), {title});
    desc.border = TBorderStyle::None;
    desc.clientWidth = 750;
    desc.clientHeight = 480;
    desc.appWindow = true;
    return desc;
}

const TFontSpec fontTitle{TFontRole::Display, 37, false, false};
const TFontSpec fontVersion{TFontRole::Display, 21, false, false};
const TFontSpec fontBigButton{TFontRole::Display, 27, false, false};
const TFontSpec fontPrompt{TFontRole::Display, 19, false, false};
const TFontSpec fontWait{TFontRole::Text, 21, false, false};
const TFontSpec fontProgress{TFontRole::Text, 11, true, false};
const COLORREF clWhite = RGB(255, 255, 255);
const COLORREF clGrey = RGB(96, 96, 96);

}  // namespace

TUninstallForm::TUninstallForm(TSetupScript& script, TUninstallPlan plan, const TBytes& iconPng)
    : TBaseForm(nullptr, UninstallFormSpec(script.BaseInfo->AppTitle)), script_(script), plan_(std::move(plan))
{
    Application.SetMainForm(this);
    CreateControls();
    for (TControl* c : {imgIcon, lblAppTitle, lblVersion, btnUninstall}) c->SetLeft((ClientWidth() - c->Width()) / 2);

    const TSetupBaseInfo& info = *script_.BaseInfo;
    lblAppTitle->SetText(info.AppTitle);
    lblVersion->SetText(FormatText(TextView(TTextId::VersionFormat), {info.Version}));
    lblPrompt->SetText(FormatText(TextView(TTextId::UninstallPromptFormat), {info.AppTitle}));
    lblFolder->SetText(FormatText(TextView(TTextId::UninstallFolderFormat), {plan_.InstallFolder}));
    if (!iconPng.empty()) {
        try {
            std::shared_ptr<TPicture> picture = TPicture::FromPng(iconPng);
            imgIcon->SetPicture(picture);
            windowIcon_.Reset(picture->CreateIcon());
        } catch (const std::exception&) {
            // a picture the system cannot show: the window goes without
        }
    }
    if (windowIcon_) {
        SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(windowIcon_.Get()));
        SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(windowIcon_.Get()));
    }
    Show();
    UpdateWindow(Handle());
}

TUninstallForm::~TUninstallForm()
{
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, 0);
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, 0);
}

void TUninstallForm::CreateControls()
{
    auto drag = [this] { DragWindow(); };
    TntPanel2 = AddControl({.kind = TControlKind::Panel, .id = idUnTntPanel2, .name = "TntPanel2",
                            .color = ZoSkin::Blue, .border = true, .align = TAlign::Client});
    pnlBottom = AddControl({.kind = TControlKind::Panel, .id = idUnPnlBottom, .name = "pnlBottom",
                            .parent = TntPanel2, .top = 378, .width = 748, .height = 100, .color = clWhite,
                            .align = TAlign::Bottom});
    btnUninstall = AddControl({.kind = TControlKind::Button, .id = idUnBtnUninstall, .name = "btnUninstall",
                               .parent = TntPanel2, .left = 264, .top = 280, .width = 200, .height = 50,
                               .text = Text(TTextId::UninstallNow), .font = &fontBigButton, .fitText = true});
    lblAppTitle = AddControl({.kind = TControlKind::Label, .id = idUnLblAppTitle, .name = "lblAppTitle", .windowless = true,
                              .parent = TntPanel2, .left = 8, .top = 168, .width = 737, .height = 57,
                              .font = &fontTitle, .fontColor = clWhite, .textAlign = TTextAlign::Centre,
                              .vcentre = true, .ellipsis = true});
    lblVersion = AddControl({.kind = TControlKind::Label, .id = idUnLblVersion, .name = "lblVersion", .windowless = true,
                             .parent = TntPanel2, .left = 8, .top = 232, .width = 737, .height = 33,
                             .font = &fontVersion, .fontColor = clWhite, .textAlign = TTextAlign::Centre,
                             .vcentre = true});
    imgMinimize = AddControl({.kind = TControlKind::Image, .id = idUnImgMinimize, .name = "imgMinimize", .windowless = true,
                              .parent = TntPanel2, .left = 682, .top = 2, .width = 32, .height = 32});
    imgClose = AddControl({.kind = TControlKind::Image, .id = idUnImgClose, .name = "imgClose", .windowless = true,
                           .parent = TntPanel2, .left = 714, .top = 2, .width = 32, .height = 32});
    imgIcon = AddControl({.kind = TControlKind::Image, .id = idUnImgIcon, .name = "imgIcon", .windowless = true, .parent = TntPanel2,
                          .left = 320, .top = 48, .width = 96, .height = 96});
    imgBackground = AddControl({.kind = TControlKind::Image, .id = idUnImgBackground, .name = "imgBackground", .windowless = true,
                                .parent = TntPanel2, .width = 748, .height = 378});

    btnFinish = AddControl({.kind = TControlKind::Button, .id = idUnBtnFinish, .name = "btnFinish",
                            .parent = pnlBottom, .left = 274, .top = 23, .width = 200, .height = 50,
                            .text = Text(TTextId::FinishButton), .font = &fontBigButton, .visible = false,
                            .fitText = true});
    lblPrompt = AddControl({.kind = TControlKind::Label, .id = idUnLblPrompt, .name = "lblPrompt", .windowless = true,
                            .parent = pnlBottom, .left = 16, .top = 18, .width = 716, .height = 30,
                            .font = &fontPrompt, .fontColor = ZoSkin::Ink, .textAlign = TTextAlign::Centre,
                            .vcentre = true, .ellipsis = true});
    lblFolder = AddControl({.kind = TControlKind::Label, .id = idUnLblFolder, .name = "lblFolder", .windowless = true,
                            .parent = pnlBottom, .left = 16, .top = 58, .width = 716, .height = 20,
                            .fontColor = clGrey, .textAlign = TTextAlign::Centre, .vcentre = true, .ellipsis = true});
    lblWait = AddControl({.kind = TControlKind::Label, .id = idUnLblWait, .name = "lblWait", .parent = pnlBottom,
                          .left = 16, .top = 11, .width = 716, .height = 25, .text = Text(TTextId::PleaseWait), .font = &fontWait,
                          .fontColor = ZoSkin::Ink, .visible = false, .textAlign = TTextAlign::Centre, .vcentre = true});
    pbProgress = AddControl({.kind = TControlKind::ProgressBar, .id = idUnPbProgress, .name = "pbProgress",
                             .parent = pnlBottom, .left = 16, .top = 42, .width = 716, .height = 17,
                             .font = &fontProgress, .visible = false});
    memLeftovers = AddControl({.kind = TControlKind::Memo, .id = idUnMemLeftovers, .name = "memLeftovers",
                               .parent = TntPanel2, .left = 74, .top = 272, .width = 600, .height = 96,
                               .visible = false});
    lblDetail = AddControl({.kind = TControlKind::Label, .id = idUnLblDetail, .name = "lblDetail",
                            .parent = pnlBottom, .left = 16, .top = 63, .width = 716, .height = 14,
                            .fontColor = ZoSkin::Ink, .visible = false, .vcentre = true, .ellipsis = true});

    imgMinimize->SetPainter(ZoSkin::PaintMinimizeGlyph);
    imgClose->SetPainter(ZoSkin::PaintCloseGlyph);
    for (TControl* c : {imgBackground, imgIcon, pnlBottom}) c->OnMouseDown = drag;
    imgMinimize->OnClick = [this] { imgMinimizeClick(); };
    imgClose->OnClick = [this] { imgCloseClick(); };
    btnUninstall->OnClick = [this] { btnUninstallClick(); };
    btnFinish->OnClick = [this] { btnFinishClick(); };
}

void TUninstallForm::FormShow() { btnUninstall->SetFocus(); }

int TUninstallForm::ExitCode() const
{
    if (uninstallState != TUninstallState::Finished) return ucCancelled;
    return report_.Complete() ? ucRemoved : ucLeftovers;
}

// ---- Looks --------------------------------------------------------------------------

void TUninstallForm::ShowUninstallingLook()
{
    lblAppTitle->SetText(Text(TTextId::Uninstalling));
    for (TControl* c : {lblVersion, btnUninstall, lblPrompt, lblFolder}) c->Hide();
    lblDetail->SetText(WideString());
    for (TControl* c : {lblWait, pbProgress, lblDetail}) c->Show();
}

void TUninstallForm::ShowIdleLook()
{
    lblAppTitle->SetText(script_.BaseInfo->AppTitle);
    for (TControl* c : {lblWait, pbProgress, lblDetail}) c->Hide();
    for (TControl* c : {lblVersion, btnUninstall, lblPrompt, lblFolder}) c->Show();
    btnUninstall->SetFocus();
}

void TUninstallForm::ShowFinishedLook()
{
    lblAppTitle->SetText(Text(TTextId::UninstallFinished));
    for (TControl* c : {lblWait, pbProgress, lblDetail}) c->Hide();
    const TSetupBaseInfo& info = *script_.BaseInfo;
    const int failed = static_cast<int>(report_.Leftovers.size()) - report_.Outside;
    if (report_.Complete())
        lblVersion->SetText(FormatText(TextView(TTextId::RemovedFromComputerFormat), {info.AppTitle}));
    else if (failed == 0)
        lblVersion->SetText(FormatText(TextView(TTextId::KeptOutsideFormat), {IntToStr(report_.Outside)}));
    else if (report_.Outside == 0 && report_.RemovedAtRestart == failed)
        lblVersion->SetText(FormatText(TextView(TTextId::InUseFormat), {IntToStr(report_.RemovedAtRestart)}));
    else
        lblVersion->SetText(FormatText(TextView(TTextId::NotRemovedFormat), {IntToStr(report_.Leftovers.size())}));
    lblVersion->Show();
    if (!report_.Complete()) {
        // The first of them, so the user knows where to look.
        lblFolder->SetText(report_.Leftovers.front());
        lblFolder->SetBounds(16, 76, 716, 20);
        lblFolder->Show();
        WideString list;
        for (const WideString& line : LeftoverLines(report_)) list += (list.empty() ? u"" : u"\r\n") + line;
        memLeftovers->SetText(list);
        memLeftovers->Show();
    }
    btnFinish->SetLeft((pnlBottom->Width() - btnFinish->Width()) / 2);
    btnFinish->SetBounds(btnFinish->Left(), report_.Complete() ? 23 : 14, btnFinish->Width(), btnFinish->Height());
    btnFinish->Show();
    btnFinish->SetFocus();
}

// ---- Handlers ---------------------------------------------------------------------

namespace {

// The window as the removal's view: a person is there to be asked.
class TFormView final : public TUninstallView {
public:
    explicit TFormView(TUninstallForm& form) : form_(form) {}
    void SetStatus(const WideString& text) override { form_.SetStatus(text); }
    void SetDetail(const WideString& text) override { form_.SetDetail(text); }
    void SetProgressMax(int maximum) override { form_.SetProgressMax(maximum); }
    void StepProgress() override { form_.StepProgress(); }
    void PumpMessages() override { form_.PumpMessages(); }
    bool CanAsk() const override { return true; }
    TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning) override
    {
        return form_.AskToClosePrograms(programs, stillRunning);
    }

private:
    TUninstallForm& form_;
};

}  // namespace

void TUninstallForm::btnUninstallClick()
{
    if (uninstallState != TUninstallState::Idle) return;
    uninstallState = TUninstallState::Uninstalling;
    ShowUninstallingLook();
    UpdateWindow(Handle());
    TFormView view(*this);
    TUninstallSequence sequence(script_, plan_, view);
    report_ = sequence.Run();
    if (report_.Cancelled) {
        // Nothing was removed: the question again, the exit code still "closed without uninstalling".
        report_ = TUninstallReport();
        uninstallState = TUninstallState::Idle;
        ShowIdleLook();
        return;
    }
    uninstallState = TUninstallState::Finished;
    ShowFinishedLook();
}

TCloseChoice TUninstallForm::AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning)
{
    return ShowClosePrograms(this, programs, stillRunning, CloseProgramsTexts());
}

void TUninstallForm::btnFinishClick() { PostMessageW(Handle(), WM_CLOSE, 0, 0); }

void TUninstallForm::imgCloseClick()
{
    if (uninstallState != TUninstallState::Uninstalling) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TUninstallForm::imgMinimizeClick() { ShowWindow(Handle(), SW_MINIMIZE); }

void TUninstallForm::DragWindow()
{
    ReleaseCapture();
    SendMessageW(Handle(), WM_SYSCOMMAND, 0xF012, 0);
}

bool TUninstallForm::CloseQuery() { return uninstallState != TUninstallState::Uninstalling; }

// ---- TUninstallView -----------------------------------------------------------------

void TUninstallForm::SetStatus(const WideString& text) { lblWait->SetText(text); }

void TUninstallForm::SetDetail(const WideString& text)
{
    lblDetail->SetText(text);
    lblDetail->Repaint();
}

void TUninstallForm::SetProgressMax(int maximum)
{
    pbProgress->SetMax(maximum);
    pbProgress->SetPosition(0);
}

void TUninstallForm::StepProgress() { pbProgress->SetPosition(pbProgress->Position() + 1); }

void TUninstallForm::PumpMessages() { Application.ProcessMessages(); }
