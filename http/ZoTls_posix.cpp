// TLS over OpenSSL: a client context with the version-flexible method, the
// installer's cipher list as far as the library still knows it, and the
// server's chain checked against the system's roots (plus a CA file, for
// tests) and the host name.
#include "ZoTls.h"

#include <arpa/inet.h>
#include <atomic>
#include <exception>
#include <utility>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

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

// The reason of the newest OpenSSL error on this thread.
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

EZoTlsCertificateError CertificateError(long verify, const AnsiString& host)
{
    TZoCertProblem problem = TZoCertProblem::Other;
    switch (verify) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        problem = TZoCertProblem::Untrusted;
        break;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        problem = TZoCertProblem::Expired;
        break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        problem = TZoCertProblem::NotYetValid;
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        problem = TZoCertProblem::WrongName;
        break;
    case X509_V_ERR_CERT_REVOKED:
        problem = TZoCertProblem::Revoked;
        break;
    default:
        break;
    }
    ERR_clear_error();
    return EZoTlsCertificateError(
        CertificateProblemText(problem, host, FromUtf8(AnsiString(X509_verify_cert_error_string(verify)))));
}

class TOpenSslSession final : public TZoTlsSession {
public:
    TOpenSslSession(TZoSocket& socket, SSL* ssl) : socket_(socket), ssl_(ssl) {}

    void Connect(const AnsiString& host, int timeoutMs)
    {
        for (;;) {
            int r = Call([&] { return SSL_connect(ssl_.get()); });
            if (r == 1) break;
            int error = SSL_get_error(ssl_.get(), r);
            if (!WaitFor(error, timeoutMs)) {
                long verify = SSL_get_verify_result(ssl_.get());
                if (verify != X509_V_OK) throw CertificateError(verify, host);
                throw EZoTlsError(u"TLS handshake failed: " + ErrorReason(error));
            }
        }
        // SSL_VERIFY_PEER ends the handshake on a bad chain; a server that
        // sent no certificate at all is refused here.
        X509* peer = SSL_get0_peer_certificate(ssl_.get());
        long verify = SSL_get_verify_result(ssl_.get());
        if (!peer) throw EZoTlsCertificateError(CertificateProblemText(TZoCertProblem::Other, host, u"none was sent"));
        if (verify != X509_V_OK) throw CertificateError(verify, host);
    }

    size_t Receive(void* buffer, size_t size, int timeoutMs) override
    {
        int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        for (;;) {
            int r = Call([&] { return SSL_read(ssl_.get(), buffer, chunk); });
            if (r > 0) return static_cast<size_t>(r);
            int error = SSL_get_error(ssl_.get(), r);
            if (error == SSL_ERROR_ZERO_RETURN) return 0;
            // A peer that simply closes the socket ends the stream too; a
            // truncated body is caught by the framing above.
            if (error == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0) return 0;
            if (!WaitFor(error, timeoutMs)) throw EZoTlsError(u"TLS read failed: " + ErrorReason(error));
        }
    }

    void Send(const void* data, size_t size) override
    {
        auto p = static_cast<const char*>(data);
        while (size > 0) {
            int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
            int r = Call([&] { return SSL_write(ssl_.get(), p, chunk); });
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
        socketError_ = nullptr;
    }

    // The socket BIO: OpenSSL reads and writes through our socket, so a
    // closed peer raises no SIGPIPE and socket errors keep their own text.
    static int BioWrite(BIO* bio, const char* data, int size)
    {
        auto* self = static_cast<TOpenSslSession*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        try {
            ptrdiff_t n = self->socket_.TrySend(data, static_cast<size_t>(size));
            if (n >= 0) return static_cast<int>(n);
            BIO_set_retry_write(bio);
        } catch (...) {
            self->socketError_ = std::current_exception();
        }
        return -1;
    }
    static int BioRead(BIO* bio, char* data, int size)
    {
        auto* self = static_cast<TOpenSslSession*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        try {
            ptrdiff_t n = self->socket_.TryReceive(data, static_cast<size_t>(size));
            if (n >= 0) return static_cast<int>(n);
            BIO_set_retry_read(bio);
        } catch (...) {
            self->socketError_ = std::current_exception();
        }
        return -1;
    }
    static long BioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

private:
    // Runs one OpenSSL call; a socket error met inside it is raised here.
    template <typename F>
    int Call(F f)
    {
        ERR_clear_error();
        socketError_ = nullptr;
        int r = f();
        if (r <= 0 && socketError_) std::rethrow_exception(std::exchange(socketError_, nullptr));
        return r;
    }

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
    std::exception_ptr socketError_;
};

struct BioMethodFree {
    void operator()(BIO_METHOD* m) const { BIO_meth_free(m); }
};

// The method table of our socket BIO, made once for the process.
BIO_METHOD* SocketBioMethod()
{
    static std::unique_ptr<BIO_METHOD, BioMethodFree> method = [] {
        std::unique_ptr<BIO_METHOD, BioMethodFree> m(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK,
                                                                  "zosetup socket"));
        if (m) {
            BIO_meth_set_write(m.get(), &TOpenSslSession::BioWrite);
            BIO_meth_set_read(m.get(), &TOpenSslSession::BioRead);
            BIO_meth_set_ctrl(m.get(), &TOpenSslSession::BioCtrl);
            BIO_meth_set_create(m.get(), [](BIO* b) {
                BIO_set_init(b, 1);
                return 1;
            });
        }
        return m;
    }();
    return method.get();
}

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
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        if (SSL_CTX_set_default_verify_paths(ctx) != 1) throw EZoTlsLoadError(u"Could not load SSL library.");
        if (!caFile_.empty() && SSL_CTX_load_verify_locations(ctx, caFile_.c_str(), nullptr) != 1) {
            ERR_clear_error();
            throw EZoTlsLoadError(u"Could not load SSL library: the CA file " + FromUtf8(caFile_) + u" is unusable.");
        }
        if (SSL_CTX_set_cipher_list(ctx, kCipherList) != 1) SSL_CTX_set_cipher_list(ctx, "ALL:!ADH");
        ERR_clear_error();
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
        SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
        SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        context_ = std::move(context);
    }
    SSL* ssl = SSL_new(context_->ctx.get());
    BIO_METHOD* method = SocketBioMethod();
    if (!ssl || !method) {
        SSL_free(ssl);
        throw EZoTlsLoadError(u"Could not load SSL library.");
    }
    auto session = std::make_unique<TOpenSslSession>(socket, ssl);
    BIO* bio = BIO_new(method);
    if (!bio) throw EZoTlsLoadError(u"Could not load SSL library.");
    BIO_set_data(bio, session.get());
    SSL_set_bio(ssl, bio, bio);  // the SSL object owns the BIO from here
    // Name the server for virtual hosts, and the name or address its
    // certificate must carry.
    bool named = IsIpLiteral(host) ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1
                                   : SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 && SSL_set1_host(ssl, host.c_str()) == 1;
    if (!named) {
        ERR_clear_error();
        throw EZoTlsCertificateError(CertificateProblemText(TZoCertProblem::WrongName, host, u"no usable host name"));
    }
    session->Connect(host, timeoutMs);
    return session;
}

void TZoTlsLayer::SetCaFile(const AnsiString& file)
{
    if (file == caFile_) return;
    caFile_ = file;
    context_.reset();  // the roots are read when the context is made
}
