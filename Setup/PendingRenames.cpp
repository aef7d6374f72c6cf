#include "PendingRenames.h"

#include "ZoSysUtils.h"

namespace {

// "\??\C:\x" and "!\??\C:\x" name C:\x.
WideString Win32PathOf(const WideString& operand)
{
    WideString p = operand;
    if (!p.empty() && p[0] == u'!') p.erase(0, 1);
    if (p.rfind(u"\\??\\", 0) == 0) p.erase(0, 4);
    return p;
}

bool NamesAnyOf(const WideString& operand, const std::vector<WideString>& paths)
{
    if (operand.empty()) return false;
    const WideString path = Win32PathOf(operand);
    for (const WideString& p : paths)
        if (TextEquals(path, p) || TextEquals(path, WithoutTrailingBackslash(p))) return true;
    return false;
}

}  // namespace

std::vector<WideString> SplitMultiSz(const WideString& data)
{
    std::vector<WideString> strings;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find(u'\0', start);
        if (end == WideString::npos) end = data.size();
        strings.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    // The list closes with one more terminator: an empty string that is none.
    if (strings.size() % 2 == 1 && strings.back().empty()) strings.pop_back();
    return strings;
}

WideString JoinMultiSz(const std::vector<WideString>& strings)
{
    WideString data;
    for (const WideString& s : strings) {
        data += s;
        data += u'\0';
    }
    data += u'\0';
    return data;
}

std::vector<WideString> WithoutOperationsOn(const std::vector<WideString>& operations,
                                            const std::vector<WideString>& paths)
{
    std::vector<WideString> kept;
    for (size_t i = 0; i + 1 < operations.size(); i += 2) {
        if (NamesAnyOf(operations[i], paths) || NamesAnyOf(operations[i + 1], paths)) continue;
        kept.push_back(operations[i]);
        kept.push_back(operations[i + 1]);
    }
    return kept;
}

#ifndef _WIN32
void ClearPendingOperations(const std::vector<WideString>&) {}
#endif
