#include "InstallSteps_win.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FileDataClasses.h"
#include "PendingRenames.h"
#include "ReplaceFile_win.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "ZoDllSearch_win.h"
#include "ZoIndyUtils.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinUtils_win.h"

namespace {

const wchar_t* W(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

constexpr size_t inChunk = 64 * 1024, outChunk = 256 * 1024;

// The scrambling key 0, 1, ..., 254, 0, 1, ... from any phase for a whole
// input chunk, so that the unscrambling runs a word at a time.
const std::vector<uint8_t>& KeyPattern()
{
    static const std::vector<uint8_t> pattern = [] {
        std::vector<uint8_t> p(inChunk + 255);
        for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i % 255);
        return p;
    }();
    return pattern;
}

WideString SysErrorMessage(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    WideString message;
    if (n && text) message.assign(reinterpret_cast<const char16_t*>(text), n);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' || message.back() == u' '))
        message.pop_back();
    if (message.empty()) message = FormatText(u"System error.  Code: %s.", {IntToStr(code)});
    return message;
}

WideString MessageOf(const std::exception& e)
{
    if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
    return FromUtf8(e.what());
}

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

// A string value of an open key; empty when missing or not a string.
WideString ReadRegString(HKEY key, const wchar_t* name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return WideString();
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) return WideString();
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) != ERROR_SUCCESS)
        return WideString();
    buf.back() = L'\0';
    return WideString(reinterpret_cast<const char16_t*>(buf.data()));
}

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

// A registration whose uninstaller was deleted with its folder: the quoted
// program of the command is an absolute path that names nothing. (Unquoted
// commands are left to the system's own search.)
bool UninstallerIsGone(const WideString& command)
{
    if (command.size() < 2 || command[0] != u'"') return false;
    size_t close = command.find(u'"', 1);
    if (close == WideString::npos) return false;
    WideString program = command.substr(1, close - 1);
    bool absolute = (program.size() >= 3 && program[1] == u':' && program[2] == u'\\') ||
                    program.rfind(u"\\\\", 0) == 0;
    return absolute && GetFileAttributesW(W(program)) == INVALID_FILE_ATTRIBUTES;
}

// "C:\x", "\\server\share" and "\x" are kept as typed; "x" and "C:x" are
// resolved against the current folder.
WideString AbsoluteDir(const WideString& dir)
{
    bool driveRooted = dir.size() >= 3 && dir[1] == u':' && dir[2] == u'\\';
    if (driveRooted || (!dir.empty() && dir[0] == u'\\')) return dir;
    wchar_t buf[MAX_PATH + 1] = {};
    DWORD n = GetFullPathNameW(W(dir), MAX_PATH, buf, nullptr);
    if (n == 0 || n > MAX_PATH) return dir;
    return WideString(reinterpret_cast<const char16_t*>(buf), n);
}

// Writes a file created anew from its encoded image, decoded as it is written.
uint64_t WriteImageFile(const WideString& path, TFileImage image, uint64_t limit)
{
    TUniqueFile file(CreateFileW(W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
    auto writeFailed = [&] {
        return EStreamError(FormatText(u"Cannot write file \"%s\". %s", {path, SysErrorMessage(GetLastError())}));
    };
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
        file.Reset();
        DeleteFileW(W(path));  // part of a file is worse than none
        throw;
    }
    if (!CloseHandle(file.Release())) throw writeFailed();
    return size;
}

EPackageError DamagedImage(const TSetupFile& entry)
{
    return EPackageError(FormatText(u"安装包已损坏，文件 %s 的数据无法解压。", {entry.SourceMask}));
}

bool IsPng(const TBytes& bytes)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), signature, 8) == 0;
}

// Replaces the file whole or not at all: a cut "Uninstall.da1" would leave
// the product impossible to uninstall.
void SaveEncoded(TMemoryStream& stream, const WideString& fileName)
{
    TSetupfn::EncodeStream(&stream);
    ReplaceFileWith(fileName, stream.Memory(), stream.Bytes().size());
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

}  // namespace

// ---- Destination check ----------------------------------------------------------

