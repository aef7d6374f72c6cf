// File operations of the elevated programs in a folder other users may have
// reached (the install folder): nothing they do follows a reparse point
// (symbolic link, junction, mount point) at or below that folder. Every
// folder from the install folder down is opened on itself and held, so it
// cannot be renamed or swapped while the file in it is written or removed;
// files are created new, renamed and deleted through their own handles, each
// checked to lie in the held folder: an empty held folder can still be made a
// junction, and a file opened by its path would then lie where that leads.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ZoSysUtils.h"
#include "ZoTypes.h"
#include "ZoWinHandles_win.h"

// A link found where a folder or file of the product should be: reported,
// left alone. The message names it ("... is a link: left alone").
ZO_DECLARE_ERROR(ELinkFound, EFCreateError);
ELinkFound LinkFound(const WideString& path);

// The folders from root (included) down to the folder of path, each opened
// with FILE_FLAG_OPEN_REPARSE_POINT and held without delete sharing for the
// chain's life. A path not below root gets an empty chain: nothing to check.
class TFolderChain {
public:
    TFolderChain() = default;
    // create: missing folders are made, each checked right after. Raises
    // ELinkFound for a link among them, EFCreateError for a folder that cannot
    // be made or opened. Without create, Complete() says whether all exist.
    TFolderChain(const WideString& root, const WideString& path, bool create);
    bool Complete() const { return complete_; }
    // True when file, opened by path, is the file of that name in the held
    // folder of path and not one a link made of a folder led to (both final
    // paths as the system resolves them). True for an empty chain: nothing to check.
    bool Holds(HANDLE file, const WideString& path) const;

private:
    std::vector<TUniqueFile> folders_;
    bool complete_ = true;
};

// True when the file system takes a and b for the same name: ordinal, with the
// system's upper-case table (wider folding, as for text, would take a Kelvin
// sign for a k or a long s for an s, and another folder for this one).
bool SameNameOnDisk(const WideString& a, const WideString& b);

// True when path itself (its last component, not followed) is a reparse point.
bool IsReparsePoint(const WideString& path);

// Deletes the file path (its folders held in held): through a handle opened on
// the name itself and found in held's folder; a file elsewhere (a folder made
// a link meanwhile) stays, with ERROR_REPARSE_TAG_MISMATCH. A link under the
// name goes by its name (never what it leads to), or with keepLinks stays,
// with ERROR_REPARSE_TAG_MISMATCH; keepLinks also keeps a folder (ERROR_DIRECTORY)
// and takes a read-only file's attribute first, unless other names (hard
// links) share the file. Otherwise the system's error, with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when there is nothing.
DWORD DeleteFileNoFollow(const WideString& path, bool keepLinks, const TFolderChain& held);

// Deletes the open file (opened with DELETE access) through its handle.
bool DeleteByHandle(HANDLE file);

// Sets the times of an open file (local times; a zero or impossible one stays as it is).
bool SetHandleFileTimes(HANDLE file, const FileTimes& times);

// The SID of the user the process runs as (its bytes); empty when it cannot be read.
std::vector<uint8_t> CurrentUserSid();

// Gives the open file the name path (replacing what is there, a link as a
// link) and flushes: the file renamed is the one written.
bool RenameHandle(HANDLE file, const WideString& path);

// True when path (itself, not what a link leads to; a link is false) is
// owned and may be changed, deleted or given other permissions only by the
// administrators, SYSTEM, TrustedInstaller and the user this process runs as.
bool OnlyTrustedMayChange(const WideString& path);

// Gives the open file (opened with WRITE_DAC) the protection of a program
// file in Program Files, in its own right rather than from its folder:
// administrators and SYSTEM full control, users read and execute. In a
// folder other users may change, they can then neither change the file nor
// delete or rename it (unless they may delete in the folder as such).
bool ProtectFile(HANDLE file);
