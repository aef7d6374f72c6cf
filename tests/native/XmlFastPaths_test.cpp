// The loader's quick routes (start tags in the written form, plain texts,
// plain decimals, attributes in property order) against the general rules
// they stand in for.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <random>

#include "TestSupport.h"
#include "ZoSysUtils.h"
#include "ZoXmlUtils.h"

namespace {

class TTextHolder : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TTextHolder)
public:
    WideString Text = u"unset";
    double When = -1;
    bool Flag = false;
    int32_t Count = -1;
};

// Two properties whose names differ only in case.
class TTwins : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TTwins)
public:
    int32_t Value = 0;
    int32_t value = 0;
    WideString Other;
};

}  // namespace

ZO_PUBLISHED(TTextHolder, TXmlPersistent, ZO_PROP(TTextHolder, Text), ZO_PROP(TTextHolder, When),
             ZO_PROP(TTextHolder, Flag), ZO_PROP(TTextHolder, Count))
ZO_PUBLISHED(TTwins, TXmlPersistent, ZO_PROP(TTwins, Value), ZO_PROP(TTwins, value), ZO_PROP(TTwins, Other))

namespace {

void Load(TXmlPersistent& obj, const std::string& xml)
{
    TMemoryStream s(TBytes(xml.begin(), xml.end()));
    obj.LoadFromStream(s);
}

// What parsing gave: the root's name and attributes, or the kind of error.
struct TTagResult {
    std::string error;  // "", "xml" or "assert"
    std::string rootName;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool operator==(const TTagResult&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TTagResult& r)
{
    out << "error=" << r.error << " root=" << r.rootName;
    for (const auto& [n, v] : r.attributes) out << " [" << n << "]=[" << v << "]";
    return out;
}

TTagResult ParseResult(const std::string& text)
{
    TTagResult r;
    TXmlDocument doc;
    try {
        doc.LoadFromBuffer(text.data(), text.size());
    } catch (const EXmlException&) {
        r.error = "xml";
        return r;
    } catch (const EAssertionFailed&) {
        r.error = "assert";
        return r;
    }
    if (!doc.Root) return r;
    r.rootName = std::string(doc.Root->Name);
    for (const TXmlAttribute& a : doc.Root->Attributes.All()) r.attributes.emplace_back(a.Name, a.Value);
    return r;
}

// The general rules for "<" + tag + ">" followed by "<c/>": the name up to the
// first blank, trimmed; the attributes by ParseText; a tag ending in '/'
// closes itself, so "c" then becomes the root.
TTagResult GeneralResult(const std::string& tag)
{
    TTagResult r;
    std::string text = tag;
    bool selfClosing = !text.empty() && text.back() == '/';
    if (selfClosing) text.pop_back();
    size_t space = text.find(' ');
    std::string name = text.substr(0, space);
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!name.empty() && blank(name.front())) name.erase(name.begin());
    while (!name.empty() && blank(name.back())) name.pop_back();
    if (name.empty()) {
        r.error = "assert";
        return r;
    }
    TXmlAttributeList list;
    if (space != std::string::npos) {
        try {
            list.ParseText(text.data() + space, text.data() + text.size());
        } catch (const EAssertionFailed&) {
            r.error = "assert";
            return r;
        }
    }
    if (selfClosing) {
        r.rootName = "c";
        return r;
    }
    r.rootName = name;
    for (const TXmlAttribute& a : list.All()) r.attributes.emplace_back(a.Name, a.Value);
    return r;
}

// The reference conversion of a text with references: every stretch between
// references through the plain UTF-8 conversion, every reference by its table.
WideString ReferenceDecode(const std::string& text)
{
    WideString out;
    size_t p = 0;
    while (p < text.size()) {
        size_t amp = text.find('&', p);
        out += FromUtf8(text.substr(p, amp == std::string::npos ? std::string::npos : amp - p));
        if (amp == std::string::npos) break;
        size_t semi = text.find(';', amp);
        std::string entity = text.substr(amp + 1, semi - amp - 1);
        if (entity == "amp") out += u'&';
        else if (entity == "lt") out += u'<';
        else if (entity == "quot") out += u'"';
        else if (entity == "#x4E2D") out += u'中';
        else if (entity == "#65") out += u'A';
        else ADD_FAILURE() << entity;
        p = semi + 1;
    }
    return out;
}

}  // namespace

