#include "MainFrm_win.h"

#include <algorithm>

#include "ControlIds.h"
#include "CloseProgramsFrm_win.h"
#include "CopyFileFailureFrm_win.h"
#include "Elevation_win.h"
#include "InstallSteps_win.h"
#include "LicenseFrm_win.h"
#include "LicenseText.h"
#include "OnlineSetup_win.h"
#include "PackageResources_win.h"
#include "ProgramLanguage_win.h"
#include "SetupCommandLine.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "Texts.h"
#include "ZoGraphics_win.h"
#include "ZoIndyUtils.h"
#include "ZoLog.h"
#include "ZoPlatform.h"
#include "ZoSkin_win.h"
#include "ZoSysUtils.h"
#include "ZoVclUtils_win.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"

std::function<bool(TMainForm&)> TMainForm::DownloadFullPackageHook;
std::function<void(TMainForm&)> TMainForm::ProxySettingsHook;

namespace {

TFormSpec MainFormSpec()
{
    TFormSpec desc = BaseFormSpec(ZO_MAINFORM_CLASS);
    desc.caption = u"MainForm";
    desc.border = TBorderStyle::None;
    desc.clientWidth = 750;
    desc.clientHeight = 480;
    desc.appWindow = true;
    return desc;
}

// Runs one start-up step; an error becomes one sentence naming what is damaged.
template <typename Step>
void StartupStep(TTextUse what, Step step)
{
    try {
        step();
    } catch (const std::exception& e) {
        throw EPackageError(FormatText(TextView(TTextId::DamagedInstallerFormat), {TextView(what), ErrorText(e)}));
    }
}

const TFontSpec fontTitle{TFontRole::Display, 37, false, false};
const TFontSpec fontVersion{TFontRole::Display, 21, false, false};
const TFontSpec fontBigButton{TFontRole::Display, 27, false, false};
const TFontSpec fontSmallButton{TFontRole::Display, 16, false, false};
const TFontSpec fontDestDir{TFontRole::Text, 19, false, false};
const TFontSpec fontEdit{TFontRole::Text, 16, false, false};
const TFontSpec fontLink{TFontRole::Text, 12, false, true};
const TFontSpec fontWait{TFontRole::Text, 21, false, false};
const TFontSpec fontProgress{TFontRole::Text, 11, true, false};
const COLORREF clWhite = RGB(255, 255, 255);
// The strip is white whatever the system's colours: its texts have their own.
const COLORREF clInk = ZoSkin::Ink;
const COLORREF clLink = ZoSkin::Link;

// The window as the install steps' front end; the silent end goes through the
// window's own, which lets go of what an unbegun installation made.
class TMainFormView final : public TInstallView {
public:
    explicit TMainFormView(TMainForm& form) : form_(form) {}

    bool Silent() const override { return form_.Silent(); }
    void* OwnerWindow() const override { return form_.OwnerWindow(); }
    void SetStatus(const WideString& text) override { form_.SetStatus(text); }
    void SetDetail(const WideString& text) override { form_.SetDetail(text); }
    void SetProgressMax(int maximum) override { form_.SetProgressMax(maximum); }
    void StepProgress() override { form_.StepProgress(); }
    void ProgressToMax() override { form_.ProgressToMax(); }
    void PumpMessages() override { form_.PumpMessages(); }
    void ShowInfo(const WideString& text) override { form_.ShowInfo(text); }
    int ShowCopyFileFailure(const WideString& path, const WideString& reason) override
    {
        return form_.ShowCopyFileFailure(path, reason);
    }
    TCloseChoice AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning) override
    {
        return form_.AskToClosePrograms(programs, stillRunning);
    }
    void ShowFinished() override { form_.ShowFinished(); }
    [[noreturn]] void EndProcess(int exitCode) override { form_.EndProcess(exitCode); }

private:
    TMainForm& form_;
};

}  // namespace

// ---- Construction ---------------------------------------------------------------

