// The packaging tool puts Uninstall.exe into the install folder of every
// package whose file list does not carry one.
#include <gtest/gtest.h>

#include "AppManifest.h"
#include "FileDataClasses.h"
#include "PackageResources.h"
#include "PeIcon.h"
#include "PeResources.h"
#include "ProjectBuilder.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

std::string Str(const TBytes& b) { return std::string(b.begin(), b.end()); }

struct TPlainProject {
    TTempFolder dir;
    TSetupScript script;
    TBuildOptions options;
    std::string uninstaller = ReadFileBytes(std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe");
    std::string icon;

    TPlainProject()
    {
        TBytes rgba(16 * 16 * 4, 0x80);
        icon = Str(EncodePng(16, 16, rgba.data()));
        WriteFileBytes(dir.Path() / "icon.png", icon);
        fs::create_directories(dir.Path() / "files");
        WriteFileBytes(dir.Path() / "files" / "app.exe", "program");
        WriteFileBytes(dir.Path() / "Uninstall.exe", uninstaller);
        script.BaseInfo->GUID = u"{6A1D3C3E-2B1F-4F7A-9E55-0C0FFEE00002}";
        script.BaseInfo->IconFile = u"icon.png";
        script.BaseInfo->AppTitle = u"Plain";
        AddEntry(u"*.*");
        options.ProjectFile = dir.Wide("plain.xml");
        options.OutputDir = dir.Wide("out");
        options.StubFile = FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe");
        options.AddUninstaller = true;
        options.UninstallerFile = dir.Wide("Uninstall.exe");
    }
    void AddEntry(const WideString& mask)
    {
        TSetupFile* f = script.FileList->Add();
        f->SourcePath = u"files";
        f->SourceMask = mask;
        f->DestDir = u"{app}\\";  // the project's own way of writing the install folder
    }
    TBuildResult Build()
    {
        script.SaveToFile(options.ProjectFile);
        return TProjectBuilder::Build(options);
    }
};

std::unique_ptr<TSetupScript> BuiltScript(const TPeImage& pe)
{
    TMemoryStream xml;
    ReadPackageResource(pe, FullScriptResourceW, &xml);
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(xml);
    return script;
}

// The bytes an entry of the built installer's file list installs.
std::string PackedFile(const TPeImage& pe, const TSetupFile& entry)
{
    TBytes block = pe.ReadResource(*pe.Find(pe::kRcData, FileDataResourceW));
    TFileDataList index;
    index.LoadFromBlock(block.data(), block.size());
    const TFileData* image = index.FindByGUID(entry.ResID);
    if (!image) return "(no image)";
    TMemoryStream plain{image->Image.Bytes()};
    TSetupfn::DecodeStream(&plain);
    return Str(plain.Bytes());
}

TEST(PackagerUninstaller, APlainProjectGetsTheUninstallerInItsInstallFolder)
{
    TPlainProject p;
    TBuildResult r = p.Build();
    EXPECT_EQ(r.Files, 2u);

    TPeImage pe = TPeImage::FromFile(r.FullSetup);
    auto script = BuiltScript(pe);
    const TSetupFileList& files = *script->FileList;
    ASSERT_EQ(files.Count(), 2);
    const TSetupFile& entry = *files.Items(1);
    EXPECT_EQ(entry.DestDir, u"{app}\\");
    EXPECT_EQ(entry.SourceMask, u"Uninstall.exe");
    EXPECT_GT(entry.LastWriteDate, 0);

    const std::string packed = PackedFile(pe, entry);
    EXPECT_EQ(entry.FileBytes, static_cast<int32_t>(packed.size()));

    // The uninstaller, given the product's icon for Programs and Features;
    // its copy with the icon is gone once the build is over.
    TPeImage uninstaller = TPeImage::FromBytes(TBytes(packed.begin(), packed.end()));
    std::vector<TIconEntry> icon = ExplorerIcon(uninstaller);
    ASSERT_EQ(icon.size(), 1u);
    EXPECT_EQ(Str(icon[0].Image), p.icon);
    for (const auto& e : fs::directory_iterator(p.dir.Path() / "out"))
        EXPECT_EQ(e.path().extension(), ".exe") << e.path();
}

TEST(PackagerUninstaller, ASignedUninstallerIsCarriedUnchanged)
{
    // A certificate table at the end of the file (its bytes need not be a real
    // signature: any table makes the program a signed one).
    TPlainProject p;
    std::string signedUninstaller = p.uninstaller;
    const uint32_t pe = static_cast<uint8_t>(signedUninstaller[0x3C]) | static_cast<uint8_t>(signedUninstaller[0x3D]) << 8;
    const size_t security = pe + 24 + 112 + 4 * 8;  // PE32+: data directory 4
    const uint32_t at = static_cast<uint32_t>(signedUninstaller.size()), size = 16;
    for (int i = 0; i < 4; ++i) {
        signedUninstaller[security + i] = static_cast<char>(at >> (8 * i));
        signedUninstaller[security + 4 + i] = static_cast<char>(size >> (8 * i));
    }
    signedUninstaller += std::string(16, '\x5A');
    ASSERT_TRUE(TPeImage::FromBytes(TBytes(signedUninstaller.begin(), signedUninstaller.end())).IsSigned());
    WriteFileBytes(p.dir.Path() / "Uninstall.exe", signedUninstaller);

    TPeImage built = TPeImage::FromFile(p.Build().FullSetup);
    auto script = BuiltScript(built);
    const TSetupFile& entry = *script->FileList->Items(1);
    EXPECT_EQ(PackedFile(built, entry), signedUninstaller);
    EXPECT_EQ(entry.FileBytes, static_cast<int32_t>(signedUninstaller.size()));
}

TEST(PackagerUninstaller, AnUninstallerThatIsNoProgramStopsTheBuild)
{
    TPlainProject p;
    WriteFileBytes(p.dir.Path() / "Uninstall.exe", Str(RandomBytes(50000, 7)));
    try {
        p.Build();
        FAIL() << "built with a damaged uninstaller";
    } catch (const EPackageError& e) {
        EXPECT_NE(ToUtf8(e.Message()).find("the uninstaller is not a Windows program"), std::string::npos)
            << ToUtf8(e.Message());
    }
    EXPECT_FALSE(fs::exists(p.dir.Path() / "out" / "plain-setup.exe"));
}

TEST(PackagerUninstaller, AProjectThatCarriesItsOwnUninstallerKeepsIt)
{
    TPlainProject p;
    WriteFileBytes(p.dir.Path() / "files" / "UNINSTALL.EXE", "the product's own");
    p.options.UninstallerFile = p.dir.Wide("no-such-file.exe");  // not needed, so not read
    TBuildResult r = p.Build();
    auto script = BuiltScript(TPeImage::FromFile(r.FullSetup));
    ASSERT_EQ(script->FileList->Count(), 2);
    EXPECT_EQ(script->FileList->Items(0)->SourceMask, u"app.exe");
    EXPECT_EQ(script->FileList->Items(1)->SourceMask, u"UNINSTALL.EXE");
    EXPECT_EQ(script->FileList->Items(1)->FileBytes, 17);
}

TEST(PackagerUninstaller, AnUnreadableUninstallerStopsTheBuildBeforeAnyOutput)
{
    TPlainProject p;
    p.options.UninstallerFile = p.dir.Wide("no-such-file.exe");
    try {
        p.Build();
        FAIL() << "built without an uninstaller";
    } catch (const EPackageError& e) {
        EXPECT_NE(ToUtf8(e.Message()).find("no-such-file.exe: cannot read the uninstaller"), std::string::npos)
            << ToUtf8(e.Message());
    }
    EXPECT_FALSE(fs::exists(p.dir.Path() / "out"));
}

TEST(PackagerUninstaller, OnlyTheToolAddsItWhenAsked)
{
    TPlainProject p;
    p.options.AddUninstaller = false;
    auto script = BuiltScript(TPeImage::FromFile(p.Build().FullSetup));
    EXPECT_EQ(script->FileList->Count(), 1);
}

TEST(PackagerUninstaller, AUserInstallationAsksForNoRightsAndWritesNoMachineRegistry)
{
    TPlainProject p;
    // Stub and uninstaller asking for the administrator, as ours do.
    TPeImage stub = TPeImage::FromBytes(TBytes(p.uninstaller.begin(), p.uninstaller.end()));
    const std::string manifest = "<assembly><trustInfo><security><requestedPrivileges><requestedExecutionLevel "
                                 "level=\"requireAdministrator\" uiAccess=\"false\"/></requestedPrivileges>"
                                 "</security></trustInfo></assembly>";
    stub.SetResource(pe::kManifest, 1, TBytes(manifest.begin(), manifest.end()), 1033);
    stub.SaveToFile(p.dir.Wide("admin.exe"));
    p.options.StubFile = p.options.UninstallerFile = p.dir.Wide("admin.exe");
    auto levels = [&] {
        TPeImage built = TPeImage::FromFile(p.Build().FullSetup);
        const std::string packed = PackedFile(built, *BuiltScript(built)->FileList->Items(1));
        return RequestedExecutionLevel(built) + " " +
               RequestedExecutionLevel(TPeImage::FromBytes(TBytes(packed.begin(), packed.end())));
    };
    EXPECT_EQ(levels(), "requireAdministrator requireAdministrator");
    p.script.BaseInfo->InstallScope = TInstallScope::isUser;
    EXPECT_EQ(levels(), "asInvoker asInvoker");
    p.script.BaseInfo->InstallScope = TInstallScope::isEither;
    EXPECT_EQ(levels(), "asInvoker asInvoker");

    // The machine's registry is out of a user's reach: refused at its entry.
    p.script.BaseInfo->InstallScope = TInstallScope::isUser;
    TSetupReg* value = p.script.RegList->Add();
    value->RootKey = TRegRootKey::rrkLocalMachine;
    value->SubKey = u"Software\\Plain";
    value->ValueName = u"Path";
    try {
        p.Build();
        FAIL() << "built a per-user installer that writes HKEY_LOCAL_MACHINE";
    } catch (const EPackageError& e) {
        const std::string message = ToUtf8(e.Message());
        EXPECT_NE(message.find("plain.xml:"), std::string::npos) << message;
        EXPECT_NE(message.find("HKEY_LOCAL_MACHINE\\Software\\Plain value \"Path\""), std::string::npos) << message;
    }
    // A stub whose manifest names no level cannot be made to ask for none.
    value->RootKey = TRegRootKey::rrkCurrentUser;
    p.options.StubFile = FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe");
    EXPECT_THROW(p.Build(), EPackageError);
}

}  // namespace
