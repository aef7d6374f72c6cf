#include "InstallPlan.h"

#include <algorithm>

#include "SetupFn.h"
#include "Texts.h"
#include "ZoSysUtils.h"

namespace {

WideString Expand(const WideString& text) { return TSetupfn::ExpandConstants(text); }

bool IsProgram(const WideString& name)
{
    size_t dot = name.rfind(u'.');
    return dot != WideString::npos && TextEquals(name.substr(dot), u".exe");
}

TPlannedValue PlanValue(const TSetupReg& entry)
{
    TPlannedValue value;
    value.Root = entry.RootKey;
    value.SubKey = Expand(entry.SubKey);
    size_t start = value.SubKey.find_first_not_of(u'\\');
    value.SubKey = start == WideString::npos ? WideString() : value.SubKey.substr(start);
    value.Name = Expand(entry.ValueName);
    value.Type = entry.ValueType;
    WideString data = Expand(entry.ValueData);
    if (value.Type == TRegValueType::rvtDWord) {
        auto number = TryStrToInt(data);
        if (!number) throw EConvertError(FormatText(u"'%s' is not a valid integer value", {data}));
        value.Number = static_cast<uint32_t>(*number);
    } else {
        value.Text = data;
    }
    return value;
}

TPlannedRun PlanRun(const TSetupRun& entry)
{
    return {Expand(entry.FileName), Expand(entry.Params), Expand(entry.WorkDir)};
}

std::vector<TUninstallValue> PlanUninstallValues(const TSetupScript& script, const WideString& today)
{
    const TSetupBaseInfo& info = *script.BaseInfo;
    const TVersionNumbers version = info.DecodeVersion();
    uint64_t size = 0;
    for (const TSetupFile* file : *script.FileList) size += static_cast<uint64_t>(std::max(file->FileBytes, 0));
    const WideString dir = WithoutTrailingBackslash(InstallDir);
    auto text = [](const char16_t* name, const WideString& data) { return TUninstallValue{name, false, data, 0}; };
    auto number = [](const char16_t* name, uint64_t data) {
        return TUninstallValue{name, true, WideString(), static_cast<uint32_t>(std::min<uint64_t>(data, 0xFFFFFFFFu))};
    };
    return {
        // Programs and Features shows the uninstaller's icon, the product's own
        // (the packaging tool gives it that icon).
        text(u"DisplayIcon", FormatText(u"%s\\Uninstall.exe", {dir})),
        text(u"DisplayName", FormatText(TextView(TTextId::DisplayNameFormat), {info.AppTitle, info.Version})),
        text(u"DisplayVersion", info.Version),
        number(u"EstimatedSize", (size + 1023) / 1024),  // Windows reads kilobytes
        text(u"HelpLink", info.CompanyUrl),
        text(u"InstallDate", today),
        text(u"InstallLocation", InstallDir),
        number(u"MajorVersion", static_cast<uint32_t>(version.Major)),
        number(u"MinorVersion", static_cast<uint32_t>(version.Minor)),
        number(u"NoModify", 1),
        number(u"NoRepair", 1),
        text(u"Publisher", info.CompanyName),
        text(u"QuietUninstallString", FormatText(u"\"%s\\Uninstall.exe\" /SILENT", {dir})),
        text(u"UninstallString", FormatText(u"\"%s\\Uninstall.exe\"", {dir})),
        text(u"URLInfoAbout", info.CompanyUrl),
        text(u"URLUpdateInfo", info.CompanyUrl),
        number(u"VersionMajor", static_cast<uint32_t>(version.Major)),
        number(u"VersionMinor", static_cast<uint32_t>(version.Minor)),
    };
}

}  // namespace

