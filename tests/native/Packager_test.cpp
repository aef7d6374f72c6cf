#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>

#include "FileDataClasses.h"
#include "Inspect.h"
#include "NewProject.h"
#include "PackageResources.h"
#include "PeDigest.h"
#include "PeIcon.h"
#include "PeResources.h"
#include "PeVersion.h"
#include "ProjectBuilder.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

const WideString kGuid = u"{6A1D3C3E-2B1F-4F7A-9E55-0C0FFEE00001}";

std::string Str(const TBytes& b) { return std::string(b.begin(), b.end()); }
TBytes Bytes(const std::string& s) { return TBytes(s.begin(), s.end()); }

TBytes Decoded(TBytes encoded)
{
    TMemoryStream s{std::move(encoded)};
    TSetupfn::DecodeStream(&s);
    return std::move(s.Bytes());
}

TBytes Png()
{
    TBytes rgba(16 * 16 * 4, 0x80);
    return EncodePng(16, 16, rgba.data());
}

// A project folder: the project file, an icon, an agreement, and product
// files with a sub-folder, built against the small linker-made stub.
struct TProject {
    TTempFolder dir;
    TSetupScript script;
    TBuildOptions options;

    TProject()
    {
        WriteFileBytes(dir.Path() / "icon.png", Str(Png()));
        WriteFileBytes(dir.Path() / "license.txt", "\xEF\xBB\xBF用户协议\r\n第二行\r\n");
        fs::create_directories(dir.Path() / "files" / "sub");
        WriteFileBytes(dir.Path() / "files" / "b.txt", "bee");
        WriteFileBytes(dir.Path() / "files" / "A.exe", Str(RandomBytes(70000, 1)));
        WriteFileBytes(dir.Path() / "files" / "empty.dat", "");
        WriteFileBytes(dir.Path() / "files" / "sub" / "c.dll", std::string(100000, 'c'));
        WriteFileBytes(dir.Path() / "files" / "skip.log", "not wanted");

        TSetupBaseInfo& info = *script.BaseInfo;
        info.GUID = kGuid;
        info.AppTitle = u"Zo 演示";
        info.Version = u"2.5.1.300";
        info.ProductName = u"Zo Demo";
        info.LegalCopyright = u"(c) Zo";
        info.IconFile = u"icon.png";
        info.LicenseFile = u"license.txt";
        info.FullSetupFile = u"{MainExeName}Setup.exe";
        script.VarList->GetOrAddVar(u"{MainExeName}")->VarValue = u"Demo";
        TSetupFile* f = script.FileList->Add();
        f->SourcePath = u"files";
        f->SourceMask = u"*.exe;*.txt;*.dat;*.dll";
        f->IncludeSubPath = true;
        f->DestDir = u"{app}";
        TSetupReg* r = script.RegList->Add();
        r->RootKey = TRegRootKey::rrkCurrentUser;
        r->SubKey = u"Software\\{MainExeName}";
        r->ValueName = u"Path";
        r->ValueData = u"{app}";

        options.ProjectFile = dir.Wide("demo.xml");
        options.OutputDir = dir.Wide("out");
        options.StubFile = FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe");
        Save();
    }
    void Save() { script.SaveToFile(options.ProjectFile); }
    fs::path Out(const char* name) const { return dir.Path() / "out" / name; }
};

std::unique_ptr<TSetupScript> ScriptOf(const TPeImage& pe, const char16_t* name)
{
    if (!HasPackageResource(pe, ToUtf8(name))) return nullptr;
    TMemoryStream xml;
    ReadPackageResource(pe, name, &xml);
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(xml);
    return script;
}

