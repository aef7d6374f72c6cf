#include <gtest/gtest.h>

#include <functional>

#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "ZoSysUtils.h"
#include "ZoXmlUtils.h"

namespace {

enum class TColor : uint8_t { clRed, clGreen, clBlue };
enum class TShade : uint8_t { shLight, clGreen, shDark };  // shares one name with TColor

}  // namespace

ZO_ENUM_NAMES(TColor, "clRed", "clGreen", "clBlue");
ZO_ENUM_NAMES(TShade, "shLight", "clGreen", "shDark");

namespace {

class TPart : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TPart)
public:
    WideString Label = u"part";
    int32_t Size = 0;
};

// Every property kind, declared in this order.
class TSample : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TSample)
public:
    TSample() : Part(std::make_unique<TPart>()) {}
    int32_t Count = 7;
    char Letter = 'A';
    char16_t Wide = u'中';
    TColor Color = TColor::clGreen;
    bool Enabled = true;
    double When = 0.5;
    AnsiString Bytes = "ansi";
    WideString Text = u"text";
    uint32_t Colors = 0b101;
    int64_t Big = 1;
    const std::unique_ptr<TPart> Part;
    WideString Fixed = u"fixed";
};

class TDerived : public TSample {
    ZO_PERSISTENT_CLASS(TDerived)
public:
    WideString Extra;
};

// A class with a property of a kind the walks cannot handle.
class TOdd : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TOdd)
public:
    int32_t Value = 0;
};

// Another class publishing some of TSample's names, with other kinds.
class TOther : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TOther)
public:
    WideString Count = u"12";  // wide string where TSample has an integer
    TShade Color = TShade::shDark;
    WideString Text;
    const std::unique_ptr<TPart> Part = std::make_unique<TPart>();
};

class TSampleList : public TXmlTypedList<TSample> {
    ZO_PERSISTENT_CLASS(TSampleList)
};

class TPartList : public TXmlTypedList<TPart> {
    ZO_PERSISTENT_CLASS(TPartList)
};

// A list that picks its item class by name and skips unknown names.
class TMixedList : public TXmlObjectList {
    ZO_PERSISTENT_CLASS(TMixedList)
public:
    std::unique_ptr<TXmlPersistent> CreateItem(const WideString& className) override
    {
        if (className == u"TPart") return std::make_unique<TPart>();
        if (className == u"TSample") return std::make_unique<TSample>();
        return nullptr;
    }
};

const TEnumInfo& ColorSet()
{
    return TEnumNames<TColor>::Info();
}

TPropInfo MethodProp()
{
    TPropInfo p;
    p.Name = "OnChange";
    p.Kind = TPropKind::Method;
    return p;
}

TPropInfo VariantProp()
{
    TPropInfo p = ZO_PROP(TOdd, Value);
    p.Kind = TPropKind::Other;
    p.TypeName = "Variant";
    return p;
}

}  // namespace

ZO_PUBLISHED(TPart, TXmlPersistent, ZO_PROP(TPart, Label), ZO_PROP(TPart, Size))
ZO_PUBLISHED(TSample, TXmlPersistent,
    ZO_PROP(TSample, Count), ZO_PROP(TSample, Letter), ZO_PROP(TSample, Wide), ZO_PROP(TSample, Color),
    ZO_PROP(TSample, Enabled), ZO_PROP(TSample, When), ZO_PROP(TSample, Bytes), ZO_PROP(TSample, Text),
    ZO_SET_PROP(TSample, Colors, ColorSet()), ZO_PROP(TSample, Big), ZO_PROP(TSample, Part),
    ZO_PROP_READONLY(TSample, Fixed), MethodProp())
ZO_PUBLISHED(TDerived, TSample, ZO_PROP(TDerived, Extra))
ZO_PUBLISHED(TOdd, TXmlPersistent, VariantProp())
ZO_PUBLISHED(TOther, TXmlPersistent, ZO_PROP(TOther, Count), ZO_PROP(TOther, Color), ZO_PROP(TOther, Text),
    ZO_PROP(TOther, Part))
ZO_PUBLISHED(TSampleList, TXmlObjectList)
ZO_PUBLISHED(TPartList, TXmlObjectList)
ZO_PUBLISHED(TMixedList, TXmlObjectList)

namespace {

std::string Save(const TXmlPersistent& obj)
{
    TMemoryStream s;
    obj.SaveToStream(s);
    return s.ToString();
}

void Load(TXmlPersistent& obj, const std::string& xml)
{
    TMemoryStream s(TBytes(xml.begin(), xml.end()));
    obj.LoadFromStream(s);
}

const char* kDecl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

}  // namespace

