// The JSON form of persistent objects, over nlohmann-json.
#include <nlohmann/json.hpp>

#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"
#include "ZoXmlUtils.h"

using namespace zo_persist;

namespace {

void SaveJsonProperty(const TPropInfo& p, const TXmlPersistent& obj, TJsonObject& object, int context)
{
    switch (p.Kind) {
    case TPropKind::Method:
        return;
    case TPropKind::Other:
        RaiseUnsupportedKind(p);
    case TPropKind::Class: {
        TXmlPersistent* sub = p.GetObject ? p.GetObject(obj) : nullptr;
        if (!sub) return;
        TJsonObject child = TJsonObject::object();
        sub->SaveToJson(child, context);
        object[p.Name] = std::move(child);
        return;
    }
    default:
        break;
    }
    if (!p.Readable()) return;
    if (p.OmitWhenEmpty && p.Kind == TPropKind::WString && p.GetWStr(obj).empty()) return;
    switch (p.Kind) {
    case TPropKind::Float: object[p.Name] = p.GetFloat(obj); break;
    case TPropKind::String: object[p.Name] = p.GetStr(obj); break;
    case TPropKind::WString: object[p.Name] = ToUtf8(p.GetWStr(obj)); break;
    case TPropKind::Enumeration:
    case TPropKind::Set: object[p.Name] = OrdinalText(p, obj); break;
    default: object[p.Name] = p.GetOrd(obj); break;
    }
}

// A scalar member as text: strings as they are, numbers and booleans by their
// JSON text; none for null, objects and arrays.
std::optional<AnsiString> MemberText(const TJsonObject& member)
{
    if (member.is_string()) return member.get<AnsiString>();
    if (member.is_boolean()) return AnsiString(member.get<bool>() ? "True" : "False");
    if (member.is_number()) return member.dump();
    return std::nullopt;
}

void LoadJsonProperty(const TPropInfo& p, TXmlPersistent& obj, const TJsonObject& object, int context)
{
    switch (p.Kind) {
    case TPropKind::Method:
        return;
    case TPropKind::Other:
        RaiseUnsupportedKind(p);
    case TPropKind::Class: {
        TXmlPersistent* sub = p.GetObject ? p.GetObject(obj) : nullptr;
        auto it = object.find(p.Name);
        if (sub && it != object.end()) sub->LoadFromJson(*it, context);
        return;
    }
    default:
        break;
    }
    if (!p.Writable()) return;
    auto it = object.find(p.Name);
    if (it == object.end()) return;
    const TJsonObject& member = *it;
    switch (p.Kind) {
    case TPropKind::Float:
        if (member.is_number()) {
            p.SetFloat(obj, member.get<double>());
        } else if (member.is_string()) {
            if (auto v = TryStrToFloat(FromUtf8(member.get<AnsiString>()))) p.SetFloat(obj, *v);
        }
        return;
    case TPropKind::String:
        if (auto text = MemberText(member)) p.SetStr(obj, std::move(*text));
        return;
    case TPropKind::WString:
        if (auto text = MemberText(member)) p.SetWStr(obj, FromUtf8(*text));
        return;
    case TPropKind::Enumeration:
    case TPropKind::Set:
        if (auto text = MemberText(member)) LoadOrdinal(p, obj, *text);
        return;
    default:
        if (member.is_number_integer()) {
            if (member.is_number_unsigned() && member.get<uint64_t>() > uint64_t{INT64_MAX}) return;
            int64_t v = member.get<int64_t>();
            if (p.Kind == TPropKind::Int64 || (v >= INT32_MIN && v <= INT32_MAX)) p.SetOrd(obj, v);
        } else if (member.is_string()) {
            LoadOrdinal(p, obj, member.get_ref<const AnsiString&>());
        }
        return;
    }
}

void WriteJsonFile(const WideString& fileName, const TJsonObject& object)
{
    AnsiString text = object.dump(4, ' ', true, nlohmann::detail::error_handler_t::replace);
    TFileStream file(fileName, TFileStream::fmCreate);
    file.WriteString(text);
    file.Close();
}

}  // namespace

void TXmlPersistent::SaveToJson(TJsonObject& object, int context) const
{
    for (const TPropInfo& p : ClassInfo().Properties()) SaveJsonProperty(p, *this, object, context);
    if (auto* list = AsList(*this)) list->SaveItemsToJson(object, context);
}

void TXmlPersistent::LoadFromJson(const TJsonObject& object, int context)
{
    if (object.is_object())
        for (const TPropInfo& p : ClassInfo().Properties()) LoadJsonProperty(p, *this, object, context);
    if (auto* list = AsList(*this)) list->LoadItemsFromJson(object, context);
}

void TXmlPersistent::SaveToJsonFile(const WideString& fileName, int context) const
{
    TJsonObject object = TJsonObject::object();
    // A list's items come first in its file.
    if (AsList(*this)) object["Items"] = TJsonObject::array();
    SaveToJson(object, context);
    WriteJsonFile(fileName, object);
}

void TXmlObjectList::SaveItemsToJson(TJsonObject& object, int context) const
{
    TJsonObject items = TJsonObject::array();
    for (const auto& item : items_) {
        TJsonObject element = TJsonObject::object();
        item->SaveToJson(element, context);
        element["ClassName"] = item->ClassInfo().Name();
        items.push_back(std::move(element));
    }
    object["Items"] = std::move(items);
}

void TXmlObjectList::LoadItemsFromJson(const TJsonObject& object, int context)
{
    Clear();
    if (!object.is_object()) return;
    auto it = object.find("Items");
    if (it == object.end() || !it->is_array()) return;
    for (const TJsonObject& element : *it) {
        WideString className;
        if (element.is_object()) {
            auto cn = element.find("ClassName");
            if (cn != element.end() && cn->is_string()) className = FromUtf8(cn->get<AnsiString>());
        }
        std::unique_ptr<TXmlPersistent> item = CreateItem(className);
        if (!item) continue;
        item->LoadFromJson(element, context);
        Add(std::move(item));
    }
}
