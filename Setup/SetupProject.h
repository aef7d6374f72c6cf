// The setup script: the whole configuration of one installer, persisted as
// XML through its published properties (so this unit is also the schema).
#pragma once

#include <cstdint>
#include <memory>

#include "ZoXmlUtils.h"

enum class TRegRootKey : uint8_t { rrkClassesRoot, rrkCurrentUser, rrkLocalMachine, rrkUsers, rrkCurrentConfig };
enum class TRegValueType : uint8_t { rvtString, rvtDWord };
enum class TGotoUrlMode : uint8_t { gumSilent, gumByBrowser };
// Who the product is installed for: every user (Program Files, HKEY_LOCAL_MACHINE,
// administrator rights), the user who runs the installer (no rights needed), or
// whichever of the two that user chooses.
enum class TInstallScope : uint8_t { isMachine, isUser, isEither };

ZO_ENUM_NAMES(TRegRootKey, "rrkClassesRoot", "rrkCurrentUser", "rrkLocalMachine", "rrkUsers", "rrkCurrentConfig");
ZO_ENUM_NAMES(TRegValueType, "rvtString", "rvtDWord");
ZO_ENUM_NAMES(TGotoUrlMode, "gumSilent", "gumByBrowser");
ZO_ENUM_NAMES(TInstallScope, "machine", "user", "either");

// The predefined registry root for a root key, as the value Windows gives the
// HKEY (sign-extended like the system's own constants): use it as
// reinterpret_cast<HKEY>(RootKeyHandle(key)). Unknown values give HKEY_CURRENT_USER.
intptr_t RootKeyHandle(TRegRootKey key);
// Its name as logs and reports show it ("HKEY_LOCAL_MACHINE"); unknown values
// give "HKEY_CURRENT_USER", as the handle does.
WideString RootKeyName(TRegRootKey key);

class TSetupVarList;

struct TVersionNumbers {
    int32_t Major = 0;
    int32_t Minor = 0;
    int32_t Release = 0;
    int32_t Build = 0;
};

class TSetupBaseInfo : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TSetupBaseInfo)
public:
    TSetupBaseInfo();  // GUID := a new GUID in registry form

    bool AllowModify = false;
    WideString AppTitle;
    bool BuildMiniSetup = false;
    WideString CompanyName;
    WideString CompanyUrl;
    WideString Condition;
    WideString DefInstallPath;
    WideString FullDownloadUrl;
    WideString FullSetupFile;
    WideString GotoUrl;
    TGotoUrlMode GotoUrlMode = TGotoUrlMode::gumSilent;
    WideString GUID;
    WideString IconFile;
    WideString IconResID;
    WideString InstallFileDescription;
    WideString Language;  // "zh-CN" (also when empty), "en-US" or "auto": see Texts.h
    // The uninstaller's copy holds the scope chosen (machine or user), never either.
    TInstallScope InstallScope = TInstallScope::isMachine;
    WideString LegalCopyright;
    WideString LicenseFile;
    WideString LicenseResID;
    WideString MiniSetupFile;
    WideString ProductName;
    WideString UninstallFileDescription;
    WideString Version;

    // Version split at "."; conversion stops at the first part that is not an integer.
    TVersionNumbers DecodeVersion() const;
};

// The item classes define their constructors out of line: a new item
// (make_unique, as a list creates it) is then built by its constructor alone,
// instead of being zeroed whole first. Every field has its initialiser.
class TBaseSetupItem : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TBaseSetupItem)
public:
    bool Checked = true;
    WideString Condition;

    // Replaces the item's own string properties by variables.Expand of them.
    virtual void ExpandVariables(const TSetupVarList& variables);
};

class TSetupFile : public TBaseSetupItem {
    ZO_PERSISTENT_CLASS(TSetupFile)
public:
    TSetupFile();

    WideString DestDir;
    int32_t FileBytes = 0;
    bool IncludeSubPath = false;
    double LastWriteDate = 0;  // TDateTime, local time
    WideString ResID;
    WideString SourceMask;
    WideString SourcePath;