TEST(Persistence, SavesEveryReadablePropertyInDeclarationOrder)
{
    TDerived d;
    d.Text = u"a\"b";
    EXPECT_EQ(Save(d), std::string(kDecl) +
                           "<TDerived Count=\"7\" Letter=\"65\" Wide=\"20013\" Color=\"clGreen\" Enabled=\"True\" "
                           "When=\"0.5\" Bytes=\"ansi\" Text=\"a&quot;b\" Colors=\"clRed,clBlue\" Big=\"1\" "
                           "Fixed=\"fixed\" Extra=\"\">\r\n"
                           "    <Part Label=\"part\" Size=\"0\"/>\r\n"
                           "</TDerived>\r\n");
    EXPECT_EQ(d.ClassName(), u"TDerived");
}

TEST(Persistence, LoadsEveryKindAndRoundTrips)
{
    TSample a;
    a.Count = -3;
    a.Letter = 'z';
    a.Wide = u'\uFFFF';
    a.Color = TColor::clBlue;
    a.Enabled = false;
    a.When = 45123.123456789;
    a.Bytes = "\xE4\xB8\xAD";
    a.Text = u"\t<&>\r\n";
    a.Colors = 0b010;
    a.Big = -9007199254740993;
    a.Part->Label = u"p";
    a.Part->Size = 9;
    TSample b;
    Load(b, Save(a));
    EXPECT_TRUE(b.IsEqual(&a));
    EXPECT_EQ(b.When, 45123.123456789);
    EXPECT_EQ(b.Big, -9007199254740993);
    EXPECT_EQ(b.Part->Label, u"p");
    EXPECT_EQ(b.Fixed, u"fixed");
}

TEST(Persistence, ValuesThatDoNotConvertAreAbsorbed)
{
    TSample s;
    Load(s, "<X Count=\"12a\" Letter=\"$42\" Color=\"Purple\" Enabled=\"true\" When=\"1,5\" Colors=\"clRed,Pink\" "
            "Big=\"x\" Text=\"\" Fixed=\"changed\"/>");
    EXPECT_EQ(s.Count, 7);                     // not an integer: unchanged
    EXPECT_EQ(s.Letter, 'B');                  // hexadecimal with '$'
    EXPECT_EQ(s.Color, TColor::clRed);         // unknown name: ordinal 0
    EXPECT_TRUE(s.Enabled);                    // names match in any case
    EXPECT_EQ(s.When, 0.5);                    // not a number here
    EXPECT_EQ(s.Colors, 0b101u);               // unknown element: unchanged
    EXPECT_EQ(s.Big, 1);
    EXPECT_EQ(s.Text, u"");                    // wide strings load also when empty
    EXPECT_EQ(s.Fixed, u"fixed");              // no write accessor

    Load(s, "<X Enabled=\"yes\" Color=\"\" Count=\"0x10\" Colors=\"\"/>");
    EXPECT_FALSE(s.Enabled);                   // a word that names no value: False
    EXPECT_EQ(s.Color, TColor::clRed);         // empty: unchanged
    EXPECT_EQ(s.Count, 16);
    EXPECT_EQ(s.Colors, 0u);

    // Attributes in any order and case, with references, and missing ones.
    TSample t;
    Load(t, "<X text=\"&#x4E2D;\" COUNT=\"&#x35;\" Count=\"6\"/>");
    EXPECT_EQ(t.Text, u"中");
    EXPECT_EQ(t.Count, 5);  // the first attribute of a name counts
    EXPECT_EQ(t.Color, TColor::clGreen);
}

TEST(Persistence, UnsupportedKindsAndDocumentsWithoutElements)
{
    TOdd odd;
    for (auto action : std::vector<std::function<void()>>{
             [&] { Save(odd); }, [&] { Load(odd, "<X Value=\"1\"/>"); }, [&] { odd.IsEqual(&odd); },
             [&] { TOdd other; other.Assign(&odd); }, [&] { TJsonObject j; odd.SaveToJson(j); }}) {
        try {
            action();
            ADD_FAILURE();
        } catch (const EAssertionFailed& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("Variant (Common/ZoXmlUtils, line ")) << e.what();
        }
    }
    TSample s;
    s.Count = 99;
    Load(s, "no element here");
    Load(s, "");
    EXPECT_EQ(s.Count, 99);
    // The root's name is not checked.
    Load(s, "<Whatever Count=\"1\"/>");
    EXPECT_EQ(s.Count, 1);
}

