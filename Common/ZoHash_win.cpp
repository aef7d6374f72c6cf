// SHA-256 over CNG: part of every Windows from Vista on, so the installer
// carries no hashing code of its own.
#include "ZoHash.h"

#include "ZoWinHandles_win.h"

namespace {

// CNG reports NTSTATUS values: 0 and above is success.
bool Ok(NTSTATUS s) { return s >= 0; }

}  // namespace

struct TZoSha256::TState {
    TUniqueAlgorithm algorithm;
    TUniqueHash hash;
    bool spent = false;
};

TZoSha256::TZoSha256() : state_(std::make_unique<TState>())
{
    if (!Ok(BCryptOpenAlgorithmProvider(state_->algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Ok(BCryptCreateHash(state_->algorithm.Get(), state_->hash.Put(), nullptr, 0, nullptr, 0, 0)))
        throw EZoHashError(u"SHA-256 is not available.");
}

TZoSha256::~TZoSha256() = default;

void TZoSha256::Update(const void* data, size_t size)
{
    if (state_->spent) throw EZoHashError(u"SHA-256 hashing failed.");
    auto p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ULONG n = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        if (!Ok(BCryptHashData(state_->hash.Get(), const_cast<PUCHAR>(p), n, 0)))
            throw EZoHashError(u"SHA-256 hashing failed.");
        p += n;
        size -= n;
    }
}

TSha256Digest TZoSha256::Final()
{
    TSha256Digest d{};
    if (state_->spent || !Ok(BCryptFinishHash(state_->hash.Get(), d.data(), static_cast<ULONG>(d.size()), 0)))
        throw EZoHashError(u"SHA-256 hashing failed.");
    state_->spent = true;
    return d;
}
