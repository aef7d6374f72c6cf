#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ZoSysUtils.h"
#include "ZoXmlUtils.h"

namespace {

std::unique_ptr<TXmlDocument> Parse(const std::string& text)
{
    auto doc = std::make_unique<TXmlDocument>();
    doc->LoadFromBuffer(text.data(), text.size());
    return doc;
}

std::string ParseError(const std::string& text)
{
    try {
        Parse(text);
    } catch (const EXmlException& e) {
        return "xml:" + std::string(e.what());
    } catch (const EAssertionFailed& e) {
        return "assert:" + std::string(e.what());
    }
    return "none";
}

const std::string kMismatch = "xml:XML 标签不匹配";

}  // namespace

TEST(XmlEscaping, EightBytesReplacedEverythingElseCopied)
{
    WideString text = u"a\tb\nc\rd\"e'f&g<h>i 中";
    AnsiString encoded = XmlEncode(text);
    EXPECT_EQ(encoded, "a&#x09;b&#x0A;c&#x0D;d&quot;e&apos;f&amp;g&lt;h&gt;i \xE4\xB8\xAD");
    EXPECT_EQ(XmlDecode(encoded), text);
    EXPECT_EQ(XmlEncode(u""), "");
    EXPECT_EQ(XmlDecode(""), u"");
}

TEST(XmlEscaping, DecodesNumbersAndNamesInAnyCase)
{
    EXPECT_EQ(XmlDecode("&#x4E2D;"), u"\u4E2D");
    EXPECT_EQ(XmlDecode("&#X4e2d;&#20013;"), u"\u4E2D\u4E2D");
    EXPECT_EQ(XmlDecode("&LT;&Gt;&AMP;&QuOt;&apos;"), u"<>&\"'");
    // Above U+FFFF a surrogate pair; the edges of the planes.
    EXPECT_EQ(XmlDecode("&#x1F600;"), u"\U0001F600");
    EXPECT_EQ(XmlDecode("a&#x1002E;b&#128512;"), u"a\U0001002Eb\U0001F600");
    EXPECT_EQ(XmlDecode("&#x10FFFF;&#xFFFD;&#x9;&#xA;&#xD;&#x20;&#xE000;"), u"\U0010FFFF\uFFFD\t\n\r \uE000");
}

TEST(XmlEscaping, ReferencesToCharactersXmlDoesNotAllowAreErrors)
{
    for (const char* bad : {"&#0;", "&#x1;", "&#x1F;", "&#xD800;", "&#xDFFF;", "&#xD83D;&#xDE00;", "&#xFFFE;",
                            "&#xFFFF;", "&#x110000;", "&#-65;"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(XmlDecode(bad), EConvertError);
    }
    try {
        XmlDecode("x&#xFFFE;");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'&#xFFFE;' is not a character XML allows");
    }
}

TEST(XmlEscaping, MalformedReferencesRaiseTheirOwnErrors)
{
    EXPECT_THROW(XmlDecode("a & b"), EXmlException);
    try {
        XmlDecode("&nbsp;");
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("Assertion failure (Common/ZoXmlUtils, line ")) << e.what();
    }
    EXPECT_THROW(XmlDecode("&;"), EAssertionFailed);
    try {
        XmlDecode("&#xyz;");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'$yz' is not a valid integer value");
    }
    try {
        XmlDecode("&#12a;");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
}

TEST(XmlParser, WriterOutputParsesBackToTheSameTree)
{
    TXmlDocument doc(u"Root");
    doc.Root->Attributes.FindOrAdd(u"Text")->SetValue(u"tab\t\"q\" <&> 中文");
    doc.Root->Attributes.FindOrAdd(u"Empty")->SetValue(u"");
    TXmlNode* child = doc.Root->AddChild(u"Child");
    child->Attributes.FindOrAdd(u"N")->SetInteger(-42);
    child->AddChild(u"Leaf")->Value = "text &amp; more";
    TXmlNode* cdata = child->AddChild(u"Raw");
    cdata->Value = "<not parsed>";
    cdata->IsCData = true;
    doc.Root->AddChild(u"Second");

    AnsiString text = doc.SaveToString();
    auto back = Parse(text);
    ASSERT_TRUE(back->Root);
    EXPECT_EQ(back->Root->GetName(), u"Root");
    ASSERT_EQ(back->Root->Attributes.Count(), 2);
    EXPECT_EQ(back->Root->Attributes.FindByName(u"text")->GetValue(), u"tab\t\"q\" <&> 中文");
    EXPECT_EQ(back->Root->Attributes.Items(1)->GetValue(), u"");
    ASSERT_EQ(back->Root->Nodes.Count(), 2);
    TXmlNode* c = back->Root->FindChild(u"Child");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Parent, back->Root.get());
    EXPECT_EQ(c->Attributes.FindByName(u"N")->GetValue(), u"-42");
    EXPECT_EQ(c->FindChild(u"Leaf")->GetText(), u"text & more");
    EXPECT_TRUE(c->FindChild(u"Raw")->IsCData);
    EXPECT_EQ(c->FindChild(u"Raw")->GetText(), u"<not parsed>");
    // Containers carry the whitespace before their end tag as text.
    EXPECT_EQ(c->Value, "\r\n    ");
}

