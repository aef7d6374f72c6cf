#include "ZoProcesses_win.h"

#include <tlhelp32.h>

#include <algorithm>

#include "ZoLog.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

#ifndef ERROR_FAIL_SHUTDOWN
#define ERROR_FAIL_SHUTDOWN 351L  // RmShutdown: some programs did not close (missing from MinGW's headers)
#endif

namespace {

// One spelling per file: the full, long form in upper case. A file that is not
// there keeps its full form (no process can run from it anyway).
WideString Comparable(const WideString& path)
{
    wchar_t full[MAX_PATH + 1] = {};
    DWORD n = GetFullPathNameW(W(path), MAX_PATH, full, nullptr);
    WideString result = n > 0 && n <= MAX_PATH ? U(full) : path;
    wchar_t longer[MAX_PATH + 1] = {};
    n = GetLongPathNameW(W(result), longer, MAX_PATH);
    if (n > 0 && n <= MAX_PATH) result = U(longer);
    return WideUpperCase(result);
}

std::vector<DWORD> SnapshotProcesses()
{
    std::vector<DWORD> processes;
    TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) snapshot.Release();
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        processes.push_back(entry.th32ProcessID);
    return processes;
}

// The process's executable file; empty when it cannot be asked.
WideString ImagePath(HANDLE process)
{
    wchar_t buf[MAX_PATH * 2] = {};
    DWORD size = static_cast<DWORD>(std::size(buf));
    if (!QueryFullProcessImageNameW(process, 0, buf, &size)) return WideString();
    return WideString(reinterpret_cast<const char16_t*>(buf), size);
}

struct TProcessWindow {
    DWORD Pid;
    HWND Window;
};
// A flat list, looked through per process: a few hundred windows at most, and
// no tree code per key type.
using TWindowsByProcess = std::vector<TProcessWindow>;

BOOL CALLBACK AddTopLevelWindow(HWND window, LPARAM param)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    reinterpret_cast<TWindowsByProcess*>(param)->push_back({pid, window});
    return TRUE;
}

// Every top-level window with its process, in the system's z-order.
TWindowsByProcess TopLevelWindows()
{
    TWindowsByProcess windows;
    EnumWindows(AddTopLevelWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Sorted and without repeats, so that two lists compare as sets.
std::vector<DWORD> AsSet(std::vector<DWORD> pids)
{
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    return pids;
}

bool Contains(const std::vector<DWORD>& pids, DWORD pid)
{
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

WideString WindowTitle(HWND window)
{
    wchar_t buf[256] = {};
    // Never SendMessage: a program that hangs must not hang the listing.
    int n = InternalGetWindowText(window, buf, static_cast<int>(std::size(buf)));
    return n > 0 ? WideString(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(n)) : WideString();
}

// The title a person knows the program by: its first visible, unowned window's.
WideString MainTitle(const TWindowsByProcess& windows, DWORD pid)
{
    for (const TProcessWindow& w : windows)
        if (w.Pid == pid && IsWindowVisible(w.Window) && !GetWindow(w.Window, GW_OWNER)) {
            WideString title = WindowTitle(w.Window);
            if (!title.empty()) return title;
        }
    return WideString();
}

// The processes to end, each opened for closing, waiting and ending.
std::vector<TRunningProgram> OpenRunningFrom(const std::vector<WideString>& files)
{
    std::vector<TRunningProgram> found;
    if (files.empty()) return found;
    std::vector<WideString> wanted;
    for (const WideString& file : files) wanted.push_back(Comparable(file));

    const DWORD self = GetCurrentProcessId();
    // Another copy of this very program (a second uninstaller started meanwhile)
    // is not ended either: it finds the product's lock taken, says so and ends.
    WideString ownImage = ImagePath(GetCurrentProcess());
    if (!ownImage.empty()) ownImage = Comparable(ownImage);
    TWindowsByProcess windows;
    bool windowsListed = false;
    for (DWORD pid : SnapshotProcesses()) {
        if (pid == self || pid == 0) continue;
        TUniqueHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        if (!process) continue;  // the system's own, or gone already
        WideString image = ImagePath(process.Get());
        if (image.empty()) continue;
        const WideString comparable = Comparable(image);
        if (std::find(wanted.begin(), wanted.end(), comparable) == wanted.end() || comparable == ownImage) continue;
        if (!windowsListed) {
            windows = TopLevelWindows();
            windowsListed = true;
        }
        TRunningProgram program;
        program.Process = std::move(process);
        program.Pid = pid;
        program.Image = image;
        program.Title = MainTitle(windows, pid);
        found.push_back(std::move(program));
    }
    return found;
}

std::vector<WideString> ShownList(const std::vector<TRunningProgram>& programs)
{
    std::vector<WideString> shown;
    for (const TRunningProgram& p : programs) shown.push_back(p.Shown());
    return shown;
}

// The Restart Manager's list for the files registered in a session; empty
// when it lists nothing or does not answer (Wine implements little of it).
std::vector<RM_PROCESS_INFO> RestartManagerList(const std::vector<WideString>& files, TUniqueRmSession& session)
{
    DWORD handle = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&handle, 0, key) != ERROR_SUCCESS) return {};
    session.Reset(handle);
    std::vector<LPCWSTR> names;
    for (const WideString& file : files) names.push_back(W(file));
    if (RmRegisterResources(handle, static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0, nullptr) !=
        ERROR_SUCCESS)
        return {};
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    if (RmGetList(handle, &needed, &count, nullptr, &reasons) != ERROR_MORE_DATA) return {};
    // The list may grow between the two calls; a few tries, then no answer.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<RM_PROCESS_INFO> infos(needed);
        count = needed;
        DWORD rc = RmGetList(handle, &needed, &count, infos.data(), &reasons);
        if (rc == ERROR_SUCCESS) {
            infos.resize(std::min<size_t>(count, infos.size()));
            return infos;
        }
        if (rc != ERROR_MORE_DATA) break;
    }
    return {};
}

