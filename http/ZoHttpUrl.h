// URLs as the HTTP client uses them: 8-bit text split into protocol, host,
// port, path and query, and the resolution of redirect locations.
#pragma once

#include <cstdint>

#include "ZoHttpResponse.h"

struct TZoUrl {
    AnsiString Protocol = "http";  // lower case
    AnsiString Host;               // an IPv6 address without its brackets
    uint16_t Port = 80;
    AnsiString Path = "/";  // begins with "/"
    AnsiString Query;       // empty, or begins with "?"

    // The protocol defaults to http, the port to 80 for http and 443 for
    // https; a URL of another protocol needs a port. The fragment is dropped.
    // Raises EZoHttpError for an unknown protocol without a port or a bad port.
    static TZoUrl Parse(const AnsiString& url);

    bool IsHttps() const { return Protocol == "https"; }
    // The host as written in a request: IPv6 addresses in brackets.
    AnsiString HostLiteral() const;
    // The Host header: the host, and ":port" whenever the port is not 80.
    AnsiString HostHeader() const;
    // host:port, the target of a CONNECT.
    AnsiString Authority() const;
    // Path and query as sent on the request line, with blanks, control
    // characters and 8-bit bytes percent-encoded.
    AnsiString Target() const;
    // The absolute form, the request target through a proxy.
    AnsiString Absolute() const;

    // A redirect location: absolute, scheme-relative ("//host/..."), an
    // absolute path, a query, or a path relative to this URL's path.
    TZoUrl Resolve(const AnsiString& location) const;
};
