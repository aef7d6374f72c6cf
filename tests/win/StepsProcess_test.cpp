// The destination check, the steps that deal with other processes, the
// completion visit and the whole sequence in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include "SetupFn.h"
#include "StepsTestSupport.h"
#include "ZoLog.h"
#include "ZoProcesses_win.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"

namespace {

std::vector<std::string> LogLines(const TTempFolder& folder)
{
    std::ifstream f(folder.Path() / "log.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
}

// Waits up to five seconds for the log to reach count lines.
std::vector<std::string> WaitForLog(const TTempFolder& folder, size_t count)
{
    for (int i = 0; i < 100 && LogLines(folder).size() < count; ++i) Sleep(50);
    return LogLines(folder);
}

struct TStartedProgram {
    TUniqueHandle process;
    bool Ended(DWORD ms) const { return WaitForSingleObject(process.Get(), ms) == WAIT_OBJECT_0; }
};

TStartedProgram StartSleeper(const WideString& exe)
{
    CopyHelper(exe);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + std::wstring(W(exe)) + L"\" --sleep";
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot start the helper");
    CloseHandle(pi.hThread);
    return {TUniqueHandle(pi.hProcess)};
}

TSetupRun* AddRun(TSetupScript& script, const WideString& file, const WideString& params, const WideString& dir,
                  bool wait)
{
    TSetupRun* r = script.RunList->Add();
    r->FileName = file;
    r->Params = params;
    r->WorkDir = dir;
    r->Wait = wait;
    return r;
}

// Restores the current folder, which the run step changes on purpose.
class TKeepCurrentDir {
public:
    TKeepCurrentDir() { GetCurrentDirectoryW(MAX_PATH, dir_); }
    ~TKeepCurrentDir() { SetCurrentDirectoryW(dir_); }

private:
    wchar_t dir_[MAX_PATH + 1] = {};
};

class ProcessSteps : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallDir = folder.Wide() + u"\\app\\";
        ForceDirs(InstallDir);
        helper = folder.Wide() + u"\\helper.exe";
        CopyHelper(helper);
        log = folder.Wide() + u"\\log.txt";
    }
    void TearDown() override { InstallDir.clear(); }

    // A command line of the helper that logs tag (and whether path exists).
    WideString HelperCommand(const WideString& tag, const WideString& path = u"") const
    {
        return u"\"" + helper + u"\" " + log + u" " + tag + (path.empty() ? u"" : u" " + path);
    }

    TTempFolder folder;
    TKeepCurrentDir keepDir;  // restored before the folder goes
    TTestPackage package;
    TSetupScript script;
    TFakeView view;
    WideString helper, log;
};

}  // namespace

TEST(ChannelCode, ComesFromTheDigitsAfterTheFirstUnderscore)
{
    const WideString url = u"http://zo.example/welcome";
    struct {
        const char16_t* program;
        const char16_t* expected;
    } cases[] = {
        {u"C:\\Downloads\\OrvantaCNFull_12345.exe", u"http://zo.example/welcome?rcode=12345"},
        {u"C:\\d\\Setup_88a_9.exe", u"http://zo.example/welcome?rcode=88"},
        {u"Setup_12_34.exe", u"http://zo.example/welcome?rcode=12"},
        {u"C:\\d_7\\Setup.exe", u"http://zo.example/welcome"},
        {u"Setup_.exe", u"http://zo.example/welcome"},
        {u"Setup_x12.exe", u"http://zo.example/welcome"},
    };
    for (auto& c : cases) EXPECT_EQ(AppendChannelCode(url, c.program), c.expected) << Narrow(c.program);
    EXPECT_EQ(AppendChannelCode(url + u"?from=setup", u"Setup_5.exe"), url + u"?from=setup&rcode=5");
}

