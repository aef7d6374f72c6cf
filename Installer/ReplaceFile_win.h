// Writing a file that may already exist without ever leaving a cut one: the
// content goes to NAME + ".zosetup-new" beside it (whatever lay under that
// name, a planted link included, is deleted as it is and the file is created
// new), is flushed to the disk, and then takes the name in one step: the
// handle written is renamed over the old file. Until that step the old file
// is whole; a full disk, a damaged image or a target that cannot be replaced
// leaves the old file as it was and no temporary file behind. A link in the
// file's own place is not replaced (ELinkFound).
#pragma once

#include <windows.h>

#include "ZoFnRef.h"
#include "ZoSafeFiles_win.h"
#include "ZoSysUtils.h"
#include "ZoTypes.h"

// The temporary name beside path.
WideString ReplacementPath(const WideString& path);

// fill writes the whole content to the open file and raises on failure; times
// (when given) are set before the file takes its name. Raises EFCreateError
// "Cannot create file "%s". %s" when the temporary file cannot be made or
// cannot take the name, EStreamError when it cannot be written or flushed,
// and whatever fill raises; in every case the temporary file is gone. held:
// the folders of path, held by the caller; a temporary file or a renamed one
// not in its folder (ELinkFound) is not written or kept. protect: the new
// file gets its own protection (ProtectFile) before anyone else can open it.
void ReplaceFileWith(const WideString& path, TFnRef<void(HANDLE file)> fill,
                     const FileTimes* times = nullptr, const TFolderChain& held = TFolderChain(), bool protect = false);

// The same for content held in memory.
void ReplaceFileWith(const WideString& path, const uint8_t* data, size_t size,
                     const TFolderChain& held = TFolderChain(), bool protect = false);
