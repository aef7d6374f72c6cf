// The setup script's classes, their published properties and the variable expansion.
#include "SetupProject.h"

#include "ZoSysUtils.h"

ZO_PUBLISHED(TSetupBaseInfo, TXmlPersistent,
    ZO_PROP(TSetupBaseInfo, AllowModify),
    ZO_PROP(TSetupBaseInfo, AppTitle),
    ZO_PROP(TSetupBaseInfo, BuildMiniSetup),
    ZO_PROP(TSetupBaseInfo, CompanyName),
    ZO_PROP(TSetupBaseInfo, CompanyUrl),
    ZO_PROP(TSetupBaseInfo, Condition),
    ZO_PROP(TSetupBaseInfo, DefInstallPath),
    ZO_PROP(TSetupBaseInfo, FullDownloadUrl),
    ZO_PROP(TSetupBaseInfo, FullSetupFile),
    ZO_PROP(TSetupBaseInfo, GotoUrl),
    ZO_PROP(TSetupBaseInfo, GotoUrlMode),
    ZO_PROP(TSetupBaseInfo, GUID),
    ZO_PROP(TSetupBaseInfo, IconFile),
    ZO_PROP(TSetupBaseInfo, IconResID),
    ZO_PROP(TSetupBaseInfo, InstallFileDescription),
    ZO_PROP_OMIT_EMPTY(TSetupBaseInfo, Language),
    ZO_PROP(TSetupBaseInfo, InstallScope),
    ZO_PROP(TSetupBaseInfo, LegalCopyright),
    ZO_PROP(TSetupBaseInfo, LicenseFile),
    ZO_PROP(TSetupBaseInfo, LicenseResID),
    ZO_PROP(TSetupBaseInfo, MiniSetupFile),
    ZO_PROP(TSetupBaseInfo, ProductName),
    ZO_PROP(TSetupBaseInfo, UninstallFileDescription),
    ZO_PROP(TSetupBaseInfo, Version))

ZO_PUBLISHED(TBaseSetupItem, TXmlPersistent,
    ZO_PROP(TBaseSetupItem, Checked),
    ZO_PROP(TBaseSetupItem, Condition))

ZO_PUBLISHED(TSetupFile, TBaseSetupItem,
    ZO_PROP(TSetupFile, DestDir),
    ZO_PROP(TSetupFile, FileBytes),
    ZO_PROP(TSetupFile, IncludeSubPath),
    ZO_PROP(TSetupFile, LastWriteDate),
    ZO_PROP(TSetupFile, ResID),
    ZO_PROP(TSetupFile, SourceMask),
    ZO_PROP(TSetupFile, SourcePath))

ZO_PUBLISHED(TSetupReg, TBaseSetupItem,
    ZO_PROP(TSetupReg, RootKey),
    ZO_PROP(TSetupReg, SubKey),
    ZO_PROP(TSetupReg, ValueData),
    ZO_PROP(TSetupReg, ValueName),
    ZO_PROP(TSetupReg, ValueType))

ZO_PUBLISHED(TSetupShortCut, TBaseSetupItem,
    ZO_PROP(TSetupShortCut, DstFile),
    ZO_PROP(TSetupShortCut, IconFile),
    ZO_PROP(TSetupShortCut, Name),
    ZO_PROP(TSetupShortCut, SaveDir),
    ZO_PROP(TSetupShortCut, WorkDir))

ZO_PUBLISHED(TSetupRun, TBaseSetupItem,
    ZO_PROP(TSetupRun, FileName),
    ZO_PROP(TSetupRun, Params),
    ZO_PROP(TSetupRun, Wait),
    ZO_PROP(TSetupRun, WorkDir))

ZO_PUBLISHED(TSetupSwiper, TBaseSetupItem,
    ZO_PROP(TSetupSwiper, FileName),
    ZO_PROP(TSetupSwiper, ResID))

ZO_PUBLISHED(TSetupVar, TXmlPersistent,
    ZO_PROP(TSetupVar, Checked),
    ZO_PROP(TSetupVar, VarName),
    ZO_PROP(TSetupVar, VarValue))

ZO_PUBLISHED(TSetupFileList, TXmlObjectList)
ZO_PUBLISHED(TSetupRegList, TXmlObjectList)
ZO_PUBLISHED(TSetupShortCutList, TXmlObjectList)
ZO_PUBLISHED(TSetupRunList, TXmlObjectList)
ZO_PUBLISHED(TSetupSwiperList, TXmlObjectList)
ZO_PUBLISHED(TSetupVarList, TXmlObjectList)

ZO_PUBLISHED(TSetupScript, TXmlPersistent,
    ZO_PROP(TSetupScript, BaseInfo),
    ZO_PROP(TSetupScript, FileList),
    ZO_PROP(TSetupScript, RegList),
    ZO_PROP(TSetupScript, RunList),
    ZO_PROP(TSetupScript, ShortCutList),
    ZO_PROP(TSetupScript, SwiperList),
    ZO_PROP(TSetupScript, VarList))

intptr_t RootKeyHandle(TRegRootKey key)
{
    // The predefined roots are 32-bit values sign-extended into a handle.
    auto root = [](uint32_t value) { return static_cast<intptr_t>(static_cast<int32_t>(value)); };
    switch (key) {
    case TRegRootKey::rrkClassesRoot: return root(0x80000000u);
    case TRegRootKey::rrkCurrentUser: return root(0x80000001u);
    case TRegRootKey::rrkLocalMachine: return root(0x80000002u);
    case TRegRootKey::rrkUsers: return root(0x80000003u);
    case TRegRootKey::rrkCurrentConfig: return root(0x80000005u);
    }
    return root(0x80000001u);
}

