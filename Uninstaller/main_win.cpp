// Uninstall.exe: removes what the installer put on the machine, reading the
// installed script from "Uninstall.da1" beside itself ({app} is its own
// folder). Without arguments it shows its window and asks first; with
// "/SILENT" (any letter case; beside it only "/LOG=PATH") it removes
// everything without a window or a message. The exit codes are
// TUninstallExitCode's.
#include <windows.h>

#include <memory>

#include "ProgramLanguage_win.h"
#include "Elevation_win.h"
#include "SelfRemoval_win.h"
#include "SetupCommandLine.h"
#include "SetupFn.h"
#include "SetupLock_win.h"
#include "SetupProject.h"
#include "UninstallData.h"
#include "UninstallFrm_win.h"
#include "UninstallPlan.h"
#include "UninstallSteps_win.h"
#include "ZoDllSearch_win.h"
#include "ZoLog.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"
#include "ZoWinUtils_win.h"

namespace {

// The run's last word in its log.
int Finish(int code)
{
    LogAdd(TLogEntry::Exit, IntToStr(code));
    return code;
}

// A line for whoever reads standard output, and the same in the log.
void SayLine(const WideString& line)
{
    LogAdd(TLogEntry::Error, line);
    TZoSysfn::WriteConsoleLine(line);
}

// Why nothing is removed: one line with "/SILENT", else a message box; logged either way.
void Refuse(bool silent, const WideString& text, UINT icon)
{
    if (silent) {
        SayLine(text);
        return;
    }
    LogAdd(TLogEntry::Error, text);
    TZoWinfn::ShowMessageBox(nullptr, text, Text(TTextId::UninstallCaption), MB_OK | icon);
}

// The machine's installation, and this process may not remove its
// registration: only an elevated copy can. (A machine uninstaller asks for the
// rights in its manifest and never gets here.)
bool NeedsElevation(const TSetupScript& script)
{
    if (PerUserInstall || StartedForElevation()) return false;
    TUniqueHKey key;
    const LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(UninstallKeyPath(script.BaseInfo->GUID, u"_mw")), 0,
                                     DELETE | KEY_SET_VALUE, key.Put());
    if (rc != ERROR_SUCCESS) key.Release();
    return rc == ERROR_ACCESS_DENIED;
}

