// What one installation will do, worked out from a script before anything is
// written: target paths, registry values, shortcuts, the uninstall key, the
// programs to end and to run.
#include <gtest/gtest.h>

#include "FolderValues.h"
#include "InstallPlan.h"
#include "SetupCommandLine.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "ZoSysUtils.h"

namespace {

const WideString kOwnFile = u"C:\\Users\\zo\\Downloads\\Setup_17.exe";

// A script of its own and the folder values of a test machine, for each test.
class InstallPlanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        script.BaseInfo->GUID = u"{11111111-2222-3333-4444-555555555555}";
    }

    TSetupFile* AddFile(const WideString& destDir, const WideString& mask, int32_t bytes = 10)
    {
        TSetupFile* f = script.FileList->Add();
        f->DestDir = destDir;
        f->SourceMask = mask;
        f->FileBytes = bytes;
        f->ResID = u"{R-" + mask + u"}";
        return f;
    }
    void AddValue(TRegRootKey root, const WideString& key, const WideString& name, const WideString& data,
                  TRegValueType type = TRegValueType::rvtString)
    {
        TSetupReg* r = script.RegList->Add();
        r->RootKey = root;
        r->SubKey = key;
        r->ValueName = name;
        r->ValueData = data;
        r->ValueType = type;
    }
    void AddRun(const WideString& file, const WideString& params, bool wait)
    {
        TSetupRun* r = script.RunList->Add();
        r->FileName = file;
        r->Params = params;
        r->WorkDir = u"{app}";
        r->Wait = wait;
    }
    TInstallPlan Plan() const { return TInstallPlan::FromScript(script, kOwnFile, u"20261207"); }
    static const TUninstallValue& Value(const TInstallPlan& plan, const WideString& name)
    {
        for (const TUninstallValue& v : plan.UninstallValues)
            if (v.Name == name) return v;
        static const TUninstallValue none{u"(none)", false, u"(none)", 0};
        return none;
    }

    TSetupScript script;

private:
    TTestFolderValues folders_{u"Prod", u"C:\\Program Files\\Prod\\"};
};

TEST_F(InstallPlanTest, TargetsAreTheExpandedFolderPlusTheMaskWithOneBackslash)
{
    AddFile(u"{app}", u"a.txt");
    AddFile(u"{app}\\", u"bin\\x.dll");         // a trailing backslash is not doubled
    AddFile(u"{desktop}", u"readme.txt", 0);    // empty: no image to look for
    AddFile(u"{pf}\\\\Shared", u"s.dat", -1);   // "\\" in a text is one backslash
    TInstallPlan plan = Plan();
    ASSERT_EQ(plan.Files.size(), 4u);
    EXPECT_EQ(plan.Files[0].Path, u"C:\\Program Files\\Prod\\a.txt");
    EXPECT_EQ(plan.Files[1].Path, u"C:\\Program Files\\Prod\\bin\\x.dll");
    EXPECT_EQ(plan.Files[2].Path, u"C:\\Users\\zo\\Desktop\\readme.txt");
    EXPECT_EQ(plan.Files[3].Path, u"C:\\Program Files\\Shared\\s.dat");
    EXPECT_EQ(plan.Files[0].ResID, u"{R-a.txt}");
    EXPECT_EQ(plan.Files[2].ResID, u"");
    EXPECT_EQ(plan.Files[3].ResID, u"");
    EXPECT_EQ(plan.Files[1].Entry, script.FileList->Items(1));
}

TEST_F(InstallPlanTest, ProgramsToEndAreTheExeTargetsByTheirFullPaths)
{
    AddFile(u"{app}", u"App.exe");
    AddFile(u"{app}", u"tools\\HELPER.EXE");     // capitals still end in ".exe"
    AddFile(u"{app}", u"App.exe.config");        // ".exe" before another extension
    AddFile(u"{app}", u"exe");                   // no extension at all
    AddFile(u"{app}", u"My Tool.exe");
    // Named like the installer: listed by its path, which is not the installer's
    // (the installer itself is spared by its process, never by a name).
    AddFile(u"{app}", u"setup_17.EXE");
    TInstallPlan plan = Plan();
    EXPECT_EQ(plan.ProgramsToEnd, (std::vector<WideString>{u"C:\\Program Files\\Prod\\App.exe",
                                                           u"C:\\Program Files\\Prod\\tools\\HELPER.EXE",
                                                           u"C:\\Program Files\\Prod\\My Tool.exe",
                                                           u"C:\\Program Files\\Prod\\setup_17.EXE"}));
}

