#include "ProgramLanguage_win.h"

#include <windows.h>

TLanguage ChooseProgramLanguage(const WideString& setting, const TSetupCommandLine& line)
{
    const TLanguage language =
        ResolveLanguage(setting, line.language.value_or(WideString()), GetUserDefaultUILanguage());
    SetLanguage(language);
    return language;
}
