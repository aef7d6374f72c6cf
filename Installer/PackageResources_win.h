// Access to the encoded RCDATA resources of an installer file: the program's
// own file from start-up on, or a downloaded full package.
#pragma once

#include <windows.h>

#include "PackageFormat.h"
#include "ZoStream.h"
#include "ZoTypes.h"


// True when the module holds an RCDATA resource of that name; nothing is loaded.
bool HasPackageResource(HMODULE module, const AnsiString& name);
// target := the decoded resource. Raises EResNotFound "Resource %s not found"
// when absent; decoding errors propagate.
bool ReadPackageResource(HMODULE module, const WideString& name, TMemoryStream* target);
// The program's own executable file loaded as a module (LoadLibraryW of ArgAt(0)).
HMODULE OpenOwnModule();
