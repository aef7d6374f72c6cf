#include "ProjectCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Texts.h"
#include "ZoSysUtils.h"

const char16_t* const kPathConstants[5] = {u"{pf}", u"{group}", u"{desktop}", u"{app}", u"{srcexe}"};

namespace {

constexpr const char* kRoot = "TSetupScript";

WideString W(std::string_view utf8) { return FromUtf8(AnsiString(utf8)); }

// Pieces appended into one message (GCC warns wrongly about some chains of +).
std::string Cat(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (std::string_view p : parts) out += p;
    return out;
}

// Letters that differ, for a "did you mean" among known names.
size_t Distance(std::string_view a, std::string_view b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t up = row[j];
            bool same = XmlNameEquals(a.substr(i - 1, 1), b.substr(j - 1, 1));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string Suggestion(std::string_view name, const std::vector<std::string_view>& known)
{
    std::string_view best;
    size_t bestDistance = 3;
    for (std::string_view k : known) {
        size_t d = Distance(name, k);
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    if (!best.empty()) return Cat({" (did you mean ", best, "?)"});
    std::string list;
    for (std::string_view k : known) list += (list.empty() ? "" : ", ") + std::string(k);
    return list.empty() ? "" : Cat({" (known: ", list, ")"});
}

bool IsBlank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

}  // namespace

EProjectError::EProjectError(const WideString& file, TXmlPosition at, const WideString& what)
    : EPackageError(FormatText(u"%s:%s:%s: %s", {file, IntToStr(at.Line), IntToStr(at.Column), what}))
{
}

// ---- Reading and the schema ---------------------------------------------------------

namespace {

class TSchemaCheck {
public:
    explicit TSchemaCheck(const TProjectDocument& doc) : doc_(doc) {}

    void Object(const TXmlNode& node, const TXmlPersistent& object) const
    {
        const TClassInfo& info = object.ClassInfo();
        Attributes(node, info);
        NoText(node);
        std::vector<std::string_view> children;
        for (const TPropInfo& p : info.Properties())
            if (p.Kind == TPropKind::Class) children.push_back(p.NameView());
        for (int i = 0; i < node.Nodes.Count(); ++i) {
            const TXmlNode& child = *node.Nodes.Items(i);
            const TPropInfo* p = info.FindProperty(child.Name);
            if (!p || p->Kind != TPropKind::Class)
                Fail(&child, Cat({"unknown element <", child.Name, "> in <", node.Name, ">", Suggestion(child.Name, children)}));
            for (int k = 0; k < i; ++k)
                if (XmlNameEquals(node.Nodes.Items(k)->Name, child.Name))
                    Fail(&child, Cat({"<", child.Name, "> appears twice in <", node.Name, ">"}));
            const TXmlPersistent* sub = p->GetObject(object);
            if (const auto* list = sub ? AsList(*sub) : nullptr)
                List(child, *list);
            else if (sub)
                Object(child, *sub);
        }
    }

private:
    [[noreturn]] void Fail(const TXmlNode* node, const std::string& what, std::string_view attribute = {}) const
    {
        const std::string name(attribute);
        doc_.Fail(node, attribute.empty() ? nullptr : name.c_str(), W(what));
    }

    void Attributes(const TXmlNode& node, const TClassInfo& info) const
    {
        std::vector<std::string_view> known;
        for (const TPropInfo& p : info.Properties())
            if (p.Kind < TPropKind::Class) known.push_back(p.NameView());
        auto all = node.Attributes.All();
        for (size_t i = 0; i < all.size(); ++i) {
            const TXmlAttribute& a = all[i];
            const TPropInfo* p = info.FindProperty(a.Name);
            if (!p || p->Kind >= TPropKind::Class)
                Fail(&node, Cat({"unknown attribute ", a.Name, " of <", node.Name, ">", Suggestion(a.Name, known)}), a.Name);
            for (size_t k = 0; k < i; ++k)
                if (XmlNameEquals(all[k].Name, a.Name))
                    Fail(&node, Cat({"the attribute ", a.Name, " appears twice in <", node.Name, ">"}), a.Name);
            if (auto problem = XmlValueProblem(*p, a.Value))
                Fail(&node, Cat({a.Name, "=\"", a.Value, "\" ", *problem}), a.Name);
        }
    }

    void NoText(const TXmlNode& node) const
    {
        if ((node.IsCData && !node.Value.empty()) || !IsBlank(node.Value))
            Fail(&node, Cat({"text inside <", node.Name, "> means nothing to a project; values are attributes"}));
    }

    void NoAttributes(const TXmlNode& node) const
    {
        if (node.Attributes.Empty()) return;
        const TXmlAttribute& a = node.Attributes.All()[0];
        Fail(&node, Cat({"unknown attribute ", a.Name, " of <", node.Name, ">"}), a.Name);
    }

    // A list holds one element Items, whose children are the items, each named by the item class.
    void List(const TXmlNode& node, const TXmlObjectList& list) const
    {
        NoAttributes(node);
        NoText(node);
        auto proto = const_cast<TXmlObjectList&>(list).CreateItem(u"");
        const std::string_view itemName = proto->ClassInfo().Name();
        const TXmlNode* items = nullptr;
        for (const TXmlNode* child : node.Nodes) {
            if (!XmlNameEquals(child->Name, "Items"))
                Fail(child, Cat({"<", node.Name, "> holds one element <Items>, and the <", itemName,
                                 "> elements inside it, not <", child->Name, ">"}));
            if (items) Fail(child, Cat({"<Items> appears twice in <", node.Name, ">"}));
            items = child;
        }
        if (!items) return;
        NoAttributes(*items);
        NoText(*items);
        for (const TXmlNode* item : items->Nodes) {
            if (!XmlNameEquals(item->Name, itemName))
                Fail(item, Cat({"<", node.Name, "> holds <", itemName, "> elements, not <", item->Name, ">"}));
            Object(*item, *proto);
        }
    }

    const TProjectDocument& doc_;
};

}  // namespace

TProjectDocument::TProjectDocument(const WideString& file) : file_(file)
{
    TMemoryStream bytes;
    try {
        bytes.LoadFromFile(file);
    } catch (const Exception& e) {
        throw EPackageError(file + u": cannot read the project: " + e.Message());
    }
    const auto* data = reinterpret_cast<const char*>(bytes.Memory());
    const size_t size = static_cast<size_t>(bytes.Size());
    try {
        doc_.LoadStrict(data, size);
    } catch (const EXmlException& e) {
        throw EProjectError(file, XmlPositionAt(std::string_view(data, size), e.Offset()), e.Message());
    }
    const TXmlNode& root = *doc_.Root;
    if (!XmlNameEquals(root.Name, kRoot))
        Fail(&root, nullptr,
             W(Cat({"not a zosetup project: its root element is <", root.Name, ">, a project's is <", kRoot, ">"})));
    TSetupScript prototype;
    TSchemaCheck(*this).Object(root, prototype);
}

void TProjectDocument::LoadInto(TSetupScript& script) const { script.LoadFromNode(*doc_.Root); }

const TXmlNode* TProjectDocument::Element(const char* name) const
{
    return doc_.Root->FindChildEncoded(name);
}

std::vector<const TXmlNode*> TProjectDocument::Items(const char* listName) const
{
    std::vector<const TXmlNode*> list;
    if (const TXmlNode* l = Element(listName))
        if (const TXmlNode* items = l->FindChildEncoded("Items"))
            for (const TXmlNode* item : items->Nodes) list.push_back(item);
    return list;
}

TXmlPosition TProjectDocument::PlaceOf(const TXmlText& text, int back) const
{
    size_t offset = doc_.OffsetOf(text);
    if (offset == EXmlException::npos) return {1, 1};
    return XmlPositionAt(doc_.Input(), offset >= static_cast<size_t>(back) ? offset - static_cast<size_t>(back) : 0);
}

void TProjectDocument::Fail(const TXmlNode* node, const char* attribute, const WideString& what) const
{
    if (!node) node = doc_.Root.get();
    if (attribute)
        for (const TXmlAttribute& a : node->Attributes.All())
            if (XmlNameEquals(a.Name, attribute)) throw EProjectError(file_, PlaceOf(a.Name, 0), what);
    throw EProjectError(file_, PlaceOf(node->Name, 1), what);  // at its '<'
}

// ---- Values of a loaded project ----------------------------------------------------

namespace {

bool IsHttpAddress(const WideString& url)
{
    const WideString lower = WideLowerCase(Trim(url));
    return (lower.starts_with(u"http://") && lower.size() > 7) || (lower.starts_with(u"https://") && lower.size() > 8);
}

// The installer fetches these with its HTTP client, which speaks nothing else.
void CheckAddresses(const TProjectDocument& doc, const TSetupBaseInfo& info)
{
    const TXmlNode* base = doc.Element("BaseInfo");
    if (!Trim(info.FullDownloadUrl).empty() && !IsHttpAddress(info.FullDownloadUrl))
        doc.Fail(base, "FullDownloadUrl",
                 FormatText(u"FullDownloadUrl \"%s\" is not an http:// or https:// address", {info.FullDownloadUrl}));
    if (info.GotoUrlMode == TGotoUrlMode::gumSilent && !Trim(info.GotoUrl).empty() && !IsHttpAddress(info.GotoUrl))
        doc.Fail(base, "GotoUrl",
                 FormatText(u"GotoUrl \"%s\" is not an http:// or https:// address, which the installer fetches "
                            u"itself (gumSilent); gumByBrowser hands it to the browser", {info.GotoUrl}));
}

// The installers speak the languages they have a table for.
void CheckLanguage(const TProjectDocument& doc, const TSetupBaseInfo& info)
{
    if (!IsLanguageSetting(info.Language))
        doc.Fail(doc.Element("BaseInfo"), "Language",
                 FormatText(u"Language=\"%s\" is no language of the installer: write zh-CN, en-US or auto",
                            {info.Language}));
}

// Values the installer expands: path constants only, and names Windows can hold.
void CheckInstalledNames(const TProjectDocument& doc, const TSetupScript& script)
{
    auto constants = [&doc](const TXmlNode* node, const char* attribute, const WideString& value) {
        if (WideString c = UnknownConstant(value); !c.empty())
            doc.Fail(node, attribute, FormatText(u"%s=\"%s\": %s is no path constant ({app}, {pf}, {group}, {desktop}, "
                                                 u"{srcexe}) and no variable of the project",
                                                 {FromUtf8(attribute), value, c}));
    };
    auto path = [&](const TXmlNode* node, const char* attribute, const WideString& value) {
        constants(node, attribute, value);
        if (WideString problem = InstallPathProblem(value); !problem.empty())
            doc.Fail(node, attribute, FormatText(u"%s=\"%s\": %s", {FromUtf8(attribute), value, problem}));
    };
    const TSetupBaseInfo& info = *script.BaseInfo;
    const TXmlNode* base = doc.Element("BaseInfo");
    path(base, "DefInstallPath", info.DefInstallPath);
    // Names of the build machine: variables only.
    const std::pair<const char*, const WideString*> buildSide[] = {
        {"IconFile", &info.IconFile}, {"LicenseFile", &info.LicenseFile},
        {"FullSetupFile", &info.FullSetupFile}, {"MiniSetupFile", &info.MiniSetupFile}};
    for (const auto& [attribute, value] : buildSide) constants(base, attribute, script.VarList->Expand(*value));
    auto each = [&doc](const char* list, const auto& items, auto check) {
        std::vector<const TXmlNode*> nodes = doc.Items(list);
        int i = 0;
        for (const auto* item : items) check(nodes[static_cast<size_t>(i++)], *item);
    };
    each("FileList", *script.FileList, [&](const TXmlNode* n, const TSetupFile& f) {
        path(n, "DestDir", f.DestDir);
        constants(n, "SourcePath", f.SourcePath);
        constants(n, "SourceMask", f.SourceMask);
    });
    each("RegList", *script.RegList, [&](const TXmlNode* n, const TSetupReg& r) {
        constants(n, "SubKey", r.SubKey);
        constants(n, "ValueName", r.ValueName);
        constants(n, "ValueData", r.ValueData);
    });
    each("ShortCutList", *script.ShortCutList, [&](const TXmlNode* n, const TSetupShortCut& s) {
        constants(n, "DstFile", s.DstFile);
        constants(n, "IconFile", s.IconFile);
        constants(n, "WorkDir", s.WorkDir);
        path(n, "SaveDir", s.SaveDir);
        constants(n, "Name", s.Name);
        if (Trim(s.Name).empty()) doc.Fail(n, "Name", u"the shortcut has no Name");
        if (WideString problem = WindowsNameProblem(s.Name + u".lnk"); !problem.empty())
            doc.Fail(n, "Name", FormatText(u"Name=\"%s\": the shortcut file %s.lnk %s", {s.Name, s.Name, problem}));
    });
    each("RunList", *script.RunList, [&](const TXmlNode* n, const TSetupRun& r) {
        constants(n, "FileName", r.FileName);
        constants(n, "Params", r.Params);
        constants(n, "WorkDir", r.WorkDir);
    });
}

// A user's installation runs without the administrator's rights: it could
// not write the machine's registry.
void CheckScope(const TProjectDocument& doc, const TSetupScript& script)
{
    if (script.BaseInfo->InstallScope != TInstallScope::isUser) return;
    std::vector<const TXmlNode*> nodes = doc.Items("RegList");
    for (int i = 0; i < script.RegList->Count(); ++i) {
        const TSetupReg& r = *script.RegList->Items(i);
        if (r.RootKey != TRegRootKey::rrkLocalMachine) continue;
        doc.Fail(nodes[static_cast<size_t>(i)], "RootKey",
                 FormatText(u"the registry entry HKEY_LOCAL_MACHINE\\%s value \"%s\" cannot be written by a per-user "
                            u"installation (InstallScope user): write it below rrkCurrentUser",
                            {r.SubKey, r.ValueName}));
    }
}

}  // namespace

void CheckProjectValues(const TProjectDocument& doc, const TSetupScript& script)
{
    CheckAddresses(doc, *script.BaseInfo);
    CheckLanguage(doc, *script.BaseInfo);
    CheckInstalledNames(doc, script);
    CheckScope(doc, script);
}

WideString VersionProblem(const WideString& version)
{
    if (version.empty()) return {};
    const WideString rule = u"is not a version: one to four numbers from 0 to 65535 between dots (1.2.0.3)";
    size_t parts = 0, from = 0;
    while (true) {
        size_t dot = version.find(u'.', from);
        WideString part = version.substr(from, dot == WideString::npos ? WideString::npos : dot - from);
        if (part.empty() || part.size() > 5 || ++parts > 4) return rule;
        uint32_t n = 0;
        for (char16_t c : part) {
            if (c < u'0' || c > u'9') return rule;
            n = n * 10 + (c - u'0');
        }
        if (n > 65535) return rule;
        if (dot == WideString::npos) return {};
        from = dot + 1;
    }
}

// ---- Names Windows can hold ---------------------------------------------------------

WideString WindowsNameProblem(const WideString& name)
{
    if (name.empty() || name == u"." || name == u"..") return {};
    for (char16_t c : name) {
        if (c < 0x20) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "holds the control character U+%04X", static_cast<unsigned>(c));
            return W(buf);
        }
        if (std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos)
            return FormatText(u"holds the character %s, which Windows does not allow in a name", {WideString(1, c)});
    }
    if (name.back() == u'.') return u"ends in a dot, which Windows drops";
    if (name.back() == u' ') return u"ends in a blank, which Windows drops";
    // A device name stays a device with any extension (NUL.txt is NUL).
    WideString base = WideUpperCase(name.substr(0, name.find(u'.')));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    bool device = base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL";
    if (base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")))
        device = (base[3] >= u'0' && base[3] <= u'9') || base[3] == u'\u00B9' || base[3] == u'\u00B2' || base[3] == u'\u00B3';
    if (device) return FormatText(u"is the name of the device %s, which Windows keeps for itself", {base});
    return {};
}

WideString InstallPathProblem(const WideString& path)
{
    WideString rest = path;
    std::replace(rest.begin(), rest.end(), u'/', u'\\');
    if (rest.size() >= 2 && rest[1] == u':' && ((rest[0] | 0x20) >= u'a' && (rest[0] | 0x20) <= u'z')) {
        rest.erase(0, 2);  // a drive
    } else if (rest.starts_with(u"\\\\")) {
        size_t server = rest.find(u'\\', 2);
        size_t share = server == WideString::npos ? server : rest.find(u'\\', server + 1);
        rest = share == WideString::npos ? WideString() : rest.substr(share);
    }
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(u'\\', start);
        if (end == WideString::npos) end = rest.size();
        WideString part = rest.substr(start, end - start);
        bool constant = std::any_of(std::begin(kPathConstants), std::end(kPathConstants),
                                    [&](const char16_t* c) { return TextEquals(part, c); });
        if (!constant)
            if (WideString problem = WindowsNameProblem(part); !problem.empty()) return u"\"" + part + u"\" " + problem;
        start = end + 1;
    }
    return {};
}

WideString UnknownConstant(const WideString& text)
{
    for (size_t open = text.find(u'{'); open != WideString::npos; open = text.find(u'{', open + 1)) {
        size_t i = open + 1;
        auto nameChar = [](char16_t c, bool first) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80 ||
                   (!first && c >= u'0' && c <= u'9');
        };
        if (i >= text.size() || !nameChar(text[i], true)) continue;
        while (i < text.size() && nameChar(text[i], false)) ++i;
        if (i >= text.size() || text[i] != u'}') continue;
        WideString placeholder = text.substr(open, i + 1 - open);
        bool known = std::any_of(std::begin(kPathConstants), std::end(kPathConstants),
                                 [&](const char16_t* c) { return TextEquals(placeholder, c); });
        if (!known) return placeholder;
    }
    return {};
}
