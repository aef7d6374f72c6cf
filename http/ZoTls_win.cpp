// TLS over Schannel (SSPI): part of every Windows, so an online installer
// needs no DLL of its own. The server's certificate is validated by hand once
// the handshake is done and before any data is sent: the chain against the
// system's roots, then the SSL policy with the server's name.
#include "ZoTls.h"

#define SECURITY_WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "ZoDecimal.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"

namespace {

std::atomic<bool> gSimulateLoadFailure{false};

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

WideString StatusText(const char16_t* what, SECURITY_STATUS status)
{
    return WideString(what) + FromUtf8("0x" + ZoDecimal::Hex(static_cast<uint32_t>(status), 8));
}

TZoCertProblem ProblemOf(DWORD error)
{
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(TRUST_E_BAD_DIGEST):
        return TZoCertProblem::Untrusted;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return TZoCertProblem::Expired;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return TZoCertProblem::WrongName;
    case static_cast<DWORD>(CERT_E_REVOKED):
        return TZoCertProblem::Revoked;
    default:
        return TZoCertProblem::Other;
    }
}

WideString ErrorCodeText(DWORD error)
{
    return FromUtf8("0x" + ZoDecimal::Hex(error, 8));
}

// An address as bytes (4 or 16), or 0 when host is a name.
size_t AddressBytes(const AnsiString& host, unsigned char (&bytes)[16])
{
    if (::inet_pton(AF_INET, host.c_str(), bytes) == 1) return 4;
    if (::inet_pton(AF_INET6, host.c_str(), bytes) == 1) return 16;
    return 0;
}

// The SSL policy matches names only: an address must be one of the
// certificate's subject-alternative IP addresses, as a browser requires.
bool CertificateNamesAddress(PCCERT_CONTEXT cert, const unsigned char* address, size_t length)
{
    PCERT_EXTENSION ext = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                              cert->pCertInfo->rgExtension);
    if (!ext) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    TUniqueLocal owner(names);
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& e = names->rgAltEntry[i];
        if (e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && e.IPAddress.cbData == length &&
            std::memcmp(e.IPAddress.pbData, address, length) == 0)
            return true;
    }
    return false;
}

// The chain the server sent, built up to a root the system trusts and checked
// with the SSL policy for host. Raises EZoTlsCertificateError naming why not.
void VerifyServerCertificate(CtxtHandle* context, const AnsiString& host)
{
    TUniqueCertContext cert;
    PCCERT_CONTEXT raw = nullptr;
    if (::QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) != SEC_E_OK || !raw)
        throw EZoTlsCertificateError(CertificateProblemText(TZoCertProblem::Other, host, u"none was sent"));
    cert.Reset(raw);

    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 3;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    TUniqueCertChain chain;
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    // The server's intermediates travel in the certificate's own store.
    if (!::CertGetCertificateChain(nullptr, cert.Get(), nullptr, cert.Get()->hCertStore, &para, 0, nullptr,
                                   &rawChain) ||
        !rawChain)
        throw EZoTlsCertificateError(
            CertificateProblemText(TZoCertProblem::Other, host, u"no chain: " + ErrorCodeText(::GetLastError())));
    chain.Reset(rawChain);

    unsigned char address[16];
    const size_t addressLength = AddressBytes(host, address);
    WideString name = WideOf(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = addressLength ? nullptr : reinterpret_cast<wchar_t*>(name.data());  // no name: the address is checked below
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policy, &status))
        throw EZoTlsCertificateError(
            CertificateProblemText(TZoCertProblem::Other, host, u"no policy check: " + ErrorCodeText(::GetLastError())));
    if (status.dwError != 0)
        throw EZoTlsCertificateError(CertificateProblemText(ProblemOf(status.dwError), host, ErrorCodeText(status.dwError)));
    if (addressLength && !CertificateNamesAddress(cert.Get(), address, addressLength))
        throw EZoTlsCertificateError(CertificateProblemText(TZoCertProblem::WrongName, host, u""));
}

// A token Schannel allocated for us.
struct TContextBuffer {
    void* p = nullptr;
    ~TContextBuffer()
    {
        if (p) ::FreeContextBuffer(p);
    }
};

class TCredentials {
public:
    TCredentials() = default;
    ~TCredentials()
    {
        if (valid_) ::FreeCredentialsHandle(&handle_);
    }
    TCredentials(const TCredentials&) = delete;
    TCredentials& operator=(const TCredentials&) = delete;