TEST_F(InstallPlanTest, RegistryValuesAreExpandedConvertedAndKeepTheirOrder)
{
    AddValue(TRegRootKey::rrkLocalMachine, u"\\\\Software\\Prod", u"Path", u"{app}");
    AddValue(TRegRootKey::rrkCurrentUser, u"Software\\Prod", u"Hex", u"0x10", TRegValueType::rvtDWord);
    AddValue(TRegRootKey::rrkCurrentUser, u"Software\\Prod", u"Dollar", u"$FFFFFFFF", TRegValueType::rvtDWord);
    AddValue(TRegRootKey::rrkCurrentUser, u"Software\\Prod", u"Negative", u" -5", TRegValueType::rvtDWord);
    AddValue(static_cast<TRegRootKey>(9), u"Software\\Prod", u"Stray", u"here");
    TInstallPlan plan = Plan();
    ASSERT_EQ(plan.Values.size(), 5u);
    EXPECT_EQ(plan.Values[0].SubKey, u"Software\\Prod");  // leading backslashes dropped
    EXPECT_EQ(plan.Values[0].Text, u"C:\\Program Files\\Prod\\");
    EXPECT_EQ(plan.Values[1].Number, 16u);
    EXPECT_EQ(plan.Values[2].Number, 0xFFFFFFFFu);
    EXPECT_EQ(plan.Values[3].Number, static_cast<uint32_t>(-5));
    EXPECT_EQ(plan.Values[4].Root, static_cast<TRegRootKey>(9));
    EXPECT_EQ(RootKeyHandle(plan.Values[4].Root), RootKeyHandle(TRegRootKey::rrkCurrentUser));
    EXPECT_EQ(plan.ProgressSteps(), 5);
}

TEST_F(InstallPlanTest, TextThatIsNoIntegerRefusesThePlanWithItsMessage)
{
    AddFile(u"{app}", u"a.txt");
    AddValue(TRegRootKey::rrkCurrentUser, u"Software\\Prod", u"Bad", u"12abc", TRegValueType::rvtDWord);
    try {
        Plan();
        FAIL() << "a plan with a value that cannot be written";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"'12abc' is not a valid integer value");
    }
}

TEST_F(InstallPlanTest, AFileWithContentButNoImageIsADamagedPackage)
{
    AddFile(u"{app}", u"a.txt");
    AddFile(u"{app}", u"b.txt", 7)->ResID.clear();
    EXPECT_THROW(Plan(), EPackageError) << "it would install an empty b.txt over a working one";
}

TEST_F(InstallPlanTest, ShortcutsAreNamedInTheirFolder)
{
    TSetupShortCut* c = script.ShortCutList->Add();
    c->SaveDir = u"{group}";
    c->Name = u"Prod";
    c->DstFile = u"{app}App.exe";
    c->WorkDir = u"{app}";
    c->IconFile = u"{app}App.ico";
    TSetupShortCut* d = script.ShortCutList->Add();
    d->SaveDir = u"{desktop}";
    d->Name = u"Prod";
    TInstallPlan plan = Plan();
    ASSERT_EQ(plan.Shortcuts.size(), 2u);
    EXPECT_EQ(plan.Shortcuts[0].LinkPath, u"C:\\ProgramData\\Start Menu\\Programs\\Prod\\Prod.lnk");
    EXPECT_EQ(plan.Shortcuts[0].Target, u"C:\\Program Files\\Prod\\App.exe");
    EXPECT_EQ(plan.Shortcuts[0].WorkDir, u"C:\\Program Files\\Prod\\");
    EXPECT_EQ(plan.Shortcuts[0].IconFile, u"C:\\Program Files\\Prod\\App.ico");
    EXPECT_EQ(plan.Shortcuts[1].LinkPath, u"C:\\Users\\zo\\Desktop\\Prod.lnk");
}