TEST(XmlFastPaths, StartTagsReadAsTheGeneralRulesSay)
{
    // Tags in the written form, then damaged by a few random edits near the
    // edges of that form: blanks other than spaces, quotes, '=', '/', '<', '&',
    // NUL, bytes above 0x7F.
    const std::string alphabet = std::string("ab= \t\n\"'/<&x\xC3\xA9", 15) + std::string(1, '\0');
    std::mt19937 rng(20240611);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int round = 0; round < 20000; ++round) {
        std::string tag = "e";
        int attrs = static_cast<int>(pick(4));
        for (int i = 0; i < attrs; ++i) {
            tag += " k" + std::to_string(i) + "=\"";
            for (size_t n = pick(20); n > 0; --n) tag += "v/ &'x<\t"[pick(8)];
            tag += "\"";
        }
        if (pick(2)) tag += "/";
        for (size_t edits = pick(4); edits > 0; --edits) {
            size_t at = pick(tag.size() + 1);
            char c = alphabet[pick(alphabet.size())];
            switch (pick(3)) {
            case 0: tag.insert(tag.begin() + static_cast<std::ptrdiff_t>(at), c); break;
            case 1: if (at < tag.size()) tag.erase(at, 1); break;
            default: if (at < tag.size()) tag[at] = c; break;
            }
        }
        // Forms the parser reads as other constructs are not start tags.
        if (tag.empty() || std::strchr("!/?", tag[0]) != nullptr || tag.find('>') != std::string::npos) continue;
        TTagResult expected = GeneralResult(tag);
        ASSERT_EQ(ParseResult("<" + tag + "><c/>"), expected) << "tag: [" << tag << "]";
    }
}

TEST(XmlFastPaths, StartTagsAtTheEdgesOfTheWrittenForm)
{
    struct TCase {
        const char* text;
        TTagResult expected;
    };
    const TCase cases[] = {
        {"<a x=\"1\"y=\"2\"/>", {"", "a", {{"x", "1"}, {"y", "2"}}}},    // no blank between pairs
        {"<a  x=\"\"   >", {"", "a", {{"x", ""}}}},                     // runs of blanks, empty value
        {"<a x=\"1>\"/>", {"assert", "", {}}},                           // the tag ends at the first '>'
        {"<a x = \"1\"/>", {"", "a", {{"x", "1"}}}},                      // blanks around '='
        {"<a x y=\"1\"/>", {"", "a", {{"x y", "1"}}}},                    // a name with a blank inside
        {"<a x=\"1\" junk>", {"", "a", {{"x", "1"}}}},                    // trailing text without '='
        {"<a/b x=\"1\">", {"", "a/b", {{"x", "1"}}}},                     // '/' inside a name
        {"<a\tx=\"1\">", {"", "a\tx=\"1\"", {}}},                         // only a space ends the name
        {"<a x='1' y=\"2\">", {"", "a", {{"x", "2"}}}},
        {"<a x=\"1\" =\"2\">", {"assert", "", {}}},
        {"<a x=\"1", {"xml", "", {}}},                                    // no '>' at all
        {"<a x=\"\xE4\xB8\xAD&amp;\"/>", {"", "a", {{"x", "\xE4\xB8\xAD&amp;"}}}},
    };
    for (const TCase& c : cases) EXPECT_EQ(ParseResult(c.text), c.expected) << c.text;

    // More pairs than the quick route takes.
    std::string many = "<a";
    for (int i = 0; i < 100; ++i) many += " k" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    TTagResult r = ParseResult(many + "/>");
    ASSERT_EQ(r.attributes.size(), 100u);
    EXPECT_EQ(r.attributes[99], std::make_pair(std::string("k99"), std::string("99")));
}

