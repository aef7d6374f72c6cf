#include "SetupFn.h"

#include <algorithm>
#include <array>

#include "ZoPlatform.h"
#include "ZoSysUtils.h"

WideString ProgramFilesDir;
WideString DesktopDir;
WideString CommonProgramsDir;
WideString AppTitleValue;
WideString InstallDir;

void ScrambleBytes(uint8_t* data, size_t size)
{
    // The key runs 0..254 and starts again: period 255, not 256. A key run of
    // 64 periods lets the compiler XOR whole words over each block.
    constexpr size_t kRun = 255 * 64;
    static const auto key = [] {
        std::array<uint8_t, kRun> k{};
        for (size_t i = 0; i < kRun; ++i) k[i] = static_cast<uint8_t>(i % 255);
        return k;
    }();
    for (size_t done = 0; done < size; done += kRun) {
        size_t n = std::min(kRun, size - done);
        uint8_t* p = data + done;
        for (size_t i = 0; i < n; ++i) p[i] ^= key[i];
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

void TSetupfn::DecodeStream(TMemoryStream* stream, size_t maxBytes)
{
    ScrambleBytes(stream->Memory(), stream->Bytes().size());
    stream->SetPosition(0);
    TMemoryStream plain;
    TZoSysfn::DecompressStream(stream, &plain, maxBytes);
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
