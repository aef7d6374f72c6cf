#include <gtest/gtest.h>

#include <regex>

#include "SetupProject.h"
#include "ZoSysUtils.h"

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

std::string MaskGuids(const std::string& text)
{
    static const std::regex guid(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
    return std::regex_replace(text, guid, "{MASKED}");
}

bool IsRegistryGuid(const WideString& text)
{
    return MaskGuids(ToUtf8(text)) == "{MASKED}";
}

const char* const kFreshScript =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<TSetupScript>\r\n"
    "    <BaseInfo AllowModify=\"False\" AppTitle=\"\" BuildMiniSetup=\"False\" CompanyName=\"\" CompanyUrl=\"\" "
    "Condition=\"\" DefInstallPath=\"\" FullDownloadUrl=\"\" FullSetupFile=\"\" GotoUrl=\"\" GotoUrlMode=\"gumSilent\" "
    "GUID=\"{MASKED}\" IconFile=\"\" IconResID=\"\" InstallFileDescription=\"\" InstallScope=\"machine\" LegalCopyright=\"\" LicenseFile=\"\" "
    "LicenseResID=\"\" MiniSetupFile=\"\" ProductName=\"\" UninstallFileDescription=\"\" Version=\"\"/>\r\n"
    "    <FileList>\r\n        <Items/>\r\n    </FileList>\r\n"
    "    <RegList>\r\n        <Items/>\r\n    </RegList>\r\n"
    "    <RunList>\r\n        <Items/>\r\n    </RunList>\r\n"
    "    <ShortCutList>\r\n        <Items/>\r\n    </ShortCutList>\r\n"
    "    <SwiperList>\r\n        <Items/>\r\n    </SwiperList>\r\n"
    "    <VarList>\r\n"
    "        <Items>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{AppTitle}\" VarValue=\"AppTitle\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{Version}\" VarValue=\"1.0.0.0\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{MainExeName}\" VarValue=\"MyApp\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{GUID}\" VarValue=\"{MASKED}\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{AppID}\" VarValue=\"10033\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{Copyright}\" VarValue=\"\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{CompanyName}\" VarValue=\"\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{CompanyUrl}\" VarValue=\"\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{DefaultFolder}\" VarValue=\"\"/>\r\n"
    "            <TSetupVar Checked=\"True\" VarName=\"{Condition}\" VarValue=\"\"/>\r\n"
    "        </Items>\r\n"
    "    </VarList>\r\n"
    "</TSetupScript>\r\n";

// A script with one item of every class and awkward values.
void Populate(TSetupScript& s)
{
    s.BaseInfo->AppTitle = u"产品 \"X\" & <Y>";
    s.BaseInfo->Version = u"2.5.1.0";
    s.BaseInfo->GotoUrlMode = TGotoUrlMode::gumByBrowser;
    s.BaseInfo->AllowModify = true;
    TSetupFile* f = s.FileList->Add();
    f->DestDir = u"{app}\\bin";
    f->FileBytes = 123456;
    f->LastWriteDate = 45123.4567890123;
    f->ResID = u"{11111111-2222-3333-4444-555555555555}";
    f->SourceMask = u"x.exe";
    f->Checked = false;
    TSetupReg* r = s.RegList->Add();
    r->RootKey = TRegRootKey::rrkCurrentConfig;
    r->ValueType = TRegValueType::rvtDWord;
    r->SubKey = u"Software\\X";
    r->ValueData = u"\t1\r\n";
    TSetupShortCut* sc = s.ShortCutList->Add();
    sc->Name = u"X";
    sc->SaveDir = u"{desktop}";
    TSetupRun* run = s.RunList->Add();
    run->FileName = u"{app}\\x.exe";
    run->Wait = true;
    s.SwiperList->Add()->FileName = u"a.png";
    s.VarList->GetOrAddVar(u"{Extra}")->Checked = false;
}

}  // namespace

TEST(SetupScript, FreshScriptSavesTheDocumentedShape)
{
    TSetupScript script;
    EXPECT_EQ(MaskGuids(Save(script)), kFreshScript);
}

TEST(SetupScript, EachScriptGetsItsOwnGuids)
{
    TSetupScript a, b;
    EXPECT_TRUE(IsRegistryGuid(a.BaseInfo->GUID));
    EXPECT_NE(a.BaseInfo->GUID, b.BaseInfo->GUID);
    EXPECT_TRUE(IsRegistryGuid(a.VarList->FindVar(u"{GUID}")->VarValue));
    EXPECT_NE(a.VarList->FindVar(u"{GUID}")->VarValue, b.VarList->FindVar(u"{GUID}")->VarValue);
}

