// Internals shared by the XML units: text conversions, the scanning of tags,
// and the value conversions of the XML and JSON property walks.
#pragma once

#include <array>
#include <bit>
#include <cfloat>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "ZoSysUtils.h"
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

inline std::string_view AttributeName(const TXmlAttribute& a)
{
    return a.Name;
}
inline std::string_view AttributeName(const TAttrSpan& a)
{
    return a.name;
}

// The attribute a property loads from: the first of its name. Files written by
// this system list the attributes in property order, so the next unmatched
// one (at next) is tried first. Every attribute before it has matched an
// earlier property, of another name while inOrder (the class has no two
// properties of one name), so a hit there is also the first of that name.
template <class A>
inline const A* FindPropertyAttribute(std::span<const A> attrs, std::string_view name, size_t& next, bool& inOrder)
{
    if (inOrder && next < attrs.size()) {
        std::string_view n = AttributeName(attrs[next]);
        if (n.size() == name.size() && (SameBytes(n.data(), name.data(), n.size()) || XmlNameEquals(n, name)))
            return &attrs[next++];
    }
    for (const A& a : attrs) {
        if (XmlNameEquals(AttributeName(a), name)) {
            inOrder = false;
            return &a;
        }
    }
    return nullptr;
}

namespace zo_scan {

inline const char* FindByte(const char* from, const char* to, char c)
{
    if (from >= to) return nullptr;
    return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(to - from)));
}

// FindByte for a byte that is usually near: a plain loop over the first
// bytes saves the call on short names and the blanks between elements.
inline const char* FindNearByte(const char* from, const char* to, char c)
{
    const char* stop = to - from > 24 ? from + 24 : to;
    for (const char* p = from; p < stop; ++p)
        if (*p == c) return p;
    return FindByte(stop, to, c);
}

inline const char* FindText(const char* from, const char* to, std::string_view what)
{
    std::string_view hay(from, static_cast<size_t>(to - from));
    size_t at = hay.find(what);
    return at == std::string_view::npos ? nullptr : from + at;
}

// The first '"' or '>' in [from, to), or null.
inline const char* FindQuoteOrTagEnd(const char* from, const char* to)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i gt = _mm_set1_epi8('>');
    while (to - from >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, gt)));
        if (mask) return from + std::countr_zero(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    for (; from < to; ++from)
        if (*from == '"' || *from == '>') return from;
    return nullptr;
}


// Classes of bytes in a start tag written the way this system writes them.
enum : uint8_t { kNameByte = 0, kBlankByte = 1, kSpecialByte = 2 };
constexpr std::array<uint8_t, 256> kTagBytes = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c <= ' '; ++c) t[static_cast<size_t>(c)] = kBlankByte;
    for (char c : {'>', '/', '=', '"', '\''}) t[static_cast<unsigned char>(c)] = kSpecialByte;
    return t;
}();

inline uint8_t TagByte(char c)
{
    return kTagBytes[static_cast<unsigned char>(c)];
}

// The first byte in [from, to) that is not a name byte, or to.
inline const char* SkipNameBytes(const char* from, const char* to)
{
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(' ');
    while (to - from >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        __m128i stop = _mm_cmpeq_epi8(_mm_min_epu8(v, space), v);  // 32 or below
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8('=')));
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8('/')));
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
        int mask = _mm_movemask_epi8(stop);
        if (mask) return from + std::countr_zero(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    while (from < to && TagByte(*from) == kNameByte) ++from;
    return from;
}

constexpr size_t kMaxPlainAttributes = 64;

