#include "ZoHash.h"

TSha256Digest TZoSha256::Of(const void* data, size_t size)
{
    TZoSha256 h;
    h.Update(data, size);
    return h.Final();
}

AnsiString DigestToHex(const TSha256Digest& digest)
{
    static const char hex[] = "0123456789abcdef";
    AnsiString out;
    out.reserve(64);
    for (uint8_t b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}