    bool Acquire()
    {
        SCHANNEL_CRED cred{};
        cred.dwVersion = SCHANNEL_CRED_VERSION;
        cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TimeStamp expiry;
        SECURITY_STATUS s = ::AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                                        SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr, nullptr,
                                                        &handle_, &expiry);
        valid_ = s == SEC_E_OK;
        return valid_;
    }
    CredHandle* Get() { return &handle_; }

private:
    CredHandle handle_{};
    bool valid_ = false;
};

class TSchannelSession final : public TZoTlsSession {
public:
    TSchannelSession(TZoSocket& socket, CredHandle* cred, const AnsiString& host)
        : socket_(socket), cred_(cred), host_(host)
    {
        // Schannel sends the name for virtual hosts; addresses are not names.
        in6_addr a6;
        in_addr a4;
        bool ip = ::inet_pton(AF_INET, host.c_str(), &a4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &a6) == 1;
        if (!ip) target_ = WideOf(host);
    }

    ~TSchannelSession() override
    {
        if (haveContext_) ::DeleteSecurityContext(&context_);
    }

    void Connect(int timeoutMs)
    {
        SECURITY_STATUS status = Step(nullptr, 0);
        while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
            if (incoming_.empty() || status == SEC_E_INCOMPLETE_MESSAGE) {
                if (ReceiveMore(timeoutMs) == 0)
                    throw EZoTlsError(u"TLS handshake failed: connection closed during the handshake");
            }
            status = Step(incoming_.data(), incoming_.size());
        }
        if (status != SEC_E_OK) throw EZoTlsError(StatusText(u"TLS handshake failed: ", status));
        status = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (status != SEC_E_OK) throw EZoTlsError(StatusText(u"TLS handshake failed: ", status));
        VerifyServerCertificate(&context_, host_);
    }

    size_t Receive(void* buffer, size_t size, int timeoutMs) override
    {
        while (plainBegin_ == plain_.size()) {
            if (closed_) return 0;
            if (!incoming_.empty() && Decrypt()) continue;
            if (closed_) return 0;
            if (ReceiveMore(timeoutMs) == 0) {
                closed_ = true;  // a plain close ends the stream, as with OpenSSL
                return 0;
            }
        }
        size_t n = std::min(size, plain_.size() - plainBegin_);
        std::memcpy(buffer, plain_.data() + plainBegin_, n);
        plainBegin_ += n;
        return n;
    }

    void Send(const void* data, size_t size) override
    {
        auto p = static_cast<const char*>(data);
        std::vector<char> record;
        while (size > 0) {
            size_t n = std::min<size_t>(size, sizes_.cbMaximumMessage);
            record.resize(sizes_.cbHeader + n + sizes_.cbTrailer);
            std::memcpy(record.data() + sizes_.cbHeader, p, n);
            SecBuffer b[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + n},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
            SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &desc, 0);
            if (status != SEC_E_OK) throw EZoTlsError(StatusText(u"TLS write failed: ", status));
            socket_.Send(record.data(), b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
            p += n;
            size -= n;
        }
    }

    void Shutdown() noexcept override
    {
        if (!haveContext_ || closed_) return;
        try {
            DWORD type = SCHANNEL_SHUTDOWN;
            SecBuffer in{sizeof type, SECBUFFER_TOKEN, &type};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
            if (::ApplyControlToken(&context_, &inDesc) != SEC_E_OK) return;
            SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
            ULONG attrs = 0;
            SECURITY_STATUS s = ::InitializeSecurityContextW(cred_, &context_, nullptr, kContextFlags, 0, 0, nullptr,
                                                             0, &context_, &outDesc, &attrs, nullptr);
            TContextBuffer token{out.pvBuffer};
            if ((s == SEC_E_OK || s == SEC_I_CONTEXT_EXPIRED) && out.cbBuffer) socket_.Send(out.pvBuffer, out.cbBuffer);
        } catch (...) {
        }
    }

