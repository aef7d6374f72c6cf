#include "Elevation.h"

#include <algorithm>

WideString JoinCommandLine(const std::vector<WideString>& args)
{
    WideString line;
    for (const WideString& arg : args) {
        if (!line.empty()) line += u' ';
        const bool blank = std::any_of(arg.begin(), arg.end(), [](char16_t c) { return c >= 1 && c <= 32; });
        line += blank ? u"\"" + arg + u"\"" : arg;
    }
    return line;
}
