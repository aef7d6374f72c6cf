// The packaging tool builds 32-bit installers unless told --arch x64, takes
// the uninstaller of the stub's bitness, and shows what a stub asks of UAC.
#include <gtest/gtest.h>

#include <sstream>

#include "Inspect.h"
#include "PackageResources.h"
#include "PeIcon.h"
#include "PeResources.h"
#include "ProjectBuilder.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

std::string Str(const TBytes& b) { return std::string(b.begin(), b.end()); }

WideString Fixture(const char* name)
{
    return FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/" + name);
}

// A tool folder laid out as a release: the 32-bit pair beside the tool, the
// 64-bit pair in x64; each program marked by a resource so a test can tell
// which one went into the installer.
struct TKit {
    TTempFolder dir;
    TSetupScript script;
    TBuildOptions options;

    TKit()
    {
        Place(Fixture("tiny32.exe"), "zosetup.exe", "stub32");
        Place(Fixture("tiny32.exe"), "Uninstall.exe", "uninst32");
        Place(Fixture("tiny64.exe"), "x64/zosetup.exe", "stub64");
        Place(Fixture("tiny64.exe"), "x64/Uninstall.exe", "uninst64");

        fs::create_directories(dir.Path() / "project" / "files");
        TBytes rgba(16 * 16 * 4, 0x80);
        WriteFileBytes(dir.Path() / "project" / "icon.png", Str(EncodePng(16, 16, rgba.data())));
        WriteFileBytes(dir.Path() / "project" / "files" / "app.exe", "program");
        script.BaseInfo->GUID = u"{6A1D3C3E-2B1F-4F7A-9E55-0C0FFEE00003}";
        script.BaseInfo->AppTitle = u"Arch";
        script.BaseInfo->IconFile = u"icon.png";
        TSetupFile* f = script.FileList->Add();
        f->SourcePath = u"files";
        f->SourceMask = u"*.*";
        f->DestDir = u"{app}";
        options.ProjectFile = dir.Wide("project/arch.xml");
        options.OutputDir = dir.Wide("out");
        options.ToolFolder = dir.Wide("tool");
        options.AddUninstaller = true;
        script.SaveToFile(options.ProjectFile);
    }
    void Place(const WideString& from, const std::string& to, const std::string& mark)
    {
        TPeImage pe = TPeImage::FromFile(from);
        pe.SetResource(pe::kRcData, u"MARK", TBytes(mark.begin(), mark.end()));
        fs::create_directories((dir.Path() / "tool" / to).parent_path());
        TMemoryStream bytes{pe.Save()};
        bytes.SaveToFile(dir.Wide("tool/" + to));
    }
    static std::string Mark(const TPeImage& pe)
    {
        const TPeResource* r = pe.Find(pe::kRcData, u"MARK");
        return r ? Str(pe.ReadResource(*r)) : "";
    }
};

// The uninstaller the build put into the package, found by its product-file image.
std::string PackedUninstallerMark(const TBuildResult& r)
{
    std::ostringstream report;
    TTempFolder x;
    InspectInstaller({r.FullSetup, false, x.Wide("files")}, report);
    return TKit::Mark(TPeImage::FromFile(x.Wide("files/Uninstall.exe")));
}

TEST(PackagerArch, TellsTheBitnessOfAProgram)
{
    EXPECT_EQ(TProjectBuilder::ArchOf(Fixture("tiny32.exe")), TTargetArch::X86);
    EXPECT_EQ(TProjectBuilder::ArchOf(Fixture("tiny64.exe")), TTargetArch::X64);
    TTempFolder dir;
    WriteFileBytes(dir.Path() / "text.exe", "not a program");
    EXPECT_EQ(TProjectBuilder::ArchOf(dir.Wide("text.exe")), TTargetArch::Default);
    EXPECT_EQ(TProjectBuilder::ArchOf(dir.Wide("missing.exe")), TTargetArch::Default);
}