// Reads the start tag at p ('<' followed by a name byte) when it has the form
// this system writes: a name, blanks and name="value" pairs, then '>' or "/>",
// with names free of blanks, quotes, '=', '/' and '>', and values free of '>'.
// Returns its '>', or null for any other form, which the general rules then
// read (and raise its errors). For the forms it accepts both give the same
// name and attributes.
inline const char* ReadPlainStartTag(const char* p, const char* end, std::string_view& name, TAttrSpan* spans,
                              size_t& count)
{
    const char* q = SkipNameBytes(p + 1, end);
    if (q == p + 1 || q >= end) return nullptr;
    name = std::string_view(p + 1, static_cast<size_t>(q - p - 1));
    count = 0;
    if (*q == ' ') {
        for (;;) {
            if (end - q > 1 && q[0] == ' ' && TagByte(q[1]) != kBlankByte) ++q;  // the usual single blank
            while (q < end && TagByte(*q) == kBlankByte) ++q;
            if (q >= end) return nullptr;
            if (*q == '>' || *q == '/') break;
            const char* attrName = q;
            q = SkipNameBytes(q, end);
            if (q + 1 >= end || *q != '=' || q[1] != '"' || q == attrName || count == kMaxPlainAttributes)
                return nullptr;
            const char* close = FindQuoteOrTagEnd(q + 2, end);
            if (!close || *close != '"') return nullptr;
            spans[count++] = {std::string_view(attrName, static_cast<size_t>(q - attrName)),
                              std::string_view(q + 2, static_cast<size_t>(close - q - 2))};
            q = close + 1;
        }
    }
    if (*q == '>') return q;
    if (*q == '/' && q + 1 < end && q[1] == '>') return q + 1;
    return nullptr;
}

}  // namespace zo_scan

// The tree's internals, for the parser and for a persistent object's load.
struct TXmlTreeAccess {
    // Parses bytes that outlive the document and stay unchanged while it
    // lives: the tree refers to them instead of a copy.
    static void ParseInPlace(TXmlDocument& doc, const char* data, size_t size);
    // Frees every text of the tree that owns its bytes.
    static void ReleaseOwnedTexts(TXmlNode& root);
    // Fills an empty list with attributes that refer to the spans' bytes.
    static void SetViews(TXmlAttributeList& list, const TAttrSpan* spans, size_t count);
    // A new element in the document's arena, not yet in the tree.
    static TXmlNodePtr NewNode(TXmlDocument& doc, TXmlNode* parent) { return TXmlNodePtr(doc.NewNode(parent)); }
    // Appends a node made with the parent's allocator to its children.
    static TXmlNode* Adopt(TXmlNode& parent, TXmlNodePtr node) { return parent.Nodes.Adopt(std::move(node)); }

    // Reads the document [data, data + size) straight into the object when it
    // has a form the direct reading knows; false leaves everything unchanged
    // and the document to the tree.
    static bool LoadDirect(TXmlPersistent& object, const char* data, size_t size);
    // A list's item storage and the class its items must have.
    static std::vector<std::unique_ptr<TXmlPersistent>>& ListItems(TXmlObjectList& list) { return list.items_; }
    static const TClassInfo* ItemClass(const TXmlObjectList& list) { return list.ItemClass(); }
};