TEST(XmlFastPaths, TextsConvertAsTheGeneralConversion)
{
    // Pieces that meet at every offset of the block-wise conversion: ASCII,
    // two-, three- and four-byte characters, malformed bytes, NUL, references.
    const std::vector<std::string> pieces = {
        "a", "Z", "0", " ", "\\", "{", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\x80", "\xE4\xB8", "\xFF",
        std::string(1, '\0'), "&amp;", "&lt;", "&quot;", "&#x4E2D;", "&#65;"};
    std::mt19937 rng(7);
    std::vector<std::string> texts;
    for (size_t n = 0; n <= 300; ++n) {
        const std::string plain = "abcXYZ019 {}\\/.:-_~'=";
        std::string ascii;
        for (size_t i = 0; i < n; ++i) ascii += plain[(i * 7 + n) % plain.size()];
        texts.push_back(ascii);
        if (n < 40)
            for (size_t at = 0; at <= n; ++at)
                for (const char* odd : {"\xE4\xB8\xAD", "\x80", "&amp;"})
                    texts.push_back(ascii.substr(0, at) + odd + ascii.substr(at));
    }
    for (int i = 0; i < 3000; ++i) {
        std::string t;
        for (size_t k = rng() % 30; k > 0; --k) t += pieces[rng() % pieces.size()];
        texts.push_back(t);
    }
    for (const std::string& text : texts) {
        std::string quoted;
        for (char c : text) quoted += c == '"' ? std::string("&quot;") : std::string(1, c);
        TTextHolder h;
        Load(h, "<X Text=\"" + quoted + "\"/>");
        WideString expected = ReferenceDecode(quoted);
        ASSERT_EQ(h.Text, expected) << "text: [" << text << "]";

        TXmlAttribute a;
        a.Value = quoted;
        ASSERT_EQ(a.GetValue(), expected);
        // CDATA is UTF-8 without references.
        TXmlNode node;
        node.Value = text;
        node.IsCData = true;
        ASSERT_EQ(node.GetText(), FromUtf8(text));
    }
}

TEST(XmlFastPaths, DecimalsReadExactlyAsTheFullConversion)
{
    std::mt19937_64 rng(99);
    std::vector<std::string> texts = {"0", "-0", "0.0", "-0.000", "1.", ".5", "-.5", "007.250", "1e5", "1E-3",
                                      "9007199254740992", "9007199254740993", "0.9007199254740993",
                                      "1234567890123456789", "12345678901234567890", "0.0000000000000000001",
                                      "45123.4567890123", "-45123.4567890123", "1..2", "1.2.3", "--1", "+1",
                                      "1,5", "", "-", "."};
    for (int i = 0; i < 20000; ++i) {
        std::string t = rng() % 4 == 0 ? "-" : "";
        size_t whole = 1 + rng() % 12;
        for (size_t k = 0; k < whole; ++k) t += static_cast<char>('0' + rng() % 10);
        if (rng() % 4 != 0) {
            t += '.';
            for (size_t k = 1 + rng() % 10; k > 0; --k) t += static_cast<char>('0' + rng() % 10);
        }
        texts.push_back(t);
    }
    for (const std::string& text : texts) {
        TTextHolder h;
        Load(h, "<X When=\"" + text + "\"/>");
        double expected = -1;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), expected);
        if (text.empty() || text[0] == '+' || ec != std::errc() || end != text.data() + text.size()) continue;
        ASSERT_EQ(std::memcmp(&h.When, &expected, sizeof expected), 0) << text << ": " << h.When << " vs " << expected;
    }
    TTextHolder h;
    Load(h, "<X When=\"1,5\"/>");  // not a number in the C locale: unchanged
    EXPECT_EQ(h.When, -1);
}

TEST(XmlFastPaths, AttributesMatchTheFirstOfTheirNameInAnyOrder)
{
    // Two properties of one name (in another case) both take the first attribute.
    TTwins t;
    Load(t, "<X Value=\"1\" value=\"2\" Other=\"o\"/>");
    EXPECT_EQ(t.Value, 1);
    EXPECT_EQ(t.value, 1);
    EXPECT_EQ(t.Other, u"o");

    // Out of order, other cases, repeated and missing names.
    TTextHolder h;
    Load(h, "<X count=\"3\" FLAG=\"true\" Text=\"a\" text=\"b\" Count=\"4\"/>");
    EXPECT_EQ(h.Text, u"a");
    EXPECT_EQ(h.Count, 3);
    EXPECT_TRUE(h.Flag);
    EXPECT_EQ(h.When, -1);
    Load(h, "<X Text=\"c\" When=\"2\" Flag=\"\" Count=\"x\"/>");
    EXPECT_EQ(h.Text, u"c");
    EXPECT_EQ(h.When, 2);
    EXPECT_TRUE(h.Flag);     // empty: unchanged
    EXPECT_EQ(h.Count, 3);   // not a number: unchanged
}