TEST_F(ProcessSteps, DestinationCheckCreatesTheFolderOrSaysWhy)
{
    // Accepted: created with its parents, a trailing backslash added, no probe left behind.
    WideString wanted = folder.Wide() + u"\\new\\deeper";
    EXPECT_EQ(ValidateInstallDir(u"  " + wanted + u"\t", view), TDirCheck::Ok);
    EXPECT_EQ(InstallDir, wanted + u"\\");
    EXPECT_TRUE(DirExists(wanted));
    EXPECT_TRUE(std::filesystem::is_empty(W(wanted)));

    // A relative destination becomes absolute.
    SetCurrentDirectoryW(W(folder.Wide()));
    EXPECT_EQ(ValidateInstallDir(u"rel\\dir", view), TDirCheck::Ok);
    EXPECT_EQ(InstallDir, folder.Wide() + u"\\rel\\dir\\");
    // A drive with a name but no backslash means the drive's root, not its current folder.
    const WideString drive = folder.Wide().substr(0, 2), name = u"zo-root-" + TZoStrfn::NewGuidString().substr(1, 8);
    EXPECT_EQ(ValidateInstallDir(drive + name, view), TDirCheck::Ok);
    EXPECT_EQ(InstallDir, drive + u"\\" + name + u"\\");
    RemoveDirectoryW(W(InstallDir));
    EXPECT_EQ(ValidateInstallDir(drive, view), TDirCheck::Ok);
    EXPECT_EQ(InstallDir, drive + u"\\");

    EXPECT_EQ(ValidateInstallDir(u" \t ", view), TDirCheck::Empty);
    WriteFileBytes(folder.Path() / "file", "x");
    WideString underFile = folder.Wide() + u"\\file\\sub\\";
    EXPECT_EQ(ValidateInstallDir(underFile, view), TDirCheck::CannotCreate);
    ASSERT_EQ(view.infos.size(), 2u);
    EXPECT_EQ(view.infos[0], u"安装目录不能为空，请重新输入。");
    EXPECT_EQ(view.infos[1], u"创建安装目录失败：" + underFile + u"，请重新输入。");

    // Without a person: one line and the exit code, no box.
    view.silent = true;
    TCapturedOutput out;
    try {
        ValidateInstallDir(underFile, view);
        FAIL();
    } catch (const TProcessEnded& e) {
        EXPECT_EQ(e.code, ecBadDestination);
    }
    EXPECT_EQ(view.infos.size(), 2u);
    EXPECT_NE(out.Text().find("file\\sub\\"), std::string::npos);
}

TEST_F(ProcessSteps, PreviousVersionsUninstallInOrderBeforeAnyFileIsWritten)
{
    AddFileEntry(script, package, u"{app}", u"product.dll", "new");
    WideString target = InstallDir + u"product.dll";
    WideString is1 = UninstallKeyPath(script.BaseInfo->GUID, u"_is1");
    WideString mw = UninstallKeyPath(script.BaseInfo->GUID, u"_mw");
    // Our own "_mw" in the 32-bit view, which is searched first: still the "_is1" of the other view goes first.
    TUniqueHKey software32;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, software32.Put()),
              ERROR_SUCCESS);
    const WideString mw32 = mw.substr(WideString(u"Software\\").size());
    TRegCleanup cleanIs1(HKEY_LOCAL_MACHINE, is1), cleanMw(HKEY_LOCAL_MACHINE, mw), cleanMw32(software32.Get(), mw32);
    {
        TUniqueHKey k1, k2;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(is1), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, k1.Put(),
                        nullptr);
        RegCreateKeyExW(software32.Get(), W(mw32), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k2.Put(), nullptr);
        WideString c1 = HelperCommand(u"is1", target), c2 = HelperCommand(u"mw", target);
        RegSetValueExW(k1.Get(), L"QuietUninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(c1.c_str()),
                       static_cast<DWORD>((c1.size() + 1) * 2));
        RegSetValueExW(k2.Get(), L"QuietUninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(c2.c_str()),
                       static_cast<DWORD>((c2.size() + 1) * 2));
    }
    TComApartment com;
    TInstallSequence sequence(script, package.Module(), view, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    sequence.uninstallPauseMs = 0;
    ASSERT_TRUE(sequence.Run());

    std::vector<std::string> lines = LogLines(folder);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 4), "is1|");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "|no");
    EXPECT_EQ(lines[1].substr(0, 3), "mw|");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 3), "|no");
    EXPECT_TRUE(std::filesystem::exists(W(target)));
    // The new installation's own registration replaced the old command.
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, mw, u"QuietUninstallString").text,
              u"\"" + InstallDir + u"Uninstall.exe\" /SILENT");
    DeleteRegTree(HKEY_LOCAL_MACHINE, is1);
    DeleteRegTree(software32.Get(), mw32);
    EXPECT_EQ(sequence.UninstallPreviousVersion(), 0) << "this product carries no Uninstall.exe";
}