private:
    // One InitializeSecurityContext call with the bytes received so far;
    // sends its token and keeps the bytes it did not use.
    SECURITY_STATUS Step(const char* input, size_t inputSize)
    {
        SecBuffer in[2] = {{static_cast<unsigned long>(inputSize), SECBUFFER_TOKEN, const_cast<char*>(input)},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
        ULONG attrs = 0;
        SECURITY_STATUS s = ::InitializeSecurityContextW(
            cred_, haveContext_ ? &context_ : nullptr, target_.empty() ? nullptr : reinterpret_cast<wchar_t*>(target_.data()), kContextFlags, 0, 0,
            input ? &inDesc : nullptr, 0, &context_, &outDesc, &attrs, nullptr);
        TContextBuffer token{out.pvBuffer};
        if (!haveContext_ && (s == SEC_E_OK || s == SEC_I_CONTINUE_NEEDED)) haveContext_ = true;
        if (s == SEC_E_INCOMPLETE_MESSAGE) return s;
        if (out.cbBuffer && out.pvBuffer && (s == SEC_E_OK || s == SEC_I_CONTINUE_NEEDED || FAILED(s)))
            socket_.Send(out.pvBuffer, out.cbBuffer);
        if (input) {
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= incoming_.size())
                incoming_.erase(incoming_.begin(), incoming_.end() - in[1].cbBuffer);
            else
                incoming_.clear();
        }
        return s;
    }

    size_t ReceiveMore(int timeoutMs)
    {
        size_t old = incoming_.size();
        incoming_.resize(old + 32768);
        size_t n = 0;
        try {
            n = socket_.Receive(incoming_.data() + old, 32768, timeoutMs);
        } catch (...) {
            incoming_.resize(old);  // a time-out must not leave room counted as received
            throw;
        }
        incoming_.resize(old + n);
        return n;
    }

    // Decrypts one record from incoming_; false when more bytes are needed.
    bool Decrypt()
    {
        SecBuffer b[4] = {{static_cast<unsigned long>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
        SECURITY_STATUS status = ::DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
        if (status == SEC_I_CONTEXT_EXPIRED) {  // close_notify
            closed_ = true;
            return false;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
            throw EZoTlsError(StatusText(u"TLS read failed: ", status));
        plain_.clear();
        plainBegin_ = 0;
        std::vector<char> extra;
        for (const SecBuffer& x : b) {
            if (x.BufferType == SECBUFFER_DATA && x.cbBuffer)
                plain_.insert(plain_.end(), static_cast<char*>(x.pvBuffer), static_cast<char*>(x.pvBuffer) + x.cbBuffer);
            if (x.BufferType == SECBUFFER_EXTRA && x.cbBuffer)
                extra.assign(static_cast<char*>(x.pvBuffer), static_cast<char*>(x.pvBuffer) + x.cbBuffer);
        }
        incoming_ = std::move(extra);
        if (status == SEC_I_RENEGOTIATE) {
            // Post-handshake messages (TLS 1.3 tickets): hand them back to the
            // context and go on reading.
            SECURITY_STATUS s = Step(incoming_.data(), incoming_.size());
            while (s == SEC_I_CONTINUE_NEEDED || s == SEC_E_INCOMPLETE_MESSAGE) {
                if (ReceiveMore(-1) == 0) break;
                s = Step(incoming_.data(), incoming_.size());
            }
            if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED && s != SEC_E_INCOMPLETE_MESSAGE)
                throw EZoTlsError(StatusText(u"TLS read failed: ", s));
        }
        return true;
    }

    TZoSocket& socket_;
    CredHandle* cred_;
    AnsiString host_;
    WideString target_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    bool closed_ = false;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> incoming_;  // received, not yet decrypted
    std::vector<char> plain_;     // decrypted, not yet taken
    size_t plainBegin_ = 0;
};

}  // namespace

struct TZoTlsLayer::TContext {
    TCredentials credentials;
};

TZoTlsLayer::TZoTlsLayer() = default;
TZoTlsLayer::~TZoTlsLayer() = default;

void TZoTlsLayer::SimulateLoadFailure(bool fail) { gSimulateLoadFailure = fail; }

std::unique_ptr<TZoTlsSession> TZoTlsLayer::Handshake(TZoSocket& socket, const AnsiString& host, int timeoutMs)
{
    if (gSimulateLoadFailure) throw EZoTlsLoadError(u"Could not load SSL library.");
    if (!context_) {
        auto context = std::make_unique<TContext>();
        if (!context->credentials.Acquire()) throw EZoTlsLoadError(u"Could not load SSL library.");
        context_ = std::move(context);
    }
    auto session = std::make_unique<TSchannelSession>(socket, context_->credentials.Get(), host);
    session->Connect(timeoutMs);
    return session;
}

// Windows trusts what its root store holds, and nothing else.
void TZoTlsLayer::SetCaFile(const AnsiString& file) { caFile_ = file; }
