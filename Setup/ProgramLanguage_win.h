// The language a Windows program speaks, chosen once its project's setting is
// known (and before, from the command line alone, for the first errors).
#pragma once

#include "SetupCommandLine.h"
#include "Texts.h"

// Sets the language from /LANG=, the setting ("auto": the user's UI language
// as GetUserDefaultUILanguage gives it) or the default, and returns it.
TLanguage ChooseProgramLanguage(const WideString& setting, const TSetupCommandLine& line);
