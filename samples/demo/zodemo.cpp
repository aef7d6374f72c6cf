// Zo 演示: the product the demo installer installs. Shows where it lives;
// "/firstrun" (run by the installer, waited for) records the first start in
// the registry and ends at once.
#include <windows.h>

#include <string>

namespace {

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

bool RecordFirstRun()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\ZoDemo", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    DWORD one = 1;
    bool ok = RegSetValueExW(key, L"FirstRun", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) ==
              ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    std::wstring args = commandLine ? commandLine : L"";
    if (args.find(L"/firstrun") != std::wstring::npos) return RecordFirstRun() ? 0 : 1;
    if (args.find(L"/quiet") != std::wstring::npos) return 0;
    std::wstring text = L"Zo 演示 2.5.1.0\n\n安装位置：" + OwnFolder();
    MessageBoxW(nullptr, text.c_str(), L"Zo 演示", MB_OK | MB_ICONINFORMATION);
    return 0;
}
