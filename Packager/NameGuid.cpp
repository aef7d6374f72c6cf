#include "NameGuid.h"

#include <cstring>

#include "ZoSysUtils.h"

namespace {

uint32_t Rol(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void Sha1Block(uint32_t h[5], const uint8_t* p)
{
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) | (uint32_t(p[4 * i + 2]) << 8) | p[4 * i + 3];
    for (int i = 16; i < 80; ++i) w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) { f = (b & c) | (~b & d); k = 0x5A827999; }
        else if (i < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1; }
        else if (i < 60) { f = (b & c) | (b & d) | (c & d); k = 0x8F1BBCDC; }
        else { f = b ^ c ^ d; k = 0xCA62C1D6; }
        uint32_t t = Rol(a, 5) + f + e + k + w[i];
        e = d; d = c; c = Rol(b, 30); b = a; a = t;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e;
}

// The namespace of every name this tool derives.
constexpr uint8_t kNamespace[16] = {0x5a, 0x6f, 0x53, 0x65, 0x74, 0x75, 0x70, 0x2d,
                                    0x50, 0x61, 0x63, 0x6b, 0x2d, 0x47, 0x55, 0x49};

}  // namespace

std::array<uint8_t, 20> Sha1(const uint8_t* data, size_t size)
{
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    size_t full = size / 64 * 64;
    for (size_t at = 0; at < full; at += 64) Sha1Block(h, data + at);
    uint8_t tail[128] = {};
    size_t rest = size - full;
    if (rest) std::memcpy(tail, data + full, rest);
    tail[rest] = 0x80;
    size_t tailLen = rest < 56 ? 64 : 128;
    uint64_t bits = uint64_t(size) * 8;
    for (int i = 0; i < 8; ++i) tail[tailLen - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    for (size_t at = 0; at < tailLen; at += 64) Sha1Block(h, tail + at);
    std::array<uint8_t, 20> out;
    for (int i = 0; i < 20; ++i) out[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return out;
}

WideString NameBasedGuid(const WideString& projectGuid, const WideString& name)
{
    AnsiString text(reinterpret_cast<const char*>(kNamespace), sizeof kNamespace);
    text += ToUtf8(WideUpperCase(projectGuid));
    text += '\n';
    text += ToUtf8(WideUpperCase(name));
    auto hash = Sha1(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    hash[6] = static_cast<uint8_t>((hash[6] & 0x0F) | 0x50);  // version 5
    hash[8] = static_cast<uint8_t>((hash[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static const char hex[] = "0123456789ABCDEF";
    WideString guid = u"{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) guid += u'-';
        guid += static_cast<char16_t>(hex[hash[i] >> 4]);
        guid += static_cast<char16_t>(hex[hash[i] & 15]);
    }
    return guid + u"}";
}