TDirCheck ValidateInstallDir(const WideString& destText, TInstallView& view)
{
    auto refuse = [&](TDirCheck outcome, const WideString& message) {
        if (view.Silent()) {
            TZoSysfn::WriteConsoleLine(message);
            view.EndProcess(ecBadDestination);
        }
        view.ShowInfo(message);
        return outcome;
    };

    InstallDir = Trim(destText);
    if (InstallDir.empty()) return refuse(TDirCheck::Empty, u"安装目录不能为空，请重新输入。");
    InstallDir = WithTrailingBackslash(AbsoluteDir(InstallDir));

    if (!DirExists(InstallDir)) {
        try {
            ForceDirs(InstallDir);
        } catch (const Exception&) {
            // the check below reports it
        }
        if (!DirExists(InstallDir))
            return refuse(TDirCheck::CannotCreate, FormatText(u"创建安装目录失败：%s，请重新输入。", {InstallDir}));
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
        return refuse(TDirCheck::NotWritable, FormatText(u"尝试在安装目录写入文件失败：%s，请重新输入。", {InstallDir}));
    return TDirCheck::Ok;
}

// ---- Image decoding ---------------------------------------------------------------


uint64_t DecodeImage(TFileImage image, const std::function<void(const uint8_t*, size_t)>& sink, uint64_t limit)
{
    if (image.empty()) return 0;  // the encoded form of nothing is nothing
    std::vector<uint8_t> in(inChunk), out(outChunk);

    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw EDecompressionError(u"Error");
    struct TInflateEnd {
        z_stream* z;
        ~TInflateEnd() { inflateEnd(z); }
    } end{&z};

    uint64_t total = 0;
    size_t offset = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            if (offset == image.size()) throw EDecompressionError(u"Error");  // truncated
            size_t n = std::min(inChunk, image.size() - offset);
            // Unscramble: byte i of the image was XORed with i mod 255.
            const uint8_t* key = KeyPattern().data() + offset % 255;
            const uint8_t* src = image.data() + offset;
            size_t i = 0;
            for (; i + 8 <= n; i += 8) {
                uint64_t a, k;
                std::memcpy(&a, src + i, 8);
                std::memcpy(&k, key + i, 8);
                a ^= k;
                std::memcpy(in.data() + i, &a, 8);
            }
            for (; i < n; ++i) in[i] = src[i] ^ key[i];
            offset += n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw EDecompressionError(u"Error");
        size_t produced = out.size() - z.avail_out;
        if (rc == Z_BUF_ERROR && produced == 0 && z.avail_in != 0) throw EDecompressionError(u"Error");
        total += produced;
        if (total > limit) throw EDecompressionError(u"Error");  // longer than its entry says: damaged
        if (produced && sink) sink(out.data(), produced);
    }
    return total;
}

// ---- The sequence ---------------------------------------------------------------

TInstallSequence::TInstallSequence(TSetupScript& script, HMODULE resourceModule, TInstallView& view, TBytes iconPng)
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

void TInstallSequence::Fail(int exitCode, const WideString& line)
{
    TZoSysfn::WriteConsoleLine(line);
    view_.EndProcess(exitCode);
    std::_Exit(exitCode);  // not reached: EndProcess does not return
}

bool TInstallSequence::Run()
{
    try {
        view_.SetProgressMax(script_.FileList->Count() + script_.RegList->Count() + script_.ShortCutList->Count());
        view_.SetStatus(u"正在检查旧版本");
        view_.PumpMessages();
        // Before anything goes: a damaged package must not cost the version
        // that works. Decoding every image is needed only when one is to go.
        LoadPackage(EarlierVersionToRemove());
        if (UninstallPreviousVersion() > 0) machineChanged_ = true;
        CloseRunningPrograms();
        view_.SetStatus(u"正在安装");
        view_.PumpMessages();
        InstallFiles();
        WriteRegistryEntries();
        CreateShortcuts();
        WriteUninstallData();
        RegisterUninstall();
        ClearPendingOperations(WrittenPaths());
        RunWaitEntries();
        view_.ShowFinished();
        VisitGotoUrl();
        return true;
    } catch (const std::exception& e) {
        LeaveWhatWasWritten();
        WideString message = MessageOf(e);
        if (view_.Silent()) Fail(ecInstallFailed, FormatText(u"安装失败：%s", {message}));
        view_.ShowInfo(message);
        return false;
    }
}