TEST(Persistence, AssignCopiesByNameAcrossClasses)
{
    TSample a;
    a.Count = 5;
    a.Text = u"copied";
    a.Color = TColor::clGreen;
    a.Part->Size = 3;
    TDerived d;
    d.Extra = u"kept";
    d.Assign(a);
    EXPECT_EQ(d.Count, 5);
    EXPECT_EQ(d.Text, u"copied");
    EXPECT_EQ(d.Part->Size, 3);
    EXPECT_NE(d.Part.get(), a.Part.get());  // the sub-object is assigned, not replaced
    EXPECT_EQ(d.Extra, u"kept");
    EXPECT_EQ(d.Fixed, u"fixed");

    TOther o;
    o.Assign(a);
    EXPECT_EQ(o.Count, u"5");                // another kind: through the text form
    EXPECT_EQ(o.Color, TShade::clGreen);     // enumerations by name
    a.Assign(o);
    EXPECT_EQ(a.Count, 5);
    o.Count = u"abc";
    a.Color = TColor::clBlue;
    o.Color = TShade::shLight;
    a.Assign(o);
    EXPECT_EQ(a.Count, 5);
    EXPECT_EQ(a.Color, TColor::clRed);       // no such name: ordinal 0

    EXPECT_THROW(a.Assign(nullptr), EConvertError);

    TSample x;
    x.AssignByXml(d);
    EXPECT_EQ(x.Text, u"copied");
    EXPECT_EQ(x.Part->Size, 3);
}

TEST(Persistence, CloneAndIsEqual)
{
    TDerived d;
    d.Extra = u"e";
    d.Part->Label = u"L";
    std::unique_ptr<TXmlPersistent> c = d.Clone();
    EXPECT_EQ(c->ClassName(), u"TDerived");
    EXPECT_TRUE(c->IsEqual(&d));
    auto* cd = static_cast<TDerived*>(c.get());
    cd->Part->Label = u"M";
    EXPECT_FALSE(c->IsEqual(&d));  // sub-objects compare too
    EXPECT_EQ(d.Part->Label, u"L");

    TSample s;
    TDerived t;
    EXPECT_FALSE(s.IsEqual(&t));  // another class
    EXPECT_FALSE(s.IsEqual(nullptr));
    TSample u;
    u.Text = u"TEXT";
    EXPECT_FALSE(s.IsEqual(&u));  // case-sensitive
    u.Text = s.Text;
    u.Fixed = u"other";
    EXPECT_TRUE(s.IsEqual(&u));   // not writable: not compared
}

TEST(PersistentList, SavesItemsUnderItemsAndLoadsThemBack)
{
    TMixedList list;
    list.Add(std::make_unique<TPart>());
    auto* s = static_cast<TSample*>(list.Add(std::make_unique<TSample>()));
    s->Count = 2;
    std::string xml = Save(list);
    EXPECT_NE(xml.find("<TMixedList>\r\n    <Items>\r\n        <TPart Label=\"part\" Size=\"0\"/>\r\n"
                       "        <TSample Count=\"2\""),
              std::string::npos)
        << xml;

    TMixedList back;
    back.Add(std::make_unique<TPart>());
    back.Add(std::make_unique<TPart>());
    back.Add(std::make_unique<TPart>());
    Load(back, xml);
    ASSERT_EQ(back.Count(), 2);  // loading replaces the items
    EXPECT_EQ(back.Items(1)->ClassName(), u"TSample");
    EXPECT_TRUE(back.IsEqualItems(&list));
    EXPECT_TRUE(back.IsEqual(&list));

    TMixedList empty;
    EXPECT_EQ(Save(empty), std::string(kDecl) + "<TMixedList>\r\n    <Items/>\r\n</TMixedList>\r\n");
}

TEST(PersistentList, ItemsWithoutItemsElementAndUnknownClasses)
{
    TMixedList list;
    Load(list, "<L><TPart Size=\"1\"/><Unknown/><TSample/><TPart Size=\"2\"/></L>");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(static_cast<TPart*>(list.Items(0))->Size, 1);
    EXPECT_EQ(static_cast<TPart*>(list.Items(-1))->Size, 2);
    EXPECT_EQ(list.Items(-3), list.Items(0));
    EXPECT_THROW(list.Items(3), EListError);
    EXPECT_THROW(list.Items(-4), EListError);

    // A typed list makes its own class whatever the element's name.
    TPartList parts;
    Load(parts, "<L><Items><TSample Size=\"4\"/></Items></L>");
    ASSERT_EQ(parts.Count(), 1);
    EXPECT_EQ(parts.Items(0)->Size, 4);
    EXPECT_EQ(parts.Items(0)->ClassName(), u"TPart");
}

