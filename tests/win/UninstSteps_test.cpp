// The uninstall steps against real files, folders and registry keys of the
// Wine prefix: what the product put there goes, what the user made stays, and
// whatever cannot be removed is reported while everything else still goes.
#include <gtest/gtest.h>

#include <windows.h>

#include "SetupFn.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "UninstallPlan.h"
#include "UninstallSteps_win.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Utf8(const std::vector<WideString>& list)
{
    std::vector<std::string> out;
    for (const WideString& s : list) out.push_back(ToUtf8(s));
    return out;
}

bool Exists(const WideString& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

void Write(const WideString& path, const std::string& bytes)
{
    TZoFilefn::ForceFileDir(path);
    WriteFileBytes(fs::path(W(path)), bytes);
}

bool KeyExists(HKEY root, const WideString& key)
{
    TUniqueHKey k;
    bool ok = RegOpenKeyExW(root, W(key), 0, KEY_READ, k.Put()) == ERROR_SUCCESS;
    if (!ok) k.Release();
    return ok;
}

bool ValueExists(HKEY root, const WideString& key, const WideString& name)
{
    return RegGetValueW(root, W(key), W(name), RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetValue(HKEY root, const WideString& key, const WideString& name, const WideString& data = u"x")
{
    TUniqueHKey k;
    ASSERT_EQ(RegCreateKeyExW(root, W(key), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr), ERROR_SUCCESS);
    RegSetValueExW(k.Get(), W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * 2));
}

// A product installed into a temporary folder, its registry values below a
// key of its own, and the uninstaller's view of it.
class UninstallSteps : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = {InstallDir, CommonProgramsDir, DesktopDir, AppTitleValue};
        InstallDir = root.Wide() + u"\\Prod\\";
        CommonProgramsDir = root.Wide() + u"\\Programs\\";
        DesktopDir = root.Wide() + u"\\Desktop\\";
        AppTitleValue = u"Zo 卸载测试";
        ForceDirs(CommonProgramsDir);
        ForceDirs(DesktopDir);
        regKey = u"Software\\ZoUninstTest-" + TZoStrfn::NewGuidString();
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, W(regKey));
        InstallDir = saved_[0];
        CommonProgramsDir = saved_[1];
        DesktopDir = saved_[2];
        AppTitleValue = saved_[3];
    }

    void AddFile(const WideString& mask, bool create = true)
    {
        TSetupFile* f = script.FileList->Add();
        f->DestDir = u"{app}";
        f->SourceMask = mask;
        if (create) Write(InstallDir + mask, "product file");
    }
    void AddValue(const WideString& subKey, const WideString& name, bool create = true)
    {
        TSetupReg* r = script.RegList->Add();
        r->RootKey = TRegRootKey::rrkCurrentUser;
        r->SubKey = subKey;
        r->ValueName = name;
        if (create) SetValue(HKEY_CURRENT_USER, subKey, name);
    }
    TUninstallReport Uninstall(const std::function<void(TUninstallSequence&)>& adjust = nullptr)
    {
        TUninstallPlan plan = TUninstallPlan::FromScript(script, InstallDir + u"Uninstall.exe",
                                                         {root.Wide() + u"\\", CommonProgramsDir, DesktopDir});
        TUninstallSequence sequence(script, std::move(plan), view);
        sequence.retryPauseMs = 10;
        if (adjust) adjust(sequence);
        return sequence.Run();
    }

    TTempFolder root;
    TSetupScript script;
    TQuietUninstallView view;
    WideString regKey;

private:
    std::vector<WideString> saved_;
};

