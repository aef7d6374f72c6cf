#include <gtest/gtest.h>

#include "Elevation.h"
#include "SetupFn.h"
#include "TestSupport.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

TEST(Paths, SplitsAtLastBackslashOrColon)
{
    EXPECT_EQ(DirPart(u"C:\\Program Files\\App\\run.exe"), u"C:\\Program Files\\App\\");
    EXPECT_EQ(NamePart(u"C:\\Program Files\\App\\run.exe"), u"run.exe");
    EXPECT_EQ(NameWithoutExt(u"C:\\Program Files\\App\\run.exe"), u"run");
    EXPECT_EQ(NameWithoutExt(u"C:\\a.b\\noext"), u"noext");
    EXPECT_EQ(DirPart(u"C:"), u"C:");
    EXPECT_EQ(DirPart(u"name.txt"), u"");
    EXPECT_EQ(NamePart(u"name.txt"), u"name.txt");
}

TEST(Paths, TrailingBackslashPair)
{
    EXPECT_EQ(WithTrailingBackslash(u""), u"\\");
    EXPECT_EQ(WithTrailingBackslash(u"C:\\"), u"C:\\");
    EXPECT_EQ(WithTrailingBackslash(u"C:\\a"), u"C:\\a\\");
    EXPECT_EQ(WithoutTrailingBackslash(u"C:\\a\\\\"), u"C:\\a\\");
    EXPECT_EQ(WithoutTrailingBackslash(u"C:\\a"), u"C:\\a");
}

TEST(Paths, ForceDirsCreatesEveryLevel)
{
    TTempFolder tmp;
    WideString deep = tmp.Wide() + u"\\a\\b\\c";
    EXPECT_TRUE(ForceDirs(deep));
    EXPECT_TRUE(std::filesystem::is_directory(tmp.Path() / "a" / "b" / "c"));
    EXPECT_TRUE(ForceDirs(deep + u"\\"));
    EXPECT_THROW(ForceDirs(u""), EInOutError);
}

// Only a drive ("C:") is taken for a root: a relative folder of one or two
// letters is created like any other.
TEST(Paths, ForceDirsCreatesShortRelativeNames)
{
    TTempFolder tmp;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(tmp.Path());
    const bool made = ForceDirs(u"ex") && ForceDirs(u"x\\y");
    std::filesystem::current_path(before);
    EXPECT_TRUE(made);
    EXPECT_TRUE(std::filesystem::is_directory(tmp.Path() / "ex"));
    EXPECT_TRUE(std::filesystem::is_directory(tmp.Path() / "x" / "y"));
    EXPECT_TRUE(ForceDirs(u"C:"));
}

TEST(Strings, ReplaceTextFlags)
{
    EXPECT_EQ(ReplaceText(u"aXbxc", u"x", u"-", 0), u"aXb-c");
    EXPECT_EQ(ReplaceText(u"aXbxc", u"x", u"-", rfIgnoreCase), u"a-bxc");
    EXPECT_EQ(ReplaceText(u"aXbxc", u"x", u"-", rfReplaceAll | rfIgnoreCase), u"a-b-c");
    EXPECT_EQ(ReplaceText(u"aa", u"a", u"aa", rfReplaceAll), u"aaaa") << "inserted text is not rescanned";
    EXPECT_TRUE(TextEquals(u"/Silent", u"/SILENT"));
}

TEST(Strings, FormatTextFillsPercentS)
{
    EXPECT_EQ(FormatText(u"文件：%s\r\n\r\n失败原因：%s", {u"a", u"b"}), u"文件：a\r\n\r\n失败原因：b");
    EXPECT_EQ(FormatText(u"%s (%s, line %d)", {u"x", u"u", u"7"}), u"x (u, line 7)");
}

