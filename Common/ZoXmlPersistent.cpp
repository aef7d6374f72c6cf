// Object persistence over XML: the property walks, Assign, Clone, IsEqual and
// the persistent object list.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"
#include "ZoXmlUtils.h"

using namespace zo_persist;

namespace {
constexpr const char* kUnit = "Common/ZoXmlUtils";
}

// ---- Property tables ---------------------------------------------------------------

TEnumInfo::TEnumInfo(const char* typeName, std::initializer_list<const char*> names)
    : TypeName(typeName), Names(names), NameViews(names.begin(), names.end())
{
}

int TEnumInfo::IndexOf(std::string_view name) const
{
    for (size_t i = 0; i < NameViews.size(); ++i) {
        std::string_view n = NameViews[i];
        if (n.size() == name.size() && (SameBytes(n.data(), name.data(), n.size()) || XmlNameEquals(n, name)))
            return static_cast<int>(i);
    }
    return -1;
}

const char* TEnumInfo::NameOf(int64_t ordinal) const
{
    return ordinal >= 0 && static_cast<uint64_t>(ordinal) < Names.size() ? Names[static_cast<size_t>(ordinal)] : "";
}

const TEnumInfo& BooleanEnumInfo()
{
    ZO_LASTING(TEnumInfo, info, {"Boolean", {"False", "True"}});
    return info;
}

namespace zo_detail {

namespace {

template <class T>
const T& GetField(const TXmlPersistent& o, TFieldRef f)
{
    return FieldOf<T>(o, f);
}
template <class T>
void SetField(TXmlPersistent& o, TFieldRef f, T&& v)
{
    FieldOf<T>(o, f) = std::move(v);
}
void SetFloatField(TXmlPersistent& o, TFieldRef f, double v)
{
    FieldOf<double>(o, f) = v;
}
double GetFloatField(const TXmlPersistent& o, TFieldRef f)
{
    return FieldOf<double>(o, f);
}
WideString& RefWideField(TXmlPersistent& o, TFieldRef f)
{
    return FieldOf<WideString>(o, f);
}

TPropInfo NewProp(const char* name, TPropKind kind, const char* typeName)
{
    TPropInfo p;
    p.Name = name;
    p.Kind = kind;
    p.TypeName = typeName;
    return p;
}

}  // namespace

TPropInfo MakeWStrProp(const char* name, TFieldRef field)
{
    TPropInfo p = NewProp(name, TPropKind::WString, "WideString");
    p.GetWStr = {&GetField<WideString>, field};
    p.SetWStr = {&SetField<WideString>, field};
    p.RefWStr = {&RefWideField, field};
    return p;
}

TPropInfo MakeStrProp(const char* name, TFieldRef field)
{
    TPropInfo p = NewProp(name, TPropKind::String, "AnsiString");
    p.GetStr = {&GetField<AnsiString>, field};
    p.SetStr = {&SetField<AnsiString>, field};
    return p;
}

TPropInfo MakeFloatProp(const char* name, TFieldRef field)
{
    TPropInfo p = NewProp(name, TPropKind::Float, "Double");
    p.GetFloat = {&GetFloatField, field};
    p.SetFloat = {&SetFloatField, field};
    return p;
}

TPropInfo MakeOrdProp(const char* name, TPropKind kind, const char* typeName, const TEnumInfo* info,
                      int64_t (*get)(const TXmlPersistent&, TFieldRef),
                      void (*set)(TXmlPersistent&, TFieldRef, int64_t), TFieldRef field)
{
    TPropInfo p = NewProp(name, kind, typeName);
    p.Enum = info;
    p.GetOrd = {get, field};
    p.SetOrd = {set, field};
    return p;
}

TPropInfo MakeObjectProp(const char* name, TXmlPersistent* (*get)(const TXmlPersistent&, TFieldRef), TFieldRef field)
{
    TPropInfo p = NewProp(name, TPropKind::Class, "class");
    p.GetObject = {get, field};
    return p;
}

}  // namespace zo_detail

