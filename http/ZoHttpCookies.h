// The in-memory cookie store of one HTTP client object: filled from the
// Set-Cookie and Set-Cookie2 fields of every response and offered back on
// later requests of the same object. Nothing is ever written to disk.
#pragma once

#include <cstdint>
#include <vector>

#include "ZoHttpUrl.h"

struct TZoCookie {
    AnsiString Name;
    AnsiString Value;
    AnsiString Domain;  // lower case, no leading dot
    AnsiString Path;
    bool HostOnly = true;  // no Domain attribute: this host only
    bool Secure = false;
    int64_t Expires = -1;  // Unix seconds; -1 for a session cookie
    uint64_t Order = 0;    // creation order, kept when a cookie is replaced
};

class TZoCookieStore {
public:
    // A server cannot make the store grow without bound.
    static constexpr size_t kMaxCookies = 300;
    static constexpr size_t kMaxCookieBytes = 4096;

    // Takes every Set-Cookie and Set-Cookie2 field of a response to url.
    void AddFromResponse(const TZoHttpResponse& response, const TZoUrl& url, int64_t now);
    // One Set-Cookie value, or one Set-Cookie2 value (a comma-separated list).
    void SetCookie(const AnsiString& field, const TZoUrl& url, int64_t now);
    void SetCookie2(const AnsiString& field, const TZoUrl& url, int64_t now);

    // The Cookie header value for a request to url ("a=1; b=2"), longer paths
    // first; empty when no cookie matches.
    AnsiString CookieHeader(const TZoUrl& url, int64_t now) const;

    const std::vector<TZoCookie>& Cookies() const { return cookies_; }

private:
    void Store(TZoCookie cookie, int64_t now);
    std::vector<TZoCookie> cookies_;
    uint64_t nextOrder_ = 0;
};

// A cookie date ("Wed, 21 Oct 2015 07:28:00 GMT" and the older forms) as
// Unix seconds; -1 when it cannot be read.
int64_t ParseCookieDate(std::string_view text);
