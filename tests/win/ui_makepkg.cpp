// Makes test installers for the window tests: a copy of the installer stub
// with a setup script, a product icon and an agreement text put in as encoded
// RCDATA resources (BeginUpdateResourceW and friends).
//
//   ui_makepkg STUB OUT [option...]
//     --script full|online|both|none   which script resources (default full)
//     --title TEXT --version TEXT --defdir TEXT --guid TEXT --language TEXT
//     --scope machine|user|either       the install scope (default machine)
//     --icon png|plain|bad|missing     the icon resource (default png); png adds the ready
//                                      icon zosetup-pack writes, plain leaves it out
//     --license none|utf8|utf16|ansi   the agreement text and its encoding (default utf8)
//     --raw NAME FILE                  one more resource, bytes as given (not encoded)
//     --file NAME FILE                 one more resource, encoded
//     --wait-run FILE PARAMS           a run entry the installation waits for
//   A full package carries one product file, "readme.txt" in the destination.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "FileDataClasses.h"
#include "PackageFormat.h"
#include "PeIcon.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "ZoGraphics_win.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace {

const char* const kFullScript = "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}";
const char* const kOnlineScript = "{F907FF9D-0131-45D9-9469-A2CD78FB4793}";
const char16_t* const kIconRes = u"{0B1A2C3D-0000-4000-8000-00000000ICON}";
const char16_t* const kLicenseRes = u"{0B1A2C3D-0000-4000-8000-0000000LICEN}";

// A product icon: an orange rounded square with a white box in it, smoothed by
// 4 x 4 supersampling.
TBytes MakeIconPng()
{
    const int n = 96;
    std::vector<uint32_t> px(n * n);
    auto insideRounded = [](double x, double y, double l, double t, double r, double b, double radius) {
        double cx = std::clamp(x, l + radius, r - radius), cy = std::clamp(y, t + radius, b - radius);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius && x >= l && x <= r && y >= t && y <= b;
    };
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            int outer = 0, inner = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    double fx = x + (sx + 0.5) / 4, fy = y + (sy + 0.5) / 4;
                    if (insideRounded(fx, fy, 4, 4, 92, 92, 20)) ++outer;
                    if (insideRounded(fx, fy, 28, 30, 68, 70, 5) && !(fy > 44 && fy < 48)) ++inner;
                }
            double t = y / double(n);
            int r = 255, g = int(196 - 70 * t), b = int(30 * (1 - t));
            double wi = inner / 16.0;
            r = int(r * (1 - wi) + 255 * wi);
            g = int(g * (1 - wi) + 255 * wi);
            b = int(b * (1 - wi) + 255 * wi);
            uint32_t a = uint32_t(outer * 255 / 16);
            px[y * n + x] = (a << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
        }
    return TPicture::FromPixels(n, n, px.data())->ToPng();
}

// The agreement text: Chinese where the system code page has it.
WideString LicenseText()
{
    if (GetACP() == 936) return u"第一条 许可范围\n第二条 使用限制\n\n第三条 其他\n";
    return u"Section 1 caf\u00e9\nSection 2\n\nSection 3\n";
}

TBytes EncodeLicense(const std::string& how)
{
    WideString text = LicenseText();
    TBytes out;
    if (how == "utf8") {
        AnsiString u = ToUtf8(text);
        out = {0xEF, 0xBB, 0xBF};
        out.insert(out.end(), u.begin(), u.end());
    } else if (how == "utf16") {
        // CR LF here, LF in the others: both give the same text.
        WideString crlf = ReplaceText(text, u"\n", u"\r\n", rfReplaceAll);
        out = {0xFF, 0xFE};
        for (char16_t c : crlf) {
            out.push_back(uint8_t(c & 0xFF));
            out.push_back(uint8_t(c >> 8));
        }
    } else {
        int n = WideCharToMultiByte(CP_ACP, 0, W(text), int(text.size()), nullptr, 0, nullptr, nullptr);
        std::string a(size_t(n), '\0');
        WideCharToMultiByte(CP_ACP, 0, W(text), int(text.size()), a.data(), n, nullptr, nullptr);
        out.assign(a.begin(), a.end());
    }
    return out;
}

TBytes Encoded(TBytes plain)
{
    TMemoryStream s(std::move(plain));
    TSetupfn::EncodeStream(&s);
    return s.Bytes();
}

bool Put(HANDLE update, const WideString& name, const TBytes& bytes)
{
    std::wstring upper(W(name));
    return UpdateResourceW(update, RT_RCDATA, upper.c_str(), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                           const_cast<uint8_t*>(bytes.data()), DWORD(bytes.size())) != 0;
}

