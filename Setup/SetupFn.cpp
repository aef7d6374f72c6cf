#include "SetupFn.h"

#include "ZoCodec.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

WideString ProgramFilesDir;
WideString DesktopDir;
WideString CommonProgramsDir;
WideString UserProgramFilesDir;
WideString UserProgramsDir;
WideString AppTitleValue;
WideString InstallDir;
bool PerUserInstall = false;

void TSetupfn::EncodeStream(TMemoryStream* stream)
{
    stream->SetPosition(0);
    TMemoryStream packed;
    TZoSysfn::CompressStream(stream, &packed);
    stream->Bytes().swap(packed.Bytes());
    stream->SetPosition(0);
    ZoCodec::Scramble(stream->Memory(), stream->Bytes().size());
}

void TSetupfn::EncodeStreamStored(TMemoryStream* stream)
{
    TBytes packed = ZoCodec::Store(stream->Memory(), stream->Bytes().size());
    stream->Bytes().swap(packed);
    stream->SetPosition(0);
    ZoCodec::Scramble(stream->Memory(), stream->Bytes().size());
}

void TSetupfn::DecodeStream(TMemoryStream* stream, size_t maxBytes)
{
    ZoCodec::Scramble(stream->Memory(), stream->Bytes().size());
    stream->SetPosition(0);
    TMemoryStream plain;
    TZoSysfn::DecompressStream(stream, &plain, maxBytes);
    stream->Bytes().swap(plain.Bytes());
    stream->SetPosition(0);
}

uint64_t DecodeImage(std::span<const uint8_t> image, const ZoCodec::TSink& sink, uint64_t limit)
{
    return ZoCodec::Decode(image, true, sink, limit);
}

TBytes DecodeBytes(std::span<const uint8_t> encoded)
{
    TBytes plain;
    ZoCodec::Decode(encoded, true, [&](const uint8_t* data, size_t size) { plain.insert(plain.end(), data, data + size); });
    return plain;
}

WideString TSetupfn::ExpandConstants(const WideString& text)
{
    const int flags = rfReplaceAll | rfIgnoreCase;
    WideString r = ReplaceText(text, u"{pf}", PerUserInstall ? UserProgramFilesDir : ProgramFilesDir, flags);
    const WideString& programs = PerUserInstall ? UserProgramsDir : CommonProgramsDir;
    r = ReplaceText(r, u"{group}", WithTrailingBackslash(programs + AppTitleValue), flags);
    r = ReplaceText(r, u"{desktop}", DesktopDir, flags);
    r = ReplaceText(r, u"{app}", InstallDir, flags);
    r = ReplaceText(r, u"{srcexe}", ArgAt(0), flags);
    return ReplaceText(r, u"\\\\", u"\\", rfReplaceAll);
}

WideString UninstallKeyPath(const WideString& guid, const WideString& suffix)
{
    return u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + guid + suffix;
}

void InitFolderValues()
{
    ProgramFilesDir = WithoutTrailingBackslash(ZoPlatform::GetEnv("ProgramFiles"));
    DesktopDir = TZoRegfn::GetSpecialFolder(0);
    CommonProgramsDir = WithTrailingBackslash(TZoRegfn::GetSpecialFolder(0x17));
    // The folder Windows itself gives per-user programs (FOLDERID_UserProgramFiles).
    const WideString localAppData = TZoRegfn::GetSpecialFolder(0x1C);
    UserProgramFilesDir = localAppData.empty() ? WideString() : localAppData + u"Programs";
    UserProgramsDir = WithTrailingBackslash(TZoRegfn::GetSpecialFolder(0x02));
}

TRegRootKey UninstallRoot() { return PerUserInstall ? TRegRootKey::rrkCurrentUser : TRegRootKey::rrkLocalMachine; }
