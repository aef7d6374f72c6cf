#include "ZoHttpCookies.h"

#include <algorithm>

#include "ZoHttpText.h"
#include "ZoSysUtils.h"

using namespace ZoHttpText;

namespace {

bool IsIpAddress(std::string_view host)
{
    if (host.find(':') != std::string_view::npos) return true;  // IPv6
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return IsDigit(c) || c == '.'; });
}

bool DomainMatches(std::string_view host, std::string_view domain)
{
    if (SameText(host, domain)) return true;
    if (IsIpAddress(host) || domain.empty() || host.size() <= domain.size()) return false;
    return host[host.size() - domain.size() - 1] == '.' && SameText(host.substr(host.size() - domain.size()), domain);
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath)
{
    if (requestPath == cookiePath) return true;
    if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

AnsiString DefaultPath(const AnsiString& requestPath)
{
    size_t slash = requestPath.rfind('/');
    if (slash == AnsiString::npos || slash == 0) return "/";
    return requestPath.substr(0, slash);
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    auto yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool ParseNumber(std::string_view s, size_t minDigits, size_t maxDigits, int& value)
{
    if (s.size() < minDigits || s.size() > maxDigits || !std::all_of(s.begin(), s.end(), IsDigit)) return false;
    value = 0;
    for (char c : s) value = value * 10 + (c - '0');
    return true;
}

// Splits a Set-Cookie2 value at the commas that are not inside quotes.
std::vector<std::string_view> SplitCookieList(std::string_view s)
{
    std::vector<std::string_view> out;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') quoted = !quoted;
        if (s[i] == ',' && !quoted) {
            out.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(s.substr(start));
    return out;
}

}  // namespace

int64_t ParseCookieDate(std::string_view text)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    int hour = -1, minute = 0, second = 0, day = -1, month = -1, year = -1;
    size_t i = 0;
    while (i < text.size()) {
        auto isDelim = [](char c) {
            return !(IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':');
        };
        while (i < text.size() && isDelim(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !isDelim(text[i])) ++i;
        std::string_view token = text.substr(start, i - start);
        if (token.empty()) break;
        // Leading digits decide numeric tokens; trailing letters are ignored.
        size_t digits = 0;
        while (digits < token.size() && IsDigit(token[digits])) ++digits;
        if (hour < 0 && token.find(':') != std::string_view::npos) {
            size_t c1 = token.find(':'), c2 = token.find(':', c1 + 1);
            int h, m, s = 0;
            if (c2 != std::string_view::npos && ParseNumber(token.substr(0, c1), 1, 2, h) &&
                ParseNumber(token.substr(c1 + 1, c2 - c1 - 1), 1, 2, m) &&
                ParseNumber(token.substr(c2 + 1, std::min<size_t>(2, token.size() - c2 - 1)), 1, 2, s)) {
                hour = h, minute = m, second = s;
                continue;
            }
        }
        int n;
        if (day < 0 && ParseNumber(token.substr(0, digits), 1, 2, n) && digits > 0) {
            day = n;
            continue;
        }
        if (month < 0 && token.size() >= 3) {
            AnsiString m = LowerCase(token.substr(0, 3));
            for (int k = 0; k < 12; ++k)
                if (m == months[k]) month = k + 1;
            if (month > 0) continue;
        }
        if (year < 0 && ParseNumber(token.substr(0, digits), 2, 4, n)) {
            year = n;
            continue;
        }
    }
    if (year >= 70 && year <= 99) year += 1900;
    if (year >= 0 && year <= 69) year += 2000;
    if (hour < 0 || day < 1 || day > 31 || month < 1 || year < 1601 || hour > 23 || minute > 59 || second > 59)
        return -1;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
           minute * 60 + second;
}

void TZoCookieStore::SetCookie(const AnsiString& field, const TZoUrl& url, int64_t now)
{
    std::string_view rest(field);
    size_t semi = rest.find(';');
    std::string_view pair = rest.substr(0, semi);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return;
    TZoCookie c;
    c.Name = AnsiString(Trim(pair.substr(0, eq)));
    c.Value = AnsiString(Trim(pair.substr(eq + 1)));
    if (c.Name.empty() || c.Name.size() + c.Value.size() > kMaxCookieBytes) return;
    // Control characters would end up inside our own request head.
    auto isControl = [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; };
    if (std::any_of(field.begin(), field.end(), isControl)) return;
    c.Domain = LowerCase(url.Host);
    c.Path = DefaultPath(url.Path);

    bool haveMaxAge = false;
    while (semi != std::string_view::npos) {
        rest.remove_prefix(semi + 1);
        semi = rest.find(';');
        std::string_view attr = rest.substr(0, semi);
        size_t aeq = attr.find('=');
        std::string_view name = Trim(attr.substr(0, aeq));
        std::string_view value = aeq == std::string_view::npos ? std::string_view() : Trim(attr.substr(aeq + 1));
        if (SameText(name, "Max-Age")) {
            std::string_view digits = value.substr(!value.empty() && value.front() == '-');
            if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) continue;
            haveMaxAge = true;
            if (value.front() == '-') {
                c.Expires = 0;
            } else {
                int64_t seconds = digits.size() > 12 ? int64_t{999999999999} : std::stoll(AnsiString(digits));
                c.Expires = seconds == 0 ? 0 : now + seconds;
            }
        } else if (SameText(name, "Expires")) {
            int64_t t = ParseCookieDate(value);
            if (t >= 0 && !haveMaxAge) c.Expires = t;
        } else if (SameText(name, "Domain")) {
            if (!value.empty() && value.front() == '.') value.remove_prefix(1);
            if (value.empty()) continue;
            AnsiString domain = LowerCase(value);
            if (!DomainMatches(url.Host, domain)) return;  // a domain the server does not own
            c.Domain = domain;
            c.HostOnly = SameText(domain, url.Host);
        } else if (SameText(name, "Path")) {
            if (!value.empty() && value.front() == '/') c.Path = AnsiString(value);
        } else if (SameText(name, "Secure")) {
            c.Secure = true;
        }
    }
    Store(std::move(c), now);
}

void TZoCookieStore::SetCookie2(const AnsiString& field, const TZoUrl& url, int64_t now)
{
    for (std::string_view item : SplitCookieList(field)) SetCookie(AnsiString(Trim(item)), url, now);
}

void TZoCookieStore::Store(TZoCookie cookie, int64_t now)
{
    auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const TZoCookie& c) {
        return c.Name == cookie.Name && c.Domain == cookie.Domain && c.Path == cookie.Path;
    });
    bool expired = cookie.Expires >= 0 && cookie.Expires <= now;
    if (same != cookies_.end()) {
        if (expired) {
            cookies_.erase(same);
        } else {
            cookie.Order = same->Order;
            *same = std::move(cookie);
        }
        return;
    }
    if (expired) return;
    cookie.Order = nextOrder_++;
    if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());  // the oldest
    cookies_.push_back(std::move(cookie));
}

