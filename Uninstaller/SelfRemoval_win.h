// The uninstaller's last act: removing its own file and the install folder.
//
// A running program cannot delete its own file: Windows keeps the file of a
// running program open. It may rename it, though (on the same volume, as
// Wine does too). So at the end the uninstaller
//   1. renames itself in place to "~Uninstall{GUID}.tmp": the name
//      "Uninstall.exe" is free at once, and a newer version's installer that
//      runs right after this one (the old-version step) never has its new
//      Uninstall.exe taken for the old one;
//   2. copies itself into a new folder "ZoUninstall-{GUID}" of the Windows
//      folder's Temp that only the administrators and the system may write
//      (the copy runs with the administrator's rights: from a folder others
//      can write to, a library put beside it would run with them too) and
//      starts the copy (working folder: that folder, so the install folder
//      is not in use) with
//        /REMOVE-SELF <handle of this process> "<renamed file>" "<folder>"
//      passing only that one inheritable handle;
//   3. ends.
// The copy waits on the handle until the uninstaller has ended, deletes the
// renamed file, removes the install folder when it is empty, deletes the
// copies earlier uninstallations left, and has its own file and folder
// deleted when Windows next starts (MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT, which needs the administrator's rights that
// the uninstaller runs with). When the copy cannot be made or started, the
// renamed file and the folder are marked for deletion at the next start.
#pragma once

#include "ZoTypes.h"

// folder: the install folder to remove when it is left empty; empty to keep it.
// False when the removal could only be put off until Windows next starts.
// perUser: the uninstaller runs with the user's own rights (a user's
// installation): the copy goes into a new folder of the user's temporary
// folder instead, and what it cannot delete waits for the next
// uninstallation's copy (deleting at restart needs the administrator).
bool StartSelfRemoval(const WideString& ownFile, const WideString& folder, bool perUser = false);

// The command line of the copy in the temporary folder.
bool IsSelfRemovalCommandLine();
// The copy's whole life; its exit code.
int RunSelfRemoval();
