#include "PackageResources_win.h"

#include <cstring>

#include "SetupFn.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

bool HasPackageResource(HMODULE module, const AnsiString& name)
{
    return module && FindResourceA(module, name.c_str(), MAKEINTRESOURCEA(10)) != nullptr;
}

bool ReadPackageResource(HMODULE module, const WideString& name, TMemoryStream* target)
{
    AnsiString ansiName = ZoPlatform::WideToAnsi(name);
    HRSRC info = module ? FindResourceA(module, ansiName.c_str(), MAKEINTRESOURCEA(10)) : nullptr;
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) throw EResNotFound(FormatText(u"Resource %s not found", {name}));
    DWORD size = SizeofResource(module, info);
    target->Clear();
    target->SetSize(size);
    if (size) std::memcpy(target->Memory(), data, size);
    target->SetPosition(0);
    TSetupfn::DecodeStream(target);
    return true;
}

HMODULE OpenOwnModule()
{
    WideString self = ArgAt(0);
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(self.c_str()));
}
