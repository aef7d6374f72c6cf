// The package index loader. An input whose first byte is odd is taken as a
// whole block; otherwise the next four bytes give the length of an image area
// and the rest is the plain index document, which is encoded and appended
// with its trailer here, so the fuzzer can reach the record checks.
#include <cstddef>
#include <cstdint>

#include "FileDataClasses.h"
#include "SetupFn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    TBytes block;
    if (data[0] & 1) {
        block.assign(data + 1, data + size);
    } else {
        if (size < 5) return 0;
        size_t images = (data[1] | data[2] << 8 | static_cast<size_t>(data[3]) << 16 | static_cast<size_t>(data[4]) << 24);
        images = images > size - 5 ? size - 5 : images;
        block.assign(data + 5, data + 5 + images);
        TMemoryStream index{TBytes(data + 5 + images, data + size)};
        TSetupfn::EncodeStream(&index);
        block.insert(block.end(), index.Bytes().begin(), index.Bytes().end());
        uint32_t n = static_cast<uint32_t>(index.Size());
        for (int i = 0; i < 4; ++i) block.push_back(static_cast<uint8_t>(n >> (8 * i)));
    }
    try {
        TFileDataList list;
        list.LoadIndexFromBlock(block.data(), block.size());
        for (const TFileData* r : list) (void)TFileDataList::ImageOf(*r, block.data(), block.size());
        list.LoadFromBlock(block.data(), block.size());
    } catch (const Exception&) {
    }
    return 0;
}
