#include "ZoHttpUrl.h"

#include <vector>

#include "ZoHttpText.h"
#include "ZoSysUtils.h"

using namespace ZoHttpText;

namespace {

bool IsSchemeChar(char c, bool first)
{
    bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return alpha || (!first && (IsDigit(c) || c == '+' || c == '-' || c == '.'));
}

// The length of a leading "scheme://", or 0.
size_t SchemeLength(std::string_view s)
{
    size_t sep = s.find("://");
    if (sep == std::string_view::npos || sep == 0) return 0;
    for (size_t i = 0; i < sep; ++i)
        if (!IsSchemeChar(s[i], i == 0)) return 0;
    return sep;
}

std::string_view StripFragment(std::string_view s) { return s.substr(0, s.find('#')); }

std::string_view TrimSpaces(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Removes "." and ".." segments, as a browser does before it asks.
AnsiString RemoveDotSegments(std::string_view path)
{
    std::vector<std::string_view> out;
    bool trailingSlash = false;
    size_t pos = 1;  // path begins with "/"
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        std::string_view seg = path.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
        trailingSlash = false;
        if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailingSlash = true;
        } else if (seg == ".") {
            trailingSlash = true;
        } else {
            out.push_back(seg);
        }
        if (next == std::string_view::npos) break;
        pos = next + 1;
    }
    AnsiString result;
    for (std::string_view seg : out) {
        result += '/';
        result += seg;
    }
    if (trailingSlash || result.empty()) result += '/';
    return result;
}

}  // namespace

TZoUrl TZoUrl::Parse(const AnsiString& url)
{
    std::string_view s = StripFragment(TrimSpaces(url));
    TZoUrl u;
    if (size_t n = SchemeLength(s)) {
        u.Protocol = LowerCase(s.substr(0, n));
        s.remove_prefix(n + 3);
    }
    size_t authEnd = s.find_first_of("/?");
    std::string_view authority = s.substr(0, authEnd);
    std::string_view rest = authEnd == std::string_view::npos ? std::string_view() : s.substr(authEnd);
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) throw EZoHttpError(u"Invalid host in URL.");
        u.Host = AnsiString(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() == ':') port = after.substr(1);
    } else {
        size_t colon = authority.rfind(':');
        u.Host = AnsiString(authority.substr(0, colon));
        if (colon != std::string_view::npos) port = authority.substr(colon + 1);
    }

    for (char c : u.Host)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F || c == '/' || c == '\\')
            throw EZoHttpError(u"Invalid host in URL.");

    if (!port.empty()) {
        unsigned value = 0;
        bool ok = port.size() <= 5;
        for (char c : port) {
            if (!IsDigit(c)) ok = false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (!ok || value == 0 || value > 65535)
            throw EZoHttpError(u"Invalid port number: " + WideOf(AnsiString(port.substr(0, 16))));
        u.Port = static_cast<uint16_t>(value);
    } else if (u.Protocol == "http") {
        u.Port = 80;
    } else if (u.Protocol == "https") {
        u.Port = 443;
    } else {
        throw EZoHttpError(u"Unknown protocol: " + WideOf(u.Protocol.substr(0, 32)));
    }

    size_t q = rest.find('?');
    std::string_view path = rest.substr(0, q);
    if (!path.empty() && path.front() == '/') u.Path = AnsiString(path);
    if (q != std::string_view::npos) u.Query = AnsiString(rest.substr(q));
    return u;
}

AnsiString TZoUrl::HostLiteral() const
{
    if (Host.find(':') == AnsiString::npos) return Host;
    AnsiString out(1, '[');
    out += Host;
    out += ']';
    return out;
}

AnsiString TZoUrl::HostHeader() const
{
    return Port == 80 ? HostLiteral() : HostLiteral() + ":" + std::to_string(static_cast<long long>(Port));
}

AnsiString TZoUrl::Authority() const { return HostLiteral() + ":" + std::to_string(static_cast<long long>(Port)); }

AnsiString TZoUrl::Target() const
{
    static const char hex[] = "0123456789ABCDEF";
    AnsiString out;
    out.reserve(Path.size() + Query.size());
    for (std::string_view part : {std::string_view(Path), std::string_view(Query)}) {
        for (char c : part) {
            auto b = static_cast<unsigned char>(c);
            if (b <= 0x20 || b >= 0x7F) {
                out += '%';
                out += hex[b >> 4];
                out += hex[b & 15];
            } else {
                out += c;
            }
        }
    }
    return out;
}

AnsiString TZoUrl::Absolute() const
{
    bool defaultPort = (Protocol == "http" && Port == 80) || (Protocol == "https" && Port == 443);
    AnsiString out = Protocol + "://" + HostLiteral();
    if (!defaultPort) out += ":" + std::to_string(static_cast<long long>(Port));
    return out + Target();
}

TZoUrl TZoUrl::Resolve(const AnsiString& location) const
{
    std::string_view loc = StripFragment(TrimSpaces(location));
    if (SchemeLength(loc)) return Parse(AnsiString(loc));
    if (loc.substr(0, 2) == "//") return Parse(Protocol + ":" + AnsiString(loc));
    TZoUrl r = *this;
    if (loc.empty()) return r;
    size_t q = loc.find('?');
    std::string_view path = loc.substr(0, q);
    r.Query = q == std::string_view::npos ? AnsiString() : AnsiString(loc.substr(q));
    if (path.empty()) return r;  // only a new query
    if (path.front() == '/') {
        r.Path = RemoveDotSegments(path);
    } else {
        AnsiString base = Path.substr(0, Path.rfind('/') + 1);
        r.Path = RemoveDotSegments(base + AnsiString(path));
    }
    return r;
}
