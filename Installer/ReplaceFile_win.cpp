#include "ReplaceFile_win.h"

#include <algorithm>

#include "Texts.h"
#include "ZoLog.h"
#include "ZoSafeFiles_win.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace {

EFCreateError CreateFailed(const WideString& path, DWORD code)
{
    return EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {path, SysErrorMessage(code)}));
}

EStreamError WriteFailed(const WideString& path, DWORD code)
{
    return EStreamError(FormatText(u"Cannot write file \"%s\". %s", {path, SysErrorMessage(code)}));
}

}  // namespace

WideString ReplacementPath(const WideString& path) { return path + u".zosetup-new"; }

void ReplaceFileWith(const WideString& path, TFnRef<void(HANDLE file)> fill, const FileTimes* times,
                     const TFolderChain& held, bool protect)
{
    // A read-only file is not to be replaced, as a write to it would fail (a
    // rename over it fails on Windows too, but not everywhere). A link in the
    // file's place is not ours to replace either.
    const DWORD attributes = GetFileAttributesW(W(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw CreateFailed(path, ERROR_ACCESS_DENIED);
    if (attributes != INVALID_FILE_ATTRIBUTES && IsReparsePoint(path)) throw LinkFound(path);
    // Whatever lies under the temporary name (a file of an interrupted run, or
    // a link someone planted) goes as it is, never opened through; the new one
    // is made new.
    const WideString temp = ReplacementPath(path);
    DWORD stale = DeleteFileNoFollow(temp, false, held);
    if (stale == ERROR_SUCCESS) LogAdd(TLogEntry::Note, Text(TTextId::StaleTempRemovedLine) + temp);
    TUniqueFile file(CreateFileW(W(temp), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw CreateFailed(path, GetLastError());
    try {
        // Made where its folder is, not where a link made of it leads: then
        // the folder holds it and cannot be made a link any more.
        if (!held.Holds(file.Get(), temp)) throw LinkFound(path);
        if (protect) ProtectFile(file.Get());  // (a file system without permissions has none to give)
        fill(file.Get());
        if (!FlushFileBuffers(file.Get())) throw WriteFailed(path, GetLastError());
        if (times) SetHandleFileTimes(file.Get(), *times);  // times that cannot be set stay as they are
        // The handle written is the one renamed: nothing can stand in for it.
        if (!RenameHandle(file.Get(), path)) throw CreateFailed(path, GetLastError());
        if (!held.Holds(file.Get(), path)) throw LinkFound(path);
        if (!CloseHandle(file.Release())) throw WriteFailed(path, GetLastError());
    } catch (...) {
        if (file) DeleteByHandle(file.Get());
        throw;
    }
}

void ReplaceFileWith(const WideString& path, const uint8_t* data, size_t size, const TFolderChain& held, bool protect)
{
    ReplaceFileWith(path, [&](HANDLE file) {
        for (size_t done = 0; done < size;) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20)), written = 0;
            if (!WriteFile(file, data + done, n, &written, nullptr) || written != n)
                throw WriteFailed(path, GetLastError());
            done += n;
        }
    }, nullptr, held, protect);
}
