// What an elevated copy of the installer or the uninstaller is started with:
// the running program's own arguments, joined again.
#pragma once

#include <vector>

#include "ZoTypes.h"

// The arguments joined into a command line that SplitCommandLine (and so the
// copy's ArgAt) gives back: an argument with a blank or control character in
// quotes. The split leaves no quote inside an argument, so none needs escaping.
WideString JoinCommandLine(const std::vector<WideString>& args);
