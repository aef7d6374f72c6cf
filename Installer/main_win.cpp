// The installer program's entry.
#include <windows.h>

#include "PackageResources_win.h"
#include "SetupFn.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    TComApartment com;
    InitFolderValues();
    TUniqueModule resourceModule(OpenOwnModule());
    TMemoryStream script;
    if (HasPackageResource(resourceModule.Get(), FullScriptResource))
        ReadPackageResource(resourceModule.Get(), WideOf(FullScriptResource), &script);
    else if (HasPackageResource(resourceModule.Get(), OnlineScriptResource))
        ReadPackageResource(resourceModule.Get(), WideOf(OnlineScriptResource), &script);
    else
        ExitProcess(0);
    return 0;
}