TEST(PackagerArch, BuildsThe32BitPairByDefaultAndThe64BitPairOnRequest)
{
    TKit kit;
    TBuildResult r = TProjectBuilder::Build(kit.options);
    EXPECT_EQ(r.Arch, TTargetArch::X86);
    {
        // Closed before the next build: Windows will not replace a file that is still open.
        TPeImage pe = TPeImage::FromFile(r.FullSetup);
        EXPECT_FALSE(pe.Is64());
        EXPECT_EQ(TKit::Mark(pe), "stub32");
    }
    EXPECT_EQ(PackedUninstallerMark(r), "uninst32");

    kit.options.Arch = TTargetArch::X64;
    r = TProjectBuilder::Build(kit.options);
    EXPECT_EQ(r.Arch, TTargetArch::X64);
    TPeImage pe = TPeImage::FromFile(r.FullSetup);
    EXPECT_TRUE(pe.Is64());
    EXPECT_EQ(TKit::Mark(pe), "stub64");
    EXPECT_EQ(PackedUninstallerMark(r), "uninst64") << "the uninstaller comes with the stub's bitness";
}

TEST(PackagerArch, AGivenStubDecidesTheBitnessAndMustMatchArch)
{
    TKit kit;
    kit.options.StubFile = kit.dir.Wide("tool/x64/zosetup.exe");
    TBuildResult r = TProjectBuilder::Build(kit.options);
    EXPECT_EQ(r.Arch, TTargetArch::X64);
    EXPECT_EQ(PackedUninstallerMark(r), "uninst64");

    kit.options.Arch = TTargetArch::X86;
    fs::remove_all(kit.dir.Path() / "out");
    try {
        TProjectBuilder::Build(kit.options);
        FAIL() << "a 64-bit stub built as x86";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(u"64-bit x64 program, but 32-bit x86 was asked for"), WideString::npos)
            << ToUtf8(e.Message());
    }
    EXPECT_FALSE(fs::exists(kit.dir.Path() / "out")) << "nothing written";
}

TEST(PackagerArch, AMissingPairIsNamedAndNotReplacedByTheOther)
{
    TKit kit;
    fs::remove(kit.dir.Path() / "tool" / "zosetup.exe");
    try {
        TProjectBuilder::Build(kit.options);
        FAIL() << "built without a 32-bit stub";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(u"no 32-bit x86 installer stub"), WideString::npos) << ToUtf8(e.Message());
    }
    fs::remove(kit.dir.Path() / "tool" / "x64" / "Uninstall.exe");
    kit.options.Arch = TTargetArch::X64;
    try {
        TProjectBuilder::Build(kit.options);
        FAIL() << "a 32-bit uninstaller packed with a 64-bit stub";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(u"no 64-bit x64 one was found"), WideString::npos) << ToUtf8(e.Message());
    }
}

TEST(PackagerInspect, ShowsTheExecutionLevelTheManifestAsksFor)
{
    TPeImage pe = TPeImage::FromFile(Fixture("tiny32.exe"));
    std::vector<TResName> manifests;
    for (const TPeResource* r : pe.ResourcesOfType(pe::kManifest)) manifests.push_back(r->Name);
    for (const TResName& name : manifests) pe.RemoveResource(pe::kManifest, name);
    EXPECT_EQ(RequestedExecutionLevel(pe), "none (no manifest: the caller's rights)");
    const std::string manifest =
        "<assembly><trustInfo><security><requestedPrivileges>\n"
        "<requestedExecutionLevel uiAccess=\"false\" level='requireAdministrator'/>\n"
        "</requestedPrivileges></security></trustInfo></assembly>";
    pe.SetResource(pe::kManifest, 1, TBytes(manifest.begin(), manifest.end()));
    EXPECT_EQ(RequestedExecutionLevel(pe), "requireAdministrator");

    TTempFolder dir;
    TMemoryStream bytes{pe.Save()};
    bytes.SaveToFile(dir.Wide("stub.exe"));
    std::ostringstream report;
    InspectInstaller({dir.Wide("stub.exe"), false, u""}, report);
    EXPECT_NE(report.str().find("format: PE32 x86"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("execution level: requireAdministrator\n"), std::string::npos) << report.str();

    const std::string none = "<assembly><description>no level</description></assembly>";
    pe.SetResource(pe::kManifest, 1, TBytes(none.begin(), none.end()));
    EXPECT_EQ(RequestedExecutionLevel(pe), "none (the manifest asks for none: the caller's rights)");
}

}  // namespace
