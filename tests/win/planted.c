/* What someone might leave beside an installer in a Downloads folder, named
   like a system program (taskkill.exe, cmd.exe) or a system DLL (secur32.dll):
   when run or loaded it leaves NAME.ran beside itself, so a test sees that it
   was. Built as a program and as a DLL. */
#include <windows.h>

static void LeaveMark(HMODULE self)
{
    wchar_t path[MAX_PATH + 8] = {0};
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatW(path, L".ran");
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

#ifdef PLANTED_DLL
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) LeaveMark(self);
    return TRUE;
}
#else
int main(void)
{
    LeaveMark(NULL);
    return 0;
}
#endif