TMainForm::TMainForm() : TBaseForm(nullptr, MainFormSpec())
{
    Application.SetMainForm(this);
    script = std::make_unique<TSetupScript>();
    proxySettings = std::make_unique<TZoHttpProxy>();
    installState = TInstallState::Idle;
    commandLine = ParseSetupCommandLine(InstallerScopeArgs().Rest);

    resourceModule = TPackageModule::Own();
    {
        TMemoryStream stream;
        StartupStep(TTextId::ScriptNotDecoded, [&] { SelectInstallMode(&stream); });
        StartupStep(TTextId::ScriptNotRead, [&] {
            stream.SetPosition(0);
            script->LoadFromStream(stream);
        });
    }
    const TSetupBaseInfo& info = *script->BaseInfo;
    // The script names the language, so the controls are made once it is known.
    ChooseProgramLanguage(info.Language, commandLine);
    Application.SetFontFaces(Text(TTextId::DisplayFontFaces), Text(TTextId::TextFontFaces));
    // The uninstaller speaks as the installation did, even when /LANG chose it.
    if (commandLine.language && LanguageFromTag(*commandLine.language))
        script->BaseInfo->Language = LanguageTag(CurrentLanguage());
    // The skin ("Athen") is built into the skinned controls. Their windows
    // come after the window's first paint, which shows them drawn as they will look.
    DeferWindows();
    CreateControls();
    AppTitleValue = info.AppTitle;
    // The taskbar, Alt+Tab and the message boxes name the product.
    Application.SetTitle(info.AppTitle);
    SetCaption(info.AppTitle);
    OpenRunLog(commandLine, TZoWinfn::GetTempDir(), info.AppTitle, u"Setup");
    LogAdd(TLogEntry::Note,
           FormatText(TextView(TTextId::SetupLogFormat),
                      {info.AppTitle, info.Version,
                       (fullPackage ? Text(TTextId::FullPackage) : Text(TTextId::OnlineInstaller)), ArgAt(0)}));
    LogAdd(TLogEntry::Note, Text(TTextId::CommandLineLine) + ZoPlatform::CommandLine());
    lblAppTitle->SetText(info.AppTitle);
    lblVersion->SetText(FormatText(TextView(TTextId::VersionFormat), {info.Version}));
    lblProxy->SetVisible(!fullPackage);
    ChooseScope();
    if (commandLine.installDir) edtDestDir->SetText(*commandLine.installDir);
    StartupStep(TTextId::IconNotRead, [&] { LoadIcon(); });
    StartupStep(TTextId::LicenseNotRead, [&] { LoadLicenseText(); });

    LayOutTexts();
    UpdateInstallButton();
    lockScope_ = PerUserInstall ? TSetupLock::TScope::User : TSetupLock::TScope::Machine;
    if (!setupLock_.Acquire(info.GUID, lockScope_)) {
        const WideString text = FormatText(TextView(TTextId::SetupRunningFormat), {info.AppTitle});
        if (commandLine.mode == TRunMode::Silent)
            TZoSysfn::WriteConsoleLine(text);
        else
            TZoVclfn::ShowInfo(Handle(), text);
        LogAdd(TLogEntry::Error, text);
        LogAdd(TLogEntry::Exit, IntToStr(ecSetupRunning));
        ExitProcess(ecSetupRunning);
    }
    ApplyCommandLine();
}

TMainForm::~TMainForm()
{
    // The window outlives this object's members by a moment: let go of the icon first.
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, 0);
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, 0);
    RemoveUnusedFolders();
    resourceModule.Reset();  // a downloaded package and its folder go with their handles
}

void TMainForm::EndProcess(int exitCode)
{
    RemoveUnusedFolders();
    resourceModule.Reset();
    TSilentEnd().EndProcess(exitCode);
}

