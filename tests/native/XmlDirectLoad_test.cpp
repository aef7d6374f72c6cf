// A stream load reads the written form straight into the objects; whatever it
// reads must come out as the tree and its walk give it: the same objects, the
// same error after the same partial load, and nothing changed by a document
// that does not parse.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <random>
#include <typeinfo>

#include "SetupProject.h"
#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"

namespace {

// Loads through its own LoadFromNode, which a direct reading would bypass.
class TCountingLoad : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TCountingLoad)
public:
    WideString Text;
    int Loads = 0;
    void LoadFromNode(const TXmlNode& node, int context = 0) override
    {
        ++Loads;
        TXmlPersistent::LoadFromNode(node, context);
    }
};

// Inherits a class that loads by the walk but overrides the load itself
// without publishing a table of its own.
class TSilentOverride : public TSetupVar {
public:
    int Loads = 0;
    void LoadFromNode(const TXmlNode& node, int context = 0) override
    {
        ++Loads;
        TSetupVar::LoadFromNode(node, context);
    }
};

class THolder : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(THolder)
public:
    const std::unique_ptr<TCountingLoad> Inner = std::make_unique<TCountingLoad>();
    WideString Name;
};

}  // namespace

ZO_PUBLISHED(TCountingLoad, TXmlPersistent, ZO_PROP(TCountingLoad, Text))
ZO_PUBLISHED(THolder, TXmlPersistent, ZO_PROP(THolder, Inner), ZO_PROP(THolder, Name))

