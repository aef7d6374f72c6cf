// Portable part of the system utilities: path and string functions,
// conversions, date-times and the compression pair.
#include "ZoSysUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "ZoCaseFoldTable.h"
#include "ZoCodec.h"
#include "ZoDecimal.h"
#include "ZoPlatform.h"

static const char* const kUnit = "Common/ZoSysUtils";

// ---- Paths -----------------------------------------------------------------

static size_t LastDelimiter(const WideString& path)
{
    return path.find_last_of(u"\\:");
}

WideString DirPart(const WideString& path)
{
    size_t i = LastDelimiter(path);
    return i == WideString::npos ? WideString() : path.substr(0, i + 1);
}

WideString NamePart(const WideString& path)
{
    size_t i = LastDelimiter(path);
    return i == WideString::npos ? path : path.substr(i + 1);
}

WideString NameWithoutExt(const WideString& path)
{
    WideString name = NamePart(path);
    size_t dot = name.rfind(u'.');
    return dot == WideString::npos ? name : name.substr(0, dot);
}

WideString Concat(std::initializer_list<std::u16string_view> parts)
{
    size_t size = 0;
    for (std::u16string_view part : parts) size += part.size();
    WideString result;
    result.reserve(size);
    for (std::u16string_view part : parts) result += part;
    return result;
}

void SortPlaces(std::vector<uint32_t>& places, TPlaceLess less, const void* context)
{
    std::sort(places.begin(), places.end(), [less, context](uint32_t a, uint32_t b) { return less(context, a, b); });
}

WideString WithTrailingBackslash(const WideString& path)
{
    if (!path.empty() && path.back() == u'\\') return path;
    return path + u'\\';
}

WideString WithoutTrailingBackslash(const WideString& path)
{
    if (!path.empty() && path.back() == u'\\') return path.substr(0, path.size() - 1);
    return path;
}

bool DirExists(const WideString& path)
{
    return ZoPlatform::DirectoryExists(path);
}

bool ForceDirs(const WideString& path)
{
    if (path.empty()) throw EInOutError(u"Unable to create directory");
    WideString rest = WithoutTrailingBackslash(path);
    // A drive ("C:") or the root needs no creation; any other name does, however short.
    const bool root = rest.empty() || (rest.size() == 2 && rest[1] == u':');
    if (root || DirExists(rest)) return true;
    WideString parent = DirPart(rest);
    if (parent == rest) return true;
    // A parent that is empty (a relative name) needs no creation.
    if (!parent.empty() && !ForceDirs(parent)) return false;
    return ZoPlatform::CreateDir(rest) || DirExists(rest);
}

// ---- Strings -----------------------------------------------------------------

WideString WideUpperCase(const WideString& text)
{
    WideString r = text;
    for (auto& c : r)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return r;
}

WideString WideLowerCase(const WideString& text)
{
    WideString r = text;
    for (auto& c : r)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return r;
}

static uint32_t FoldCodePoint(uint32_t c)
{
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    // The last run that starts at or before c.
    const TCaseFoldRun* run = std::upper_bound(std::begin(kCaseFoldRuns), std::end(kCaseFoldRuns), c,
                                               [](uint32_t v, const TCaseFoldRun& r) { return v < r.first; });
    if (run == std::begin(kCaseFoldRuns)) return c;
    --run;
    uint32_t offset = c - run->first;
    if (offset % run->stride != 0 || offset / run->stride >= run->count) return c;
    return static_cast<uint32_t>(static_cast<int64_t>(c) + run->delta);
}