void TMainForm::CreateControls()
{
    auto drag = [this] { DragWindow(); };
    TntPanel2 = AddControl({.kind = TControlKind::Panel, .id = idTntPanel2, .name = "TntPanel2",
                            .color = ZoSkin::Blue, .border = true, .align = TAlign::Client});
    // Stacking follows creation: the bottom strip and the install button come
    // first (tab order), the background image last (beneath everything).
    pnlBottom = AddControl({.kind = TControlKind::Panel, .id = idPnlBottom, .name = "pnlBottom",
                            .parent = TntPanel2, .top = 378, .width = 748, .height = 100, .color = clWhite,
                            .align = TAlign::Bottom});
    btnInstall = AddControl({.kind = TControlKind::Button, .id = idBtnInstall, .name = "btnInstall",
                             .parent = TntPanel2, .left = 264, .top = 280, .width = 200, .height = 50,
                             .text = Text(TTextId::InstallNow), .font = &fontBigButton, .fitText = true});
    lblAppTitle = AddControl({.kind = TControlKind::Label, .id = idLblAppTitle, .name = "lblAppTitle", .windowless = true,
                              .parent = TntPanel2, .left = 8, .top = 168, .width = 737, .height = 57,
                              .font = &fontTitle, .fontColor = clWhite, .textAlign = TTextAlign::Centre,
                              .vcentre = true, .ellipsis = true});
    lblVersion = AddControl({.kind = TControlKind::Label, .id = idLblVersion, .name = "lblVersion", .windowless = true,
                             .parent = TntPanel2, .left = 8, .top = 232, .width = 737, .height = 33,
                             .font = &fontVersion, .fontColor = clWhite, .textAlign = TTextAlign::Centre,
                             .vcentre = true, .ellipsis = true});
    imgMinimize = AddControl({.kind = TControlKind::Image, .id = idImgMinimize, .name = "imgMinimize", .windowless = true,
                              .parent = TntPanel2, .left = 682, .top = 2, .width = 32, .height = 32});
    imgClose = AddControl({.kind = TControlKind::Image, .id = idImgClose, .name = "imgClose", .windowless = true, .parent = TntPanel2,
                           .left = 714, .top = 2, .width = 32, .height = 32});
    imgIcon = AddControl({.kind = TControlKind::Image, .id = idImgIcon, .name = "imgIcon", .windowless = true, .parent = TntPanel2,
                          .left = 320, .top = 48, .width = 96, .height = 96});
    imgBackground = AddControl({.kind = TControlKind::Image, .id = idImgBackground, .name = "imgBackground", .windowless = true,
                                .parent = TntPanel2, .width = 748, .height = 378});

    edtDestDir = AddControl({.kind = TControlKind::Edit, .id = idEdtDestDir, .name = "edtDestDir",
                             .parent = pnlBottom, .left = 108, .top = 25, .width = 112, .height = 25,
                             .font = &fontEdit, .color = clWhite, .fontColor = clInk, .border = true});
    btnDestDir = AddControl({.kind = TControlKind::Button, .id = idBtnDestDir, .name = "btnDestDir",
                             .parent = pnlBottom, .left = 224, .top = 23, .width = 89, .height = 29,
                             .text = Text(TTextId::Browse), .font = &fontSmallButton, .fitText = true});
    cbLicense = AddControl({.kind = TControlKind::CheckBox, .id = idCbLicense, .name = "cbLicense",
                            .parent = pnlBottom, .left = 108, .top = 62, .width = 42, .height = 16,
                            .text = Text(TTextId::Agree), .fontColor = clInk, .fitText = true});
    lblDestDir = AddControl({.kind = TControlKind::Label, .id = idLblDestDir, .name = "lblDestDir", .windowless = true,
                             .parent = pnlBottom, .left = 12, .top = 26, .width = 95, .height = 23,
                             .text = Text(TTextId::InstallFolderLabel), .font = &fontDestDir, .fontColor = clInk, .autoSize = true});
    lblLicense = AddControl({.kind = TControlKind::Label, .id = idLblLicense, .name = "lblLicense",
                             .parent = pnlBottom, .left = 151, .top = 63, .width = 72, .height = 14,
                             .text = Text(TTextId::LicenseAgreement), .font = &fontLink, .fontColor = clLink, .autoSize = true,
                             .link = true});
    lblProxy = AddControl({.kind = TControlKind::Label, .id = idLblProxy, .name = "lblProxy", .parent = pnlBottom,
                           .left = 239, .top = 63, .width = 84, .height = 14, .text = Text(TTextId::ProxySettings),
                           .font = &fontLink, .fontColor = clLink, .visible = false, .autoSize = true,
                           .link = true});
    // Shown only when the project lets the user choose the scope.
    rbAllUsers = AddControl({.kind = TControlKind::RadioButton, .id = idRbAllUsers, .name = "rbAllUsers",
                             .parent = pnlBottom, .left = 400, .top = 62, .width = 116, .height = 16,
                             .text = Text(TTextId::ScopeAllUsers), .fontColor = clInk, .visible = false,
                             .fitText = true});
    rbCurrentUser = AddControl({.kind = TControlKind::RadioButton, .id = idRbCurrentUser, .name = "rbCurrentUser",
                                .parent = pnlBottom, .left = 528, .top = 62, .width = 92, .height = 16,
                                .text = Text(TTextId::ScopeCurrentUser), .fontColor = clInk,
                                .visible = false, .fitText = true});
    cbLicense->SetChecked(true);

    imgMinimize->SetPainter(ZoSkin::PaintMinimizeGlyph);
    imgClose->SetPainter(ZoSkin::PaintCloseGlyph);
    for (TControl* c : {imgBackground, imgIcon, pnlBottom}) c->OnMouseDown = drag;
    imgMinimize->OnClick = [this] { imgMinimizeClick(); };
    imgClose->OnClick = [this] { imgCloseClick(); };
    btnDestDir->OnClick = [this] { btnDestDirClick(); };
    cbLicense->OnClick = [this] { cbLicenseClick(); };
    lblLicense->OnClick = [this] { lblLicenseClick(); };
    lblProxy->OnClick = [this] { lblProxyClick(); };
    rbAllUsers->OnClick = [this] { rbScopeClick(); };
    rbCurrentUser->OnClick = [this] { rbScopeClick(); };
    btnInstall->OnClick = [this] { btnInstallClick(); };
    // The passive labels (title, version, destination caption, status lines)
    // let the mouse through to the background or the strip beneath, which drag.
    // The pictures and the labels of the idle look are drawn by their panel.
}

