// The HTTP/1.1 client under TZoHttp: GET into a stream, redirects, a cookie
// store per client object, keep-alive for the same host and port, plain and
// tunnelled proxying with Basic credentials, TLS through TZoTlsLayer, and
// progress events. It runs on the calling thread and blocks it.
#pragma once

#include <functional>
#include <memory>

#include "ZoHttpCookies.h"
#include "ZoHttpResponse.h"
#include "ZoHttpUrl.h"
#include "ZoStream.h"
#include "ZoTls.h"

enum TWorkMode { wmRead, wmWrite };

// An answer with an error status; the message is the response's status line.
class EZoHttpProtocolError : public Exception {
public:
    EZoHttpProtocolError(int code, WideString statusLine) : Exception(std::move(statusLine)), code_(code) {}
    int ErrorCode() const noexcept { return code_; }

private:
    int code_;
};

class TZoHttpClient {
public:
    using TWorkBeginEvent = std::function<void(TZoHttpClient* sender, TWorkMode mode, int32_t total)>;
    using TWorkEvent = std::function<void(TZoHttpClient* sender, TWorkMode mode, int32_t count)>;
    using TWorkEndEvent = std::function<void(TZoHttpClient* sender, TWorkMode mode)>;

    // Request header values; an empty value (or a negative length) is not sent.
    struct TRequestHeaders {
        AnsiString Accept = "text/html, */*";
        AnsiString CacheControl;
        AnsiString Connection;  // never sent on https
        AnsiString ContentType;
        int64_t ContentLength = -1;
        AnsiString UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    };
    // An empty server means a direct connection.
    struct TProxySettings {
        AnsiString Server;
        uint16_t Port = 0;
        AnsiString Username;
        AnsiString Password;
    };

    TZoHttpClient();
    ~TZoHttpClient();
    TZoHttpClient(const TZoHttpClient&) = delete;
    TZoHttpClient& operator=(const TZoHttpClient&) = delete;

    TRequestHeaders Request;
    TProxySettings Proxy;
    bool HandleRedirects = false;
    int RedirectMaximum = 15;  // exchanges per request, the first one included
    int ConnectTimeout = 0;    // milliseconds; 0: the system's own limit
    int ReadTimeout = 0;       // milliseconds per read; 0: none
    TZoTransferLimits Limits;  // body size and speed of every answer
    // Roots trusted besides the system's, as a PEM file (tests; OpenSSL only).
    AnsiString CaFile;

    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // Attaches a TLS layer (not owned) for https, or detaches it with null. A
    // redirect to https while none is attached uses a layer of the client's own.
    void SetTlsLayer(TZoTlsLayer* tls) { tls_ = tls; }
    TZoTlsLayer* TlsLayer() const { return tls_; }

    // GET of url (8-bit text) with the body written to dest. Raises on every
    // failure: EZoHttpProtocolError for an error status, EZoSocketError and
    // its kinds (EZoTlsCertificateError for a refused certificate,
    // EZoTransferTooSlow), EZoTlsLoadError, EZoHttpError for a broken or
    // oversized response and for a redirect to a location other than http or
    // https, or from https to http.
    void Get(const AnsiString& url, TStream& dest);

    // The last response's status line and code, and the URL it came from.
    const AnsiString& ResponseText() const { return responseText_; }
    int ResponseCode() const { return responseCode_; }
    const TZoUrl& Url() const { return url_; }
    // Null until the first response arrives.
    const TZoCookieStore* Cookies() const { return cookies_.get(); }

    // Closes a connection kept alive from an earlier request.
    void Disconnect();

private:
    struct TConnection;
    class TWorkAdapter;

    TZoHttpResponse Exchange(const TZoUrl& url, bool& connectAnswer);
    std::optional<TZoHttpResponse> Open(const TZoUrl& url, const AnsiString& key);
    TZoHttpResponse ReadFinalHead();
    AnsiString GetRequest(const TZoUrl& url) const;
    AnsiString ConnectRequest(const TZoUrl& url) const;
    AnsiString ProxyAuthorization() const;
    AnsiString ConnectionKey(const TZoUrl& url) const;
    void Finish(const TZoHttpResponse& response, const TZoBodyFraming& framing, bool complete);
    void TakeCookies(const TZoHttpResponse& response, const TZoUrl& url);
    int ReadWait() const { return ReadTimeout > 0 ? ReadTimeout : -1; }

    TZoTlsLayer* tls_ = nullptr;
    std::unique_ptr<TZoTlsLayer> ownTls_;
    std::unique_ptr<TConnection> connection_;
    std::unique_ptr<TZoCookieStore> cookies_;
    AnsiString responseText_;
    int responseCode_ = 0;
    TZoUrl url_;
};
