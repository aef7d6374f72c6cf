// The online installer's part of the install sequence: the download of the
// full package that replaces the online script and the resource module, and
// the silent visit of the completion address.
//
// The main window reaches these through InitOnlineSetup (called once at
// start-up, before the window exists): its download and proxy-link hooks, and
// the wait cursor of every HTTP request.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "PackageResources_win.h"
#include "SilentEnd.h"
#include "ZoHttpClient.h"
#include "ZoTypes.h"
#include "ZoWinHandles_win.h"

class TMainForm;
class TSetupScript;
class TZoHttpProxy;

// What a download asks of the window it runs in.
class TDownloadView : public TSilentEnd {
public:
    // "/Silent": no one is there to answer a dialog.
    virtual bool Silent() const = 0;
    virtual void SetProgressMax(int32_t maximum) = 0;  // the position goes back to 0
    virtual void SetProgressPosition(int32_t position) = 0;
    virtual void PumpMessages() = 0;
    // The download failure window; true when the user chose to quit.
    virtual bool ShowDownloadFailure(const WideString& appTitle, const WideString& url) = 0;
    // The information box; silent: one line on standard output.
    virtual void ShowInfo(const WideString& text) = 0;
    // The same with the error icon, for a download that failed.
    virtual void ShowError(const WideString& text) { ShowInfo(text); }
    virtual void RestoreIdlePage() = 0;
};

// The main window's fields that a download reads and replaces.
struct TDownloadTarget {
    TZoHttpProxy& proxySettings;
    std::unique_ptr<TSetupScript>& script;
    // After a download: the package file mapped through the handle that
    // wrote and verified it (no one else may write, rename or delete it),
    // deleted with its folder when the module is released: at tear-down, or
    // by the system when the process ends by any other route.
    TPackageModule& resourceModule;
    WideString& downloadedPackage;  // for the log and the tests; never opened again
};

// The name of the download's own folders in the temporary folder ("zosetup-{GUID}").
inline constexpr const char16_t* PackageFolderPrefix = u"zosetup-";

class TFullPackageDownload {
public:
    TFullPackageDownload(TDownloadView& view, const TDownloadTarget& target) : view_(view), target_(target) {}
    TFullPackageDownload(const TFullPackageDownload&) = delete;
    TFullPackageDownload& operator=(const TFullPackageDownload&) = delete;

    // Fetches the script's FullDownloadUrl through the window's proxy settings,
    // streams it into a new "{GUID}.exe" in a new folder of its own in the
    // temporary folder that only the user and the administrators may enter,
    // and switches
    // the resource module and the script to it. When the online installer
    // pins a digest (FullDigestResource), the file must have exactly that
    // image digest before any of its resources is mapped; otherwise it is no
    // package ("安装包错误。"). False when nothing can be installed now: the
    // idle page is back (or, silent, the process has ended with
    // ecDownloadFailed; "退出安装" ends it with 0). A failed attempt leaves the
    // script, the resource module and the temporary folder as they were.
    bool Run();

    // Progress of the transfer on the window's progress bar.
    void DownloadWorkBegin(TZoHttpClient* sender, TWorkMode mode, int32_t total);
    void DownloadWork(TZoHttpClient* sender, TWorkMode mode, int32_t count);
    void DownloadWorkEnd(TZoHttpClient* sender, TWorkMode mode);

private:
    void CreatePackageFile();
    void OpenPackage();
    void DiscardPackageFile();
    bool Fail(const WideString& message);

    TDownloadView& view_;
    TDownloadTarget target_;
    TUniqueFile writing_;  // the file while the body arrives
    TUniqueFile folder_;   // its folder, removed when this handle closes
};

// The download for the main window (its hook).
bool DownloadFullPackage(TMainForm& form);

// The completion visit of gumSilent: one GET with a 5000 ms connect time-out,
// the answer ignored. Never raises for network trouble.
void VisitUrlSilently(const WideString& url);

// Connects the main window's download and proxy-link hooks and the HTTP wait cursor.
void InitOnlineSetup();
