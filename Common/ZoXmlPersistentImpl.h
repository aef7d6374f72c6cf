// Value conversions shared by the XML and JSON property walks (internal).
#pragma once

#include <cstring>
#include <optional>
#include <string_view>

#include "ZoXmlUtils.h"

// Appends UTF-8 bytes as UTF-16 (U+FFFD for malformed ones; a NUL ends the text).
void AppendUtf8(WideString& out, const char* data, size_t n);
// out := text as UTF-16 when it holds no reference and no NUL (the common
// case, converted in one pass); false otherwise, with out unspecified.
bool DecodePlain(std::string_view text, WideString& out);
// Equality of bytes, for short names.
inline bool SameBytes(const char* a, const char* b, size_t n)
{
    auto word = [](const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    auto half = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    if (n >= 8) {
        // Whole words, the last one overlapping the one before.
        for (size_t i = 0; i + 8 < n; i += 8)
            if (word(a + i) != word(b + i)) return false;
        return word(a + n - 8) == word(b + n - 8);
    }
    if (n >= 4) return half(a) == half(b) && half(a + n - 4) == half(b + n - 4);
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// One name="value" pair of a tag, both still escaped.
struct TAttrSpan {
    std::string_view name, value;
};

// The tree's internals, for the parser and for a persistent object's load.
struct TXmlTreeAccess {
    // Parses bytes that outlive the document and stay unchanged while it
    // lives: the tree refers to them instead of a copy.
    static void ParseInPlace(TXmlDocument& doc, const char* data, size_t size);
    // Frees every text of the tree that owns its bytes.
    static void ReleaseOwnedTexts(TXmlNode& root);
    // Fills an empty list with attributes that refer to the spans' bytes.
    static void SetViews(TXmlAttributeList& list, const TAttrSpan* spans, size_t count);
};

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