// The Restart Manager closes windows, services and consoles alike, but only
// when it sees exactly the programs found (not Explorer reading an icon, not
// this process): anything else and the window messages below do it.
bool AskThroughRestartManager(const std::vector<WideString>& files, const std::vector<TRunningProgram>& programs)
{
    TUniqueRmSession session;
    std::vector<DWORD> listed, ours;
    for (const RM_PROCESS_INFO& info : RestartManagerList(files, session)) listed.push_back(info.Process.dwProcessId);
    for (const TRunningProgram& p : programs) ours.push_back(p.Pid);
    if (listed.empty() || AsSet(std::move(listed)) != AsSet(std::move(ours))) return false;
    const DWORD rc = RmShutdown(session.Get(), 0, nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_FAIL_SHUTDOWN;  // the refusing ones are still running: named again
}

DWORD MsLeft(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

// As Windows asks at shut-down: may the session end (a program with unsaved
// work may say no, or ask its user), then that it ends; then WM_CLOSE to the
// visible windows, for programs that go only when their window is closed. A
// console program's console window turns WM_CLOSE into CTRL_CLOSE_EVENT; our
// own console is never closed.
// Returns false when not one window answered: there is nothing to wait for.
bool AskThroughWindows(const std::vector<TRunningProgram>& programs, ULONGLONG deadline)
{
    bool asked = false;
    TWindowsByProcess windows = TopLevelWindows();
    const HWND ownConsole = GetConsoleWindow();
    for (const TRunningProgram& program : programs)
        for (const TProcessWindow& w : windows) {
            const HWND window = w.Window;
            if (w.Pid != program.Pid || window == ownConsole) continue;
            // A window that does not answer in time is showing something (a
            // "save changes?" box); its program is named again if it stays.
            const UINT waitMs = std::clamp<DWORD>(MsLeft(deadline), 1, 5000);
            DWORD_PTR agreed = 0;
            if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, waitMs,
                                     &agreed))
                continue;
            asked = true;
            SendMessageTimeoutW(window, WM_ENDSESSION, agreed ? TRUE : FALSE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                                std::clamp<DWORD>(MsLeft(deadline), 1, 5000), nullptr);
            if (agreed && IsWindow(window) && IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        }
    return asked;
}

// Waits until every program has gone or the deadline has passed; returns
// those still running.
std::vector<TRunningProgram> WaitForClose(std::vector<TRunningProgram> programs, ULONGLONG deadline,
                                          TFnRef<void()> pump)
{
    for (;;) {
        std::erase_if(programs, [](const TRunningProgram& p) {
            return WaitForSingleObject(p.Process.Get(), 0) == WAIT_OBJECT_0;
        });
        if (programs.empty() || MsLeft(deadline) == 0) return programs;
        if (pump) pump();
        WaitForSingleObject(programs.front().Process.Get(), std::min<DWORD>(MsLeft(deadline), 100));
    }
}

// Ending is asynchronous: the files are free only once each process has gone.
int EndAndWait(const std::vector<TRunningProgram>& programs, DWORD waitMs, const char16_t* logFormat)
{
    int ended = 0;
    for (const TRunningProgram& p : programs)
        if (TerminateProcess(p.Process.Get(), 1)) {
            ++ended;
            // Why, as the person knew it; then the file, as every END line names it.
            if (logFormat) LogAdd(TLogEntry::Note, FormatText(logFormat, {p.Shown()}));
            LogAdd(TLogEntry::Ended, p.Image);
        }
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (const TRunningProgram& p : programs) WaitForSingleObject(p.Process.Get(), MsLeft(deadline));
    return ended;
}

// The longest wait for an ended program to go.
constexpr DWORD kEndWaitMs = 5000;

}  // namespace

