#include "InstallSteps_win.h"

#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FileDataClasses.h"
#include "PendingRenames.h"
#include "ReplaceFile_win.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "Texts.h"
#include "UserLaunch_win.h"
#include "ZoDecimal.h"
#include "ZoDllSearch_win.h"
#include "ZoIndyUtils.h"
#include "ZoLog.h"
#include "ZoPlatform.h"
#include "ZoProcesses_win.h"
#include "ZoSafeFiles_win.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"

namespace {

// The hourglass for the whole application while an old uninstaller runs.
class TWaitCursor {
public:
    TWaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~TWaitCursor() { SetCursor(previous_ ? previous_ : LoadCursorW(nullptr, IDC_ARROW)); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    HCURSOR previous_;
};

void WriteRegString(HKEY key, const WideString& name, const WideString& data)
{
    if (RegSetValueExW(key, W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(char16_t))) != ERROR_SUCCESS)
        throw ERegistryException(FormatText(u"Failed to set data for '%s'", {name}));
}

void WriteRegDWord(HKEY key, const WideString& name, uint32_t value)
{
    DWORD v = value;
    if (RegSetValueExW(key, W(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) != ERROR_SUCCESS)
        throw ERegistryException(FormatText(u"Failed to set data for '%s'", {name}));
}

// The program of a quoted command; empty for one not quoted.
WideString QuotedProgram(const WideString& command)
{
    if (command.size() < 2 || command[0] != u'"') return WideString();
    size_t close = command.find(u'"', 1);
    return close == WideString::npos ? WideString() : command.substr(1, close - 1);
}

// A registration whose uninstaller was deleted with its folder: the quoted
// program of the command is an absolute path that names nothing. (Unquoted
// commands are left to the system's own search.)
bool UninstallerIsGone(const WideString& command)
{
    const WideString program = QuotedProgram(command);
    if (program.empty()) return false;
    bool absolute = (program.size() >= 3 && program[1] == u':' && program[2] == u'\\') ||
                    program.rfind(u"\\\\", 0) == 0;
    return absolute && GetFileAttributesW(W(program)) == INVALID_FILE_ATTRIBUTES;
}

// An earlier uninstaller runs with this installer's rights: only one that
// no one else could have put there (an existing folder others may change,
// chosen for an earlier installation, lets them replace the program or the
// folder). Unquoted commands, which this system never writes, go as before.
bool UninstallerTrusted(const WideString& command)
{
    const WideString program = QuotedProgram(command);
    return program.empty() ||
           (OnlyTrustedMayChange(WithoutTrailingBackslash(DirPart(program))) && OnlyTrustedMayChange(program));
}

HKEY RootHandle(TRegRootKey root) { return reinterpret_cast<HKEY>(RootKeyHandle(root)); }

// The quiet uninstall commands registered under the plan's keys, in the
// order they are searched, of uninstallers that are still there.
std::vector<WideString> RegisteredUninstallers(const TInstallPlan& plan)
{
    std::vector<WideString> commands;
    // Key by key, each in both views (the machine's) or the one: every
    // "_is1" before any "_mw".
    for (const WideString& path : plan.PreviousUninstallKeys)
        for (REGSAM view : kRegistryViews) {
            TUniqueHKey key;
            if (RegOpenKeyExW(RootHandle(plan.UninstallRoot), W(path), 0, KEY_READ | view, key.Put()) == ERROR_SUCCESS) {
                WideString command = ReadRegString(key.Get(), u"QuietUninstallString").value_or(WideString());
                const bool present = !command.empty() && !UninstallerIsGone(command);
                if (present && !UninstallerTrusted(command))
                    LogAdd(TLogEntry::Error, FormatText(TextView(TTextId::EarlierUninstallerNotRunFormat), {command}));
                else if (present)
                    commands.push_back(command);
            } else {
                key.Release();  // a failed open leaves no key to close
            }
            if (!plan.BothRegistryViews) break;
        }
    return commands;
}

// A user's installation leaves the product installed for every user alone
// (the user could not remove it): the log says it is there.
void ReportMachineInstallation(const TInstallPlan& plan)
{
    for (REGSAM view : kRegistryViews)
        for (const WideString& path : plan.MachineKeysToReport) {
            TUniqueHKey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(path), 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) {
                key.Release();
                continue;
            }
            WideString location = ReadRegString(key.Get(), u"InstallLocation").value_or(WideString());
            LogAdd(TLogEntry::Note, FormatText(TextView(TTextId::MachineInstallationLeftFormat), {u"HKEY_LOCAL_MACHINE\\" + path, location}));
            return;
        }
}

// "C:\x", "\\server\share" and "\x" are kept as typed; "C:" and "C:x" are
// taken from the drive's root (not from the folder that happens to be current
// on that drive, which a user typing "D:Games" does not mean); "x" is
// resolved against the current folder.
WideString AbsoluteDir(const WideString& dir)
{
    bool driveRooted = dir.size() >= 3 && dir[1] == u':' && dir[2] == u'\\';
    if (driveRooted || (!dir.empty() && dir[0] == u'\\')) return dir;
    if (dir.size() >= 2 && dir[1] == u':') return dir.substr(0, 2) + u"\\" + dir.substr(2);
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetFullPathNameW(W(dir), MAX_PATH, buf, nullptr);
    if (n == 0 || n > MAX_PATH) return dir;
    return WideString(reinterpret_cast<const char16_t*>(buf), n);
}

// Writes a file created anew from its encoded image, decoded as it is written.
// Created new: a link planted under the name is not written through; and
// checked to lie in its held folder, not where a link made of it leads.
uint64_t WriteImageFile(const WideString& path, TFileImage image, uint64_t limit, const FileTimes& times,
                        const TFolderChain& held, bool protect)
{
    TUniqueFile file(CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
    auto writeFailed = [&] {
        return EStreamError(FormatText(u"Cannot write file \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
    };
    if (!held.Holds(file.Get(), path)) {
        DeleteByHandle(file.Get());  // made elsewhere by us: gone again, nothing written
        throw LinkFound(path);
    }
    if (protect) ProtectFile(file.Get());  // before anyone else can open it
    uint64_t size;
    try {
        size = DecodeImage(
            image,
            [&](const uint8_t* data, size_t count) {
                DWORD written = 0;
                if (!WriteFile(file.Get(), data, static_cast<DWORD>(count), &written, nullptr) || written != count)
                    throw writeFailed();
            },
            limit);
    } catch (const EDecompressionError&) {
        DeleteByHandle(file.Get());  // part of a file is worse than none
        throw;
    }
    if (size > 0) SetHandleFileTimes(file.Get(), times);  // times that cannot be set stay
    if (!CloseHandle(file.Release())) throw writeFailed();
    return size;
}

// The shell's own save opens the file by name and would write through a hard
// link planted there (or at any temporary name between its removal and the
// save). So the shell writes the shortcut into memory, and the bytes go to a
// file of our own, created new beside the name, checked to lie in its held
// folder and renamed onto the name by its handle: a link under either name is
// replaced, never written through.
bool SaveShortcut(IShellLinkW* link, const WideString& path, const TFolderChain& held)
{
    TComPtr<IPersistStream> persist;
    TComPtr<IStream> memory;
    if (FAILED(link->QueryInterface(IID_IPersistStream, persist.PutVoid())) || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, memory.Put())) || FAILED(persist->Save(memory.Get(), TRUE)))
        return false;
    STATSTG stat{};
    if (FAILED(memory->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > 16u << 20) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    const LARGE_INTEGER origin{};
    if (FAILED(memory->Seek(origin, STREAM_SEEK_SET, nullptr)) ||
        FAILED(memory->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)) || read != bytes.size())
        return false;
    ReplaceFileWith(path, bytes.data(), bytes.size(), held);  // raises, leaving nothing behind, on failure
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, W(path), nullptr);
    return true;
}

// The folders from the install folder down to path, made where missing and
// checked to be no links, held while path is written. Outside the install
// folder, the folders are only made.
TFolderChain HeldFolders(const WideString& path)
{
    TFolderChain chain(InstallDir, path, true);
    TZoFilefn::ForceFileDir(path);
    return chain;
}

EPackageError DamagedImage(const TSetupFile& entry)
{
    return EPackageError(FormatText(TextView(TTextId::PackageBadData), {entry.SourceMask}));
}

bool IsPng(const TBytes& bytes)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), signature, 8) == 0;
}