TEST(SetupScript, SavedScriptLoadsBackEqual)
{
    TSetupScript a;
    Populate(a);
    std::string xml = Save(a);
    TSetupScript b;
    Load(b, xml);
    EXPECT_TRUE(b.IsEqual(&a));
    EXPECT_TRUE(b.FileList->IsEqualItems(a.FileList.get()));
    EXPECT_TRUE(b.VarList->IsEqualItems(a.VarList.get()));
    EXPECT_EQ(Save(b), xml);
    EXPECT_NE(xml.find("<TSetupFile Checked=\"False\" Condition=\"\" DestDir=\"{app}\\bin\" FileBytes=\"123456\" "
                       "IncludeSubPath=\"False\" LastWriteDate=\"45123.4567890123\" ResID="),
              std::string::npos);
    EXPECT_NE(xml.find("<TSetupReg Checked=\"True\" Condition=\"\" RootKey=\"rrkCurrentConfig\" SubKey=\"Software\\X\" "
                       "ValueData=\"&#x09;1&#x0D;&#x0A;\" ValueName=\"\" ValueType=\"rvtDWord\"/>"),
              std::string::npos);

    auto clone = a.CloneAs<TSetupScript>();
    EXPECT_TRUE(clone->IsEqual(&a));
    EXPECT_NE(clone->FileList->Items(0), a.FileList->Items(0));
    clone->RunList->Items(0)->Wait = false;
    EXPECT_FALSE(clone->IsEqual(&a));
}

TEST(SetupScript, LoadingKeepsWhatTheFileLeavesOut)
{
    TSetupScript s;
    WideString guid = s.BaseInfo->GUID;
    Load(s, "<Anything><BaseInfo AppTitle=\"T\"/>"
            "<RegList><Items><TSetupFile RootKey=\"rrkUsers\"/><TSetupReg RootKey=\"HKLM\" ValueType=\"rvtdword\"/>"
            "</Items></RegList></Anything>");
    EXPECT_EQ(s.BaseInfo->AppTitle, u"T");
    EXPECT_EQ(s.BaseInfo->GUID, guid);
    EXPECT_EQ(s.VarList->Count(), 10);  // no VarList element: the defaults stay
    ASSERT_EQ(s.RegList->Count(), 2);
    TSetupReg* users = s.RegList->Items(0);  // the element's name does not choose the class
    EXPECT_EQ(users->ClassName(), u"TSetupReg");
    EXPECT_EQ(users->RootKey, TRegRootKey::rrkUsers);
    EXPECT_EQ(RootKeyHandle(users->RootKey), static_cast<intptr_t>(static_cast<int32_t>(0x80000003u)));
    EXPECT_TRUE(users->Checked);  // a missing attribute keeps the default
    EXPECT_EQ(s.RegList->Items(1)->RootKey, TRegRootKey::rrkClassesRoot);
    EXPECT_EQ(s.RegList->Items(1)->ValueType, TRegValueType::rvtDWord);

    Load(s, "<TSetupScript><VarList><Items><TSetupVar VarName=\"{Only}\"/></Items></VarList></TSetupScript>");
    ASSERT_EQ(s.VarList->Count(), 1);
    EXPECT_TRUE(s.VarList->Items(0)->Checked);
    EXPECT_EQ(s.RegList->Count(), 2);
}

