#include "ReplaceFile_win.h"

#include <algorithm>

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

void ReplaceFileWith(const WideString& path, const std::function<void(HANDLE file)>& fill, const FileTimes* times)
{
    // A read-only file is not to be replaced, as a write to it would fail (a
    // rename over it fails on Windows too, but not everywhere).
    const DWORD attributes = GetFileAttributesW(W(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw CreateFailed(path, ERROR_ACCESS_DENIED);
    const WideString temp = ReplacementPath(path);
    TUniqueFile file(CreateFileW(W(temp), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw CreateFailed(path, GetLastError());
    try {
        fill(file.Get());
        if (!FlushFileBuffers(file.Get())) throw WriteFailed(path, GetLastError());
        if (!CloseHandle(file.Release())) throw WriteFailed(path, GetLastError());
        if (times) TZoFilefn::SetFileTimes(temp, *times);  // times that cannot be set stay as they are
        if (!MoveFileExW(W(temp), W(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw CreateFailed(path, GetLastError());
    } catch (...) {
        file.Reset();
        DeleteFileW(W(temp));
        throw;
    }
}

void ReplaceFileWith(const WideString& path, const uint8_t* data, size_t size)
{
    ReplaceFileWith(path, [&](HANDLE file) {
        for (size_t done = 0; done < size;) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20)), written = 0;
            if (!WriteFile(file, data + done, n, &written, nullptr) || written != n)
                throw WriteFailed(path, GetLastError());
            done += n;
        }
    });
}