WideString RootKeyName(TRegRootKey key)
{
    switch (key) {
    case TRegRootKey::rrkClassesRoot: return u"HKEY_CLASSES_ROOT";
    case TRegRootKey::rrkLocalMachine: return u"HKEY_LOCAL_MACHINE";
    case TRegRootKey::rrkUsers: return u"HKEY_USERS";
    case TRegRootKey::rrkCurrentConfig: return u"HKEY_CURRENT_CONFIG";
    default: return u"HKEY_CURRENT_USER";
    }
}

// ---- Base information ---------------------------------------------------------------

TSetupBaseInfo::TSetupBaseInfo() : GUID(TZoStrfn::NewGuidString()) {}

TSetupFile::TSetupFile() = default;
TSetupReg::TSetupReg() = default;
TSetupShortCut::TSetupShortCut() = default;
TSetupRun::TSetupRun() = default;
TSetupSwiper::TSetupSwiper() = default;
TSetupVar::TSetupVar() = default;

TVersionNumbers TSetupBaseInfo::DecodeVersion() const
{
    TVersionNumbers v;
    int32_t* parts[] = {&v.Major, &v.Minor, &v.Release, &v.Build};
    size_t from = 0;
    for (int32_t* part : parts) {
        if (from > Version.size()) break;
        size_t dot = Version.find(u'.', from);
        size_t to = dot == WideString::npos ? Version.size() : dot;
        auto n = TryStrToInt(Version.substr(from, to - from));
        if (!n) break;
        *part = *n;
        if (dot == WideString::npos) break;
        from = dot + 1;
    }
    return v;
}

// ---- Variables ----------------------------------------------------------------------

void TBaseSetupItem::ExpandVariables(const TSetupVarList& variables)
{
    Condition = variables.Expand(Condition);
}

void TSetupFile::ExpandVariables(const TSetupVarList& variables)
{
    TBaseSetupItem::ExpandVariables(variables);
    DestDir = variables.Expand(DestDir);
    SourceMask = variables.Expand(SourceMask);
    SourcePath = variables.Expand(SourcePath);
}

void TSetupReg::ExpandVariables(const TSetupVarList& variables)
{
    TBaseSetupItem::ExpandVariables(variables);
    SubKey = variables.Expand(SubKey);
    ValueData = variables.Expand(ValueData);
    ValueName = variables.Expand(ValueName);
}

void TSetupShortCut::ExpandVariables(const TSetupVarList& variables)
{
    TBaseSetupItem::ExpandVariables(variables);
    DstFile = variables.Expand(DstFile);
    IconFile = variables.Expand(IconFile);
    Name = variables.Expand(Name);
    SaveDir = variables.Expand(SaveDir);
    WorkDir = variables.Expand(WorkDir);
}

void TSetupRun::ExpandVariables(const TSetupVarList& variables)
{
    TBaseSetupItem::ExpandVariables(variables);
    Params = variables.Expand(Params);
    FileName = variables.Expand(FileName);
    WorkDir = variables.Expand(WorkDir);
}

void TSetupSwiper::ExpandVariables(const TSetupVarList& variables)
{
    TBaseSetupItem::ExpandVariables(variables);
    FileName = variables.Expand(FileName);
}

TSetupVarList::TSetupVarList()
{
    AddDefaults();
}

int TSetupVarList::IndexOfName(const WideString& name) const
{
    for (int i = 0; i < Count(); ++i)
        if (TextEquals(Items(i)->VarName, name)) return i;
    return -1;
}

TSetupVar* TSetupVarList::FindVar(const WideString& name) const
{
    int i = IndexOfName(name);
    return i < 0 ? nullptr : Items(i);
}

TSetupVar* TSetupVarList::GetOrAddVar(const WideString& name)
{
    if (TSetupVar* found = FindVar(name)) return found;
    TSetupVar* added = Add();
    added->VarName = name;
    return added;
}

void TSetupVarList::AddDefaults()
{
    const std::pair<const char16_t*, WideString> defaults[] = {
        {u"{AppTitle}", u"AppTitle"},
        {u"{Version}", u"1.0.0.0"},
        {u"{MainExeName}", u"MyApp"},
        {u"{GUID}", TZoStrfn::NewGuidString()},
        {u"{AppID}", u"10033"},
        {u"{Copyright}", u""},
        {u"{CompanyName}", u""},
        {u"{CompanyUrl}", u""},
        {u"{DefaultFolder}", u""},
        {u"{Condition}", u""},
    };
    for (const auto& [name, value] : defaults) GetOrAddVar(name)->VarValue = value;
}

WideString TSetupVarList::Expand(const WideString& text) const
{
    WideString result = text;
    for (const TSetupVar* v : *this)
        if (v->Checked) result = ReplaceText(result, v->VarName, v->VarValue, rfReplaceAll | rfIgnoreCase);
    return result;
}

// ---- Script -------------------------------------------------------------------------

TSetupScript::TSetupScript()
    : BaseInfo(std::make_unique<TSetupBaseInfo>()),
      FileList(std::make_unique<TSetupFileList>()),
      RegList(std::make_unique<TSetupRegList>()),
      ShortCutList(std::make_unique<TSetupShortCutList>()),
      RunList(std::make_unique<TSetupRunList>()),
      SwiperList(std::make_unique<TSetupSwiperList>()),
      VarList(std::make_unique<TSetupVarList>())
{
}
