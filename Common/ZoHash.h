// SHA-256 through the system's own hashing: CNG (BCrypt) on Windows, OpenSSL's
// libcrypto on Linux. Used for the digests a package is checked against.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ZoTypes.h"

// The hashing service could not be set up or failed.
ZO_DECLARE_ERROR(EZoHashError, Exception);

using TSha256Digest = std::array<uint8_t, 32>;

class TZoSha256 {
public:
    // Raises EZoHashError when the system cannot hash.
    TZoSha256();
    ~TZoSha256();
    TZoSha256(const TZoSha256&) = delete;
    TZoSha256& operator=(const TZoSha256&) = delete;

    void Update(const void* data, size_t size);
    // The digest of everything given; the object is spent afterwards.
    TSha256Digest Final();

    static TSha256Digest Of(const void* data, size_t size);

    struct TState;

private:
    std::unique_ptr<TState> state_;
};

// Lower-case hexadecimal, 64 characters.
AnsiString DigestToHex(const TSha256Digest& digest);
