#include "ZoProcesses_win.h"

#include <tlhelp32.h>

#include <algorithm>
#include <set>

#include "ZoLog.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

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

struct TSnapshotProcess {
    DWORD Pid;
    DWORD ParentPid;
};

std::vector<TSnapshotProcess> SnapshotProcesses()
{
    std::vector<TSnapshotProcess> processes;
    TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) snapshot.Release();
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        processes.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
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

// The processes to end, each opened for ending and waiting.
std::vector<TUniqueHandle> OpenRunningFrom(const std::vector<WideString>& files, std::vector<DWORD>* pids)
{
    std::vector<TUniqueHandle> found;
    if (files.empty()) return found;
    std::set<WideString> wanted;
    for (const WideString& file : files) wanted.insert(Comparable(file));

    const DWORD self = GetCurrentProcessId();
    // Another copy of this very program (a second uninstaller started meanwhile)
    // is not ended either: it finds the product's lock taken, says so and ends.
    WideString ownImage = ImagePath(GetCurrentProcess());
    if (!ownImage.empty()) ownImage = Comparable(ownImage);
    std::vector<TSnapshotProcess> processes = SnapshotProcesses();
    DWORD parent = 0;
    for (const TSnapshotProcess& p : processes)
        if (p.Pid == self) parent = p.ParentPid;
    for (const TSnapshotProcess& p : processes) {
        if (p.Pid == self || p.Pid == parent || p.Pid == 0) continue;
        TUniqueHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, p.Pid));
        if (!process) continue;  // the system's own, or gone already
        WideString image = ImagePath(process.Get());
        if (image.empty()) continue;
        image = Comparable(image);
        if (!wanted.count(image) || image == ownImage) continue;
        if (pids) pids->push_back(p.Pid);
        found.push_back(std::move(process));
    }
    return found;
}

}  // namespace

std::vector<DWORD> TZoProcessfn::FindRunningFrom(const std::vector<WideString>& files)
{
    std::vector<DWORD> pids;
    OpenRunningFrom(files, &pids);
    return pids;
}

int TZoProcessfn::EndRunningFrom(const std::vector<WideString>& files, DWORD waitMs)
{
    std::vector<TUniqueHandle> processes = OpenRunningFrom(files, nullptr);
    int ended = 0;
    for (const TUniqueHandle& process : processes)
        if (TerminateProcess(process.Get(), 1)) {
            ++ended;
            LogAdd(TLogEntry::Ended, ImagePath(process.Get()));
        }
    // Ending is asynchronous: the files are free only once each process has gone.
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (const TUniqueHandle& process : processes) {
        ULONGLONG now = GetTickCount64();
        WaitForSingleObject(process.Get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
    return ended;
}