TEST_F(ProcessSteps, UninstallValuesThatAreNoTextOrNameNoProgramAreNotRun)
{
    WideString is1 = UninstallKeyPath(script.BaseInfo->GUID, u"_is1");
    WideString mw = UninstallKeyPath(script.BaseInfo->GUID, u"_mw");
    TRegCleanup clean1(HKEY_LOCAL_MACHINE, is1), clean2(HKEY_LOCAL_MACHINE, mw);
    TUniqueHKey k1, k2;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(is1), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k1.Put(), nullptr);
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(mw), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k2.Put(), nullptr);
    // A command in binary form: running it would show in the log.
    WideString command = HelperCommand(u"binary");
    RegSetValueExW(k1.Get(), L"QuietUninstallString", 0, REG_BINARY, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * 2));
    // The uninstaller of a folder deleted by hand: nothing to run or wait for.
    WideString gone = u"\"" + folder.Wide() + u"\\deleted\\Uninstall.exe\" /SILENT";
    RegSetValueExW(k2.Get(), L"QuietUninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(gone.c_str()),
                   static_cast<DWORD>((gone.size() + 1) * 2));
    TInstallSequence sequence(script, package.Module(), view, {});
    EXPECT_EQ(sequence.UninstallPreviousVersion(), 0);
    EXPECT_TRUE(LogLines(folder).empty());
}

TEST_F(ProcessSteps, ProgramsRunningFromProductFilesAreEndedAndNoOthers)
{
    TStartedProgram prod = StartSleeper(InstallDir + u"bin\\prod.exe");
    TStartedProgram blank = StartSleeper(InstallDir + u"my prod.exe");
    TStartedProgram config = StartSleeper(InstallDir + u"cfg.exe");
    // The same name in another folder is another program.
    TStartedProgram namesake = StartSleeper(folder.Wide() + u"\\running\\prod.exe");
    for (const char16_t* mask : {u"bin\\PROD.EXE", u"my prod.exe", u"cfg.exe.config", u"readme.txt"}) {
        TSetupFile* file = script.FileList->Add();
        file->DestDir = u"{app}";
        file->SourceMask = mask;
    }
    // This test program's own file among the product's: the installer is never ended.
    TSetupFile* own = script.FileList->Add();
    own->DestDir = DirPart(ArgAt(0));
    own->SourceMask = NamePart(ArgAt(0));

    TInstallSequence sequence(script, package.Module(), view, {});
    TCapturedOutput out;
    // Cancelled: nothing is ended.
    view.onClosePrograms = [](bool) { return TCloseChoice::Cancel; };
    EXPECT_FALSE(sequence.CloseRunningPrograms());
    EXPECT_FALSE(prod.Ended(0));
    // Asked first, then (windowless helpers cannot be asked) named again at once, and ended when the person says so.
    view.onClosePrograms = [](bool stillRunning) { return stillRunning ? TCloseChoice::End : TCloseChoice::Close; };
    view.closeAsks.clear();
    EXPECT_TRUE(sequence.CloseRunningPrograms());
    ASSERT_EQ(view.closeAsks.size(), 2u);
    EXPECT_FALSE(view.closeAsks[0].stillRunning);
    EXPECT_TRUE(view.closeAsks[1].stillRunning);
    std::vector<WideString> listed = view.closeAsks[0].programs;
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<WideString>{u"my prod.exe", u"prod.exe"}));

    EXPECT_TRUE(prod.Ended(0));  // waited for before the step returned
    EXPECT_TRUE(blank.Ended(0));
    EXPECT_FALSE(config.Ended(0));
    EXPECT_FALSE(namesake.Ended(0));
    EXPECT_EQ(out.Text(), "");  // nothing to say: no taskkill lines
    // The holder of a file, where the system can tell: here the process running from it.
    EXPECT_EQ(TZoProcessfn::HoldersOf(InstallDir + u"cfg.exe"), std::vector<WideString>{u"cfg.exe"});
    TerminateProcess(config.process.Get(), 0);
    TerminateProcess(namesake.process.Get(), 0);
}

