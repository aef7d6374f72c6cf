// Value conversions shared by the XML and JSON property walks (internal).
#pragma once

#include <optional>
#include <string_view>

#include "ZoXmlUtils.h"

// Appends UTF-8 bytes as UTF-16 (U+FFFD for malformed ones; a NUL ends the text).
void AppendUtf8(WideString& out, const char* data, size_t n);
// The same for text without references: false, with out unspecified, when an
// '&' is met.
bool AppendUtf8Plain(WideString& out, const char* data, size_t n);

namespace zo_persist {

// An assertion failure whose text is the property's type name.
[[noreturn]] void RaiseUnsupportedKind(const TPropInfo& p);
// Set bits as value names separated by commas.
AnsiString SetToText(const TPropInfo& p, int64_t bits);
// Names separated by commas (brackets allowed); none for an unknown name.
std::optional<int64_t> TextToSet(const TPropInfo& p, std::string_view text);
// Loads an ordinal kind from UTF-8 text by the load rules: unconvertible
// numbers leave the property, unknown enumeration names give ordinal 0.
void LoadOrdinal(const TPropInfo& p, TXmlPersistent& obj, std::string_view text);
// Plain decimal text of at most 18 digits; anything else is left to the full conversion.
std::optional<int64_t> FastInt(std::string_view text);
// Decimal text, enumeration name or set text of an ordinal property.
AnsiString OrdinalText(const TPropInfo& p, const TXmlPersistent& obj);

}  // namespace zo_persist
