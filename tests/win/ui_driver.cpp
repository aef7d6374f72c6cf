// Drives the installer's windows from outside, as a person would, for the
// window tests: finds a window by class, reads texts and positions of its
// controls by control ID, presses controls, and finds and answers message
// boxes (class #32770). One command per run; output is UTF-8 on stdout.
// Labels and pictures that their panel draws have no window: the form answers
// for them (ZO_WINDOWLESS_QUERY), and a click goes to the panel at their place.
// A form that is still to make its controls' windows is waited for.
//
//   ui_driver wait CLASS [ms]        a visible window of the class, its controls' windows made; exit 1 on time-out
//   ui_driver gone CLASS [ms]        no visible window of the class any more
//   ui_driver geom ID [CLASS]        "left top width height visible enabled" in the parent
//   ui_driver srect ID [CLASS]       "left top width height" on the screen
//   ui_driver text ID [CLASS]        the control's text
//   ui_driver settext ID TEXT [CLASS]
//   ui_driver click ID [CLASS]       buttons: BM_CLICK; others: a left click in the middle
//   ui_driver checked ID [CLASS]     1 or 0
//   ui_driver progress ID [CLASS]    a progress bar's "position maximum"
//   ui_driver focus [CLASS]          the ID of the focused control
//   ui_driver enabled CLASS          1 when the window is enabled
//   ui_driver caption CLASS          the window's caption
//   ui_driver rect CLASS             "left top width height" of the window on screen
//   ui_driver close CLASS            posts WM_CLOSE
//   ui_driver maximize CLASS         maximises the window
//   ui_driver msgbox [ms]            the text of a message box
//   ui_driver syscolor INDEX         "r g b" of a system colour (COLOR_...)
//   ui_driver msgbox-press ID [ms]   presses a message box button (1 = OK)
//   ui_driver key CLASS VK           a key press sent to the window's focused control
//   ui_driver module NAME [CLASS]    1 when the window's process has loaded the DLL NAME, else 0
// With ZO_UI_EXE set to a program's full path, only that program's windows count.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ControlIds.h"

namespace {

const wchar_t* const kMainClass = L"TMainForm";

void PrintUtf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), n, nullptr, nullptr);
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
}

std::wstring TextOf(HWND w)
{
    int n = int(SendMessageW(w, WM_GETTEXTLENGTH, 0, 0));
    std::wstring s(size_t(n) + 1, L'\0');
    n = int(SendMessageW(w, WM_GETTEXT, WPARAM(n + 1), LPARAM(s.data())));
    s.resize(size_t(std::max(n, 0)));
    return s;
}

std::wstring ClassOf(HWND w)
{
    wchar_t buf[256] = {};
    GetClassNameW(w, buf, 256);
    return buf;
}

// The windows of the program under test only (ZO_UI_EXE), when it is named.
bool OfProgramUnderTest(HWND w)
{
    static const std::wstring wanted = [] {
        wchar_t buf[MAX_PATH] = {};
        DWORD n = GetEnvironmentVariableW(L"ZO_UI_EXE", buf, MAX_PATH);
        return std::wstring(buf, n < MAX_PATH ? n : 0);
    }();
    if (wanted.empty()) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    BOOL ok = QueryFullProcessImageNameW(process, 0, image, &size);
    CloseHandle(process);
    return ok && _wcsicmp(image, wanted.c_str()) == 0;
}

HWND FindVisible(const wchar_t* cls)
{
    struct Search {
        const wchar_t* cls;
        HWND found;
    } s{cls, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (IsWindowVisible(w) && ClassOf(w) == s->cls && OfProgramUnderTest(w)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        LPARAM(&s));
    return s.found;
}

// A form paints first and makes its controls' windows right after: until then
// it says so when asked (any other window answers 0).
bool WindowsToCome(HWND w)
{
    static const UINT query = RegisterWindowMessageW(ZO_WINDOWLESS_QUERY);
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(w, query, 0, wqWindowsToCome, SMTO_ABORTIFHUNG, 5000, &result) && result == 1;
}

HWND WaitFor(const wchar_t* cls, int ms)
{
    for (int waited = 0;; waited += 50) {
        if (HWND w = FindVisible(cls)) return w;
        if (waited >= ms) return nullptr;
        Sleep(50);
    }
}

// False when the form's controls still have no windows after ms.
bool WaitForControls(HWND top, int ms)
{
    for (int waited = 0; WindowsToCome(top); waited += 10) {
        if (waited >= ms) return false;
        Sleep(10);
    }
    return true;
}

HWND Control(HWND top, int id)
{
    struct Search {
        int id;
        HWND found;
    } s{id, nullptr};
    EnumChildWindows(
        top,
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (GetDlgCtrlID(w) == s->id) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        LPARAM(&s));
    return s.found;
}

// A message box: a visible #32770 window that is not the folder browser.
HWND FindMessageBox(int ms)
{
    for (int waited = 0;; waited += 50) {
        HWND found = nullptr;
        EnumWindows(
            [](HWND w, LPARAM p) WINAPI -> BOOL {
                if (IsWindowVisible(w) && ClassOf(w) == L"#32770" && GetDlgItem(w, 0x3741) == nullptr &&
                    OfProgramUnderTest(w)) {
                    *reinterpret_cast<HWND*>(p) = w;
                    return FALSE;
                }
                return TRUE;
            },
            LPARAM(&found));
        if (found || waited >= ms) return found;
        Sleep(50);
    }
}

std::wstring MessageText(HWND box)
{
    // The longest static text is the message (the icon is a static without text).
    std::wstring best;
    EnumChildWindows(
        box,
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto* best = reinterpret_cast<std::wstring*>(p);
            if (_wcsicmp(ClassOf(w).c_str(), L"Static") == 0) {
                std::wstring t = TextOf(w);
                if (t.size() > best->size()) *best = t;
            }
            return TRUE;
        },
        LPARAM(&best));
    return best;
}

