/* A product program for the running-programs tests, started from the install
   folder: shows a window and, asked to close the way Windows asks at shut-down
   (WM_QUERYENDSESSION, then WM_ENDSESSION) or by WM_CLOSE, saves its work
   first: it writes MARKER. With "refuse" it says no to the end of the session
   and ignores WM_CLOSE, as a program whose "save changes?" question nobody
   answers. With PROGRAM it starts that program with ARG once its window is up,
   as an in-product update starts the installer.
     close_probe.exe MARKER keep|refuse [PROGRAM [ARG]] */
#include <windows.h>
#include <shellapi.h>

static const wchar_t* marker;
static BOOL refuse;

static void SaveWork(void)
{
    HANDLE f = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, "saved\r\n", 7, &written, NULL);
    CloseHandle(f);
}

static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_QUERYENDSESSION:
        return refuse ? FALSE : TRUE;
    case WM_ENDSESSION:
        if (wp && !refuse) {
            SaveWork();
            ExitProcess(0);
        }
        return 0;
    case WM_CLOSE:
        if (refuse) return 0;
        SaveWork();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, msg, wp, lp);
    }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    (void)previous;
    (void)commandLine;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    marker = argv[1];
    refuse = lstrcmpiW(argv[2], L"refuse") == 0;

    WNDCLASSW cls = {0};
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    cls.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    cls.lpszClassName = L"ZoCloseProbe";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, L"ZoCloseProbe", refuse ? L"Zo 记事本 - 未保存" : L"Zo 记事本",
                                  WS_OVERLAPPEDWINDOW, 40, 40, 320, 200, NULL, NULL, instance, NULL);
    if (!window) return 3;
    ShowWindow(window, show);

    if (argc >= 4) {
        wchar_t line[2048];
        wsprintfW(line, L"\"%s\" %s", argv[3], argc >= 5 ? argv[4] : L"");
        STARTUPINFOW si = {0};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {0};
        if (CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