TEST(XmlFastPaths, FailedParseLeavesObjectAndStreamAlone)
{
    TTextHolder h;
    std::string xml = "junk<X Text=\"new\"/><y";
    TMemoryStream s(TBytes(xml.begin(), xml.end()));
    s.SetPosition(4);
    EXPECT_THROW(h.LoadFromStream(s), EXmlException);
    EXPECT_EQ(h.Text, u"unset");
    EXPECT_EQ(s.Position(), 4);

    // A value that does not decode fails during the walk, after the parse.
    xml = "<X Text=\"a&b\"/>";
    TMemoryStream bad(TBytes(xml.begin(), xml.end()));
    EXPECT_THROW(h.LoadFromStream(bad), EXmlException);
    EXPECT_EQ(bad.Position(), bad.Size());

    xml = "<X Text=\"new\"/>";
    TMemoryStream good(TBytes(xml.begin(), xml.end()));
    h.LoadFromStream(good);
    EXPECT_EQ(h.Text, u"new");
    EXPECT_EQ(good.Position(), good.Size());
}

TEST(XmlTexts, CopiesOwnTheirBytesAndParsedTreesOutliveTheirInput)
{
    TXmlText t;
    t = "abc";
    EXPECT_TRUE(t.Owned());
    TXmlText copy = t;
    t = t.view().substr(1);  // a part of itself
    EXPECT_EQ(t, "bc");
    EXPECT_EQ(copy, "abc");
    std::string bytes = "xyz";
    TXmlText view(bytes, TXmlViewOf{});
    EXPECT_FALSE(view.Owned());
    TXmlText viewCopy = view;
    bytes[0] = 'Q';
    EXPECT_EQ(view, "Qyz");
    EXPECT_EQ(viewCopy, "xyz");  // a copy owns its bytes
    view.clear();
    EXPECT_TRUE(view.empty());

    TXmlDocument doc;
    {
        std::string text = "<r a=\"1\"><c>t</c></r>";
        doc.LoadFromBuffer(text.data(), text.size());
        std::fill(text.begin(), text.end(), '#');
    }
    ASSERT_TRUE(doc.Root);
    EXPECT_EQ(doc.Root->Attributes.Items(0)->Value, "1");
    EXPECT_EQ(doc.Root->Nodes.Items(0)->Value, "t");
}

TEST(XmlTexts, ChangedAndDeepTreesAreReleased)
{
    // Texts set on a parsed tree own their bytes and are freed with it (the
    // sanitizer build reports any leak); a deep tree is released without
    // recursion, with and without such texts about.
    for (bool ownedAbout : {false, true}) {
        TXmlNode standalone;
        if (ownedAbout) standalone.SetName(u"keeps an owned text alive");
        std::string deep;
        for (int i = 0; i < 100000; ++i) deep += "<e>";
        TXmlDocument doc;
        doc.LoadFromBuffer(deep.data(), deep.size());
        doc.Root->SetName(u"renamed");
        doc.Root->Nodes.Items(0)->Value = "changed";
        doc.Root->Attributes.FindOrAdd(u"added")->SetValue(u"value");
        doc.LoadFromBuffer(deep.data(), deep.size());  // drops the first tree
        doc.Root->Nodes.Items(0)->Nodes.Items(0)->Attributes.Add(u"n")->SetInteger(5);
    }
    TTextHolder h;
    std::string deep = "<X Text=\"t\">";
    for (int i = 0; i < 100000; ++i) deep += "<e>";
    Load(h, deep);
    EXPECT_EQ(h.Text, u"t");
}
