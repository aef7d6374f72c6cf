#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "Elevation.h"
#include "SetupFn.h"
#include "TestSupport.h"
#include "ZoFnRef.h"
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

TEST(Strings, ConcatJoinsEveryPartInOrder)
{
    const WideString folder = u"C:\\产品\\";
    EXPECT_EQ(Concat({folder, u"", IntToStr(42), u".log"}), u"C:\\产品\\42.log");
    EXPECT_EQ(Concat({}), u"");
}

TEST(Sorting, PlacesFollowTheCallersOrderAndTiesKeepTheirOwn)
{
    const std::vector<std::string> words{"bb", "a", "ccc", "dd", "e"};
    std::vector<uint32_t> places{0, 1, 2, 3, 4};
    // Longest first; equal lengths by place, so the order is total.
    SortPlaces(places, [](const void* context, uint32_t a, uint32_t b) {
        const auto& w = *static_cast<const std::vector<std::string>*>(context);
        return w[a].size() != w[b].size() ? w[a].size() > w[b].size() : a < b;
    }, &words);
    EXPECT_EQ(places, (std::vector<uint32_t>{2, 0, 3, 1, 4}));
}

TEST(FnRef, CallsTheCallableItNamesAndIsEmptyOtherwise)
{
    EXPECT_FALSE(TFnRef<void()>());
    EXPECT_FALSE(TFnRef<void()>(nullptr));
    int calls = 0;
    auto add = [&calls](int n) { calls += n; return calls; };
    TFnRef<int(int)> ref = add;
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref(2), 2);
    EXPECT_EQ(ref(3), 5) << "the callable itself is called, not a copy of it";
    EXPECT_EQ(calls, 5);
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

// The float text is our own code, not printf's and strtod's: it must give what the
// C library gives (here glibc, under Wine MinGW's, which the programs used before).
TEST(Strings, FloatTextIsTheCLibrarysExactly)
{
    auto printed = [](double v) {  // the "%.15G" text as FloatToStrG15 shapes it
        char buf[64];
        if (std::fabs(v) >= 1e-5 && std::fabs(v) < 1e-4) {
            std::snprintf(buf, sizeof buf, "%.19f", v);
            std::string s = buf;
            s.resize(std::min(s.size(), s.find_first_of("123456789") + 15));
            while (s.back() == '0') s.pop_back();
            return s;
        }
        std::snprintf(buf, sizeof buf, "%.15G", v);
        std::string s = buf;
        size_t e = s.find('E');
        if (e == std::string::npos) return s;
        std::string exp = s.substr(e + 1);
        bool neg = exp[0] == '-';
        exp.erase(0, 1);
        while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
        return s.substr(0, e) + "E" + (neg ? "-" : "") + exp;
    };
    std::vector<double> values = {0.5, 1e-5, 9.99999999999999e-5, 9.999999999999999e-5, 1e-4, 0.1, 1e15, 1e16,
                                  123456789012345.0, 1234567890123455.0, 1234567890123445.0, 0.30000000000000004,
                                  DBL_MAX, DBL_MIN, DBL_TRUE_MIN, 45000.999999999996, -2.5e-300, 46000.5};
    std::mt19937_64 rng(21);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v)) values.push_back(v);
        values.push_back(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 120) - 90));
    }
    for (double v : values) {
        ASSERT_EQ(ToUtf8(FloatToStrG15(v)), printed(v)) << v;
        for (const char* format : {"%.17g", "%.15G", "%.25e", "%.40f"}) {
            char text[400];
            std::snprintf(text, sizeof text, format, v);
            double c = std::strtod(text, nullptr);
            if (!std::isfinite(c) || (std::fabs(c) < DBL_MIN && c != 0)) {  // out of range
                EXPECT_FALSE(TryStrToFloat(FromUtf8(text))) << text;
                continue;
            }
            auto ours = TryStrToFloat(FromUtf8(text));
            ASSERT_TRUE(ours) << text;
            ASSERT_EQ(std::memcmp(&*ours, &c, sizeof c), 0) << text;
        }
    }
    for (const char* text : {"1.", ".5", "-.5e+3", "+0", "-0", "00012.5000e-2", "1e", "e5", ".", "1.2.3", "1e+", "--1"}) {
        char* end = nullptr;
        double c = std::strtod(text, &end);
        auto ours = TryStrToFloat(FromUtf8(text));
        ASSERT_EQ(ours.has_value(), end != text && *end == 0) << text;
        if (ours) {
            EXPECT_EQ(std::memcmp(&*ours, &c, sizeof c), 0) << text;
        }
    }
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
