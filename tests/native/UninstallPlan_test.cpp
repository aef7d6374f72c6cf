// What the uninstaller removes, worked out from an installed script, and how
// it reads its two data files.
#include <gtest/gtest.h>

#include <algorithm>

#include "FolderValues.h"
#include "PeIcon.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "UninstallData.h"
#include "UninstallPlan.h"
#include "ZoSysUtils.h"

namespace {

// The folder values of a test machine, for each test.
class UninstallPlanTest : public ::testing::Test {
protected:
    static void AddFile(TSetupScript& s, const WideString& destDir, const WideString& mask)
    {
        TSetupFile* f = s.FileList->Add();
        f->DestDir = destDir;
        f->SourceMask = mask;
    }
    static void AddShortcut(TSetupScript& s, const WideString& saveDir, const WideString& name)
    {
        TSetupShortCut* c = s.ShortCutList->Add();
        c->SaveDir = saveDir;
        c->Name = name;
    }
    static void AddValue(TSetupScript& s, TRegRootKey root, const WideString& key, const WideString& name,
                         TRegValueType type = TRegValueType::rvtString)
    {
        TSetupReg* r = s.RegList->Add();
        r->RootKey = root;
        r->SubKey = key;
        r->ValueName = name;
        r->ValueType = type;
    }
    std::vector<WideString> Protected() const { return {ProgramFilesDir, DesktopDir, CommonProgramsDir}; }

    const WideString own_ = u"C:\\Program Files\\ZoDemo\\Uninstall.exe";

private:
    TTestFolderValues folders_{u"Zo Demo", u"C:\\Program Files\\ZoDemo\\"};
};

std::vector<std::string> Utf8(const std::vector<WideString>& list)
{
    std::vector<std::string> out;
    for (const WideString& s : list) out.push_back(ToUtf8(s));
    return out;
}

std::vector<std::string> KeysOf(const TUninstallPlan& plan)
{
    std::vector<std::string> out;
    for (const TRegKeyRef& k : plan.Keys) out.push_back(std::to_string(static_cast<int>(k.Root)) + ":" + ToUtf8(k.SubKey));
    return out;
}

TEST_F(UninstallPlanTest, FilesAndShortcutsExpandAsAtInstallTimeWithoutTheUninstallerItself)
{
    TSetupScript s;
    AddFile(s, u"{app}", u"ZoDemo.exe");
    AddFile(s, u"{app}\\", u"docs\\guide.txt");
    AddFile(s, u"{APP}", u"UNINSTALL.EXE");
    AddShortcut(s, u"{group}", u"Zo Demo");
    AddShortcut(s, u"{desktop}", u"Zo Demo");
    TUninstallPlan plan = TUninstallPlan::FromScript(s, own_, Protected());

    EXPECT_EQ(Utf8(plan.Files), (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\ZoDemo.exe",
                                                           "C:\\Program Files\\ZoDemo\\docs\\guide.txt"}));
    EXPECT_EQ(Utf8(plan.Shortcuts),
              (std::vector<std::string>{"C:\\ProgramData\\Start Menu\\Programs\\Zo Demo\\Zo Demo.lnk",
                                        "C:\\Users\\zo\\Desktop\\Zo Demo.lnk"}));
    EXPECT_EQ(Utf8(plan.DataFiles), (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\Uninstall.da1",
                                                               "C:\\Program Files\\ZoDemo\\Uninstall.da2"}));
}

TEST_F(UninstallPlanTest, AUsersInstallationRemovesTheLinksOfTheUsersOwnStartMenu)
{
    PerUserInstall = true;
    InstallDir = u"C:\\Users\\zo\\AppData\\Local\\Programs\\ZoDemo\\";
    TSetupScript s;
    AddShortcut(s, u"{group}", u"Zo Demo");
    TUninstallPlan plan = TUninstallPlan::FromScript(s, InstallDir + u"Uninstall.exe", Protected());
    EXPECT_EQ(Utf8(plan.Shortcuts),
              std::vector<std::string>{"C:\\Users\\zo\\AppData\\Roaming\\Start Menu\\Programs\\Zo Demo\\Zo Demo.lnk"});
    EXPECT_TRUE(plan.Outside.empty());
}

