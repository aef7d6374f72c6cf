#include "SetupFn.h"

#include "ZoPlatform.h"
#include "ZoSysUtils.h"

WideString ProgramFilesDir;
WideString DesktopDir;
WideString CommonProgramsDir;
WideString AppTitleValue;
WideString InstallDir;

void ScrambleBytes(uint8_t* data, size_t size)
{
    // The key runs 0..254 and starts again: period 255, not 256.
    uint8_t key = 0;
    for (size_t i = 0; i < size; ++i) {
        data[i] ^= key;
        key = key == 254 ? 0 : static_cast<uint8_t>(key + 1);
    }
}

void TSetupfn::EncodeStream(TMemoryStream* stream)
{
    stream->SetPosition(0);
    TMemoryStream packed;
    TZoSysfn::CompressStream(stream, &packed);
    stream->Bytes().swap(packed.Bytes());
    stream->SetPosition(0);
    ScrambleBytes(stream->Memory(), stream->Bytes().size());
}

void TSetupfn::DecodeStream(TMemoryStream* stream)
{
    ScrambleBytes(stream->Memory(), stream->Bytes().size());
    stream->SetPosition(0);
    TMemoryStream plain;
    TZoSysfn::DecompressStream(stream, &plain);
    stream->Bytes().swap(plain.Bytes());
    stream->SetPosition(0);
}

WideString TSetupfn::ExpandConstants(const WideString& text)
{
    const int flags = rfReplaceAll | rfIgnoreCase;
    WideString r = ReplaceText(text, u"{pf}", ProgramFilesDir, flags);
    r = ReplaceText(r, u"{group}", WithTrailingBackslash(CommonProgramsDir + AppTitleValue), flags);
    r = ReplaceText(r, u"{desktop}", DesktopDir, flags);
    r = ReplaceText(r, u"{app}", InstallDir, flags);
    r = ReplaceText(r, u"{srcexe}", ArgAt(0), flags);
    return ReplaceText(r, u"\\\\", u"\\", rfReplaceAll);
}

void InitFolderValues()
{
    ProgramFilesDir = WithoutTrailingBackslash(ZoPlatform::GetEnv("ProgramFiles"));
    DesktopDir = TZoRegfn::GetSpecialFolder(0);
    CommonProgramsDir = WithTrailingBackslash(TZoRegfn::GetSpecialFolder(0x17));
}
