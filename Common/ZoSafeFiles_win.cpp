#include "ZoSafeFiles_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <optional>

#include "ZoWinText_win.h"

namespace {

// Opened on itself, held so that no one renames or removes it meanwhile (the
// read access makes the share mode count).
TUniqueFile OpenFolderItself(const WideString& dir)
{
    return TUniqueFile(CreateFileW(W(dir), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

DWORD AttributesOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

[[noreturn]] void CannotOpen(const WideString& path, DWORD code)
{
    throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {path, SysErrorMessage(code)}));
}

// The name itself is a link: what the directory entry says, not followed.
// The handle's own attributes say the same on Windows; Wine shows a Unix
// symbolic link only here, as it opens a handle on what the link leads to.
bool NameIsLink(const WideString& path)
{
    const DWORD attributes = GetFileAttributesW(W(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The file's path as the system resolves it (long names, links followed).
WideString FinalPath(HANDLE h)
{
    WideString buffer(MAX_PATH + 1, u'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(h, reinterpret_cast<wchar_t*>(buffer.data()),
                                            static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(n + 1);
    }
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The path in the system's own form, which a rename by handle takes.
WideString NtPath(const WideString& path)
{
    if (path.rfind(u"\\\\", 0) == 0) return u"\\??\\UNC\\" + path.substr(2);
    return u"\\??\\" + path;
}

// The accounts a machine-wide installation's data may be writable by.
bool IsTrustedSid(PSID sid, PSID self)
{
    static const wchar_t* const kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    if (!sid || !IsValidSid(sid)) return false;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
        IsWellKnownSid(sid, WinCreatorOwnerSid) || (self && EqualSid(sid, self)))
        return true;
    PSID ti = nullptr;
    if (!ConvertStringSidToSidW(kTrustedInstaller, &ti)) return false;
    TUniqueLocal owner(ti);
    return EqualSid(sid, ti);
}

// Only trusted accounts own the object or may write to it, delete it or change its access.
bool ObjectOnlyTrustedMayChange(HANDLE object, PSID self)
{
    constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                                      WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    PSID ownerSid = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &ownerSid,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    TUniqueLocal owner(descriptor);
    if (!dacl || !IsTrustedSid(ownerSid, self)) return false;  // no list admits everyone; an owner may rewrite it
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is created below, not for this object
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;  // callback and object entries: not ours to judge
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChanging) && !IsTrustedSid(const_cast<DWORD*>(&allowed->SidStart), self)) return false;
    }
    return true;
}

}  // namespace

ELinkFound LinkFound(const WideString& path)
{
    return ELinkFound(FormatText(u"Cannot create file \"%s\". %s", {path, u"It is a link (reparse point): left alone."}));
}

TFolderChain::TFolderChain(const WideString& root, const WideString& path, bool create)
{
    const WideString base = WithoutTrailingBackslash(root);
    if (base.empty() || path.size() <= base.size() + 1 || path[base.size()] != u'\\' ||
        !TextEquals(path.substr(0, base.size()), base))
        return;
    std::vector<WideString> folders{base};
    for (size_t at = path.find(u'\\', base.size() + 1); at != WideString::npos; at = path.find(u'\\', at + 1))
        folders.push_back(path.substr(0, at));
    for (const WideString& dir : folders) {
        TUniqueFile h = OpenFolderItself(dir);
        if (!h && Missing(GetLastError()) && create) {
            if (!CreateDirectoryW(W(dir), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                CannotOpen(dir, GetLastError());
            h = OpenFolderItself(dir);
        }
        if (!h) {
            DWORD error = GetLastError();
            if (Missing(error) && !create) {
                complete_ = false;
                return;
            }
            CannotOpen(dir, error);
        }
        const DWORD attributes = AttributesOf(h.Get());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) throw LinkFound(dir);
        if (NameIsLink(dir)) throw LinkFound(dir);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            CannotOpen(dir, ERROR_DIRECTORY);
        folders_.push_back(std::move(h));
    }
}

bool TFolderChain::Holds(HANDLE file, const WideString& path) const
{
    if (folders_.empty()) return true;
    if (!complete_) return false;
    const WideString folder = FinalPath(folders_.back().Get()), found = FinalPath(file);
    const size_t slash = path.rfind(u'\\');
    return !folder.empty() && !found.empty() && slash != WideString::npos &&
           SameNameOnDisk(found, WithoutTrailingBackslash(folder) + path.substr(slash));
}

bool SameNameOnDisk(const WideString& a, const WideString& b)
{
    if (a.size() > INT_MAX || b.size() > INT_MAX) return false;
    return CompareStringOrdinal(W(a), static_cast<int>(a.size()), W(b), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool DeleteByHandle(HANDLE file)
{
    FILE_DISPOSITION_INFO gone{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone) != 0;
}

bool IsReparsePoint(const WideString& path)
{
    if (NameIsLink(path)) return true;
    TUniqueFile h(CreateFileW(W(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD attributes = h ? AttributesOf(h.Get()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

DWORD DeleteFileNoFollow(const WideString& path, bool keepLinks, const TFolderChain& held)
{
    // A link goes by its name, which removes the name itself, never what it
    // leads to (on Windows as under Wine, where a handle would be opened on
    // what it leads to).
    if (NameIsLink(path)) {
        if (keepLinks) return ERROR_REPARSE_TAG_MISMATCH;
        return DeleteFileW(W(path)) || RemoveDirectoryW(W(path)) ? ERROR_SUCCESS : GetLastError();
    }
    TUniqueFile h(CreateFileW(W(path), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) return GetLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h.Get(), &info)) return GetLastError();
    const DWORD attributes = info.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && keepLinks) return ERROR_REPARSE_TAG_MISMATCH;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && keepLinks) return ERROR_DIRECTORY;
    if (!held.Holds(h.Get(), path)) return ERROR_REPARSE_TAG_MISMATCH;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && keepLinks && info.nNumberOfLinks <= 1) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) ? (attributes & ~FILE_ATTRIBUTE_READONLY)
                                                                       : FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(h.Get(), FileBasicInfo, &basic, sizeof basic);
    }
    return DeleteByHandle(h.Get()) ? ERROR_SUCCESS : GetLastError();
}

bool SetHandleFileTimes(HANDLE file, const FileTimes& times)
{
    auto convert = [](TDateTime t, FILETIME& utc) {
        if (std::fabs(t) < 1e-12) return false;
        std::optional<TCalendarTime> decoded = TryDecodeDateTime(t);
        if (!decoded) return false;  // no date the system can hold: that time stays as it is
        const TCalendarTime& c = *decoded;
        SYSTEMTIME st{};
        st.wYear = static_cast<WORD>(c.year);
        st.wMonth = static_cast<WORD>(c.month);
        st.wDay = static_cast<WORD>(c.day);
        st.wHour = static_cast<WORD>(c.hour);
        st.wMinute = static_cast<WORD>(c.minute);
        st.wSecond = static_cast<WORD>(c.second);
        st.wMilliseconds = static_cast<WORD>(c.millisecond);
        FILETIME local;
        return SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, &utc);
    };
    FILETIME c, a, w;
    bool hc = convert(times.CreationTime, c), ha = convert(times.LastAccessTime, a),
         hw = convert(times.LastWriteTime, w);
    return SetFileTime(file, hc ? &c : nullptr, ha ? &a : nullptr, hw ? &w : nullptr) != 0;
}

bool RenameHandle(HANDLE file, const WideString& path)
{
    const WideString name = NtPath(path);
    const size_t bytes = name.size() * sizeof(char16_t);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(info->FileName, name.data(), bytes);
    if (!SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) return false;
    return FlushFileBuffers(file) != 0;
}

std::vector<uint8_t> CurrentUserSid()
{
    TUniqueHandle token;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return {};
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size);
    if (!size || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid)) return {};
    const auto* bytes = static_cast<const uint8_t*>(sid);
    return std::vector<uint8_t>(bytes, bytes + GetLengthSid(sid));
}

bool ProtectFile(HANDLE file)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    TUniqueLocal owner(descriptor);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
           SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

bool OnlyTrustedMayChange(const WideString& path)
{
    std::vector<uint8_t> user = CurrentUserSid();
    PSID self = user.empty() ? nullptr : user.data();
    TUniqueFile object(CreateFileW(W(path), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return object && GetFileInformationByHandle(object.Get(), &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && ObjectOnlyTrustedMayChange(object.Get(), self);
}
