// The floor of the start-up benchmark: the least a Win32 program does to show
// a painted window of the installer's size.
#include <windows.h>

static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(w, m, wp, lp);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hbrBackground = CreateSolidBrush(RGB(0, 153, 249));
    wc.lpszClassName = L"Floor";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, L"Floor", L"Floor", WS_POPUP, 137, 144, 750, 480, nullptr, nullptr, instance, nullptr);
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
