#include <gtest/gtest.h>

#include "SetupCommandLine.h"
#include "ZoSysUtils.h"

namespace {

// The line as the process receives it, program name first.
TSetupCommandLine Installer(const WideString& line)
{
    std::vector<WideString> args = SplitCommandLine(u"Setup.exe " + line);
    args.erase(args.begin());
    return ParseSetupCommandLine(args);
}

TSetupCommandLine Uninstaller(const WideString& line)
{
    std::vector<WideString> args = SplitCommandLine(u"Uninstall.exe " + line);
    args.erase(args.begin());
    return ParseUninstallCommandLine(args);
}

}  // namespace

TEST(SetupCommandLine, OneSwitchAloneChoosesTheModeAsAlways)
{
    EXPECT_EQ(Installer(u"/silent").mode, TRunMode::Silent);
    EXPECT_EQ(Installer(u"\"/Silent\"").mode, TRunMode::Silent);
    EXPECT_EQ(Installer(u"/AUTO").mode, TRunMode::Auto);
    for (const char16_t* window : {u"", u"-Silent", u"/Silent x", u"/Silent /Auto", u"/Silent /Silent", u"/DIR=C:\\X"})
        EXPECT_EQ(Installer(window).mode, TRunMode::Window) << ToUtf8(window);
}

TEST(SetupCommandLine, DeploymentSwitchesInAnyOrderCaseAndQuoting)
{
    TSetupCommandLine a = Installer(u"/dir=\"C:\\Program Files\\X\" /NoRun /Silent /log=C:\\l\\s.log /NORESTART");
    EXPECT_EQ(a.mode, TRunMode::Silent);
    EXPECT_EQ(a.installDir, WideString(u"C:\\Program Files\\X"));
    EXPECT_EQ(a.logPath, WideString(u"C:\\l\\s.log"));
    EXPECT_TRUE(a.noRun);
    EXPECT_TRUE(a.noRestart);

    TSetupCommandLine b = Installer(u"/Auto \"/DIR=C:\\Program Files\\X\"");
    EXPECT_EQ(b.mode, TRunMode::Auto);
    EXPECT_EQ(b.installDir, WideString(u"C:\\Program Files\\X"));
    EXPECT_FALSE(b.noRun);
    EXPECT_FALSE(b.logPath);
}

TEST(SetupCommandLine, AnythingTheGrammarDoesNotCoverShowsTheWindow)
{
    for (const char16_t* line : {u"/Silent /DIR=C:\\A /DIR=C:\\B", u"/Silent /DIR=", u"/Silent /DIR", u"/Silent /NORUN=1",
                                 u"/Silent /NORUN /norun", u"/Silent /UNKNOWN", u"/NORUN /LOG=x"}) {
        TSetupCommandLine parsed = Installer(line);
        EXPECT_EQ(parsed.mode, TRunMode::Window) << ToUtf8(line);
        EXPECT_FALSE(parsed.installDir || parsed.noRun) << ToUtf8(line);
    }
}

TEST(SetupCommandLine, UninstallerTakesSilentWithALogOnly)
{
    TSetupCommandLine u = Uninstaller(u"/LOG=\"C:\\a b\\u.log\" /SILENT");
    EXPECT_EQ(u.mode, TRunMode::Silent);
    EXPECT_EQ(u.logPath, WideString(u"C:\\a b\\u.log"));
    for (const char16_t* line : {u"/Auto", u"/SILENT /DIR=C:\\X", u"/SILENT /NORUN", u"/LOG=C:\\u.log"})
        EXPECT_EQ(Uninstaller(line).mode, TRunMode::Window) << ToUtf8(line);
}

// The language stands beside the mode in either program, and alone it still
// speaks in the window; given twice, empty or beside another lone switch it is
// no line at all.
TEST(SetupCommandLine, LanguageBesideTheModeOrAlone)
{
    TSetupCommandLine a = Installer(u"/lang=en-US /Silent /NORUN");
    EXPECT_EQ(a.mode, TRunMode::Silent);
    EXPECT_EQ(a.language, WideString(u"en-US"));
    EXPECT_TRUE(a.noRun);
    TSetupCommandLine alone = Installer(u"/LANG=en-US");
    EXPECT_EQ(alone.mode, TRunMode::Window);
    EXPECT_EQ(alone.language, WideString(u"en-US"));
    EXPECT_EQ(Uninstaller(u"/SILENT /LANG=zh-CN").language, WideString(u"zh-CN"));
    for (const char16_t* line : {u"/LANG=en-US /LANG=zh-CN /Silent", u"/LANG= /Silent", u"/LANG=en-US /NORUN"}) {
        TSetupCommandLine parsed = Installer(line);
        EXPECT_EQ(parsed.mode, TRunMode::Window) << ToUtf8(line);
        EXPECT_FALSE(parsed.language) << ToUtf8(line);
    }
}
