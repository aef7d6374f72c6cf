// Copying and comparing persistent objects, apart from the load and save
// walks: a program that only reads and writes them links none of this.
#include <cstring>

#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"
#include "ZoXmlUtils.h"

using namespace zo_persist;

namespace {
constexpr const char* kUnit = "Common/ZoXmlUtils";
}

namespace {

// Copies one property from a source property of the same name. Kinds that
// differ go through the text form, as a save and load would.
void AssignProperty(const TPropInfo& p, TXmlPersistent& obj, const TPropInfo& sp, const TXmlPersistent& src)
{
    if (sp.Kind == TPropKind::Other) RaiseUnsupportedKind(sp);
    if (sp.Kind == TPropKind::Method || sp.Kind == TPropKind::Class || !sp.Readable()) return;
    if (p.Kind == sp.Kind) {
        switch (p.Kind) {
        case TPropKind::Float: p.SetFloat(obj, sp.GetFloat(src)); return;
        case TPropKind::String: p.SetStr(obj, AnsiString(sp.GetStr(src))); return;
        case TPropKind::WString: p.SetWStr(obj, WideString(sp.GetWStr(src))); return;
        case TPropKind::Enumeration:
            if (p.Enum == sp.Enum) {
                p.SetOrd(obj, sp.GetOrd(src));
            } else {
                LoadOrdinal(p, obj, sp.Enum->NameOf(sp.GetOrd(src)));
            }
            return;
        case TPropKind::Set:
            if (p.Enum == sp.Enum) {
                p.SetOrd(obj, sp.GetOrd(src));
            } else if (auto bits = TextToSet(p, SetToText(sp, sp.GetOrd(src)))) {
                p.SetOrd(obj, *bits);
            }
            return;
        default: p.SetOrd(obj, sp.GetOrd(src)); return;
        }
    }
    // Different kinds: through the text form.
    TXmlAttribute a;
    switch (sp.Kind) {
    case TPropKind::Float: a.SetFloat(sp.GetFloat(src)); break;
    case TPropKind::String: a.Value = XmlEncode(FromUtf8(sp.GetStr(src))); break;
    case TPropKind::WString: a.Value = XmlEncode(sp.GetWStr(src)); break;
    default: a.Value = OrdinalText(sp, src); break;
    }
    ReadScalar(p, a.Value, a.IsCData, TStoreSink{p, obj});
}

void AssignProperties(TXmlPersistent& obj, const TXmlPersistent* source)
{
    if (!source) throw EConvertError(u"Cannot assign a nil to a " + obj.ClassName());
    if (source == &obj) return;
    const TClassInfo& sourceInfo = source->ClassInfo();
    for (const TPropInfo& p : obj.ClassInfo().Properties()) {
        if (p.Kind == TPropKind::Other) RaiseUnsupportedKind(p);
        if (p.Kind == TPropKind::Method) continue;
        if (p.Kind != TPropKind::Class && !p.Writable()) continue;
        const TPropInfo* sp = sourceInfo.FindProperty(p.NameView());
        if (!sp) continue;
        if (p.Kind == TPropKind::Class) {
            if (sp->Kind != TPropKind::Class) continue;
            TXmlPersistent* sub = p.GetObject(obj);
            TXmlPersistent* sourceSub = sp->GetObject(*source);
            if (sub && sourceSub) sub->Assign(sourceSub);
            continue;
        }
        AssignProperty(p, obj, *sp, *source);
    }
}

bool PropertiesEqual(const TXmlPersistent& obj, const TXmlPersistent* other)
{
    if (!other || &other->ClassInfo() != &obj.ClassInfo()) return false;
    for (const TPropInfo& p : obj.ClassInfo().Properties()) {
        if (p.Kind == TPropKind::Other) RaiseUnsupportedKind(p);
        if (p.Kind == TPropKind::Method) continue;
        if (p.Kind == TPropKind::Class) {
            TXmlPersistent* a = p.GetObject(obj);
            TXmlPersistent* b = p.GetObject(*other);
            if (a && b && !a->IsEqual(b)) return false;
            continue;
        }
        if (!p.Writable() || !p.Readable()) continue;
        switch (p.Kind) {
        case TPropKind::Float:
            if (p.GetFloat(obj) != p.GetFloat(*other)) return false;
            break;
        case TPropKind::String:
            if (p.GetStr(obj) != p.GetStr(*other)) return false;
            break;
        case TPropKind::WString:
            if (p.GetWStr(obj) != p.GetWStr(*other)) return false;
            break;
        default:
            if (p.GetOrd(obj) != p.GetOrd(*other)) return false;
            break;
        }
    }
    return true;
}

}  // namespace

void TXmlPersistent::Assign(const TXmlPersistent* source)
{
    if (auto* list = AsList(*this)) return list->Assign(source);
    AssignProperties(*this, source);
}

std::unique_ptr<TXmlPersistent> TXmlPersistent::Clone() const
{
    std::unique_ptr<TXmlPersistent> copy = ClassInfo().Create();
    ZO_ASSERT(copy != nullptr, kUnit);
    copy->Assign(this);
    ZO_ASSERT(std::strcmp(copy->ClassInfo().Name(), ClassInfo().Name()) == 0, kUnit);
    return copy;
}

void TXmlPersistent::AssignByXml(const TXmlPersistent& source)
{
    TMemoryStream stream;
    source.SaveToStream(stream);
    stream.SetPosition(0);
    LoadFromStream(stream);
}

bool TXmlPersistent::IsEqual(const TXmlPersistent* other) const
{
    if (auto* list = AsList(*this)) return list->IsEqual(other);
    return PropertiesEqual(*this, other);
}

void TXmlObjectList::Assign(const TXmlPersistent* source)
{
    if (source == this) return;  // clearing first would lose every item
    AssignProperties(*this, source);
    const auto* list = source ? AsList(*source) : nullptr;
    if (!list) return;
    Clear();
    const TClassInfo* itemClass = ItemClass();
    for (const auto& item : list->items_) {
        if (!itemClass || item->ClassInfo().InheritsFrom(*itemClass)) {
            Add(item->Clone());
        } else if (auto converted = CreateItem(item->ClassName())) {
            // An item of a foreign class is copied by property names.
            converted->Assign(item.get());
            Add(std::move(converted));
        }
    }
}

bool TXmlObjectList::IsEqualItems(const TXmlObjectList* other) const
{
    if (!other || other->Count() != Count()) return false;
    for (size_t i = 0; i < items_.size(); ++i)
        if (!items_[i]->IsEqual(other->items_[i].get())) return false;
    return true;
}

bool TXmlObjectList::IsEqual(const TXmlPersistent* other) const
{
    // Items count too: two lists with different items are not equal.
    return PropertiesEqual(*this, other) && IsEqualItems(static_cast<const TXmlObjectList*>(other));
}