WideString FoldCase(const WideString& text)
{
    WideString r = text;
    for (size_t i = 0; i < r.size(); ++i) {
        char16_t c = r[i];
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z') r[i] = static_cast<char16_t>(c + 32);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < r.size() && r[i + 1] >= 0xDC00 && r[i + 1] <= 0xDFFF) {
            uint32_t f = FoldCodePoint(0x10000 + ((c - 0xD800u) << 10) + (r[i + 1] - 0xDC00u)) - 0x10000;
            r[i] = static_cast<char16_t>(0xD800 + (f >> 10));
            r[++i] = static_cast<char16_t>(0xDC00 + (f & 0x3FF));
        } else {
            r[i] = static_cast<char16_t>(FoldCodePoint(c));
        }
    }
    return r;
}

bool TextEquals(const WideString& a, const WideString& b)
{
    return a.size() == b.size() && (a == b || FoldCase(a) == FoldCase(b));
}

WideString Trim(const WideString& text)
{
    size_t b = 0, e = text.size();
    while (b < e && text[b] <= u' ') ++b;
    while (e > b && text[e - 1] <= u' ') --e;
    return text.substr(b, e - b);
}

WideString FormatText(std::u16string_view format, std::initializer_list<std::u16string_view> args)
{
    WideString out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char16_t c = format[i];
        if (c == u'%' && i + 1 < format.size()) {
            char16_t d = format[i + 1];
            if (d == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (d == u's' || d == u'd') {
                if (next < args.size()) out += args.begin()[next];
                ++next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

WideString ReplaceText(const WideString& text, const WideString& oldText, const WideString& newText, int flags)
{
    if (oldText.empty()) return text;
    const bool ignoreCase = flags & rfIgnoreCase;
    // Folding keeps every character's length, so positions in hay are positions in text.
    const WideString hay = ignoreCase ? FoldCase(text) : text;
    const WideString needle = ignoreCase ? FoldCase(oldText) : oldText;
    WideString out;
    size_t from = 0;
    while (true) {
        size_t at = hay.find(needle, from);
        if (at == WideString::npos) break;
        out.append(text, from, at - from);
        out += newText;
        from = at + needle.size();
        if (!(flags & rfReplaceAll)) break;
    }
    out.append(text, from, WideString::npos);
    return out;
}

std::vector<WideString> SplitCommandLine(const WideString& line)
{
    std::vector<WideString> args;
    size_t i = 0, n = line.size();
    auto isBlank = [](char16_t c) { return c >= 1 && c <= 32; };
    while (true) {
        while (i < n) {
            if (isBlank(line[i])) {
                ++i;
            } else if (line[i] == u'"' && i + 1 < n && line[i + 1] == u'"' &&
                       (i + 2 >= n || isBlank(line[i + 2]))) {
                i += 2;  // an empty quoted pair between arguments
            } else {
                break;
            }
        }
        if (i >= n) break;
        WideString arg;
        while (i < n && !isBlank(line[i])) {
            if (line[i] == u'"') {
                ++i;
                while (i < n && line[i] != u'"') arg += line[i++];
                if (i < n) ++i;
            } else {
                arg += line[i++];
            }
        }
        if (arg.empty()) break;  // counting stops at the first empty argument
        args.push_back(std::move(arg));
    }
    return args;
}

int ArgCount()
{
    auto args = SplitCommandLine(ZoPlatform::CommandLine());
    return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

WideString ArgAt(int index)
{
    if (index == 0) return ZoPlatform::ModuleFileName();
    auto args = SplitCommandLine(ZoPlatform::CommandLine());
    if (index < 0 || static_cast<size_t>(index) >= args.size()) return WideString();
    return args[static_cast<size_t>(index)];
}

AnsiString ToUtf8(const WideString& text)
{
    AnsiString out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c == 0) break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

WideString FromUtf8(const AnsiString& bytes)
{
    // Never more code units than bytes; the text ends at the first NUL.
    WideString out(bytes.size(), u'\0');
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    char16_t* w = out.data();
    for (size_t i = 0, n = bytes.size(), len = 0; i < n && s[i] != 0; i += len)
        w = PutUtf16(w, DecodeUtf8Point(s + i, n - i, len));
    out.resize(static_cast<size_t>(w - out.data()));
    return out;
}

AnsiString AsciiOf(const WideString& text)
{
    AnsiString out(text.size(), '?');
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] < 0x80) out[i] = static_cast<char>(text[i]);
    return out;
}

WideString WideOf(const AnsiString& ascii)
{
    WideString out(ascii.size(), u'?');
    for (size_t i = 0; i < ascii.size(); ++i) out[i] = static_cast<unsigned char>(ascii[i]);
    return out;
}

std::optional<int64_t> TryStrToInt64(const WideString& text)
{
    size_t i = 0, n = text.size();
    while (i < n && text[i] == u' ') ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    }
    if (i >= n) return std::nullopt;
    uint64_t value = 0;
    for (; i < n; ++i) {
        char16_t c = text[i];
        int d = c >= u'0' && c <= u'9' ? c - u'0'
              : base == 16 && c >= u'a' && c <= u'f' ? c - u'a' + 10
              : base == 16 && c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
        if (d < 0) return std::nullopt;
        if (value > (std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    // Hexadecimal may fill all 64 bits (as the toolkit allows); decimal must fit the sign.
    if (base == 10) {
        if (!negative && value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        if (negative && value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return std::nullopt;
    }
    int64_t v = static_cast<int64_t>(value);
    return negative ? static_cast<int64_t>(0 - value) : v;
}

std::optional<int32_t> TryStrToInt(const WideString& text)
{
    auto v = TryStrToInt64(text);
    if (!v) return std::nullopt;
    bool hex = text.find_first_of(u"$xX") != WideString::npos;
    if (hex) {
        // Hexadecimal fills 32 bits: $FFFFFFFF is -1.
        if (*v < std::numeric_limits<int32_t>::min() || *v > static_cast<int64_t>(0xFFFFFFFFu)) return std::nullopt;
        return static_cast<int32_t>(static_cast<uint32_t>(*v));
    }
    if (*v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(*v);
}

WideString IntToStr(int64_t value)
{
    return WideOf(std::to_string(value));
}

WideString FloatToStrG15(double value)
{
    // As printf's "%.15G" with the exponent written without '+' and leading zeros,
    // except that 0.00001 up to 0.0001 stay fixed-point too.
    if (std::isnan(value)) return u"NAN";
    if (std::isinf(value)) return value > 0 ? u"INF" : u"-INF";
    AnsiString s = std::signbit(value) ? "-" : "";
    if (value == 0) return WideOf(s + "0");
    double a = std::fabs(value);
    int x = 0;
    AnsiString digits = ZoDecimal::SignificantDigits(a, 15, x);
    auto trimmed = [](AnsiString t) {
        if (t.find('.') == AnsiString::npos) return t;
        while (t.back() == '0') t.pop_back();
        if (t.back() == '.') t.pop_back();
        return t;
    };
    if ((a >= 1e-5 && a < 1e-4) || (x >= -4 && x < 15)) {
        if (x < 0) s += trimmed("0." + AnsiString(static_cast<size_t>(-x - 1), '0') + digits);
        else s += trimmed(digits.substr(0, static_cast<size_t>(x) + 1) + "." + digits.substr(static_cast<size_t>(x) + 1));
    } else {
        s += trimmed(digits.substr(0, 1) + "." + digits.substr(1)) + "E" + (x < 0 ? "-" : "") + std::to_string(static_cast<long long>(x < 0 ? -x : x));
    }
    return WideOf(s);
}

std::optional<double> TryStrToFloat(const WideString& text)
{
    WideString t = Trim(text);
    if (t.empty()) return std::nullopt;
    AnsiString a;
    for (char16_t c : t) {
        if (!((c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'+' || c == u'E' || c == u'e'))
            return std::nullopt;
        a += static_cast<char>(c);
    }
    return ZoDecimal::Parse(a);
}

// ---- Date-times --------------------------------------------------------------

static int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days since 1970-01-01
}

static const int64_t kDelphiEpochOffset = 25569;  // 1970-01-01 as a day count since 1899-12-30

TDateTime EncodeDateTime(const TCalendarTime& t)
{
    double days = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) + kDelphiEpochOffset);
    double frac = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / 86400000.0;
    // Before the epoch the fraction counts away from zero, as the toolkit stores it.
    return days >= 0 ? days + frac : days - frac;
}

// 0001-01-01 and the end of 9999-12-31 as day counts.
static const double kMinDateTime = -693593.0, kMaxDateTimeEnd = 2958466.0;

TCalendarTime DecodeDateTime(TDateTime value)
{
    if (std::optional<TCalendarTime> t = TryDecodeDateTime(value)) return *t;
    throw EConvertError(u"Invalid date");
}

std::optional<TCalendarTime> TryDecodeDateTime(TDateTime value)
{
    if (!std::isfinite(value) || value <= kMinDateTime - 1 || value >= kMaxDateTimeEnd) return std::nullopt;
    double whole = std::trunc(value);
    double frac = std::fabs(value - whole);
    int64_t ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
    if (ms >= 86400000) ms = 86399999;
    int64_t z = static_cast<int64_t>(whole) - kDelphiEpochOffset + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    TCalendarTime t{};
    t.year = static_cast<int>(y + (m <= 2));
    t.month = m;
    t.day = d;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

TDateTime UnixTimeToLocalDateTime(int64_t unixSeconds)
{
    std::time_t tt = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &tt);
#else
    localtime_r(&tt, &local);
#endif
    return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec, 0});
}

TDateTime NowLocal()
{
    return UnixTimeToLocalDateTime(static_cast<int64_t>(std::time(nullptr)));
}

// ---- Compression pair --------------------------------------------------------

namespace {
TBytes ReadWhole(TStream* source)
{
    source->SetPosition(0);
    int64_t n = source->Size();
    TBytes in;
    if (n <= 0) return in;
    in.resize(static_cast<size_t>(n));
    in.resize(source->Read(in.data(), in.size()));
    return in;
}
}  // namespace

void TZoSysfn::CompressStream(TStream* source, TMemoryStream* target)
{
    ZO_ASSERT(source != nullptr && target != nullptr, kUnit);
    target->Clear();
    TBytes in = ReadWhole(source);
    TBytes out = ZoCodec::Deflate(in.data(), in.size());
    target->WriteBuffer(out.data(), out.size());
}

void TZoSysfn::DecompressStream(TStream* source, TMemoryStream* target, size_t limit)
{
    ZO_ASSERT(source != nullptr && target != nullptr, kUnit);
    target->Clear();
    // A memory stream is inflated where it lies; any other stream is read first.
    TBytes copy;
    std::span<const uint8_t> in;
    if (auto* memory = source ? source->AsMemoryStream() : nullptr) {
        in = {memory->Memory(), memory->Bytes().size()};
        memory->SetPosition(static_cast<int64_t>(in.size()));
    } else {
        copy = ReadWhole(source);
        in = copy;
    }
    try {
        ZoCodec::InflateInto(in, target->Bytes(), limit);
    } catch (...) {
        target->Clear();
        throw;
    }
    target->SetPosition(static_cast<int64_t>(target->Bytes().size()));
}

// ---- Holders served through the platform layer ------------------------------

void TZoFilefn::ForceFileDir(const WideString& file)
{
    WideString dir = DirPart(file);
    if (!dir.empty() && !DirExists(dir)) ForceDirs(dir);
}

WideString TZoFilefn::GetLongPath(const WideString& path)
{
    return ZoPlatform::LongPathName(path);
}

WideString TZoRegfn::GetSpecialFolder(int csidl)
{
    WideString path = ZoPlatform::SpecialFolderPath(csidl);
    return path.empty() ? WideString() : WithTrailingBackslash(path);
}

WideString TZoStrfn::NewGuidString()
{
    return ZoPlatform::NewGuid();
}
