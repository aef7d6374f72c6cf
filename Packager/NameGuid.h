// Resource names derived from the project: the same project and the same
// destination path give the same GUID on every build, so identical inputs
// give identical installers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "ZoTypes.h"

std::array<uint8_t, 20> Sha1(const uint8_t* data, size_t size);

// A name-based GUID (version 5, SHA-1) in registry form, "{XXXXXXXX-XXXX-...}",
// upper-case, from the project's GUID text and a name; both are compared
// without regard to letter case, as Windows paths and GUID texts are.
WideString NameBasedGuid(const WideString& projectGuid, const WideString& name);
