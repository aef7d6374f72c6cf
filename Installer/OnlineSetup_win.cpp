#include "OnlineSetup_win.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "DownloadFailureFrm_win.h"
#include "InstallSteps_win.h"
#include "MainFrm_win.h"
#include "PackageResources_win.h"
#include "PeDigest.h"
#include "ProxySettingsFrm_win.h"
#include "SetupProject.h"
#include "Texts.h"
#include "ZoIndyUtils.h"
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

// The held file as the digest reads it.
class THandleSource final : public TByteSource {
public:
    explicit THandleSource(HANDLE file) : file_(file)
    {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file, &size)) throw EPeFormatError(u"the file could not be read");
        size_ = static_cast<uint64_t>(size.QuadPart);
    }
    uint64_t Size() const override { return size_; }
    void ReadAt(uint64_t offset, void* buffer, size_t count) const override
    {
        if (offset > size_ || count > size_ - offset) throw EPeFormatError(u"read past the end of the file");
        auto p = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD n = static_cast<DWORD>(std::min<size_t>(count, 1 << 20)), got = 0;
            if (!ReadFile(file_, p, n, &got, &at) || got == 0) throw EPeFormatError(u"the file could not be read");
            p += got;
            offset += got;
            count -= got;
        }
    }

private:
    HANDLE file_;
    uint64_t size_ = 0;
};

// Opens the written file to keep: readable by others (the loader maps it),
// writable, renamable and deletable by no one, deleted on its last close. A
// scanner that glances at the new file may hold it a moment: a few tries.
TUniqueFile OpenHeld(const WideString& path)
{
    for (int attempt = 0;; ++attempt) {
        TUniqueFile file(CreateFileW(W(path), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file || GetLastError() != ERROR_SHARING_VIOLATION || attempt == 3) return file;
        Sleep(250);
    }
}

// The digest the online installer was built to accept; none in an installer
// built before the pin existed. A pin of the wrong size accepts nothing.
std::optional<TSha256Digest> PinnedDigest(HMODULE own)
{
    HRSRC info = own ? FindResourceA(own, FullDigestResource, MAKEINTRESOURCEA(10)) : nullptr;
    if (!info) return std::nullopt;
    HGLOBAL loaded = LoadResource(own, info);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    TSha256Digest pin{};
    if (!data || SizeofResource(own, info) != pin.size()) throw EPackageError(Text(TTextId::PackageInvalid));
    std::memcpy(pin.data(), data, pin.size());
    return pin;
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

    try {
        CreatePackageFile();
    } catch (const std::exception& e) {
        return Fail(ErrorText(e));
    }
    TPackageFileStream file(writing_.Get(), target_.downloadedPackage);
    if (!http.Get(url, file)) {
        DiscardPackageFile();
        if (view_.Silent())
            view_.EndSilently(ecDownloadFailed, FormatText(Text(TTextId::DownloadFailedFormat), {url, http.ErrorMessage()}));
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

// The body goes straight into a file of our own: created new, so nothing
// planted under the name is reused, and shared for reading only while it grows.
void TFullPackageDownload::CreatePackageFile()
{
    WideString path = TZoWinfn::GetTempDir() + TZoStrfn::NewGuidString() + u".exe";
    TZoFilefn::ForceFileDir(path);
    writing_.Reset(CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY,
                               nullptr));
    if (!writing_) throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {path, SystemErrorText(GetLastError())}));
    target_.downloadedPackage = path;
}

void TFullPackageDownload::OpenPackage()
{
    const WideString& path = target_.downloadedPackage;
    writing_.Reset();
    // From here on the file is held without write sharing and without delete
    // sharing (nobody changes, renames or replaces it) and deleted when
    // released, however the process ends. Whatever happened to it between the
    // two handles is caught by the digest, read through the one that stays.
    TUniqueFile held = OpenHeld(path);
    if (!held) throw EPackageError(Text(TTextId::PackageInvalid));
    std::optional<TSha256Digest> pinned = PinnedDigest(target_.resourceModule.Get());
    if (pinned) {
        TSha256Digest digest;
        try {
            digest = PeImageDigest(THandleSource(held.Get()));
        } catch (const EPeFormatError&) {
            throw EPackageError(Text(TTextId::PackageInvalid));
        }
        if (digest != *pinned) throw EPackageError(Text(TTextId::PackageInvalid));
    }

    // Mapped for its resources only: nothing of the downloaded program runs.
    TUniqueModule module(LoadLibraryExW(W(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module || !HasPackageResource(module.Get(), FullScriptResource)) throw EPackageError(Text(TTextId::PackageInvalid));
    TMemoryStream stream;
    ReadPackageResource(module.Get(), WideOf(FullScriptResource), &stream);
    stream.SetPosition(0);
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(stream);

    // Everything has been read: only now do the window's module and script change.
    target_.resourceModule = std::move(module);
    target_.script = std::move(script);
    target_.packageFile = std::move(held);
}

bool TFullPackageDownload::Fail(const WideString& message)
{
    DiscardPackageFile();
    if (view_.Silent()) view_.EndSilently(ecDownloadFailed, message);
    view_.ShowInfo(message);
    view_.RestoreIdlePage();
    return false;
}

void TFullPackageDownload::DiscardPackageFile()
{
    // A package that could not be used is of no further use, and every
    // attempt writes a new file: remove it rather than leave it in the temporary folder.
    writing_.Reset();
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
        view, TDownloadTarget{*form.proxySettings, form.script, form.resourceModule, form.downloadedPackage,
                              form.downloadedPackageFile});
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
