#include "ProgramLanguage_win.h"

#include <windows.h>

#include "ZoSysUtils.h"

TLanguage ChooseProgramLanguage(const WideString& setting)
{
    const TLanguage language = ResolveLanguage(setting, LanguageArgument(), GetUserDefaultUILanguage());
    SetLanguage(language);
    return language;
}