int TInstallSequence::UninstallPreviousVersion()
{
    int run = 0;
    std::vector<WideString> done;  // a registration seen in both views (32-bit Windows) runs once
    for (REGSAM view : kRegistryViews)
        for (const char16_t* suffix : {u"_is1", u"_mw"}) {
            TUniqueHKey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(UninstallKeyPath(script_.BaseInfo->GUID, suffix)), 0,
                              KEY_ALL_ACCESS | view, key.Put()) != ERROR_SUCCESS) {
                key.Release();  // a failed open leaves no key to close
                continue;
            }
            WideString command = ReadRegString(key.Get(), L"QuietUninstallString");
            if (command.empty() || UninstallerIsGone(command)) continue;
            if (std::find(done.begin(), done.end(), command) != done.end()) continue;
            done.push_back(command);
            TWaitCursor cursor;
            TZoWinfn::RunAndWait(command);
            Sleep(uninstallPauseMs);
            ++run;
        }
    return run;
}

void TInstallSequence::CloseRunningPrograms()
{
    WideString own = NamePart(ArgAt(0));
    for (const TSetupFile* file : *script_.FileList) {
        WideString name = NamePart(file->SourceMask);
        size_t dot = name.rfind(u'.');
        if (dot == WideString::npos || !TextEquals(name.substr(dot), u".exe") || TextEquals(name, own)) continue;
        // A name with blanks must be quoted, or taskkill sees several names.
        WideString target = name.find(u' ') == WideString::npos ? name : u"\"" + name + u"\"";
        // By its full path: a bare name is looked for beside the installer first.
        TZoWinfn::RunHidden(u"\"" + SystemFilePath(u"taskkill.exe") + u"\" /F /IM " + target);
        Sleep(killPauseMs);
    }
}

void TInstallSequence::LoadPackage(bool checkImages)
{
    try {
        block_ = TFileDataList::ModuleBlock(module_);
        index_.LoadIndexFromBlock(block_.data(), block_.size());
    } catch (const std::exception& e) {
        throw EPackageError(FormatText(u"安装包已损坏，无法读取文件索引：%s", {MessageOf(e)}));
    }
    const TSetupFileList& files = *script_.FileList;
    images_.assign(static_cast<size_t>(files.Count()), TFileImage());
    written_.assign(static_cast<size_t>(files.Count()), false);
    for (int i = 0; i < files.Count(); ++i) {
        const TSetupFile& entry = *files.Items(i);
        if (entry.FileBytes <= 0) continue;
        const TFileData* record = index_.FindByGUID(entry.ResID);
        if (!record) throw EPackageError(FormatText(u"安装包已损坏，缺少文件 %s 的数据。", {entry.SourceMask}));
        try {
            images_[i] = TFileDataList::ImageOf(*record, block_.data(), block_.size());
            // zlib's own check value proves the image whole; the output goes nowhere.
            if (checkImages) DecodeImage(images_[i], nullptr, static_cast<uint64_t>(entry.FileBytes));
        } catch (const std::exception&) {
            throw DamagedImage(entry);
        }
    }
    packageLoaded_ = true;
}

bool TInstallSequence::EarlierVersionToRemove() const
{
    for (REGSAM view : kRegistryViews)
        for (const char16_t* suffix : {u"_is1", u"_mw"}) {
            TUniqueHKey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(UninstallKeyPath(script_.BaseInfo->GUID, suffix)), 0,
                              KEY_READ | view, key.Put()) != ERROR_SUCCESS) {
                key.Release();
                continue;
            }
            WideString command = ReadRegString(key.Get(), L"QuietUninstallString");
            if (!command.empty() && !UninstallerIsGone(command)) return true;
        }
    return false;
}

void TInstallSequence::InstallFiles()
{
    if (!packageLoaded_) LoadPackage(false);  // a step run on its own
    const TSetupFileList& files = *script_.FileList;
    for (int i = 0; i < files.Count(); ++i) {
        const TSetupFile& entry = *files.Items(i);
        view_.StepProgress();
        view_.PumpMessages();
        WideString path = WithTrailingBackslash(TSetupfn::ExpandConstants(entry.DestDir)) + entry.SourceMask;
        view_.SetDetail(path);
        WriteInstalledFile(entry, images_[static_cast<size_t>(i)], path);
    }
}