TEST(PersistentList, AssignCloneAndCompare)
{
    TSampleList a;
    a.Add()->Count = 1;
    a.Add()->Count = 2;
    auto copy = a.CloneAs<TSampleList>();
    ASSERT_EQ(copy->Count(), 2);
    EXPECT_NE(copy->Items(0), a.Items(0));
    EXPECT_TRUE(copy->IsEqualItems(&a));
    copy->Items(1)->Count = 3;
    EXPECT_FALSE(copy->IsEqualItems(&a));
    EXPECT_FALSE(copy->IsEqual(&a));  // lists with different items are not equal
    copy->Delete(-1);
    EXPECT_FALSE(copy->IsEqual(&a));

    a.Assign(a);  // assigning a list to itself keeps its items
    EXPECT_EQ(a.Count(), 2);

    // Items of a foreign class are converted by property names.
    TPartList parts;
    parts.Assign(a);
    ASSERT_EQ(parts.Count(), 2);
    EXPECT_EQ(parts.Items(0)->ClassName(), u"TPart");
    EXPECT_EQ(parts.Items(0)->Label, u"part");

    int n = 0;
    for (TSample* s : a) n += s->Count;
    EXPECT_EQ(n, 3);
    a.Clear();
    EXPECT_EQ(a.Count(), 0);

    EXPECT_THROW(parts.TXmlObjectList::Add(std::make_unique<TSample>()), EConvertError);
}

TEST(PersistenceJson, RoundTripsThroughJsonObjects)
{
    TSample a;
    a.Text = u"中\"";
    a.Count = -1;
    a.When = 1.25;
    a.Part->Size = 8;
    TJsonObject j;
    a.SaveToJson(j);
    EXPECT_EQ(j["Count"], -1);
    EXPECT_EQ(j["Color"], "clGreen");
    EXPECT_EQ(j["Colors"], "clRed,clBlue");
    EXPECT_EQ(j["When"], 1.25);
    EXPECT_EQ(j["Part"]["Size"], 8);
    EXPECT_FALSE(j.contains("OnChange"));
    TSample b;
    b.LoadFromJson(j);
    EXPECT_TRUE(b.IsEqual(&a));

    // Members of the wrong type leave the property; missing ones too.
    TSample c;
    c.LoadFromJson(TJsonObject::parse(R"({"Count": "0x20", "Big": 1.5, "When": "x", "Text": 5, "Enabled": false,
                                          "Color": "CLBLUE", "Part": {"Label": null}, "Letter": 99999999999})"));
    EXPECT_EQ(c.Count, 32);
    EXPECT_EQ(c.Big, 1);
    EXPECT_EQ(c.When, 0.5);
    EXPECT_EQ(c.Text, u"5");
    EXPECT_FALSE(c.Enabled);
    EXPECT_EQ(c.Color, TColor::clBlue);
    EXPECT_EQ(c.Part->Label, u"part");
    EXPECT_EQ(c.Letter, 'A');
    c.LoadFromJson(TJsonObject::parse("[1,2]"));  // not an object: nothing
}

TEST(PersistenceJson, ListsAndFiles)
{
    TMixedList list;
    list.Add(std::make_unique<TPart>());
    list.Add(std::make_unique<TSample>());
    TJsonObject j;
    list.SaveToJson(j);
    ASSERT_TRUE(j["Items"].is_array());
    EXPECT_EQ(j["Items"][0]["ClassName"], "TPart");
    TMixedList back;
    back.LoadFromJson(j);
    EXPECT_TRUE(back.IsEqual(&list));
    back.LoadFromJson(TJsonObject::parse(R"({"Items": [{"ClassName": "Nope"}, {"Label": "x"}, 3]})"));
    EXPECT_EQ(back.Count(), 0);

    TTempFolder dir;
    TPart p;
    p.Label = u"中文\U0001F600";
    p.SaveToJsonFile(dir.Wide("p.json"));
    EXPECT_EQ(ReadFileBytes(dir.Path() / "p.json"),
              "{\n    \"Label\": \"\\u4e2d\\u6587\\ud83d\\ude00\",\n    \"Size\": 0\n}");
    TPartList empty;
    empty.SaveToJsonFile(dir.Wide("l.json"));
    EXPECT_EQ(ReadFileBytes(dir.Path() / "l.json"), "{\n    \"Items\": []\n}");
}

TEST(PersistenceFiles, SaveToFileMakesFoldersAndLoadFromFileReadsBack)
{
    TTempFolder dir;
    TSample a;
    a.Text = u"file";
    WideString name = dir.Wide("sub") + u"\\deeper\\a.xml";
    a.SaveToFile(name);
    TSample b;
    b.LoadFromFile(name);
    EXPECT_EQ(b.Text, u"file");
    EXPECT_THROW(b.LoadFromFile(dir.Wide("missing.xml")), EFOpenError);
}