void TZoCookieStore::AddFromResponse(const TZoHttpResponse& response, const TZoUrl& url, int64_t now)
{
    for (const TZoHttpHeader& h : response.Headers) {
        if (SameText(h.Name, "Set-Cookie"))
            SetCookie(h.Value, url, now);
        else if (SameText(h.Name, "Set-Cookie2"))
            SetCookie2(h.Value, url, now);
    }
}

AnsiString TZoCookieStore::CookieHeader(const TZoUrl& url, int64_t now) const
{
    std::vector<uint32_t> matching;  // places in cookies_
    for (size_t i = 0; i < cookies_.size(); ++i) {
        const TZoCookie& c = cookies_[i];
        if (c.Expires >= 0 && c.Expires <= now) continue;
        if (c.Secure && !url.IsHttps()) continue;
        bool hostOk = c.HostOnly ? SameText(url.Host, c.Domain) : DomainMatches(url.Host, c.Domain);
        if (hostOk && PathMatches(url.Path, c.Path)) matching.push_back(static_cast<uint32_t>(i));
    }
    // Every stored cookie has an order of its own, so the order is total and a
    // plain sort gives what a stable one would.
    SortPlaces(matching, [](const void* context, uint32_t a, uint32_t b) {
        const auto& cookies = *static_cast<const std::vector<TZoCookie>*>(context);
        const TZoCookie& x = cookies[a];
        const TZoCookie& y = cookies[b];
        if (x.Path.size() != y.Path.size()) return x.Path.size() > y.Path.size();
        return x.Order < y.Order;
    }, &cookies_);
    AnsiString out;
    for (uint32_t i : matching) {
        const TZoCookie& c = cookies_[i];
        if (!out.empty()) out += "; ";
        out += c.Name;
        out += '=';
        out += c.Value;
    }
    return out;
}
