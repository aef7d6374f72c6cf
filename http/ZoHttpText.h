// ASCII text helpers of the HTTP units: protocol elements are compared
// without case and trimmed of blanks, independent of any locale.
#pragma once

#include <string_view>

#include "ZoTypes.h"

namespace ZoHttpText {

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline AnsiString LowerCase(std::string_view s)
{
    AnsiString out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

inline bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

inline bool StartsText(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

inline bool ContainsText(std::string_view s, std::string_view part)
{
    if (part.size() > s.size()) return false;
    for (size_t i = 0; i + part.size() <= s.size(); ++i)
        if (SameText(s.substr(i, part.size()), part)) return true;
    return false;
}

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace ZoHttpText
