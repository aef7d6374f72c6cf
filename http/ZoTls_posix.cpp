// TLS over OpenSSL: a client context with the version-flexible method, the
// installer's cipher list as far as the library still knows it, and no
// certificate verification.
#include "ZoTls.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "ZoSysUtils.h"

namespace {

std::atomic<bool> gSimulateLoadFailure{false};

// The cipher list of the installer's client; old libraries knew every entry,
// current ones drop the export and SSLv2 suites, and the rest still apply.
const char* const kCipherList = "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP";

struct SslCtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

// The reason of the newest OpenSSL error on this thread, or of errno.
WideString ErrorReason(int sslError)
{
    unsigned long e = ERR_peek_last_error();
    if (e != 0) {
        char text[256];
        ERR_error_string_n(e, text, sizeof text);
        ERR_clear_error();
        return FromUtf8(AnsiString(text));
    }
    if (sslError == SSL_ERROR_SYSCALL) return u"connection closed during the handshake";
    return u"TLS error " + IntToStr(sslError);
}

class TOpenSslSession final : public TZoTlsSession {
public:
    TOpenSslSession(TZoSocket& socket, SSL* ssl) : socket_(socket), ssl_(ssl) {}

    void Connect(int timeoutMs)
    {
        for (;;) {
            ERR_clear_error();
            int r = SSL_connect(ssl_.get());
            if (r == 1) return;
            int error = SSL_get_error(ssl_.get(), r);
            if (!WaitFor(error, timeoutMs))
                throw EZoTlsError(u"TLS handshake failed: " + ErrorReason(error));
        }
    }

    size_t Receive(void* buffer, size_t size, int timeoutMs) override
    {
        int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        for (;;) {
            ERR_clear_error();
            errno = 0;
            int r = SSL_read(ssl_.get(), buffer, chunk);
            if (r > 0) return static_cast<size_t>(r);
            int error = SSL_get_error(ssl_.get(), r);
            if (error == SSL_ERROR_ZERO_RETURN) return 0;
            // A peer that simply closes the socket ends the stream too; a
            // truncated body is caught by the framing above.
            if (error == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0) {
                if (errno != 0 && errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError(errno);
                return 0;
            }
            if (!WaitFor(error, timeoutMs)) throw EZoTlsError(u"TLS read failed: " + ErrorReason(error));
        }
    }

    void Send(const void* data, size_t size) override
    {
        auto p = static_cast<const char*>(data);
        while (size > 0) {
            int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
            ERR_clear_error();
            int r = SSL_write(ssl_.get(), p, chunk);
            if (r > 0) {
                p += r;
                size -= static_cast<size_t>(r);
                continue;
            }
            int error = SSL_get_error(ssl_.get(), r);
            if (!WaitFor(error, -1)) throw EZoTlsError(u"TLS write failed: " + ErrorReason(error));
        }
    }

    void Shutdown() noexcept override
    {
        ERR_clear_error();
        SSL_shutdown(ssl_.get());
        ERR_clear_error();
    }

private:
    // Waits for the socket when OpenSSL asks for it; false for real errors.
    bool WaitFor(int error, int timeoutMs)
    {
        if (error == SSL_ERROR_WANT_READ) {
            if (!socket_.WaitReadable(timeoutMs)) throw EZoReadTimeout(u"Read timed out.");
            return true;
        }
        if (error == SSL_ERROR_WANT_WRITE) {
            if (!socket_.WaitWritable(timeoutMs)) throw EZoReadTimeout(u"Read timed out.");
            return true;
        }
        return false;
    }

    TZoSocket& socket_;
    std::unique_ptr<SSL, SslFree> ssl_;
};

bool IsIpLiteral(const AnsiString& host)
{
    unsigned char addr[16];
    return inet_pton(AF_INET, host.c_str(), addr) == 1 || inet_pton(AF_INET6, host.c_str(), addr) == 1;
}

}  // namespace

struct TZoTlsLayer::TContext {
    std::unique_ptr<SSL_CTX, SslCtxFree> ctx;
};

TZoTlsLayer::TZoTlsLayer() = default;
TZoTlsLayer::~TZoTlsLayer() = default;

void TZoTlsLayer::SimulateLoadFailure(bool fail) { gSimulateLoadFailure = fail; }

std::unique_ptr<TZoTlsSession> TZoTlsLayer::Handshake(TZoSocket& socket, const AnsiString& host, int timeoutMs)
{
    if (gSimulateLoadFailure) throw EZoTlsLoadError(u"Could not load SSL library.");
    if (!context_) {
        auto context = std::make_unique<TContext>();
        context->ctx.reset(SSL_CTX_new(TLS_method()));
        if (!context->ctx) throw EZoTlsLoadError(u"Could not load SSL library.");
        SSL_CTX* ctx = context->ctx.get();
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        if (SSL_CTX_set_cipher_list(ctx, kCipherList) != 1) SSL_CTX_set_cipher_list(ctx, "ALL:!ADH");
        ERR_clear_error();
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
        SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
        SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        context_ = std::move(context);
    }
    SSL* ssl = SSL_new(context_->ctx.get());
    if (!ssl) throw EZoTlsLoadError(u"Could not load SSL library.");
    auto session = std::make_unique<TOpenSslSession>(socket, ssl);
    if (SSL_set_fd(ssl, static_cast<int>(socket.Handle())) != 1)
        throw EZoTlsError(u"TLS handshake failed: " + ErrorReason(SSL_ERROR_SSL));
    // Name the server for virtual hosts; addresses are not names.
    if (!IsIpLiteral(host)) SSL_set_tlsext_host_name(ssl, host.c_str());
    session->Connect(timeoutMs);
    return session;
}
