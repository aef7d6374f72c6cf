// A stand-in for the programs the install steps start: an old uninstaller, a
// run entry, a running product to be ended.
//   steps_helper LOG TAG [PATH]  appends "TAG|current folder|yes/no/-" to LOG,
//                                where yes/no says whether PATH exists
//   steps_helper --sleep         waits ten minutes (until it is ended; a
//                                loaded machine makes an end-to-end test slow)
//   steps_helper --delete-at-restart PATH
//                                marks PATH for deletion at the next start of
//                                Windows, as an uninstaller that found it in use
//   steps_helper /SILENT         as an uninstaller: logs "uninstall" to
//                                uninstall-log.txt beside itself
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wstring(argv[1]) == L"--sleep") {
        Sleep(600000);
        return 0;
    }
    if (argc == 3 && std::wstring(argv[1]) == L"--delete-at-restart")
        return MoveFileExW(argv[2], nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 0 : 1;
    std::wstring log = argc >= 2 ? argv[1] : L"", tag = argc >= 3 ? argv[2] : L"";
    if (argc == 2 && log == L"/SILENT") {
        wchar_t self[MAX_PATH + 1] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        log = self;
        log = log.substr(0, log.find_last_of(L'\\') + 1) + L"uninstall-log.txt";
        tag = L"uninstall";
    } else if (argc < 3) {
        return 2;
    }
    wchar_t cwd[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring exists = L"-";
    if (argc >= 4) exists = GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES ? L"no" : L"yes";
    std::wstring line = tag + L"|" + cwd + L"|" + exists + L"\n";
    FILE* f = _wfopen(log.c_str(), L"ab");
    if (!f) return 3;
    std::fputs(std::string(line.begin(), line.end()).c_str(), f);  // ASCII paths in the tests
    std::fclose(f);
    return 0;
}