// Windows starts the registered uninstaller with an administrator's rights
// (Apps & Features), and it acts on its data files. In a machine's install
// folder that other users may change (an existing one the administrator
// chose), these files get protection of their own, so that no one else can
// put another program or other data in their place.
bool OwnFilesNeedProtection()
{
    return !PerUserInstall && !OnlyTrustedMayChange(WithoutTrailingBackslash(InstallDir));
}

// Replaces the file whole or not at all: a cut "Uninstall.da1" would leave
// the product impossible to uninstall.
void SaveEncoded(TMemoryStream& stream, const WideString& fileName)
{
    TSetupfn::EncodeStreamStored(&stream);
    // The install folder is there already (no folder is made for the data
    // files): held and checked, no link among it.
    TFolderChain folders(InstallDir, fileName, false);
    ReplaceFileWith(fileName, stream.Memory(), stream.Bytes().size(), folders, OwnFilesNeedProtection());
}

// Writes the decoded image to an open file.
uint64_t DecodeInto(HANDLE file, const WideString& path, TFileImage image, uint64_t limit)
{
    return DecodeImage(
        image,
        [&](const uint8_t* data, size_t count) {
            DWORD written = 0;
            if (!WriteFile(file, data, static_cast<DWORD>(count), &written, nullptr) || written != count)
                throw EStreamError(FormatText(u"Cannot write file \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
        },
        limit);
}

bool Exists(const WideString& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

// Below one of the Program Files folders, whose protection a new folder inherits.
bool InProgramFiles(const WideString& dir)
{
    for (const WideString& pf : {ProgramFilesDir, ZoPlatform::GetEnv("ProgramFiles"), ZoPlatform::GetEnv("ProgramFiles(x86)"),
                                 ZoPlatform::GetEnv("ProgramW6432")}) {
        const WideString base = WithTrailingBackslash(Trim(pf));
        if (base.size() > 1 && dir.size() > base.size() && SameNameOnDisk(dir.substr(0, base.size()), base)) return true;
    }
    return false;
}

// Makes the missing folders of dir, outermost first. Elsewhere than in
// Program Files, the outermost new folder gets Program Files' protection
// (administrators and SYSTEM full control, users read and execute, passed
// down), not the parent's: a folder below C:\ would otherwise let every
// signed-in user change the product's files and its uninstall data.
// Returns the folders it made, deepest first.
std::vector<WideString> CreateInstallFolder(const WideString& dir, bool machineScope)
{
    std::vector<WideString> missing;
    for (WideString d = WithoutTrailingBackslash(dir); !d.empty() && !DirExists(d);) {
        missing.push_back(d);
        size_t cut = d.rfind(u'\\');
        if (cut == WideString::npos || cut < 2) break;
        d.resize(cut);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (machineScope && !InProgramFiles(WithTrailingBackslash(dir)))
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)",
                                                             SDDL_REVISION_1, &descriptor, nullptr);
    TUniqueLocal owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    std::vector<WideString> made;
    for (size_t i = missing.size(); i-- > 0;) {
        // Only the outermost takes the descriptor; the rest inherit from it.
        if (!CreateDirectoryW(W(missing[i]), i + 1 == missing.size() && descriptor ? &attributes : nullptr)) break;
        made.insert(made.begin(), missing[i]);
    }
    return made;
}

}  // namespace

// ---- Destination check ----------------------------------------------------------

TDirCheck ValidateInstallDir(const WideString& destText, TInstallView& view, bool machineScope,
                             std::vector<WideString>* created)
{
    auto refuse = [&](TDirCheck outcome, const WideString& message) {
        if (view.Silent()) view.EndSilently(ecBadDestination, message);
        view.ShowInfo(message);
        return outcome;
    };

    InstallDir = Trim(destText);
    if (InstallDir.empty()) return refuse(TDirCheck::Empty, Text(TTextId::InstallFolderEmpty));
    InstallDir = WithTrailingBackslash(AbsoluteDir(InstallDir));

    if (!DirExists(InstallDir)) {
        std::vector<WideString> made = CreateInstallFolder(InstallDir, machineScope);
        if (created) created->insert(created->end(), made.begin(), made.end());
        if (!DirExists(InstallDir))
            return refuse(TDirCheck::CannotCreate, FormatText(TextView(TTextId::InstallFolderNotCreated), {InstallDir}));
    }

    WideString probe = InstallDir + TZoStrfn::NewGuidString();
    bool written;
    {
        TUniqueFile file(CreateFileW(W(probe), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
        written = file.Valid();
    }
    DeleteFileW(W(probe));
    if (!written)
        return refuse(TDirCheck::NotWritable, FormatText(TextView(TTextId::InstallFolderNotWritable), {InstallDir}));
    return TDirCheck::Ok;
}

// ---- The sequence ---------------------------------------------------------------

TInstallSequence::TInstallSequence(TSetupScript& script, TPackageResources resourceModule, TInstallView& view, TBytes iconPng)
    : script_(script), module_(resourceModule), view_(view), iconPng_(std::move(iconPng))
{
    silentVisit = [](const WideString& url) {
        TZoHttp http;
        http.SetConnectTimeout(5000);
        // A server that takes the connection and never answers must not keep
        // the installer from ending.
        http.SetReadTimeout(10000);
        http.Get(url);  // the answer is not looked at; Get reports failure only by its result
    };
}

const TInstallPlan& TInstallSequence::CurrentPlan()
{
    // A step called on its own (the tests do) plans from the script as it is now.
    if (!running_) plan_ = MakeInstallPlan(script_);
    return plan_;
}

bool TInstallSequence::Run()
{
    struct TRunning {
        bool& flag;
        ~TRunning() { flag = false; }
    } running{running_};
    try {
        // Everything is decided before the first change: a script the plan
        // refuses (a DWORD text that is no number) changes nothing.
        plan_ = MakeInstallPlan(script_);
        if (noRun) plan_.LeaveOutStarts();  // the end's launches are LaunchRunEntries' to log
        running_ = true;
        view_.SetProgressMax(plan_.ProgressSteps());
        LogAdd(TLogEntry::Note, Text(TTextId::InstallFolderLine) + InstallDir);
        view_.SetStatus(Text(TTextId::CheckingEarlierVersion));
        view_.PumpMessages();
        // Before anything goes: a damaged package must not cost the version
        // that works. Decoding every image is needed only when one is to go.
        LoadPackage(EarlierVersionToRemove());
        // The programs first: the earlier version's uninstaller would end
        // them without asking, and a cancel must find everything as it was.
        if (!CloseRunningPrograms()) {
            cancelled_ = true;
            return false;
        }
        if (UninstallPreviousVersion() > 0) machineChanged_ = true;
        view_.SetStatus(Text(TTextId::Installing));
        view_.PumpMessages();
        InstallFiles();
        WriteRegistryEntries();
        CreateShortcuts();
        WriteUninstallData();
        RegisterUninstall();
        ClearPendingOperations(WrittenPaths());
        RunWaitEntries();
        LogAdd(TLogEntry::Step, Text(TTextId::InstallFinished));
        view_.ShowFinished();
        VisitGotoUrl();
        return true;
    } catch (const std::exception& e) {
        LeaveWhatWasWritten();
        WideString message = ErrorText(e);
        LogAdd(TLogEntry::Error, message);
        if (view_.Silent()) view_.EndSilently(ecInstallFailed, FormatText(TextView(TTextId::InstallFailedFormat), {message}));
        view_.ShowInfo(message);
        return false;
    }
}

int TInstallSequence::UninstallPreviousVersion()
{
    int run = 0;
    std::vector<WideString> done;  // a registration seen in both views (32-bit Windows) runs once
    ReportMachineInstallation(CurrentPlan());
    for (const WideString& command : RegisteredUninstallers(CurrentPlan())) {
        if (std::find(done.begin(), done.end(), command) != done.end()) continue;
        done.push_back(command);
        TWaitCursor cursor;
        int code = TZoWinfn::RunAndWait(command);
        LogAdd(TLogEntry::Run, FormatText(TextView(TTextId::EarlierUninstallFormat), {command, IntToStr(code)}));
        Sleep(uninstallPauseMs);
        ++run;
    }
    return run;
}

bool TInstallSequence::CloseRunningPrograms()
{
    const TCloseProgramsTexts texts = CloseProgramsTexts();
    bool asked = false;
    auto ask = [this, &asked, &texts](const std::vector<WideString>& programs, bool stillRunning) {
        asked = true;
        TCloseChoice choice = view_.AskToClosePrograms(programs, stillRunning);
        // What the window is waiting for meanwhile.
        if (choice == TCloseChoice::Close || choice == TCloseChoice::Wait) view_.SetDetail(texts.Closing);
        return choice;
    };
    TClosePrompt prompt;
    if (!view_.Silent()) prompt = ask;
    const bool closed = TZoProcessfn::CloseRunningFrom(CurrentPlan().ProgramsToEnd, prompt, programCloseWaitMs,
                                                       [this] { view_.PumpMessages(); }, texts);
    if (asked) view_.SetDetail(WideString());
    return closed;
}

void TInstallSequence::LoadPackage(bool checkImages)
{
    const TInstallPlan& plan = CurrentPlan();
    try {
        block_ = module_.Raw(WideOf(FileDataResource));
        index_.LoadIndexFromBlock(block_.data(), block_.size());
    } catch (const std::exception& e) {
        throw EPackageError(FormatText(TextView(TTextId::PackageBadIndex), {ErrorText(e)}));
    }
    images_.assign(plan.Files.size(), TFileImage());
    written_.assign(plan.Files.size(), 0);
    for (size_t i = 0; i < plan.Files.size(); ++i) {
        const TPlannedFile& file = plan.Files[i];
        if (file.ResID.empty()) continue;
        const TFileData* record = index_.FindByGUID(file.ResID);
        if (!record) throw EPackageError(FormatText(TextView(TTextId::PackageMissingData), {file.Entry->SourceMask}));
        try {
            images_[i] = TFileDataList::ImageOf(*record, block_.data(), block_.size());
            // zlib's own check value proves the image whole; the output goes nowhere.
            if (checkImages) DecodeImage(images_[i], nullptr, static_cast<uint64_t>(file.Entry->FileBytes));
        } catch (const std::exception&) {
            throw DamagedImage(*file.Entry);
        }
    }
    packageLoaded_ = true;
}

bool TInstallSequence::EarlierVersionToRemove() { return !RegisteredUninstallers(CurrentPlan()).empty(); }

void TInstallSequence::InstallFiles()
{
    if (!packageLoaded_) LoadPackage(false);  // a step run on its own
    const TInstallPlan& plan = CurrentPlan();
    for (size_t i = 0; i < plan.Files.size(); ++i) {
        const TPlannedFile& file = plan.Files[i];
        view_.StepProgress();
        view_.PumpMessages();
        view_.SetDetail(file.Path);
        WriteInstalledFile(*file.Entry, images_[i], file.Path);
    }
}

void TInstallSequence::WriteFileFromImage(const TSetupFile& entry, TFileImage content, const WideString& path,
                                          const TFolderChain& held)
{
    // An image never decodes past the size its entry gives.
    const uint64_t limit = static_cast<uint64_t>(std::max(entry.FileBytes, 0));
    TDateTime now = NowLocal();
    FileTimes times;
    times.CreationTime = now;
    times.LastWriteTime = entry.LastWriteDate;
    times.LastAccessTime = now;
    const bool protect = SameNameOnDisk(path, InstallDir + u"Uninstall.exe") && OwnFilesNeedProtection();
    if (Exists(path)) {
        // The old file stays whole until the new one is: a damaged image, a
        // full disk or a power cut cannot leave a cut file in its place.
        ReplaceFileWith(path, [&](HANDLE file) { DecodeInto(file, path, content, limit); },
                        content.empty() ? nullptr : &times, held, protect);
        return;
    }
    WriteImageFile(path, content, limit, times, held, protect);
}

void TInstallSequence::WriteInstalledFile(const TSetupFile& entry, TFileImage content, const WideString& path)
{
    for (int attempt = 1;; ++attempt) {
        WideString reason;
        try {
            TFolderChain folders = HeldFolders(path);
            WriteFileFromImage(entry, content, path, folders);
            machineChanged_ = true;
            if (running_ || packageLoaded_) {
                const std::vector<TPlannedFile>& files = CurrentPlan().Files;
                for (size_t i = 0; i < files.size() && i < written_.size(); ++i)
                    if (files[i].Entry == &entry) written_[i] = 1;
            }
            LogAdd(TLogEntry::File, path);
            return;
        } catch (const EDecompressionError&) {
            throw DamagedImage(entry);  // the package, not the target: no retry helps
        } catch (const std::exception& e) {
            reason = ErrorText(e);
        }
        // Whoever holds the file, where the system can tell.
        std::vector<WideString> holders = TZoProcessfn::HoldersOf(path);
        if (!holders.empty()) {
            WideString names;
            const TCloseProgramsTexts texts = CloseProgramsTexts();
            for (const WideString& name : holders) names += (names.empty() ? u"" : texts.ListSeparator) + name;
            reason += u"\r\n" + FormatText(texts.Holders, {names});
        }
        LogAdd(TLogEntry::Error, FormatText(TextView(TTextId::CopyFailedAttemptFormat), {path, reason, IntToStr(attempt)}));

        if (view_.Silent()) {
            // A file may be held a moment longer by a program just ended.
            if (attempt < silentWriteAttempts) {
                Sleep(silentRetryPauseMs);
                continue;
            }
            LeaveWhatWasWritten();
            view_.EndSilently(ecFileNotWritten, FormatText(TextView(TTextId::CopyFailedFormat), {path, reason}));
        }
        switch (view_.ShowCopyFileFailure(path, reason)) {
        case mrRetry:
            continue;
        case mrIgnore:
            LogAdd(TLogEntry::Note, Text(TTextId::IgnoredLine) + path);
            return;
        default:
            // Quitting is no success once the machine has changed.
            LeaveWhatWasWritten();
            view_.EndProcess(machineChanged_ ? ecIncomplete : ecSuccess);
        }
    }
}

void TInstallSequence::WriteRegistryEntries()
{
    const TInstallPlan& plan = CurrentPlan();
    view_.SetDetail(Text(TTextId::WritingRegistry));
    for (const TPlannedValue& value : plan.Values) {
        view_.StepProgress();
        view_.PumpMessages();
        TUniqueHKey key;
        if (RegCreateKeyExW(reinterpret_cast<HKEY>(RootKeyHandle(value.Root)), W(value.SubKey), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
            key.Release();
            LogAdd(TLogEntry::Error, FormatText(TextView(TTextId::RegistryKeySkipped), {RootKeyName(value.Root), value.SubKey}));
            continue;  // no access, for example HKEY_LOCAL_MACHINE without rights
        }
        switch (value.Type) {
        case TRegValueType::rvtString:
            WriteRegString(key.Get(), value.Name, value.Text);
            break;
        case TRegValueType::rvtDWord:
            WriteRegDWord(key.Get(), value.Name, value.Number);
            break;
        default:
            continue;
        }
        ++valuesWritten_;
        LogAdd(TLogEntry::Registry, FormatText(u"%s\\%s\\%s = %s", {RootKeyName(value.Root), value.SubKey, value.Name,
                                                                    value.Type == TRegValueType::rvtDWord
                                                                        ? IntToStr(value.Number)
                                                                        : value.Text}));
    }
}

void TInstallSequence::CreateShortcuts()
{
    const TInstallPlan& plan = CurrentPlan();
    view_.SetDetail(Text(TTextId::CreatingShortcuts));
    for (const TPlannedShortcut& shortcut : plan.Shortcuts) {
        view_.StepProgress();
        view_.PumpMessages();

        TComPtr<IShellLinkW> link;
        HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      IID_IShellLinkW, link.PutVoid());
        if (FAILED(hr)) throw EOleSysError(SysErrorMessage(static_cast<DWORD>(hr)));

        ++shortcutsWritten_;
        link->SetPath(W(shortcut.Target));
        link->SetWorkingDirectory(W(shortcut.WorkDir));
        if (!shortcut.IconFile.empty()) link->SetIconLocation(W(shortcut.IconFile), 0);
        // A missing folder is made, with its parents: a start-menu group is
        // usually new. The uninstaller removes the folders it leaves empty.
        // Below the install folder the folders are held and checked, and the
        // shell's save (which opens by name) never meets a link in its place.
        TFolderChain folders;
        try {
            folders = HeldFolders(shortcut.LinkPath);
        } catch (const ELinkFound&) {
            LogAdd(TLogEntry::Error, Text(TTextId::LinkKeptLine) + shortcut.LinkPath);
            continue;
        } catch (const std::exception&) {
            // the save below fails and says so in the log
        }
        if (IsReparsePoint(shortcut.LinkPath)) {
            LogAdd(TLogEntry::Error, Text(TTextId::LinkKeptLine) + shortcut.LinkPath);
            continue;
        }
        bool saved = false;
        try {
            saved = SaveShortcut(link.Get(), shortcut.LinkPath, folders);
        } catch (const ELinkFound&) {
            LogAdd(TLogEntry::Error, Text(TTextId::LinkKeptLine) + shortcut.LinkPath);
            continue;
        } catch (const std::exception&) {
        }
        if (saved)
            LogAdd(TLogEntry::Shortcut, shortcut.LinkPath + u" -> " + shortcut.Target);
        else
            LogAdd(TLogEntry::Error, Text(TTextId::ShortcutNotCreated) + shortcut.LinkPath);
    }
    view_.ProgressToMax();
}

void TInstallSequence::WriteUninstallData()
{
    if (!IsPng(iconPng_)) AssertFailure(u"Assertion failure", "Installer/MainFrm", 952);
    WriteDataFiles(script_, CurrentPlan());
}

void TInstallSequence::WriteDataFiles(const TSetupScript& script, const TInstallPlan& plan)
{
    TMemoryStream stream;
    if (script.BaseInfo->InstallScope == TInstallScope::isEither) {
        // The uninstaller needs the scope that was chosen, not the choice.
        std::unique_ptr<TSetupScript> installed = script.CloneAs<TSetupScript>();
        installed->BaseInfo->InstallScope = PerUserInstall ? TInstallScope::isUser : TInstallScope::isMachine;
        installed->SaveToStream(stream);
    } else {
        script.SaveToStream(stream);
    }
    SaveEncoded(stream, plan.ScriptDataFile);
    LogAdd(TLogEntry::File, plan.ScriptDataFile);
    stream.Clear();
    stream.WriteBuffer(iconPng_.data(), iconPng_.size());
    SaveEncoded(stream, plan.IconDataFile);
    LogAdd(TLogEntry::File, plan.IconDataFile);
}

std::vector<WideString> TInstallSequence::WrittenPaths()
{
    const TInstallPlan& plan = CurrentPlan();
    std::vector<WideString> paths{InstallDir, plan.ScriptDataFile, plan.IconDataFile};
    for (size_t i = 0; i < plan.Files.size() && i < written_.size(); ++i)
        if (written_[i]) paths.push_back(plan.Files[i].Path);
    return paths;
}

void TInstallSequence::LeaveWhatWasWritten()
{
    if (std::find(written_.begin(), written_.end(), 1) == written_.end()) return;
    try {
        const TInstallPlan& plan = CurrentPlan();
        // The registration names InstallDir's Uninstall.exe: it must be there.
        for (size_t i = 0; i < plan.Files.size() && i < written_.size(); ++i) {
            const TPlannedFile& file = plan.Files[i];
            if (written_[i] || !TextEquals(file.Path, InstallDir + u"Uninstall.exe")) continue;
            try {
                TFolderChain folders = HeldFolders(file.Path);
                WriteFileFromImage(*file.Entry, images_[i], file.Path, folders);
                written_[i] = 1;
            } catch (const std::exception&) {
                // an earlier version's may still be there
            }
        }
        // The script as far as it was carried out.
        TSetupScript part;
        part.Assign(script_);
        for (int i = part.FileList->Count() - 1; i >= 0; --i)
            if (static_cast<size_t>(i) >= written_.size() || !written_[static_cast<size_t>(i)]) part.FileList->Delete(i);
        while (part.RegList->Count() > valuesWritten_) part.RegList->Delete(part.RegList->Count() - 1);
        while (part.ShortCutList->Count() > shortcutsWritten_) part.ShortCutList->Delete(part.ShortCutList->Count() - 1);
        if (IsPng(iconPng_)) WriteDataFiles(part, plan);
        RegisterUninstall();
        ClearPendingOperations(WrittenPaths());
    } catch (const std::exception&) {
        // the stop's own report follows; this is what can still be saved
    }
}

void TInstallSequence::RegisterUninstall()
{
    const TInstallPlan& plan = CurrentPlan();
    TUniqueHKey key;
    const WideString name = RootKeyName(plan.UninstallRoot) + u"\\" + plan.UninstallKey;
    if (RegCreateKeyExW(RootHandle(plan.UninstallRoot), W(plan.UninstallKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS) {
        key.Release();
        LogAdd(TLogEntry::Error, Text(TTextId::UninstallInfoNotRegistered) + name);
        return;  // no rights: no registration, and no message
    }
    LogAdd(TLogEntry::Registry, name);
    // Wide values: a title or folder outside the ANSI code page stays intact.
    for (const TUninstallValue& value : plan.UninstallValues) {
        if (value.IsDWord)
            WriteRegDWord(key.Get(), value.Name, value.Number);
        else
            WriteRegString(key.Get(), value.Name, value.Text);
    }
}

void TInstallSequence::RunWaitEntries()
{
    for (const TPlannedRun& run : CurrentPlan().WaitRuns) {
        view_.SetDetail(FormatText(TextView(TTextId::RunningProgramFormat), {run.FileName}));
        view_.PumpMessages();
        SetCurrentDirectoryW(W(run.WorkDir));  // a failure is ignored
        int code = TZoWinfn::RunAndWait(run.CommandLine());
        LogAdd(TLogEntry::Run, FormatText(TextView(TTextId::ProgramExitFormat), {run.CommandLine(), IntToStr(code)}));
    }
}

void TInstallSequence::VisitGotoUrl()
{
    const TInstallPlan& plan = CurrentPlan();
    if (plan.GotoUrl.empty()) return;
    switch (plan.GotoUrlMode) {
    case TGotoUrlMode::gumSilent:
        view_.SetDetail(Text(TTextId::VerifyingInstallation));
        view_.PumpMessages();
        if (silentVisit) {
            try {
                silentVisit(plan.GotoUrl);
            } catch (const std::exception&) {
                // the visit is a courtesy; nothing depends on it
            }
        }
        break;
    case TGotoUrlMode::gumByBrowser:
        OpenUrlAsUser(plan.GotoUrl);
        break;
    default:
        break;
    }
}

// ---- Outside the sequence ----------------------------------------------------------

TInstallPlan MakeInstallPlan(const TSetupScript& script)
{
    SYSTEMTIME today;
    GetLocalTime(&today);
    AnsiString date = ZoDecimal::Padded(today.wYear, 4) + ZoDecimal::Padded(today.wMonth, 2) + ZoDecimal::Padded(today.wDay, 2);
    return TInstallPlan::FromScript(script, ArgAt(0), WideOf(date));
}

void LaunchRunEntries(const TSetupScript& script, bool noRun)
{
    // The product runs as the user, not with the installer's rights: the
    // waited entries (the publisher's install steps) are the elevated ones.
    TInstallPlan plan = MakeInstallPlan(script);
    if (noRun)
        for (const WideString& left : plan.LeaveOutStarts()) LogAdd(TLogEntry::Note, Text(TTextId::NoRunLine) + left);
    for (const TPlannedRun& run : plan.LaunchRuns) {
        const TUserLaunch how = StartAsUser(run.FileName, run.Params, run.WorkDir);
        LogAdd(how == TUserLaunch::Shell || how == TUserLaunch::Direct ? TLogEntry::Run : TLogEntry::Error,
               FormatText(TextView(TTextId::StartedProgramFormat), {run.FileName, run.Params, UserLaunchText(how)}));
    }
}

WideString AppendChannelCode(const WideString& url) { return AppendChannelCode(url, ArgAt(0)); }