TEST_F(UninstallPlanTest, FoldersGoDeepestFirstAndNeverAboveTheInstallFolderOrIntoTheSystemsOwn)
{
    TSetupScript s;
    AddFile(s, u"{app}", u"docs\\deep\\a.txt");
    AddFile(s, u"{app}", u"docs\\b.txt");
    AddFile(s, u"{pf}\\ZoShared\\lib", u"x.dll");  // outside the install folder: stays
    AddShortcut(s, u"{group}\\Tools", u"Tool");    // the product's start-menu folder and its sub-folder
    AddShortcut(s, u"{desktop}", u"Zo Demo");      // the desktop itself stays
    TUninstallPlan plan = TUninstallPlan::FromScript(s, own_, Protected());

    std::vector<std::string> folders = Utf8(plan.Folders);
    EXPECT_EQ(folders, (std::vector<std::string>{
                           "C:\\ProgramData\\Start Menu\\Programs\\Zo Demo\\Tools\\",
                           "C:\\ProgramData\\Start Menu\\Programs\\Zo Demo\\",
                           "C:\\Program Files\\ZoDemo\\docs\\deep\\",
                           "C:\\Program Files\\ZoDemo\\docs\\",
                           "C:\\Program Files\\ZoDemo\\",
                       }));
    EXPECT_EQ(Utf8(plan.Outside), (std::vector<std::string>{"C:\\Program Files\\ZoShared\\lib\\x.dll"}));
    EXPECT_TRUE(plan.MayRemoveInstallFolder);
}

TEST(UninstallPaths, NormalFormResolvesStepsAndRefusesWhatIsNotPlain)
{
    struct Case {
        const char16_t* path;
        const char* normal;  // "" for refused
    } cases[] = {
        {u"C:\\Program Files\\ZoDemo\\a.txt", "C:\\Program Files\\ZoDemo\\a.txt"},
        {u"c:/Program Files//ZoDemo\\.\\sub/../a.txt", "C:\\Program Files\\ZoDemo\\a.txt"},
        {u"C:\\ZoDemo\\..\\Users\\zo\\Documents\\", "C:\\Users\\zo\\Documents"},
        {u"C:\\x\\..\\..\\..\\Windows", ""},  // above the root
        {u"C:\\", "C:\\"},
        {u"C:", ""},
        {u"C:relative\\x", ""},
        {u"relative\\x", ""},
        {u"\\rooted\\x", ""},
        {u"\\\\server\\share\\x", ""},
        {u"//server/share/x", ""},
        {u"\\\\?\\C:\\x", ""},
        {u"\\\\.\\C:\\x", ""},
        {u"\\\\.\\PhysicalDrive0", ""},
        {u"\\??\\C:\\x", ""},
        {u"C:\\app\\file.txt:stream", ""},
        {u"C:\\app\\NUL", ""},
        {u"C:\\app\\con.txt", ""},
        {u"C:\\app\\COM1\\x", ""},
        {u"C:\\app\\lpt9 .log", ""},
        {u"C:\\app\\console.txt", "C:\\app\\console.txt"},
        {u"C:\\app\\x.", ""},       // Windows would drop the dot: another file
        {u"C:\\app\\x \\y", ""},  // and the blank
        {u"C:\\app\\...\\y", ""},
        {u"C:\\app\\a*b", ""},
        {u"C:\\app\\a\tb", ""},
        {u"", ""},
    };
    for (const Case& c : cases) {
        std::optional<WideString> n = NormalisePath(c.path);
        EXPECT_EQ(n ? ToUtf8(*n) : std::string(), c.normal) << ToUtf8(c.path);
    }
    EXPECT_TRUE(IsBelowFolder(u"C:\\Program Files\\ZoDemo\\a", u"C:\\program files\\zodemo"));
    EXPECT_FALSE(IsBelowFolder(u"C:\\Program Files\\ZoDemo2\\a", u"C:\\Program Files\\ZoDemo"));
    EXPECT_FALSE(IsBelowFolder(u"C:\\Program Files\\ZoDemo", u"C:\\Program Files\\ZoDemo"));
}

