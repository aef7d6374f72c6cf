#include "ZoDllSearch_win.h"

#include <delayimp.h>

namespace {

const wchar_t* W(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// The delay-load helper asks this before its own LoadLibraryA(name): a module
// returned here is used instead.
FARPROC WINAPI LoadFromSystemFolder(unsigned notify, PDelayLoadInfo info)
{
    if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    WideString name;
    for (const char* c = info->szDll; *c; ++c) name += static_cast<char16_t>(static_cast<unsigned char>(*c));
    const WideString path = SystemFilePath(name);
    if (path.empty()) return nullptr;
    // A module that cannot be loaded from there fails the call, as it would
    // with a plain import, rather than be looked for elsewhere.
    HMODULE module = LoadLibraryExW(W(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

extern "C" {
// The delay-load helper's notification hook (the name and type it declares).
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
}

void RestrictDllSearch()
{
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

WideString SystemFilePath(const WideString& name)
{
    wchar_t dir[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return WideString();
    WideString path(reinterpret_cast<const char16_t*>(dir), n);
    if (path.back() != u'\\') path += u'\\';
    return path + name;
}
