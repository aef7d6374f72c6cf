// The programs' CRC-32. zlib's inflater names crc32 for gzip streams, which the
// programs never read, and zlib's own crc32 brings 9 to 12 KB of tables for
// speed an icon check does not need. Linked as an object with the terminate
// handler, so the linker takes this definition and never the library's.
#include <zlib.h>

#include "ZoCrc32.h"

uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len)
{
    if (buf == nullptr) return 0;
    return ZoCrc32(static_cast<uint32_t>(crc), buf, len);
}
