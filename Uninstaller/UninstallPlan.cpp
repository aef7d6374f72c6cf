#include "UninstallPlan.h"

#include <algorithm>
#include <set>

#include "SetupFn.h"
#include "UninstallData.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace {

bool StartsWithText(const WideString& text, const WideString& prefix)
{
    return text.size() >= prefix.size() && TextEquals(text.substr(0, prefix.size()), prefix);
}

std::vector<WideString> SplitKey(const WideString& path)
{
    std::vector<WideString> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == WideString::npos) end = path.size();
        if (end > start) parts.push_back(WideUpperCase(path.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

WideString TrimBackslashes(const WideString& path)
{
    size_t b = path.find_first_not_of(u'\\');
    if (b == WideString::npos) return WideString();
    size_t e = path.find_last_not_of(u'\\');
    return path.substr(b, e - b + 1);
}

WideString ParentKey(const WideString& key)
{
    size_t cut = key.rfind(u'\\');
    return cut == WideString::npos ? WideString() : key.substr(0, cut);
}

// The folder above one with a trailing backslash; empty at the top.
WideString ParentFolder(const WideString& folder)
{
    WideString parent = DirPart(WithoutTrailingBackslash(folder));
    if (parent.size() >= folder.size()) return WideString();
    return parent;
}

bool IsOneOf(const WideString& name, std::initializer_list<const char16_t*> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char16_t* n) { return name == n; });
}

TRegRootKey KnownRoot(TRegRootKey root)
{
    // Any other value wrote below HKEY_CURRENT_USER (RootKeyHandle).
    return static_cast<uint8_t>(root) <= static_cast<uint8_t>(TRegRootKey::rrkCurrentConfig) ? root
                                                                                                : TRegRootKey::rrkCurrentUser;
}

// Class keys that hold the system's own registrations.
bool IsSystemClassKey(const WideString& name)
{
    return IsOneOf(name, {u"*", u"CLSID", u"INTERFACE", u"TYPELIB", u"APPID", u"DIRECTORY", u"FOLDER", u"DRIVE",
                          u"ALLFILESYSTEMOBJECTS", u"SYSTEMFILEASSOCIATIONS", u"MIME", u"PROTOCOLS", u"WOW6432NODE",
                          u"LOCAL SETTINGS", u"NETWORK", u"PRINTERS", u"UNKNOWN", u"APPLICATIONS", u"COMPONENT CATEGORIES",
                          u"EXEFILE", u"LNKFILE", u"TXTFILE", u"HTTP", u"HTTPS", u".EXE", u".LNK", u".TXT"});
}

bool IsProtectedClassKey(const std::vector<WideString>& parts)
{
    return parts.empty() || (parts.size() == 1 && IsSystemClassKey(parts[0]));
}

}  // namespace

bool IsRootFolder(const WideString& folder)
{
    WideString f = WithTrailingBackslash(folder);
    if (f.size() >= 3 && f[1] == u':' && f[2] == u'\\') return f.size() == 3;
    if (f.rfind(u"\\\\", 0) == 0) return SplitKey(f.substr(2)).size() <= 2;
    return true;  // not absolute
}

bool IsProtectedKey(TRegRootKey root, const WideString& subKey)
{
    std::vector<WideString> parts = SplitKey(subKey);
    root = KnownRoot(root);
    if (root == TRegRootKey::rrkClassesRoot) return IsProtectedClassKey(parts);
    if (root == TRegRootKey::rrkUsers) {
        // HKEY_USERS\<user>\... is that user's HKEY_CURRENT_USER.
        if (parts.size() <= 1) return true;
        parts.erase(parts.begin());
    }
    if (parts.size() <= 1) return true;  // Software, System, Environment, Control Panel, ...
    if (parts[0] != u"SOFTWARE") return parts.size() <= (parts[0] == u"SYSTEM" ? 3u : 2u);

    if (parts[1] == u"WOW6432NODE") {
        if (parts.size() == 2) return true;
        parts.erase(parts.begin() + 1);
        if (parts.size() <= 1) return true;
    }
    if (parts[1] == u"CLASSES") return IsProtectedClassKey({parts.begin() + 2, parts.end()});
    if (IsOneOf(parts[1], {u"MICROSOFT", u"POLICIES", u"CLIENTS", u"REGISTEREDAPPLICATIONS"})) {
        if (parts.size() <= 3) return true;
        // Windows' own keys down to CurrentVersion's children (Run, Uninstall, App Paths, ...).
        if (parts[1] == u"MICROSOFT" && IsOneOf(parts[2], {u"WINDOWS", u"WINDOWS NT"})) return parts.size() <= 5;
    }
    return false;
}

