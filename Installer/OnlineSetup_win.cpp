#include "OnlineSetup_win.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include <sddl.h>

#include "DownloadFailureFrm_win.h"
#include "InstallSteps_win.h"
#include "MainFrm_win.h"
#include "PackageResources_win.h"
#include "PeDigest.h"
#include "ProxySettingsFrm_win.h"
#include "SetupProject.h"
#include "Texts.h"
#include "ZoIndyUtils.h"
#include "ZoSafeFiles_win.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"

namespace {

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

// ---- The downloaded file ------------------------------------------------------------------

WideString SystemErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    TUniqueLocal owner(text);
    WideString message;
    if (n && text) message.assign(reinterpret_cast<const char16_t*>(text), n);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
        message.pop_back();
    return message.empty() ? FormatText(u"System error.  Code: %s.", {IntToStr(code)}) : message;
}

// The body as it arrives, written through the handle the download holds.
class TPackageFileStream final : public TStream {
public:
    TPackageFileStream(HANDLE file, const WideString& path) : file_(file), path_(path) {}
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* buffer, size_t count) override
    {
        auto p = static_cast<const uint8_t*>(buffer);
        size_t done = 0;
        while (done < count) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(count - done, 1 << 20)), written = 0;
            if (!WriteFile(file_, p + done, n, &written, nullptr) || written == 0)
                throw EStreamError(FormatText(u"Cannot write file \"%s\". %s", {path_, SystemErrorText(GetLastError())}));
            done += written;
        }
        size_ += static_cast<int64_t>(done);
        return done;
    }
    int64_t Size() const override { return size_; }
    int64_t Position() const override { return size_; }
    void SetPosition(int64_t) override {}

private:
    HANDLE file_;
    const WideString& path_;
    int64_t size_ = 0;
};

// The digest the online installer was built to accept; none in an installer
// built before the pin existed. A pin of the wrong size accepts nothing.
std::optional<TSha256Digest> PinnedDigest(TPackageResources own)
{
    if (!own || !own.Has(FullDigestResourceW)) return std::nullopt;
    std::span<const uint8_t> data = own.Raw(FullDigestResourceW);
    TSha256Digest pin{};
    if (data.size() != pin.size()) throw EPackageError(Text(TTextId::PackageInvalid));
    std::memcpy(pin.data(), data.data(), pin.size());
    return pin;
}

// The current user's SID in its string form ("S-1-5-21-...").
WideString CurrentUserSidText()
{
    std::vector<uint8_t> sid = CurrentUserSid();
    wchar_t* text = nullptr;
    if (sid.empty() || !ConvertSidToStringSidW(sid.data(), &text)) return {};
    TUniqueLocal owner(text);
    return WideString(reinterpret_cast<const char16_t*>(text));
}

// A folder of the download's own below the temporary folder, which only the
// current user and the administrators may enter: no one else can read the
// package, plant a file or a link in it, or swap it while it is written.
WideString CreatePrivateFolder()
{
    WideString dir = TZoWinfn::GetTempDir() + PackageFolderPrefix + TZoStrfn::NewGuidString();
    auto fail = [&dir] {
        throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {dir, SystemErrorText(GetLastError())}));
    };
    WideString sid = CurrentUserSidText();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sid.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                           W(u"D:P(A;OICI;FA;;;" + sid + u")(A;OICI;FA;;;BA)"), SDDL_REVISION_1, &descriptor, nullptr))
        fail();
    TUniqueLocal owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    if (!CreateDirectoryW(W(dir), &attributes)) fail();
    return dir + u"\\";
}

