// The PE reader on arbitrary bytes, as inspect meets a damaged or foreign
// file: parse, read every resource, read the version and the icon, rebuild
// the resources and parse the result again. Errors are fine; crashes are not.
#include <cstddef>
#include <cstdint>

#include "PeIcon.h"
#include "PeResources.h"
#include "PeVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        TPeImage pe = TPeImage::FromBytes(TBytes(data, data + size));
        pe.ComputeCheckSum();
        for (const TPeResource& r : pe.Resources()) {
            TBytes bytes = pe.ReadResource(r);
            if (r.Type == TResName(pe::kVersion)) {
                try {
                    ParseVersionResource(bytes);
                } catch (const Exception&) {
                }
            }
        }
        for (const TIconEntry& e : ExplorerIcon(pe)) {
            try {
                CheckPng(e.Image);
            } catch (const Exception&) {
            }
        }
        pe.SetResource(pe::kRcData, u"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}", TBytes{1, 2, 3});
        TPeImage again = TPeImage::FromBytes(pe.Save());
        if (!again.Find(pe::kRcData, u"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}")) __builtin_trap();
    } catch (const Exception&) {
    }
    return 0;
}