void TInstallSequence::WriteFileFromImage(const TSetupFile& entry, TFileImage content, const WideString& path)
{
    // An image never decodes past the size its entry gives.
    const uint64_t limit = static_cast<uint64_t>(std::max(entry.FileBytes, 0));
    TDateTime now = NowLocal();
    FileTimes times;
    times.CreationTime = now;
    times.LastWriteTime = entry.LastWriteDate;
    times.LastAccessTime = now;
    if (Exists(path)) {
        // The old file stays whole until the new one is: a damaged image, a
        // full disk or a power cut cannot leave a cut file in its place.
        ReplaceFileWith(path, [&](HANDLE file) { DecodeInto(file, path, content, limit); },
                        content.empty() ? nullptr : &times);
        return;
    }
    if (WriteImageFile(path, content, limit) > 0) TZoFilefn::SetFileTimes(path, times);  // times that cannot be set stay
}

void TInstallSequence::WriteInstalledFile(const TSetupFile& entry, TFileImage content, const WideString& path)
{
    for (int attempt = 1;; ++attempt) {
        WideString reason;
        try {
            TZoFilefn::ForceFileDir(path);
            WriteFileFromImage(entry, content, path);
            machineChanged_ = true;
            const TSetupFileList& files = *script_.FileList;
            for (int i = 0; i < files.Count() && static_cast<size_t>(i) < written_.size(); ++i)
                if (files.Items(i) == &entry) written_[static_cast<size_t>(i)] = true;
            return;
        } catch (const EDecompressionError&) {
            throw DamagedImage(entry);  // the package, not the target: no retry helps
        } catch (const std::exception& e) {
            reason = MessageOf(e);
        }

        if (view_.Silent()) {
            // A file may be held a moment longer by a program just ended.
            if (attempt < silentWriteAttempts) {
                Sleep(silentRetryPauseMs);
                continue;
            }
            LeaveWhatWasWritten();
            Fail(ecFileNotWritten, FormatText(u"复制文件失败：%s（%s）", {path, reason}));
        }
        switch (view_.ShowCopyFileFailure(path, reason)) {
        case mrRetry:
            continue;
        case mrIgnore:
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
    view_.SetDetail(u"正在修改注册表......");
    for (const TSetupReg* entry : *script_.RegList) {
        view_.StepProgress();
        view_.PumpMessages();

        WideString subKey = TSetupfn::ExpandConstants(entry->SubKey);
        WideString name = TSetupfn::ExpandConstants(entry->ValueName);
        WideString data = TSetupfn::ExpandConstants(entry->ValueData);
        size_t start = subKey.find_first_not_of(u'\\');
        subKey = start == WideString::npos ? WideString() : subKey.substr(start);

        TUniqueHKey key;
        if (RegCreateKeyExW(reinterpret_cast<HKEY>(RootKeyHandle(entry->RootKey)), W(subKey), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
            key.Release();
            continue;  // no access, for example HKEY_LOCAL_MACHINE without rights
        }
        switch (entry->ValueType) {
        case TRegValueType::rvtString:
            WriteRegString(key.Get(), name, data);
            break;
        case TRegValueType::rvtDWord: {
            auto value = TryStrToInt(data);
            if (!value) throw EConvertError(FormatText(u"'%s' is not a valid integer value", {data}));
            WriteRegDWord(key.Get(), name, static_cast<uint32_t>(*value));
            break;
        }
        default:
            break;
        }
        ++valuesWritten_;
    }
}

void TInstallSequence::CreateShortcuts()
{
    view_.SetDetail(u"正在创建快捷方式......");
    for (const TSetupShortCut* entry : *script_.ShortCutList) {
        view_.StepProgress();
        view_.PumpMessages();

        WideString target = TSetupfn::ExpandConstants(entry->DstFile);
        WideString icon = TSetupfn::ExpandConstants(entry->IconFile);
        WideString name = TSetupfn::ExpandConstants(entry->Name);
        WideString workDir = TSetupfn::ExpandConstants(entry->WorkDir);
        WideString saveDir = TSetupfn::ExpandConstants(entry->SaveDir);
        WideString linkPath = WithTrailingBackslash(saveDir) + name + u".lnk";

        TComPtr<IShellLinkW> link;
        HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      IID_IShellLinkW, link.PutVoid());
        if (FAILED(hr)) throw EOleSysError(SysErrorMessage(static_cast<DWORD>(hr)));
        TComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
        if (!file) throw EOleSysError(u"Interface not supported");

        ++shortcutsWritten_;
        link->SetPath(W(target));
        link->SetWorkingDirectory(W(workDir));
        if (!icon.empty()) link->SetIconLocation(W(icon), 0);
        // A missing folder is made, with its parents: a start-menu group is
        // usually new. The uninstaller removes the folders it leaves empty.
        try {
            TZoFilefn::ForceFileDir(linkPath);
        } catch (const std::exception&) {
            // the save fails then, unreported as before
        }
        file->Save(W(linkPath), TRUE);
    }
    view_.ProgressToMax();
}

void TInstallSequence::WriteUninstallData()
{
    if (!IsPng(iconPng_)) AssertFailure(u"Assertion failure", "Installer/MainFrm", 952);
    WriteDataFiles(script_);
}

void TInstallSequence::WriteDataFiles(const TSetupScript& script)
{
    TMemoryStream stream;
    script.SaveToStream(stream);
    SaveEncoded(stream, InstallDir + u"Uninstall.da1");
    stream.Clear();
    stream.WriteBuffer(iconPng_.data(), iconPng_.size());
    SaveEncoded(stream, InstallDir + u"Uninstall.da2");
}

std::vector<WideString> TInstallSequence::WrittenPaths() const
{
    std::vector<WideString> paths{InstallDir, InstallDir + u"Uninstall.da1", InstallDir + u"Uninstall.da2"};
    const TSetupFileList& files = *script_.FileList;
    for (int i = 0; i < files.Count(); ++i) {
        if (static_cast<size_t>(i) >= written_.size() || !written_[static_cast<size_t>(i)]) continue;
        const TSetupFile& entry = *files.Items(i);
        paths.push_back(WithTrailingBackslash(TSetupfn::ExpandConstants(entry.DestDir)) + entry.SourceMask);
    }
    return paths;
}

void TInstallSequence::LeaveWhatWasWritten()
{
    if (std::find(written_.begin(), written_.end(), true) == written_.end()) return;
    try {
        // The registration names InstallDir's Uninstall.exe: it must be there.
        const TSetupFileList& files = *script_.FileList;
        for (int i = 0; i < files.Count(); ++i) {
            const TSetupFile& entry = *files.Items(i);
            WideString path = WithTrailingBackslash(TSetupfn::ExpandConstants(entry.DestDir)) + entry.SourceMask;
            if (written_[static_cast<size_t>(i)] || !TextEquals(path, InstallDir + u"Uninstall.exe")) continue;
            try {
                TZoFilefn::ForceFileDir(path);
                WriteFileFromImage(entry, images_[static_cast<size_t>(i)], path);
                written_[static_cast<size_t>(i)] = true;
            } catch (const std::exception&) {
                // an earlier version's may still be there
            }
        }
        // The script as far as it was carried out.
        TSetupScript part;
        part.Assign(script_);
        for (int i = files.Count() - 1; i >= 0; --i)
            if (!written_[static_cast<size_t>(i)]) part.FileList->Delete(i);
        while (part.RegList->Count() > valuesWritten_) part.RegList->Delete(part.RegList->Count() - 1);
        while (part.ShortCutList->Count() > shortcutsWritten_) part.ShortCutList->Delete(part.ShortCutList->Count() - 1);
        if (IsPng(iconPng_)) WriteDataFiles(part);
        RegisterUninstall();
        ClearPendingOperations(WrittenPaths());
    } catch (const std::exception&) {
        // the stop's own report follows; this is what can still be saved
    }
}

void TInstallSequence::RegisterUninstall()
{
    const TSetupBaseInfo& info = *script_.BaseInfo;
    TVersionNumbers version = info.DecodeVersion();
    uint64_t size = 0;
    for (const TSetupFile* file : *script_.FileList) size += static_cast<uint64_t>(std::max(file->FileBytes, 0));

    TUniqueHKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(UninstallKeyPath(info.GUID, u"_mw")), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        key.Release();
        return;  // no rights: no registration, and no message
    }
    SYSTEMTIME today;
    GetLocalTime(&today);
    char date[16];
    std::snprintf(date, sizeof date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    WideString dir = WithoutTrailingBackslash(InstallDir);

    // Wide values: a title or folder outside the ANSI code page stays intact.
    HKEY k = key.Get();
    WriteRegString(k, u"DisplayName", FormatText(u"%s 版本 %s", {info.AppTitle, info.Version}));
    WriteRegString(k, u"DisplayVersion", info.Version);
    WriteRegDWord(k, u"EstimatedSize", static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu)));
    WriteRegString(k, u"HelpLink", info.CompanyUrl);
    WriteRegString(k, u"InstallDate", WideOf(date));
    WriteRegString(k, u"InstallLocation", InstallDir);
    WriteRegDWord(k, u"MajorVersion", static_cast<uint32_t>(version.Major));
    WriteRegDWord(k, u"MinorVersion", static_cast<uint32_t>(version.Minor));
    WriteRegDWord(k, u"NoModify", 1);
    WriteRegDWord(k, u"NoRepair", 1);
    WriteRegString(k, u"Publisher", info.CompanyName);
    WriteRegString(k, u"QuietUninstallString", FormatText(u"\"%s\\Uninstall.exe\" /SILENT", {dir}));
    WriteRegString(k, u"UninstallString", FormatText(u"\"%s\\Uninstall.exe\"", {dir}));
    WriteRegString(k, u"URLInfoAbout", info.CompanyUrl);
    WriteRegString(k, u"URLUpdateInfo", info.CompanyUrl);
    WriteRegDWord(k, u"VersionMajor", static_cast<uint32_t>(version.Major));
    WriteRegDWord(k, u"VersionMinor", static_cast<uint32_t>(version.Minor));
}