// The installing and finished looks' controls, made when first shown: the idle
// window, the one most runs show first, comes up without them (each child
// window costs its share of the start).
void TMainForm::CreateBusyControls()
{
    if (pbProgress) return;
    lblWait = AddControl({.kind = TControlKind::Label, .id = idLblWait, .name = "lblWait", .parent = pnlBottom,
                          .left = 364, .top = 11, .width = 149, .height = 25, .text = Text(TTextId::PleaseWait), .font = &fontWait,
                          .fontColor = clInk, .visible = false, .textAlign = TTextAlign::Centre, .vcentre = true,
                          .ellipsis = true});
    pbProgress = AddControl({.kind = TControlKind::ProgressBar, .id = idPbProgress, .name = "pbProgress",
                             .parent = pnlBottom, .left = 360, .top = 42, .width = 150, .height = 17,
                             .font = &fontProgress, .visible = false});
    lblDetail = AddControl({.kind = TControlKind::Label, .id = idLblDetail, .name = "lblDetail",
                            .parent = pnlBottom, .left = 361, .top = 63, .width = 36, .height = 14,
                            .text = Text(TTextId::PleaseWait), .fontColor = clInk, .visible = false, .vcentre = true,
                            .ellipsis = true});
    btnRunApp = AddControl({.kind = TControlKind::Button, .id = idBtnRunApp, .name = "btnRunApp",
                            .parent = pnlBottom, .left = 536, .top = 23, .width = 200, .height = 50,
                            .text = Text(TTextId::RunNow), .font = &fontBigButton, .visible = false,
                            .fitText = true});
    btnRunApp->OnClick = [this] { btnRunAppClick(); };
}

bool TMainForm::HasPackageResource(const AnsiString& name) const
{
    return ::HasPackageResource(resourceModule.Resources(), name);
}

bool TMainForm::ReadPackageResource(const WideString& name, TMemoryStream* target) const
{
    return ::ReadPackageResource(resourceModule.Resources(), name, target);
}

void TMainForm::SelectInstallMode(TMemoryStream* target)
{
    if (HasPackageResource(FullScriptResource)) {
        fullPackage = true;
        ReadPackageResource(WideOf(FullScriptResource), target);
    } else if (HasPackageResource(OnlineScriptResource)) {
        fullPackage = false;
        ReadPackageResource(WideOf(OnlineScriptResource), target);
    } else {
        ExitProcess(0);
    }
}

