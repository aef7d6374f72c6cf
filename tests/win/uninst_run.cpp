// Runs a command line that the registry holds, exactly as it is written there,
// the way Windows' list of programs and an upgrading installer run it: the
// whole text to CreateProcessW with no application name. Waits for it, prints
// the command line, and ends with its exit code (255 when it cannot be read
// or started).
//   uninst_run KEY VALUE     KEY below HKEY_LOCAL_MACHINE ("HKCU\KEY": below HKEY_CURRENT_USER)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 255;
    wchar_t data[4096] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    const bool user = std::wcsncmp(argv[1], L"HKCU\\", 5) == 0;
    if (RegGetValueW(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, argv[1] + (user ? 5 : 0), argv[2], RRF_RT_REG_SZ,
                     nullptr, data, &size) != ERROR_SUCCESS)
        return 255;
    std::wstring line = data;
    std::fwprintf(stdout, L"%ls\n", line.c_str());
    std::fflush(stdout);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 255;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
