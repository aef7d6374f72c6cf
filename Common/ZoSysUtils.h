// System utilities: path and string functions, conversions, the whole-buffer
// compression pair, and the declarations of the holder classes whose Windows
// side lives in ZoSysUtils_win.cpp.
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "ZoStream.h"
#include "ZoTypes.h"

// ---- Path and string functions ----------------------------------------------

// The parts one after another, in one allocation: smaller at each call than
// a chain of +, which builds and frees a temporary string per part.
WideString Concat(std::initializer_list<std::u16string_view> parts);

// Sorts places (indices) by a comparison of what they stand for. One copy of
// the library's sort serves every caller, where a sort with a comparison of
// each caller's own brings the whole sort with it.
using TPlaceLess = bool (*)(const void* context, uint32_t a, uint32_t b);
void SortPlaces(std::vector<uint32_t>& places, TPlaceLess less, const void* context);

WideString DirPart(const WideString& path);
WideString NamePart(const WideString& path);
WideString NameWithoutExt(const WideString& path);
WideString WithTrailingBackslash(const WideString& path);
WideString WithoutTrailingBackslash(const WideString& path);
bool DirExists(const WideString& path);
bool ForceDirs(const WideString& path);

WideString WideUpperCase(const WideString& text);  // ASCII letters only
WideString WideLowerCase(const WideString& text);  // ASCII letters only
// Unicode's simple case folding ("Ä" and "ä", "ẞ" and "ß", "Σ", "σ" and "ς"),
// from one table on every platform, so a name matches the same way on
// Windows and in the native build. The length in code units never changes.
WideString FoldCase(const WideString& text);
// Equality ignoring letter case, by FoldCase.
bool TextEquals(const WideString& a, const WideString& b);
WideString Trim(const WideString& text);

// printf-like; every caller uses %s only (%d is accepted for integers, %% for a percent sign).
// The arguments are views: a call passes its strings as they are, without copies.
WideString FormatText(std::u16string_view format, std::initializer_list<std::u16string_view> args);

enum TReplaceFlag : int { rfReplaceAll = 1, rfIgnoreCase = 2 };
WideString ReplaceText(const WideString& text, const WideString& oldText, const WideString& newText, int flags);

// Splits a command line as ArgAt/ArgCount do. Element 0 is the first word of
// the line (ArgAt(0) replaces it by the module file name).
std::vector<WideString> SplitCommandLine(const WideString& commandLine);
int ArgCount();
WideString ArgAt(int index);

AnsiString ToUtf8(const WideString& text);
WideString FromUtf8(const AnsiString& bytes);
inline WideString FromUtf8(const char* bytes) { return FromUtf8(AnsiString(bytes)); }

// The one UTF-8 reading of FromUtf8 and of the XML text: the code point that
// starts at s (n > 0 bytes left) and its length. A malformed, overlong or cut
// sequence, or an encoded surrogate, reads as U+FFFD one byte long.
inline uint32_t DecodeUtf8Point(const unsigned char* s, size_t n, size_t& len)
{
    const uint32_t c = s[0];
    len = 1;
    if (c < 0x80) return c;
    const size_t need = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (need < 2 || need > n) return 0xFFFD;
    uint32_t cp = c & (0xFFu >> (need + 1));
    for (size_t k = 1; k < need; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    len = need;
    return cp;
}

// Writes the code point as one or two UTF-16 code units at w; returns their end.
inline char16_t* PutUtf16(char16_t* w, uint32_t cp)
{
    if (cp < 0x10000) {
        *w++ = static_cast<char16_t>(cp);
        return w;
    }
    cp -= 0x10000;
    *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
    *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return w;
}
// ASCII-only conversions for text known to be ASCII (names, numbers).
AnsiString AsciiOf(const WideString& text);
WideString WideOf(const AnsiString& ascii);

// Integer conversion as the toolkit does it: optional blanks and sign, decimal,
// or hexadecimal with "$", "0x" or "x"; nothing after the digits.
std::optional<int32_t> TryStrToInt(const WideString& text);
std::optional<int64_t> TryStrToInt64(const WideString& text);
WideString IntToStr(int64_t value);
// Floats in the general format with 15 significant digits, '.' as separator.
WideString FloatToStrG15(double value);
// None for text that is not a number, and for a number a double cannot hold
// (1e400, 1e-400) or that is not finite.
std::optional<double> TryStrToFloat(const WideString& text);

// ---- Date-times: days since 30 December 1899, time of day as fraction ---------

using TDateTime = double;
struct TCalendarTime {
    int year, month, day, hour, minute, second, millisecond;
};
TDateTime EncodeDateTime(const TCalendarTime& t);
// Years 1 to 9999, as the toolkit and the system's calendar functions take
// them; none for anything else, and for values that are not finite.
std::optional<TCalendarTime> TryDecodeDateTime(TDateTime value);
// Raises EConvertError "Invalid date" where TryDecodeDateTime gives none.
TCalendarTime DecodeDateTime(TDateTime value);
// Seconds since the Unix epoch, interpreted in the local time zone.
TDateTime UnixTimeToLocalDateTime(int64_t unixSeconds);
TDateTime NowLocal();

// ---- Class-level holders -----------------------------------------------------

struct FileTimes {
    TDateTime CreationTime = 0;
    TDateTime LastWriteTime = 0;
    TDateTime LastAccessTime = 0;
};

class TZoSysfn {
public:
    TZoSysfn() = delete;
    // target := zlib stream (level 9, deflate, window 15, memory level 8,
    // default strategy) of the whole source; target is emptied first.
    static void CompressStream(TStream* source, TMemoryStream* target);
    // target := inflated whole source. Raises EDecompressionError "Error" on
    // damaged, truncated or foreign data and on output past 2 GiB, and one
    // naming the ceiling as soon as the output would pass limit bytes.
    static void DecompressStream(TStream* source, TMemoryStream* target, size_t limit = SIZE_MAX);
    static void WriteConsoleLine(const WideString& text);
};

class TZoFilefn {
public:
    TZoFilefn() = delete;
    static void ForceFileDir(const WideString& file);
    static WideString GetLongPath(const WideString& path);
    static bool SetFileTimes(const WideString& file, const FileTimes& times);
};

class TZoRegfn {
public:
    TZoRegfn() = delete;
    static WideString GetSpecialFolder(int csidl);
};

class TZoStrfn {
public:
    TZoStrfn() = delete;
    static WideString NewGuidString();
};
