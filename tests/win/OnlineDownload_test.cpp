// The download of the full package against a loopback server: what a good
// package switches, what every kind of failure shows, and that a failed
// attempt leaves the window's script, module and the temporary folder alone.
#include <gtest/gtest.h>

#include <algorithm>

#include "OnlineTestSupport.h"
#include "PackageResources_win.h"
#include "PeDigest.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "ZoIndyUtils.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"

namespace {

// The main window's fields as a download finds them in an online installer.
class TOnlineWindow {
    TTempFolder folder_;  // the installer's own file: a module without a full script

public:
    // ownResources: the online installer's own resources, such as its pin.
    explicit TOnlineWindow(const std::vector<std::pair<std::string, std::string>>& ownResources = {})
    {
        script->BaseInfo->AppTitle = u"Online";
        WriteFileBytes(folder_.Path() / "own.dll", ModuleBytes(ownResources));
        resourceModule = TPackageModule::MapFile(TUniqueFile(CreateFileW(
            W(folder_.Wide("own.dll")), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)));
    }
    ~TOnlineWindow() { resourceModule.Reset(); }
    TOnlineWindow(const TOnlineWindow&) = delete;
    TOnlineWindow& operator=(const TOnlineWindow&) = delete;

    bool Download(TDownloadView& view)
    {
        TFullPackageDownload download(view, {proxySettings, script, resourceModule, downloadedPackage});
        return download.Run();
    }