// A control without a window of its own, as its form describes it.
struct TWindowless {
    HWND parent = nullptr;
    RECT place{};  // in the parent's client area
    bool visible = false, enabled = false;
    std::wstring text;
};

bool AskWindowless(HWND top, int id, TWindowless& out)
{
    static const UINT query = RegisterWindowMessageW(ZO_WINDOWLESS_QUERY);
    auto ask = [&](LPARAM question, LRESULT& answer) {
        // A form busy installing may let a question go unanswered for a moment (on a
        // loaded machine Wine can take it for hung): asked again, for up to 5 s.
        for (int tries = 0; tries < 50; ++tries) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(top, query, WPARAM(id), question, SMTO_ABORTIFHUNG, 5000, &result)) {
                answer = LRESULT(result);
                return true;
            }
            Sleep(100);
        }
        return false;
    };
    LRESULT state = 0, parentId = 0, length = 0;
    if (!ask(wqState, state) || !(state & 1) || !ask(wqParentId, parentId) || !ask(wqTextLength, length)) return false;
    out.parent = parentId ? Control(top, int(parentId)) : top;
    if (!out.parent) return false;
    LRESULT edge[4] = {};
    for (int i = 0; i < 4; ++i)
        if (!ask(wqLeft + i, edge[i])) return false;
    out.place = RECT{LONG(edge[0]), LONG(edge[1]), LONG(edge[2]), LONG(edge[3])};
    out.visible = state & 2;
    out.enabled = state & 4;
    for (LRESULT i = 0; i < length; ++i) {
        LRESULT c = 0;
        if (!ask(wqTextChar + i, c)) return false;
        out.text += wchar_t(c);
    }
    return true;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "ui_driver: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return Fail("no command");
    std::wstring cmd = argv[1];
    auto arg = [&](int i, const wchar_t* fallback = nullptr) -> const wchar_t* {
        return i < argc ? argv[i] : fallback;
    };
    auto number = [&](int i, int fallback) { return i < argc ? _wtoi(argv[i]) : fallback; };

    if (cmd == L"wait") {
        HWND w = WaitFor(arg(2, kMainClass), number(3, 10000));
        return w && WaitForControls(w, number(3, 10000)) ? 0 : Fail("no such window");
    }
    if (cmd == L"gone") {
        for (int waited = 0; waited <= number(3, 10000); waited += 50) {
            if (!FindVisible(arg(2, kMainClass))) return 0;
            Sleep(50);
        }
        return Fail("the window is still there");
    }
    if (cmd == L"module") {
        HWND w = FindVisible(arg(3, kMainClass));
        if (!w) return Fail("no such window");
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        struct TSnapshot {  // failure is INVALID_HANDLE_VALUE, as with files
            HANDLE h;
            ~TSnapshot()
            {
                if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            }
        } snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid)};
        if (snapshot.h == INVALID_HANDLE_VALUE) return Fail("no module list");
        MODULEENTRY32W entry{};
        entry.dwSize = sizeof entry;
        bool loaded = false;
        for (BOOL more = Module32FirstW(snapshot.h, &entry); more; more = Module32NextW(snapshot.h, &entry))
            loaded = loaded || _wcsicmp(entry.szModule, arg(2, L"")) == 0;
        std::printf("%d\n", loaded ? 1 : 0);
        return 0;
    }
    if (cmd == L"syscolor") {
        COLORREF c = GetSysColor(number(2, COLOR_WINDOWTEXT));
        std::printf("%d %d %d\n", GetRValue(c), GetGValue(c), GetBValue(c));
        return 0;
    }
    if (cmd == L"msgbox" || cmd == L"msgbox-press") {
        bool press = cmd == L"msgbox-press";
        HWND box = FindMessageBox(number(press ? 3 : 2, 5000));
        if (!box) return Fail("no message box");
        if (!press) {
            PrintUtf8(MessageText(box));
            return 0;
        }
        HWND button = GetDlgItem(box, number(2, IDOK));
        if (!button) return Fail("no such button");
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }

    // Commands on a window or one of its controls.
    bool onControl = cmd == L"geom" || cmd == L"text" || cmd == L"settext" || cmd == L"click" || cmd == L"checked" ||
                     cmd == L"progress" || cmd == L"srect" || cmd == L"seen";
    const wchar_t* cls = onControl ? arg(cmd == L"settext" ? 4 : 3, kMainClass) : arg(2, kMainClass);
    HWND top = WaitFor(cls, 5000);
    if (!top) return Fail("no such window");
    if (cmd == L"enabled") {
        std::printf("%d\n", IsWindowEnabled(top) ? 1 : 0);
        return 0;
    }
    if (cmd == L"caption") {
        PrintUtf8(TextOf(top));
        return 0;
    }
    if (cmd == L"rect") {
        RECT r{};
        GetWindowRect(top, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return 0;
    }
    if (cmd == L"close") {
        PostMessageW(top, WM_CLOSE, 0, 0);
        return 0;
    }
    if (cmd == L"maximize") {
        ShowWindow(top, SW_MAXIMIZE);
        return 0;
    }
    if (cmd == L"focus" || cmd == L"key") WaitForControls(top, 5000);  // the focus goes to a control's window
    if (cmd == L"focus") {
        DWORD thread = GetWindowThreadProcessId(top, nullptr);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(thread, &info)) return Fail("no thread information");
        std::printf("%d\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
        return 0;
    }
    if (cmd == L"key") {
        DWORD thread = GetWindowThreadProcessId(top, nullptr);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(thread, &info);
        HWND target = info.hwndFocus ? info.hwndFocus : top;
        UINT vk = UINT(number(3, VK_RETURN));
        PostMessageW(target, WM_KEYDOWN, vk, 1);
        PostMessageW(target, WM_KEYUP, vk, LPARAM(0xC0000001));
        return 0;
    }
    if (!onControl) return Fail("unknown command");

    // A control without a window is one its panel draws for good (the form says so at
    // once), or one whose window is still to come (waited for): the fewer questions to
    // a form that is busy installing, the better.
    HWND c = Control(top, number(2, 0));
    TWindowless w;
    const bool windowless = !c && AskWindowless(top, number(2, 0), w);
    if (!c && !windowless && WaitForControls(top, 5000)) c = Control(top, number(2, 0));
    if (!c) {
        if (!windowless) return Fail("no such control");
        RECT r = w.place;
        if (cmd == L"geom") {
            std::printf("%ld %ld %ld %ld %d %d\n", r.left, r.top, r.right - r.left, r.bottom - r.top, w.visible ? 1 : 0,
                        w.enabled ? 1 : 0);
        } else if (cmd == L"srect") {
            MapWindowPoints(w.parent, nullptr, reinterpret_cast<POINT*>(&r), 2);
            std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        } else if (cmd == L"text") {
            PrintUtf8(w.text);
        } else if (cmd == L"click") {
            LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            PostMessageW(w.parent, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(w.parent, WM_LBUTTONUP, 0, at);
        } else {
            return Fail("not for a windowless control");
        }
        return 0;
    }
    if (cmd == L"geom") {
        RECT r{};
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, GetParent(c), reinterpret_cast<POINT*>(&r), 2);
        std::printf("%ld %ld %ld %ld %d %d\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                    (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) ? 1 : 0, IsWindowEnabled(c) ? 1 : 0);
    } else if (cmd == L"srect") {
        RECT r{};
        GetWindowRect(c, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    } else if (cmd == L"text") {
        PrintUtf8(TextOf(c));
    } else if (cmd == L"seen") {
        // 1 when no sibling window above it covers the control's middle.
        RECT r{};
        GetWindowRect(c, &r);
        POINT middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ScreenToClient(GetParent(c), &middle);
        std::printf("%d\n", ChildWindowFromPointEx(GetParent(c), middle, CWP_SKIPINVISIBLE) == c ? 1 : 0);
    } else if (cmd == L"settext") {
        SendMessageW(c, WM_SETTEXT, 0, LPARAM(arg(3, L"")));
    } else if (cmd == L"progress") {
        std::printf("%d %d\n", int(SendMessageW(c, PBM_GETPOS, 0, 0)), int(SendMessageW(c, PBM_GETRANGE, FALSE, 0)));
    } else if (cmd == L"checked") {
        std::printf("%d\n", SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (cmd == L"click") {
        if (_wcsicmp(ClassOf(c).c_str(), L"Button") == 0) {
            PostMessageW(c, BM_CLICK, 0, 0);
        } else {
            RECT r{};
            GetClientRect(c, &r);
            LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
            PostMessageW(c, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(c, WM_LBUTTONUP, 0, at);
        }
    }
    return 0;
}
