#include "NewProject.h"

#include <cmath>
#include <filesystem>

#include "PeIcon.h"
#include "SetupProject.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

// A round blue badge on transparent ground: something to replace.
TBytes PlaceholderIcon()
{
    const uint32_t side = 64;
    TBytes rgba(side * side * 4, 0);
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            double dx = x + 0.5 - side / 2.0, dy = y + 0.5 - side / 2.0;
            double edge = side / 2.0 - 2 - std::sqrt(dx * dx + dy * dy);
            if (edge <= -1) continue;
            uint8_t* p = &rgba[(y * side + x) * 4];
            p[0] = 0x1E;
            p[1] = static_cast<uint8_t>(0x78 + y);
            p[2] = 0xE6;
            p[3] = static_cast<uint8_t>(edge >= 0 ? 255 : 255 * (1 + edge));
        }
    return EncodePng(side, side, rgba.data());
}

void WriteIfMissing(const fs::path& file, const TBytes& bytes)
{
    std::error_code ec;
    if (fs::exists(file, ec)) return;
    TMemoryStream s{bytes};
    s.SaveToFile(file.u16string());
}

TBytes Utf8WithMark(const char* text)
{
    TBytes b{0xEF, 0xBB, 0xBF};
    for (const char* p = text; *p; ++p) b.push_back(static_cast<uint8_t>(*p));
    return b;
}

}  // namespace

void WriteNewProject(const WideString& projectFile)
{
    const fs::path project(projectFile);
    std::error_code ec;
    if (fs::exists(project, ec))
        throw EPackageError(projectFile + u": the file exists already; choose another name or edit it");
    const fs::path dir = project.parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);

    TSetupScript script;
    TSetupBaseInfo& info = *script.BaseInfo;
    const WideString title = u"我的产品";
    info.AppTitle = title;
    info.ProductName = title;
    info.Version = u"1.0.0.0";
    info.DefInstallPath = u"{pf}\\MyProduct";
    info.IconFile = u"icon.png";
    info.LicenseFile = u"license.txt";
    info.FullSetupFile = u"MyProductSetup.exe";
    info.MiniSetupFile = u"MyProductSetup-online.exe";
    info.InstallFileDescription = title + u" 安装程序";
    script.VarList->GetOrAddVar(u"{AppTitle}")->VarValue = title;
    script.VarList->GetOrAddVar(u"{GUID}")->VarValue = info.GUID;

    TSetupFile* files = script.FileList->Add();
    files->SourcePath = u"files";
    files->SourceMask = u"*.*";
    files->IncludeSubPath = true;
    files->DestDir = u"{app}";
    TSetupShortCut* link = script.ShortCutList->Add();
    link->Name = u"{AppTitle} 说明";
    link->DstFile = u"{app}\\readme.txt";
    link->SaveDir = u"{desktop}";
    link->WorkDir = u"{app}";

    WriteIfMissing(dir / "icon.png", PlaceholderIcon());
    WriteIfMissing(dir / "license.txt", Utf8WithMark("用户协议\r\n\r\n在这里写下产品的用户协议。\r\n"));
    fs::create_directories(dir / "files", ec);
    WriteIfMissing(dir / "files" / "readme.txt", Utf8WithMark("把产品的文件放进这个文件夹。\r\n"));
    script.SaveToFile(projectFile);
}
