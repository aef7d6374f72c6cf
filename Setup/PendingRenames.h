// The operations Windows carries out when it next starts, as the value
// "PendingFileRenameOperations" of the key
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager holds them: pairs of
// NT paths ("\??\C:\dir\file"), the second empty for a deletion and
// "!"-prefixed for a replacing rename.
//
// An installer that has just written a file clears every operation on it, so
// a deletion an earlier uninstaller left for the next start cannot take the
// new installation's file with it.
#pragma once

#include <vector>

#include "ZoTypes.h"

// The strings of a REG_MULTI_SZ value, empty ones included (a deletion's
// target is one), without the list's closing empty string.
std::vector<WideString> SplitMultiSz(const WideString& data);
WideString JoinMultiSz(const std::vector<WideString>& strings);

// The pairs whose source and target name none of paths (Win32 paths,
// compared without letter case); a last half pair is dropped.
std::vector<WideString> WithoutOperationsOn(const std::vector<WideString>& operations,
                                            const std::vector<WideString>& paths);

// Windows: clears the operations on paths from the registry value. Needs the
// administrator's rights; without them, or without the value, nothing happens.
void ClearPendingOperations(const std::vector<WideString>& paths);
