// The installer program's entry.
#include <windows.h>

#include <memory>

#include "MainFrm_win.h"
#include "OnlineSetup_win.h"
#include "ProgramLanguage_win.h"
#include "SetupCommandLine.h"
#include "SetupFn.h"
#include "ZoDllSearch_win.h"
#include "ZoLog.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    RestrictDllSearch();  // before anything can load a DLL
    const TSetupCommandLine commandLine = ParseSetupCommandLine(InstallerScopeArgs().Rest);
    const bool silent = commandLine.mode == TRunMode::Silent;
    // The command line's language for what may go wrong before the script names one.
    ChooseProgramLanguage(WideString(), commandLine);
    // Memory runs out on input too large to be a genuine package.
    TZoWinfn::EndOnOutOfMemory(ecDamagedPackage, Text(TTextId::OutOfMemoryInstaller), silent);
    // Unit start-up: COM for this thread (single-threaded apartment) and the
    // folders behind the path constants.
    TComApartment com;
    InitFolderValues();
    InitOnlineSetup();
    if (silent)
        Application.SetExceptionHandler([](const WideString& text) { TZoSysfn::WriteConsoleLine(text); });

    std::unique_ptr<TMainForm> mainForm;
    try {
        mainForm = std::make_unique<TMainForm>();
    } catch (const std::exception& e) {
        // The installer's own resources are damaged: say so and end. Without a
        // script there is no product to name the log after.
        if (!RunLog().IsOpen()) OpenRunLog(commandLine, TZoWinfn::GetTempDir(), WideString(), u"Setup");
        Application.HandleException(e);
        if (silent && RunLog().IsOpen())
            TZoSysfn::WriteConsoleLine(Text(TTextId::LogFileLine) + RunLog().Path());
        LogAdd(TLogEntry::Exit, IntToStr(ecDamagedPackage));
        return ecDamagedPackage;
    }
    Application.Run();
    const int code = mainForm->ExitCode();
    mainForm.reset();
    LogAdd(TLogEntry::Exit, IntToStr(code));
    return code;
}
