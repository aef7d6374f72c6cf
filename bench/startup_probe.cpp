// Measures the time from process creation to a painted, idle first window:
// the window is visible and its thread has come back to its message loop
// (a WM_NULL sent to it returns). Prints per run the time in milliseconds and
// the processor time the program had used by then (user and kernel, ms), which
// other work on a busy machine disturbs less.
//   startup_probe RUNS COMMANDLINE
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {
struct Search {
    DWORD pid;
    HWND found;
};

HWND VisibleWindowOf(DWORD pid)
{
    Search s{pid, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == s->pid && IsWindowVisible(w)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

double Ms(const LARGE_INTEGER& a, const LARGE_INTEGER& b)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) * 1000.0 / double(f.QuadPart);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 2;
    int runs = _wtoi(argv[1]);
    for (int i = 0; i < runs; ++i) {
        std::vector<wchar_t> cmd(argv[2], argv[2] + wcslen(argv[2]) + 1);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
        HWND w = nullptr;
        while (!(w = VisibleWindowOf(pi.dwProcessId))) {
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
            Sleep(1);
        }
        DWORD_PTR ignored = 0;
        if (w) SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &ignored);
        QueryPerformanceCounter(&t1);
        FILETIME created, exited, kernel, user;
        double cpu = -1;
        if (GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user)) {
            auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
            cpu = double(ticks(kernel) + ticks(user)) / 10000.0;  // 100 ns units
        }
        std::printf("%.1f %.1f\n", w ? Ms(t0, t1) : -1.0, cpu);
        std::fflush(stdout);
        if (w) PostMessageW(w, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return 0;
}
