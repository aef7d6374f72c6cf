// The version resource (RT_VERSION): built from the product's version and
// texts, and read back for inspection.
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "ZoTypes.h"

struct TVersionInfo {
    std::array<uint16_t, 4> FileVersion{};     // major, minor, release, build
    std::array<uint16_t, 4> ProductVersion{};
    uint16_t Language = 0x0804;  // Chinese (Simplified)
    uint16_t CodePage = 1200;    // UTF-16
    // Name and text, in the order written ("CompanyName", "FileDescription", ...).
    std::vector<std::pair<WideString, WideString>> Strings;

    const WideString* Find(const WideString& name) const;
};

// Raises EPeFormatError when the texts make it longer than its 16-bit lengths hold.
TBytes BuildVersionResource(const TVersionInfo& info);
// Reads the fixed part, the first string table and the first translation;
// raises EPeFormatError for a damaged resource.
TVersionInfo ParseVersionResource(const TBytes& data);
