// Value conversions shared by the XML and JSON property walks (internal).
#pragma once

#include <bit>
#include <cstring>
#include <optional>
#include <string_view>

#include "ZoXmlUtils.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Appends UTF-8 bytes as UTF-16 (U+FFFD for malformed ones; a NUL ends the text).
void AppendUtf8(WideString& out, const char* data, size_t n);
// Widens the ASCII bytes at the start of s (at most n) into w, stopping before
// the first byte that is not ASCII, is a NUL or (with StopAtAmp) an '&'.
// Returns the number of bytes widened.
template <bool StopAtAmp>
inline size_t WidenAscii(char16_t* w, const unsigned char* s, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i amp = _mm_set1_epi8('&');
    while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i stop = _mm_cmpeq_epi8(v, zero);
        if constexpr (StopAtAmp) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, amp));
        // The sign bit marks bytes of 0x80 and above.
        int mask = _mm_movemask_epi8(_mm_or_si128(stop, v));
        if (mask) {
            int k = std::countr_zero(static_cast<unsigned>(mask));
            for (int j = 0; j < k; ++j) w[i + static_cast<size_t>(j)] = s[i + static_cast<size_t>(j)];
            return i + static_cast<size_t>(k);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i + 8), _mm_unpackhi_epi8(v, zero));
        i += 16;
    }
    // The rest in one step when it is all plain: the last 16 bytes, or for a
    // shorter text the first and the last 8, overlapping bytes already done,
    // which are written again unchanged.
    auto plain = [&](__m128i v) {
        __m128i stop = _mm_cmpeq_epi8(v, zero);
        if constexpr (StopAtAmp) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, amp));
        return _mm_or_si128(stop, v);
    };
    if (n >= 16) {
        if (i == n) return n;
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 16));
        if (_mm_movemask_epi8(plain(v)) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w + n - 16), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w + n - 8), _mm_unpackhi_epi8(v, zero));
            return n;
        }
    } else if (n >= 8) {
        __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
        __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + n - 8));
        if ((_mm_movemask_epi8(_mm_or_si128(plain(head), plain(tail))) & 0xFF) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(head, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w + n - 8), _mm_unpacklo_epi8(tail, zero));
            return n;
        }
    }
#endif
    for (; i < n; ++i) {
        unsigned char c = s[i];
        if (c >= 0x80 || c == 0 || (StopAtAmp && c == '&')) break;
        w[i] = c;
    }
    return i;
}

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
inline std::optional<int64_t> FastInt(std::string_view text)
{
    size_t i = 0;
    bool negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    if (i == text.size() || text.size() - i > 18) return std::nullopt;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (digit > 9) return std::nullopt;
        v = v * 10 + digit;
    }
    return negative ? -v : v;
}
// Decimal text, enumeration name or set text of an ordinal property.
AnsiString OrdinalText(const TPropInfo& p, const TXmlPersistent& obj);

}  // namespace zo_persist