    void ExpandVariables(const TSetupVarList& variables) override;
};

class TSetupReg : public TBaseSetupItem {
    ZO_PERSISTENT_CLASS(TSetupReg)
public:
    TSetupReg();

    TRegRootKey RootKey = TRegRootKey::rrkClassesRoot;
    WideString SubKey;
    WideString ValueData;
    WideString ValueName;
    TRegValueType ValueType = TRegValueType::rvtString;

    void ExpandVariables(const TSetupVarList& variables) override;
};

class TSetupShortCut : public TBaseSetupItem {
    ZO_PERSISTENT_CLASS(TSetupShortCut)
public:
    TSetupShortCut();

    WideString DstFile;
    WideString IconFile;
    WideString Name;  // without ".lnk"
    WideString SaveDir;
    WideString WorkDir;

    void ExpandVariables(const TSetupVarList& variables) override;
};

class TSetupRun : public TBaseSetupItem {
    ZO_PERSISTENT_CLASS(TSetupRun)
public:
    TSetupRun();

    WideString FileName;
    WideString Params;
    bool Wait = false;  // run during the installation and wait, else start at the end
    WideString WorkDir;

    void ExpandVariables(const TSetupVarList& variables) override;
};

class TSetupSwiper : public TBaseSetupItem {
    ZO_PERSISTENT_CLASS(TSetupSwiper)
public:
    TSetupSwiper();

    WideString FileName;
    WideString ResID;

    void ExpandVariables(const TSetupVarList& variables) override;
};

class TSetupVar : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TSetupVar)
public:
    TSetupVar();

    bool Checked = true;
    WideString VarName;  // braces included, e.g. "{AppTitle}"
    WideString VarValue;
};

class TSetupFileList : public TXmlTypedList<TSetupFile> {
    ZO_PERSISTENT_CLASS(TSetupFileList)
};
class TSetupRegList : public TXmlTypedList<TSetupReg> {
    ZO_PERSISTENT_CLASS(TSetupRegList)
};
class TSetupShortCutList : public TXmlTypedList<TSetupShortCut> {
    ZO_PERSISTENT_CLASS(TSetupShortCutList)
};
class TSetupRunList : public TXmlTypedList<TSetupRun> {
    ZO_PERSISTENT_CLASS(TSetupRunList)
};
class TSetupSwiperList : public TXmlTypedList<TSetupSwiper> {
    ZO_PERSISTENT_CLASS(TSetupSwiperList)
};

class TSetupVarList : public TXmlTypedList<TSetupVar> {
    ZO_PERSISTENT_CLASS(TSetupVarList)
public:
    TSetupVarList();  // the ten default variables

    // First variable whose VarName equals name without regard to case; -1 if none.
    int IndexOfName(const WideString& name) const;
    TSetupVar* FindVar(const WideString& name) const;
    // The found variable, or a new checked one with an empty value, appended.
    TSetupVar* GetOrAddVar(const WideString& name);
    // "{AppTitle}", "{Version}", "{MainExeName}", "{GUID}", "{AppID}",
    // "{Copyright}", "{CompanyName}", "{CompanyUrl}", "{DefaultFolder}", "{Condition}".
    void AddDefaults();
    // Every checked variable in list order replaces its name by its value,
    // without regard to case.
    WideString Expand(const WideString& text) const;
};

class TSetupScript : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TSetupScript)
public:
    TSetupScript();

    // Owned sub-objects, created in this order and never replaced.
    const std::unique_ptr<TSetupBaseInfo> BaseInfo;
    const std::unique_ptr<TSetupFileList> FileList;
    const std::unique_ptr<TSetupRegList> RegList;
    const std::unique_ptr<TSetupShortCutList> ShortCutList;
    const std::unique_ptr<TSetupRunList> RunList;
    const std::unique_ptr<TSetupSwiperList> SwiperList;
    const std::unique_ptr<TSetupVarList> VarList;
};
