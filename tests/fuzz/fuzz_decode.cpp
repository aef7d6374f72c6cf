// DecodeStream on arbitrary bytes: an error or the plain bytes, nothing else.
#include <cstddef>
#include <cstdint>

#include "SetupFn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TMemoryStream s{TBytes(data, data + size)};
    try {
        TSetupfn::DecodeStream(&s);
    } catch (const Exception&) {
    }
    return 0;
}
