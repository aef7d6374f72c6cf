#include <gtest/gtest.h>

#include <random>
#include <string>

#include "SetupProject.h"
#include "ZoSysUtils.h"
#include "ZoXmlUtils.h"

namespace {

struct TFault {
    std::string message;
    int line = 0, column = 0;
};

// The strict reading's error for the text, with its place; an empty message when it passes.
TFault StrictFault(const std::string& text)
{
    TXmlDocument doc;
    try {
        doc.LoadStrict(text.data(), text.size());
        return {};
    } catch (const EXmlException& e) {
        TXmlPosition at = XmlPositionAt(text, e.Offset());
        return {e.what(), at.Line, at.Column};
    }
}

TEST(XmlStrict, PlacesCountLinesAndCharactersFromOne)
{
    const std::string text = "ab\n中文x\r\nz";
    EXPECT_EQ(XmlPositionAt(text, 0).Line, 1);
    EXPECT_EQ(XmlPositionAt(text, 0).Column, 1);
    TXmlPosition x = XmlPositionAt(text, text.find('x'));
    EXPECT_EQ(x.Line, 2);
    EXPECT_EQ(x.Column, 3) << "a character of three bytes is one column";
    EXPECT_EQ(XmlPositionAt(text, text.find('z')).Line, 3);
    EXPECT_EQ(XmlPositionAt(text, 1000).Line, 3) << "past the end: the end";
}

// Each fault the lenient parser lets pass, or reports without a place, with
// the place a user would look at.
TEST(XmlStrict, EachFaultIsOneSentenceAtItsPlace)
{
    struct Case {
        const char* text;
        int line, column;
        const char* says;
    };
    const Case cases[] = {
        {"<a>\n  <b></c>\n</a>", 2, 6, "the end tag </c> does not match <b> of line 2, column 3"},
        {"<a>\n  <b/>\n", 3, 1, "the file ends inside <a> of line 1, column 1: its end tag is missing"},
        {"<a>\n<b x=\"1/>\n</a>", 2, 6, "the value of the attribute x runs into a '<'"},
        {"<a x=\"1\"y=\"2\"/>", 1, 9, "is followed by 'y' without a space: a quote may be missing"},
        {"<a x=\"1\" x=\"2\"/>", 1, 10, "the attribute x appears twice in <a>"},
        {"<a x=1/>", 1, 6, "the value of the attribute x must be in quotes"},
        {"<a x/>", 1, 4, "the attribute x has no value"},
        {"<a>R&D</a>", 1, 5, "an '&' that starts no reference"},
        {"<a>&nbsp;</a>", 1, 4, "unknown entity &nbsp;"},
        {"<a>&LT;</a>", 1, 4, "unknown entity &LT;"},
        {"<a>&#xD800;</a>", 1, 4, "names no character XML allows"},
        {"<a>1 < 2</a>", 1, 6, "a '<' that starts no tag"},
        {"<a/>\n<b/>", 2, 1, "a second top-level element"},
        {"<a/>\ntrailing", 2, 1, "text after the end of the root element"},
        {"PK\x03\x04 zip", 1, 1, "not an XML document"},
        {"\n  not xml at all", 2, 3, "not an XML document"},
        {"", 1, 1, "the file is empty"},
        {"  \n  ", 2, 3, "no element at all"},
        {"<a>\x01</a>", 1, 4, "the control character U+0001"},
        {"<a>\xC3\x28</a>", 1, 4, "not UTF-8 text here (byte 0xC3)"},
        {"\xFF\xFE<\0a\0", 1, 1, "UTF-16"},
        {"<a><!-- open </a>", 1, 4, "the comment is not closed"},
        {"<a><![CDATA[x</a>", 1, 4, "the CDATA section is not closed"},
        {"<a>\n<?xml version=\"1.0\"?></a>", 2, 1, "may only stand at the very beginning"},
        {"<!DOCTYPE a><a/>", 1, 1, "a DOCTYPE is not supported"},
        {"<a><b x=\"1\"</a>", 1, 4, "the tag <b> is not closed with '>'"},
        {"<a>]]></a>", 1, 4, "']]>' may not stand in text"},
    };
    for (const Case& c : cases) {
        std::string text(c.text, std::char_traits<char>::length(c.text) + (c.text[0] == '\xFF' ? 4 : 0));
        TFault f = StrictFault(text);
        EXPECT_NE(f.message.find(c.says), std::string::npos) << c.text << " -> " << f.message;
        EXPECT_EQ(f.line, c.line) << c.text << " -> " << f.message;
        EXPECT_EQ(f.column, c.column) << c.text << " -> " << f.message;
        EXPECT_EQ(f.message.find('\n'), std::string::npos) << "one line: " << f.message;
    }
}

TEST(XmlStrict, WellFormedDocumentsGiveTheLenientTree)
{
    const std::string accepted[] = {
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!-- c --><a x='1' y=\"it's\"><b/>t&amp;&#x4E2D;&#128512;</a><?pi x?>\n",
        "<a\n\tx=\"1\"\n\ty = \"2\" ><![CDATA[<raw>]]></a >",
        "<TSetupScript><BaseInfo AppTitle=\"A&lt;B\"/></TSetupScript>",
    };
    for (const std::string& text : accepted) EXPECT_EQ(StrictFault(text).message, "") << text;

    // What this system writes reads the same both ways, places and all.
    TSetupScript script;
    script.BaseInfo->AppTitle = u"Zo \"演示\" & <co>";
    script.FileList->Add()->SourceMask = u"a\tb";
    TMemoryStream s;
    script.SaveToStream(s);
    const std::string written = s.ToString();
    TXmlDocument strict, lenient;
    strict.LoadStrict(written.data(), written.size());
    lenient.LoadFromBuffer(written.data(), written.size());
    EXPECT_EQ(strict.SaveToString(), lenient.SaveToString());
    const TXmlNode* base = strict.Root->FindChild(u"BaseInfo");
    ASSERT_NE(base, nullptr);
    const TXmlAttribute* title = base->Attributes.FindByName(u"AppTitle");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->GetValue(), u"Zo \"演示\" & <co>");
    size_t offset = strict.OffsetOf(title->Name);
    EXPECT_EQ(written.compare(offset, 9, "AppTitle="), 0) << "a name's place is where it lies in the input";
    EXPECT_EQ(XmlPositionAt(strict.Input(), offset).Line, 3);
    TXmlText made;
    made = "x";
    EXPECT_EQ(strict.OffsetOf(made), EXmlException::npos);
}

