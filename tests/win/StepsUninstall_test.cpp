// What the installer leaves for a later uninstallation: the two data files and
// the uninstall key.
#include <gtest/gtest.h>

#include "SetupFn.h"
#include "StepsTestSupport.h"
#include "ZoSysUtils.h"

namespace {

const TBytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};

TBytes DecodedFile(const WideString& path)
{
    std::string bytes = ReadFileBytes(std::filesystem::path(W(path)));
    TMemoryStream s(TBytes(bytes.begin(), bytes.end()));
    TSetupfn::DecodeStream(&s);
    return s.Bytes();
}

class UninstallData : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallDir = folder.Wide() + u"\\Prod\\";
        ForceDirs(InstallDir);
        TSetupBaseInfo& info = *script.BaseInfo;
        info.AppTitle = u"演示产品";
        info.Version = u"2.5.1.0";
        info.CompanyName = u"Zo Soft";
        info.CompanyUrl = u"https://zo.example/";
        key = UninstallKeyPath(info.GUID, u"_mw");
        cleanKey = std::make_unique<TRegCleanup>(HKEY_LOCAL_MACHINE, key);
    }
    void TearDown() override { InstallDir.clear(); }

    TTempFolder folder;
    TTestPackage package;
    TSetupScript script;
    TFakeView view;
    WideString key;
    std::unique_ptr<TRegCleanup> cleanKey;
};

}  // namespace

TEST_F(UninstallData, RegistersTheEighteenValuesInOrder)
{
    for (int32_t bytes : {1000, 2345, 0}) {
        TSetupFile* file = script.FileList->Add();
        file->FileBytes = bytes;
        if (bytes > 0) file->ResID = u"R" + IntToStr(bytes);  // an entry with content names its image
    }
    TInstallSequence(script, package.Module(), view, png).RegisterUninstall();

    std::vector<WideString> names = {u"DisplayIcon",   u"DisplayName",   u"DisplayVersion", u"EstimatedSize", u"HelpLink",
                                     u"InstallDate",   u"InstallLocation", u"MajorVersion", u"MinorVersion",
                                     u"NoModify",      u"NoRepair",        u"Publisher",    u"QuietUninstallString",
                                     u"UninstallString", u"URLInfoAbout",  u"URLUpdateInfo", u"VersionMajor",
                                     u"VersionMinor"};
    EXPECT_EQ(RegValueNames(HKEY_LOCAL_MACHINE, key), names);

    auto text = [&](const char16_t* name) {
        TRegValue v = ReadRegValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_SZ)) << Narrow(name);
        return v.text;
    };
    auto number = [&](const char16_t* name) {
        TRegValue v = ReadRegValue(HKEY_LOCAL_MACHINE, key, name);
        EXPECT_EQ(v.type, DWORD(REG_DWORD)) << Narrow(name);
        return v.number;
    };
    WideString dir = WithoutTrailingBackslash(InstallDir);
    EXPECT_EQ(text(u"DisplayName"), u"演示产品 版本 2.5.1.0");
    EXPECT_EQ(text(u"DisplayVersion"), u"2.5.1.0");
    EXPECT_EQ(text(u"DisplayIcon"), dir + u"\\Uninstall.exe");
    EXPECT_EQ(number(u"EstimatedSize"), 4u);  // 3345 bytes in whole kilobytes
    EXPECT_EQ(text(u"HelpLink"), u"https://zo.example/");
    SYSTEMTIME today;
    GetLocalTime(&today);
    EXPECT_EQ(text(u"InstallDate"), IntToStr(today.wYear * 10000 + today.wMonth * 100 + today.wDay));
    EXPECT_EQ(text(u"InstallLocation"), InstallDir);
    EXPECT_EQ(number(u"MajorVersion"), 2u);
    EXPECT_EQ(number(u"MinorVersion"), 5u);
    EXPECT_EQ(number(u"NoModify"), 1u);
    EXPECT_EQ(number(u"NoRepair"), 1u);
    EXPECT_EQ(text(u"Publisher"), u"Zo Soft");
    EXPECT_EQ(text(u"QuietUninstallString"), u"\"" + dir + u"\\Uninstall.exe\" /SILENT");
    EXPECT_EQ(text(u"UninstallString"), u"\"" + dir + u"\\Uninstall.exe\"");
    EXPECT_EQ(text(u"URLInfoAbout"), u"https://zo.example/");
    EXPECT_EQ(text(u"URLUpdateInfo"), u"https://zo.example/");
    EXPECT_EQ(number(u"VersionMajor"), 2u);
    EXPECT_EQ(number(u"VersionMinor"), 5u);
}

TEST_F(UninstallData, TitlesAndFoldersOutsideTheAnsiCodePageStayIntact)
{
    script.BaseInfo->AppTitle = u"Ωmega ☃ Δ";
    InstallDir = folder.Wide() + u"\\Ωmega ☃\\";
    TInstallSequence(script, package.Module(), view, png).RegisterUninstall();
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, key, u"DisplayName").text, u"Ωmega ☃ Δ 版本 2.5.1.0");
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, key, u"InstallLocation").text, InstallDir);
}

TEST_F(UninstallData, DataFilesDecodeToTheScriptAndTheIcon)
{
    script.FileList->Add()->SourceMask = u"{app}\\kept as written";
    TInstallSequence sequence(script, package.Module(), view, png);
    sequence.WriteUninstallData();

    TBytes da1 = DecodedFile(InstallDir + u"Uninstall.da1");
    TMemoryStream saved;
    script.SaveToStream(saved);
    EXPECT_EQ(da1, saved.Bytes());
    TSetupScript loaded;
    TMemoryStream in(da1);
    loaded.LoadFromStream(in);
    EXPECT_TRUE(loaded.IsEqual(&script));
    EXPECT_EQ(DecodedFile(InstallDir + u"Uninstall.da2"), png);

    // A second installation replaces both files.
    script.BaseInfo->Version = u"3.0";
    TBytes otherPng = png;
    otherPng.push_back(7);
    TInstallSequence(script, package.Module(), view, otherPng).WriteUninstallData();
    TMemoryStream again;
    script.SaveToStream(again);
    EXPECT_EQ(DecodedFile(InstallDir + u"Uninstall.da1"), again.Bytes());
    EXPECT_EQ(DecodedFile(InstallDir + u"Uninstall.da2"), otherPng);
}

TEST_F(UninstallData, AnIconThatIsNoPngIsAnInternalError)
{
    try {
        TInstallSequence(script, package.Module(), view, TBytes{'G', 'I', 'F'}).WriteUninstallData();
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), u"Assertion failure (Installer/MainFrm, line 952)");
    }
}

TEST_F(UninstallData, AFolderThatCannotTakeTheFilesEndsTheSequence)
{
    InstallDir = folder.Wide() + u"\\NoSuchFolder\\";
    try {
        TInstallSequence(script, package.Module(), view, png).WriteUninstallData();
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind(u"Cannot create file \"" + InstallDir + u"Uninstall.da1\".", 0), 0u)
            << Narrow(e.Message());
    }
}