namespace zo_persist {

// An assertion failure whose text is the property's type name.
[[noreturn]] void RaiseUnsupportedKind(const TPropInfo& p);
// Set bits as value names separated by commas.
AnsiString SetToText(const TPropInfo& p, int64_t bits);
// Names separated by commas (brackets allowed); none for an unknown name.
std::optional<int64_t> TextToSet(const TPropInfo& p, std::string_view text);
// The value of an ordinal kind read from UTF-8 text by the load rules: none
// for a number that does not convert or an empty enumeration name, ordinal 0
// for an unknown name.
std::optional<int64_t> OrdinalOf(const TPropInfo& p, std::string_view text);
// Loads an ordinal kind from UTF-8 text by the load rules.
void LoadOrdinal(const TPropInfo& p, TXmlPersistent& obj, std::string_view text);
// The float conversion of the load: none when the text does not convert.
std::optional<double> FloatOf(std::string_view text);

// Eight ASCII digits at s as their value; false when one of them is not a digit.
inline bool EightDigits(const char* s, uint64_t& value)
{
    uint64_t v;
    std::memcpy(&v, s, 8);
    if constexpr (std::endian::native != std::endian::little) return false;
    // Each byte of 0x30 to 0x39 keeps 3 in its high half, also after adding 6.
    if (((v & 0xF0F0F0F0F0F0F0F0ull) | (((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) !=
        0x3333333333333333ull)
        return false;
    // Pairs, then fours, then all eight: the first digit is the lowest byte.
    v = (v & 0x0F0F0F0F0F0F0F0Full) * 2561 >> 8;
    v = (v & 0x00FF00FF00FF00FFull) * 6553601 >> 16;
    value = (v & 0x0000FFFF0000FFFFull) * 42949672960001ull >> 32;
    return true;
}

// Plain decimal text ([-]digits[.digits], at most 19 digits) whose digits make
// an integer below 2^53: its value is that integer divided by an exact power of
// ten, and one division rounds it exactly as the full conversion does.
inline std::optional<double> ExactDecimal(std::string_view text)
{
#if FLT_EVAL_METHOD == 0
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                         1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    const char* s = text.data();
    const char* end = s + text.size();
    bool negative = s < end && *s == '-';
    if (negative) ++s;
    auto isDigit = [](char c) { return static_cast<unsigned>(c - '0') <= 9; };
    uint64_t digits = 0;  // wraps past 19 digits, which are refused below
    auto readDigits = [&] {
        const char* first = s;
        uint64_t eight = 0;
        while (end - s >= 8 && EightDigits(s, eight)) {
            digits = digits * 100000000 + eight;
            s += 8;
        }
        while (s < end && isDigit(*s)) digits = digits * 10 + static_cast<uint64_t>(*s++ - '0');
        return static_cast<size_t>(s - first);
    };
    size_t wholeCount = readDigits();
    size_t fraction = 0;
    if (s < end && *s == '.') {
        ++s;
        fraction = readDigits();
        if (fraction == 0) return std::nullopt;
    }
    if (s != end || wholeCount == 0 || wholeCount + fraction > 19 || digits > (uint64_t{1} << 53)) return std::nullopt;
    double v = static_cast<double>(digits) / kPowers[fraction];
    return negative ? -v : v;
#else
    (void)text;
    return std::nullopt;
#endif
}
// An attribute's text as UTF-16: raw UTF-8 when isCData, else escaped text.
WideString WideText(std::string_view text, bool isCData);

// An '&' in the text: references to resolve before a conversion.
inline bool HasAmpersand(std::string_view text)
{
    size_t n = text.size();
    if (n > 16) return text.find('&') != std::string_view::npos;
    if (n >= 8) {
        // The first and the last 8 bytes, each tested for an '&' byte at once.
        auto hasAmp = [](const char* p) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            v ^= 0x2626262626262626ull;
            return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0;
        };
        return hasAmp(text.data()) || hasAmp(text.data() + n - 8);
    }
    for (char c : text)
        if (c == '&') return true;
    return false;
}

// Reads a scalar property's value from an attribute's text by the load rules
// and hands it to the sink (Wide, Ansi, Float or Ordinal); a text that does
// not convert gives nothing. Malformed references raise the XML layer's errors.
template <class Sink>
inline void ReadScalar(const TPropInfo& p, std::string_view text, bool isCData, Sink&& sink)
{
    switch (p.Kind) {
    case TPropKind::WString:
        sink.Wide(WideText(text, isCData));
        return;
    case TPropKind::String:
        sink.Ansi(ToUtf8(WideText(text, isCData)));
        return;
    default:
        break;
    }
    // The stored bytes serve unless they hold references to resolve.
    AnsiString decoded;
    if (!isCData && HasAmpersand(text)) {
        decoded = ToUtf8(XmlDecode(text));
        text = decoded;
    }
    if (p.Kind == TPropKind::Float) {
        if (auto v = FloatOf(text)) sink.Float(*v);
    } else if (auto v = OrdinalOf(p, text)) {
        sink.Ordinal(*v);
    }
}

// The sink that stores into the object at once.
struct TStoreSink {
    const TPropInfo& p;
    TXmlPersistent& obj;
    void Wide(WideString&& v) const { p.SetWStr(obj, std::move(v)); }
    void Ansi(AnsiString&& v) const { p.SetStr(obj, std::move(v)); }
    void Float(double v) const { p.SetFloat(obj, v); }
    void Ordinal(int64_t v) const { p.SetOrd(obj, v); }
};
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
