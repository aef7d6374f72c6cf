#include "UninstallPlan.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "SetupFn.h"
#include "UninstallData.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace {

// The items in order of descending key, those of equal key in their order: a
// stable sort through one sort of plain numbers (the library's stable sort
// adds its merge code for each item type).
template <class T, class Key>
void SortByDescendingKey(std::vector<T>& items, Key key)
{
    std::vector<uint64_t> order(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        order[i] = (uint64_t{~static_cast<uint32_t>(key(items[i]))} << 32) | static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end());
    std::vector<T> sorted;
    sorted.reserve(items.size());
    for (uint64_t o : order) sorted.push_back(std::move(items[static_cast<uint32_t>(o)]));
    items = std::move(sorted);
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

bool IsDeviceName(const WideString& segment)
{
    // Windows opens the device for such a name in any folder, with any extension.
    WideString base = segment.substr(0, segment.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    base = WideUpperCase(base);
    if (IsOneOf(base, {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})) return true;
    if (base.size() != 4 || (base.compare(0, 3, u"COM") != 0 && base.compare(0, 3, u"LPT") != 0)) return false;
    char16_t n = base[3];
    return (n >= u'0' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
}

// One step of a path that names the same thing for Windows as for us.
bool IsPlainName(const WideString& segment)
{
    if (segment.empty() || segment.back() == u'.' || segment.back() == u' ') return false;
    for (char16_t c : segment)
        if (c < 32 || WideString(u"<>:\"|?*").find(c) != WideString::npos) return false;
    return !IsDeviceName(segment);
}

// A value an application keeps, which an uninstaller may delete: class
// registrations and what lies below Software, but never the system's own
// settings (System, Security, Environment, Control Panel), policies, or the
// logon and loader settings of Windows NT\CurrentVersion (Winlogon, Image
// File Execution Options); only its compatibility flags are a product's.
bool IsApplicationValue(TRegRootKey root, const WideString& subKey)
{
    std::vector<WideString> parts = SplitKey(subKey);
    if (root == TRegRootKey::rrkClassesRoot) return !parts.empty();
    if (root == TRegRootKey::rrkUsers && !parts.empty()) parts.erase(parts.begin());  // HKEY_USERS\<user>\...
    else if (root != TRegRootKey::rrkCurrentUser && root != TRegRootKey::rrkLocalMachine) return false;
    size_t at = 1;
    if (parts.size() > at && parts[0] == u"SOFTWARE" && parts[at] == u"WOW6432NODE") ++at;
    if (parts.size() <= at || parts[0] != u"SOFTWARE") return false;
    if (parts[at] == u"POLICIES") return false;
    if (parts[at] != u"MICROSOFT" || parts.size() <= at + 2 || parts[at + 2] != u"CURRENTVERSION") return true;
    if (parts[at + 1] == u"WINDOWS NT") return parts.size() > at + 3 && parts[at + 3] == u"APPCOMPATFLAGS";
    return !(parts[at + 1] == u"WINDOWS" && parts.size() > at + 3 && parts[at + 3] == u"POLICIES");
}

}  // namespace

std::optional<WideString> NormalisePath(const WideString& path)
{
    WideString p = path;
    std::replace(p.begin(), p.end(), u'/', u'\\');
    const bool onDrive = p.size() >= 3 && ((p[0] >= u'A' && p[0] <= u'Z') || (p[0] >= u'a' && p[0] <= u'z')) &&
                         p[1] == u':' && p[2] == u'\\';
    if (!onDrive) return std::nullopt;  // relative, drive-relative, "\\?\", "\\.\", "\??\", shares
    std::vector<WideString> parts;
    for (size_t start = 3; start <= p.size();) {
        size_t end = std::min(p.find(u'\\', start), p.size());
        WideString segment = p.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == u".") continue;
        if (segment == u"..") {
            if (parts.empty()) return std::nullopt;  // above the root: not what anyone installed
            parts.pop_back();
            continue;
        }
        if (!IsPlainName(segment)) return std::nullopt;
        parts.push_back(std::move(segment));
    }
    WideString out{static_cast<char16_t>(p[0] >= u'a' ? p[0] - 32 : p[0]), u':', u'\\'};
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? u"\\" : u"") + parts[i];
    return out;
}

