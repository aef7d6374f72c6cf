// The TLS layer of the HTTP client: one small interface, two back ends
// (OpenSSL in ZoTls_posix.cpp, Schannel in ZoTls_win.cpp). The server's
// certificate chain is checked against the system's trusted roots and the
// host name before a byte of the request is sent; there is no way to turn
// that off. What arrives over the connection then decides which programs the
// installer runs.
#pragma once

#include <memory>

#include "ZoSocket.h"

// The TLS library could not be set up: "Could not load SSL library.".
ZO_DECLARE_ERROR(EZoTlsLoadError, Exception);
// A handshake or a record layer failure on one connection.
ZO_DECLARE_ERROR(EZoTlsError, EZoSocketError);
// The server's certificate was refused; the message names why.
ZO_DECLARE_ERROR(EZoTlsCertificateError, EZoTlsError);

// Why a certificate was refused, as both back ends tell it.
enum class TZoCertProblem { Untrusted, Expired, NotYetValid, WrongName, Revoked, Other };
// "The server's certificate ..." naming the problem; detail is the library's
// own text, added in brackets when not empty.
WideString CertificateProblemText(TZoCertProblem problem, const AnsiString& host, const WideString& detail);

// One TLS connection over a socket the session does not own.
class TZoTlsSession : public TZoByteSource {
public:
    // Received application data; 0 when the peer closed (with or without a
    // close_notify).
    size_t Receive(void* buffer, size_t size, int timeoutMs) override = 0;
    virtual void Send(const void* data, size_t size) = 0;
    // Sends a close_notify if the connection still allows it; never raises.
    virtual void Shutdown() noexcept = 0;
};

// The client context. The library is set up by the first handshake, so an
// object that never carries an https request costs nothing.
class TZoTlsLayer {
public:
    TZoTlsLayer();
    ~TZoTlsLayer();
    TZoTlsLayer(const TZoTlsLayer&) = delete;
    TZoTlsLayer& operator=(const TZoTlsLayer&) = delete;

    // Runs a client handshake for host over socket (which must outlive the
    // session). timeoutMs bounds each wait (negative: none). Raises
    // EZoTlsLoadError when the library cannot be set up, EZoTlsError or a
    // socket error when the handshake fails.
    std::unique_ptr<TZoTlsSession> Handshake(TZoSocket& socket, const AnsiString& host, int timeoutMs);

    // Roots trusted besides the system's, as a PEM file (OpenSSL only; on
    // Windows the system's root store is the one place). Empty: none.
    void SetCaFile(const AnsiString& file);
    const AnsiString& CaFile() const { return caFile_; }

    // Test hook: while set, every set-up fails as a missing library would.
    static void SimulateLoadFailure(bool fail);

    struct TContext;

private:
    std::unique_ptr<TContext> context_;
    AnsiString caFile_;
};