TEST(PackagerBuild, FullInstallerCarriesTheExpandedScriptFilesIconAndAgreement)
{
    TProject p;
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(p.dir.Path() / "files" / "b.txt", stamp);
    TBuildResult r = TProjectBuilder::Build(p.options);
    EXPECT_EQ(r.Files, 4u) << "every entry counts, the empty one too, as inspect counts them";
    EXPECT_EQ(r.BytesIn, 3u + 70000 + 100000);
    EXPECT_EQ(fs::path(r.FullSetup).filename(), "DemoSetup.exe") << "variables apply to the output name";
    EXPECT_TRUE(r.OnlineSetup.empty());

    TPeImage pe = TPeImage::FromFile(r.FullSetup);
    EXPECT_EQ(pe.CheckSum(), pe.ComputeCheckSum());
    EXPECT_EQ(pe.Find(pe::kRcData, OnlineScriptResourceW), nullptr);
    auto script = ScriptOf(pe, FullScriptResourceW);
    ASSERT_NE(script, nullptr);
    const TSetupFileList& files = *script->FileList;
    ASSERT_EQ(files.Count(), 4);
    const char16_t* names[] = {u"A.exe", u"b.txt", u"empty.dat", u"sub\\c.dll"};  // sorted, sub-folder in the mask
    std::set<WideString> ids;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(files.Items(i)->SourceMask, names[i]);
        EXPECT_EQ(files.Items(i)->DestDir, u"{app}");
        EXPECT_FALSE(files.Items(i)->IncludeSubPath);
        ids.insert(files.Items(i)->ResID);
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(files.Items(1)->FileBytes, 3);
    EXPECT_EQ(files.Items(3)->FileBytes, 100000);
    const int64_t unixSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(fs::file_time_type::clock::to_sys(stamp).time_since_epoch()).count();
    EXPECT_NEAR(files.Items(1)->LastWriteDate, UnixTimeToLocalDateTime(unixSeconds), 1e-9) << "15 digits keep the second";
    EXPECT_EQ(script->RegList->Items(0)->SubKey, u"Software\\Demo");
    EXPECT_EQ(script->BaseInfo->GUID, kGuid);

    // Every image decodes to its file; icon and agreement decode to theirs.
    const TPeResource* block = pe.Find(pe::kRcData, FileDataResourceW);
    ASSERT_NE(block, nullptr);
    TBytes blockBytes = pe.ReadResource(*block);
    TFileDataList index;
    index.LoadFromBlock(blockBytes.data(), blockBytes.size());
    EXPECT_EQ(index.Count(), 3);
    TFileData* c = index.FindByGUID(files.Items(3)->ResID);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Decoded(c->Image.Bytes()), Bytes(std::string(100000, 'c')));
    const WideString& iconId = script->BaseInfo->IconResID;
    ASSERT_FALSE(iconId.empty());
    TMemoryStream icon;
    ReadPackageResource(pe, iconId, &icon);
    EXPECT_EQ(icon.Bytes(), Png());
    EXPECT_THROW(ReadPackageResource(pe, u"{00000000-0000-0000-0000-000000000000}", &icon), EResNotFound);
    EXPECT_EQ(Str(Decoded(pe.ReadResource(*pe.Find(pe::kRcData, script->BaseInfo->LicenseResID)))),
              "\xEF\xBB\xBF用户协议\r\n第二行\r\n");

    auto explorerIcon = ExplorerIcon(pe);
    ASSERT_EQ(explorerIcon.size(), 1u);
    EXPECT_EQ(explorerIcon[0].Image, Png());
    TVersionInfo version = ParseVersionResource(pe.ReadResource(*pe.Find(pe::kVersion, 1)));
    EXPECT_EQ(version.FileVersion, (std::array<uint16_t, 4>{2, 5, 1, 300}));
    EXPECT_EQ(*version.Find(u"ProductName"), u"Zo Demo");
    EXPECT_EQ(*version.Find(u"LegalCopyright"), u"(c) Zo");
    EXPECT_EQ(*version.Find(u"OriginalFilename"), u"DemoSetup.exe");
}

