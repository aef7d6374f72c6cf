#include "SetupLock_win.h"

#include <tlhelp32.h>

#include <vector>

#include "ZoSysUtils.h"
#include "ZoWinText_win.h"

namespace {

// Names the lock's holder for its children: "{GUID}:pid".
const wchar_t* const kHolderVariable = L"ZOSETUP_LOCK_HOLDER";

DWORD ParentProcessId()
{
    TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) snapshot.Release();
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ProcessID == GetCurrentProcessId()) return entry.th32ParentProcessID;
    return 0;
}

WideString HolderText(const WideString& guid, DWORD pid) { return guid + u":" + IntToStr(pid); }

// Our parent holds the lock for this product and started us to work under it.
bool ParentHoldsIt(const WideString& guid)
{
    std::vector<wchar_t> value(256);
    DWORD n = GetEnvironmentVariableW(kHolderVariable, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0 || n >= value.size()) return false;
    DWORD parent = ParentProcessId();
    return parent != 0 && TextEquals(WideString(reinterpret_cast<const char16_t*>(value.data()), n),
                                     HolderText(guid, parent));
}

}  // namespace

bool TSetupLock::Acquire(const WideString& guid)
{
    // "Global\": one lock for every session of the machine. A backslash of
    // the name's own would name another namespace.
    WideString name = u"Global\\ZoSetup-" + guid;
    for (size_t i = 15; i < name.size(); ++i)
        if (name[i] == u'\\') name[i] = u'_';
    HANDLE h = CreateMutexW(nullptr, FALSE, W(name));
    if (!h) {
        // Made by someone whose lock we may not even open: it is held.
        if (GetLastError() == ERROR_ACCESS_DENIED) return ParentHoldsIt(guid);
        return true;
    }
    mutex_.Reset(h);
    DWORD wait = WaitForSingleObject(h, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {  // abandoned: its holder died, it is ours now
        mutex_.Reset();
        return ParentHoldsIt(guid);
    }
    held_ = true;
    SetEnvironmentVariableW(kHolderVariable, W(HolderText(guid, GetCurrentProcessId())));
    return true;
}

TSetupLock::~TSetupLock()
{
    if (held_) ReleaseMutex(mutex_.Get());
}
