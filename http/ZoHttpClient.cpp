#include "ZoHttpClient.h"

#include <climits>
#include <ctime>

#include "ZoHttpText.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

using namespace ZoHttpText;

namespace {

// Bodies of redirects and error answers are read only to keep the connection
// usable; past these limits the connection is dropped instead.
constexpr int kRedirectDiscardMs = 4000;
constexpr int kErrorDiscardMs = 2000;
constexpr int64_t kDiscardMaxBytes = 1 << 20;
// 1xx answers before the real one.
constexpr int kMaxInterimResponses = 16;

AnsiString Base64(const AnsiString& in)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    AnsiString out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i < in.size()) {
        uint32_t v = uint8_t(in[i]) << 16;
        if (i + 1 < in.size()) v |= uint8_t(in[i + 1]) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += i + 1 < in.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// True when a Connection or Proxy-Connection value lists the token.
bool ListsToken(std::string_view value, std::string_view token)
{
    for (;;) {
        size_t comma = value.find(',');
        if (SameText(Trim(value.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) return false;
        value.remove_prefix(comma + 1);
    }
}

// Only http and https are followed, and never from https down to http:
// what the installer fetches over TLS must not arrive in the clear.
TZoUrl Redirected(const TZoUrl& from, const AnsiString& location)
{
    TZoUrl to = from.Resolve(location);
    if (to.Protocol != "http" && to.Protocol != "https")
        throw EZoHttpError(u"Redirect refused: " + WideOf(to.Protocol.substr(0, 32)) + u" is not http or https.");
    if (from.IsHttps() && !to.IsHttps()) throw EZoHttpError(u"Redirect refused: from https to http.");
    return to;
}

int32_t Clamp32(int64_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

}  // namespace

// One connection: a socket, TLS over it for https, and the reader that
// buffers what arrives. Destroyed in reverse order, TLS first.
struct TZoHttpClient::TConnection final : TZoByteSource {
    explicit TConnection(AnsiString key) : Key(std::move(key)) {}
    ~TConnection() override
    {
        if (Tls) Tls->Shutdown();
    }

    size_t Receive(void* buffer, size_t size, int timeoutMs) override
    {
        return Tls ? Tls->Receive(buffer, size, timeoutMs) : Socket.Receive(buffer, size, timeoutMs);
    }
    void Send(const AnsiString& bytes)
    {
        if (Tls)
            Tls->Send(bytes.data(), bytes.size());
        else
            Socket.Send(bytes.data(), bytes.size());
    }
    bool Idle() { return Reader.Buffered() == 0 && Socket.IsIdle(); }

    AnsiString Key;
    TZoSocket Socket;
    std::unique_ptr<TZoTlsSession> Tls;
    TZoHttpReader Reader{*this};
};

// Turns the reader's progress into the client's events (reading mode,
// 32-bit counts).
class TZoHttpClient::TWorkAdapter final : public TZoWorkSink {
public:
    explicit TWorkAdapter(TZoHttpClient& client) : client_(client) {}
    void WorkBegin(int64_t total) override
    {
        if (client_.OnWorkBegin) client_.OnWorkBegin(&client_, wmRead, Clamp32(total));
    }
    void Work(int64_t count) override
    {
        if (client_.OnWork) client_.OnWork(&client_, wmRead, Clamp32(count));
    }
    void WorkEnd() override
    {
        if (client_.OnWorkEnd) client_.OnWorkEnd(&client_, wmRead);
    }

private:
    TZoHttpClient& client_;
};

TZoHttpClient::TZoHttpClient() = default;
TZoHttpClient::~TZoHttpClient() = default;

void TZoHttpClient::Disconnect() { connection_.reset(); }

AnsiString TZoHttpClient::ProxyAuthorization() const
{
    if (Proxy.Username.empty()) return {};
    return "Proxy-Authorization: Basic " + Base64(Proxy.Username + ":" + Proxy.Password) + "\r\n";
}

AnsiString TZoHttpClient::GetRequest(const TZoUrl& url) const
{
    bool https = url.IsHttps();
    bool viaProxy = !Proxy.Server.empty() && !https;
    AnsiString s = "GET " + (viaProxy ? url.Absolute() : url.Target()) + " HTTP/1.1\r\n";
    if (!https && !Request.Connection.empty()) s += "Connection: " + Request.Connection + "\r\n";
    if (!Request.CacheControl.empty()) s += "Cache-control: " + Request.CacheControl + "\r\n";
    s += "Host: " + url.HostHeader() + "\r\n";
    if (!Request.Accept.empty()) s += "Accept: " + Request.Accept + "\r\n";
    if (!Request.UserAgent.empty()) s += "User-Agent: " + Request.UserAgent + "\r\n";
    if (!Request.ContentType.empty()) s += "Content-Type: " + Request.ContentType + "\r\n";
    if (Request.ContentLength >= 0) s += "Content-Length: " + std::to_string(Request.ContentLength) + "\r\n";
    if (viaProxy) s += ProxyAuthorization();
    if (cookies_) {
        AnsiString cookie = cookies_->CookieHeader(url, std::time(nullptr));
        if (!cookie.empty()) s += "Cookie: " + cookie + "\r\n";
    }
    return s + "\r\n";
}

AnsiString TZoHttpClient::ConnectRequest(const TZoUrl& url) const
{
    AnsiString s = "CONNECT " + url.Authority() + " HTTP/1.1\r\n";
    s += "Pragma: no-cache\r\n";
    s += "Proxy-Connection: keep-alive\r\n";
    s += "Host: " + url.HostHeader() + "\r\n";
    s += "Accept: text/html, */*\r\n";
    if (!Request.UserAgent.empty()) s += "User-Agent: " + Request.UserAgent + "\r\n";
    s += ProxyAuthorization();
    return s + "\r\n";
}

// Connections are told apart by where they lead: the same host and port,
// directly, through the same proxy, or tunnelled through it.
AnsiString TZoHttpClient::ConnectionKey(const TZoUrl& url) const
{
    AnsiString target = LowerCase(url.Authority());
    if (Proxy.Server.empty()) return url.Protocol + "|" + target;
    AnsiString proxy = LowerCase(Proxy.Server) + ":" + std::to_string(Proxy.Port);
    return url.IsHttps() ? "tunnel|" + proxy + "|" + target : "proxy|" + proxy;
}

void TZoHttpClient::TakeCookies(const TZoHttpResponse& response, const TZoUrl& url)
{
    if (!cookies_) cookies_ = std::make_unique<TZoCookieStore>();
    cookies_->AddFromResponse(response, url, std::time(nullptr));
}

TZoHttpResponse TZoHttpClient::ReadFinalHead()
{
    connection_->Reader.BeginTransfer(Limits);
    for (int interim = 0;; ++interim) {
        TZoHttpResponse r = connection_->Reader.ReadHead(ReadWait());
        if (r.StatusCode < 100 || r.StatusCode >= 200 || r.StatusCode == 101) return r;
        TakeCookies(r, url_);
        if (interim >= kMaxInterimResponses) throw EZoHttpError(u"Too many interim responses.");
    }
}

// Opens a new connection for url; through a proxy an https URL gets its
// tunnel first. A refused CONNECT is returned as the answer to the request.
std::optional<TZoHttpResponse> TZoHttpClient::Open(const TZoUrl& url, const AnsiString& key)
{
    connection_.reset();
    bool viaProxy = !Proxy.Server.empty();
    auto c = std::make_unique<TConnection>(key);
    c->Socket = TZoSocket::Connect(viaProxy ? Proxy.Server : url.Host, viaProxy ? Proxy.Port : url.Port,
                                   ConnectTimeout);
    connection_ = std::move(c);
    if (!url.IsHttps()) return std::nullopt;

    if (viaProxy) {
        connection_->Send(ConnectRequest(url));
        TZoHttpResponse r = ReadFinalHead();
        if (r.StatusCode < 200 || r.StatusCode >= 300) return r;
        TakeCookies(r, url);
        if (connection_->Reader.Buffered() != 0) throw EZoHttpError(u"Unexpected data after the tunnel was opened.");
    }
    TZoTlsLayer* tls = tls_;
    if (!tls) {
        if (!ownTls_) ownTls_ = std::make_unique<TZoTlsLayer>();
        tls = ownTls_.get();
    }
    tls->SetCaFile(CaFile);
    connection_->Tls = tls->Handshake(connection_->Socket, url.Host, ReadWait());
    return std::nullopt;
}

// Sends the GET and reads the answer's head. A kept connection that the
// server dropped meanwhile fails before any byte arrives; the request is then
// repeated once on a new connection.
TZoHttpResponse TZoHttpClient::Exchange(const TZoUrl& url, bool& connectAnswer)
{
    connectAnswer = false;
    AnsiString key = ConnectionKey(url);
    bool reused = connection_ && connection_->Key == key && connection_->Idle();
    if (!reused) connection_.reset();
    for (;;) {
        if (!connection_) {
            reused = false;
            if (auto refused = Open(url, key)) {
                connectAnswer = true;
                return *refused;
            }
        }
        try {
            connection_->Send(GetRequest(url));
        } catch (const EZoReadTimeout&) {
            throw;
        } catch (const EZoSocketError&) {
            if (!reused) throw;
            connection_.reset();
            continue;
        }
        try {
            return ReadFinalHead();
        } catch (const EZoReadTimeout&) {
            throw;
        } catch (const EZoSocketError&) {
            if (!reused || !connection_->Reader.HeadGotNothing()) throw;
        }
        connection_.reset();
    }
}

// Keeps the connection for the next request only when the body ended where
// its framing said and neither side asked to close.
void TZoHttpClient::Finish(const TZoHttpResponse& response, const TZoBodyFraming& framing, bool complete)
{
    bool keep = complete && framing.Kind != TZoBodyFraming::bfUntilClose && connection_->Reader.Buffered() == 0 &&
                !ListsToken(response.Value("Connection"), "close") &&
                !ListsToken(response.Value("Proxy-Connection"), "close");
    if (response.Http10 && !ListsToken(response.Value("Connection"), "keep-alive")) keep = false;
    if (!keep) connection_.reset();
}

void TZoHttpClient::Get(const AnsiString& url, TStream& dest)
{
    url_ = TZoUrl::Parse(url);
    responseText_.clear();
    responseCode_ = 0;
    try {
        for (int exchanges = 1;; ++exchanges) {
            bool connectAnswer = false;
            TZoHttpResponse r = Exchange(url_, connectAnswer);
            responseText_ = r.StatusLine;
            responseCode_ = r.StatusCode;
            TakeCookies(r, url_);
            TZoBodyFraming framing = BodyFramingOf(r, false);
            int code = r.StatusCode;
            TZoHttpReader& reader = connection_->Reader;

            if (code >= 200 && code < 300 && !connectAnswer) {
                TWorkAdapter work(*this);
                reader.ReadBody(framing, dest, &work, ReadWait());
                Finish(r, framing, true);
                return;
            }
            AnsiString location = r.Value("Location");
            bool redirect = HandleRedirects && code >= 300 && code < 400 && code != 304 && !location.empty() &&
                            exchanges < RedirectMaximum;
            int wait = redirect ? kRedirectDiscardMs : kErrorDiscardMs;
            bool complete = reader.DiscardBody(framing, wait, kDiscardMaxBytes, 2 * wait);
            // A refused tunnel leaves a plain connection to the proxy, not one
            // that matches its key.
            Finish(r, framing, complete && !connectAnswer);
            if (!redirect) break;
            url_ = Redirected(url_, location);
        }
    } catch (...) {
        connection_.reset();
        throw;
    }
    throw EZoHttpProtocolError(responseCode_, ZoPlatform::AnsiToWide(responseText_));
}
