// Between the program's UTF-16 strings and the wide-character Windows API, and
// the few texts every Windows unit reads the same way: the system's reason for
// an error code, a string value of the registry, the one-argument switch.
#pragma once

#include <windows.h>

#include <optional>

#include "ZoTypes.h"

// WideString and the API's wchar_t strings are both UTF-16 on Windows.
inline const wchar_t* W(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline WideString U(const wchar_t* s) { return WideString(reinterpret_cast<const char16_t*>(s)); }

// The system's sentence for an error code (GetLastError, an HRESULT, a Winsock
// error) without its line break; empty when the system has none.
WideString SysErrorText(DWORD code);
// The same, or "System error.  Code: %s." when the system has no sentence.
WideString SysErrorMessage(DWORD code);

// A string value (REG_SZ or REG_EXPAND_SZ, unexpanded) of an open key; none
// when the value is missing, unreadable or of another type.
std::optional<WideString> ReadRegString(HKEY key, const WideString& name);