void TInstallSequence::RunWaitEntries()
{
    for (const TSetupRun* entry : *script_.RunList) {
        if (!entry->Wait) continue;
        WideString fileName = TSetupfn::ExpandConstants(entry->FileName);
        WideString params = TSetupfn::ExpandConstants(entry->Params);
        WideString workDir = TSetupfn::ExpandConstants(entry->WorkDir);
        view_.SetDetail(FormatText(u"正在运行程序：%s", {fileName}));
        view_.PumpMessages();
        SetCurrentDirectoryW(W(workDir));  // a failure is ignored
        TZoWinfn::RunAndWait(u"\"" + fileName + u"\" " + params);
    }
}

void TInstallSequence::VisitGotoUrl()
{
    const TSetupBaseInfo& info = *script_.BaseInfo;
    if (info.GotoUrl.empty()) return;
    WideString url = AppendChannelCode(info.GotoUrl);
    switch (info.GotoUrlMode) {
    case TGotoUrlMode::gumSilent:
        view_.SetDetail(u"正在验证安装......");
        view_.PumpMessages();
        if (silentVisit) {
            try {
                silentVisit(url);
            } catch (const std::exception&) {
                // the visit is a courtesy; nothing depends on it
            }
        }
        break;
    case TGotoUrlMode::gumByBrowser:
        TZoWinfn::OpenUrl(url);
        break;
    default:
        break;
    }
}

// ---- Outside the sequence ----------------------------------------------------------

void LaunchRunEntries(const TSetupScript& script)
{
    for (const TSetupRun* entry : *script.RunList) {
        if (entry->Wait) continue;
        TZoWinfn::ShellRun(nullptr, WideString(), TSetupfn::ExpandConstants(entry->FileName),
                           TSetupfn::ExpandConstants(entry->Params), TSetupfn::ExpandConstants(entry->WorkDir),
                           SW_SHOW, true);
    }
}

WideString AppendChannelCode(const WideString& url, const WideString& programPath)
{
    WideString name = NameWithoutExt(programPath);
    size_t bar = name.find(u'_');
    if (bar == WideString::npos) return url;
    WideString digits;
    for (size_t i = bar + 1; i < name.size() && name[i] >= u'0' && name[i] <= u'9'; ++i) digits += name[i];
    if (digits.empty()) return url;
    return url + (url.find(u'?') != WideString::npos ? u"&" : u"?") + u"rcode=" + digits;
}

WideString AppendChannelCode(const WideString& url) { return AppendChannelCode(url, ArgAt(0)); }

WideString UninstallKeyPath(const WideString& guid, const WideString& suffix)
{
    return u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + guid + suffix;
}
