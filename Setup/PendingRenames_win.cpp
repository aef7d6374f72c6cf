#include <windows.h>

#include "PendingRenames.h"
#include "ZoWinHandles_win.h"

void ClearPendingOperations(const std::vector<WideString>& paths)
{
    if (paths.empty()) return;
    TUniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) {
        key.Release();
        return;
    }
    const wchar_t* const name = L"PendingFileRenameOperations";
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ ||
        size < sizeof(char16_t))
        return;
    WideString data(size / sizeof(char16_t), u'\0');
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return;
    data.resize(size / sizeof(char16_t));
    const std::vector<WideString> operations = SplitMultiSz(data);
    const std::vector<WideString> kept = WithoutOperationsOn(operations, paths);
    if (kept.size() == operations.size()) return;
    if (kept.empty()) {
        RegDeleteValueW(key.Get(), name);
        return;
    }
    const WideString joined = JoinMultiSz(kept);
    RegSetValueExW(key.Get(), name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(joined.data()),
                   static_cast<DWORD>(joined.size() * sizeof(char16_t)));
}
