#include "Elevation_win.h"

#include <windows.h>
#include <shellapi.h>

#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace {

const wchar_t* const kElevationMark = L"ZOSETUP_ELEVATION_STARTED";

}  // namespace

bool ProcessIsElevated()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    TUniqueHandle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size)) return false;
    return elevation.TokenIsElevated != 0;
}

bool StartedForElevation() { return GetEnvironmentVariableW(kElevationMark, nullptr, 0) > 0; }

TElevatedRun RunElevated(const WideString& parameters, void* owner, TFnRef<void()> started)
{
    TElevatedRun result;
    wchar_t own[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return result;
    // A copy the shell starts without a prompt inherits this; a truly
    // elevated one does not need it.
    SetEnvironmentVariableW(kElevationMark, L"1");
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = static_cast<HWND>(owner);
    info.lpVerb = L"runas";
    info.lpFile = own;
    info.lpParameters = W(parameters);
    info.nShow = SW_SHOWNORMAL;
    const BOOL ok = ShellExecuteExW(&info);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    SetEnvironmentVariableW(kElevationMark, nullptr);
    if (!ok || !info.hProcess) {
        result.Refused = error == ERROR_CANCELLED;
        return result;
    }
    TUniqueHandle process(info.hProcess);
    if (started) started();
    // Messages keep flowing while the copy works: a hidden window that stops
    // answering would hold up whoever broadcasts to every window.
    HANDLE waitOn = process.Get();
    while (MsgWaitForMultipleObjects(1, &waitOn, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    result.Started = true;
    result.ExitCode = static_cast<int>(code);
    return result;
}
