// What one installation will do, worked out from the script before anything on
// the machine is touched: every target path, registry value (the uninstall
// key's included), shortcut, program to end and program to run. The Win32
// steps (InstallSteps_win) only carry it out, so every decision here is tested
// without Windows.
//
// The script's texts are expanded with the program-wide values as they are
// when the plan is made (InstallDir: the checked destination with a trailing
// backslash; the folder values; AppTitleValue), so a plan is made after the
// destination check and, online, after the download replaced the script.
#pragma once

#include <vector>

#include "SetupProject.h"
#include "ZoTypes.h"

struct TPlannedFile {
    const TSetupFile* Entry = nullptr;  // the script's entry (its dates)
    WideString Path;                    // the folder of DestDir, a backslash, SourceMask
    WideString ResID;                   // its image in the package; empty: an empty file
};

struct TPlannedValue {
    TRegRootKey Root = TRegRootKey::rrkCurrentUser;  // as the script says (RootKeyHandle maps it)
    WideString SubKey;                               // expanded, without leading backslashes
    WideString Name;
    TRegValueType Type = TRegValueType::rvtString;   // another value: the key is made, nothing written
    WideString Text;                                 // rvtString
    uint32_t Number = 0;                             // rvtDWord
};

struct TPlannedShortcut {
    WideString LinkPath;  // SaveDir with a trailing backslash, Name, ".lnk"
    WideString Target;
    WideString WorkDir;
    WideString IconFile;
};

struct TPlannedRun {
    WideString FileName;
    WideString Params;
    WideString WorkDir;
    // Waited entries: the quoted FileName, a blank and Params (a trailing blank
    // stays when Params is empty), run as a whole command line.
    WideString CommandLine() const { return u"\"" + FileName + u"\" " + Params; }
};

// One value of the uninstall key, REG_SZ or REG_DWORD.
struct TUninstallValue {
    WideString Name;
    bool IsDWord = false;
    WideString Text;
    uint32_t Number = 0;
};

class TInstallPlan {
public:
    // ownFile: the running installer (argument 0); today: the local date as
    // "yyyymmdd". Raises EConvertError "'%s' is not a valid integer value" for
    // a REG_DWORD text that is no integer: the installation must not begin.
    static TInstallPlan FromScript(const TSetupScript& script, const WideString& ownFile, const WideString& today);

    // The quiet uninstall commands of earlier installations are read from these
    // keys below UninstallRoot, in this order ("_is1", then our own "_mw"):
    // in both registry views for the machine, in the one HKEY_CURRENT_USER
    // for a user.
    std::vector<WideString> PreviousUninstallKeys;
    TRegRootKey UninstallRoot = TRegRootKey::rrkLocalMachine;
    bool BothRegistryViews = true;
    // A user's installation: the same keys below HKEY_LOCAL_MACHINE, whose
    // registration (the product installed for every user) is reported in the
    // log and left alone, since a user could not remove it.
    std::vector<WideString> MachineKeysToReport;
    // The product's executables that may be running and hold their files: the
    // ".exe" targets (any letter case). A running process is asked to close
    // (and ended only if it will not) when it runs from one of these paths;
    // the installer itself and other copies of it never are (ZoProcesses_win),
    // whatever their names. The program that started the installer is asked
    // like any other.
    std::vector<WideString> ProgramsToEnd;
    std::vector<TPlannedFile> Files;           // in list order
    std::vector<TPlannedValue> Values;         // in list order
    std::vector<TPlannedShortcut> Shortcuts;   // in list order
    WideString ScriptDataFile;                 // InstallDir + "Uninstall.da1"
    WideString IconDataFile;                   // InstallDir + "Uninstall.da2"
    WideString UninstallKey;                   // below UninstallRoot
    std::vector<TUninstallValue> UninstallValues;  // in the order they are written
    std::vector<TPlannedRun> WaitRuns;         // run and waited for during the installation
    std::vector<TPlannedRun> LaunchRuns;       // started when the installer ends
    WideString GotoUrl;                        // with the channel code; empty: no visit
    TGotoUrlMode GotoUrlMode = TGotoUrlMode::gumSilent;

    // "/NORUN": a deployment starts nothing on the user's screen, neither the
    // finished window's programs nor the browser's visit. Waited entries stay:
    // they are part of the installation. Returns what was left out, for the log.
    std::vector<WideString> LeaveOutStarts();

    // The progress bar's steps: files, registry values, shortcuts.
    int ProgressSteps() const { return static_cast<int>(Files.size() + Values.size() + Shortcuts.size()); }
};

// url with "?rcode=N" (or "&rcode=N") for a program named like Name_N....exe.
WideString AppendChannelCode(const WideString& url, const WideString& programPath);

// The switches a deployment tool gives an installer whose project lets the
// user choose the scope: /ALLUSERS (every user) or /CURRENTUSER, in any
// letter case, at most one of them, beside the mode switch.
enum class TScopeSwitch : uint8_t { None, AllUsers, CurrentUser };
struct TScopeArgs {
    std::vector<WideString> Rest;  // the arguments without the scope switch
    TScopeSwitch Choice = TScopeSwitch::None;
};
// Takes the scope switch out of args (the arguments after the program's
// name). Two of them, or one twice, choose nothing and stay in Rest, so the
// line is no known one and the window shows.
TScopeArgs TakeScopeSwitch(const std::vector<WideString>& args);
// The arguments of the elevated copy that installs for every user: this run's
// (rest, without its scope switch) and /ALLUSERS. A choice made in the window
// (windowFolder, the folder it shows) adds /Auto and that folder, so the copy
// installs at once instead of asking a second time.
std::vector<WideString> ElevatedCopyArgs(std::vector<WideString> rest, const WideString& windowFolder);
// The installation is the current user's alone: a user project always, a
// machine project never; an either project as the switch says, else for the
// machine only when the process already has the administrator's rights (no
// prompt that nobody asked for).
bool ChoosesPerUser(TInstallScope scope, TScopeSwitch choice, bool elevated);