TBytes ReadAll(const wchar_t* path)
{
    TMemoryStream s;
    s.LoadFromFile(U(path));
    return s.Bytes();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fputs("usage: ui_makepkg STUB OUT [option...]\n", stderr);
        return 2;
    }
    TComApartment com;
    std::string scriptKind = "full", icon = "png", license = "utf8";
    TSetupScript script;
    script.BaseInfo->AppTitle = u"示例软件";
    script.BaseInfo->Version = u"1.0.0";
    script.BaseInfo->DefInstallPath = u"{pf}\\ZoDemo\\";
    std::vector<std::pair<WideString, TBytes>> extra;
    for (int i = 3; i < argc; ++i) {
        std::wstring opt = argv[i];
        auto next = [&]() -> WideString {
            if (i + 1 >= argc) throw Exception(u"option without value");
            return U(argv[++i]);
        };
        if (opt == L"--script")
            scriptKind = AsciiOf(next());
        else if (opt == L"--title")
            script.BaseInfo->AppTitle = next();
        else if (opt == L"--version")
            script.BaseInfo->Version = next();
        else if (opt == L"--defdir")
            script.BaseInfo->DefInstallPath = next();
        else if (opt == L"--guid")
            script.BaseInfo->GUID = next();
        else if (opt == L"--language")
            script.BaseInfo->Language = next();
        else if (opt == L"--scope") {
            const std::string scope = AsciiOf(next());
            script.BaseInfo->InstallScope = scope == "user"     ? TInstallScope::isUser
                                            : scope == "either" ? TInstallScope::isEither
                                                                : TInstallScope::isMachine;
        }
        else if (opt == L"--icon")
            icon = AsciiOf(next());
        else if (opt == L"--license")
            license = AsciiOf(next());
        else if (opt == L"--wait-run") {
            TSetupRun* run = script.RunList->Add();
            run->FileName = next();
            run->Params = next();
            run->Wait = true;
        } else if (opt == L"--raw" || opt == L"--file") {
            WideString name = next(), file = next();
            TBytes bytes = ReadAll(W(file));
            extra.emplace_back(name, opt == L"--raw" ? bytes : Encoded(bytes));
        } else {
            std::fprintf(stderr, "ui_makepkg: unknown option %ls\n", opt.c_str());
            return 2;
        }
    }
    script.BaseInfo->IconResID = icon == "missing" ? u"{0B1A2C3D-0000-4000-8000-00000000NONE}" : kIconRes;
    script.BaseInfo->LicenseResID = license == "none" ? WideString() : WideString(kLicenseRes);

    if (!CopyFileW(argv[1], argv[2], FALSE)) {
        std::fprintf(stderr, "ui_makepkg: cannot copy the stub\n");
        return 1;
    }
    // One product file and the block that holds it.
    TMemoryStream block;
    {
        const AnsiString readme = "zosetup test product\r\n";
        TFileDataBlockWriter writer(block);
        writer.AddFile(u"{0B1A2C3D-0000-4000-8000-0000000FILE1}", reinterpret_cast<const uint8_t*>(readme.data()),
                       readme.size());
        writer.Finish();
        TSetupFile* file = script.FileList->Add();
        file->DestDir = u"{app}";
        file->SourceMask = u"readme.txt";
        file->ResID = u"{0B1A2C3D-0000-4000-8000-0000000FILE1}";
        file->FileBytes = static_cast<int32_t>(readme.size());
        file->LastWriteDate = 45000.5;
    }
    TMemoryStream xml;
    script.SaveToStream(xml);
    TBytes encodedScript = Encoded(xml.Bytes());

    HANDLE update = BeginUpdateResourceW(argv[2], FALSE);
    if (!update) {
        std::fprintf(stderr, "ui_makepkg: cannot open the copy for resources\n");
        return 1;
    }
    bool ok = true;
    if (scriptKind == "full" || scriptKind == "both") {
        ok &= Put(update, WideOf(kFullScript), encodedScript);
        ok &= Put(update, WideOf(FileDataResource), block.Bytes());
    }
    if (scriptKind == "online" || scriptKind == "both") {
        // The online script differs by title, so a test sees which one was read.
        TSetupScript online;
        online.Assign(script);
        online.BaseInfo->AppTitle = script.BaseInfo->AppTitle + u" Online";
        TMemoryStream x;
        online.SaveToStream(x);
        ok &= Put(update, WideOf(kOnlineScript), Encoded(x.Bytes()));
    }
    const TBytes iconPng = icon == "png" || icon == "plain" ? MakeIconPng() : TBytes{};
    if (!iconPng.empty()) ok &= Put(update, kIconRes, Encoded(iconPng));
    if (icon == "bad") ok &= Put(update, kIconRes, Encoded(TBytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}));
    if (license != "none") ok &= Put(update, kLicenseRes, Encoded(EncodeLicense(license)));
    for (auto& [name, bytes] : extra) ok &= Put(update, name, bytes);
    if (!EndUpdateResourceW(update, !ok) || !ok) {
        std::fprintf(stderr, "ui_makepkg: writing the resources failed\n");
        return 1;
    }
    if (icon == "png") {
        const WideString out = U(argv[2]);
        TBytes bytes;
        {
            TPeImage pe = TPeImage::FromFile(out);  // closed before the file is written again
            SetWindowIcon(pe, iconPng, ProductPictureSide);
            bytes = pe.Save();
        }
        TFileStream(out, TFileStream::fmCreate).WriteBuffer(bytes.data(), bytes.size());
    }
    return 0;
}
