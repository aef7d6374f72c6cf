// SHA-256 over OpenSSL's EVP interface.
#include "ZoHash.h"

#include <openssl/evp.h>

struct TZoSha256::TState {
    struct CtxFree {
        void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, CtxFree> ctx;
    bool spent = false;
};

TZoSha256::TZoSha256() : state_(std::make_unique<TState>())
{
    state_->ctx.reset(EVP_MD_CTX_new());
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr) != 1)
        throw EZoHashError(u"SHA-256 is not available.");
}

TZoSha256::~TZoSha256() = default;

void TZoSha256::Update(const void* data, size_t size)
{
    if (state_->spent || EVP_DigestUpdate(state_->ctx.get(), data, size) != 1)
        throw EZoHashError(u"SHA-256 hashing failed.");
}

TSha256Digest TZoSha256::Final()
{
    TSha256Digest d{};
    unsigned int n = 0;
    if (state_->spent || EVP_DigestFinal_ex(state_->ctx.get(), d.data(), &n) != 1 || n != d.size())
        throw EZoHashError(u"SHA-256 hashing failed.");
    state_->spent = true;
    return d;
}