// Damaged projects: a tree, or an XML error inside the text, never anything else.
TEST(XmlStrict, DamagedDocumentsGiveATreeOrAnErrorInsideTheText)
{
    TSetupScript script;
    script.BaseInfo->AppTitle = u"Zo &lt; \"演示\"";
    for (int i = 0; i < 3; ++i) script.FileList->Add()->SourceMask = u"a<b>&c";
    TMemoryStream s;
    script.SaveToStream(s);
    const std::string written = s.ToString();
    std::mt19937 rng(7);
    const char bytes[] = "<>/=\"'&;![]?- \n\xC3\x80x";
    for (int round = 0; round < 3000; ++round) {
        std::string text = written;
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
            size_t at = rng() % text.size();
            switch (rng() % 3) {
            case 0: text[at] = bytes[rng() % (sizeof bytes - 1)]; break;
            case 1: text.erase(at, 1 + rng() % 8); break;
            default: text.resize(at); break;
            }
            if (text.empty()) break;
        }
        TXmlDocument doc;
        try {
            doc.LoadStrict(text.data(), text.size());
            ASSERT_NE(doc.Root, nullptr);
        } catch (const EXmlException& e) {
            ASSERT_LE(e.Offset(), text.size()) << text;
        }
    }
}

TEST(XmlStrict, LenientParserTellsWhereItsStructuralErrorLies)
{
    const std::string text = "<a>\n</a>\n</b>";
    TXmlDocument doc;
    try {
        doc.LoadFromBuffer(text.data(), text.size());
        FAIL() << "an end tag at the top level is an error";
    } catch (const EXmlException& e) {
        EXPECT_STREQ(e.what(), "XML 标签不匹配") << "the message stays";
        EXPECT_EQ(XmlPositionAt(text, e.Offset()).Line, 3);
    }
}

TEST(XmlStrict, ValuesAreCheckedAgainstTheirPropertyTypes)
{
    const TClassInfo& file = TSetupFile::StaticClassInfo();
    const TClassInfo& reg = TSetupReg::StaticClassInfo();
    auto problem = [](const TClassInfo& c, const char* prop, const char* text) {
        return XmlValueProblem(*c.FindProperty(prop), text).value_or("");
    };
    EXPECT_EQ(problem(file, "IncludeSubPath", "True"), "");
    EXPECT_EQ(problem(file, "IncludeSubPath", "true"), "") << "the loader reads any letter case";
    EXPECT_EQ(problem(file, "IncludeSubPath", "yes"), "is not a Boolean: write True or False");
    EXPECT_NE(problem(file, "IncludeSubPath", ""), "");
    EXPECT_EQ(problem(reg, "RootKey", "rrkUsers"), "");
    EXPECT_NE(problem(reg, "RootKey", "HKCU").find("write one of rrkClassesRoot, rrkCurrentUser"), std::string::npos);
    EXPECT_EQ(problem(file, "FileBytes", "-12"), "");
    EXPECT_NE(problem(file, "FileBytes", "12k"), "");
    EXPECT_NE(problem(file, "FileBytes", "4294967296"), "");
    EXPECT_EQ(problem(file, "LastWriteDate", "45123.25"), "");
    EXPECT_NE(problem(file, "LastWriteDate", "1e400"), "");
    EXPECT_NE(problem(file, "LastWriteDate", "nan"), "");
    EXPECT_EQ(problem(file, "SourceMask", "anything &amp; all"), "");
}

}  // namespace
