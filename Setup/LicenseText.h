// The user-agreement text from the bytes of its resource.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZoTypes.h"

// The text by its byte-order mark: FF FE UTF-16 LE, FE FF UTF-16 BE, EF BB BF
// UTF-8, none the system ANSI code page. An odd final UTF-16 byte is ignored.
// Lines broken by CR LF, CR, LF or U+2028 come back each ending in CR LF.
WideString DecodeLicenseText(const uint8_t* data, size_t size);
inline WideString DecodeLicenseText(const TBytes& bytes) { return DecodeLicenseText(bytes.data(), bytes.size()); }