std::vector<WideString> DefaultProtectedFolders()
{
    std::vector<WideString> folders;
    auto add = [&](const WideString& f) {
        if (!Trim(f).empty()) folders.push_back(WithTrailingBackslash(f));
    };
    add(ProgramFilesDir);
    add(DesktopDir);
    add(CommonProgramsDir);
    // Desktop, programs, documents, startup, start menu, desktop folder, the
    // common ones, application data, Windows, system, Program Files and their
    // common and 32-bit forms, profile, fonts, pictures, music, videos,
    // favourites, recent, send-to, templates.
    for (int csidl : {0x00, 0x02, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x0D, 0x0E, 0x10, 0x14, 0x15, 0x16, 0x17, 0x18,
                      0x19, 0x1A, 0x1C, 0x1F, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E})
        add(ZoPlatform::SpecialFolderPath(csidl));
    // The folder that holds the profiles (C:\Users).
    if (WideString profile = ZoPlatform::SpecialFolderPath(0x28); !profile.empty()) add(DirPart(profile));
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "CommonProgramFiles", "SystemRoot",
                             "windir", "ProgramData", "PUBLIC", "USERPROFILE", "APPDATA", "LOCALAPPDATA"})
        add(ZoPlatform::GetEnv(name));
    add(ZoPlatform::TempPath());
    return folders;
}

TUninstallPlan TUninstallPlan::FromScript(const TSetupScript& script, const WideString& ownFile,
                                          const std::vector<WideString>& protectedFolders)
{
    TUninstallPlan plan;
    plan.InstallFolder = WithTrailingBackslash(InstallDir);

    for (const TSetupFile* f : *script.FileList) {
        WideString path = WithTrailingBackslash(TSetupfn::ExpandConstants(f->DestDir)) + f->SourceMask;
        if (TextEquals(path, ownFile)) continue;  // the running uninstaller goes last, on its own
        plan.Files.push_back(path);
    }
    for (const TSetupShortCut* s : *script.ShortCutList) {
        WideString saveDir = TSetupfn::ExpandConstants(s->SaveDir);
        plan.Shortcuts.push_back(WithTrailingBackslash(saveDir) + TSetupfn::ExpandConstants(s->Name) + u".lnk");
    }
    for (const char16_t* name : {UninstallScriptName, UninstallIconName})
        plan.DataFiles.push_back(plan.InstallFolder + name);

    // Registry: each value the installer wrote, then its key and the keys above
    // it that are the product's own.
    std::set<std::pair<uint8_t, WideString>> seenKeys;
    for (const TSetupReg* r : *script.RegList) {
        if (r->ValueType != TRegValueType::rvtString && r->ValueType != TRegValueType::rvtDWord) continue;  // wrote nothing
        TRegValueRef value{KnownRoot(r->RootKey), TrimBackslashes(TSetupfn::ExpandConstants(r->SubKey)),
                           TSetupfn::ExpandConstants(r->ValueName)};
        for (WideString key = value.SubKey; !key.empty() && !IsProtectedKey(value.Root, key); key = ParentKey(key))
            if (seenKeys.emplace(static_cast<uint8_t>(value.Root), WideUpperCase(key)).second)
                plan.Keys.push_back({value.Root, key});
        plan.Values.push_back(std::move(value));
    }
    auto depth = [](const WideString& k) { return std::count(k.begin(), k.end(), u'\\'); };
    std::stable_sort(plan.Keys.begin(), plan.Keys.end(),
                     [&](const TRegKeyRef& a, const TRegKeyRef& b) { return depth(a.SubKey) > depth(b.SubKey); });

    // Folders: those that hold a removed item, up to the install folder for what
    // lies inside it, otherwise up to the first folder of the system's own.
    std::vector<WideString> guarded;
    for (const WideString& p : protectedFolders) guarded.push_back(WideUpperCase(WithTrailingBackslash(p)));
    auto isProtected = [&](const WideString& folder) {
        return IsRootFolder(folder) ||
               std::find(guarded.begin(), guarded.end(), WideUpperCase(folder)) != guarded.end();
    };
    plan.MayRemoveInstallFolder = !isProtected(plan.InstallFolder);

    std::set<WideString> seenFolders;
    auto climb = [&](const WideString& item) {
        const bool inside = StartsWithText(item, plan.InstallFolder);
        for (WideString folder = DirPart(item); !folder.empty() && !isProtected(folder); folder = ParentFolder(folder)) {
            if (inside && folder.size() < plan.InstallFolder.size()) break;
            if (seenFolders.insert(WideUpperCase(folder)).second) plan.Folders.push_back(folder);
        }
    };
    for (const auto* list : {&plan.Files, &plan.Shortcuts, &plan.DataFiles})
        for (const WideString& item : *list) climb(item);
    climb(ownFile);
    // Deepest first; a folder's sub-folders are always longer than it is.
    std::stable_sort(plan.Folders.begin(), plan.Folders.end(),
                     [](const WideString& a, const WideString& b) { return a.size() > b.size(); });
    return plan;
}