TEST_F(InstallPlanTest, EachScopeHasItsOwnFoldersAndRegistryRoot)
{
    AddFile(u"{app}", u"App.exe");
    TSetupShortCut* c = script.ShortCutList->Add();
    c->SaveDir = u"{group}";
    c->Name = u"Prod";
    TInstallPlan machine = Plan();
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{pf}\\Prod"), u"C:\\Program Files\\Prod");
    EXPECT_EQ(machine.Shortcuts[0].LinkPath, u"C:\\ProgramData\\Start Menu\\Programs\\Prod\\Prod.lnk");
    EXPECT_EQ(machine.UninstallRoot, TRegRootKey::rrkLocalMachine);
    EXPECT_TRUE(machine.BothRegistryViews);
    EXPECT_TRUE(machine.MachineKeysToReport.empty());

    PerUserInstall = true;
    InstallDir = u"C:\\Users\\zo\\AppData\\Local\\Programs\\Prod\\";
    TInstallPlan user = Plan();
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{PF}\\Prod"), u"C:\\Users\\zo\\AppData\\Local\\Programs\\Prod");
    EXPECT_EQ(user.Files[0].Path, u"C:\\Users\\zo\\AppData\\Local\\Programs\\Prod\\App.exe");
    EXPECT_EQ(user.Shortcuts[0].LinkPath, u"C:\\Users\\zo\\AppData\\Roaming\\Start Menu\\Programs\\Prod\\Prod.lnk");
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{desktop}"), u"C:\\Users\\zo\\Desktop\\");
    EXPECT_EQ(user.UninstallRoot, TRegRootKey::rrkCurrentUser);
    EXPECT_EQ(user.UninstallKey, machine.UninstallKey);
    EXPECT_FALSE(user.BothRegistryViews);
    // The machine's registration of the same product is only reported.
    EXPECT_EQ(user.MachineKeysToReport, machine.PreviousUninstallKeys);
    EXPECT_EQ(user.PreviousUninstallKeys, machine.PreviousUninstallKeys);
    EXPECT_EQ(Value(user, u"InstallLocation").Text, InstallDir);
}

TEST(InstallScope, TheSwitchBesideTheModeChoosesOnlyForAnEitherProject)
{
    using V = std::vector<WideString>;
    TScopeArgs args = TakeScopeSwitch({u"/allusers", u"/Silent"});
    EXPECT_EQ(args.Rest, V{u"/Silent"});
    EXPECT_EQ(args.Choice, TScopeSwitch::AllUsers);
    // Both switches are no deployment line: nothing chosen, nothing taken out.
    args = TakeScopeSwitch({u"/Silent", u"/ALLUSERS", u"/CurrentUser"});
    EXPECT_EQ(args.Rest.size(), 3u);
    EXPECT_EQ(args.Choice, TScopeSwitch::None);

    const bool elevated = true;
    EXPECT_TRUE(ChoosesPerUser(TInstallScope::isUser, TScopeSwitch::AllUsers, elevated));
    EXPECT_FALSE(ChoosesPerUser(TInstallScope::isMachine, TScopeSwitch::CurrentUser, !elevated));
    EXPECT_TRUE(ChoosesPerUser(TInstallScope::isEither, TScopeSwitch::CurrentUser, elevated));
    EXPECT_FALSE(ChoosesPerUser(TInstallScope::isEither, TScopeSwitch::AllUsers, !elevated));
    // No switch: no prompt nobody asked for.
    EXPECT_TRUE(ChoosesPerUser(TInstallScope::isEither, TScopeSwitch::None, !elevated));
    EXPECT_FALSE(ChoosesPerUser(TInstallScope::isEither, TScopeSwitch::None, elevated));

    // The elevated copy of a window's choice installs at once into the folder
    // chosen; a silent run's copy stays silent.
    TScopeArgs copy = TakeScopeSwitch(ElevatedCopyArgs({u"/LANG=en-US"}, u"C:\\Program Files\\Zo\\"));
    EXPECT_EQ(copy.Choice, TScopeSwitch::AllUsers);
    TSetupCommandLine line = ParseSetupCommandLine(copy.Rest);
    EXPECT_EQ(line.mode, TRunMode::Auto);
    EXPECT_EQ(line.installDir.value_or(u""), u"C:\\Program Files\\Zo\\");
    EXPECT_EQ(line.language.value_or(u""), u"en-US");
    copy = TakeScopeSwitch(ElevatedCopyArgs({u"/Silent", u"/NORUN"}, WideString()));
    line = ParseSetupCommandLine(copy.Rest);
    EXPECT_EQ(copy.Choice, TScopeSwitch::AllUsers);
    EXPECT_EQ(line.mode, TRunMode::Silent);
    EXPECT_TRUE(line.noRun);
}

