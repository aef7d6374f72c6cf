#include "PackageResources.h"

#include "SetupFn.h"
#include "ZoSysUtils.h"

namespace {

// As FindResourceA reads a name: "#123" is the number 123.
TResName ResourceName(const WideString& name)
{
    if (name.size() > 1 && name[0] == u'#') {
        auto n = TryStrToInt(name.substr(1));
        if (n && *n >= 0 && *n <= 0xFFFF) return TResName(static_cast<uint16_t>(*n));
    }
    return TResName(name);
}

}  // namespace

const TPeResource* FindPackageResource(const TPeImage& module, const WideString& name)
{
    if (name.empty()) return nullptr;
    return module.Find(pe::kRcData, ResourceName(name));
}

bool HasPackageResource(const TPeImage& module, const AnsiString& name)
{
    return FindPackageResource(module, FromUtf8(name)) != nullptr;
}

bool ReadPackageResource(const TPeImage& module, const WideString& name, TMemoryStream* target)
{
    const TPeResource* r = FindPackageResource(module, name);
    if (!r) throw EResNotFound(FormatText(u"Resource %s not found", {name}));
    target->Clear();
    target->Bytes() = module.ReadResource(*r);
    TSetupfn::DecodeStream(target);
    return true;
}