TEST_F(UninstallPlanTest, NothingOutsideTheInstallFolderIsRemovedButLinksInTheirFolders)
{
    TSetupScript s;
    AddFile(s, u"{app}\\..\\victim", u"keep.txt");
    AddFile(s, u"C:\\users\\Public\\Documents", u"thesis.txt");
    AddFile(s, u"{app}", u"sub\\..\\..\\ZoDemo2\\x.txt");       // a sibling that shares the name's start
    AddFile(s, u"{app}", u"\\\\?\\C:\\Windows\\win.ini");
    AddFile(s, u"\\\\server\\share", u"x.txt");
    AddFile(s, u"{app}", u"bin/..//bin\\.\\tool.dll");             // inside, written oddly
    AddFile(s, u"{app}", u"NUL");
    AddFile(s, u"{APP}\\sub\\..", u"Uninstall.exe");              // the uninstaller itself, written oddly
    AddShortcut(s, u"{desktop}", u"Zo Demo");
    AddShortcut(s, u"{desktop}", u"..\\..\\Documents\\thesis");  // a "link" that reaches elsewhere
    AddShortcut(s, u"{desktop}\\..\\..\\zo", u"x");               // a ".lnk" outside the shortcut folders
    std::vector<WideString> guarded = Protected();
    guarded.push_back(u"C:\\Users\\zo");
    TUninstallPlan plan = TUninstallPlan::FromScript(s, own_, guarded);

    EXPECT_EQ(Utf8(plan.Files), (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\bin\\tool.dll"}));
    EXPECT_EQ(Utf8(plan.Shortcuts),
              (std::vector<std::string>{"C:\\Users\\zo\\Desktop\\Zo Demo.lnk"}));
    EXPECT_EQ(Utf8(plan.Outside), (std::vector<std::string>{
                                      "C:\\Program Files\\ZoDemo\\..\\victim\\keep.txt",
                                      "C:\\users\\Public\\Documents\\thesis.txt",
                                      "C:\\Program Files\\ZoDemo\\sub\\..\\..\\ZoDemo2\\x.txt",
                                      "C:\\Program Files\\ZoDemo\\\\\\?\\C:\\Windows\\win.ini",
                                      "\\server\\share\\x.txt",  // the expansion folds doubled backslashes
                                      "C:\\Program Files\\ZoDemo\\NUL",
                                      "C:\\Users\\zo\\Desktop\\..\\..\\Documents\\thesis.lnk",
                                      "C:\\Users\\zo\\Desktop\\..\\..\\zo\\x.lnk",
                                  }));
    // Only folders the removed items leave; the profile, reached by steps, is the user's own.
    EXPECT_EQ(Utf8(plan.Folders), (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\bin\\",
                                                             "C:\\Program Files\\ZoDemo\\"}));
}

TEST_F(UninstallPlanTest, ShortNamesAndStepsAreComparedInTheirLongNormalForm)
{
    // The system's long form, as the uninstaller asks for it.
    auto longPath = [](const WideString& p) {
        WideString r = ReplaceText(p, u"C:\\PROGRA~1", u"C:\\Program Files", rfIgnoreCase);
        return ReplaceText(r, u"\\DESKTO~1", u"\\Desktop", rfIgnoreCase);
    };
    InstallDir = u"C:\\PROGRA~1\\ZoDemo\\";
    TSetupScript s;
    AddFile(s, u"{app}", u"a.txt");
    AddFile(s, u"C:\\Program Files\\ZoDemo\\docs", u"b.txt");
    AddShortcut(s, u"C:\\Users\\zo\\DESKTO~1", u"Zo Demo");
    AddShortcut(s, u"C:\\Users\\zo\\Desktop\\..\\Desktop\\.", u"Zo Demo 2");
    TUninstallPlan plan = TUninstallPlan::FromScript(s, u"C:\\PROGRA~1\\ZoDemo\\Uninstall.exe", Protected(), longPath);

    EXPECT_EQ(Utf8(plan.Files), (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\a.txt",
                                                           "C:\\Program Files\\ZoDemo\\docs\\b.txt"}));
    EXPECT_TRUE(plan.Outside.empty());
    EXPECT_EQ(ToUtf8(plan.InstallFolder), "C:\\Program Files\\ZoDemo\\");
    // The desktop, however written, is one of the system's own folders.
    EXPECT_EQ(Utf8(plan.Folders), (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\docs\\",
                                                             "C:\\Program Files\\ZoDemo\\"}));
    InstallDir = u"C:\\Program Files\\..\\Program Files\\";
    EXPECT_FALSE(TUninstallPlan::FromScript(s, InstallDir + u"Uninstall.exe", Protected(), longPath)
                     .MayRemoveInstallFolder);
}