TEST(PackagerBuild, OnlineInstallerHasTheScriptIconAndAgreementButNoFiles)
{
    TProject p;
    p.script.BaseInfo->BuildMiniSetup = true;
    p.script.BaseInfo->FullDownloadUrl = u"http://127.0.0.1/DemoSetup.exe";
    p.script.BaseInfo->MiniSetupFile = u"DemoOnline.exe";
    p.Save();
    TBuildResult first = TProjectBuilder::Build(p.options);
    // Built again from a full installer as stub: its package resources must go.
    p.options.StubFile = first.FullSetup;
    p.options.OutputDir = p.dir.Wide("again");
    TBuildResult r = TProjectBuilder::Build(p.options);
    ASSERT_FALSE(r.OnlineSetup.empty());
    TPeImage pe = TPeImage::FromFile(r.OnlineSetup);
    EXPECT_EQ(pe.Find(pe::kRcData, FullScriptResourceW), nullptr);
    EXPECT_EQ(pe.Find(pe::kRcData, FileDataResourceW), nullptr);
    auto script = ScriptOf(pe, OnlineScriptResourceW);
    ASSERT_NE(script, nullptr);
    EXPECT_NE(pe.Find(pe::kRcData, script->BaseInfo->IconResID), nullptr);
    EXPECT_NE(pe.Find(pe::kRcData, script->BaseInfo->LicenseResID), nullptr);
    EXPECT_LT(r.OnlineBytes, 20000u);
    TPeImage full = TPeImage::FromFile(r.FullSetup);
    EXPECT_EQ(full.Find(pe::kRcData, OnlineScriptResourceW), nullptr);
    EXPECT_EQ(full.Find(pe::kRcData, FullDigestResourceW), nullptr);
    // The online installer pins the full one of its own build, and inspect
    // shows both ends.
    const TPeResource* pin = pe.Find(pe::kRcData, FullDigestResourceW);
    ASSERT_NE(pin, nullptr);
    const TSha256Digest digest = PeImageDigest(*FileSource(r.FullSetup));
    EXPECT_EQ(pe.ReadResource(*pin), TBytes(digest.begin(), digest.end()));
    EXPECT_EQ(r.FullBytes % 8, 0u);
    std::ostringstream fullReport, onlineReport;
    InspectInstaller({r.FullSetup, false, u""}, fullReport);
    InspectInstaller({r.OnlineSetup, false, u""}, onlineReport);
    EXPECT_NE(fullReport.str().find("image digest (SHA-256): " + DigestToHex(digest)), std::string::npos);
    EXPECT_NE(onlineReport.str().find("pinned full-package digest (SHA-256): " + DigestToHex(digest)),
              std::string::npos);
    EXPECT_EQ(full.Sections().size(), TPeImage::FromFile(first.FullSetup).Sections().size())
        << "rebuilding over an installer replaces its resource section";
}

TEST(PackagerBuild, IdenticalInputsGiveIdenticalInstallersWhateverTheThreads)
{
    TProject p;
    p.options.Threads = 1;
    std::string one = ReadFileBytes(TProjectBuilder::Build(p.options).FullSetup);
    p.options.Threads = 4;
    p.options.OutputDir = p.dir.Wide("four");
    std::string four = ReadFileBytes(TProjectBuilder::Build(p.options).FullSetup);
    EXPECT_TRUE(one == four) << "the thread count changed the installer";

    WriteFileBytes(p.dir.Path() / "files" / "b.txt", "bea");  // same size, other content
    fs::last_write_time(p.dir.Path() / "files" / "b.txt", fs::last_write_time(p.dir.Path() / "files" / "A.exe"));
    p.options.OutputDir = p.dir.Wide("changed");
    EXPECT_FALSE(ReadFileBytes(TProjectBuilder::Build(p.options).FullSetup) == one);
}