TEST_F(UninstallSteps, RemovesTheProductAndKeepsWhatTheUserMade)
{
    AddFile(u"app.dll");
    AddFile(u"docs\\guide.txt");
    AddFile(u"docs\\deep\\notes.txt");
    AddFile(u"data\\sample.dat");
    Write(InstallDir + u"data\\mine.txt", "the user's own");
    ForceDirs(InstallDir + u"cache\\");  // made by the product at run time: not the installation's
    TSetupShortCut* link = script.ShortCutList->Add();
    link->SaveDir = u"{group}";
    link->Name = u"Zo";
    Write(CommonProgramsDir + u"Zo 卸载测试\\Zo.lnk", "link");
    TSetupShortCut* desktop = script.ShortCutList->Add();
    desktop->SaveDir = u"{desktop}";
    desktop->Name = u"Zo";
    Write(DesktopDir + u"Zo.lnk", "link");
    AddValue(regKey + u"\\Settings", u"Folder");
    AddValue(regKey + u"\\Settings", u"");  // the default value
    AddValue(regKey, u"Version");
    SetValue(HKEY_CURRENT_USER, regKey, u"LastRun");  // the product's own, written later
    Write(InstallDir + u"Uninstall.da1", "data");
    Write(InstallDir + u"Uninstall.da2", "icon");

    TUninstallReport report = Uninstall();

    EXPECT_TRUE(report.Complete()) << ToUtf8(report.Leftovers.empty() ? u"" : report.Leftovers.front());
    for (const char16_t* gone : {u"app.dll", u"docs\\guide.txt", u"docs\\", u"data\\sample.dat", u"Uninstall.da1",
                                 u"Uninstall.da2"})
        EXPECT_FALSE(Exists(InstallDir + gone)) << ToUtf8(gone);
    EXPECT_TRUE(Exists(InstallDir + u"data\\mine.txt"));
    EXPECT_TRUE(Exists(InstallDir + u"cache\\")) << "a folder the installation did not fill stays";
    EXPECT_FALSE(Exists(CommonProgramsDir + u"Zo 卸载测试\\")) << "the product's start-menu folder goes";
    EXPECT_FALSE(Exists(DesktopDir + u"Zo.lnk"));
    EXPECT_TRUE(Exists(DesktopDir)) << "the desktop itself stays, though empty";
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, regKey + u"\\Settings")) << "emptied: removed";
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, regKey, u"Version"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, regKey, u"LastRun")) << "a key that still holds a value stays";
}

TEST_F(UninstallSteps, WhatIsAlreadyGoneIsNoErrorAndReadOnlyFilesGoToo)
{
    AddFile(u"readonly.txt");
    SetFileAttributesW(W(InstallDir + u"readonly.txt"), FILE_ATTRIBUTE_READONLY);
    AddFile(u"gone.txt", false);
    AddFile(u"gone\\deeper\\x.txt", false);  // a folder already removed
    AddValue(regKey + u"\\Never", u"Written", false);
    script.ShortCutList->Add()->SaveDir = u"{app}\\no-such-folder";

    TUninstallReport report = Uninstall();

    EXPECT_TRUE(report.Complete());
    EXPECT_FALSE(Exists(InstallDir + u"readonly.txt"));
}

TEST_F(UninstallSteps, WhatIsInUseIsReportedAndEverythingElseStillGoes)
{
    AddFile(u"busy.dll");
    AddFile(u"free.dll");
    AddFile(u"held\\x.txt");
    AddValue(regKey, u"Value");
    TUniqueFile busy(CreateFileW(W(InstallDir + u"busy.dll"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy.Valid());
    // A folder open without leave to delete it, as a program's current folder is.
    TUniqueFile held(CreateFileW(W(InstallDir + u"held"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held.Valid());

    TUninstallReport report = Uninstall([](TUninstallSequence& s) { s.deleteAttempts = 2; });

    EXPECT_EQ(Utf8(report.Leftovers), (std::vector<std::string>{ToUtf8(InstallDir) + "busy.dll",
                                                                 ToUtf8(InstallDir) + "held\\"}));
    EXPECT_EQ(report.RemovedAtRestart, 2) << "marked for the next start of Windows";
    EXPECT_FALSE(Exists(InstallDir + u"free.dll"));
    EXPECT_FALSE(Exists(InstallDir + u"held\\x.txt"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, regKey));
    EXPECT_TRUE(Exists(InstallDir + u"busy.dll"));
}

TEST_F(UninstallSteps, TheRegistrationGoesAndTheSystemsKeysStayEvenWhenEmpty)
{
    const WideString mw = UninstallKeyPath(script.BaseInfo->GUID, u"_mw");
    SetValue(HKEY_LOCAL_MACHINE, mw, u"QuietUninstallString");
    SetValue(HKEY_LOCAL_MACHINE, mw + u"\\Extra", u"x");
    // A run entry of its own under a key that may hold nothing else.
    const WideString run = u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    const WideString name = u"ZoUninstTest-" + TZoStrfn::NewGuidString();
    AddValue(run, name);

    TUninstallReport report = Uninstall();

    EXPECT_TRUE(report.Complete());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, mw));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, run, name));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, run));
}

}  // namespace