TClassInfo::TClassInfo(const char* name, const TClassInfo* parent, std::initializer_list<TPropInfo> ownProps, TFactory factory,
                       bool loadsByWalk)
    : name_(name), parent_(parent), factory_(factory), loadsByWalk_(loadsByWalk)
{
    if (parent_) props_.insert(props_.end(), parent_->props_.data(), parent_->props_.data() + parent_->props_.size());
    props_.insert(props_.end(), ownProps.begin(), ownProps.end());
    for (TPropInfo& p : props_) p.NameLength = static_cast<uint16_t>(std::strlen(p.Name));
    for (size_t i = 0; i < props_.size(); ++i)
        for (size_t k = 0; k < i; ++k)
            if (XmlNameEquals(props_[i].NameView(), props_[k].NameView())) distinctNames_ = false;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const
{
    for (const TPropInfo& p : props_)
        if (XmlNameEquals(p.NameView(), name)) return &p;
    return nullptr;
}

const void* TClassInfo::ExactTable() const
{
    static const char kNoTable = 0;
    const void* table = exactTable_.load(std::memory_order_acquire);
    if (!table) {
        const std::unique_ptr<TXmlPersistent> sample = Create();
        table = sample ? VirtualTableOf(*sample) : &kNoTable;
        exactTable_.store(table, std::memory_order_release);
    }
    return table;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const
{
    for (const TClassInfo* c = this; c; c = c->parent_)
        if (c == &other) return true;
    return false;
}

const TClassInfo& TXmlPersistent::StaticClassInfo()
{
    ZO_LASTING(TClassInfo, info, ("TXmlPersistent", nullptr, {}, nullptr, true));
    return info;
}

ZO_PUBLISHED_ABSTRACT(TXmlObjectList, TXmlPersistent)

// ---- Value conversions shared by the walks ----------------------------------------

namespace zo_persist {

void RaiseUnsupportedKind(const TPropInfo& p)
{
    AssertFailure(WideOf(p.TypeName), kUnit, __LINE__);
}

AnsiString SetToText(const TPropInfo& p, int64_t bits)
{
    AnsiString out;
    for (size_t i = 0; i < p.Enum->Names.size() && i < 32; ++i) {
        if (!(bits & (int64_t{1} << i))) continue;
        if (!out.empty()) out += ',';
        out += p.Enum->Names[i];
    }
    return out;
}

std::optional<int64_t> TextToSet(const TPropInfo& p, std::string_view text)
{
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    if (b < e && text[b] == '[' && text[e - 1] == ']') {
        ++b;
        --e;
    }
    int64_t bits = 0;
    while (b < e) {
        size_t comma = text.find(',', b);
        if (comma == std::string_view::npos || comma > e) comma = e;
        size_t s = b, t = comma;
        while (s < t && text[s] == ' ') ++s;
        while (t > s && text[t - 1] == ' ') --t;
        if (s < t) {
            int i = p.Enum->IndexOf(text.substr(s, t - s));
            if (i < 0 || i >= 32) return std::nullopt;
            bits |= int64_t{1} << i;
        }
        b = comma + 1;
    }
    return bits;
}

// Ordinal kinds from text: integer conversion, enumeration names, set names.
std::optional<int64_t> OrdinalOf(const TPropInfo& p, std::string_view text)
{
    switch (p.Kind) {
    case TPropKind::Enumeration: {
        if (text.empty()) return std::nullopt;
        int i = p.Enum->IndexOf(text);
        return i < 0 ? 0 : i;
    }
    case TPropKind::Set:
        return TextToSet(p, text);
    case TPropKind::Int64:
        if (auto v = FastInt(text)) return v;
        return TryStrToInt64(FromUtf8(AnsiString(text)));
    default:  // Integer, Char, WChar
        if (auto v = FastInt(text); v && *v >= INT32_MIN && *v <= INT32_MAX) return v;
        if (auto v32 = TryStrToInt(FromUtf8(AnsiString(text)))) return *v32;
        return std::nullopt;
    }
}

void LoadOrdinal(const TPropInfo& p, TXmlPersistent& obj, std::string_view text)
{
    if (auto v = OrdinalOf(p, text)) p.SetOrd(obj, *v);
}

AnsiString OrdinalText(const TPropInfo& p, const TXmlPersistent& obj)
{
    int64_t v = p.GetOrd(obj);
    switch (p.Kind) {
    case TPropKind::Enumeration: return p.Enum->NameOf(v);
    case TPropKind::Set: return SetToText(p, v);
    default: return std::to_string(v);
    }
}

WideString WideText(std::string_view text, bool isCData)
{
    size_t n = text.size();
    if (!isCData && n <= 256) {
        // ASCII without references, the usual text, widens in one pass.
        char16_t buffer[256];
        if (WidenAscii<true>(buffer, reinterpret_cast<const unsigned char*>(text.data()), n) == n)
            return WideString(buffer, n);
    }
    WideString out;
    if (isCData) {
        AppendUtf8(out, text.data(), n);
        return out;
    }
    if (DecodePlain(text, out)) return out;
    return XmlDecode(text);  // references to resolve
}

std::optional<double> FloatOf(std::string_view text)
{
    if (!text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '-' || text[0] == '.')) {
        // The rest goes to the one general reader (std::from_chars for doubles
        // would add 40 KB to each program for the same correctly rounded value).
        if (auto exact = ExactDecimal(text)) return exact;
    }
    return TryStrToFloat(FromUtf8(AnsiString(text)));
}

}  // namespace zo_persist

// ---- XML walks ---------------------------------------------------------------------

namespace {

void SaveProperty(const TPropInfo& p, const TXmlPersistent& obj, TXmlNode& node, int context)
{
    switch (p.Kind) {
    case TPropKind::Method:
        return;
    case TPropKind::Other:
        RaiseUnsupportedKind(p);
    case TPropKind::Class: {
        TXmlPersistent* sub = p.GetObject ? p.GetObject(obj) : nullptr;
        if (!sub) return;
        TXmlNode* child = node.FindChildEncoded(p.NameView());
        if (!child) child = node.AddChildEncoded(p.NameView());
        sub->SaveToNode(*child, context);
        return;
    }
    default:
        break;
    }
    if (!p.Readable()) return;
    if (p.OmitWhenEmpty && p.Kind == TPropKind::WString && p.GetWStr(obj).empty()) return;
    TXmlAttribute* a = node.Attributes.FindOrAddEncoded(p.NameView());
    switch (p.Kind) {
    case TPropKind::Float: a->SetFloat(p.GetFloat(obj)); break;
    case TPropKind::String: a->Value = XmlEncode(FromUtf8(p.GetStr(obj))); a->IsCData = false; break;
    case TPropKind::WString: a->Value = XmlEncode(p.GetWStr(obj)); a->IsCData = false; break;
    default: a->Value = OrdinalText(p, obj); a->IsCData = false; break;
    }
}

inline void LoadScalar(const TPropInfo& p, TXmlPersistent& obj, const TXmlAttribute& a)
{
    ReadScalar(p, a.Value, a.IsCData, TStoreSink{p, obj});
}

void SaveProperties(const TXmlPersistent& obj, TXmlNode& node, int context)
{
    for (const TPropInfo& p : obj.ClassInfo().Properties()) SaveProperty(p, obj, node, context);
}

}  // namespace

void TXmlPersistent::SaveToNode(TXmlNode& node, int context) const
{
    if (auto* list = AsList(*this)) return list->SaveToNode(node, context);
    SaveProperties(*this, node, context);
}

void TXmlPersistent::LoadFromNode(const TXmlNode& node, int context)
{
    const TClassInfo& info = ClassInfo();
    std::span<const TXmlAttribute> attrs = node.Attributes.All();
    size_t next = 0;
    bool inOrder = info.DistinctNames();
    for (const TPropInfo& p : info.Properties()) {
        if (p.Kind >= TPropKind::Class) {
            if (p.Kind == TPropKind::Other) RaiseUnsupportedKind(p);
            if (p.Kind == TPropKind::Class) {
                TXmlPersistent* sub = p.GetObject ? p.GetObject(*this) : nullptr;
                const TXmlNode* child = sub ? node.FindChildEncoded(p.NameView()) : nullptr;
                if (child) sub->LoadFromNode(*child, context);
            }
            continue;
        }
        if (!p.Writable()) continue;
        if (const TXmlAttribute* found = FindPropertyAttribute(attrs, p.NameView(), next, inOrder))
            LoadScalar(p, *this, *found);
    }
}

void TXmlPersistent::SaveToStream(TStream& stream, int context) const
{
    TXmlDocument doc;
    doc.Root->Name.assign(ClassInfo().Name());
    SaveToNode(*doc.Root, context);
    doc.SaveToStream(stream);
}

void TXmlPersistent::LoadFromStream(TStream& stream, int context)
{
    // The document refers to the bytes it parses: a memory stream's own (the
    // stream outlives this call), or a copy of any other stream's, declared
    // before the document so that it outlives the tree.
    TMemoryStream copy;
    const char* data = nullptr;
    size_t size = 0;
    auto* memory = stream.AsMemoryStream();
    if (memory) {
        int64_t end = memory->Size();
        int64_t pos = std::min(memory->Position(), end);
        data = reinterpret_cast<const char*>(memory->Memory()) + pos;
        size = static_cast<size_t>(end - pos);
    } else {
        int64_t remaining = stream.Size() - stream.Position();
        if (remaining > 0) {
            copy.SetSize(remaining);
            copy.SetSize(static_cast<int64_t>(stream.Read(copy.Memory(), static_cast<size_t>(remaining))));
        }
        data = reinterpret_cast<const char*>(copy.Memory());
        size = static_cast<size_t>(copy.Size());
    }
    // The written form goes straight into the objects; any other form, and any
    // error, is left to the tree, which gives the same result or raises.
    if (ClassInfo().LoadsByWalk(*this) && TXmlTreeAccess::LoadDirect(*this, data, size)) {
        if (memory) memory->SetPosition(memory->Size());
        return;
    }
    TXmlDocument doc;
    TXmlTreeAccess::ParseInPlace(doc, data, size);
    if (memory) memory->SetPosition(memory->Size());
    if (doc.Root) LoadFromNode(*doc.Root, context);
}

void TXmlPersistent::SaveToFile(const WideString& fileName, int context) const
{
    TZoFilefn::ForceFileDir(fileName);
    TFileStream file(fileName, TFileStream::fmCreate);
    SaveToStream(file, context);
    file.Close();
}

void TXmlPersistent::LoadFromFile(const WideString& fileName, int context)
{
    TFileStream file(fileName, TFileStream::fmOpenRead);
    LoadFromStream(file, context);
}

// ---- Names -----------------------------------------------------------------------

WideString TXmlPersistent::ClassName() const
{
    return WideOf(ClassInfo().Name());
}

// ---- Object list -------------------------------------------------------------------

TXmlPersistent* TXmlObjectList::Items(int index) const
{
    int i = index < 0 ? index + Count() : index;
    if (i < 0 || i >= Count()) RaiseListIndexError(index);
    return items_[static_cast<size_t>(i)].get();
}

TXmlPersistent* TXmlObjectList::Add(std::unique_ptr<TXmlPersistent> item)
{
    ZO_ASSERT(item != nullptr, kUnit);
    const TClassInfo* itemClass = ItemClass();
    if (itemClass && !item->ClassInfo().InheritsFrom(*itemClass))
        throw EConvertError(Concat({u"Cannot assign a ", item->ClassName(), u" to a ", ClassName()}));
    return items_.emplace_back(std::move(item)).get();
}

void TXmlObjectList::Delete(int index)
{
    int i = index < 0 ? index + Count() : index;
    if (i < 0 || i >= Count()) RaiseListIndexError(index);
    items_.erase(items_.begin() + i);
}

void TXmlObjectList::SaveToNode(TXmlNode& node, int context) const
{
    SaveProperties(*this, node, context);
    TXmlNode* itemsNode = node.FindChildEncoded("Items");
    if (!itemsNode) itemsNode = node.AddChildEncoded("Items");
    itemsNode->Nodes.Clear();
    for (const auto& item : items_) item->SaveToNode(*itemsNode->AddChildEncoded(item->ClassInfo().Name()), context);
}

void TXmlObjectList::LoadFromNode(const TXmlNode& node, int context)
{
    TXmlPersistent::LoadFromNode(node, context);
    Clear();
    const TXmlNode* container = node.FindChildEncoded("Items");
    if (!container) container = &node;
    items_.reserve(static_cast<size_t>(container->Nodes.Count()));
    // Item elements usually share one name: decode it once.
    const TXmlText* lastName = nullptr;
    WideString className;
    for (const auto& child : container->Nodes) {
        if (!lastName || *lastName != child->Name) {
            className = child->GetName();
            lastName = &child->Name;
        }
        std::unique_ptr<TXmlPersistent> item = CreateItem(className);
        if (!item) continue;
        item->LoadFromNode(*child, context);
        Add(std::move(item));
    }
}