TEST_F(InstallPlanTest, TheUninstallKeyHoldsItsEighteenValuesInOrder)
{
    TSetupBaseInfo& info = *script.BaseInfo;
    info.AppTitle = u"Prod";
    info.Version = u"2.5.1.0";
    info.CompanyName = u"Zo";
    info.CompanyUrl = u"https://zo.example/";
    AddFile(u"{app}", u"a.bin", 1000);
    AddFile(u"{app}", u"b.bin", 234);
    AddFile(u"{app}", u"c.bin", -7);  // a negative size adds nothing
    TInstallPlan plan = Plan();

    EXPECT_EQ(plan.UninstallKey,
              u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{11111111-2222-3333-4444-555555555555}_mw");
    EXPECT_EQ(plan.PreviousUninstallKeys,
              (std::vector<WideString>{
                  u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{11111111-2222-3333-4444-555555555555}_is1",
                  plan.UninstallKey}));
    std::vector<WideString> names;
    for (const TUninstallValue& v : plan.UninstallValues) names.push_back(v.Name);
    EXPECT_EQ(names, (std::vector<WideString>{u"DisplayIcon", u"DisplayName", u"DisplayVersion", u"EstimatedSize", u"HelpLink",
                                              u"InstallDate", u"InstallLocation", u"MajorVersion", u"MinorVersion",
                                              u"NoModify", u"NoRepair", u"Publisher", u"QuietUninstallString",
                                              u"UninstallString", u"URLInfoAbout", u"URLUpdateInfo", u"VersionMajor",
                                              u"VersionMinor"}));
    EXPECT_EQ(Value(plan, u"DisplayName").Text, u"Prod 版本 2.5.1.0");
    EXPECT_EQ(Value(plan, u"DisplayIcon").Text, u"C:\\Program Files\\Prod\\Uninstall.exe");
    EXPECT_EQ(Value(plan, u"EstimatedSize").Number, 2u);  // 1234 bytes, in whole kilobytes
    EXPECT_TRUE(Value(plan, u"EstimatedSize").IsDWord);
    EXPECT_EQ(Value(plan, u"InstallDate").Text, u"20261207");
    EXPECT_EQ(Value(plan, u"InstallLocation").Text, u"C:\\Program Files\\Prod\\");
    EXPECT_EQ(Value(plan, u"UninstallString").Text, u"\"C:\\Program Files\\Prod\\Uninstall.exe\"");
    EXPECT_EQ(Value(plan, u"QuietUninstallString").Text, u"\"C:\\Program Files\\Prod\\Uninstall.exe\" /SILENT");
    for (const char16_t* name : {u"MajorVersion", u"VersionMajor"}) EXPECT_EQ(Value(plan, name).Number, 2u);
    for (const char16_t* name : {u"MinorVersion", u"VersionMinor"}) EXPECT_EQ(Value(plan, name).Number, 5u);
    EXPECT_EQ(Value(plan, u"NoModify").Number, 1u);
    EXPECT_EQ(Value(plan, u"Publisher").Text, u"Zo");
    EXPECT_EQ(Value(plan, u"URLUpdateInfo").Text, u"https://zo.example/");
    EXPECT_EQ(plan.ScriptDataFile, u"C:\\Program Files\\Prod\\Uninstall.da1");
    EXPECT_EQ(plan.IconDataFile, u"C:\\Program Files\\Prod\\Uninstall.da2");
}

TEST_F(InstallPlanTest, AHugeProductsSizeCountsInKilobytesAndStopsAtTheLargestDWord)
{
    // Three files of 2 GiB less a byte: past 32 bits in bytes, not in kilobytes.
    for (int i = 0; i < 3; ++i) AddFile(u"{app}", u"big" + IntToStr(i), 0x7FFFFFFF);
    EXPECT_EQ(Value(Plan(), u"EstimatedSize").Number, 6291456u);
    // 4 TiB and more does not wrap around.
    for (int i = 3; i < 2100; ++i) AddFile(u"{app}", u"big" + IntToStr(i), 0x7FFFFFFF);
    EXPECT_EQ(Value(Plan(), u"EstimatedSize").Number, 0xFFFFFFFFu);
}

TEST_F(InstallPlanTest, RunEntriesSplitIntoWaitedAndLaunchedWithTheQuotedCommandLine)
{
    AddRun(u"{app}setup-db.exe", u"", true);
    AddRun(u"{app}App.exe", u"/first", false);
    AddRun(u"{app}conf.exe", u"-q x", true);
    TInstallPlan plan = Plan();
    ASSERT_EQ(plan.WaitRuns.size(), 2u);
    ASSERT_EQ(plan.LaunchRuns.size(), 1u);
    EXPECT_EQ(plan.WaitRuns[0].CommandLine(), u"\"C:\\Program Files\\Prod\\setup-db.exe\" ");  // the blank stays
    EXPECT_EQ(plan.WaitRuns[1].CommandLine(), u"\"C:\\Program Files\\Prod\\conf.exe\" -q x");
    EXPECT_EQ(plan.WaitRuns[0].WorkDir, u"C:\\Program Files\\Prod\\");
    EXPECT_EQ(plan.LaunchRuns[0].FileName, u"C:\\Program Files\\Prod\\App.exe");
    EXPECT_EQ(plan.LaunchRuns[0].Params, u"/first");
    EXPECT_EQ(plan.ProgressSteps(), 0);  // run entries are no progress steps

    // "/NORUN" leaves out what would start on the user's screen, and only that.
    script.BaseInfo->GotoUrl = u"http://zo.example/done";
    script.BaseInfo->GotoUrlMode = TGotoUrlMode::gumByBrowser;
    plan = Plan();
    EXPECT_EQ(plan.LeaveOutStarts(),
              (std::vector<WideString>{u"C:\\Program Files\\Prod\\App.exe /first", u"http://zo.example/done?rcode=17"}));
    EXPECT_TRUE(plan.LaunchRuns.empty() && plan.GotoUrl.empty());
    EXPECT_EQ(plan.WaitRuns.size(), 2u);
}

TEST_F(InstallPlanTest, TheCompletionAddressCarriesTheInstallersChannelCode)
{
    EXPECT_EQ(Plan().GotoUrl, u"");  // no address: no visit
    script.BaseInfo->GotoUrl = u"http://zo.example/done";
    script.BaseInfo->GotoUrlMode = TGotoUrlMode::gumByBrowser;
    TInstallPlan plan = Plan();
    EXPECT_EQ(plan.GotoUrl, u"http://zo.example/done?rcode=17");
    EXPECT_EQ(plan.GotoUrlMode, TGotoUrlMode::gumByBrowser);
    EXPECT_EQ(AppendChannelCode(u"http://x/?a=1", u"C:\\d\\Setup_5abc.exe"), u"http://x/?a=1&rcode=5");
    EXPECT_EQ(AppendChannelCode(u"http://x/", u"C:\\d_1\\Setup.exe"), u"http://x/");  // the folder's "_" does not count
    EXPECT_EQ(AppendChannelCode(u"http://x/", u"Setup_x.exe"), u"http://x/");
}

}  // namespace