TEST_F(ProcessSteps, ProcessesAreFoundByTheirFullPathInAnyLetterCaseButNeverThisOne)
{
    std::vector<DWORD> found = TZoProcessfn::FindRunningFrom({ArgAt(0)});
    EXPECT_TRUE(found.empty());
    TStartedProgram prod = StartSleeper(InstallDir + u"prod.exe");
    found = TZoProcessfn::FindRunningFrom({InstallDir + u"PROD.EXE", InstallDir + u"missing.exe"});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], GetProcessId(prod.process.Get()));
    EXPECT_EQ(TZoProcessfn::EndRunningFrom({InstallDir + u"prod.exe"}, 5000), 1);
    EXPECT_TRUE(prod.Ended(0));
    EXPECT_EQ(TZoProcessfn::EndRunningFrom({InstallDir + u"prod.exe"}, 5000), 0);
}

// Only waits, in the copy of this test program that the next test starts.
TEST(ProcessCopy, WaitsWhenStartedAsTheSecondCopy)
{
    if (GetEnvironmentVariableW(L"ZO_SECOND_COPY", nullptr, 0) != 0) Sleep(60000);
}

TEST_F(ProcessSteps, AnotherCopyOfThisProgramIsNeverEnded)
{
    // As a second uninstaller, started while the first removes the product's files.
    wchar_t own[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    ASSERT_TRUE(QueryFullProcessImageNameW(GetCurrentProcess(), 0, own, &size));
    std::wstring cmd = L"\"" + std::wstring(own) + L"\" --gtest_filter=ProcessCopy.*";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    SetEnvironmentVariableW(L"ZO_SECOND_COPY", L"1");
    const BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"ZO_SECOND_COPY", nullptr);
    ASSERT_TRUE(started);
    CloseHandle(pi.hThread);
    TStartedProgram copy{TUniqueHandle(pi.hProcess)};
    const WideString self(reinterpret_cast<const char16_t*>(own), size);
    EXPECT_TRUE(TZoProcessfn::FindRunningFrom({self}).empty());
    EXPECT_EQ(TZoProcessfn::EndRunningFrom({self}, 2000), 0);
    EXPECT_FALSE(copy.Ended(0));
    TerminateProcess(copy.process.Get(), 0);
}

TEST_F(ProcessSteps, WaitedEntriesRunInTheirFolderAndTheOthersStartAtTheEnd)
{
    ForceDirs(InstallDir + u"work");
    ForceDirs(InstallDir + u"late");
    AddRun(script, helper, log + u" first", u"{app}work", true);
    AddRun(script, helper, log + u" late", u"{app}late", false);
    AddRun(script, u"{app}..\\helper.exe", log + u" second", u"", true);

    TInstallSequence sequence(script, package.Module(), view, {});
    sequence.RunWaitEntries();
    std::vector<std::string> lines = LogLines(folder);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Wide(lines[0]), u"first|" + InstallDir + u"work|-");
    EXPECT_EQ(lines[1].substr(0, 7), "second|");
    EXPECT_EQ(view.details[0], u"正在运行程序：" + helper);

    // The launched one goes through the desktop shell, which starts it with
    // the signed-in user's rights (Wine has a desktop shell too).
    TTempFolder logs;
    ASSERT_TRUE(RunLog().Open(logs.Wide(), u"P", u"Setup"));
    LaunchRunEntries(script, false);
    const std::string runLog = ReadFileBytes(std::filesystem::u8path(ToUtf8(RunLog().Path())));
    RunLog().Close();
    EXPECT_NE(runLog.find(" late：经桌面外壳以登录用户的权限启动"), std::string::npos) << runLog;
    lines = WaitForLog(folder, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(TextEquals(Wide(lines[2]), u"late|" + InstallDir + u"late|-")) << lines[2];
}