TEST_F(UninstallPlanTest, AnInstallFolderOfTheSystemsOwnIsNeverRemoved)
{
    for (const char16_t* dir : {u"C:\\Program Files\\", u"D:\\", u"C:\\Users\\zo\\Desktop\\"}) {
        InstallDir = dir;
        TSetupScript s;
        AddFile(s, u"{app}", u"a.txt");
        AddFile(s, u"{app}", u"sub\\b.txt");
        TUninstallPlan plan = TUninstallPlan::FromScript(s, InstallDir + u"Uninstall.exe", Protected());
        EXPECT_FALSE(plan.MayRemoveInstallFolder) << ToUtf8(InstallDir);
        EXPECT_EQ(Utf8(plan.Folders), (std::vector<std::string>{ToUtf8(InstallDir) + "sub\\"})) << ToUtf8(InstallDir);
    }
}

TEST_F(UninstallPlanTest, RegistryValuesAndTheProductsOwnKeysDeepestFirst)
{
    TSetupScript s;
    AddValue(s, TRegRootKey::rrkCurrentUser, u"\\Software\\ZoDemo\\Settings", u"Folder");
    AddValue(s, TRegRootKey::rrkCurrentUser, u"Software\\ZoDemo", u"Count", TRegValueType::rvtDWord);
    AddValue(s, TRegRootKey::rrkCurrentUser, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", u"ZoDemo");
    AddValue(s, TRegRootKey::rrkClassesRoot, u".zodemo\\shell\\open", u"");
    AddValue(s, TRegRootKey::rrkCurrentUser, u"Software\\Skipped", u"NotWritten",
             static_cast<TRegValueType>(7));                           // a type that wrote nothing
    AddValue(s, static_cast<TRegRootKey>(9), u"Software\\Odd", u"X");  // an unknown root wrote below HKCU
    TUninstallPlan plan = TUninstallPlan::FromScript(s, own_, Protected());

    ASSERT_EQ(plan.Values.size(), 5u);
    EXPECT_EQ(ToUtf8(plan.Values[0].SubKey), "Software\\ZoDemo\\Settings") << "the leading backslash goes";
    EXPECT_EQ(plan.Values[4].Root, TRegRootKey::rrkCurrentUser);
    EXPECT_EQ(KeysOf(plan), (std::vector<std::string>{"1:Software\\ZoDemo\\Settings", "0:.zodemo\\shell\\open",
                                                      "1:Software\\ZoDemo", "0:.zodemo\\shell", "1:Software\\Odd",
                                                      "0:.zodemo"}));
}

TEST_F(UninstallPlanTest, ValuesOnlyWhereApplicationsKeepThemAndADataFileOthersCouldWriteRemovesOnlyTheProduct)
{
    TSetupScript s;
    AddFile(s, u"{app}", u"ZoDemo.exe");
    AddShortcut(s, u"{desktop}", u"Zo Demo");
    AddShortcut(s, u"{group}", u"Zo Demo");
    AddShortcut(s, u"{app}\\links", u"Zo Demo");
    AddShortcut(s, u"C:\\Users\\zo\\Documents", u"Report");  // a folder the installer never puts links in
    AddValue(s, TRegRootKey::rrkCurrentUser, u"Software\\ZoDemo", u"Folder");
    AddValue(s, TRegRootKey::rrkLocalMachine, u"Software\\Wow6432Node\\ZoDemo", u"Folder");
    AddValue(s, TRegRootKey::rrkLocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\Lsa", u"Notification Packages");
    AddValue(s, TRegRootKey::rrkCurrentUser, u"Environment", u"Path");
    AddValue(s, TRegRootKey::rrkLocalMachine, u"Software\\Policies\\Microsoft\\Windows Defender", u"x");
    AddValue(s, TRegRootKey::rrkLocalMachine,
             u"Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", u"Shell");
    AddValue(s, TRegRootKey::rrkCurrentConfig, u"Software\\Fonts", u"LogPixels");

    TUninstallPlan plan = TUninstallPlan::FromScript(s, own_, Protected());
    EXPECT_EQ(Utf8(plan.Shortcuts), (std::vector<std::string>{"C:\\Users\\zo\\Desktop\\Zo Demo.lnk",
                                                               "C:\\ProgramData\\Start Menu\\Programs\\Zo Demo\\Zo Demo.lnk",
                                                               "C:\\Program Files\\ZoDemo\\links\\Zo Demo.lnk"}));
    ASSERT_EQ(plan.Values.size(), 2u);
    EXPECT_EQ(ToUtf8(plan.Values[1].SubKey), "Software\\Wow6432Node\\ZoDemo");
    EXPECT_EQ(Utf8(plan.Outside), (std::vector<std::string>{
                                      "C:\\Users\\zo\\Documents\\Report.lnk",
                                      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Lsa\\Notification Packages",
                                      "HKEY_CURRENT_USER\\Environment\\Path",
                                      "HKEY_LOCAL_MACHINE\\Software\\Policies\\Microsoft\\Windows Defender\\x",
                                      "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Shell",
                                      "HKEY_CURRENT_CONFIG\\Software\\Fonts\\LogPixels",
                                  }));

    TUninstallPlan distrusted = TUninstallPlan::FromScript(s, own_, Protected(), {}, false);
    EXPECT_FALSE(distrusted.DataTrusted);
    EXPECT_EQ(distrusted.Files, plan.Files);
    EXPECT_EQ(Utf8(distrusted.Shortcuts),
              (std::vector<std::string>{"C:\\Program Files\\ZoDemo\\links\\Zo Demo.lnk"}));
    EXPECT_TRUE(distrusted.Values.empty());
    EXPECT_TRUE(distrusted.Keys.empty());
    EXPECT_EQ(distrusted.Outside.size(), 3u + 7u);
}

TEST(UninstallKeys, TheSystemsOwnKeysAreProtected)
{
    using R = TRegRootKey;
    struct Case {
        R root;
        const char16_t* key;
        bool isProtected;
    } cases[] = {
        {R::rrkCurrentUser, u"", true},
        {R::rrkCurrentUser, u"Software", true},
        {R::rrkCurrentUser, u"Environment", true},
        {R::rrkCurrentUser, u"Control Panel\\Desktop", true},
        {R::rrkCurrentUser, u"Software\\ZoDemo", false},
        {R::rrkCurrentUser, u"software\\zodemo\\sub", false},
        {R::rrkLocalMachine, u"Software\\Microsoft", true},
        {R::rrkLocalMachine, u"Software\\Microsoft\\Office", true},
        {R::rrkLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run", true},
        {R::rrkLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", true},
        {R::rrkLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ZoDemo.exe", false},
        {R::rrkLocalMachine, u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", true},
        {R::rrkLocalMachine, u"Software\\Wow6432Node", true},
        {R::rrkLocalMachine, u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", true},
        {R::rrkLocalMachine, u"Software\\Wow6432Node\\ZoDemo", false},
        {R::rrkLocalMachine, u"Software\\Classes", true},
        {R::rrkLocalMachine, u"Software\\Classes\\CLSID", true},
        {R::rrkLocalMachine, u"Software\\Classes\\.zodemo", false},
        {R::rrkLocalMachine, u"System\\CurrentControlSet\\Services", true},
        {R::rrkLocalMachine, u"System\\CurrentControlSet\\Services\\ZoDemo", false},
        {R::rrkClassesRoot, u".zodemo", false},
        {R::rrkClassesRoot, u"CLSID", true},
        {R::rrkClassesRoot, u"*", true},
        {R::rrkClassesRoot, u"CLSID\\{6F1E2D3C-4B5A-4978-8A1B-2C3D4E5F6A7B}", false},
        {R::rrkUsers, u"S-1-5-21-1", true},
        {R::rrkUsers, u"S-1-5-21-1\\Software", true},
        {R::rrkUsers, u"S-1-5-21-1\\Software\\ZoDemo", false},
        {R::rrkCurrentConfig, u"Software", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsProtectedKey(c.root, c.key), c.isProtected) << static_cast<int>(c.root) << " " << ToUtf8(c.key);
}

TEST(UninstallFolders, RootsAndPathsThatAreNotAbsoluteAreNeverRemoved)
{
    for (const char16_t* f : {u"C:\\", u"C:", u"\\\\server\\share\\", u"\\\\server\\share", u"relative\\x\\", u"\\", u""})
        EXPECT_TRUE(IsRootFolder(f)) << ToUtf8(f);
    for (const char16_t* f : {u"C:\\x\\", u"C:\\x", u"\\\\server\\share\\x\\"}) EXPECT_FALSE(IsRootFolder(f)) << ToUtf8(f);
}

// ---- The data files ----------------------------------------------------------------

#ifdef _WIN32
const char16_t* const kSep = u"\\";
#else
const char16_t* const kSep = u"/";
#endif

void WriteEncoded(const std::filesystem::path& file, const TBytes& plain)
{
    TMemoryStream s{plain};
    TSetupfn::EncodeStream(&s);
    WriteFileBytes(file, std::string(s.Bytes().begin(), s.Bytes().end()));
}

TBytes ScriptBytes(const TSetupScript& script)
{
    TMemoryStream s;
    script.SaveToStream(s);
    return s.Bytes();
}

TEST(UninstallData, TheInstalledScriptLoadsWithItsFilesAndGuid)
{
    TTempFolder dir;
    TSetupScript installed;
    installed.BaseInfo->AppTitle = u"Zo 演示";
    installed.FileList->Add()->SourceMask = u"docs\\使用说明.txt";
    WriteEncoded(dir.Path() / "Uninstall.da1", ScriptBytes(installed));

    auto script = LoadUninstallScript(dir.Wide() + kSep);
    EXPECT_EQ(script->BaseInfo->GUID, installed.BaseInfo->GUID);
    EXPECT_EQ(script->BaseInfo->AppTitle, u"Zo 演示");
    ASSERT_EQ(script->FileList->Count(), 1);
    EXPECT_EQ(script->FileList->Items(0)->SourceMask, u"docs\\使用说明.txt");
}

TEST(UninstallData, AMissingOrDamagedScriptIsRefusedWithASentence)
{
    TTempFolder dir;
    const WideString folder = dir.Wide() + kSep;
    auto messageOf = [&] {
        try {
            LoadUninstallScript(folder);
        } catch (const EUninstallDataError& e) {
            return ToUtf8(e.Message());
        }
        return std::string("loaded");
    };
    const std::string file = ToUtf8(folder) + "Uninstall.da1";
    EXPECT_EQ(messageOf(), "找不到卸载数据文件 " + file + "，无法卸载。");

    const std::string damaged = "卸载数据文件 " + file + " 已损坏，无法卸载。";
    WriteFileBytes(dir.Path() / "Uninstall.da1", "");
    EXPECT_EQ(messageOf(), damaged) << "empty";
    WriteFileBytes(dir.Path() / "Uninstall.da1", std::string(4000, 'x'));
    EXPECT_EQ(messageOf(), damaged) << "not encoded";
    TSetupScript installed;
    TBytes plain = ScriptBytes(installed);
    TMemoryStream s{plain};
    TSetupfn::EncodeStream(&s);
    WriteFileBytes(dir.Path() / "Uninstall.da1", std::string(s.Bytes().begin(), s.Bytes().end() - 9));
    EXPECT_EQ(messageOf(), damaged) << "cut short";
    WriteEncoded(dir.Path() / "Uninstall.da1", TBytes(plain.begin(), plain.begin() + plain.size() / 2));
    EXPECT_EQ(messageOf(), damaged) << "half an XML document";
    std::string other = "<?xml version=\"1.0\"?><Other/>";
    WriteEncoded(dir.Path() / "Uninstall.da1", TBytes(other.begin(), other.end()));
    EXPECT_EQ(messageOf(), damaged) << "a document without the product's GUID";
}

TEST(UninstallData, TheIconIsAWholePngOrNothing)
{
    TTempFolder dir;
    const WideString folder = dir.Wide() + kSep;
    EXPECT_TRUE(LoadUninstallIcon(folder).empty()) << "missing";

    std::vector<uint8_t> rgba(4 * 4 * 4, 0x80);
    TBytes png = EncodePng(4, 4, rgba.data());
    WriteEncoded(dir.Path() / "Uninstall.da2", png);
    EXPECT_EQ(LoadUninstallIcon(folder), png);

    WriteEncoded(dir.Path() / "Uninstall.da2", TBytes(png.begin(), png.end() - 5));
    EXPECT_TRUE(LoadUninstallIcon(folder).empty()) << "a cut PNG";
    WriteFileBytes(dir.Path() / "Uninstall.da2", "garbage");
    EXPECT_TRUE(LoadUninstallIcon(folder).empty()) << "not encoded";
}

}  // namespace
