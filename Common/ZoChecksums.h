// The two checksums of zlib's formats, small. The programs link these in place
// of zlib's own (see ZoChecksums_win.cpp); the values are the same.
//
// CRC-32 as zlib and PNG define it (reflected polynomial 0xEDB88320, inverted
// before and after), four bits at a time from a 16-entry table. Slower than
// zlib's braided version, and a few dozen bytes instead of some 9 to 12 KB of
// tables: the programs check only a product icon's chunks with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ZoCrc32Detail {
constexpr std::array<uint32_t, 16> NibbleTable()
{
    std::array<uint32_t, 16> table{};
    for (uint32_t n = 0; n < 16; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 4; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[n] = c;
    }
    return table;
}
inline constexpr std::array<uint32_t, 16> kNibble = NibbleTable();
}  // namespace ZoCrc32Detail

// Continues `crc` (0 to start) over `size` bytes, as zlib's crc32 does.
inline uint32_t ZoCrc32(uint32_t crc, const uint8_t* data, size_t size)
{
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        crc = (crc >> 4) ^ ZoCrc32Detail::kNibble[crc & 15];
        crc = (crc >> 4) ^ ZoCrc32Detail::kNibble[crc & 15];
    }
    return ~crc;
}

// Adler-32 as zlib defines it: continues `adler` (1 to start, or a sum this or
// zlib returned, whose halves are below 65521) over `size` bytes.
// The sums are reduced every 5552 bytes, the most that cannot overflow 32 bits.
// Every installed byte passes through it, so eight bytes a turn, near zlib's pace.
inline uint32_t ZoAdler32(uint32_t adler, const uint8_t* data, size_t size)
{
    constexpr uint32_t kBase = 65521;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    do {
        size_t block = size < 5552 ? size : 5552;
        size -= block;
        for (; block >= 8; block -= 8, data += 8) {
            for (int i = 0; i < 8; ++i) {
                a += data[i];
                b += a;
            }
        }
        for (; block != 0; --block) {
            a += *data++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    } while (size != 0);
    return (b << 16) | a;
}