bool IsBelowFolder(const WideString& path, const WideString& folder)
{
    const WideString f = WithTrailingBackslash(folder);
    return path.size() > f.size() && TextEquals(path.substr(0, f.size()), f);
}

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
    add(UserProgramFilesDir);
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
                                          const std::vector<WideString>& protectedFolders, const TLongPathFn& longPath,
                                          bool dataTrusted)
{
    // Normalised, then in the long form, then normalised again: whatever the
    // long form brings back must pass the same checks.
    auto normal = [&](const WideString& path) -> std::optional<WideString> {
        std::optional<WideString> n = NormalisePath(path);
        if (!n || !longPath) return n;
        return NormalisePath(longPath(*n));
    };
    TUninstallPlan plan;
    plan.DataTrusted = dataTrusted;
    const std::optional<WideString> home = normal(InstallDir);
    const std::optional<WideString> own = normal(ownFile);
    plan.InstallFolder = WithTrailingBackslash(home ? *home : InstallDir);
    auto isOwn = [&](const std::optional<WideString>& path) { return path && own && TextEquals(*path, *own); };

    for (const TSetupFile* f : *script.FileList) {
        const WideString path = WithTrailingBackslash(TSetupfn::ExpandConstants(f->DestDir)) + f->SourceMask;
        const std::optional<WideString> n = normal(path);
        if (isOwn(n)) continue;  // the running uninstaller goes last, on its own
        if (n && home && IsBelowFolder(*n, *home))
            plan.Files.push_back(*n);
        else
            plan.Outside.push_back(path);
    }
    // Links go only from where the installer puts them: the desktop, the
    // start menu's programs (the user's own for a user's installation), the
    // install folder; from a data file others may have written, only from
    // the install folder.
    const std::optional<WideString> desktop = normal(DesktopDir),
                                    programs = normal(PerUserInstall ? UserProgramsDir : CommonProgramsDir);
    auto isLinkFolder = [&](const WideString& link) {
        if (home && IsBelowFolder(link, *home)) return true;
        if (!dataTrusted) return false;
        return (desktop && TextEquals(DirPart(link), WithTrailingBackslash(*desktop))) ||
               (programs && IsBelowFolder(link, *programs));
    };
    for (const TSetupShortCut* s : *script.ShortCutList) {
        const WideString name = TSetupfn::ExpandConstants(s->Name) + u".lnk";
        const WideString path = WithTrailingBackslash(TSetupfn::ExpandConstants(s->SaveDir)) + name;
        // The link's name is one name: it may not reach into another folder.
        const std::optional<WideString> n = normal(path);
        if (n && name.find_first_of(u"\\/") == WideString::npos && NamePart(*n) == name && isLinkFolder(*n))
            plan.Shortcuts.push_back(*n);
        else
            plan.Outside.push_back(path);
    }
    if (home)
        for (const char16_t* name : {UninstallScriptName, UninstallIconName})
            plan.DataFiles.push_back(WithTrailingBackslash(*home) + name);

    // Registry: each value the installer wrote, then its key and the keys above
    // it that are the product's own.
    std::set<std::pair<uint8_t, WideString>> seenKeys;
    for (const TSetupReg* r : *script.RegList) {
        if (r->ValueType != TRegValueType::rvtString && r->ValueType != TRegValueType::rvtDWord) continue;  // wrote nothing
        TRegValueRef value{KnownRoot(r->RootKey), TrimBackslashes(TSetupfn::ExpandConstants(r->SubKey)),
                           TSetupfn::ExpandConstants(r->ValueName)};
        // The product's own uninstall key goes whole, on its own (RemoveRegistration).
        if (!dataTrusted || !IsApplicationValue(value.Root, value.SubKey)) {
            plan.Outside.push_back(Concat({RootKeyName(value.Root), u"\\", value.SubKey, u"\\", value.Name}));
            continue;
        }
        for (WideString key = value.SubKey; !key.empty() && !IsProtectedKey(value.Root, key); key = ParentKey(key))
            if (seenKeys.emplace(static_cast<uint8_t>(value.Root), FoldCase(key)).second)
                plan.Keys.push_back({value.Root, key});
        plan.Values.push_back(std::move(value));
    }
    auto depth = [](const WideString& k) { return std::count(k.begin(), k.end(), u'\\'); };
    SortByDescendingKey(plan.Keys, [&](const TRegKeyRef& k) { return depth(k.SubKey); });

    // Folders: those that hold a removed item, up to the install folder for what
    // lies inside it, otherwise up to the first folder of the system's own.
    // Compared in the same normal form, so "C:\ZoDemo\..\Users\zo\" is the profile.
    std::vector<WideString> guarded;
    for (const WideString& p : protectedFolders)
        if (std::optional<WideString> n = normal(p)) guarded.push_back(FoldCase(WithTrailingBackslash(*n)));
    auto isProtected = [&](const WideString& folder) {
        return IsRootFolder(folder) || std::find(guarded.begin(), guarded.end(), FoldCase(folder)) != guarded.end();
    };
    plan.MayRemoveInstallFolder = home && !isProtected(plan.InstallFolder);

    std::set<WideString> seenFolders;
    auto climb = [&](const WideString& item) {
        const bool inside = home && IsBelowFolder(item, *home);
        for (WideString folder = DirPart(item); !folder.empty() && !isProtected(folder); folder = ParentFolder(folder)) {
            if (inside && folder.size() < plan.InstallFolder.size()) break;
            if (seenFolders.insert(FoldCase(folder)).second) plan.Folders.push_back(folder);
        }
    };
    for (const auto* list : {&plan.Files, &plan.Shortcuts, &plan.DataFiles})
        for (const WideString& item : *list) climb(item);
    if (own && home && IsBelowFolder(*own, *home)) climb(*own);
    // Deepest first; a folder's sub-folders are always longer than it is.
    SortByDescendingKey(plan.Folders, [](const WideString& f) { return f.size(); });
    return plan;
}