void TMainForm::ReadEarlierInstallLocation()
{
    WideString path = UninstallKeyPath(script->BaseInfo->GUID, u"_mw");
    // HKEY_CURRENT_USER\Software has one view: the first is the only one.
    for (REGSAM view : kRegistryViews) {
        if (PerUserInstall && view != kRegistryViews[0]) break;
        TUniqueHKey key;
        if (RegOpenKeyExW(reinterpret_cast<HKEY>(RootKeyHandle(UninstallRoot())), W(path), 0, KEY_READ | view,
                          key.Put()) != ERROR_SUCCESS) {
            key.Release();  // a failed open leaves no key to close
            continue;
        }
        // An empty location is taken too: the earlier installation said so.
        if (auto location = ReadRegString(key.Get(), u"InstallLocation")) {
            edtDestDir->SetText(*location);
            return;
        }
    }
}

void TMainForm::ChooseScope()
{
    const TInstallScope scope = script->BaseInfo->InstallScope;
    scopeArgs_ = InstallerScopeArgs();
    elevated_ = ProcessIsElevated();
    const bool either = scope == TInstallScope::isEither;
    if (!either && scopeArgs_.Choice != TScopeSwitch::None)
        LogAdd(TLogEntry::Note, Text(TTextId::ScopeSwitchIgnored));
    ApplyScope(ChoosesPerUser(scope, scopeArgs_.Choice, elevated_));
    rbAllUsers->SetVisible(either);
    rbCurrentUser->SetVisible(either);
}

void TMainForm::ApplyScope(bool perUser)
{
    PerUserInstall = perUser;
    // The installed copy of the script says which scope it was installed for.
    if (script->BaseInfo->InstallScope == TInstallScope::isEither) {
        rbAllUsers->SetChecked(!perUser);
        rbCurrentUser->SetChecked(perUser);
    }
    LogAdd(TLogEntry::Note, FormatText(TextView(TTextId::ScopeLogFormat),
                                       {(perUser ? Text(TTextId::ScopeCurrentUser) : Text(TTextId::ScopeAllUsers))}));
    edtDestDir->SetText(TSetupfn::ExpandConstants(script->BaseInfo->DefInstallPath));
    ReadEarlierInstallLocation();
}

void TMainForm::rbScopeClick()
{
    const bool perUser = rbCurrentUser->Checked();
    if (perUser != PerUserInstall) ApplyScope(perUser);
}

bool TMainForm::NeedsElevation() const
{
    return script->BaseInfo->InstallScope == TInstallScope::isEither && !PerUserInstall && !elevated_ &&
           !StartedForElevation();
}

bool TMainForm::HandOverToElevatedCopy()
{
    // Whoever clicked install in the window has chosen: the copy installs at
    // once, into the folder chosen here.
    const bool windowChoice = !silentMode && !autoMode;
    const std::vector<WideString> args =
        ElevatedCopyArgs(scopeArgs_.Rest, windowChoice ? edtDestDir->Text() : WideString());
    const WideString parameters = JoinCommandLine(args);
    LogAdd(TLogEntry::Run, Text(TTextId::ElevatedStartLine) + parameters);
    // The copy takes the product's lock in its turn.
    setupLock_.Release();
    const TElevatedRun run = RunElevated(parameters, silentMode ? nullptr : Handle(), [this] {
        if (!silentMode) ShowWindow(Handle(), SW_HIDE);
    });
    if (run.Started) {
        LogAdd(TLogEntry::Note, FormatText(TextView(TTextId::ElevatedEndedFormat), {IntToStr(run.ExitCode)}));
        EndProcess(run.ExitCode);
    }
    LogAdd(TLogEntry::Error, (run.Refused ? Text(TTextId::ElevationRefusedLog) : Text(TTextId::ElevationFailedLog)));
    if (silentMode) TMainFormView(*this).EndSilently(ecElevationRefused, Text(TTextId::ElevationRefused));
    if (!setupLock_.Acquire(script->BaseInfo->GUID, lockScope_)) {
        // Another setup of the product began meanwhile.
        TZoVclfn::ShowInfo(Handle(), FormatText(TextView(TTextId::SetupRunningFormat), {script->BaseInfo->AppTitle}));
        EndProcess(ecSetupRunning);
    }
    return false;
}

TScopeArgs InstallerScopeArgs()
{
    return TakeScopeSwitch(ProcessArguments());
}

