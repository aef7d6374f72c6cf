#include "SetupLock_win.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "Texts.h"
#include "ZoLog.h"
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
    WideString value(256, u'\0');
    DWORD n = GetEnvironmentVariableW(kHolderVariable, reinterpret_cast<wchar_t*>(value.data()),
                                      static_cast<DWORD>(value.size()));
    if (n == 0 || n >= value.size()) return false;
    value.resize(n);
    DWORD parent = ParentProcessId();
    return parent != 0 && TextEquals(value, HolderText(guid, parent));
}

struct TBoundaryTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { ::DeleteBoundaryDescriptor(h); }
};

// The SID that bounds the scope: the Administrators group, or the user of the
// process's token. False when it cannot be had.
bool ScopeSid(TSetupLock::TScope scope, std::vector<BYTE>& sid)
{
    if (scope == TSetupLock::TScope::Machine) {
        sid.resize(SECURITY_MAX_SID_SIZE);
        DWORD size = static_cast<DWORD>(sid.size());
        return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid.data(), &size) != 0;
    }
    TUniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) return false;
    PSID userSid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    sid.assign(static_cast<const BYTE*>(userSid), static_cast<const BYTE*>(userSid) + GetLengthSid(userSid));
    return true;
}

// A security descriptor that lets in only the scope's SID, SYSTEM and the
// administrators.
TUniqueLocalMem OnlyThe(const std::vector<BYTE>& sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text)) return {};
    TUniqueLocalMem owned(text);
    const WideString sddl = Concat({u"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;", U(text), u")"});
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(W(sddl), SDDL_REVISION_1, &sd, nullptr)) return {};
    return TUniqueLocalMem(sd);
}

}  // namespace

bool TSetupLock::Acquire(const WideString& guid, TScope scope)
{
    // A backslash of the GUID's own would name another folder of the namespace.
    WideString product = u"ZoSetup-" + guid;
    for (char16_t& c : product)
        if (c == u'\\') c = u'_';
    const wchar_t* const prefix = scope == TScope::Machine ? L"ZoSetupMachine" : L"ZoSetupUser";
    std::vector<BYTE> sid;
    TUniqueLocalMem descriptor;
    if (ScopeSid(scope, sid)) descriptor = OnlyThe(sid);
    SECURITY_ATTRIBUTES sa{sizeof sa, descriptor.Get(), FALSE};
    // Only a process inside the boundary can create or open the namespace.
    TUniqueAny<HANDLE, TBoundaryTraits> boundary(CreateBoundaryDescriptorW(prefix, 0));
    if (boundary && descriptor) {
        HANDLE bd = boundary.Release();
        const bool added = AddSIDToBoundaryDescriptor(&bd, sid.data()) != 0;
        boundary.Reset(bd);  // the call may move the descriptor
        if (added) {
            namespace_.Reset(CreatePrivateNamespaceW(&sa, boundary.Get(), prefix));
            if (!namespace_ && GetLastError() == ERROR_ALREADY_EXISTS)
                namespace_.Reset(OpenPrivateNamespaceW(boundary.Get(), prefix));
            // Outside the boundary (no administrator, for the machine's lock).
            if (!namespace_) return ParentHoldsIt(guid);
        }
    }
    // Without private namespaces (Wine has none) the name is a global one, as
    // safe as that namespace allows: its own security admits only the scope.
    const WideString name = namespace_ ? WideString(reinterpret_cast<const char16_t*>(prefix)) + u"\\" + product
                                       : (scope == TScope::Machine ? u"Global\\" : u"Local\\") + product;
    if (!namespace_) LogAdd(TLogEntry::Note, Text(TTextId::NoPrivateNamespaceLine) + name);
    HANDLE h = CreateMutexW(descriptor ? &sa : nullptr, FALSE, W(name));
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

TSetupLock::~TSetupLock() { Release(); }

void TSetupLock::Release()
{
    if (held_) ReleaseMutex(mutex_.Get());
    held_ = false;
    mutex_.Reset();
    namespace_.Reset();
    SetEnvironmentVariableW(kHolderVariable, nullptr);
}
