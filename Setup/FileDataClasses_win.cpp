// The file-data block of a module's resources.
#include <windows.h>

#include "FileDataClasses.h"
#include "ZoSysUtils.h"

std::span<const uint8_t> TFileDataList::ModuleBlock(void* module)
{
    HMODULE m = static_cast<HMODULE>(module);
    // A resource's memory belongs to the module: nothing here needs releasing.
    HRSRC info = FindResourceA(m, FileDataResource, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    HGLOBAL handle = info ? LoadResource(m, info) : nullptr;
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data) throw EResNotFound(FormatText(u"Resource %s not found", {WideOf(FileDataResource)}));
    return {static_cast<const uint8_t*>(data), static_cast<size_t>(SizeofResource(m, info))};
}

bool TFileDataList::LoadFromModule(void* module, bool withImages)
{
    std::span<const uint8_t> block = ModuleBlock(module);
    if (withImages)
        LoadFromBlock(block.data(), block.size());
    else
        LoadIndexFromBlock(block.data(), block.size());
    return true;
}
