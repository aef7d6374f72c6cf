// The process and shell utilities against real child processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinUtils_win.h"

namespace {

WideString ChildPath()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return DirPart(WideString(reinterpret_cast<const char16_t*>(self))) + u"ui_child.exe";
}

WideString ChildCommand(const std::string& args) { return u"\"" + ChildPath() + u"\" " + FromUtf8(args); }

// Captures what this process writes to its standard output handle.
class TCapturedStdout {
public:
    TCapturedStdout() : file_(folder_.Path() / "out.txt")
    {
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        handle_.Reset(CreateFileW(file_.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  0, nullptr));
        SetStdHandle(STD_OUTPUT_HANDLE, handle_.Get());
    }
    ~TCapturedStdout() { SetStdHandle(STD_OUTPUT_HANDLE, saved_); }
    std::string Text()
    {
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
        handle_.Reset();
        return ReadFileBytes(file_);
    }

private:
    TTempFolder folder_;
    std::filesystem::path file_;
    TUniqueFile handle_;
    HANDLE saved_;
};

}  // namespace

TEST(ProcessUtilities, RunAndWaitReturnsTheExitCodeOrOneWhenNothingStarts)
{
    EXPECT_EQ(TZoWinfn::RunAndWait(ChildCommand("exit 7")), 7);
    EXPECT_EQ(TZoWinfn::RunAndWait(ChildCommand("exit 0")), 0);
    EXPECT_EQ(TZoWinfn::RunAndWait(ChildCommand("exit -3")), -3);
    EXPECT_EQ(TZoWinfn::RunAndWait(u"\"C:\\no such folder\\missing.exe\" x"), 1);
    EXPECT_EQ(TZoWinfn::RunHidden(u"C:\\no such folder\\missing.exe"), 1);
}

TEST(ProcessUtilities, RunHiddenRelaysEachChunkWithoutItsLastByte)
{
    {
        TCapturedStdout out;
        EXPECT_EQ(TZoWinfn::RunHidden(ChildCommand("exit 5")), 5);
        EXPECT_EQ(out.Text(), "");  // nothing printed, nothing relayed
    }
    {
        TCapturedStdout out;
        EXPECT_EQ(TZoWinfn::RunHidden(ChildCommand("print ab\\r\\n")), 0);
        EXPECT_EQ(out.Text(), "ab\r\r\n");  // the LF dropped, CR LF appended
    }
    {
        // 3000 bytes arrive at once and the child lives on: one chunk of at
        // most 1024 bytes per 300 ms wait, each relayed without its last byte.
        TCapturedStdout out;
        EXPECT_EQ(TZoWinfn::RunHidden(ChildCommand("big 3000 1000")), 0);
        std::string text = out.Text();
        std::string expected;
        for (int i = 0; i < 3000; ++i) expected += char('0' + i % 10);
        std::vector<std::string> lines;
        for (size_t pos = 0; pos < text.size();) {
            size_t end = text.find("\r\n", pos);
            ASSERT_NE(end, std::string::npos);
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], expected.substr(0, 1023));
        EXPECT_EQ(lines[1], expected.substr(1024, 1023));
        EXPECT_EQ(lines[2], expected.substr(2048, 951));
    }
}

TEST(ProcessUtilities, ShellRunWithBringToFrontWaitsAtLeast300ms)
{
    auto start = std::chrono::steady_clock::now();
    TZoWinfn::ShellRun(nullptr, u"", u"C:\\no such folder\\Tool.EXE", u"", u"", SW_HIDE, true);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), 295);
}

TEST(ProcessUtilities, TheBringToFrontWalkMatchesTheNamePartIgnoringCase)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    WideString cmd = ChildCommand("sleep 3000");
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    ASSERT_TRUE(CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
    TUniqueHandle process(pi.hProcess), thread(pi.hThread);
    EXPECT_EQ(TZoWinfn::FindProcessByName(u"C:\\elsewhere\\UI_Child.EXE"), pi.dwProcessId);
    EXPECT_EQ(TZoWinfn::FindProcessByName(u"D:UI_CHILD.exe"), pi.dwProcessId);  // the name after a colon
    EXPECT_EQ(TZoWinfn::FindProcessByName(u"ui_child"), 0u);
    TerminateProcess(process.Get(), 0);
    WaitForSingleObject(process.Get(), 5000);
}

TEST(ProcessUtilities, ShellResultsAbove32MeanSuccess)
{
    EXPECT_LE(TZoWinfn::ShellOpen(u"C:\\no such folder\\nothing.zzz"), 32);
    WideString temp = TZoWinfn::GetTempDir();
    EXPECT_GT(TZoWinfn::ShellRun(nullptr, u"", ChildPath(), u"exit 0", temp, SW_HIDE, false), 32);
}

TEST(ShellUtilities, TempDirIsAnExistingFolderWithTrailingBackslash)
{
    WideString temp = TZoWinfn::GetTempDir();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), u'\\');
    EXPECT_TRUE(DirExists(temp));
    EXPECT_EQ(temp.find(u'~'), WideString::npos);  // the long form
}

TEST(ShellUtilities, AMissingTempDirIsMadeRatherThanReplacedByTheRoot)
{
    const WideString missing = TZoWinfn::GetTempDir() + u"zo-gone-" + TZoStrfn::NewGuidString().substr(1, 8) + u"\\sub";
    wchar_t saved[2][MAX_PATH + 1] = {};
    bool wasSet[2] = {};
    const wchar_t* names[2] = {L"TMP", L"TEMP"};
    for (int i = 0; i < 2; ++i) {
        wasSet[i] = GetEnvironmentVariableW(names[i], saved[i], MAX_PATH) != 0;
        SetEnvironmentVariableW(names[i], reinterpret_cast<const wchar_t*>(missing.c_str()));
    }
    const WideString temp = TZoWinfn::GetTempDir();
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableW(names[i], wasSet[i] ? saved[i] : nullptr);
    EXPECT_EQ(temp, missing + u"\\");
    EXPECT_TRUE(DirExists(temp));
    RemoveDirectoryW(reinterpret_cast<const wchar_t*>(missing.c_str()));
    RemoveDirectoryW(reinterpret_cast<const wchar_t*>(DirPart(WithoutTrailingBackslash(missing)).c_str()));
}
