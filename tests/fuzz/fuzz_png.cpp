// The PNG check and decoder on arbitrary bytes (icons come from users, from the
// installers inspect reads, and the ready icon from the installer's own file):
// an error, or the image's header and exactly its pixels, nothing else.
#include <cstddef>
#include <cstdint>

#include "PeIcon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        TPngInfo info = CheckPng(data, size);
        if (info.Width == 0 || info.Height == 0 || info.Width > 4096 || info.Height > 4096) __builtin_trap();
        if (uint64_t(info.Width) * info.Height <= 256 * 256) {  // larger ones cost the fuzzer time, not coverage
            TRgbaImage image = DecodePng(TBytes(data, data + size));
            if (image.Width != info.Width || image.Height != info.Height ||
                image.Pixels.size() != size_t(info.Width) * info.Height * 4)
                __builtin_trap();
        }
    } catch (const Exception&) {
    }
    return 0;
}