// Each mistake gives one error naming the file at fault, and no output at all.
TEST(PackagerBuild, BadInputIsOneClearErrorAndWritesNothing)
{
    struct Case {
        const char* what;
        std::function<void(TProject&)> spoil;
        const char* expected;  // part of the message
    };
    const std::vector<Case> cases = {
        {"missing file", [](TProject& p) { p.script.FileList->Items(0)->SourceMask = u"nothere.exe"; }, "nothere.exe: missing source file"},
        {"empty mask", [](TProject& p) { p.script.FileList->Items(0)->SourceMask = u"*.zip"; }, "the mask \"*.zip\" matches no file"},
        {"missing folder", [](TProject& p) { p.script.FileList->Items(0)->SourcePath = u"nofolder"; }, "nofolder: missing source folder"},
        {"icon not png", [](TProject& p) { WriteFileBytes(p.dir.Path() / "icon.png", "GIF89a...."); }, "icon.png: not a valid PNG image: no PNG signature"},
        {"no icon", [](TProject& p) { p.script.BaseInfo->IconFile = u""; }, "names no IconFile"},
        {"agreement unreadable", [](TProject& p) { p.script.BaseInfo->LicenseFile = u"nolicense.txt"; }, "nolicense.txt: cannot read the agreement"},
        {"stub damaged", [](TProject& p) {
             WriteFileBytes(p.dir.Path() / "stub.exe", ReadFileBytes(ToUtf8(p.options.StubFile)).substr(0, 300));
             p.options.StubFile = p.dir.Wide("stub.exe");
         }, "stub.exe: damaged PE file"},
        {"stub foreign", [](TProject& p) {
             WriteFileBytes(p.dir.Path() / "stub.exe", "#!/bin/sh\necho not a program for Windows\n........................................");
             p.options.StubFile = p.dir.Wide("stub.exe");
         }, "stub.exe: not a PE file"},
        {"no guid", [](TProject& p) { p.script.BaseInfo->GUID = u""; }, "the project has no GUID"},
        {"same target twice", [](TProject& p) {
             TSetupFile* again = p.script.FileList->Add();
             again->SourcePath = u"files";
             again->SourceMask = u"B.TXT";
             again->DestDir = u"{app}\\";
         }, "installs to the same place as"},
        {"online without address", [](TProject& p) { p.script.BaseInfo->BuildMiniSetup = true; }, "FullDownloadUrl is empty"},
        {"output folder is a file", [](TProject& p) {
             WriteFileBytes(p.dir.Path() / "plain", "x");
             p.options.OutputDir = p.dir.Wide("plain");
         }, "plain: cannot create the output folder"},
        {"output over an input", [](TProject& p) {
             p.script.BaseInfo->FullSetupFile = u"..\\files\\A.exe";
         }, "A.exe: the installer would overwrite a file the build reads"},
        {"output name is a folder", [](TProject& p) { fs::create_directories(p.dir.Path() / "out" / "DemoSetup.exe" / "x"); },
         "DemoSetup.exe: cannot write the installer"},
    };
    for (const Case& c : cases) {
        TProject p;
        c.spoil(p);
        p.Save();
        try {
            TProjectBuilder::Build(p.options);
            ADD_FAILURE() << c.what << ": built anyway";
        } catch (const Exception& e) {
            std::string m = e.what();
            EXPECT_NE(m.find(c.expected), std::string::npos) << c.what << ": " << m;
            EXPECT_EQ(m.find('\n'), std::string::npos) << c.what << ": one line";
        }
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(p.dir.Path() / "out", ec))
            EXPECT_FALSE(e.is_regular_file()) << c.what << ": left " << e.path();
    }
}