namespace {

std::string Save(const TXmlPersistent& obj)
{
    TMemoryStream s;
    obj.SaveToStream(s);
    return s.ToString();
}

// What the load did: the error (class and text) and the object afterwards.
struct TOutcome {
    std::string error;
    std::string saved;
    bool operator==(const TOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TOutcome& r)
{
    return out << "error=[" << r.error << "]\n" << r.saved;
}

template <class Load>
TOutcome Run(const TSetupScript& start, Load load)
{
    std::unique_ptr<TSetupScript> script = start.CloneAs<TSetupScript>();
    TOutcome r;
    try {
        load(*script);
    } catch (const Exception& e) {
        // The thrown type as the exception runtime knows it (the Windows builds have no typeid).
        r.error = std::string(abi::__cxa_current_exception_type()->name()) + ": " + e.what();
    }
    r.saved = Save(*script);
    return r;
}

// The general route: the whole tree first, then the walk over it.
TOutcome ByTree(const TSetupScript& start, const std::string& xml)
{
    return Run(start, [&](TSetupScript& s) {
        TXmlDocument doc;
        doc.LoadFromBuffer(xml.data(), xml.size());
        if (doc.Root) s.LoadFromNode(*doc.Root);
    });
}

TOutcome ByStream(const TSetupScript& start, const std::string& xml)
{
    return Run(start, [&](TSetupScript& s) {
        TMemoryStream stream(TBytes(xml.begin(), xml.end()));
        s.LoadFromStream(stream);
    });
}

// Whether the direct reading takes the document itself (and then what it gives).
bool ReadsDirectly(const TSetupScript& start, const std::string& xml, std::string* saved = nullptr)
{
    std::unique_ptr<TSetupScript> script = start.CloneAs<TSetupScript>();
    bool taken = TXmlTreeAccess::LoadDirect(*script, xml.data(), xml.size());
    if (saved) *saved = Save(*script);
    return taken;
}

// A script unlike a fresh one in every list and in values of every kind.
std::unique_ptr<TSetupScript> Populated(int files)
{
    auto s = std::make_unique<TSetupScript>();
    s->BaseInfo->AppTitle = u"产品 \"X\" & <Y>\t'z'";
    s->BaseInfo->Version = u"2.5.1.0";
    s->BaseInfo->GotoUrlMode = TGotoUrlMode::gumByBrowser;
    s->BaseInfo->AllowModify = true;
    s->BaseInfo->CompanyUrl = WideString(300, u'w') + u"\u00e9";  // past the stack buffer
    for (int i = 0; i < files; ++i) {
        TSetupFile* f = s->FileList->Add();
        f->DestDir = u"{app}\\bin\\" + IntToStr(i);
        f->FileBytes = i % 3 == 0 ? -i * 1000 : i * 37;
        f->LastWriteDate = 45123.4567890123 + i / 7.0;
        f->ResID = u"{11111111-2222-3333-4444-55555555555" + IntToStr(i % 10) + u"}";
        f->SourceMask = i % 2 ? u"x.exe" : u"文件" + IntToStr(i) + u".dll";
        f->SourcePath = WideString(static_cast<size_t>(i * 13 % 300), u'p');
        f->Checked = i % 4 != 1;
        f->IncludeSubPath = i % 5 == 2;
        f->Condition = i % 6 == 3 ? u"a<b && c>\"d\"" : u"";
    }
    TSetupReg* r = s->RegList->Add();
    r->RootKey = TRegRootKey::rrkCurrentConfig;
    r->ValueType = TRegValueType::rvtDWord;
    r->SubKey = u"Software\\X";
    r->ValueData = u"\t1\r\n";
    s->ShortCutList->Add()->Name = u"X";
    TSetupRun* run = s->RunList->Add();
    run->FileName = u"{app}\\x.exe";
    run->Wait = true;
    s->SwiperList->Add()->FileName = u"a.png";
    s->VarList->GetOrAddVar(u"{Extra}")->Checked = false;
    return s;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

TEST(XmlDirectLoad, WrittenFormIsReadDirectlyAndGivesWhatTheTreeGives)
{
    std::unique_ptr<TSetupScript> source = Populated(40);
    std::string xml = Save(*source);
    TSetupScript fresh;
    std::string direct;
    ASSERT_TRUE(ReadsDirectly(fresh, xml, &direct));
    EXPECT_EQ(ByTree(fresh, xml).saved, direct);
    EXPECT_EQ(direct, xml);  // the loaded script saves to the same bytes

    // Loaded over a script that already holds other values and items.
    std::unique_ptr<TSetupScript> other = Populated(3);
    other->BaseInfo->ProductName = u"kept?";
    EXPECT_EQ(ByStream(*other, xml), ByTree(*other, xml));
    EXPECT_EQ(ByStream(*other, xml).saved, xml);

    // A byte-order mark, and the same in one line without the declaration.
    EXPECT_TRUE(ReadsDirectly(fresh, "\xEF\xBB\xBF" + xml));
    TXmlDocument doc;
    doc.LoadFromBuffer(xml.data(), xml.size());
    doc.Indented = false;
    doc.WithDeclaration = false;
    std::string oneLine = doc.SaveToString();
    EXPECT_TRUE(ReadsDirectly(fresh, oneLine, &direct));
    EXPECT_EQ(direct, xml);
}

TEST(XmlDirectLoad, OtherFormsGiveWhatTheTreeGives)
{
    std::unique_ptr<TSetupScript> start = Populated(2);
    std::string xml = Save(*Populated(5));
    const std::string file0 = "<TSetupFile Checked=\"True\" Condition=\"\" DestDir=\"{app}\\bin\\0\"";
    const std::vector<std::string> cases = {
        // References, CDATA and comments.
        Replaced(xml, "DestDir=\"{app}\\bin\\0\"", "DestDir=\"&#x4E2D;&LT;&amp;&#65;\""),
        Replaced(xml, "FileBytes=\"37\"", "FileBytes=\"&#51;7\""),
        Replaced(xml, "<RegList>", "<RegList><![CDATA[<Items/>]]><!-- <Items/> -->"),
        Replaced(xml, "</TSetupScript>", "<!-- after --></TSetupScript><?pi x?> tail <!-- end -->"),
        // Names in other cases, attributes out of order, missing, unknown or repeated.
        Replaced(xml, file0, "<TSetupFile checked=\"False\" DestDir=\"d\" Condition=\"c\""),
        Replaced(xml, file0, "<TSetupFile DestDir=\"d\""),
        Replaced(xml, file0, file0 + " Extra=\"1\" Checked=\"False\""),
        Replaced(xml, "<BaseInfo AllowModify=\"True\"", "<BaseInfo Version=\"9\" AllowModify=\"yes\""),
        Replaced(xml, "<BaseInfo AllowModify=\"True\"", "<BaseInfo  AllowModify=\"True\""),
        Replaced(xml, "<BaseInfo AllowModify=\"True\"", "<baseinfo AllowModify=\"True\""),
        Replaced(xml, "<FileList>", "<filelist>"),
        Replaced(xml, "<Items>", "<ITEMS>"),
        Replaced(xml, "GotoUrlMode=\"gumByBrowser\"", "GotoUrlMode=\"GUMBYBROWSER\""),
        Replaced(xml, "GotoUrlMode=\"gumByBrowser\"", "GotoUrlMode=\"nothing\""),
        // Quotes the written form never has.
        Replaced(xml, file0, "<TSetupFile Checked='False' Condition=\"c\" DestDir=\"d\""),
        Replaced(xml, file0, "<TSetupFile Checked='False' Condition='c'"),
        // Lists: items without "Items", children beside it, an item of another class.
        Replaced(Replaced(xml, "<FileList>\r\n        <Items>", "<FileList>"), "</Items>\r\n    </FileList>",
                 "</FileList>"),
        Replaced(xml, "<FileList>", "<FileList><Other/>"),
        Replaced(xml, "</FileList>", "<Items/></FileList>"),
        Replaced(xml, "<TSetupReg ", "<TSetupFile "),
        Replaced(xml, "<SwiperList>\r\n        <Items>", "<SwiperList>\r\n        <Items a=\"1\" b='2'>"),
        // Sub-objects missing, repeated, unknown, or with content.
        Replaced(xml, "<VarList>", "<VarListX>"),
        Replaced(xml, "<FileList>", "<BaseInfo Version=\"second\"/><FileList>"),
        Replaced(xml, "<FileList>", "<Unknown a=\"1\"><Deep><Deeper/>text</Deep></Unknown><FileList>"),
        Replaced(xml, file0, "<TSetupFile><Child x=\"1\"/></TSetupFile><TSetupFile Checked=\"True\""),
        Replaced(xml, "<TSetupScript>", "<TSetupScript Stray=\"1\">"),
        Replaced(xml, "<TSetupScript>", "<Other>"),
        // Structure the general rules accept.
        Replaced(xml, "</FileList>", "</Wrong>"),
        xml.substr(0, xml.find("<RegList>")),
        "<TSetupScript/>",
        "  no element at all ",
        "",
        // A later top-level element replaces the root.
        xml + "<TSetupScript><BaseInfo Version=\"late\"/></TSetupScript>",
        xml + "<X/>",
        // Errors while parsing.
        xml + "</TSetupScript>",
        xml + "<!-- open",
        xml + "<",
        Replaced(xml, "<RegList>", "<RegList><![CDATA["),
        Replaced(xml, "</FileList>", "</FileList/>"),
        Replaced(xml, file0, "<TSetupFile Checked=\"Tr>ue\" Condition=\"\" DestDir=\"{app}\\bin\\0\""),
        Replaced(xml, file0, file0 + " Extra=\"a>b\""),
        Replaced(xml, file0, "<TSetupFile Checked=True"),
        Replaced(xml, file0, "<TSetupFile =\"x\""),
        Replaced(xml, file0, "<TSetupFile Checked=\"True"),
        Replaced(xml, "<TSetupScript>", "< >"),
        // Errors during the walk, after part of the script is loaded.
        Replaced(xml, "DestDir=\"{app}\\bin\\3\"", "DestDir=\"a&b\""),
        Replaced(xml, "DestDir=\"{app}\\bin\\3\"", "DestDir=\"&nbsp;\""),
        Replaced(xml, "FileBytes=\"37\"", "FileBytes=\"&#xZZ;\""),
        Replaced(xml, "<TSetupFile ", "<TSetupFile&bad; "),
        Replaced(xml, "Version=\"2.5.1.0\"", "Version=\"&;\""),
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        EXPECT_EQ(ByStream(*start, cases[i]), ByTree(*start, cases[i]));
    }
}

TEST(XmlDirectLoad, MalformedDocumentsChangeNothing)
{
    std::unique_ptr<TSetupScript> script = Populated(3);
    std::string before = Save(*script);
    // Everything before the fault is in the written form.
    std::string xml = Save(*Populated(30)) + "<";
    TMemoryStream stream(TBytes(xml.begin(), xml.end()));
    stream.SetPosition(3);  // inside the declaration: text before the root
    EXPECT_THROW(script->LoadFromStream(stream), EXmlException);
    EXPECT_EQ(stream.Position(), 3);
    EXPECT_EQ(Save(*script), before);

    xml.pop_back();
    TMemoryStream good(TBytes(xml.begin(), xml.end()));
    script->LoadFromStream(good);
    EXPECT_EQ(good.Position(), good.Size());
    EXPECT_EQ(script->FileList->Count(), 30);
}

TEST(XmlDirectLoad, DocumentsThatLeaveTheWrittenFormMidway)
{
    std::unique_ptr<TSetupScript> start = Populated(1);
    std::string xml = Save(*Populated(12));
    // One item in another form among written ones: read by the tag rules alone.
    std::string odd = Replaced(xml, "\" DestDir=\"{app}\\bin\\5\"", "\"  DestDir=\"x\"");
    std::string direct;
    EXPECT_TRUE(ReadsDirectly(*start, odd, &direct));
    EXPECT_EQ(direct, ByTree(*start, odd).saved);
    // A fault near the end, after most items were read: the tree takes over.
    odd = Replaced(xml, "<VarList>", "<VarList><a x=></a>");
    EXPECT_FALSE(ReadsDirectly(*start, odd));
    EXPECT_EQ(ByStream(*start, odd), ByTree(*start, odd));
}

TEST(XmlDirectLoad, RandomDamageGivesWhatTheTreeGives)
{
    std::unique_ptr<TSetupScript> start = Populated(2);
    const std::string xml = Save(*Populated(4));
    const std::string pieces[] = {"<", ">", "/", "\"", "'", "=", " ", "&", ";", "&amp;", "<!--", "-->", "<![CDATA[",
                                  "]]>", "<?", "?>", "</", "/>", "<Items>", "</Items>", "\xC3", "\xE4\xB8\xAD", "\0"};
    std::mt19937 rng(20240607);
    int direct = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string text = xml;
        int edits = 1 + static_cast<int>(rng() % 3);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % (text.size() + 1);
            switch (rng() % 4) {
            case 0: text.erase(at, 1 + rng() % 8); break;
            case 1: {
                const std::string& piece = pieces[rng() % std::size(pieces)];
                text.insert(at, piece.empty() ? std::string(1, '\0') : piece);
                break;
            }
            case 2:
                if (at < text.size()) text[at] = static_cast<char>(rng());
                break;
            default:
                if (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at])))
                    text[at] = static_cast<char>(text[at] ^ 0x20);
                break;
            }
        }
        direct += ReadsDirectly(*start, text) ? 1 : 0;
        TOutcome stream = ByStream(*start, text);
        TOutcome tree = ByTree(*start, text);
        if (stream != tree) {
            ADD_FAILURE() << "round " << round << "\n" << text << "\nstream: " << stream << "\ntree: " << tree;
            break;
        }
    }
    // Most damage leaves the form readable, or the test would prove little.
    EXPECT_GT(direct, 300);
}

TEST(XmlDirectLoad, ClassesWithTheirOwnLoadAreLoadedByIt)
{
    THolder holder;
    std::string xml = "<THolder Name=\"n\"><Inner Text=\"t\"/></THolder>";
    TMemoryStream s(TBytes(xml.begin(), xml.end()));
    holder.LoadFromStream(s);
    EXPECT_EQ(holder.Name, u"n");
    EXPECT_EQ(holder.Inner->Text, u"t");
    EXPECT_EQ(holder.Inner->Loads, 1);

    TSilentOverride var;
    xml = "<TSetupVar Checked=\"False\" VarName=\"v\"/>";
    TMemoryStream v(TBytes(xml.begin(), xml.end()));
    var.LoadFromStream(v);
    EXPECT_EQ(var.Loads, 1);
    EXPECT_EQ(var.VarName, u"v");
    EXPECT_FALSE(var.Checked);
}