void TMainForm::LoadIcon()
{
    TMemoryStream stream;
    ReadPackageResource(script->BaseInfo->IconResID, &stream);
    stream.SetPosition(0);
    iconPng_ = std::move(stream.Bytes());  // the stream goes with this function
    // The packaging tool's ready icon is shown without GDI+ decoding the PNG
    // through the system's imaging codecs, the dearest part of the start; an
    // installer made without one decodes the PNG.
    HMODULE self = GetModuleHandleW(nullptr);
    std::shared_ptr<TPicture> picture = TPicture::FromReadyIcon(self, iconPng_, imgIcon->Width(), ScaleFactor());
    if (picture) {
        windowIcon_.Reset(LoadReadyIcon(self, GetSystemMetrics(SM_CXICON)));
    } else {
        picture = TPicture::FromPng(iconPng_);
        windowIcon_.Reset(picture->CreateIcon());
    }
    imgIcon->SetPicture(picture);
}

void TMainForm::ApplyWindowIcon()
{
    // Handing the icon to the window system costs a few milliseconds: done
    // after the first paint (before any input is handled).
    if (!windowIcon_) return;
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(windowIcon_.Get()));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(windowIcon_.Get()));
}

void TMainForm::LoadLicenseText()
{
    const WideString& name = script->BaseInfo->LicenseResID;
    if (name.empty()) {
        cbLicense->Hide();
        lblLicense->Hide();
        return;
    }
    TMemoryStream stream;
    ReadPackageResource(name, &stream);
    licenseText = DecodeLicenseText(stream.Bytes());
}

void TMainForm::LayOutTexts()
{
    if (!btnInstall) return;  // the controls are made after the script is read
    for (TControl* c : {imgIcon, lblAppTitle, lblVersion, btnInstall}) c->SetLeft((ClientWidth() - c->Width()) / 2);
    // Each caption ends where the next control begins; a longer text moves it on.
    edtDestDir->SetLeft(std::max(108, lblDestDir->Left() + lblDestDir->Width() + 1));
    btnDestDir->SetLeft(Width() - btnDestDir->Width() - 16);
    edtDestDir->SetWidth(btnDestDir->Left() - edtDestDir->Left() - 8);
    // The box and its link read as one sentence: pushed on, the link keeps a word space.
    const int agreeRight = cbLicense->Left() + cbLicense->Width();
    lblLicense->SetLeft(agreeRight <= 150 ? 151 : agreeRight + 4);
    lblProxy->SetLeft(std::max(239, lblLicense->Left() + lblLicense->Width() + 16));
    // The scope's two buttons follow whatever of the row is shown.
    int rowRight = 0;
    for (TControl* c : {cbLicense, lblLicense, lblProxy})
        if (c->Visible()) rowRight = c->Left() + c->Width();
    rbAllUsers->SetLeft(std::max(400, rowRight + 16));
    rbCurrentUser->SetLeft(std::max(528, rbAllUsers->Left() + rbAllUsers->Width() + 12));
}

void TMainForm::UpdateInstallButton() { btnInstall->SetEnabled(cbLicense->Checked()); }

void TMainForm::ApplyCommandLine()
{
    silentMode = commandLine.mode == TRunMode::Silent;
    autoMode = commandLine.mode == TRunMode::Auto;
    if (silentMode) {
        // No one is there: reports are lines on standard output, and a run
        // that stops before the end ends the process with its code.
        Application.SetExceptionHandler([](const WideString& text) { TZoSysfn::WriteConsoleLine(text); });
        MakeDeferredWindows();
        try {
            btnInstallClick();
        } catch (const std::exception& e) {
            TMainFormView(*this).EndSilently(ecInstallFailed, ErrorText(e));
        }
        if (installState != TInstallState::Finished)
            EndProcess(!fullPackage && !sequenceFailed_ ? ecDownloadFailed : ecInstallFailed);
        return;
    }
    if (autoMode) {
        MakeDeferredWindows();
        ShowInstallingLook();
        lblWait->SetLeft((pnlBottom->Width() - lblWait->Width()) / 2);
        Show();
        UpdateWindow(Handle());
        PostMessageW(Handle(), WM_AFTER_FIRST_PAINT, 0, 0);
        try {
            btnInstallClick();
        } catch (const std::exception& e) {
            Application.HandleException(e);
        }
        return;
    }
    // Focused as the window activates, so the first paint already shows it so.
    SetActiveControl(btnInstall);
    Show();
    UpdateWindow(Handle());
    PostMessageW(Handle(), WM_AFTER_FIRST_PAINT, 0, 0);
}

