// The PNG check on arbitrary bytes (icons come from users and from the
// installers inspect reads): an error or the image's header, nothing else.
#include <cstddef>
#include <cstdint>

#include "PeIcon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        TPngInfo info = CheckPng(data, size);
        if (info.Width == 0 || info.Height == 0 || info.Width > 4096 || info.Height > 4096) __builtin_trap();
    } catch (const Exception&) {
    }
    return 0;
}