TEST(XmlParser, DoubleQuotesAnywhereAfterTheEqualsSignWin)
{
    auto doc = Parse("<a x='1' y=\"2\"/>");
    ASSERT_EQ(doc->Root->Attributes.Count(), 1);
    EXPECT_EQ(doc->Root->Attributes.Items(0)->Name, "x");
    EXPECT_EQ(doc->Root->Attributes.Items(0)->GetValue(), u"2");

    doc = Parse("<a x='1' y='two'>");
    ASSERT_EQ(doc->Root->Attributes.Count(), 2);
    EXPECT_EQ(doc->Root->Attributes.Items(1)->GetValue(), u"two");
}

TEST(XmlParser, EndTagNamesAreNotCompared)
{
    auto doc = Parse("<a><b/></c>");
    ASSERT_TRUE(doc->Root);
    EXPECT_EQ(doc->Root->Name, "a");
    EXPECT_EQ(doc->Root->Nodes.Count(), 1);
    EXPECT_EQ(ParseError("</a>"), kMismatch);
    EXPECT_EQ(ParseError("<a/></a>"), kMismatch);
}

TEST(XmlParser, StructuralFaultsRaiseTagMismatch)
{
    EXPECT_EQ(ParseError("<a><![CDATA[never closed</a>"), kMismatch);
    EXPECT_EQ(ParseError("<a><!-- never closed ></a>"), kMismatch);
    EXPECT_EQ(ParseError("<a"), kMismatch);
    EXPECT_EQ(ParseError("<a>x</a"), kMismatch);
    // A DOCTYPE is skipped like a comment and needs a "-->".
    EXPECT_EQ(ParseError("<!DOCTYPE a><a/>"), kMismatch);
    // The part parsed so far stays.
    auto doc = std::make_unique<TXmlDocument>();
    std::string text = "<a><b/><c";
    EXPECT_THROW(doc->LoadFromBuffer(text.data(), text.size()), EXmlException);
    ASSERT_TRUE(doc->Root);
    EXPECT_EQ(doc->Root->Nodes.Count(), 1);
}

TEST(XmlParser, MalformedDetailsAreAssertionFailures)
{
    for (const char* text : {"<>", "< a/>", "<a =\"1\"/>", "<a x=1/>", "<a x=\"1/>", "<a x='1/>", "<a>&nbsp;</a>"}) {
        std::string error = ParseError(text);
        if (std::string(text) == "<a>&nbsp;</a>") {
            // Text is kept escaped; the reference only fails when it is read.
            EXPECT_EQ(error, "none");
            EXPECT_THROW(Parse(text)->Root->GetText(), EAssertionFailed);
            continue;
        }
        EXPECT_TRUE(error.starts_with("assert:Assertion failure (Common/ZoXmlUtils, line ")) << text << " -> " << error;
    }
}

TEST(XmlParser, TextCommentsCDataAndDeclarations)
{
    auto doc = Parse("\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<r>first<a/>second<!-- <b/> --><c/>last</r> trailing");
    ASSERT_TRUE(doc->Root);
    ASSERT_EQ(doc->Root->Nodes.Count(), 2);
    EXPECT_EQ(doc->Root->Nodes.Items(0)->Name, "a");
    EXPECT_EQ(doc->Root->Nodes.Items(1)->Name, "c");
    EXPECT_EQ(doc->Root->Value, "last");  // the last text run wins

    doc = Parse("<r><![CDATA[a<b>&c]]></r>");
    EXPECT_TRUE(doc->Root->IsCData);
    EXPECT_EQ(doc->Root->GetText(), u"a<b>&c");
    doc = Parse("<r>x<![CDATA[]]></r>");
    EXPECT_FALSE(doc->Root->IsCData);  // empty CDATA changes nothing
    EXPECT_EQ(doc->Root->Value, "x");

    // Names end at a blank only; tabs and line breaks stay in the name.
    doc = Parse("<a\tb/>");
    EXPECT_EQ(doc->Root->Name, "a\tb");
    doc = Parse("<a\r\n  x=\"1\"/>");
    EXPECT_EQ(doc->Root->Name, "a");
    EXPECT_EQ(doc->Root->Attributes.Count(), 1);
}