WideString TRunningProgram::Shown() const
{
    return Title.empty() ? NamePart(Image) : Concat({Title, u" (", NamePart(Image), u")"});
}

std::vector<TRunningProgram> TZoProcessfn::ListRunningFrom(const std::vector<WideString>& files)
{
    return OpenRunningFrom(files);
}

std::vector<DWORD> TZoProcessfn::FindRunningFrom(const std::vector<WideString>& files)
{
    std::vector<DWORD> pids;
    for (const TRunningProgram& p : OpenRunningFrom(files)) pids.push_back(p.Pid);
    return pids;
}

int TZoProcessfn::EndRunningFrom(const std::vector<WideString>& files, DWORD waitMs)
{
    return EndAndWait(OpenRunningFrom(files), waitMs, nullptr);
}

bool TZoProcessfn::CloseRunningFrom(const std::vector<WideString>& files, TClosePrompt prompt, DWORD waitMs,
                                    TFnRef<void()> pump, const TCloseProgramsTexts& texts)
{
    std::vector<TRunningProgram> programs = OpenRunningFrom(files);
    if (programs.empty()) return true;
    if (prompt && prompt(ShownList(programs), false) == TCloseChoice::Cancel) {
        LogAdd(TLogEntry::Note, texts.Cancelled);
        return false;
    }
    for (const TRunningProgram& p : programs) LogAdd(TLogEntry::Note, FormatText(texts.Asked, {p.Shown()}));
    ULONGLONG deadline = GetTickCount64() + waitMs;
    // A program without a window (and not known to the Restart Manager)
    // cannot be asked: it is named again at once.
    if (!AskThroughRestartManager(files, programs) && !AskThroughWindows(programs, deadline))
        deadline = GetTickCount64();
    for (;;) {
        programs = WaitForClose(std::move(programs), deadline, pump);
        if (programs.empty()) return true;
        TCloseChoice choice = prompt ? prompt(ShownList(programs), true) : TCloseChoice::End;
        if (choice == TCloseChoice::Cancel) {
            LogAdd(TLogEntry::Note, texts.Cancelled);
            return false;
        }
        if (choice == TCloseChoice::End) {
            EndAndWait(programs, kEndWaitMs, texts.EndedNotClosed.c_str());
            return true;
        }
        deadline = GetTickCount64() + waitMs;  // Wait: as long again
    }
}

std::vector<WideString> TZoProcessfn::HoldersOf(const WideString& file)
{
    std::vector<WideString> names;
    std::vector<DWORD> named;
    TUniqueRmSession session;
    for (const RM_PROCESS_INFO& info : RestartManagerList({file}, session)) {
        const DWORD pid = info.Process.dwProcessId;
        if (pid == GetCurrentProcessId() || !info.strAppName[0] || Contains(named, pid)) continue;
        named.push_back(pid);
        names.push_back(U(info.strAppName));
    }
    for (const TRunningProgram& p : OpenRunningFrom({file}))
        if (!Contains(named, p.Pid)) {
            named.push_back(p.Pid);
            names.push_back(p.Shown());
        }
    return names;
}
