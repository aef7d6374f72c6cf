// What one uninstallation removes, worked out from the installed script
// before anything is touched: the product's files and shortcuts, its registry
// values, and the folders and keys that may go once they are left empty.
//
// Folders and keys are removed only when empty, and never one of the
// system's own (a drive, Program Files, the desktop, the start menu,
// Software, Software\Microsoft\Windows\CurrentVersion\Run, ...), so nothing
// the user or another program keeps there is lost.
//
// The uninstaller runs with the administrator's rights and reads a file any
// administrator, or anything that ran as one, may have written: every path is
// normalised before any decision, files are removed only below the install
// folder, and links only as ".lnk" files directly in their folders. Whatever
// else the script names stays and is reported.
#pragma once

#include <optional>
#include <vector>

#include "SetupProject.h"
#include "ZoFnRef.h"
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

// The long form of a normalised path whose leading part exists ("PROGRA~1"
// becomes "Program Files"); the path unchanged where nothing of it exists.
using TLongPathFn = TFnRef<WideString(const WideString&)>;

class TUninstallPlan {
public:
    // The script's paths are expanded with the program-wide values as they are
    // now (InstallDir: the uninstaller's folder with a trailing backslash).
    // ownFile is the running uninstaller, which goes last and on its own.
    // protectedFolders are never removed (see DefaultProtectedFolders).
    // longPath turns short (8.3) names into long ones; none: paths as written.
    // Registry values go only where applications keep theirs, links only from
    // the desktop, the start menu's programs and the install folder. A data
    // file others than the administrators may have written (dataTrusted
    // false) removes files and links below the install folder and nothing
    // else: every registry value stays, reported with what lies outside.
    static TUninstallPlan FromScript(const TSetupScript& script, const WideString& ownFile,
                                     const std::vector<WideString>& protectedFolders,
                                     const TLongPathFn& longPath = {}, bool dataTrusted = true);

    std::vector<WideString> Files;      // product files below the install folder, in list order, without ownFile
    std::vector<WideString> Shortcuts;  // ".lnk" files, each directly in its folder
    std::vector<WideString> Outside;    // what the script names but the uninstaller leaves: as expanded (values: ROOT\key\name)
    std::vector<TRegValueRef> Values;   // the values the installer wrote
    std::vector<TRegKeyRef> Keys;       // to remove when empty, deepest first
    std::vector<WideString> Folders;    // to remove when empty, deepest first, with trailing backslash
    std::vector<WideString> DataFiles;  // "Uninstall.da1", "Uninstall.da2"
    WideString InstallFolder;           // InstallDir
    bool MayRemoveInstallFolder = false;  // false when it is one of the protected folders
    bool DataTrusted = true;              // as FromScript was told
};

// The machine's own folders: drives' roots aside (always kept), Program
// Files, the Windows and system folders, the profiles, the desktops, start
// menus, documents, application data and the temporary folder. Each with a
// trailing backslash; folders the platform does not know are left out.
std::vector<WideString> DefaultProtectedFolders();

// "C:\dir\file" with ".", ".." and repeated or mixed separators resolved, the
// drive letter in upper case, no trailing separator (but "C:\"). None for
// anything whose meaning is not plain: not absolute on a drive, "\\?\" and
// "\\.\" forms, shares, a step above the root, alternate data streams,
// characters Windows refuses, names it would change (a trailing dot or blank)
// and device names (CON, NUL, COM1, ...).
std::optional<WideString> NormalisePath(const WideString& path);

// path lies below folder (both normalised), letter case folded.
bool IsBelowFolder(const WideString& path, const WideString& folder);

// A drive's root ("C:\"), a share ("\\server\share\"), or a path that is not
// absolute: never a folder to remove.
bool IsRootFolder(const WideString& folder);

// Keys of the system's own that stay even when empty: the root's first level
// (Software, System, Environment, ...; for HKEY_CLASSES_ROOT only the
// system's class keys such as CLSID), Software\Microsoft and below it the
// Windows keys down to CurrentVersion's children (Run, Uninstall, App Paths),
// Software\Classes, the 32-bit mirror Software\Wow6432Node, and System's upper levels.
bool IsProtectedKey(TRegRootKey root, const WideString& subKey);