int UninstallSilently(TSetupScript& script, TUninstallPlan plan)
{
    TQuietUninstallView view;
    TUninstallSequence sequence(script, std::move(plan), view);
    TUninstallReport report = sequence.Run();
    for (const WideString& line : LeftoverLines(report)) TZoSysfn::WriteConsoleLine(line);  // logged by the steps
    if (!report.Complete() && RunLog().IsOpen()) TZoSysfn::WriteConsoleLine(Text(TTextId::LogFileLine) + RunLog().Path());
    return report.Complete() ? ucRemoved : ucLeftovers;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    RestrictDllSearch();  // before anything can load a DLL
    if (IsSelfRemovalCommandLine()) return RunSelfRemoval();

    TComApartment com;
    InitFolderValues();
    // The file the system loaded, not the command line's spelling of it (a
    // relative path, another name for the same folder): the spelling the
    // program ending sees, so this file is never among those removed while it
    // runs. Then the long form: a short path (PROGRA~1) would not be
    // recognised as one of the folders that must stay.
    WideString ownFile = ArgAt(0);
    wchar_t loaded[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameW(nullptr, loaded, MAX_PATH * 2);
    if (n > 0 && n < MAX_PATH * 2) ownFile = WideString(reinterpret_cast<const char16_t*>(loaded), n);
    if (WideString longer = TZoFilefn::GetLongPath(ownFile); !longer.empty()) ownFile = longer;
    InstallDir = WithTrailingBackslash(DirPart(ownFile));
    const TSetupCommandLine commandLine = ParseUninstallCommandLine(ProcessArguments());
    const bool silent = commandLine.mode == TRunMode::Silent;
    ChooseProgramLanguage(WideString(), commandLine);  // for the data files' errors
    // Memory runs out on a data file too large to be one the installer wrote.
    TZoWinfn::EndOnOutOfMemory(ucBadData, Text(TTextId::OutOfMemoryUninstaller), silent);

    // Who could have written the data is asked before it is read: whoever could
    // change it between the two would have made it untrusted already.
    const bool dataTrusted = UninstallDataTrusted(InstallDir);
    std::unique_ptr<TSetupScript> script;
    try {
        script = LoadUninstallScript(InstallDir);
    } catch (const EUninstallDataError& e) {
        // No product to name the log after: it goes by the program's own name.
        OpenRunLog(commandLine, TZoWinfn::GetTempDir(), WideString(), u"Uninstall");
        LogAdd(TLogEntry::Note, Text(TTextId::CommandLineLine) + ZoPlatform::CommandLine());
        Refuse(silent, e.Message(), MB_ICONSTOP);
        return Finish(ucBadData);
    }
    AppTitleValue = script->BaseInfo->AppTitle;
    ChooseProgramLanguage(script->BaseInfo->Language, commandLine);
    Application.SetFontFaces(Text(TTextId::DisplayFontFaces), Text(TTextId::TextFontFaces));
    OpenRunLog(commandLine, TZoWinfn::GetTempDir(), script->BaseInfo->AppTitle, u"Uninstall");
    LogAdd(TLogEntry::Note, FormatText(TextView(TTextId::UninstallLogFormat), {script->BaseInfo->AppTitle, script->BaseInfo->Version}));
    LogAdd(TLogEntry::Note, Text(TTextId::CommandLineLine) + ZoPlatform::CommandLine());
    PerUserInstall = script->BaseInfo->InstallScope == TInstallScope::isUser;
    if (NeedsElevation(*script)) {
        // A product installed for every user by an installer that let the
        // user choose: this program asks for no rights, its copy gets them.
        std::vector<WideString> args;
        for (int i = 1; i <= ArgCount(); ++i) args.push_back(ArgAt(i));
        const TElevatedRun run = RunElevated(JoinCommandLine(args));
        if (run.Started) return Finish(run.ExitCode);
        Refuse(silent, FormatText(TextView(TTextId::UninstallElevationRefusedFormat), {script->BaseInfo->AppTitle}), MB_ICONSTOP);
        return Finish(ucElevationRefused);
    }
    TSetupLock lock;  // held until the self-removal has started
    if (!lock.Acquire(script->BaseInfo->GUID, PerUserInstall ? TSetupLock::TScope::User : TSetupLock::TScope::Machine)) {
        Refuse(silent, FormatText(TextView(TTextId::SetupRunningFormat), {script->BaseInfo->AppTitle}), MB_ICONINFORMATION);
        return Finish(ucSetupRunning);
    }
    // A data file someone else could have written is used for this product's
    // files and its uninstall key only. The scope it names is no reason to
    // trust it: that is written in the same file, and this program may run
    // with an administrator's rights whatever the file says.
    const bool trusted = dataTrusted;
    if (!trusted) {
        LogAdd(TLogEntry::Error, Text(TTextId::DistrustedData));
        if (silent) TZoSysfn::WriteConsoleLine(Text(TTextId::DistrustedData));
    }
    auto longForm = [](const WideString& path) { return LongFormOfPath(path); };
    TUninstallPlan plan = TUninstallPlan::FromScript(*script, ownFile, DefaultProtectedFolders(), longForm, trusted);
    const WideString folder = plan.MayRemoveInstallFolder ? plan.InstallFolder : WideString();

    int code;
    if (silent) {
        Application.SetExceptionHandler([](const WideString& text) { TZoSysfn::WriteConsoleLine(text); });
        code = UninstallSilently(*script, std::move(plan));
    } else {
        Application.SetTitle(FormatText(TextView(TTextId::UninstallTitleFormat), {script->BaseInfo->AppTitle}));
        TUninstallForm form(*script, std::move(plan), LoadUninstallIcon(InstallDir));
        Application.Run();
        code = form.ExitCode();
        if (!form.Uninstalled()) return Finish(code);
    }
    StartSelfRemoval(ownFile, folder, PerUserInstall);
    return Finish(code);
}