TEST(Strings, CommandLineSplitting)
{
    using V = std::vector<WideString>;
    EXPECT_EQ(SplitCommandLine(u"setup.exe \"/Silent\""), (V{u"setup.exe", u"/Silent"}));
    EXPECT_EQ(SplitCommandLine(u"\"C:\\a b\\setup.exe\" /Auto x"), (V{u"C:\\a b\\setup.exe", u"/Auto", u"x"}));
    EXPECT_EQ(SplitCommandLine(u"a \"\" b"), (V{u"a", u"b"}));
    EXPECT_EQ(SplitCommandLine(u"a \"/Sil ent\""), (V{u"a", u"/Sil ent"}));
    EXPECT_EQ(SplitCommandLine(u"a\tb\x01" u"c"), (V{u"a", u"b", u"c"}));
    // What an elevated copy is started with reads back as it was given.
    const V args{u"/Silent", u"C:\\Program Files\\Zo\\", u"/DIR=C:\\a b\\", u"\u4e2d\u6587 x"};
    EXPECT_EQ(SplitCommandLine(u"setup.exe " + JoinCommandLine(args)), (V{u"setup.exe", args[0], args[1], args[2], args[3]}));
#ifndef _WIN32
    ZoPlatform::SetCommandLine(u"setup.exe \"/Silent\"");
    EXPECT_EQ(ArgCount(), 1);
    EXPECT_EQ(ArgAt(1), u"/Silent");
    EXPECT_EQ(ArgAt(2), u"");
    ZoPlatform::SetCommandLine(u"");
#endif
}

TEST(Strings, Utf8RoundTripAndCutAtZero)
{
    WideString text = u"中文 text \U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(WideString(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(FromUtf8(AnsiString("ab\0cd", 5)), u"ab");
    EXPECT_EQ(FromUtf8(AnsiString("\xC0\x80x")), u"\uFFFD\uFFFDx");
}

TEST(Strings, IntegerConversionAsTheToolkitDoes)
{
    EXPECT_EQ(TryStrToInt(u"0x10"), 16);
    EXPECT_EQ(TryStrToInt(u"$FF"), 255);
    EXPECT_EQ(TryStrToInt(u"-12"), -12);
    EXPECT_EQ(TryStrToInt(u" 7"), 7);
    EXPECT_EQ(TryStrToInt(u"0xFFFFFFFF"), -1);
    EXPECT_FALSE(TryStrToInt(u"12abc"));
    EXPECT_FALSE(TryStrToInt(u""));
    EXPECT_FALSE(TryStrToInt(u"2147483648"));
    EXPECT_FALSE(TryStrToInt(u"7 "));
}

TEST(Strings, GeneralFloatFormatWith15Digits)
{
    EXPECT_EQ(FloatToStrG15(45000.5), u"45000.5");
    EXPECT_EQ(FloatToStrG15(0), u"0");
    EXPECT_EQ(FloatToStrG15(1.0 / 3), u"0.333333333333333");
    EXPECT_EQ(FloatToStrG15(1e20), u"1E20");
    EXPECT_EQ(FloatToStrG15(1.5e-7), u"1.5E-7");
    EXPECT_EQ(TryStrToFloat(u"45000.5"), 45000.5);
    EXPECT_FALSE(TryStrToFloat(u"45000,5"));
}

TEST(DateTime, CalendarRoundTrip)
{
    TCalendarTime t{2026, 12, 7, 8, 30, 15, 0};
    TDateTime d = EncodeDateTime(t);
    EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0);
    EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 12, 0, 0, 0}), 2.5);
    TCalendarTime back = DecodeDateTime(d);
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.month, 12);
    EXPECT_EQ(back.day, 7);
    EXPECT_EQ(back.hour, 8);
    EXPECT_EQ(back.minute, 30);
    EXPECT_EQ(back.second, 15);
}

class ExpandConstantsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProgramFilesDir = u"C:\\Program Files";
        DesktopDir = u"C:\\users\\u\\Desktop\\";
        CommonProgramsDir = u"C:\\ProgramData\\Programs\\";
        AppTitleValue = u"Demo";
        InstallDir.clear();
    }
};

TEST_F(ExpandConstantsTest, ConstantsInAnyCaseAndDoubledBackslashesFold)
{
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{PF}\\Tool"), u"C:\\Program Files\\Tool");
    ProgramFilesDir = u"C:\\Program Files\\";
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{pf}\\Tool"), u"C:\\Program Files\\Tool");
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{desktop}\\Tool.lnk"), u"C:\\users\\u\\Desktop\\Tool.lnk");
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{group}"), u"C:\\ProgramData\\Programs\\Demo\\");
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{app}"), u"");
    InstallDir = u"D:\\Apps\\Demo\\";
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{app}\\bin"), u"D:\\Apps\\Demo\\bin");
    EXPECT_EQ(TSetupfn::ExpandConstants(u"\\\\server\\share\\\\\\x"), u"\\server\\share\\\\x");
    EXPECT_EQ(TSetupfn::ExpandConstants(u"{unknown}"), u"{unknown}");
}
