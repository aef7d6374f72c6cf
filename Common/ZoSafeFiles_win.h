// File operations of the elevated programs in a folder other users may have
// reached (the install folder): nothing they do follows a reparse point
// (symbolic link, junction, mount point) at or below that folder. Every
// folder from the install folder down is opened on itself and held, so it
// cannot be renamed or swapped while the file in it is written or removed;
// files are created new, renamed through their own handles and deleted by
// their names (which never follows a link).
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

private:
    std::vector<TUniqueFile> folders_;
    bool complete_ = true;
};

// True when path itself (its last component, not followed) is a reparse point.
bool IsReparsePoint(const WideString& path);

// Deletes the name path (its folders held by the caller): by name, which
// removes the name itself and never what a link leads to. keepLinks: a link
// (seen on the name and on a handle opened on the name itself) stays, with
// ERROR_REPARSE_TAG_MISMATCH, a folder with ERROR_DIRECTORY, and a read-only
// file loses that attribute first. Otherwise the system's error, with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when there is nothing.
DWORD DeleteFileNoFollow(const WideString& path, bool keepLinks);

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