// Folders of earlier downloads whose process ended before it could remove
// them (their files went with the handles). Only empty ones go: a folder of a
// download still running holds its file, and removing a link never reaches
// what it leads to. One made in the last minutes may be another installer's
// about to receive its file: it stays.
void RemoveLeftFolders()
{
    constexpr uint64_t kTenMinutes = 10ull * 60 * 10000000;  // in 100 ns
    WideString temp = TZoWinfn::GetTempDir();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    WIN32_FIND_DATAW data;
    TUniqueFind find(FindFirstFileW(W(temp + PackageFolderPrefix + u"*"), &data));
    if (!find) return;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ticks(data.ftCreationTime) + kTenMinutes < ticks(now))
            RemoveDirectoryW(W(temp + reinterpret_cast<const char16_t*>(data.cFileName)));
    } while (FindNextFileW(find.Get(), &data));
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
    void ShowError(const WideString& text) override
    {
        if (form_.silentMode)
            form_.ShowInfo(text);
        else
            TZoWinfn::ShowMessageBox(form_.Handle(), text, form_.script->BaseInfo->AppTitle, MB_OK | MB_ICONERROR);
    }
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

    try {
        CreatePackageFile();
    } catch (const std::exception& e) {
        return Fail(ErrorText(e));
    }
    TPackageFileStream file(writing_.Get(), target_.downloadedPackage);
    if (!http.Get(url, file)) {
        DiscardPackageFile();
        const WideString reason = FormatText(TextView(TTextId::DownloadFailedLogFormat), {url, http.ErrorMessage()});
        if (!view_.Silent()) LogAdd(TLogEntry::Error, reason);  // a silent run's one line is logged as it ends
        if (view_.Silent())
            view_.EndSilently(ecDownloadFailed, FormatText(TextView(TTextId::DownloadFailedFormat), {url, http.ErrorMessage()}));
        if (view_.ShowDownloadFailure(info.AppTitle, url)) view_.EndProcess(ecSuccess);
        view_.RestoreIdlePage();
        return false;
    }
    try {
        OpenPackage();
    } catch (const std::exception& e) {
        return Fail(ErrorText(e));
    }
    return true;
}

// The body goes straight into a file of our own, in a folder of our own:
// created new, so nothing planted under the name is reused, shared with no
// writer, and deleted when its handle closes however the process ends. The
// same handle is later verified and mapped: the bytes checked are the bytes read.
void TFullPackageDownload::CreatePackageFile()
{
    RemoveLeftFolders();
    WideString dir = CreatePrivateFolder();
    WideString path = dir + TZoStrfn::NewGuidString() + u".exe";
    writing_.Reset(CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    DWORD error = GetLastError();
    // Opened after the file, so that a process ended from outside, whose
    // handles the system closes in order, finds the folder empty at its turn.
    folder_.Reset(CreateFileW(W(dir), DELETE | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE,
                              nullptr));
    if (!writing_) {
        DiscardPackageFile();
        throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {path, SystemErrorText(error)}));
    }
    target_.downloadedPackage = path;
}

void TFullPackageDownload::OpenPackage()
{
    // No second open: the handle that wrote the file is the one mapped.
    TPackageModule package;
    try {
        package = TPackageModule::MapFile(std::move(writing_), std::move(folder_));
    } catch (const EPeFormatError& e) {
        LogAdd(TLogEntry::Error, Text(TTextId::DownloadNotProgramLine) + e.Message());
        throw EPackageError(Text(TTextId::PackageInvalid));
    }
    std::optional<TSha256Digest> pinned = PinnedDigest(target_.resourceModule.Resources());
    if (pinned) {
        std::span<const uint8_t> bytes = package.FileBytes();
        TSha256Digest digest;
        try {
            digest = PeImageDigest(*ViewSource(bytes.data(), bytes.size()));
        } catch (const EPeFormatError& e) {
            LogAdd(TLogEntry::Error, Text(TTextId::DownloadNotProgramLine) + e.Message());
            throw EPackageError(Text(TTextId::PackageInvalid));
        }
        if (digest != *pinned) {
            // The box says only "安装包错误。"; the log says which package it was.
            LogAdd(TLogEntry::Error, FormatText(TextView(TTextId::DownloadDigestMismatchFormat),
                                                {WideOf(DigestToHex(digest)), WideOf(DigestToHex(*pinned))}));
            throw EPackageError(Text(TTextId::PackageInvalid));
        }
    }

    // Read for its resources only: nothing of the downloaded program runs.
    TPackageResources resources = package.Resources();
    if (!resources.Has(FullScriptResourceW)) {
        LogAdd(TLogEntry::Error, Text(TTextId::DownloadNoFullScript));
        throw EPackageError(Text(TTextId::PackageInvalid));
    }
    TMemoryStream stream;
    ReadPackageResource(resources, FullScriptResourceW, &stream);
    stream.SetPosition(0);
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(stream);

    // Everything has been read: only now do the window's module and script change.
    target_.resourceModule = std::move(package);
    target_.script = std::move(script);
}

bool TFullPackageDownload::Fail(const WideString& message)
{
    DiscardPackageFile();
    if (view_.Silent()) view_.EndSilently(ecDownloadFailed, message);
    LogAdd(TLogEntry::Error, message);
    view_.ShowError(message);
    view_.RestoreIdlePage();
    return false;
}

void TFullPackageDownload::DiscardPackageFile()
{
    // Every attempt writes a new file: the handles take the file and then
    // its folder with them. A package that failed in OpenPackage went with
    // the module that held it.
    writing_.Reset();
    folder_.Reset();
    target_.downloadedPackage.clear();
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