TEST(XmlParser, InputWithoutElementsHasNoRootAndALaterRootReplacesTheFirst)
{
    EXPECT_FALSE(Parse("")->Root);
    EXPECT_FALSE(Parse("just text")->Root);
    EXPECT_FALSE(Parse("<?xml version=\"1.0\"?><!-- c -->")->Root);
    auto doc = Parse("<a><x/></a><b/>");
    ASSERT_TRUE(doc->Root);
    EXPECT_EQ(doc->Root->Name, "b");
    EXPECT_EQ(doc->Root->Nodes.Count(), 0);
}

TEST(XmlWriter, IndentedLinesWithDeclaration)
{
    TXmlDocument doc(u"TSetupScript");
    TXmlNode* info = doc.Root->AddChild(u"BaseInfo");
    info->Attributes.FindOrAdd(u"AppTitle")->SetValue(u"A&B");
    info->Attributes.FindOrAdd(u"Version")->SetValue(u"1.0");
    EXPECT_EQ(doc.SaveToString(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
              "<TSetupScript>\r\n"
              "    <BaseInfo AppTitle=\"A&amp;B\" Version=\"1.0\"/>\r\n"
              "</TSetupScript>\r\n");

    info->Value = "text";
    info->AddChild(u"Leaf");
    doc.Root->AddChild(u"Raw")->IsCData = true;
    EXPECT_EQ(doc.SaveToString(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
              "<TSetupScript>\r\n"
              "    <BaseInfo AppTitle=\"A&amp;B\" Version=\"1.0\">text\r\n"
              "        <Leaf/>\r\n"
              "    </BaseInfo>\r\n"
              "    <Raw><![CDATA[]]></Raw>\r\n"
              "</TSetupScript>\r\n");

    doc.Indented = false;
    doc.WithDeclaration = false;
    EXPECT_EQ(doc.SaveToString(),
              "<TSetupScript><BaseInfo AppTitle=\"A&amp;B\" Version=\"1.0\">text<Leaf/></BaseInfo>"
              "<Raw><![CDATA[]]></Raw></TSetupScript>\r\n");
}

TEST(XmlTree, LookupsAndLists)
{
    TXmlNode node;
    node.SetName(u"n");
    TXmlAttribute* a = node.Attributes.FindOrAdd(u"Key");
    a->SetValue(u"1");
    EXPECT_EQ(node.Attributes.FindOrAdd(u"KEY"), a);  // names compare without case
    node.Attributes.Add(u"key")->SetValue(u"2");      // duplicates are allowed
    EXPECT_EQ(node.Attributes.Count(), 2);
    EXPECT_EQ(node.Attributes.FindByName(u"key")->GetValue(), u"1");
    EXPECT_EQ(node.Attributes.IndexOfName(u"missing"), -1);
    EXPECT_EQ(node.TagText(), "n Key=\"1\" key=\"2\"");
    EXPECT_THROW(node.Attributes.Items(2), EListError);

    TXmlNode* c = node.ChildByName(u"C");
    EXPECT_EQ(node.ChildByName(u"c"), c);
    EXPECT_EQ(node.AddChild(u"C") == c, false);
    EXPECT_EQ(node.Nodes.Count(), 2);
    EXPECT_EQ(node.FindChild(u"x"), nullptr);
    node.Nodes.Clear();
    EXPECT_EQ(node.Nodes.Count(), 0);

    // Names with special characters are kept escaped and found by their decoded form.
    TXmlNode* odd = node.AddChild(u"a<b");
    EXPECT_EQ(odd->Name, "a&lt;b");
    EXPECT_EQ(node.FindChild(u"A<B"), odd);
    EXPECT_EQ(odd->GetName(), u"a<b");
}

TEST(XmlDocument, LoadsStreamsFromTheirPosition)
{
    std::string text = "junk<a v=\"1\"/>";
    TMemoryStream memory(TBytes(text.begin(), text.end()));
    memory.SetPosition(4);
    TXmlDocument doc;
    doc.LoadFromStream(memory);
    ASSERT_TRUE(doc.Root);
    EXPECT_EQ(doc.Root->Attributes.Items(0)->GetValue(), u"1");

    TTempFolder dir;
    WriteFileBytes(dir.Path() / "x.xml", "<b/>");
    TFileStream file(dir.Wide("x.xml"), TFileStream::fmOpenRead);
    doc.LoadFromStream(file);
    ASSERT_TRUE(doc.Root);
    EXPECT_EQ(doc.Root->Name, "b");

    TMemoryStream out;
    out.WriteString("pre");
    doc.SaveToStream(out);
    EXPECT_EQ(out.ToString(), "pre<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<b/>\r\n");
}