    TZoHttpProxy proxySettings;
    std::unique_ptr<TSetupScript> script = std::make_unique<TSetupScript>();
    TPackageModule resourceModule;
    WideString downloadedPackage;
    // Which module the window reads: its mapping's address.
    const void* Module() const { return resourceModule.FileBytes().data(); }
};

// The bytes of a file the download holds (it lets others read, and expects
// them to let it delete).
std::string HeldFileBytes(const WideString& path)
{
    TUniqueFile file(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file) return "cannot open: " + std::to_string(GetLastError());
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
    return bytes;
}

std::string Pin(const std::string& package)
{
    TSha256Digest d = PeImageDigest(*MemorySource(TBytes(package.begin(), package.end())));
    return std::string(d.begin(), d.end());
}

std::string Script(const TSetupScript& script)
{
    TMemoryStream stream;
    script.SaveToStream(stream);
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

}  // namespace

TEST(OnlineDownload, SwitchesModuleAndScriptToTheDownloadedPackage)
{
    TLoopbackServer server;
    std::string package = FullPackageBytes(u"Full");
    server.Set("/full.exe", {"200 OK", package});
    TOnlineWindow window;
    window.script->BaseInfo->FullDownloadUrl = server.Url("/full.exe");
    // The window's settings go to the process-wide record whole, credentials too.
    window.proxySettings.UserName = u"someone";
    window.proxySettings.Password = u"secret";
    TRecordingDownloadView view;

    ASSERT_TRUE(window.Download(view));
    EXPECT_TRUE(view.failures.empty());
    EXPECT_TRUE(view.infos.empty());
    EXPECT_EQ(view.idlePages, 0);
    EXPECT_EQ(window.script->BaseInfo->AppTitle, u"Full");
    EXPECT_FALSE(GlobalHttpProxy().Checked);
    EXPECT_EQ(GlobalHttpProxy().UserName, u"someone");
    EXPECT_EQ(GlobalHttpProxy().Password, u"secret");
    EXPECT_EQ(GlobalHttpProxy().Port, 8080);

    // The file: "{GUID}.exe" in a "zosetup-{GUID}" folder of the temporary
    // folder, the bytes as served, and the module the later steps read from.
    WideString dir = TZoWinfn::GetTempDir() + u"zosetup-";
    ASSERT_EQ(window.downloadedPackage.substr(0, dir.size()), dir);
    WideString name = window.downloadedPackage.substr(dir.size() + 39);
    ASSERT_EQ(name.size(), 38u + 4u) << Narrow(window.downloadedPackage);
    EXPECT_EQ(name.front(), u'{');
    EXPECT_EQ(name.substr(37), u"}.exe");
    EXPECT_EQ(HeldFileBytes(window.downloadedPackage), package);
    EXPECT_TRUE(HasPackageResource(window.resourceModule.Resources(), FullScriptResource));

    // The bar: maximum = Content-Length at the start, then the running count up to it.
    ASSERT_GE(view.progress.size(), 2u);
    EXPECT_EQ(view.progress.front(), std::make_pair(int32_t(package.size()), int32_t(0)));
    EXPECT_EQ(view.progress.back(), std::make_pair(int32_t(package.size()), int32_t(package.size())));
    EXPECT_TRUE(std::is_sorted(view.progress.begin(), view.progress.end()));
    EXPECT_EQ(view.pumps, int(view.progress.size()));
}

TEST(OnlineDownload, AnAnswerWithoutLengthDrivesTheBarWithMaximumZero)
{
    TLoopbackServer server;
    server.Set("/full.exe", {"200 OK", FullPackageBytes(u"Full"), false});
    TOnlineWindow window;
    window.script->BaseInfo->FullDownloadUrl = server.Url("/full.exe");
    TRecordingDownloadView view;
    ASSERT_TRUE(window.Download(view));
    ASSERT_FALSE(view.progress.empty());
    EXPECT_EQ(view.progress.front().first, 0);
}

TEST(OnlineDownload, AFailedRequestOffersRetryOrQuit)
{
    TLoopbackServer server;  // everything is 404
    size_t before = TempPackages().size();
    for (const std::string& path : {std::string("/full.exe"), std::string()}) {
        SCOPED_TRACE(path);
        TOnlineWindow window;
        const void* own = window.Module();
        WideString url = path.empty() ? WideString() : server.Url(path);  // empty: fails like no server
        window.script->BaseInfo->FullDownloadUrl = url;
        TSetupScript* script = window.script.get();

        TRecordingDownloadView retry;
        EXPECT_FALSE(window.Download(retry));
        ASSERT_EQ(retry.failures.size(), 1u);
        EXPECT_EQ(retry.failures[0].appTitle, u"Online");
        EXPECT_EQ(retry.failures[0].url, url);
        EXPECT_EQ(retry.idlePages, 1);
        EXPECT_TRUE(retry.infos.empty());  // the client's message is not shown
        EXPECT_EQ(window.Module(), own);
        EXPECT_EQ(window.script.get(), script);
        EXPECT_EQ(window.downloadedPackage, u"");

        TRecordingDownloadView quit;
        quit.quitOnFailure = true;
        try {
            window.Download(quit);
            ADD_FAILURE() << "退出安装 must end the process";
        } catch (const TDownloadEnded& ended) {
            EXPECT_EQ(ended.code, 0);
        }
        EXPECT_EQ(quit.idlePages, 0);
    }
    EXPECT_EQ(TempPackages().size(), before);
}

TEST(OnlineDownload, SilentlyAFailedRequestIsOneLineAndExitCode3)
{
    TLoopbackServer server;
    TOnlineWindow window;
    window.script->BaseInfo->FullDownloadUrl = server.Url("/missing.exe");
    TRecordingDownloadView view;
    view.silent = true;
    try {
        window.Download(view);
        ADD_FAILURE() << "a silent failure must end the process";
    } catch (const TDownloadEnded& ended) {
        EXPECT_EQ(ended.code, 3);
    }
    EXPECT_TRUE(view.failures.empty());
    ASSERT_EQ(view.infos.size(), 1u);
    EXPECT_EQ(view.infos[0], u"在线安装失败：无法下载 " + server.Url("/missing.exe") + u"：HTTP/1.1 404 Not Found");
}

// Answers that arrive whole but are no usable package.
TEST(OnlineDownload, AnUnusablePackageIsReportedRemovedAndChangesNothing)
{
    TLoopbackServer server;
    TMemoryStream damaged;
    damaged.WriteBuffer("not encoded at all", 18);
    const TBytes& d = damaged.Bytes();
    server.Set("/page.html", {"200 OK", "<html>welcome</html>"});
    server.Set("/empty.exe", {"200 OK", ""});
    server.Set("/noscript.exe", {"200 OK", ModuleBytes({{OnlineScriptResource, "x"}})});
    server.Set("/damaged.exe", {"200 OK", ModuleBytes({{FullScriptResource, std::string(d.begin(), d.end())}})});
    size_t before = TempPackages().size();
    const std::pair<const char*, const char16_t*> cases[] = {
        {"/page.html", u"安装包错误。"},
        {"/empty.exe", u"安装包错误。"},
        {"/noscript.exe", u"安装包错误。"},
        {"/damaged.exe", nullptr},  // the decoder's own message
    };
    for (const auto& [path, message] : cases) {
        SCOPED_TRACE(path);
        TOnlineWindow window;
        window.script->BaseInfo->FullDownloadUrl = server.Url(path);
        std::string script = Script(*window.script);
        const void* own = window.Module();
        TRecordingDownloadView view;
        EXPECT_FALSE(window.Download(view));
        ASSERT_EQ(view.infos.size(), 1u);
        if (message) {
            EXPECT_EQ(view.infos[0], message);
        }
        EXPECT_FALSE(view.infos[0].empty());
        EXPECT_TRUE(view.failures.empty());
        EXPECT_EQ(view.idlePages, 1);
        EXPECT_EQ(window.Module(), own);
        EXPECT_EQ(Script(*window.script), script);
        EXPECT_EQ(window.downloadedPackage, u"");
        EXPECT_EQ(TempPackages().size(), before);

        TRecordingDownloadView silent;
        silent.silent = true;
        try {
            window.Download(silent);
            ADD_FAILURE() << "a silent failure must end the process";
        } catch (const TDownloadEnded& ended) {
            EXPECT_EQ(ended.code, 3);
        }
        EXPECT_EQ(silent.infos.size(), 1u);
    }
}

TEST(OnlineDownload, TheCompletionVisitRequestsOnceAndSwallowsErrors)
{
    TLoopbackServer server;
    server.Set("/done", {"200 OK", "thanks"});
    VisitUrlSilently(server.Url("/done?rcode=7"));
    VisitUrlSilently(server.Url("/gone"));  // 404: nothing escapes
    VisitUrlSilently(u"");
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/done?rcode=7", "/gone"}));
}

TEST(OnlineDownload, APinnedInstallerTakesOnlyThePackageOfItsOwnBuild)
{
    TLoopbackServer server;
    const std::string genuine = FullPackageBytes(u"Full");
    std::string changed = genuine;
    changed[changed.size() / 2] ^= 1;
    server.Set("/genuine.exe", {"200 OK", genuine});
    server.Set("/other.exe", {"200 OK", FullPackageBytes(u"Other build")});
    server.Set("/changed.exe", {"200 OK", changed});
    server.Set("/page.html", {"200 OK", "<html>welcome</html>"});
    size_t before = TempPackages().size();
    using TResources = std::vector<std::pair<std::string, std::string>>;
    const TResources pinned{{FullDigestResource, Pin(genuine)}}, brokenPin{{FullDigestResource, "short"}};

    for (const char* path : {"/other.exe", "/changed.exe", "/page.html"}) {
        SCOPED_TRACE(path);
        TOnlineWindow window(pinned);
        window.script->BaseInfo->FullDownloadUrl = server.Url(path);
        const void* own = window.Module();
        TRecordingDownloadView view;
        EXPECT_FALSE(window.Download(view));
        EXPECT_EQ(view.infos, std::vector<WideString>{u"安装包错误。"});
        EXPECT_EQ(window.Module(), own);
        EXPECT_EQ(window.script->BaseInfo->AppTitle, u"Online");
        EXPECT_EQ(window.downloadedPackage, u"");
        EXPECT_EQ(TempPackages().size(), before);
    }
    {
        // A pin that is not a whole digest accepts nothing.
        TOnlineWindow window(brokenPin);
        window.script->BaseInfo->FullDownloadUrl = server.Url("/genuine.exe");
        TRecordingDownloadView view;
        EXPECT_FALSE(window.Download(view));
        EXPECT_EQ(view.infos, std::vector<WideString>{u"安装包错误。"});
    }

    TOnlineWindow window(pinned);
    window.script->BaseInfo->FullDownloadUrl = server.Url("/genuine.exe");
    TRecordingDownloadView view;
    ASSERT_TRUE(window.Download(view));
    EXPECT_EQ(window.script->BaseInfo->AppTitle, u"Full");
    EXPECT_EQ(HeldFileBytes(window.downloadedPackage), genuine);
    // Held: nobody else may write, rename or delete it...
    TUniqueFile writer(CreateFileW(W(window.downloadedPackage), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    EXPECT_FALSE(writer) << "another writer got in";
    EXPECT_FALSE(MoveFileW(W(window.downloadedPackage), W(window.downloadedPackage + u".moved")));
    // ... and it goes with the handle, as when the process ends, its folder too.
    window.resourceModule.Reset();
    EXPECT_EQ(GetFileAttributesW(W(window.downloadedPackage)), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(W(window.downloadedPackage.substr(0, window.downloadedPackage.rfind(u'\\')))), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(TempPackages().size(), before);
}
