#include "OnlineSetup_win.h"

#include <cstdlib>

#include "DownloadFailureFrm_win.h"
#include "InstallSteps_win.h"
#include "MainFrm_win.h"
#include "PackageResources_win.h"
#include "ProxySettingsFrm_win.h"
#include "SetupProject.h"
#include "ZoIndyUtils.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"

namespace {

const wchar_t* W(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// One line for the console: the client's texts may carry line breaks.
WideString OneLine(WideString text)
{
    text = ReplaceText(text, u"\r\n", u" ", rfReplaceAll);
    for (char16_t& c : text)
        if (c == u'\r' || c == u'\n') c = u' ';
    return text;
}

// ---- The wait cursor of HTTP requests --------------------------------------------------
// Cursor identifiers as the requests save and restore them.
constexpr int16_t crDefault = 0;
constexpr int16_t crHourGlass = -11;
int16_t gScreenCursor = crDefault;

void ShowScreenCursor()
{
    SetCursor(LoadCursorW(nullptr, gScreenCursor == crHourGlass ? IDC_WAIT : IDC_ARROW));
}

int16_t BeginWaitCursor()
{
    int16_t saved = gScreenCursor;
    gScreenCursor = crHourGlass;
    ShowScreenCursor();
    return saved;
}

void EndWaitCursor(int16_t saved)
{
    gScreenCursor = saved;
    ShowScreenCursor();
}

// ---- The main window as the download's front end ---------------------------------------
class TMainFormDownloadView final : public TDownloadView {
public:
    explicit TMainFormDownloadView(TMainForm& form) : form_(form) {}

    bool Silent() const override { return form_.silentMode; }
    void SetProgressMax(int32_t maximum) override
    {
        form_.pbProgress->SetMax(maximum);
        form_.pbProgress->SetPosition(0);
    }
    void SetProgressPosition(int32_t position) override { form_.pbProgress->SetPosition(position); }
    void PumpMessages() override { form_.PumpMessages(); }
    bool ShowDownloadFailure(const WideString& appTitle, const WideString& url) override
    {
        return TDownloadFailureForm::ShowDownloadFailure(&form_, appTitle, url);
    }
    void ShowInfo(const WideString& text) override { form_.ShowInfo(text); }
    void RestoreIdlePage() override { form_.RestoreIdlePage(); }
    [[noreturn]] void EndProcess(int exitCode) override
    {
        form_.EndProcess(exitCode);
        std::_Exit(exitCode);  // not reached: EndProcess does not return
    }

private:
    TMainForm& form_;
};

}  // namespace

// ---- TFullPackageDownload ------------------------------------------------------------------

bool TFullPackageDownload::Run()
{
    GlobalHttpProxy().Assign(target_.proxySettings);
    TZoHttp http;
    const TSetupBaseInfo& info = *target_.script->BaseInfo;
    WideString url = info.FullDownloadUrl;
    http.SetOnWorkBegin([this](TZoHttpClient* s, TWorkMode m, int32_t total) { DownloadWorkBegin(s, m, total); });
    http.SetOnWork([this](TZoHttpClient* s, TWorkMode m, int32_t count) { DownloadWork(s, m, count); });
    http.SetOnWorkEnd([this](TZoHttpClient* s, TWorkMode m) { DownloadWorkEnd(s, m); });

    if (!http.Get(url)) {
        if (view_.Silent()) {
            view_.ShowInfo(OneLine(FormatText(u"在线安装失败：无法下载 %s：%s", {url, http.ErrorMessage()})));
            view_.EndProcess(ecDownloadFailed);
        }
        if (view_.ShowDownloadFailure(info.AppTitle, url)) view_.EndProcess(ecSuccess);
        view_.RestoreIdlePage();
        return false;
    }
    try {
        OpenPackage(http.Content());
    } catch (const std::exception& e) {
        return Fail(ErrorText(e));
    }
    return true;
}

void TFullPackageDownload::OpenPackage(const TMemoryStream& content)
{
    WideString path = TZoWinfn::GetTempDir() + TZoStrfn::NewGuidString() + u".exe";
    target_.downloadedPackage = path;
    TZoFilefn::ForceFileDir(path);
    content.SaveToFile(path);

    // Mapped for its resources only: nothing of the downloaded program runs.
    TUniqueModule module(LoadLibraryExW(W(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module || !HasPackageResource(module.Get(), FullScriptResource)) throw EPackageError(u"安装包错误。");
    TMemoryStream stream;
    ReadPackageResource(module.Get(), WideOf(FullScriptResource), &stream);
    stream.SetPosition(0);
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(stream);

    // Everything has been read: only now do the window's module and script change.
    target_.resourceModule = std::move(module);
    target_.script = std::move(script);
}

bool TFullPackageDownload::Fail(const WideString& message)
{
    DiscardPackageFile();
    view_.ShowInfo(message);
    if (view_.Silent()) view_.EndProcess(ecDownloadFailed);
    view_.RestoreIdlePage();
    return false;
}

void TFullPackageDownload::DiscardPackageFile()
{
    // A package that could not be used is of no further use, and every
    // attempt writes a new file: remove it rather than leave it in the temporary folder.
    WideString& path = target_.downloadedPackage;
    if (path.empty()) return;
    if (DeleteFileW(W(path)) || GetFileAttributesW(W(path)) == INVALID_FILE_ATTRIBUTES) path.clear();
}

void TFullPackageDownload::DownloadWorkBegin(TZoHttpClient*, TWorkMode, int32_t total)
{
    view_.SetProgressMax(total);
    view_.PumpMessages();
}

void TFullPackageDownload::DownloadWork(TZoHttpClient*, TWorkMode, int32_t count)
{
    view_.SetProgressPosition(count);
    view_.PumpMessages();
}

void TFullPackageDownload::DownloadWorkEnd(TZoHttpClient*, TWorkMode) {}

// ---- The main window's hooks ------------------------------------------------------------------

bool DownloadFullPackage(TMainForm& form)
{
    TMainFormDownloadView view(form);
    TFullPackageDownload download(
        view, TDownloadTarget{*form.proxySettings, form.script, form.resourceModule, form.downloadedPackage});
    return download.Run();
}

void VisitUrlSilently(const WideString& url)
{
    TZoHttp http;
    http.SetConnectTimeout(5000);
    // The answer is not used: a server that accepts and then stalls must not
    // hold the finished installer for long either.
    http.SetReadTimeout(5000);
    http.Get(url);
}

void InitOnlineSetup()
{
    TMainForm::DownloadFullPackageHook = [](TMainForm& form) { return DownloadFullPackage(form); };
    TMainForm::ProxySettingsHook = [](TMainForm& form) {
        TIndyProxySettingsForm::EditProxySettings(&form, *form.proxySettings);
    };
    TZoHttp::SetWaitCursorHook({BeginWaitCursor, EndWaitCursor});
}
