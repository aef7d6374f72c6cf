#include "NewProject.h"

#include <cmath>
#include <filesystem>

#include "PeIcon.h"
#include "ProjectCheck.h"
#include "SetupProject.h"
#include "Texts.h"
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

TBytes Utf8WithMark(const WideString& text)
{
    TBytes b{0xEF, 0xBB, 0xBF};
    for (char c : ToUtf8(text)) b.push_back(static_cast<uint8_t>(c));
    return b;
}

}  // namespace

void WriteNewProject(const WideString& projectFile, TLanguage language)
{
    const fs::path project(projectFile);
    std::error_code ec;
    if (fs::exists(project, ec))
        throw EPackageError(projectFile + u": the file exists already; choose another name or edit it");
    // The product is named after the project: a second project is a second
    // product, with its own folder, title and identity.
    const WideString name = project.stem().u16string();
    if (Trim(name).empty() || !WindowsNameProblem(name).empty() || name.find_first_of(u"{}") != WideString::npos)
        throw EPackageError(projectFile + u": name the project as the product, with a name Windows can hold "
                                              u"(it becomes the title, the folder and the program's name)");
    const fs::path dir = project.parent_path();
    if (!dir.empty()) fs::create_directories(dir, ec);

    TSetupScript script;
    TSetupBaseInfo& info = *script.BaseInfo;
    info.AppTitle = name;
    info.ProductName = name;
    info.Version = u"1.0.0.0";
    info.DefInstallPath = u"{pf}\\" + name;
    info.IconFile = u"icon.png";
    info.LicenseFile = u"license.txt";
    info.FullSetupFile = name + u"-setup.exe";
    info.MiniSetupFile = name + u"-online.exe";
    auto text = [language](TTextId id) { return WideString(TextIn(language, id)); };
    info.InstallFileDescription = FormatText(text(TTextId::NewInstallerDescription), {name});
    info.UninstallFileDescription = FormatText(text(TTextId::NewUninstallerDescription), {name});
    // A Chinese project keeps the default; any other speaks as its user's Windows does.
    if (language != TLanguage::zhCN) info.Language = u"auto";
    // {AppTitle}, {Version}, {GUID} and the like come from BaseInfo; only
    // what it does not hold is a variable here.
    script.VarList->Clear();
    script.VarList->GetOrAddVar(u"{MainExeName}")->VarValue = name;

    TSetupFile* files = script.FileList->Add();
    files->SourcePath = u"files";
    files->SourceMask = u"*.*";
    files->IncludeSubPath = true;
    files->DestDir = u"{app}";
    TSetupRun* run = script.RunList->Add();  // started by the finished window's button
    run->FileName = u"{app}\\{MainExeName}.exe";
    run->WorkDir = u"{app}";
    auto shortcut = [&](const WideString& title, const WideString& target, const WideString& folder) {
        TSetupShortCut* link = script.ShortCutList->Add();
        link->Name = title;
        link->DstFile = target;
        link->IconFile = target;
        link->SaveDir = folder;
        link->WorkDir = u"{app}";
    };
    shortcut(u"{AppTitle}", u"{app}\\{MainExeName}.exe", u"{desktop}");
    shortcut(u"{AppTitle}", u"{app}\\{MainExeName}.exe", u"{group}");
    shortcut(text(TTextId::NewUninstallShortcut), u"{app}\\Uninstall.exe", u"{group}");

    WriteIfMissing(dir / "icon.png", PlaceholderIcon());
    WriteIfMissing(dir / "license.txt", Utf8WithMark(text(TTextId::NewLicenseText)));
    fs::create_directories(dir / "files", ec);
    WriteIfMissing(dir / "files" / "readme.txt",
                   Utf8WithMark(FormatText(text(TTextId::NewFilesReadmeFormat), {name})));
    script.SaveToFile(projectFile);
}

TLanguage LanguageOfLocale(const WideString& locale)
{
    return WideLowerCase(locale).starts_with(u"zh") ? TLanguage::zhCN : TLanguage::enUS;
}
