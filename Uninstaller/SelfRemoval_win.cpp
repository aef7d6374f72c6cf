#include "SelfRemoval_win.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"

namespace {

const char16_t* const kSwitch = u"/REMOVE-SELF";
const char16_t* const kCopyPrefix = u"ZoUninstall-";
const char16_t* const kRenamedPrefix = u"~Uninstall";

bool StartsWithText(const WideString& text, const WideString& prefix)
{
    return text.size() >= prefix.size() && TextEquals(text.substr(0, prefix.size()), prefix);
}

WideString GuidWithoutBraces()
{
    WideString g = TZoStrfn::NewGuidString();
    return g.size() > 2 ? g.substr(1, g.size() - 2) : g;
}

void DeleteAtRestart(const WideString& path)
{
    MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Deletes a file that may stay in use for a moment; false after the time limit.
bool DeleteWhenFree(const WideString& path, DWORD limitMs)
{
    for (DWORD waited = 0;; waited += 100) {
        SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(W(path))) return true;
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        if (waited >= limitMs) return false;
        Sleep(100);
    }
}

// The copies that earlier uninstallations left, each in its own folder; a
// running one stays (its file cannot be deleted).
void DeleteEarlierCopies(const WideString& own)
{
    const WideString ownFolder = DirPart(own), parent = DirPart(WithoutTrailingBackslash(ownFolder));
    WIN32_FIND_DATAW found{};
    TUniqueFind find(FindFirstFileW(W(parent + kCopyPrefix + u"*"), &found));
    if (!find) return;
    do {
        const WideString folder = parent + reinterpret_cast<const char16_t*>(found.cFileName) + u"\\";
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || TextEquals(folder, ownFolder)) continue;
        WIN32_FIND_DATAW copy{};
        TUniqueFind copies(FindFirstFileW(W(folder + kCopyPrefix + u"*.exe"), &copy));
        if (copies) {
            do DeleteFileW(W(folder + reinterpret_cast<const char16_t*>(copy.cFileName)));
            while (FindNextFileW(copies.Get(), &copy));
        }
        RemoveDirectoryW(W(folder));  // only when that left it empty
    } while (FindNextFileW(find.Get(), &found));
}

// A new folder for the copy, which runs with the administrator's rights: in
// the Windows folder's Temp (where users may add files but not change what
// others made) and with only the administrators and the system allowed in
// it, so nobody else can put a library beside the copy for it to load, or
// swap the copy before it starts. Made new under a fresh name: a folder that
// is there already is not ours. Empty when it cannot be made.
WideString NewAdminOnlyFolder()
{
    wchar_t windows[MAX_PATH + 1] = {};
    UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return WideString();
    const WideString temp = WithTrailingBackslash(WideString(reinterpret_cast<const char16_t*>(windows), n)) + u"Temp\\";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                              SDDL_REVISION_1, &sd, nullptr))
        return WideString();
    TUniqueLocalMem owner(sd);
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const WideString folder = Concat({temp, kCopyPrefix, GuidWithoutBraces(), u"\\"});
    if (!CreateDirectoryW(W(folder), &sa)) return WideString();
    return folder;
}

// A new folder of the user's own temporary folder, which only the user (and
// the system and administrators, as the profile allows) may reach.
WideString NewUserFolder()
{
    const WideString folder = Concat({WithTrailingBackslash(TZoWinfn::GetTempDir()), kCopyPrefix, GuidWithoutBraces(), u"\\"});
    if (!CreateDirectoryW(W(folder), nullptr)) return WideString();
    return folder;
}

}  // namespace

bool StartSelfRemoval(const WideString& ownFile, const WideString& folder, bool perUser)
{
    const WideString folderArg = folder.empty() ? WideString(u"-") : WithoutTrailingBackslash(folder);
    WideString renamed = Concat({DirPart(ownFile), kRenamedPrefix, TZoStrfn::NewGuidString(), u".tmp"});
    if (!MoveFileExW(W(ownFile), W(renamed), 0)) renamed = ownFile;

    auto putOff = [&] {
        DeleteAtRestart(renamed);
        if (!folder.empty()) DeleteAtRestart(folderArg);
        return false;
    };
    const WideString temp = perUser ? NewUserFolder() : NewAdminOnlyFolder();
    if (temp.empty()) return putOff();
    const WideString copy = Concat({temp, kCopyPrefix, GuidWithoutBraces(), u".exe"});
    if (!CopyFileW(W(renamed), W(copy), TRUE)) {
        RemoveDirectoryW(W(temp));
        return putOff();
    }

    // The one handle the copy inherits: ours, to wait on. Our standard handles
    // must not go with it, or whoever reads our output would wait for the copy too.
    HANDLE self = nullptr;
    auto dropCopy = [&] {
        DeleteFileW(W(copy));
        RemoveDirectoryW(W(temp));
        return putOff();
    };
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0))
        return dropCopy();
    TUniqueHandle selfHandle(self);
    for (DWORD std : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE h = GetStdHandle(std);
        if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    }

    WideString command = Concat({u"\"", copy, u"\" ", kSwitch, u" ",
                                 IntToStr(static_cast<int64_t>(reinterpret_cast<intptr_t>(self))), u" \"", renamed,
                                 u"\" \"", folderArg, u"\""});
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // The command line may be changed in place: the string's own buffer, with its terminating zero.
    if (!CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr, TRUE, 0, nullptr, W(temp), &si, &pi))
        return dropCopy();
    TUniqueHandle process(pi.hProcess), thread(pi.hThread);
    return true;
}

bool IsSelfRemovalCommandLine() { return ArgCount() == 4 && ArgAt(1) == kSwitch; }

int RunSelfRemoval()
{
    const WideString own = ArgAt(0), target = ArgAt(3), folder = ArgAt(4);
    // Only the uninstaller's own file in the named folder: this command line
    // never deletes anything else, whoever writes it.
    const WideString name = NamePart(target);
    bool targetOk = (TextEquals(name, u"Uninstall.exe") || StartsWithText(name, kRenamedPrefix)) &&
                    (folder == u"-" || TextEquals(DirPart(target), WithTrailingBackslash(folder)));
    if (!targetOk) return 2;

    if (auto handle = TryStrToInt64(ArgAt(2)); handle && *handle > 0) {
        // Only a process handle is waited on (and closed): a number that names
        // nothing we inherited is passed over, and the deletion below waits.
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(*handle));
        if (GetProcessId(h) != 0) {
            TUniqueHandle parent(h);
            WaitForSingleObject(parent.Get(), 60000);
        }
    }
    if (!DeleteWhenFree(target, 20000)) DeleteAtRestart(target);
    if (folder != u"-" && !RemoveDirectoryW(W(folder))) {
        // Still in use: it goes when Windows next starts, if it is empty then.
        DWORD error = GetLastError();
        if (error != ERROR_DIR_NOT_EMPTY && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            DeleteAtRestart(folder);
    }
    if (StartsWithText(NamePart(own), kCopyPrefix)) {
        DeleteEarlierCopies(own);
        // In this order: the folder is empty by the time its turn comes.
        DeleteAtRestart(own);
        if (StartsWithText(NamePart(WithoutTrailingBackslash(DirPart(own))), kCopyPrefix))
            DeleteAtRestart(WithoutTrailingBackslash(DirPart(own)));
    }
    return 0;
}
