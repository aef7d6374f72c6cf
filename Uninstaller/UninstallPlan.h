// What one uninstallation removes, worked out from the installed script
// before anything is touched: the product's files and shortcuts, its registry
// values, and the folders and keys that may go once they are left empty.
//
// Folders and keys are removed only when empty, and never one of the
// system's own (a drive, Program Files, the desktop, the start menu,
// Software, Software\Microsoft\Windows\CurrentVersion\Run, ...), so nothing
// the user or another program keeps there is lost.
#pragma once

#include <vector>

#include "SetupProject.h"
#include "ZoTypes.h"

struct TRegValueRef {
    TRegRootKey Root = TRegRootKey::rrkCurrentUser;
    WideString SubKey;  // no leading or trailing backslash
    WideString Name;
};

struct TRegKeyRef {
    TRegRootKey Root = TRegRootKey::rrkCurrentUser;
    WideString SubKey;
};

class TUninstallPlan {
public:
    // The script's paths are expanded with the program-wide values as they are
    // now (InstallDir: the uninstaller's folder with a trailing backslash).
    // ownFile is the running uninstaller, which goes last and on its own.
    // protectedFolders are never removed (see DefaultProtectedFolders).
    static TUninstallPlan FromScript(const TSetupScript& script, const WideString& ownFile,
                                     const std::vector<WideString>& protectedFolders);

    std::vector<WideString> Files;      // product files, in list order, without ownFile
    std::vector<WideString> Shortcuts;  // ".lnk" files
    std::vector<TRegValueRef> Values;   // the values the installer wrote
    std::vector<TRegKeyRef> Keys;       // to remove when empty, deepest first
    std::vector<WideString> Folders;    // to remove when empty, deepest first, with trailing backslash
    std::vector<WideString> DataFiles;  // "Uninstall.da1", "Uninstall.da2"
    WideString InstallFolder;           // InstallDir
    bool MayRemoveInstallFolder = false;  // false when it is one of the protected folders
};

// The machine's own folders: drives' roots aside (always kept), Program
// Files, the Windows and system folders, the profiles, the desktops, start
// menus, documents, application data and the temporary folder. Each with a
// trailing backslash; folders the platform does not know are left out.
std::vector<WideString> DefaultProtectedFolders();

// A drive's root ("C:\"), a share ("\\server\share\"), or a path that is not
// absolute: never a folder to remove.
bool IsRootFolder(const WideString& folder);

// Keys of the system's own that stay even when empty: the root's first level
// (Software, System, Environment, ...; for HKEY_CLASSES_ROOT only the
// system's class keys such as CLSID), Software\Microsoft and below it the
// Windows keys down to CurrentVersion's children (Run, Uninstall, App Paths),
// Software\Classes, the 32-bit mirror Software\Wow6432Node, and System's upper levels.
bool IsProtectedKey(TRegRootKey root, const WideString& subKey);