void TMainForm::TntFormShow() { btnInstall->SetFocus(); }

// ---- Window looks -----------------------------------------------------------------

void TMainForm::ShowInstallingLook()
{
    CreateBusyControls();
    lblAppTitle->SetText(Text(TTextId::Installing));
    for (TControl* c : {lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir, cbLicense, lblLicense, lblProxy,
                        rbAllUsers, rbCurrentUser})
        c->Hide();
    pbProgress->SetBounds(16, pbProgress->Top(), pnlBottom->Width() - 32, pbProgress->Height());
    pbProgress->Show();
    lblWait->SetBounds(pbProgress->Left(), lblWait->Top(), pbProgress->Width(), lblWait->Height());
    lblWait->Show();
    lblDetail->SetBounds(pbProgress->Left(), lblDetail->Top(), pbProgress->Width(), lblDetail->Height());
    lblDetail->SetText(WideString());
    lblDetail->Show();
}

void TMainForm::RestoreIdlePage()
{
    installState = TInstallState::Idle;
    CreateBusyControls();
    for (TControl* c : {lblWait, pbProgress, lblDetail}) c->Hide();
    lblAppTitle->SetText(script->BaseInfo->AppTitle);
    for (TControl* c : {lblVersion, btnInstall, lblDestDir, edtDestDir, btnDestDir}) c->Show();
    bool agreement = !script->BaseInfo->LicenseResID.empty();
    cbLicense->SetVisible(agreement);
    lblLicense->SetVisible(agreement);
    lblProxy->SetVisible(!fullPackage);
    const bool either = script->BaseInfo->InstallScope == TInstallScope::isEither;
    rbAllUsers->SetVisible(either);
    rbCurrentUser->SetVisible(either);
}

void TMainForm::ShowFinished()
{
    installState = TInstallState::Finished;
    lblAppTitle->SetText(Text(TTextId::InstallFinished));
    CreateBusyControls();
    for (TControl* c : {pbProgress, lblWait, lblDetail}) c->Hide();
    btnRunApp->SetLeft((pnlBottom->Width() - btnRunApp->Width()) / 2);
    btnRunApp->Show();
    btnRunApp->SetFocus();
}

// ---- Install sequence ---------------------------------------------------------------
// The click, the destination check and the run-and-exit message; the steps
// themselves are TInstallSequence's.

bool TMainForm::ValidateInstallDir()
{
    // A user's own folder keeps the protection it inherits from the profile.
    TMainFormView view(*this);
    TDirCheck check = ::ValidateInstallDir(edtDestDir->Text(), view, !PerUserInstall, &createdFolders_);
    if (check == TDirCheck::Empty) edtDestDir->SetFocus();
    return check == TDirCheck::Ok;
}

void TMainForm::btnInstallClick()
{
    if (NeedsElevation() && !HandOverToElevatedCopy()) {
        if (autoMode) RestoreIdlePage();
        return;
    }
    if (!ValidateInstallDir()) {
        // "/Auto" set the installing look before the check: give the idle one back.
        if (autoMode) RestoreIdlePage();
        return;
    }
    installState = TInstallState::Installing;
    ShowInstallingLook();
    // A package already downloaded and checked (the person cancelled in the
    // running-programs dialog) is installed as it is: the module is no longer
    // the online installer, whose pin a second download would need.
    if (!fullPackage && !resourceModule.IsMappedFile()) {
        if (!DownloadFullPackageHook || !DownloadFullPackageHook(*this)) {
            if (installState == TInstallState::Installing) RestoreIdlePage();
            return;
        }
    }
    sequenceStarted_ = true;
    TMainFormView view(*this);
    TInstallSequence sequence(*script, resourceModule.Resources(), view, iconPng_);
    sequence.silentVisit = VisitUrlSilently;
    sequence.noRun = commandLine.noRun;
    if (!sequence.Run()) {
        // Cancelled in the running-programs dialog: nothing was changed.
        if (sequence.Cancelled())
            RestoreIdlePage();
        else
            sequenceFailed_ = true;
        return;
    }
    if (silentMode || autoMode) btnRunAppClick();
}