TInstallPlan TInstallPlan::FromScript(const TSetupScript& script, const WideString& ownFile, const WideString& today)
{
    TInstallPlan plan;
    const TSetupBaseInfo& info = *script.BaseInfo;
    plan.PreviousUninstallKeys = {UninstallKeyPath(info.GUID, u"_is1"), UninstallKeyPath(info.GUID, u"_mw")};
    plan.UninstallRoot = ::UninstallRoot();
    // HKEY_CURRENT_USER\Software has one view for both bitnesses.
    plan.BothRegistryViews = !PerUserInstall;
    if (PerUserInstall) plan.MachineKeysToReport = plan.PreviousUninstallKeys;

    for (const TSetupFile* entry : *script.FileList) {
        // A file with content but no image to take it from: writing it empty
        // would replace a working file with nothing.
        if (entry->FileBytes > 0 && entry->ResID.empty())
            throw EPackageError(FormatText(TextView(TTextId::PackageMissingData), {entry->SourceMask}));
        TPlannedFile file{entry, WithTrailingBackslash(Expand(entry->DestDir)) + entry->SourceMask,
                          entry->FileBytes > 0 ? entry->ResID : WideString()};
        if (IsProgram(NamePart(entry->SourceMask))) plan.ProgramsToEnd.push_back(file.Path);
        plan.Files.push_back(std::move(file));
    }
    for (const TSetupReg* entry : *script.RegList) plan.Values.push_back(PlanValue(*entry));
    for (const TSetupShortCut* entry : *script.ShortCutList)
        plan.Shortcuts.push_back({WithTrailingBackslash(Expand(entry->SaveDir)) + Expand(entry->Name) + u".lnk",
                                  Expand(entry->DstFile), Expand(entry->WorkDir), Expand(entry->IconFile)});

    plan.ScriptDataFile = InstallDir + u"Uninstall.da1";
    plan.IconDataFile = InstallDir + u"Uninstall.da2";
    plan.UninstallKey = UninstallKeyPath(info.GUID, u"_mw");
    plan.UninstallValues = PlanUninstallValues(script, today);

    for (const TSetupRun* entry : *script.RunList)
        (entry->Wait ? plan.WaitRuns : plan.LaunchRuns).push_back(PlanRun(*entry));
    if (!info.GotoUrl.empty()) plan.GotoUrl = AppendChannelCode(info.GotoUrl, ownFile);
    plan.GotoUrlMode = info.GotoUrlMode;
    return plan;
}

WideString AppendChannelCode(const WideString& url, const WideString& programPath)
{
    WideString name = NameWithoutExt(programPath);
    size_t bar = name.find(u'_');
    if (bar == WideString::npos) return url;
    WideString digits;
    for (size_t i = bar + 1; i < name.size() && name[i] >= u'0' && name[i] <= u'9'; ++i) digits += name[i];
    if (digits.empty()) return url;
    return Concat({url, url.find(u'?') != WideString::npos ? u"&" : u"?", u"rcode=", digits});
}

TScopeArgs TakeScopeSwitch(const std::vector<WideString>& args)
{
    TScopeArgs result;
    int found = 0;
    for (const WideString& arg : args) {
        if (TextEquals(arg, u"/ALLUSERS") || TextEquals(arg, u"/CURRENTUSER")) {
            ++found;
            result.Choice = TextEquals(arg, u"/ALLUSERS") ? TScopeSwitch::AllUsers : TScopeSwitch::CurrentUser;
        } else {
            result.Rest.push_back(arg);
        }
    }
    if (found > 1) return {args, TScopeSwitch::None};
    return result;
}

std::vector<WideString> ElevatedCopyArgs(std::vector<WideString> rest, const WideString& windowFolder)
{
    rest.push_back(u"/ALLUSERS");
    if (!windowFolder.empty()) {
        rest.push_back(u"/Auto");
        rest.push_back(u"/DIR=" + windowFolder);
    }
    return rest;
}

bool ChoosesPerUser(TInstallScope scope, TScopeSwitch choice, bool elevated)
{
    switch (scope) {
    case TInstallScope::isUser:
        return true;
    case TInstallScope::isEither:
        if (choice == TScopeSwitch::None) return !elevated;
        return choice == TScopeSwitch::CurrentUser;
    default:
        return false;
    }
}

std::vector<WideString> TInstallPlan::LeaveOutStarts()
{
    std::vector<WideString> left;
    for (const TPlannedRun& run : LaunchRuns) left.push_back(Trim(run.FileName + u" " + run.Params));
    LaunchRuns.clear();
    if (!GotoUrl.empty() && GotoUrlMode == TGotoUrlMode::gumByBrowser) {
        left.push_back(GotoUrl);
        GotoUrl.clear();
    }
    return left;
}
