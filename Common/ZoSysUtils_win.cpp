// Windows side of the system utilities.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "ZoLog.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"
#include "ZoSafeFiles_win.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"
#include "ZoWinUtils_win.h"

WideString SysErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    WideString message;
    if (n && text) message.assign(reinterpret_cast<const char16_t*>(text), n);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
        message.pop_back();
    return message;
}

WideString SysErrorMessage(DWORD code)
{
    WideString message = SysErrorText(code);
    return message.empty() ? FormatText(u"System error.  Code: %s.", {IntToStr(code)}) : message;
}

std::optional<WideString> ReadRegString(HKEY key, const WideString& name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, W(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    // One more character than the value holds: stored strings need not end in a zero.
    WideString buf(size / sizeof(wchar_t) + 1, u'\0');
    DWORD got = static_cast<DWORD>((buf.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, W(name), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) != ERROR_SUCCESS)
        return std::nullopt;
    return WideString(buf.c_str());  // up to the first zero
}


void TZoSysfn::WriteConsoleLine(const WideString& text)
{
    // A console takes the text as it is, whatever its code page; a file or a
    // pipe gets UTF-8, which every reader can turn back into the same text.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WideString line = text + u"\r\n";
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    AnsiString line = ToUtf8(text) + "\r\n";
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool TZoFilefn::SetFileTimes(const WideString& file, const FileTimes& times)
{
    TUniqueFile h(CreateFileW(W(file), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return h && SetHandleFileTimes(h.Get(), times);
}

// ---- Processes and the shell ------------------------------------------------

namespace {

// The platform's command-line buffer must be writable: a copy's own, with its
// terminating zero.
wchar_t* CommandBuffer(WideString& copy)
{
    return reinterpret_cast<wchar_t*>(copy.data());
}

int32_t WaitAndClose(PROCESS_INFORMATION& pi)
{
    TUniqueHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int32_t>(code);
}

}  // namespace

int32_t TZoWinfn::RunAndWait(const WideString& commandLine)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    WideString cmd = commandLine;
    if (!CreateProcessW(nullptr, CommandBuffer(cmd), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &si, &pi))
        return 1;
    return WaitAndClose(pi);
}

int32_t TZoWinfn::RunHidden(const WideString& commandLine)
{
    // Every supported system is of the NT family.
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    TUniqueHandle readEnd, writeEnd;
    {
        HANDLE r = nullptr, w = nullptr;
        if (CreatePipe(&r, &w, &sa, 0)) {
            readEnd.Reset(r);
            writeEnd.Reset(w);
        }
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    si.hStdOutput = writeEnd.Get();
    si.hStdError = writeEnd.Get();
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi{};
    WideString cmd = commandLine;
    if (!CreateProcessW(nullptr, CommandBuffer(cmd), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                        &pi))
        return 1;
    TUniqueHandle process(pi.hProcess), thread(pi.hThread);

    constexpr DWORD chunkSize = 1024;
    char buffer[chunkSize + 1];  // one spare zero: the text always ends inside the buffer
    DWORD waited;
    do {
        waited = WaitForSingleObject(process.Get(), 300);
        DWORD available = 0;
        if (readEnd && PeekNamedPipe(readEnd.Get(), buffer, chunkSize, &available, nullptr, nullptr) &&
            available >= 1) {
            std::memset(buffer, 0, sizeof buffer);
            DWORD got = 0;
            ReadFile(readEnd.Get(), buffer, available, &got, nullptr);
            WideString text = ZoPlatform::AnsiToWide(AnsiString(buffer));
            // The chunk's last byte (usually the line feed) is dropped.
            if (text.size() > available - 1) text.resize(available - 1);
            TZoSysfn::WriteConsoleLine(text);
        }
    } while (waited == WAIT_TIMEOUT);

    DWORD code = 1;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int32_t>(code);
}

namespace {

struct TOutOfMemoryEnd {
    int exitCode = 3;
    bool silent = false;
    WideString text;
    void* reserve = nullptr;  // given back first, so the last words have room
};
TOutOfMemoryEnd outOfMemory;

[[noreturn]] void Terminate()
{
    if (std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc&) {
            TZoWinfn::EndOutOfMemory();
        } catch (...) {
        }
    }
    std::abort();
}

}  // namespace

void TZoWinfn::EndOnOutOfMemory(int exitCode, const WideString& text, bool silent)
{
    outOfMemory.exitCode = exitCode;
    outOfMemory.text = text;
    outOfMemory.silent = silent;
    if (!outOfMemory.reserve) outOfMemory.reserve = std::malloc(1 << 20);
    std::set_terminate(Terminate);
}

void TZoWinfn::EndOutOfMemory()
{
    static bool ending = false;
    if (!std::exchange(ending, true)) {
        std::free(std::exchange(outOfMemory.reserve, nullptr));
        try {
            LogAdd(TLogEntry::Error, outOfMemory.text);
            LogAdd(TLogEntry::Exit, IntToStr(outOfMemory.exitCode));
            if (outOfMemory.silent)
                TZoSysfn::WriteConsoleLine(outOfMemory.text);
            else
                MessageBoxW(nullptr, W(outOfMemory.text), nullptr, MB_OK | MB_ICONSTOP);
        } catch (...) {
            // nothing more can be said
        }
    }
    ExitProcess(static_cast<UINT>(outOfMemory.exitCode));
}

int32_t TZoWinfn::ShellRun(HWND owner, const WideString& verb, const WideString& file, const WideString& params,
                           const WideString& dir, int32_t showCmd, bool bringToFront)
{
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(owner, W(verb), W(file), W(params), W(dir), showCmd));
    if (!bringToFront) return static_cast<int32_t>(result);

    Sleep(300);
    if (DWORD pid = FindProcessByName(file)) AllowSetForegroundWindow(pid);
    return static_cast<int32_t>(result);
}

DWORD TZoWinfn::FindProcessByName(const WideString& file)
{
    WideString name = NamePart(file);
    TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) snapshot.Release();
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = L'\0';
        if (TextEquals(WideString(reinterpret_cast<const char16_t*>(entry.szExeFile)), name)) return entry.th32ProcessID;
    }
    return 0;
}

