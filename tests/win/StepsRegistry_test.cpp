// The registry and shortcut steps, and how an error ends the sequence.
#include <gtest/gtest.h>

#include <shobjidl.h>

#include "SetupFn.h"
#include "StepsTestSupport.h"
#include "ZoSysUtils.h"

namespace {

const WideString testKey = u"Software\\ZoSetupStepsTest";

TSetupReg* AddReg(TSetupScript& script, TRegRootKey root, const WideString& subKey, const WideString& name,
                  const WideString& data, TRegValueType type)
{
    TSetupReg* r = script.RegList->Add();
    r->RootKey = root;
    r->SubKey = subKey;
    r->ValueName = name;
    r->ValueData = data;
    r->ValueType = type;
    return r;
}

TSetupShortCut* AddShortcut(TSetupScript& script, const WideString& saveDir, const WideString& name,
                            const WideString& target, const WideString& workDir, const WideString& icon)
{
    TSetupShortCut* s = script.ShortCutList->Add();
    s->SaveDir = saveDir;
    s->Name = name;
    s->DstFile = target;
    s->WorkDir = workDir;
    s->IconFile = icon;
    return s;
}

struct TLink {
    WideString target, workDir, icon;
};

TLink ReadLink(const WideString& path)
{
    TComPtr<IShellLinkW> link;
    EXPECT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           link.PutVoid())));
    TComPtr<IPersistFile> file = link.As<IPersistFile>(IID_IPersistFile);
    EXPECT_TRUE(SUCCEEDED(file->Load(W(path), STGM_READ)));
    wchar_t buf[MAX_PATH + 1] = {};
    TLink out;
    link->GetPath(buf, MAX_PATH, nullptr, 0);
    out.target = reinterpret_cast<const char16_t*>(buf);
    link->GetWorkingDirectory(buf, MAX_PATH);
    out.workDir = reinterpret_cast<const char16_t*>(buf);
    int index = 0;
    link->GetIconLocation(buf, MAX_PATH, &index);
    out.icon = reinterpret_cast<const char16_t*>(buf);
    return out;
}

class RegistryStep : public ::testing::Test {
protected:
    void SetUp() override { InstallDir = folder.Wide() + u"\\"; }
    void TearDown() override { InstallDir.clear(); }

    TTempFolder folder;
    TTestPackage package;
    TSetupScript script;
    TFakeView view;
    TRegCleanup cleanUser{HKEY_CURRENT_USER, testKey};
    TRegCleanup cleanMachine{HKEY_LOCAL_MACHINE, testKey};
};

}  // namespace

TEST_F(RegistryStep, WritesStringsAndNumbersBelowTheirRoots)
{
    AddReg(script, TRegRootKey::rrkCurrentUser, testKey + u"\\Sub", u"Path", u"{app}bin", TRegValueType::rvtString);
    AddReg(script, TRegRootKey::rrkCurrentUser, testKey + u"\\Sub", u"Hex", u"0x10", TRegValueType::rvtDWord);
    AddReg(script, TRegRootKey::rrkLocalMachine, u"\\" + testKey, u"Dollar", u"$FFFFFFFF", TRegValueType::rvtDWord);
    AddReg(script, TRegRootKey::rrkLocalMachine, testKey, u"Negative", u"  -5", TRegValueType::rvtDWord);
    // A root outside 0..4 means HKEY_CURRENT_USER.
    AddReg(script, static_cast<TRegRootKey>(9), testKey, u"Stray", u"here", TRegValueType::rvtString);
    // An unknown value type writes nothing.
    AddReg(script, TRegRootKey::rrkCurrentUser, testKey, u"Nothing", u"x", static_cast<TRegValueType>(7));

    TInstallSequence(script, package.Module(), view, {}).WriteRegistryEntries();

    TRegValue path = ReadRegValue(HKEY_CURRENT_USER, testKey + u"\\Sub", u"Path");
    EXPECT_EQ(path.type, DWORD(REG_SZ));
    EXPECT_EQ(path.text, InstallDir + u"bin");
    TRegValue hex = ReadRegValue(HKEY_CURRENT_USER, testKey + u"\\Sub", u"Hex");
    EXPECT_EQ(hex.type, DWORD(REG_DWORD));
    EXPECT_EQ(hex.number, 16u);
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, testKey, u"Dollar").number, 0xFFFFFFFFu);
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, testKey, u"Negative").number, static_cast<DWORD>(-5));
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, testKey, u"Stray").text, u"here");
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, testKey, u"Nothing").exists);

    EXPECT_EQ(view.position, 6);
    EXPECT_EQ(view.details.front(), u"正在修改注册表......");
}

TEST_F(RegistryStep, TextThatIsNoIntegerEndsTheSequenceWithItsMessage)
{
    AddReg(script, TRegRootKey::rrkCurrentUser, testKey, u"Bad", u"12abc", TRegValueType::rvtDWord);
    try {
        TInstallSequence(script, package.Module(), view, {}).WriteRegistryEntries();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"'12abc' is not a valid integer value");
    }
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, testKey, u"Bad").exists);

    // Through the whole sequence: with a window the message is shown and the
    // later steps do not run; silent, one line and the exit code.
    AddShortcut(script, InstallDir, u"never", u"C:\\x.exe", u"", u"");
    TInstallSequence visible(script, package.Module(), view, {});
    visible.uninstallPauseMs = 0;
    EXPECT_FALSE(visible.Run());
    ASSERT_EQ(view.infos.size(), 1u);
    EXPECT_EQ(view.infos[0], u"'12abc' is not a valid integer value");
    EXPECT_FALSE(view.finished);
    EXPECT_FALSE(std::filesystem::exists(W(InstallDir + u"never.lnk")));

    view.silent = true;
    TCapturedOutput out;
    try {
        TInstallSequence(script, package.Module(), view, {}).Run();
        FAIL();
    } catch (const TProcessEnded& e) {
        EXPECT_EQ(e.code, ecInstallFailed);
    }
    EXPECT_NE(out.Text().find("'12abc' is not a valid integer value"), std::string::npos);
}

TEST_F(RegistryStep, ShortcutsResolveToTheirTargetsAndMissingFoldersAreMade)
{
    TComApartment com;
    WideString target = InstallDir + u"bin\\app.exe";
    AddShortcut(script, u"{app}links", u"App", u"{app}bin\\app.exe", u"{app}bin", u"{app}app.ico");
    AddShortcut(script, u"{app}missing", u"Lost", target, u"", u"");
    AddShortcut(script, u"{app}links\\", u"Plain", target, u"", u"");
    ForceDirs(InstallDir + u"links");
    CopyHelper(target);

    TInstallSequence sequence(script, package.Module(), view, {});
    view.SetProgressMax(3);
    sequence.CreateShortcuts();
    sequence.CreateShortcuts();  // again: the links are replaced

    TLink app = ReadLink(InstallDir + u"links\\App.lnk");
    EXPECT_TRUE(TextEquals(app.target, target)) << Narrow(app.target);
    EXPECT_TRUE(TextEquals(app.workDir, InstallDir + u"bin")) << Narrow(app.workDir);
    EXPECT_TRUE(TextEquals(app.icon, InstallDir + u"app.ico")) << Narrow(app.icon);
    EXPECT_TRUE(ReadLink(InstallDir + u"links\\Plain.lnk").icon.empty());
    // A shortcut's folder that does not exist yet is made with its parents.
    EXPECT_TRUE(TextEquals(ReadLink(InstallDir + u"missing\\Lost.lnk").target, target));
    EXPECT_EQ(view.position, 3);
    EXPECT_EQ(view.details.front(), u"正在创建快捷方式......");
}