TEST(OutOfMemory, EndsTheProgramWithItsCodeNeverACrash)
{
    // Thrown where no caller handles it: std::terminate would end with 3 and
    // a crash text.
    EXPECT_EXIT(
        {
            TZoWinfn::EndOnOutOfMemory(6, u"内存不足", true);
            std::thread([] { throw std::bad_alloc(); }).join();
        },
        ::testing::ExitedWithCode(6), "");
}

TEST_F(ProcessSteps, CompletionVisitGoesThroughTheHookAndSwallowsItsErrors)
{
    std::vector<WideString> visits;
    TInstallSequence sequence(script, package.Module(), view, {});
    sequence.silentVisit = [&](const WideString& url) {
        visits.push_back(url);
        throw Exception(u"no network");
    };
    sequence.VisitGotoUrl();  // no address: nothing
    EXPECT_TRUE(visits.empty());

    script.BaseInfo->GotoUrl = u"http://127.0.0.1:9/done?x=1";
    sequence.VisitGotoUrl();
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(visits[0], AppendChannelCode(u"http://127.0.0.1:9/done?x=1"));
    EXPECT_EQ(view.details.back(), u"正在验证安装......");
}

TEST_F(ProcessSteps, TheSequenceRunsItsStepsInOrderAndCountsProgress)
{
    AddFileEntry(script, package, u"{app}", u"a.txt", "a");
    AddFileEntry(script, package, u"{app}", u"b.txt", "b");
    AddFileEntry(script, package, u"{app}", u"c.txt", "");
    TSetupReg* reg = script.RegList->Add();
    reg->RootKey = TRegRootKey::rrkCurrentUser;
    reg->SubKey = u"Software\\ZoSetupStepsTest";
    TRegCleanup cleanReg(HKEY_CURRENT_USER, reg->SubKey);
    script.RegList->Add()->Assign(reg);
    TSetupShortCut* link = script.ShortCutList->Add();
    link->SaveDir = u"{app}";
    link->Name = u"A";
    link->DstFile = u"{app}a.txt";
    AddRun(script, helper, log + u" waited", u"", true);
    AddRun(script, helper, log + u" started", u"", false);
    script.BaseInfo->GotoUrl = u"http://127.0.0.1:9/";
    TRegCleanup cleanKey(HKEY_LOCAL_MACHINE, UninstallKeyPath(script.BaseInfo->GUID, u"_mw"));

    bool finishedBeforeVisit = false;
    TComApartment com;
    TInstallSequence sequence(script, package.Module(), view, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    sequence.silentVisit = [&](const WideString&) { finishedBeforeVisit = view.finished; };
    ASSERT_TRUE(sequence.Run());

    EXPECT_EQ(view.progressMax, 6);  // 3 files, 2 values, 1 shortcut; run entries do not count
    EXPECT_EQ(view.position, 6);
    EXPECT_EQ(view.statuses, (std::vector<WideString>{u"正在检查旧版本", u"正在安装"}));
    EXPECT_TRUE(finishedBeforeVisit);
    EXPECT_TRUE(std::filesystem::exists(W(InstallDir + u"A.lnk")));
    EXPECT_TRUE(std::filesystem::exists(W(InstallDir + u"Uninstall.da1")));
    EXPECT_TRUE(std::filesystem::exists(W(InstallDir + u"Uninstall.da2")));
    std::vector<std::string> lines = LogLines(folder);
    ASSERT_EQ(lines.size(), 1u);  // the other entry waits for the run button
    EXPECT_EQ(lines[0].substr(0, 7), "waited|");
}
