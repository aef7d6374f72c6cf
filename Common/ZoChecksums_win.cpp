// The programs' checksums. zlib's inflater names crc32 for gzip streams, which
// the programs never read, and zlib's own crc32 brings 9 to 12 KB of tables for
// speed an icon check does not need; its adler32 object carries functions to
// combine sums the programs never call. Linked as an object with the terminate
// handler, so the linker takes these definitions and never the library's.
#include <zlib.h>

#include "ZoChecksums.h"

// C linkage said here as well: a definition whose types drifted from zlib.h's
// would otherwise become a C++ overload, and zlib's own objects would come back
// without a word. This way it does not compile.
extern "C" {

uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len)
{
    if (buf == nullptr) return 0;
    return ZoCrc32(static_cast<uint32_t>(crc), buf, len);
}

uLong ZEXPORT adler32_z(uLong adler, const Bytef* buf, z_size_t len)
{
    if (buf == nullptr) return 1;
    return ZoAdler32(static_cast<uint32_t>(adler), buf, len);
}

uLong ZEXPORT adler32(uLong adler, const Bytef* buf, uInt len)
{
    return adler32_z(adler, buf, len);
}

}  // extern "C"