void TMainForm::RemoveUnusedFolders()
{
    if (sequenceStarted_) return;  // from then on the uninstaller owns the folder
    // Only empty folders go: whatever someone put there meanwhile stays.
    for (const WideString& dir : createdFolders_)
        if (RemoveDirectoryW(W(dir))) LogAdd(TLogEntry::Folder, Text(TTextId::UnusedFolderRemovedLine) + dir);
    createdFolders_.clear();
}


int TMainForm::ExitCode() const { return sequenceFailed_ ? ecInstallFailed : ecSuccess; }

void TMainForm::btnRunAppClick() { PostMessageW(Handle(), WM_RUN_AND_EXIT, 0, 0); }

void TMainForm::RunAndExit()
{
    LaunchRunEntries(*script, commandLine.noRun);
    EndProcess(ecSuccess);
}

// ---- Other handlers ---------------------------------------------------------------

void TMainForm::btnDestDirClick()
{
    WideString path = Trim(edtDestDir->Text());
    if (TZoVclfn::SelectDirectory(Handle(), Text(TTextId::ChooseInstallFolder), path)) edtDestDir->SetText(path);
}

void TMainForm::cbLicenseClick() { UpdateInstallButton(); }

void TMainForm::lblLicenseClick() { TLicenseForm::ShowLicense(this, licenseText); }

void TMainForm::lblProxyClick()
{
    if (ProxySettingsHook) ProxySettingsHook(*this);
}

void TMainForm::imgCloseClick()
{
    if (installState != TInstallState::Installing || sequenceFailed_) PostMessageW(Handle(), WM_CLOSE, 0, 0);
}

void TMainForm::imgMinimizeClick() { ShowWindow(Handle(), SW_MINIMIZE); }

void TMainForm::DragWindow()
{
    ReleaseCapture();
    SendMessageW(Handle(), WM_SYSCOMMAND, 0xF012, 0);
}

bool TMainForm::CloseQuery()
{
    // Closing in the middle of the sequence would free what the steps use.
    return installState != TInstallState::Installing || sequenceFailed_;
}

bool TMainForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result)
{
    (void)wp;
    if (msg == WM_RUN_AND_EXIT) {
        RunAndExit();
        result = 0;
        return true;
    }
    if (msg == WM_AFTER_FIRST_PAINT) {
        // Handled before any input: the controls can take it from here on.
        MakeDeferredWindows();
        ApplyWindowIcon();
        result = 0;
        return true;
    }
    // The steps pump messages between files; without an answer here the
    // first mouse move would put the arrow back while the installation blocks.
    // (A copy-failure dialog disables the window and shows its own cursor.)
    if (msg == WM_SETCURSOR && installState == TInstallState::Installing && IsWindowEnabled(Handle()) &&
        static_cast<short>(LOWORD(lp)) != HTERROR) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        result = TRUE;
        return true;
    }
    return false;
}

// ---- What the install steps show ---------------------------------------------------

void TMainForm::SetStatus(const WideString& text)
{
    LogAdd(TLogEntry::Step, text);
    CreateBusyControls();
    lblWait->SetText(text);
}

void TMainForm::SetDetail(const WideString& text)
{
    CreateBusyControls();
    lblDetail->SetText(text);
    lblDetail->Repaint();
}

void TMainForm::SetProgressMax(int maximum)
{
    CreateBusyControls();
    pbProgress->SetMax(maximum);
    pbProgress->SetPosition(0);
}

void TMainForm::StepProgress()
{
    CreateBusyControls();
    pbProgress->SetPosition(pbProgress->Position() + 1);
}

void TMainForm::ProgressToMax()
{
    CreateBusyControls();
    pbProgress->SetPosition(pbProgress->Max());
}

void TMainForm::PumpMessages() { Application.ProcessMessages(); }

void TMainForm::ShowInfo(const WideString& text)
{
    if (silentMode)
        TZoSysfn::WriteConsoleLine(text);
    else
        TZoVclfn::ShowInfo(Handle(), text);
}

int TMainForm::ShowCopyFileFailure(const WideString& path, const WideString& reason)
{
    return ::ShowCopyFileFailure(this, path, reason);
}

TCloseChoice TMainForm::AskToClosePrograms(const std::vector<WideString>& programs, bool stillRunning)
{
    return ShowClosePrograms(this, programs, stillRunning, CloseProgramsTexts());
}
