#include "UninstallSteps_win.h"

#include "SetupFn.h"
#include "SetupProject.h"
#include "Texts.h"
#include "UninstallData.h"
#include "ZoLog.h"
#include "ZoProcesses_win.h"
#include "ZoSafeFiles_win.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace {

HKEY RootHandle(TRegRootKey root) { return reinterpret_cast<HKEY>(RootKeyHandle(root)); }

bool Gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Held open by a program: the one reason to leave something to the next start.
bool InUse(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// False also when the key is not there.
bool KeyIsEmpty(HKEY root, const WideString& subKey)
{
    TUniqueHKey key;
    if (RegOpenKeyExW(root, W(subKey), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        key.Release();  // a failed open leaves nothing to close
        return false;
    }
    DWORD subKeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subKeys == 0 && values == 0;
}

}  // namespace

bool UninstallDataTrusted(const WideString& installDir)
{
    return OnlyTrustedMayChange(WithoutTrailingBackslash(installDir)) &&
           OnlyTrustedMayChange(installDir + UninstallScriptName);
}

WideString LongFormOfPath(const WideString& path)
{
    WideString head = path, tail;
    while (head.size() > 3) {
        WideString buf(32768, u'\0');
        DWORD n = GetLongPathNameW(W(head), reinterpret_cast<wchar_t*>(buf.data()), static_cast<DWORD>(buf.size()));
        if (n > 0 && n < buf.size()) {
            buf.resize(n);
            return buf + tail;
        }
        size_t cut = head.rfind(u'\\');
        if (cut == WideString::npos || cut < 2) break;
        tail = head.substr(cut) + tail;
        head.resize(cut);
    }
    return path;
}

std::vector<WideString> LeftoverLines(const TUninstallReport& report)
{
    std::vector<WideString> lines;
    for (size_t i = 0; i < report.Leftovers.size(); ++i)
        lines.push_back((static_cast<int>(i) < report.Outside ? Text(TTextId::KeptOutsideLine)
                                                              : Text(TTextId::NotRemovedLine)) +
                        report.Leftovers[i]);
    return lines;
}

TUninstallSequence::TUninstallSequence(TSetupScript& script, TUninstallPlan plan, TUninstallView& view)
    : script_(script), plan_(std::move(plan)), view_(view)
{
}

TUninstallReport TUninstallSequence::Run()
{
    view_.SetProgressMax(static_cast<int>(plan_.Files.size() + plan_.Shortcuts.size() + plan_.Values.size()) + 1);
    // One step that fails as a whole (no memory, a system call that throws)
    // does not stop the others.
    auto step = [&](void (TUninstallSequence::*s)()) {
        try {
            (this->*s)();
        } catch (const std::exception& e) {
            report_.Leftovers.push_back(FromUtf8(e.what()));
        }
    };
    auto status = [&](TTextUse id) {
        const WideString text = Text(id);
        LogAdd(TLogEntry::Step, text);
        view_.SetStatus(text);
        view_.PumpMessages();
    };
    // What the script names outside the install folder stays, and is said.
    for (const WideString& item : plan_.Outside) report_.Leftovers.push_back(item);
    report_.Outside = static_cast<int>(plan_.Outside.size());
    status(TTextId::ClosingPrograms);
    try {
        if (!CloseRunningPrograms()) {
            report_.Cancelled = true;
            return report_;
        }
    } catch (const std::exception& e) {
        report_.Leftovers.push_back(FromUtf8(e.what()));
    }
    status(TTextId::RemovingFiles);
    step(&TUninstallSequence::RemoveFiles);
    step(&TUninstallSequence::RemoveShortcuts);
    status(TTextId::CleaningRegistry);
    step(&TUninstallSequence::RemoveRegistryValues);
    status(TTextId::RemovingUninstallInfo);
    step(&TUninstallSequence::RemoveRegistration);
    step(&TUninstallSequence::RemoveEmptyFolders);
    for (const WideString& line : LeftoverLines(report_)) LogAdd(TLogEntry::Error, line);
    return report_;
}

bool TUninstallSequence::CloseRunningPrograms()
{
    auto ask = [this](const std::vector<WideString>& programs, bool stillRunning) {
        return view_.AskToClosePrograms(programs, stillRunning);
    };
    TClosePrompt prompt;
    if (view_.CanAsk()) prompt = ask;
    return TZoProcessfn::CloseRunningFrom(plan_.Files, prompt, programCloseWaitMs, [this] { view_.PumpMessages(); },
                                          CloseProgramsTexts());
}

// Windows deletes at its next start by the path, through whatever links
// lie on it then: only where no one but the administrators can change the
// folders (in one others can write, a folder swapped for a junction after
// this program ends would have a file of their choosing deleted).
bool TUninstallSequence::MayDeleteAtRestart() const { return plan_.DataTrusted; }

bool TUninstallSequence::RemoveFile(const WideString& path)
{
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1; attempt <= deleteAttempts; ++attempt) {
        try {
            // The folders from the install folder down are held and no links;
            // the file is deleted through a handle of its own name, found in them.
            TFolderChain folders(plan_.InstallFolder, path, false);
            if (!folders.Complete()) return true;  // its folder is gone, and it with it
            error = DeleteFileNoFollow(path, true, folders);
        } catch (const ELinkFound& e) {
            LogAdd(TLogEntry::Error, ErrorText(e));
            error = ERROR_REPARSE_TAG_MISMATCH;
        } catch (const EFCreateError&) {
            error = ERROR_SHARING_VIOLATION;  // a folder held by someone else: as a file in use
        }
        if (error == ERROR_SUCCESS || Gone(error)) return true;
        if (error == ERROR_DIRECTORY || error == ERROR_REPARSE_TAG_MISMATCH) break;
        if (attempt < deleteAttempts) Sleep(retryPauseMs);
    }
    if (error == ERROR_REPARSE_TAG_MISMATCH) LogAdd(TLogEntry::Error, Text(TTextId::LinkKeptLine) + path);
    // A folder where the product had a file, or a link: not ours. Still in
    // use: Windows deletes it at its next start. Anything else (no rights
    // above all) is not ours to force, at restart or ever.
    if (InUse(error) && MayDeleteAtRestart() && MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        ++report_.RemovedAtRestart;
    report_.Leftovers.push_back(path);
    return false;
}

void TUninstallSequence::RemoveFiles()
{
    for (const WideString& path : plan_.Files) {
        view_.StepProgress();
        view_.SetDetail(path);
        view_.PumpMessages();
        if (RemoveFile(path)) LogAdd(TLogEntry::File, Text(TTextId::RemovedLine) + path);
    }
}

void TUninstallSequence::RemoveShortcuts()
{
    for (const WideString& path : plan_.Shortcuts) {
        view_.StepProgress();
        view_.SetDetail(path);
        view_.PumpMessages();
        if (RemoveFile(path)) LogAdd(TLogEntry::Shortcut, Text(TTextId::RemovedLine) + path);
    }
}

void TUninstallSequence::RemoveRegistryValues()
{
    view_.SetDetail(Text(TTextId::CleaningRegistryDetail));
    for (const TRegValueRef& value : plan_.Values) {
        view_.StepProgress();
        view_.PumpMessages();
        const WideString shown = Concat({RootKeyName(value.Root), u"\\", value.SubKey, u"\\", value.Name});
        TUniqueHKey key;
        LSTATUS rc = RegOpenKeyExW(RootHandle(value.Root), W(value.SubKey), 0, KEY_SET_VALUE, key.Put());
        if (rc != ERROR_SUCCESS) {
            key.Release();
            if (!Gone(static_cast<DWORD>(rc))) report_.Leftovers.push_back(shown);
            continue;
        }
        rc = RegDeleteValueW(key.Get(), W(value.Name));
        if (rc != ERROR_SUCCESS && !Gone(static_cast<DWORD>(rc)))
            report_.Leftovers.push_back(shown);
        else
            LogAdd(TLogEntry::Registry, Text(TTextId::RemovedLine) + shown);
    }
    // Deepest first, so a key emptied by removing its last sub-key goes too.
    for (const TRegKeyRef& k : plan_.Keys) {
        if (!KeyIsEmpty(RootHandle(k.Root), k.SubKey)) continue;
        LSTATUS rc = RegDeleteKeyW(RootHandle(k.Root), W(k.SubKey));
        if (rc != ERROR_SUCCESS && !Gone(static_cast<DWORD>(rc)))
            report_.Leftovers.push_back(RootKeyName(k.Root) + u"\\" + k.SubKey);
    }
}

namespace {

// The uninstall key names folder as the product's InstallLocation.
bool RegistersFolder(TRegRootKey root, const WideString& key, const WideString& folder)
{
    TUniqueHKey opened;
    if (RegOpenKeyExW(RootHandle(root), W(key), 0, KEY_QUERY_VALUE, opened.Put()) != ERROR_SUCCESS) return false;
    const std::optional<WideString> location = ReadRegString(opened.Get(), u"InstallLocation");
    return location && TextEquals(WithoutTrailingBackslash(*location), WithoutTrailingBackslash(folder));
}

}  // namespace

void TUninstallSequence::RemoveRegistration()
{
    view_.StepProgress();
    for (const WideString& file : plan_.DataFiles) RemoveFile(file);
    // Only this product's own key: a "GUID" that would reach another key is none.
    const WideString& guid = script_.BaseInfo->GUID;
    const WideString key = UninstallKeyPath(guid, u"_mw");
    const WideString name = RootKeyName(UninstallRoot()) + u"\\" + key;
    if (guid.find_first_of(u"\\/") != WideString::npos) {
        report_.Leftovers.push_back(name);
        return;
    }
    // Data others could have written may name another product's GUID: its key
    // goes only when it registers this very folder.
    if (!plan_.DataTrusted && !RegistersFolder(UninstallRoot(), key, plan_.InstallFolder)) {
        LogAdd(TLogEntry::Error, Text(TTextId::KeptNotThisFolderLine) + name);
        report_.Leftovers.push_back(name);
        return;
    }
    LSTATUS rc = RegDeleteTreeW(RootHandle(UninstallRoot()), W(key));
    if (rc != ERROR_SUCCESS && !Gone(static_cast<DWORD>(rc)))
        report_.Leftovers.push_back(name);
    else
        LogAdd(TLogEntry::Registry, Text(TTextId::RemovedLine) + name);
}

void TUninstallSequence::RemoveEmptyFolders()
{
    for (const WideString& folder : plan_.Folders) {
        // The folders above it from the install folder down are held and no
        // links either: removing by the path would go through one.
        TFolderChain above;
        try {
            above = TFolderChain(plan_.InstallFolder, WithoutTrailingBackslash(folder), false);
        } catch (const ELinkFound& e) {
            LogAdd(TLogEntry::Error, ErrorText(e));
            report_.Leftovers.push_back(folder);
            continue;
        } catch (const EFCreateError&) {
            report_.Leftovers.push_back(folder);
            continue;
        }
        if (!above.Complete()) continue;  // gone with a folder above it
        if (IsReparsePoint(WithoutTrailingBackslash(folder))) {
            LogAdd(TLogEntry::Error, Text(TTextId::LinkKeptLine) + folder);
            report_.Leftovers.push_back(folder);
            continue;
        }
        if (RemoveDirectoryW(W(folder))) {
            LogAdd(TLogEntry::Folder, Text(TTextId::RemovedLine) + folder);
            continue;
        }
        DWORD error = GetLastError();
        if (Gone(error)) continue;
        const WideString path = WithoutTrailingBackslash(folder);
        if (error != ERROR_DIR_NOT_EMPTY) {
            // Empty but in use (a program's current folder, say): it goes
            // when Windows next starts. Without the rights it stays.
            if (InUse(error) && MayDeleteAtRestart() && MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                ++report_.RemovedAtRestart;
            report_.Leftovers.push_back(folder);
        } else if (report_.RemovedAtRestart > 0) {
            // It may hold only what waits for the restart: it goes after them.
            // What the user made keeps it then too.
            MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
}