WideString TZoWinfn::GetTempDir()
{
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH, buf);
    if (n == 0 || n > MAX_PATH) return WideString();
    const WideString path(reinterpret_cast<const char16_t*>(buf), n);
    // A temporary folder that does not exist (TEMP naming a deleted folder) is
    // made, rather than giving the root of the current drive.
    if (!DirExists(path)) {
        try {
            ForceDirs(path);
        } catch (const Exception&) {
            // the check below gives up
        }
        if (!DirExists(path)) return WideString();
    }
    const WideString longPath = TZoFilefn::GetLongPath(path);
    return WithTrailingBackslash(longPath.empty() ? path : longPath);
}

int32_t TZoWinfn::ShowMessageBox(HWND owner, const WideString& text, const WideString& caption, UINT type)
{
    return MessageBoxW(owner, W(text), W(caption), type);
}

int32_t TZoWinfn::ShowInfoBox(HWND owner, const WideString& text, const WideString& caption)
{
    return ShowMessageBox(owner, text, caption, MB_ICONINFORMATION | MB_OK);
}

int32_t TZoWinfn::ShellOpen(const WideString& target)
{
    return ShellRun(nullptr, WideString(), target, WideString(), WideString(), SW_SHOW, false);
}

void TZoWinfn::OpenUrl(const WideString& address)
{
    if (ShellOpen(address) > 32) return;
    // By its full path: the shell looks for a bare "iexplore.exe" in the
    // current folder first, which is often the Downloads folder.
    const WideString programFiles = TZoRegfn::GetSpecialFolder(CSIDL_PROGRAM_FILES);
    if (!programFiles.empty())
        ShellRun(nullptr, WideString(), programFiles + u"Internet Explorer\\iexplore.exe", address, WideString(), SW_SHOW,
                 false);
}
