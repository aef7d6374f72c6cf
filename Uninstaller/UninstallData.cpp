#include "UninstallData.h"

#include <cerrno>

#include "PeIcon.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "Texts.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"

namespace {

// The decoded content of one data file; EUninstallDataError when it is not there.
TBytes ReadDecoded(const WideString& file)
{
    TMemoryStream stream;
    {
        UniqueFile probe = OpenFile(file, "rb");
        if (!probe) {
            if (errno == ENOENT) throw EUninstallDataError(FormatText(TextView(TTextId::UninstallDataMissing), {file}));
            throw EUninstallDataError(FormatText(TextView(TTextId::UninstallDataUnreadable), {file}));
        }
    }
    try {
        stream.LoadFromFile(file);
    } catch (const EStreamError&) {
        throw EUninstallDataError(FormatText(TextView(TTextId::UninstallDataUnreadable), {file}));
    }
    TSetupfn::DecodeStream(&stream);
    return std::move(stream.Bytes());
}

EUninstallDataError Damaged(const WideString& file)
{
    return EUninstallDataError(FormatText(TextView(TTextId::UninstallDataDamaged), {file}));
}

}  // namespace

std::unique_ptr<TSetupScript> LoadUninstallScript(const WideString& folder)
{
    const WideString file = folder + UninstallScriptName;
    auto script = std::make_unique<TSetupScript>();
    try {
        TMemoryStream xml(ReadDecoded(file));
        script->BaseInfo->GUID.clear();  // the constructor makes one up; only the file's counts
        script->LoadFromStream(xml);
    } catch (const EUninstallDataError&) {
        throw;
    } catch (const std::exception&) {
        throw Damaged(file);
    }
    // Without its GUID the product's registration cannot be found: this is
    // not a script the installer wrote.
    if (Trim(script->BaseInfo->GUID).empty()) throw Damaged(file);
    return script;
}

TBytes LoadUninstallIcon(const WideString& folder)
{
    try {
        TBytes png = ReadDecoded(folder + UninstallIconName);
        CheckPng(png);
        return png;
    } catch (const std::exception&) {
        return TBytes();
    }
}
