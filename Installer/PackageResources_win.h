// Access to the encoded RCDATA resources of an installer file: the program's
// own file from start-up on, or a downloaded full package.
#pragma once

#include <windows.h>

#include "ZoStream.h"
#include "ZoTypes.h"

// Program-wide resource names (RCDATA, looked up as 8-bit names, braces included).
inline constexpr const char* FullScriptResource = "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}";
inline constexpr const char* OnlineScriptResource = "{F907FF9D-0131-45D9-9469-A2CD78FB4793}";
inline constexpr const char* FileDataResource = "{24B4534B-E580-4F42-BEAB-A2818FDE92C0}";

// True when the module holds an RCDATA resource of that name; nothing is loaded.
bool HasPackageResource(HMODULE module, const AnsiString& name);
// target := the decoded resource. Raises EResNotFound "Resource %s not found"
// when absent; decoding errors propagate.
bool ReadPackageResource(HMODULE module, const WideString& name, TMemoryStream* target);
// The program's own executable file loaded as a module (LoadLibraryW of ArgAt(0)).
HMODULE OpenOwnModule();
