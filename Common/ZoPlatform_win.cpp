// Windows side of the platform layer.
#include "ZoPlatform.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "ZoWinText_win.h"

namespace ZoPlatform {

WideString AnsiToWide(const AnsiString& bytes)
{
    if (bytes.empty()) return WideString();
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    WideString out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

AnsiString WideToAnsi(const WideString& text)
{
    if (text.empty()) return AnsiString();
    int n = WideCharToMultiByte(CP_ACP, 0, W(text), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    AnsiString out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, W(text), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void SetAnsiCodePage(unsigned) {}

WideString GetEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v ? AnsiToWide(v) : WideString();
}

WideString SpecialFolderPath(int csidl)
{
    wchar_t buf[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buf))) return WideString();
    return U(buf);
}

WideString ModuleFileName()
{
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return WideString(reinterpret_cast<const char16_t*>(buf), n);
}

WideString CommandLine() { return U(GetCommandLineW()); }

WideString TempPath()
{
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH, buf);
    if (n == 0 || n > MAX_PATH) return WideString();
    return U(buf);
}

WideString LongPathName(const WideString& path)
{
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetLongPathNameW(W(path), buf, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return WideString();
    return U(buf);
}

namespace {
// Statics are initialised before main runs, on the program's main thread. By the
// system's own number: the 32-bit programs' standard library has no thread ids.
const DWORD gMainThread = GetCurrentThreadId();
}  // namespace

bool OnMainThread() { return GetCurrentThreadId() == gMainThread; }

WideString NewGuid()
{
    GUID g;
    if (FAILED(CoCreateGuid(&g))) return WideString();
    wchar_t buf[64] = {};
    StringFromGUID2(g, buf, 64);
    return U(buf);
}

bool DirectoryExists(const WideString& path)
{
    DWORD a = GetFileAttributesW(W(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const WideString& path) { return CreateDirectoryW(W(path), nullptr) != 0; }

bool RemoveFileName(const WideString& path)
{
    // DeleteFileW removes a symbolic link itself and refuses a folder.
    return DeleteFileW(W(path)) != 0;
}

std::FILE* CreateNewFile(const WideString& path, bool& taken)
{
    // With FILE_FLAG_OPEN_REPARSE_POINT a link in the last place is the name
    // itself, so CREATE_NEW finds it taken instead of creating its target.
    HANDLE h = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
        return nullptr;
    }
    taken = false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);  // closes the handle too
    return file;
}

}  // namespace ZoPlatform
