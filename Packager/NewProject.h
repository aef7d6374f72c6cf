// A starting project for a new product: the project file, a placeholder
// icon, an agreement text and a folder with one product file.
#pragma once

#include "Texts.h"
#include "ZoTypes.h"

// Raises EPackageError when the project file exists already. A Chinese project
// is the default one; any other language writes its texts and Language="auto".
void WriteNewProject(const WideString& projectFile, TLanguage language);

// Chinese for a locale name of Chinese ("zh_CN.UTF-8", "zh_TW"), English otherwise.
TLanguage LanguageOfLocale(const WideString& locale);