TEST(SetupScript, DecodeVersionStopsAtTheFirstNonNumber)
{
    auto decode = [](const char16_t* version) {
        TSetupBaseInfo info;
        info.Version = version;
        TVersionNumbers v = info.DecodeVersion();
        return std::vector<int32_t>{v.Major, v.Minor, v.Release, v.Build};
    };
    EXPECT_EQ(decode(u"2.5.1.300"), (std::vector<int32_t>{2, 5, 1, 300}));
    EXPECT_EQ(decode(u"3"), (std::vector<int32_t>{3, 0, 0, 0}));
    EXPECT_EQ(decode(u"1.x.3"), (std::vector<int32_t>{1, 0, 0, 0}));
    EXPECT_EQ(decode(u""), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(decode(u"1..3"), (std::vector<int32_t>{1, 0, 0, 0}));
    EXPECT_EQ(decode(u"4.5.6.7.8"), (std::vector<int32_t>{4, 5, 6, 7}));
}

TEST(SetupScript, RootKeysMapToThePredefinedRoots)
{
    auto sx = [](uint32_t v) { return static_cast<intptr_t>(static_cast<int32_t>(v)); };
    EXPECT_EQ(RootKeyHandle(TRegRootKey::rrkClassesRoot), sx(0x80000000u));
    EXPECT_EQ(RootKeyHandle(TRegRootKey::rrkCurrentUser), sx(0x80000001u));
    EXPECT_EQ(RootKeyHandle(TRegRootKey::rrkLocalMachine), sx(0x80000002u));
    EXPECT_EQ(RootKeyHandle(TRegRootKey::rrkUsers), sx(0x80000003u));
    EXPECT_EQ(RootKeyHandle(TRegRootKey::rrkCurrentConfig), sx(0x80000005u));
    EXPECT_EQ(RootKeyHandle(static_cast<TRegRootKey>(9)), sx(0x80000001u));
}

TEST(SetupVariables, ListOperations)
{
    TSetupVarList vars;
    EXPECT_EQ(vars.IndexOfName(u"{appid}"), 4);
    EXPECT_EQ(vars.FindVar(u"{nothing}"), nullptr);
    TSetupVar* added = vars.GetOrAddVar(u"{New}");
    EXPECT_EQ(vars.Count(), 11);
    EXPECT_TRUE(added->Checked);
    EXPECT_EQ(added->VarValue, u"");
    EXPECT_EQ(vars.GetOrAddVar(u"{NEW}"), added);

    vars.FindVar(u"{Version}")->VarValue = u"9";
    vars.AddDefaults();  // existing names only get their value back
    EXPECT_EQ(vars.Count(), 11);
    EXPECT_EQ(vars.FindVar(u"{Version}")->VarValue, u"1.0.0.0");
}

TEST(SetupVariables, ExpandFollowsListOrderAndSkipsUnchecked)
{
    TSetupVarList vars;
    vars.Clear();
    TSetupVar* a = vars.Add();
    a->VarName = u"{A}";
    a->VarValue = u"x{B}";
    TSetupVar* b = vars.Add();
    b->VarName = u"{B}";
    b->VarValue = u"y";
    EXPECT_EQ(vars.Expand(u"{a}-{A}"), u"xy-xy");

    TSetupVarList reversed;
    reversed.Clear();
    reversed.Add()->Assign(b);
    reversed.Add()->Assign(a);
    EXPECT_EQ(reversed.Expand(u"{A}"), u"x{B}");

    b->Checked = false;
    EXPECT_EQ(vars.Expand(u"{A}{B}"), u"x{B}{B}");
    TSetupVar* self = vars.Add();
    self->VarName = u"{S}";
    self->VarValue = u"<{S}>";
    EXPECT_EQ(vars.Expand(u"{S}{S}"), u"<{S}><{S}>");
}

TEST(SetupVariables, EachItemClassExpandsItsOwnStrings)
{
    TSetupVarList vars;
    vars.Clear();
    TSetupVar* v = vars.Add();
    v->VarName = u"{V}";
    v->VarValue = u"v";
    const WideString t = u"{V}";

    TSetupFile f;
    f.Condition = f.DestDir = f.SourceMask = f.SourcePath = f.ResID = t;
    f.ExpandVariables(vars);
    EXPECT_EQ(f.Condition + f.DestDir + f.SourceMask + f.SourcePath, u"vvvv");
    EXPECT_EQ(f.ResID, t);

    TSetupReg r;
    r.Condition = r.SubKey = r.ValueData = r.ValueName = t;
    r.ExpandVariables(vars);
    EXPECT_EQ(r.Condition + r.SubKey + r.ValueData + r.ValueName, u"vvvv");

    TSetupRun run;
    run.Condition = run.Params = run.FileName = run.WorkDir = t;
    run.ExpandVariables(vars);
    EXPECT_EQ(run.Condition + run.Params + run.FileName + run.WorkDir, u"vvvv");

    TSetupShortCut sc;
    sc.Condition = sc.DstFile = sc.IconFile = sc.Name = sc.SaveDir = sc.WorkDir = t;
    sc.ExpandVariables(vars);
    EXPECT_EQ(sc.Condition + sc.DstFile + sc.IconFile + sc.Name + sc.SaveDir + sc.WorkDir, u"vvvvvv");

    TSetupSwiper sw;
    sw.Condition = sw.FileName = sw.ResID = t;
    TBaseSetupItem& item = sw;  // through the virtual slot
    item.ExpandVariables(vars);
    EXPECT_EQ(sw.Condition + sw.FileName, u"vv");
    EXPECT_EQ(sw.ResID, t);
}
