// Names compared without letter case fold all of Unicode's simple case
// mappings, the same here as on Windows; numbers and dates no double or
// calendar can hold are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "SetupProject.h"
#include "ZoSysUtils.h"

TEST(CaseFolding, LettersBeyondAsciiMatchTheirOtherCase)
{
    struct Pair {
        const char16_t* a;
        const char16_t* b;
    } same[] = {
        {u"Ä", u"ä"},     {u"GRÖßE", u"größe"}, {u"ẞ", u"ß"},          {u"ΑΒΓΣ", u"αβγσ"},
        {u"Σ", u"ς"},     {u"ПРИВЕТ", u"привет"}, {u"Ё", u"ё"},        {u"Ǆ", u"ǆ"},
        {u"Ω", u"ω"},     {u"Å", u"å"},           {u"µ", u"μ"},        {u"\U00010400", u"\U00010428"},  // Deseret, two units each
        {u"ＡＢＣ", u"ａｂｃ"},
    };
    for (const Pair& p : same) EXPECT_TRUE(TextEquals(p.a, p.b)) << ToUtf8(p.a) << " " << ToUtf8(p.b);

    // Simple folding maps one character to one: "ß" is not "SS", and letters
    // that only look alike stay apart.
    for (const Pair& p : {Pair{u"ß", u"SS"}, Pair{u"A", u"А"}, Pair{u"i", u"ı"}, Pair{u"ä", u"a"}, Pair{u"Ab", u"A"}})
        EXPECT_FALSE(TextEquals(p.a, p.b)) << ToUtf8(p.a) << " " << ToUtf8(p.b);
    EXPECT_EQ(FoldCase(u"Zo 演示 ÄÖÜ"), u"zo 演示 äöü");
    EXPECT_EQ(FoldCase(u"\xD801"), u"\xD801") << "a lone surrogate stays";
}

TEST(CaseFolding, ReplaceAndVariablesFindNamesInAnyCase)
{
    EXPECT_EQ(ReplaceText(u"Größe: {GRÖßE}, {größe}", u"{Größe}", u"12", rfReplaceAll | rfIgnoreCase),
              u"Größe: 12, 12");
    EXPECT_EQ(ReplaceText(u"ΣΟΦΙΑ σοφια", u"σοφια", u"x", rfIgnoreCase), u"x σοφια") << "the first only";
    EXPECT_EQ(ReplaceText(u"ΣΟΦΙΑ", u"σοφια", u"x", 0), u"ΣΟΦΙΑ") << "with letter case";

    TSetupVarList vars;
    TSetupVar* v = vars.GetOrAddVar(u"{Größe}");
    v->VarValue = u"12";
    EXPECT_EQ(vars.FindVar(u"{GRÖẞE}"), v);
    EXPECT_EQ(vars.Expand(u"{GRÖßE} {ПУТЬ}"), u"12 {ПУТЬ}");
    vars.GetOrAddVar(u"{путь}")->VarValue = u"C:\\";
    EXPECT_EQ(vars.Expand(u"{ПУТЬ}"), u"C:\\");
}

TEST(Numbers, NonFiniteAndOutOfRangeFloatsAreNoNumbers)
{
    for (const char16_t* text : {u"1e400", u"-1e400", u"1e-400", u"inf", u"-inf", u"nan", u"NaN", u"INF"})
        EXPECT_FALSE(TryStrToFloat(text)) << ToUtf8(text);
    EXPECT_EQ(TryStrToFloat(u"1e300"), 1e300);
    EXPECT_EQ(TryStrToFloat(u"-0.5"), -0.5);

    // A script property keeps its value, whichever loader reads it.
    for (const char* value : {"1e400", "-inf", "nan", "-1e400", "inf"}) {
        for (bool tree : {false, true}) {
            TSetupScript s;
            TSetupFile* f = s.FileList->Add();
            f->LastWriteDate = 46000.25;
            TMemoryStream out;
            s.SaveToStream(out);
            std::string xml = out.ToString();
            size_t at = xml.find("LastWriteDate=\"");
            ASSERT_NE(at, std::string::npos);
            at += 15;
            xml.replace(at, xml.find('"', at) - at, value);
            if (tree) xml.replace(xml.find("LastWriteDate"), 13, "lastwritedate");  // not the written form
            TSetupScript loaded;
            TMemoryStream in(TBytes(xml.begin(), xml.end()));
            loaded.LoadFromStream(in);
            ASSERT_EQ(loaded.FileList->Count(), 1);
            EXPECT_EQ(loaded.FileList->Items(0)->LastWriteDate, 0) << value << (tree ? " (tree)" : "");
        }
    }
}

TEST(DateTime, DatesNoCalendarHoldsAreRefused)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {inf, -inf, std::nan(""), 1e300, -1e300, 2958466.0, -693594.0})
        EXPECT_FALSE(TryDecodeDateTime(v)) << v;
    EXPECT_THROW(DecodeDateTime(inf), EConvertError);

    std::optional<TCalendarTime> first = TryDecodeDateTime(-693593.0), last = TryDecodeDateTime(2958465.999);
    ASSERT_TRUE(first && last);
    EXPECT_EQ(first->year * 10000 + first->month * 100 + first->day, 10101);
    EXPECT_EQ(last->year * 10000 + last->month * 100 + last->day, 99991231);
}