TEST(PackagerInspect, ExtractGivesBackTheSourceTreeByteForByte)
{
    TProject p;
    p.script.FileList->Items(0)->SourceMask = u"*.*";
    p.Save();
    TBuildResult r = TProjectBuilder::Build(p.options);
    std::ostringstream report;
    InspectInstaller({r.FullSetup, true, p.dir.Wide("x")}, report);
    EXPECT_NE(report.str().find("mode: full package"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("<TSetupScript>"), std::string::npos) << "--script prints the script";
    EXPECT_NE(report.str().find("extracted: 5 files"), std::string::npos) << report.str();
    size_t compared = 0;
    for (const auto& e : fs::recursive_directory_iterator(p.dir.Path() / "files")) {
        if (!e.is_regular_file()) continue;
        fs::path back = p.dir.Path() / "x" / e.path().lexically_relative(p.dir.Path() / "files");
        EXPECT_EQ(ReadFileBytes(back), ReadFileBytes(e.path())) << back;
        auto seconds = [](fs::file_time_type t) {
            return std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
        };
        EXPECT_EQ(seconds(fs::last_write_time(back)), seconds(fs::last_write_time(e.path()))) << back;
        ++compared;
    }
    EXPECT_EQ(compared, 5u);
}

TEST(PackagerInspect, SaysWhatIsWrongWithForeignAndDamagedFiles)
{
    TProject p;
    std::ostringstream report;
    InspectInstaller({p.options.StubFile, false, u""}, report);
    EXPECT_NE(report.str().find("mode: none: the file carries no setup script, so it is not an installer of zosetup"),
              std::string::npos)
        << report.str();
    EXPECT_EQ(report.str().find("pinned"), std::string::npos) << "a foreign file pins nothing: " << report.str();

    WriteFileBytes(p.dir.Path() / "text.exe", "just some text, nothing like a program");
    EXPECT_THROW(InspectInstaller({p.dir.Wide("text.exe"), false, u""}, report), EPeFormatError);

    // A script resource that does not decode.
    TPeImage pe = TPeImage::FromFile(p.options.StubFile);
    pe.SetResource(pe::kRcData, FullScriptResourceW, Bytes("garbage"));
    TMemoryStream damaged{pe.Save()};
    damaged.SaveToFile(p.dir.Wide("damaged.exe"));
    try {
        InspectInstaller({p.dir.Wide("damaged.exe"), false, u""}, report);
        FAIL();
    } catch (const EPackageError& e) {
        EXPECT_STREQ(e.what(), "the setup script is damaged: it does not decode");
    }
}

TEST(PackagerNew, StartingProjectIsNamedAfterItsFileBuildsAndIsNeverOverwritten)
{
    TTempFolder dir;
    const WideString project = dir.Wide("p/Hello.xml");
    WriteNewProject(project, TLanguage::zhCN);
    const std::string written = ReadFileBytes(dir.Path() / "p" / "Hello.xml");
    WriteFileBytes(dir.Path() / "p" / "files" / "Hello.exe", "MZ");
    TBuildOptions options;
    options.ProjectFile = project;
    options.StubFile = FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe");
    options.AddUninstaller = true;
    options.UninstallerFile = options.StubFile;
    TBuildResult r = TProjectBuilder::Build(options);
    EXPECT_EQ(r.Files, 3u) << "readme.txt, Hello.exe and Uninstall.exe";
    EXPECT_EQ(fs::path(r.FullSetup).filename(), "Hello-setup.exe");
    EXPECT_TRUE(r.Warnings.empty()) << ToUtf8(r.Warnings.front());

    auto script = ScriptOf(TPeImage::FromFile(r.FullSetup), FullScriptResourceW);
    ASSERT_NE(script, nullptr);
    const TSetupBaseInfo& info = *script->BaseInfo;
    EXPECT_EQ(info.AppTitle, u"Hello");
    EXPECT_EQ(info.DefInstallPath, u"{pf}\\Hello");
    EXPECT_EQ(info.MiniSetupFile, u"Hello-online.exe");
    ASSERT_EQ(script->RunList->Count(), 1);
    EXPECT_EQ(script->RunList->Items(0)->FileName, u"{app}\\Hello.exe") << "the finished window starts the program";
    EXPECT_FALSE(script->RunList->Items(0)->Wait);
    ASSERT_EQ(script->ShortCutList->Count(), 3);
    std::set<std::pair<WideString, WideString>> links;
    for (const TSetupShortCut* s : *script->ShortCutList) links.insert({s->SaveDir + u"|" + s->Name, s->DstFile});
    const std::set<std::pair<WideString, WideString>> expected = {
        {u"{desktop}|Hello", u"{app}\\Hello.exe"},
        {u"{group}|Hello", u"{app}\\Hello.exe"},
        {u"{group}|卸载 Hello", u"{app}\\Uninstall.exe"}};
    EXPECT_EQ(links, expected);

    // The title is written once: renamed in BaseInfo, it is renamed everywhere.
    std::string renamed = written;
    renamed.replace(renamed.find("AppTitle=\"Hello\""), 16, "AppTitle=\"Hi\"");
    EXPECT_NE(renamed.find("VarValue=\"Hello\""), std::string::npos) << "{MainExeName} keeps the program's name";
    WriteFileBytes(dir.Path() / "p" / "Hello.xml", renamed);
    auto loaded = TProjectBuilder::LoadProject(project);
    EXPECT_EQ(loaded->ShortCutList->Items(0)->Name, u"Hi");
    WriteFileBytes(dir.Path() / "p" / "Hello.xml", written);

    // Another project is another product.
    WriteNewProject(dir.Wide("p/Other.xml"), TLanguage::zhCN);
    auto other = TProjectBuilder::LoadProject(dir.Wide("p/Other.xml"));
    EXPECT_NE(other->BaseInfo->GUID, info.GUID);
    EXPECT_EQ(other->BaseInfo->DefInstallPath, u"{pf}\\Other");

    EXPECT_THROW(WriteNewProject(project, TLanguage::zhCN), EPackageError);
    EXPECT_EQ(ReadFileBytes(dir.Path() / "p" / "Hello.xml"), written);
    EXPECT_THROW(WriteNewProject(dir.Wide("p/CON.xml"), TLanguage::zhCN), EPackageError) << "the name becomes a folder";
}

TEST(PackagerBuild, OutputNamesMayCarryFoldersOfTheirOwn)
{
    TProject p;
    p.script.BaseInfo->FullSetupFile = u"dist\\1.0\\S.exe";
    p.Save();
    TBuildResult r = TProjectBuilder::Build(p.options);
    EXPECT_TRUE(fs::is_regular_file(p.Out("dist") / "1.0" / "S.exe")) << ToUtf8(r.FullSetup);
    EXPECT_FALSE(fs::exists(p.Out("dist") / "1.0" / "S.exe.part"));
}

TEST(PackagerPaths, ExtractionStaysInsideItsFolder)
{
    EXPECT_EQ(ExtractionPath(u"{app}", u"a.txt"), u"a.txt");
    EXPECT_EQ(ExtractionPath(u"{APP}\\bin\\", u"sub\\x.dll"), u"bin\\sub\\x.dll");
    EXPECT_EQ(ExtractionPath(u"{pf}\\Zo", u"x"), u"pf\\Zo\\x");
    EXPECT_THROW(ExtractionPath(u"{app}\\..\\..", u"evil"), EPackageError);
    EXPECT_THROW(ExtractionPath(u"C:\\Windows", u"evil"), EPackageError);
    EXPECT_EQ(ExtractionPath(u"\\\\server\\share", u"x"), u"server\\share\\x");
}

TEST(PackagerPaths, MasksMatchAsWindowsDoes)
{
    EXPECT_TRUE(MatchesMask(u"readme", u"*.*"));
    EXPECT_TRUE(MatchesMask(u"Setup.EXE", u"*.exe"));
    EXPECT_TRUE(MatchesMask(u"a1.dll", u"a?.dll"));
    EXPECT_FALSE(MatchesMask(u"a12.dll", u"a?.dll"));
    EXPECT_TRUE(MatchesMask(u"lib.so.1.dll", u"*.dll"));
    EXPECT_FALSE(MatchesMask(u"x.dll.bak", u"*.dll"));
    EXPECT_TRUE(MatchesMask(u"abcabd", u"*ab?"));

    EXPECT_TRUE(IsUsableResourceName(u"{C396B0EF-0793-51E2-AE96-FA5B07FFE4B0}"));
    EXPECT_TRUE(IsUsableResourceName(u"ICON_MAIN"));
    EXPECT_FALSE(IsUsableResourceName(u"图标"));
    EXPECT_FALSE(IsUsableResourceName(u"#12"));
    EXPECT_FALSE(IsUsableResourceName(u"two words"));
}

}  // namespace
