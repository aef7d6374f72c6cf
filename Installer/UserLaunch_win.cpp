#include "UserLaunch_win.h"

#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

#include "Texts.h"
#include "ZoLog.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"
#include "ZoWinUtils_win.h"

namespace {

struct TBstr {
    explicit TBstr(const WideString& text) : value(SysAllocStringLen(W(text), static_cast<UINT>(text.size()))) {}
    ~TBstr() { SysFreeString(value); }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    BSTR value;
};

// A VARIANT that borrows a string owned elsewhere.
VARIANT StringVariant(const TBstr& text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text.value;
    return v;
}

// The shell's automation object of the desktop window: Explorer's own process,
// running with the signed-in user's token. Empty when there is no desktop
// shell in this session (a service's session, a replaced shell).
TComPtr<IShellDispatch2> DesktopShell()
{
    TComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(windows.Put()))))
        return {};
    VARIANT desktop;
    VariantInit(&desktop);
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    VARIANT root;
    VariantInit(&root);
    long window = 0;
    TComPtr<IDispatch> found;
    if (windows->FindWindowSW(&desktop, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.Put()) != S_OK || !found)
        return {};
    auto services = found.As<IServiceProvider>(IID_IServiceProvider);
    TComPtr<IShellBrowser> browser;
    if (!services || FAILED(services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(browser.Put())))) return {};
    TComPtr<IShellView> view;
    if (FAILED(browser->QueryActiveShellView(view.Put()))) return {};
    TComPtr<IDispatch> background;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(background.Put())))) return {};
    auto folderView = background.As<IShellFolderViewDual>(IID_IShellFolderViewDual);
    TComPtr<IDispatch> application;
    if (!folderView || FAILED(folderView->get_Application(application.Put()))) return {};
    return application.As<IShellDispatch2>(IID_IShellDispatch2);
}

// What this process's token holds beyond a user's: SYSTEM, or an elevated token.
struct TRights {
    bool system = false;
    bool elevated = false;
};

TRights OwnRights()
{
    TRights rights;
    TUniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return {true, true};  // assume the worst
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    rights.elevated = !GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) ||
                      elevation.TokenIsElevated != 0;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    rights.system = !GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) ||
                    IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid);
    return rights;
}

}  // namespace

TUserLaunch StartAsUser(const WideString& file, const WideString& params, const WideString& dir)
{
    TComApartment com;  // the caller's, when it has one already
    if (TComPtr<IShellDispatch2> shell = DesktopShell()) {
        const TBstr bFile(file), bParams(params), bDir(dir), bVerb{WideString()};
        VARIANT show;
        VariantInit(&show);
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        if (SUCCEEDED(shell->ShellExecute(bFile.value, StringVariant(bParams), StringVariant(bDir),
                                          StringVariant(bVerb), show))) {
            // Explorer starts it a moment later; let it take the foreground from us.
            Sleep(300);
            if (DWORD pid = TZoWinfn::FindProcessByName(file)) AllowSetForegroundWindow(pid);
            return TUserLaunch::Shell;
        }
    }
    const TRights rights = OwnRights();
    if (rights.system || rights.elevated) return TUserLaunch::Refused;
    return TZoWinfn::ShellRun(nullptr, WideString(), file, params, dir, SW_SHOW, true) > 32 ? TUserLaunch::Direct
                                                                                           : TUserLaunch::Failed;
}

void OpenUrlAsUser(const WideString& address)
{
    TUserLaunch how = StartAsUser(address, WideString(), WideString());
    if (how == TUserLaunch::Failed) TZoWinfn::OpenUrl(address);
    LogAdd(how == TUserLaunch::Refused ? TLogEntry::Error : TLogEntry::Run,
           FormatText(TextView(TTextId::OpenedFormat), {address, UserLaunchText(how)}));
}

WideString UserLaunchText(TUserLaunch how)
{
    switch (how) {
    case TUserLaunch::Shell: return Text(TTextId::LaunchedThroughShell);
    case TUserLaunch::Direct: return Text(TTextId::LaunchedDirectly);
    case TUserLaunch::Refused: return Text(TTextId::LaunchRefused);
    case TUserLaunch::Failed: return Text(TTextId::LaunchFailed);
    }
    return u"";
}
